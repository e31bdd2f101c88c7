// The chat client's full-screen terminal front end: one window at a time with its title, text,
// nick list pane and input line, a window bar with activity marks, the status bar and the menu
// bar. It shows what the core keeps and hands typed lines and choices back through frontend.h.
#pragma once

#include <functional>
#include <string>

#include "chat/core/command_line.h"
#include "chat/core/frontend.h"

namespace chat {

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
};

/// Starts the screen, installs the terminal front end, starts the chat (StartChat) and runs
/// the message loop until the program ends; the terminal is restored on the way out. Returns
/// the exit code, or -1 (with nothing started) when standard input or output is not a
/// terminal, so that the caller can use the headless front end instead.
int RunTerminalFrontend(const CommandLine& command_line, TerminalHooks hooks = {});

/// The callbacks of the terminal front end (for tests that drive the core without a screen).
Frontend MakeTerminalFrontend();

}  // namespace chat
