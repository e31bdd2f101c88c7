// IRC formatting codes (bold, colours, reverse, underline, italic, reset) turned into terminal
// attributes; every other control byte is shown as ^X, so nothing reaches the terminal raw.
#pragma once

#include <string_view>

#include "platform/tui/text.h"

namespace chat {

/// Terminal colour (0-15) of an IRC colour number (0-15; 16-98 fold onto them, 99 is none).
uint8_t IrcColour(int number);
/// Styled cells of a line of bytes (UTF-8 when valid, else Windows-1252) with its formatting
/// codes applied on top of `base`.
tui::StyledLine IrcLine(std::string_view bytes, tui::Style base = {});

}  // namespace chat
