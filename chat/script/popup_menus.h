// The user's popup menus: the status and channel text popup, the query popup, the nick-list
// popup and one more menu on the menu bar, each defined as lines of text whose items run
// command lines (with the query partner or the selected nicks as parameters).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "chat/core/frontend.h"
#include "chat/core/windows/line_list.h"

namespace chat {

/// Lines of one popup definition.
constexpr size_t kMaxPopupLines = 300;
/// Item identifiers: the first of each menu (each has 300).
constexpr int kPopupStatusFirst = 1224;
constexpr int kPopupQueryFirst = 1524;
constexpr int kPopupNickFirst = 1824;
constexpr int kPopupBarFirst = 2124;
/// Selected nicks a nick-list item passes on.
constexpr size_t kMaxPopupNicks = 100;

/// Which menu.
enum class PopupKind { kStatus, kQuery, kNickList, kBar };

/// One entry of a built menu: an item (id > 0), a separator, or a submenu (items non-empty).
struct PopupEntry {
    std::string text;
    int id = 0;
    bool separator = false;
    std::vector<PopupEntry> items;
};

/// A built menu with its title (the menu-bar menu's title; empty for the others).
struct PopupMenu {
    std::string title;
    std::vector<PopupEntry> items;
};

/// The four definition lists.
struct PopupState {
    LineList szmp, szqp, szlp, szbp;
};
PopupState& Popups();
/// A fresh state (tests).
void ResetPopups();

/// The definition list of a menu.
LineList& PopupList(PopupKind kind);
/// Builds a menu from definition lines, item identifiers counted from `first`; nothing when it
/// gets no items (separators do not count).
std::optional<PopupMenu> BuildPopup(const LineList& lines, int first);
/// The menu of a kind as the program shows it (its switch on, items present); the menu-bar
/// menu with its title ("User" unless the first line names it).
std::optional<PopupMenu> MakePopup(PopupKind kind);
/// The menu a right click or the context-menu key opens in a window (`nick_list`: on a
/// channel's nick list with nicks selected); nothing when it is off or empty (the caller beeps).
std::optional<PopupMenu> PopupForWindow(WindowId window, bool nick_list);
/// The command of the line behind an identifier; empty when there is none.
std::string ExtractPopupAlias(const LineList& list, int first, int id);
/// Runs the item with that identifier in a window (from the window's menu or the menu bar).
/// False when the identifier is not a popup item.
bool ProcessPopupMenu(WindowId window, int id, bool nick_list_focused = false);
/// Reads the four sections from the popups file; the lines past 300 are left out and said so.
bool readpopups(const std::string& path, WindowId report);
/// Writes the four sections to the popups file.
bool savepopups(const std::string& path);
/// The popups file: the one named in the settings, else the settings file.
std::string PopupsFile();
/// Installs /load -p and /save -p and the settings reader of the popups file.
void InstallPopups();

}  // namespace chat
