#include "archiver/shell/terminal_text.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>

#include "archiver/engine/unzip/shown_name.h"

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
    return engine::SpellControls(text, true);
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
