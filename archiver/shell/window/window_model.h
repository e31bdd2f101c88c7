// The manager window's pure parts: command numbers, the menu bar and its accelerators, the
// toolbar and when its buttons work, the status line, the sort commands and the
// recent-archives list. Nothing here draws or touches the terminal.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archiver/shell/listing.h"
#include "platform/tui/keys.h"
#include "platform/tui/menu_model.h"
#include "platform/tui/widgets.h"

namespace window {

/// Command numbers of menus, keys and toolbar buttons.
enum Command : int {
    kCmdNew = 3,
    kCmdOpen = 4,
    kCmdAbout = 5,
    kCmdAdd = 7,
    kCmdDelete = 8,
    kCmdExtract = 9,
    kCmdSortDate = 12,
    kCmdSortSize = 13,
    kCmdSortName = 14,
    kCmdSortOriginal = 15,
    kCmdFont = 19,
    kCmdSaveNow = 20,
    kCmdInstallDefaults = 21,
    kCmdPassword = 22,
    kCmdHelpOnHelp = 24,
    kCmdContents = 25,
    kCmdSearchHelp = 26,
    kCmdViewLastOutput = 29,
    kCmdSelectAll = 31,
    kCmdDeselectAll = 32,
    kCmdView = 34,
    kCmdInstall = 35,
    kCmdSortType = 41,
    kCmdClose = 43,
    kCmdConfiguration = 45,
    kCmdProgramLocations = 46,
    kCmdExit = 47,
    kCmdCheckOut = 63,
    kCmdMakeExe = 65,
    kCmdVirusScan = 66,
    kCmdReuseWindows = 76,
    kCmdHintsAndTips = 77,
    kCmdInformation = 83,
    kCmdSaveOnExit = 84,
    kCmdMoveArchive = 85,
    kCmdTest = 86,
    kCmdCopyArchive = 87,
    kCmdRenameArchive = 88,
    kCmdDeleteArchive = 89,
    kCmdFolders = 100,
    kCmdMail = 101,
    kCmdSortPacked = 103,
    kCmdSortRatio = 104,
    kCmdSortPath = 105,
    kCmdAlwaysOnTop = 106,
    kCmdFileManager = 107,
    kCmdTutorial = 108,
    kCmdWizard = 111,
    kCmdShortcut = 112,
    kCmdUuencode = 113,
    kCmdFavorites = 114,
    kCmdFaq = 116,
    kCmdRecentFirst = 120,
    kCmdRecentLast = 124,
};

/// Entries the recent-archives list keeps.
constexpr size_t kMaxRecent = kCmdRecentLast - kCmdRecentFirst + 1;

/// The status line while no archive is open.
extern const char* const kNoArchiveText;

/// What the menus show checked, enabled or listed.
struct MenuFlags {
    bool archive_open = false;
    bool save_on_exit = true;
    bool reuse_windows = true;
    int sort_command = kCmdSortOriginal;
    std::vector<std::string> recent;
};

/// The menu bar: File, Actions, Options and Help with every command, the recent archives at
/// the end of File.
std::vector<tui::MenuItem> BuildMenus(const MenuFlags& flags);

/// The command of an accelerator key, or 0.
int CommandForKey(const tui::Key& key);

/// The eight toolbar buttons; those from "add" on work only while an archive is open.
std::vector<tui::ToolButton> BuildToolbar(bool archive_open);

/// True for commands that act on the open archive (they do nothing without one).
bool NeedsArchive(int command);
/// True for commands that first check that the open archive still exists.
bool ChecksArchiveExists(int command);

/// The sort order of a sort command; false for other commands.
bool SortForCommand(int command, shell::SortOrder& order);
/// The sort command of an order.
int CommandForSort(shell::SortOrder order);

/// The status line: the selection and the totals, or kNoArchiveText when no archive is open.
/// `selected` are indexes into listing.rows.
std::string StatusText(bool archive_open, const shell::Listing& listing,
                       const std::vector<size_t>& selected, const shell::IntlFormat& intl = {});

/// A recent-archives menu item: "&%d %s" with the number from 1 and the path, a path longer
/// than 30 characters shortened to its start and its file name with "/..." between.
std::string RecentMenuText(size_t index, const std::string& path);
/// Puts a path first in the list (once), keeping at most kMaxRecent entries.
void AddRecent(std::vector<std::string>& list, const std::string& path);
/// Takes a path out of the list.
void RemoveRecent(std::vector<std::string>& list, const std::string& path);
/// Reads the [filemenu] list ("filemenu1", "filemenu2", ... up to the first empty key).
std::vector<std::string> ReadRecent(const std::string& settings_path);
/// Writes the [filemenu] list; false when the file could not be written.
bool WriteRecent(const std::string& settings_path, const std::vector<std::string>& list);

/// The keys of the window, one per line, for the Help and the README.
std::vector<std::string> KeyHelpLines();

}  // namespace window
