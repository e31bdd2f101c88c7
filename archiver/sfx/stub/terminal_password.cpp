#include "archiver/sfx/stub/terminal_password.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "archiver/engine/unzip/file_io.h"

namespace sfx {

namespace {
// Longer input is cut: no password of ours is that long, and the line stays bounded.
constexpr size_t kMaxPassword = 1024;
// The terminal whose echo is off while a question is asked, and its settings before.
volatile sig_atomic_t g_quiet_fd = -1;
termios g_saved{};
}  // namespace

void RestoreTerminal() {
    int fd = g_quiet_fd;
    if (fd >= 0) ::tcsetattr(fd, TCSAFLUSH, &g_saved);
}

std::optional<std::string> AskPasswordOnTerminal(const std::string& shown_member) {
    engine::UniqueFd tty(::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!tty) return std::nullopt;
    termios saved{};
    bool have_termios = ::tcgetattr(tty.get(), &saved) == 0;
    if (have_termios) {
        termios quiet = saved;
        quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
        quiet.c_lflag |= ECHONL;
        g_saved = saved;
        g_quiet_fd = tty.get();
        ::tcsetattr(tty.get(), TCSAFLUSH, &quiet);
    }
    std::string prompt = "Password for " + shown_member + ": ";
    engine::WriteFull(tty.get(), prompt.data(), prompt.size());
    std::string line;
    bool ended = false;
    for (;;) {
        char c;
        ssize_t n = ::read(tty.get(), &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ended = true;
            break;
        }
        if (c == '\n' || c == '\r') break;
        if (line.size() < kMaxPassword) line += c;
    }
    if (have_termios) {
        ::tcsetattr(tty.get(), TCSAFLUSH, &saved);
        g_quiet_fd = -1;
    }
    if (ended && line.empty()) return std::nullopt;
    return line;
}

}  // namespace sfx
