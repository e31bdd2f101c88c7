// Cuts the byte stream from the server into lines.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace chat {

/// Longest line passed on; the rest of a longer line is dropped up to its line feed.
constexpr size_t kMaxServerLine = 680;

/// Assembles lines across reads: CR is dropped, LF ends a line (passed without its end; a bare
/// LF gives an empty line). A line reaching 680 characters is passed on at once and the rest
/// of it, up to the next LF, is dropped: text another user wrote must never be read as a
/// server line of its own.
struct LineSplitter {
    std::string line;
    bool discarding = false;

    /// Feeds bytes; `deliver(std::string_view)` runs for each complete line.
    template <typename Deliver>
    void Push(std::string_view bytes, Deliver&& deliver) {
        for (char c : bytes) {
            if (c == '\r') continue;
            if (c == '\n') {
                if (!discarding) deliver(std::string_view(line));
                line.clear();
                discarding = false;
                continue;
            }
            if (discarding) continue;
            line.push_back(c);
            if (line.size() >= kMaxServerLine) {
                deliver(std::string_view(line));
                line.clear();
                discarding = true;
            }
        }
    }
    /// Forgets a partial line (a new connection).
    void Reset() {
        line.clear();
        discarding = false;
    }
};

}  // namespace chat
