// Menus: the bar, nested popups, "&" letters and keyboard navigation. Pure logic; the screen
// draws the open path that MenuState keeps.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/tui/keys.h"

namespace tui {

/// A menu item: text with "&" before its letter ("&&" is a literal "&") and an optional
/// "\t" followed by the shortcut text; a command number, or a submenu.
struct MenuItem {
    std::string text;
    int command = 0;
    bool separator = false;
    bool enabled = true;
    bool checked = false;
    std::vector<MenuItem> items;  // non-empty: a submenu

    /// A separator line.
    static MenuItem Separator() {
        MenuItem m;
        m.separator = true;
        return m;
    }
};

/// The label without "&" marks and without the shortcut part.
std::string MenuLabel(const std::string& text);
/// The shortcut text after "\t", or empty.
std::string MenuShortcut(const std::string& text);
/// The lower-case letter after a single "&", or 0 when none.
char32_t MenuMnemonic(const std::string& text);
/// Column (in code points of MenuLabel) of the "&" letter, or -1.
int MnemonicColumn(const std::string& text);

/// What a key did to an open menu.
struct MenuResult {
    enum Kind { kUnhandled, kNone, kChanged, kCommand, kClosed } kind = kUnhandled;
    int command = 0;
};

/// The open path through a menu bar: path[0] is the bar menu, path[k] the item chosen at depth
/// k; depth 1 is the first popup.
struct MenuState {
    std::vector<MenuItem>* bar = nullptr;
    /// Empty when closed. path[0] = bar index; path[1..] = highlighted item in each open popup.
    std::vector<size_t> path;
    /// True while only the bar is highlighted (F10) and no popup is open.
    bool bar_only = false;

    bool IsOpen() const { return !path.empty(); }
    /// Opens bar menu `index` with its popup (first usable item highlighted).
    void Open(size_t index);
    /// F10: highlights the first bar menu without opening its popup.
    void OpenBar();
    void Close();
    /// Alt+letter on the bar: opens the menu whose "&" letter it is; false when none.
    bool OpenByLetter(char32_t letter);
    /// Navigation keys while open.
    MenuResult HandleKey(const Key& key);
    /// The items of the popup at depth `level` (1 = first popup); null when not open there.
    const std::vector<MenuItem>* PopupItems(size_t level) const;

private:
    MenuResult Activate(size_t level);
    void Step(size_t level, int dir);
};

/// Finds a command's item anywhere under `items` (for enabling and checking); null if absent.
MenuItem* FindMenuCommand(std::vector<MenuItem>& items, int command);

}  // namespace tui
