// The commands of a window's own menu ("&-" on the menu bar): placements, buffer, font,
// logging, beeping and closing, run on the window the menu belongs to.
#pragma once

#include <string_view>

#include "chat/core/frontend.h"
#include "chat/terminal/command_table.h"

namespace chat {

/// The facts a window's own menu shows (kind, logging and beeping check marks); false for a
/// window that is not open.
bool WindowMenuFactsOf(WindowId window, WindowMenuFacts& facts);
/// Font sizes the font dialog accepts, in points.
constexpr int kFontSizeMin = 5;
constexpr int kFontSizeMax = 30;

/// The font dialog of a window (its menu's "&Font" and /font): face, size, bold, and for
/// channels and queries the box that makes the choice the default of that kind.
void ShowFontDialog(WindowId window);
/// True (and the size in `points`) when the text is a whole number of points in the range.
bool FontSizeAllowed(std::string_view text, int& points);
/// Runs a window menu command on `window`; false when `command` is not one of them.
bool RunWindowMenuCommand(WindowId window, int command);

}  // namespace chat
