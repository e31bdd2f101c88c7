// Widgets drawn on the screen: menu bar and popups, list view, input field, dialogs and
// message boxes. Their logic lives in the *_model files; this is the drawing and the mouse.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/tui/dialog_model.h"
#include "platform/tui/line_editor.h"
#include "platform/tui/list_model.h"
#include "platform/tui/menu_model.h"
#include "platform/tui/screen.h"

namespace tui {

/// Colours and attributes of the widgets.
struct Theme {
    Style bar{kDefaultColor, kDefaultColor, kReverse};
    Style bar_letter{kDefaultColor, kDefaultColor, kReverse | kUnderline | kBold};
    Style selected{kDefaultColor, kDefaultColor, kBold};
    Style popup{};
    Style highlight{kDefaultColor, kDefaultColor, kReverse};
    Style disabled{kDefaultColor, kDefaultColor, kDim};
    Style dialog{};
    Style field{kDefaultColor, kDefaultColor, kUnderline};
    Style focused_button{kDefaultColor, kDefaultColor, kReverse | kBold};
};
Theme& GetTheme();

/// A menu bar on one screen row, with its open state; commands go to on_command.
struct MenuBar {
    std::vector<MenuItem> items;
    MenuState state;
    std::function<void(int command)> on_command;
    /// Row of the bar on screen.
    int row = 0;
};
/// F10, Alt+letter of a bar menu, navigation and letters while open, and clicks on the bar or
/// a popup. True when the key was the menu's.
bool MenuBarKey(MenuBar& bar, const Key& key);
/// The bar row.
void DrawMenuBar(MenuBar& bar, int width);
/// The open popups, drawn over everything else (call last).
void DrawMenuPopups(MenuBar& bar);

/// A row of push buttons (a toolbar): each with a label ("&" letter allowed), a command and an
/// enabled flag; a zero width hides a button.
struct ToolButton {
    std::string text;
    int command = 0;
    bool enabled = true;
    bool hidden = false;
};
struct Toolbar {
    std::vector<ToolButton> buttons;
    int row = 0;
};
/// The columns each visible button takes ("[ label ]" and one blank after it).
std::vector<ColumnSpan> LayoutToolbar(const Toolbar& bar);
void DrawToolbar(const Toolbar& bar, int width);
/// The command of an enabled button under a click on the toolbar's row, or 0.
int ToolbarClick(const Toolbar& bar, const Key& mouse);

/// A list view: columns, a header row, the model and a cell callback giving UTF-8 texts.
struct ListView {
    std::vector<ListColumn> columns;
    ListModel model;
    std::function<std::string(size_t row, size_t column)> cell;
    bool header = true;
    /// Column shown as the sort key (marked in the header), -1 for none.
    int sort_column = -1;
};
void DrawListView(ListView& view, const Rect& r, bool focused);
/// A click inside r: header clicks give the column through `header_column` (else -1).
ListResult ListViewClick(ListView& view, const Rect& r, const Key& mouse, int* header_column);

/// An input field of 1 or 2 rows; places the terminal cursor when focused.
void DrawEditor(LineEditor& editor, const Rect& r, bool focused, bool password = false,
                Style style = {});

/// The screen rectangle of a dialog (centred, clipped to the screen).
Rect DialogRect(const Dialog& d);
void DrawDialog(Dialog& d);
/// Runs a layer modally: pushes it, dispatches messages until `done` says so, and takes it off
/// again. False when WM_QUIT arrived first (it is queued again for the main loop) or when no
/// screen is running.
bool RunModal(Layer& layer, const std::function<bool()>& done);
/// Shows lines of text full-screen until Escape or Enter (help topics, operation logs); the
/// arrows, PageUp/PageDown and Home/End scroll.
void ShowTextViewer(const std::string& title, const std::vector<std::string>& lines);
/// Runs a dialog modally: it is drawn over the screen and takes every key until it ends,
/// while the event loop goes on dispatching (sockets, timers, resizes: a resize redraws the
/// dialog). F1 or its Help button calls on_help. WM_QUIT ends it with Cancel and is queued
/// again for the main loop. Returns the result.
int RunDialog(Dialog& d, const std::function<void()>& on_help = {});
/// A one-field dialog: a prompt above a field holding `value`, OK and Cancel. True (and the
/// new value) on OK.
bool InputBox(const std::string& title, const std::string& prompt, std::string& value,
              bool password = false, size_t limit = 256);
/// A message box (see MakeMessageBox); returns kIdOk, kIdCancel, kIdYes or kIdNo.
int ShowMessageBox(const std::string& title, const std::string& text, MessageButtons buttons,
                   const std::function<void()>& on_help = {});

}  // namespace tui
