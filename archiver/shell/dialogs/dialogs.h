// The archive manager's dialogs: one function per dialog, each run modally on the screen and
// yielding a plain request (or the edited settings) that the main window hands on. Nothing
// here touches the engines; the requests say what to ask of them.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "archiver/engine/unzip/unzip.h"
#include "archiver/engine/zip/zip_run.h"
#include "archiver/formats/archive_kind.h"
#include "archiver/shell/settings.h"

namespace dialogs {

// ---- Add ----

/// Add actions (the operation numbers of the zip request; 4 is delete).
enum AddAction : int { kAddReplace = 0, kFreshen = 1, kMoveFiles = 2, kUpdateAdd = 3 };
/// Compression choices.
enum Compression : int { kMaximum = 0, kNormal = 1, kFast = 2, kSuperFast = 3, kNone = 4 };

/// The add choices kept in the settings and shown in the Add dialog.
struct AddChoices {
    int action = kAddReplace;
    int compression = kNormal;
    int spanning = 0;  ///< 0 no spanning; 1-4 the spanning choices (not available here)
    bool recurse = false;
    bool save_folder_info = false;
    bool short_names = false;  ///< store names in MS-DOS 8.3 form (off unless chosen)
    int encryption = zip::kEncryptTraditional;  ///< the cipher used with a password
};

/// What the Add dialog starts with.
struct AddDefaults {
    std::string archive;       ///< the archive being added to (for the title)
    std::string start_folder;  ///< folder listed first (the current or configured add folder)
    AddChoices choices;
    std::string password;       ///< the password set for the next add, if any
    bool password_mask = true;  ///< "PasswordMask"
    formats::ArchiveKind kind = formats::kKindZip;
};

/// An add request: names relative to `folder`, which the caller makes the current folder for
/// the run (names may be patterns).
struct AddRequest {
    AddChoices choices;
    std::string folder;
    std::vector<std::string> names;
    std::string password;       ///< empty: none
    bool password_mask = true;  ///< the masking choice, to be saved as "PasswordMask"
    uint64_t split_size = 0;    ///< volumes of at most this many bytes; 0 writes one file
};

/// The zip command record for an add request on `archive` (report and progress windows are
/// the caller's).
zip::ZipCommand MakeAddCommand(const AddRequest& request, const std::string& archive);

/// Runs the Add dialog.
std::optional<AddRequest> RunAddDialog(const AddDefaults& defaults);

// ---- Extract ----

/// Which members an extraction takes.
enum class ExtractWhich { kSelected, kAll, kPattern };

/// What the Extract dialog starts with.
struct ExtractDefaults {
    std::string archive;
    std::string target;            ///< the configured extract folder or the archive's folder
    bool has_selection = false;    ///< rows are selected in the listing
    bool default_all = false;      ///< "DefaultExtractAll"
    bool overwrite = false;        ///< option record
    bool use_folder_names = true;  ///< option record
    std::string password;
    bool password_mask = true;  ///< "PasswordMask"
    formats::ArchiveKind kind = formats::kKindZip;
};

/// An extract request.
struct ExtractRequest {
    std::string target;
    ExtractWhich which = ExtractWhich::kAll;
    std::vector<std::string> patterns;  ///< kPattern: the typed names or wildcards
    bool overwrite = false;
    bool use_folder_names = true;
    std::string password;
    bool password_mask = true;  ///< the masking choice, to be saved as "PasswordMask"
};

/// Splits a typed "Files:" text into names: blanks, commas and semicolons separate, double
/// quotes keep blanks inside a name; empty parts are dropped.
std::vector<std::string> SplitPatterns(const std::string& text);

/// The unzip command record for an extract request; `selected` are the selected rows' names
/// (used for kSelected).
engine::UnzipCommand MakeExtractCommand(const ExtractRequest& request, const std::string& archive,
                                        formats::ArchiveKind kind,
                                        const std::vector<std::string>& selected);

/// Runs the Extract dialog.
std::optional<ExtractRequest> RunExtractDialog(const ExtractDefaults& defaults);

// ---- Delete ----

enum class DeleteWhich { kEntireArchive, kSelected, kPattern };

/// What the Delete dialog starts with.
struct DeleteDefaults {
    std::string archive;
    bool has_selection = false;
};

/// A delete request; kEntireArchive means deleting the archive file (RunDeleteArchiveDialog).
struct DeleteRequest {
    DeleteWhich which = DeleteWhich::kSelected;
    std::vector<std::string> patterns;  ///< kPattern
};

/// The zip command record that deletes members: the selected rows' names or the patterns;
/// recurse is always on.
zip::ZipCommand MakeDeleteCommand(const DeleteRequest& request, const std::string& archive,
                                  const std::vector<std::string>& selected);

/// Runs the Delete dialog.
std::optional<DeleteRequest> RunDeleteDialog(const DeleteDefaults& defaults);

// ---- Password ----

/// What the Password dialog starts with.
struct PasswordDefaults {
    std::string password;
    bool mask = true;      ///< "PasswordMask"
    bool for_add = false;  ///< adding files: a masked password is typed twice
    formats::ArchiveKind kind = formats::kKindZip;
};

/// The password chosen (empty: none) and the masking choice (to be saved as "PasswordMask").
struct PasswordResult {
    std::string password;
    bool mask = true;
};

/// Runs the Password dialog (and its confirming prompt when adding).
std::optional<PasswordResult> RunPasswordDialog(const PasswordDefaults& defaults);

// ---- Settings dialogs ----

/// Runs the Configuration dialog over the option record; the edited record on OK.
std::optional<shell::OptionRecord> RunConfigurationDialog(const shell::OptionRecord& record);

/// The [directories] settings.
struct FolderSettings {
    bool use_open_folder = false;         ///< "zDefDir"
    std::string open_folder;              ///< "DefDir"
    bool use_extract_folder = false;      ///< "gzExtractTo"
    std::string extract_folder;           ///< "ExtractTo"
    bool use_add_folder = false;          ///< "gzAddDir"
    std::string add_folder;               ///< "AddDir"
    std::string temp_folder;              ///< "TempDir"
    std::string zip_temp_folder;          ///< "ZipTemp"
    bool zip_temp_removable_only = true;  ///< "ZipTempRemovableOnly"
};

/// Runs the Folders dialog.
std::optional<FolderSettings> RunFoldersDialog(const FolderSettings& folders);

/// The [Programs] settings that mean something here.
struct ProgramLocations {
    std::string lha;              ///< "lha"
    std::string arj;              ///< "arj"
    std::string arc;              ///< "arc"
    std::string scan;             ///< "scan"
    std::string scan_parameters;  ///< "scanp"
    std::string viewer;           ///< "viewer"
    std::string vviewer;          ///< "vviewer": the viewer for the View command
};

/// Runs the Program Locations dialog.
std::optional<ProgramLocations> RunProgramLocationsDialog(const ProgramLocations& programs);

// ---- Archives: new, open, information and file operations ----

/// Runs the New Archive dialog from `start_folder`: the path of the archive to create
/// (".zip" added when the name has no extension). An existing file is offered for opening.
std::optional<std::string> RunNewArchiveDialog(const std::string& start_folder);

/// Runs the Open dialog from `start_folder`, listing archives of every kind; the chosen path.
std::optional<std::string> RunOpenDialog(const std::string& start_folder);

/// What the Information dialog shows.
struct ArchiveInformation {
    std::string path;
    formats::ArchiveKind kind = formats::kKindZip;
    uint64_t file_size = 0;
    size_t members = 0;
    uint64_t total_uncompressed = 0;  ///< shell::kUnknownSize when unknown
    uint64_t total_compressed = 0;
    bool encrypted = false;
    std::string comment;
};

/// Shows the Information dialog.
void RunInformationDialog(const ArchiveInformation& info);

/// Shows the operation log of the last run.
void RunViewLastOutput(const std::string& log);

/// Asks for a folder and moves the archive there; the new path, or nothing when cancelled or
/// failed (the failure has been shown).
std::optional<std::string> RunMoveArchiveDialog(const std::string& archive);
/// Asks for a path and copies the archive there; the copy's path.
std::optional<std::string> RunCopyArchiveDialog(const std::string& archive);
/// Asks for a new name and renames the archive; the new path.
std::optional<std::string> RunRenameArchiveDialog(const std::string& archive);
/// Asks and deletes the archive file; true when it was deleted.
bool RunDeleteArchiveDialog(const std::string& archive);

}  // namespace dialogs
