#include "archiver/shell/terminal_text.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>

namespace shell {
namespace {

// Whether someone may be reading standard output as it comes: a terminal, or a pipe or socket
// to another program. A file or a device such as /dev/null is not watched line by line.
bool StdoutIsWatched() {
    static const bool watched = [] {
        struct stat st {};
        if (fstat(STDOUT_FILENO, &st) != 0) return true;
        return isatty(STDOUT_FILENO) != 0 || S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode);
    }();
    return watched;
}

// A file still sees progress this often when its lines are written in blocks.
constexpr std::chrono::milliseconds kUnwatchedFlush{100};

}  // namespace

std::string TerminalSafe(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '\r') continue;
        if (c == '\n' || c == '\t' || (c >= 0x20 && c != 0x7F && c != 0xC2)) {
            out += static_cast<char>(c);
            continue;
        }
        if (c == 0xC2) {
            // U+0080-U+009F in UTF-8: C2 followed by 80-9F. Some terminals take these as
            // control sequences (U+009B starts one), so they are spelt out like the C0 bytes.
            unsigned char next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
            if (next >= 0x80 && next <= 0x9F) {
                out += "M-^";
                out += static_cast<char>(next == 0x9F ? '?' : next - 0x80 + '@');
                ++i;
            } else {
                out += static_cast<char>(c);
            }
            continue;
        }
        out += '^';
        out += static_cast<char>(c == 0x7F ? '?' : c + '@');
    }
    return out;
}

void PrintLine(std::FILE* f, std::string_view text) {
    std::string s = TerminalSafe(text);
    s += '\n';
    // Lines held for standard output go first, so that the two streams keep their order
    // when both end up in one file.
    if (f != stdout) std::fflush(stdout);
    std::fwrite(s.data(), 1, s.size(), f);
    if (f != stdout || StdoutIsWatched()) {
        std::fflush(f);
        return;
    }
    // Thousands of "Extracting" lines into a file cost a system call each when flushed one
    // by one; in blocks they cost a few.
    using Clock = std::chrono::steady_clock;
    static std::atomic<Clock::rep> last_flush{Clock::now().time_since_epoch().count()};
    Clock::rep now = Clock::now().time_since_epoch().count();
    Clock::rep last = last_flush.load(std::memory_order_relaxed);
    if (Clock::duration(now - last) >= kUnwatchedFlush &&
        last_flush.compare_exchange_strong(last, now, std::memory_order_relaxed))
        std::fflush(f);
}

}  // namespace shell
