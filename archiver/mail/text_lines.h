// Walking mail text line by line: LF or CRLF line ends, a last line without one.
#pragma once

#include <string_view>

namespace mail {

/// The line that starts at `pos`, without its line end; `next` is set past the line end.
inline std::string_view LineAt(std::string_view text, size_t pos, size_t& next) {
    size_t end = text.find('\n', pos);
    next = end == text.npos ? text.size() : end + 1;
    std::string_view line = text.substr(pos, (end == text.npos ? text.size() : end) - pos);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line;
}

}  // namespace mail
