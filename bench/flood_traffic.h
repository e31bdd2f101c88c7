// What the chat flood benchmarks share: their pseudo-random sequence, the message text of a
// flood line (words, some in UTF-8 or bold), and the bare loop's reading and splitting.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace flood {

/// The next number of a xorshift sequence (the same traffic on every run).
inline uint64_t Next(uint64_t& s) {
    s ^= s << 13;
    s ^= s >> 7;
    s ^= s << 17;
    return s;
}

/// Ends the line begun at `out[start]` with words, cut so that with its CR LF it is `target`
/// bytes long.
inline void FinishLine(std::string& out, size_t start, size_t target, uint64_t& s) {
    static const char* const words[] = {"hello",
                                        "the",
                                        "build",
                                        "is",
                                        "green",
                                        "again",
                                        "did",
                                        "you",
                                        "see",
                                        "that",
                                        "patch",
                                        "lol",
                                        "ok",
                                        "thanks",
                                        "release",
                                        "tomorrow",
                                        "\xc3\xa9t\xc3\xa9",
                                        "\x02"
                                        "bold\x02",
                                        "why"};
    while (out.size() - start + 2 < target) {
        out += words[Next(s) % (sizeof words / sizeof *words)];
        out += ' ';
    }
    out.resize(start + target - 2);
    out += "\r\n";
}

/// The floor's work: reads `fd` to its end and hands each line (without its line feed) to
/// `on_line`, which returns false to stop. Returns the lines read.
template <typename OnLine>
size_t ReadLines(int fd, OnLine&& on_line) {
    static char buf[65536];
    std::string partial;  // a line cut by the end of a read
    size_t lines = 0;
    for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) {
        const char* p = buf;
        const char* end = buf + n;
        for (const char* lf; (lf = static_cast<const char*>(std::memchr(p, '\n', end - p)));) {
            std::string_view line(p, static_cast<size_t>(lf - p));
            if (!partial.empty()) {
                partial.append(line);
                line = partial;
            }
            ++lines;
            if (!on_line(line)) return lines;
            partial.clear();
            p = lf + 1;
        }
        partial.append(p, static_cast<size_t>(end - p));
    }
    return lines;
}

}  // namespace flood
