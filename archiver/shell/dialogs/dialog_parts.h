// The dialogs as data: each dialog built from its defaults and read back into its request,
// so that tests can drive them with keys and no terminal. dialogs.cpp runs them.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "archiver/shell/dialogs/dialogs.h"
#include "archiver/shell/dialogs/file_browser.h"
#include "platform/tui/dialog_model.h"

namespace dialogs {

// Control ids shared by the dialogs (plain ints: they are added to choice numbers).
constexpr int kIdNames = 100;
constexpr int kIdList = 101;
constexpr int kIdFolder = 102;
constexpr int kIdShowAll = 103;
constexpr int kIdAction0 = 110;       // + action
constexpr int kIdCompression0 = 120;  // + compression
constexpr int kIdRecurse = 130;
constexpr int kIdSaveInfo = 131;
constexpr int kIdShortNames = 132;
constexpr int kIdPasswordButton = 133;
constexpr int kIdVolumeSize = 134;
constexpr int kIdTarget = 140;
constexpr int kIdBrowse = 141;
constexpr int kIdSelected = 142;
constexpr int kIdAll = 143;
constexpr int kIdFiles = 144;
constexpr int kIdPattern = 145;
constexpr int kIdOverwrite = 146;
constexpr int kIdUseFolders = 147;
constexpr int kIdEntire = 148;
constexpr int kIdPassword = 160;
constexpr int kIdEncryption0 = 170;  // + cipher code
constexpr int kIdMask = 161;
constexpr int kIdSwitch0 = 200;  // + index of the configuration switch
constexpr int kIdFormat0 = 240;  // + kind code
constexpr int kIdField0 = 300;   // + index of a text field
constexpr int kIdUse0 = 340;     // + index of a text field's check box

/// List texts of the add actions and the compression choices.
extern const char* const kActionTexts[4];
extern const char* const kCompressionTexts[5];
/// Texts of the ciphers, in the order of their codes.
extern const char* const kEncryptionTexts[4];

/// An empty dialog with its title and inner size.
tui::Dialog NewDialog(const char* title, int rows, int cols);
/// Columns a button with this text takes ("[ " + label + " ]").
int ButtonWidth(const std::string& text);
/// The on_command of dialogs whose buttons all end them (the caller decides what follows).
bool ButtonsEnd(tui::Dialog& d, int id);
/// Names separated by any of `separators`; double quotes keep separators inside a name.
std::vector<std::string> SplitQuoted(const std::string& text, std::string_view separators);

/// A label's text shown as it is: control characters made visible and "&" doubled.
std::string Literal(const std::string& text);
/// The UTF-8 text of an edit control (empty when there is none).
std::string EditText(tui::Dialog& d, int id);
/// Sets an edit control's text.
void SetEditText(tui::Dialog& d, int id, const std::string& text);
/// True when a check box or radio is checked.
bool Checked(tui::Dialog& d, int id);

/// The browsing state of a dialog that lists a folder.
struct BrowseState {
    std::string folder;
    bool archives_only = false;
    std::vector<BrowserEntry> entries;
};
/// Re-reads the folder into the list control `kIdList` and the folder label `kIdFolder`.
void RefreshBrowser(tui::Dialog& d, BrowseState& state);

// ---- Add ----
struct AddState {
    BrowseState browse;
    std::string password;
    bool mask = true;
    formats::ArchiveKind kind = formats::kKindZip;
};
tui::Dialog MakeAddDialog(const AddDefaults& defaults, const std::shared_ptr<AddState>& state);
/// The request the dialog holds, or a message saying what is missing.
std::optional<AddRequest> ReadAddRequest(tui::Dialog& d, const AddState& state, std::string& error);

// ---- Extract ----
tui::Dialog MakeExtractDialog(const ExtractDefaults& defaults);
std::optional<ExtractRequest> ReadExtractRequest(tui::Dialog& d, std::string& error);

// ---- Delete ----
tui::Dialog MakeDeleteDialog(const DeleteDefaults& defaults);
std::optional<DeleteRequest> ReadDeleteRequest(tui::Dialog& d, std::string& error);

// ---- Password ----
tui::Dialog MakePasswordDialog(const PasswordDefaults& defaults);
/// The confirming prompt (masked always).
tui::Dialog MakeConfirmDialog();

// ---- Settings ----
tui::Dialog MakeConfigurationDialog(const shell::OptionRecord& record);
shell::OptionRecord ReadConfiguration(tui::Dialog& d, const shell::OptionRecord& record);
tui::Dialog MakeFoldersDialog(const FolderSettings& folders);
FolderSettings ReadFolders(tui::Dialog& d);
/// The first folder that is switched on (or, for the temporary folders, set) and is not an
/// existing folder; empty when all are.
std::string MissingFolder(const FolderSettings& folders);
tui::Dialog MakeProgramsDialog(const ProgramLocations& programs);
ProgramLocations ReadPrograms(tui::Dialog& d);

// ---- Open ----
tui::Dialog MakeOpenDialog(const std::string& title, const std::shared_ptr<BrowseState>& state);
/// The path the dialog chose (a typed name, else the file under the list's cursor).
std::optional<std::string> ReadOpenPath(tui::Dialog& d, const BrowseState& state);

/// The lines of the Information dialog.
std::string InformationText(const ArchiveInformation& info);

}  // namespace dialogs
