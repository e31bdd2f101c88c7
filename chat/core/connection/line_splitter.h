// Cuts the byte stream from the server into lines.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace chat {

/// Longest line passed on; the rest of a longer line is dropped up to its line feed.
constexpr size_t kMaxServerLine = 680;
/// A line with message tags ("@...") may have up to 8191 bytes of tags in front as well.
constexpr size_t kMaxTaggedLine = 8192 + kMaxServerLine;

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
        while (!bytes.empty()) {
            size_t lf = bytes.find('\n');
            if (line.empty() && !discarding && lf != std::string_view::npos) {
                // The usual case, a whole line inside this read ending in CR LF or LF: passed
                // on where it lies, without a copy.
                std::string_view whole = bytes.substr(0, lf);
                if (!whole.empty() && whole.back() == '\r') whole.remove_suffix(1);
                if (whole.size() < LimitFor(whole) && whole.find('\r') == std::string_view::npos) {
                    bytes.remove_prefix(lf + 1);
                    deliver(whole);
                    continue;
                }
            }
            std::string_view segment = bytes.substr(0, lf);
            bytes = lf == std::string_view::npos ? std::string_view() : bytes.substr(lf + 1);
            // Append the segment without its CRs, up to the line limit.
            while (!discarding && !segment.empty()) {
                size_t cr = segment.find('\r');
                std::string_view piece = segment.substr(0, cr);
                segment =
                    cr == std::string_view::npos ? std::string_view() : segment.substr(cr + 1);
                size_t limit = LimitFor(line.empty() ? piece : std::string_view(line));
                size_t room = limit - line.size();
                line.append(piece.substr(0, room));
                if (line.size() >= limit) {
                    deliver(std::string_view(line));
                    line.clear();
                    discarding = true;
                }
            }
            if (lf == std::string_view::npos) break;
            if (!discarding) deliver(std::string_view(line));
            line.clear();
            discarding = false;
        }
    }
    /// The limit of a line by how it starts.
    static size_t LimitFor(std::string_view start) {
        return !start.empty() && start.front() == '@' ? kMaxTaggedLine : kMaxServerLine;
    }
    /// Forgets a partial line (a new connection).
    void Reset() {
        line.clear();
        discarding = false;
    }
};

}  // namespace chat
