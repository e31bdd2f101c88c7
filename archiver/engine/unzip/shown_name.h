// Names from an archive on their way into a message: any byte may be in them, and a line feed
// or an escape sequence in a name must neither split a message line nor act on a terminal.
#pragma once

#include <string>
#include <string_view>

namespace engine {

/// The text with control characters spelt out: C0 bytes as ^X (^J for a line feed), DEL as
/// ^?, C1 characters in UTF-8 (U+0080-U+009F) as M-^X. With `keep_line_ends` a line feed and
/// a tab stay and a carriage return is dropped, for text whose lines are meant.
std::string SpellControls(std::string_view text, bool keep_line_ends);

/// A member name, or a path made from one, as a message shows it: on one line, every control
/// character spelt out.
inline std::string ShownName(std::string_view name) {
    return SpellControls(name, false);
}

}  // namespace engine
