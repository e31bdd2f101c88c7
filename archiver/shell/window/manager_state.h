// The manager window's state and the routines its command files share: opening and closing
// archives, running the engines with their questions, and the status line.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "archiver/engine/unzip/unzip.h"
#include "archiver/engine/zip/zip_run.h"
#include "archiver/formats/archive_kind.h"
#include "archiver/shell/command_request.h"
#include "archiver/shell/listing.h"
#include "archiver/shell/mail_attachments.h"
#include "archiver/shell/options_record.h"
#include "archiver/shell/settings.h"
#include "archiver/shell/single_file_listing.h"
#include "archiver/shell/window/view_folder.h"
#include "archiver/shell/window/window_model.h"
#include "platform/event_loop.h"
#include "platform/tui/widgets.h"

namespace window {

/// The one main window of the process.
struct Manager {
    std::string settings_path;
    shell::IntlFormat intl;
    shell::Settings cfg;

    // The open archive.
    bool open = false;
    std::string archive;
    formats::ArchiveKind kind = formats::kKindZip;
    shell::Listing listing;
    shell::SingleFileFacts facts;
    shell::SortOrder sort = shell::SortOrder::kOriginal;
    /// The archive a mail file carries, decoded while it is open, and the mail file's path.
    std::optional<shell::DecodedArchive> decoded;
    std::string decoded_from;

    // The screen.
    tui::MenuBar menu;
    std::vector<tui::MenuItem> menu_items;
    tui::Toolbar tools;
    tui::ListView list;
    tui::Layer layer;
    platform::HWND hwnd = 0;
    platform::HWND meter_hwnd = 0;

    // A run in progress.
    bool busy = false;
    bool meter_visible = false;
    uint32_t meter_range = 100;
    uint32_t meter_position = 0;
    std::string run_status;           ///< the engine's status line while busy
    std::string message;              ///< a note shown in the status line until the next key
    std::vector<std::string> output;  ///< the operation log of the last run
    bool warnings = false;

    /// Exit status of the command line the program was started with (0 without one).
    int exit_status = 0;

    /// The password for the next add or extract (empty: none).
    std::string password;

    ViewFolder view;

    /// The wizard's page covers the window (the window draws nothing of its own meanwhile).
    bool wizard = false;
};

/// The process's manager.
Manager& App();

/// Rebuilds the menus and toolbar after a change of state.
void RefreshChrome();
/// Shows a message box with the program's title.
int Say(const std::string& text, tui::MessageButtons buttons = tui::MessageButtons::kOk);

/// Opens (or re-reads) an archive; a path that does not exist yet opens as a new, empty
/// archive when `may_be_new` is set. False when it could not be opened (said already).
bool OpenArchive(const std::string& path, bool may_be_new = false);
/// True when the open archive is the one a mail file carries: it is read, never changed.
bool OpenFromMail();
/// Re-reads the open archive after a change; closes it when it has gone.
void ReloadArchive();
/// Closes the open archive, first asking about viewed files that were changed; false when
/// the user chose to keep it open.
bool CloseArchive(bool ask = true);

/// The listing's row indexes that are selected (the cursor row when none is).
std::vector<size_t> SelectedRows(bool cursor_when_none);
/// The names of those rows as stored in the archive.
std::vector<std::string> SelectedNames(bool cursor_when_none);
/// Re-sorts the listing, keeping the cursor and the selection on their rows.
void ApplySort(shell::SortOrder order);

/// An unzip command record for the open archive: its kind, where its members start, and
/// the password when one is set; the caller adds the target and the selection.
engine::UnzipCommand BaseUnzipCommand();
/// Runs UNZIP with the window's questions; false when the engine was busy. The meter counts
/// `total` bytes.
bool RunUnzip(engine::UnzipCommand& cmd, uint64_t total);
/// Runs ZIP with the window's questions; false when the engine was busy.
bool RunZip(zip::ZipCommand& cmd);
/// Asks whether to stop the run in progress; true to stop.
bool AskStop();

/// Sets the listing's columns (Ratio and Packed only while the options show them).
void SetupColumns();

/// Replaces the operation log with the lines of a program's output.
void SetOutputText(const std::string& text);

/// Asks for the password before encrypted members are read, when none is set; false when
/// the user cancelled.
bool EnsurePassword(bool for_add);
/// View: the selected member (or the cursor's) extracted privately and shown.
void View();
/// Virus Scan: every member extracted into a private folder and the scanner run over it.
void VirusScan();
/// CheckOut: the archive extracted into a folder of its own and a group of launchers.
void CheckOut();
/// This program's own path (launchers start it).
std::string OwnProgramPath();

/// Runs one command of the menus, keys or toolbar.
void RunCommand(int command);
/// The action of a double click or Enter on a row.
void RowAction();
/// Opens the archive of a command line (or a hand-over) and runs its command inside the
/// window. Returns the exit status the headless run of the same line would give: 2 for a
/// line that did not parse, 1 when the archive could not be opened for a command or the
/// engine was busy, else the engine's result (0 for a line without a command).
int RunRequest(const shell::CommandRequest& request, const std::string& archive);

}  // namespace window
