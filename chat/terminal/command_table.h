// The chat client's menus and keyboard commands as the terminal offers them: the menu bar with
// the frame's command numbers, and the keys that stand for commands.
#pragma once

#include <string>
#include <vector>

#include "chat/core/frame.h"
#include "chat/core/frontend.h"
#include "platform/tui/keys.h"
#include "platform/tui/menu_model.h"

namespace chat {

/// Commands of a window's own menu (the "&-" menu of the active window).
enum WindowMenuCommand : int {
    kCmdPlaceForget = 200,
    kCmdBufferClear = 201,
    kCmdBufferSave = 202,
    kCmdLogging = 203,
    kCmdPlaceReset = 204,
    kCmdPlaceRemember = 205,
    kCmdFont = 206,
    kCmdBeeping = 207,
    kCmdCloseWindow = 0xF060,  ///< the close command every window's menu ends with
};

/// What a window's own menu depends on.
struct WindowMenuFacts {
    int kind = kKindStatus;
    bool logging = false;
    bool beeping = false;
};

/// The active window's own menu ("&-", Alt+-): placement, buffer, font, logging and beeping
/// items as the window's kind allows, then a separator and "&Close".
tui::MenuItem WindowMenu(const WindowMenuFacts& facts);

/// The menu bar: the active window's own menu (when `window` is given), File, Tools, DCC,
/// Window (with an entry per open window) and Help.
/// The File menu's first item follows the connection: "&Cancel Connect" while connecting,
/// "Dis&connect" while connected.
std::vector<tui::MenuItem> ChatMenus(const std::vector<WindowSummary>& windows, WindowId active,
                                     const WindowMenuFacts* window = nullptr,
                                     LinkState link = LinkState::kIdle);

/// The command a key stands for (the accelerator table), or 0. Keys that only make sense
/// while the input line is empty (plain Home/End) are left to the caller.
int CommandForKey(const tui::Key& key);

/// Function keys F1-F12 as the alias names their handlers look for: "/F1 ", with Shift
/// "/sF1 ", with Ctrl "/cF1 "; empty for other keys.
std::string FunctionKeyAlias(const tui::Key& key);

/// Pasted text as the lines it runs as: each non-empty line on its own, a line longer than
/// `limit` characters in pieces of that size (UTF-8 out, counted in code points).
std::vector<std::string> PastedLines(const std::u32string& text, size_t limit);

}  // namespace chat
