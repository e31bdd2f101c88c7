// Printing into chat windows: wrapping into display lines, highlights, activity marks, beeps,
// logging, separators and the colour table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "chat/core/frontend.h"

namespace chat {

struct WindowRecord;

/// Prints one logical line in a window with a colour class (0-5), using and then resetting the
/// hints tab, mw, beep and DoHL of the window table.
void Print(WindowId window, std::string_view text, int colour);
/// As Print; in the status window framed by separators.
void Pp(WindowId window, std::string_view text, int colour);
/// Prints the separator line (nothing when the separator text is empty).
void PrintSP(WindowId window, int colour);
/// Appends one display line (`indent` blanks, then `piece`) to a slot's buffer, trimming to the
/// scroll-back size.
void MakeNewLine(int slot, std::string_view piece, size_t indent, int colour);
/// Wraps the lines a window keeps unwrapped into its buffer and puts the view on the newest
/// line, as printing them one by one would have; every reader of the buffer or the scroll
/// position calls this first.
void WrapPending(WindowRecord& r);
/// In the status window, a separator unless the last line already was one.
void StatusGap();
/// Splits the highlight option into lower-case words (separators: blank and comma).
bool MatchesHighlight(std::string_view text);
/// The colour table as 0xRRGGBB.
uint32_t ColourOf(int index);

}  // namespace chat
