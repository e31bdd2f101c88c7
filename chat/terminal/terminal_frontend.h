// The chat client's full-screen terminal front end: one window at a time with its title, text,
// nick list pane and input line, a window bar with activity marks, the status bar and the menu
// bar. It shows what the core keeps and hands typed lines and choices back through frontend.h.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "chat/core/command_line.h"
#include "chat/core/frontend.h"
#include "chat/lists/url_catcher.h"
#include "platform/tui/menu_model.h"

namespace chat {

/// Popup item identifiers: the user's menus and the list windows' menus own this range.
constexpr int kFirstPopupItem = 1224;
constexpr int kEndPopupItems = kUrlPopupMarkAll + 1;

/// A popup menu of the user's as the terminal shows it.
struct PopupChoice {
    std::string title;
    std::vector<tui::MenuItem> items;
};

/// Ways for later layers to take over what the terminal cannot do alone.
struct TerminalHooks {
    /// Runs a frame command (menu item or accelerator). Empty: posted to the frame window as
    /// WM_COMMAND, whose procedure carries the command table.
    std::function<void(int command)> command;
    /// Runs the alias of a function key ("/F5 ", "/sF5 ", "/cF5 ") in a window; false when no
    /// such alias exists (F1 then opens the help contents).
    std::function<bool(WindowId window, const std::string& alias)> function_key;
    /// A double click in a window's text area (the window's click command).
    std::function<void(WindowId window)> text_double_click;
    /// A double click on a row of a channel's nick list: the row as shown, marks included.
    std::function<void(WindowId window, const std::string& row)> nick_double_click;
    /// The popup menu of a window, or of its nick list (`nick_list`: nicks are selected
    /// there); nothing when that menu is off or empty.
    std::function<std::optional<PopupChoice>(WindowId window, bool nick_list)> window_popup;
    /// The user's menu on the menu bar; nothing when it is off or empty.
    std::function<std::optional<PopupChoice>()> bar_popup;
    /// Runs a popup item in a window (`nick_list`: the menu was opened on the nick list).
    std::function<void(WindowId window, int id, bool nick_list)> popup_command;
    /// The finger entries of the Tools menu in place of "Fin&ger...": the item (or the item
    /// that cancels a running finger) and recent addresses; empty keeps the plain item.
    std::function<std::vector<tui::MenuItem>()> finger_menu;
};

/// Starts the screen, installs the terminal front end, starts the chat (StartChat) and runs
/// the message loop until the program ends; the terminal is restored on the way out. Returns
/// the exit code, or -1 (with nothing started) when standard input or output is not a
/// terminal, so that the caller can use the headless front end instead.
int RunTerminalFrontend(const CommandLine& command_line, TerminalHooks hooks = {});

/// The callbacks of the terminal front end (for tests that drive the core without a screen).
Frontend MakeTerminalFrontend();

}  // namespace chat
