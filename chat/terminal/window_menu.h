// The commands of a window's own menu ("&-" on the menu bar): placements, buffer, font,
// logging, beeping and closing, run on the window the menu belongs to.
#pragma once

#include "chat/core/frontend.h"
#include "chat/terminal/command_table.h"

namespace chat {

/// The facts a window's own menu shows (kind, logging and beeping check marks); false for a
/// window that is not open.
bool WindowMenuFactsOf(WindowId window, WindowMenuFacts& facts);
/// Runs a window menu command on `window`; false when `command` is not one of them.
bool RunWindowMenuCommand(WindowId window, int command);

}  // namespace chat
