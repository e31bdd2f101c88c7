// Text on its way to the terminal: names from an archive and engine messages quoting them may
// hold any byte, and a terminal acts on control characters.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace shell {

/// The text with control characters made visible: C0 bytes and DEL as ^X (^? for DEL), C1
/// characters (U+0080-U+009F) as M-^X; CR is dropped; LF and TAB stay.
std::string TerminalSafe(std::string_view text);

/// Writes TerminalSafe(text) and a line end. Flushes at once, except standard output going to
/// a file or device, which is flushed every 100 ms; any other stream flushes standard output
/// first, so lines keep their order.
void PrintLine(std::FILE* f, std::string_view text);

}  // namespace shell
