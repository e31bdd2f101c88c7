#include "chat/core/headless_frontend.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "chat/core/frame.h"
#include "chat/core/windows/display_text.h"
#include "chat/core/windows/window_print.h"
#include "chat/core/windows/window_table.h"
#include "platform/event_loop.h"

namespace chat {
namespace {

struct HeadlessState {
    std::string pending;      ///< input not yet ended by a line feed
    std::string next_window;  ///< window picked for the next line, empty for the active one
};

HeadlessState& State() {
    static HeadlessState state;
    return state;
}

// Window lines go out once per round of the loop, not one write per line: a flood prints a
// few hundred lines per read. The flush is a posted message, so it runs before the loop
// waits again.
constexpr platform::UINT kMsgFlushOutput = platform::WM_USER + 1;

void FlushSoon() {
    static platform::HWND window = 0;
    static bool posted = false;
    if (posted && platform::IsWindow(window)) return;
    if (window == 0 || !platform::IsWindow(window)) {
        window = platform::CreateWindow(
            [](platform::HWND, platform::UINT msg, platform::WPARAM, platform::LPARAM) {
                if (msg == kMsgFlushOutput) {
                    posted = false;
                    std::fflush(stdout);
                }
                return platform::LRESULT{0};
            });
    }
    posted = window != 0 && platform::PostMessage(window, kMsgFlushOutput);
    if (!posted) std::fflush(stdout);
}

void WriteOut(const std::string& name, const std::string& text) {
    // One write per line, made in storage kept from line to line (nothing here prints).
    static std::string line;
    line.clear();
    line += name;
    line += '\t';
    line += text;
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stdout);
    FlushSoon();
}

void Type(WindowId target, std::string_view text) {
    EnterLine(target, std::string(text));
}

WindowId WindowNamed(std::string_view name) {
    int slot = exists(name);
    return slot < 0 ? 0 : Windows().ch[slot].window;
}

void OnInput(int fd, short) {
    char buf[4096];
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
    HeadlessState& s = State();
    if (n <= 0) {
        platform::UnwatchFd(fd);
        if (!s.pending.empty()) {
            std::string last = std::move(s.pending);
            s.pending.clear();
            HeadlessInputLine(last);
        }
        RequestExit();
        return;
    }
    s.pending.append(buf, static_cast<size_t>(n));
    size_t start = 0;
    for (size_t lf; (lf = s.pending.find('\n', start)) != std::string::npos; start = lf + 1) {
        std::string_view line(s.pending.data() + start, lf - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        HeadlessInputLine(line);
    }
    s.pending.erase(0, start);
    // An input line is bounded like a typed one; the rest of an endless line is dropped.
    if (s.pending.size() > 65536) s.pending.clear();
}

}  // namespace

bool HeadlessInputLine(std::string_view line) {
    HeadlessState& s = State();
    // A Tab alone is the Tab key: the next nickname that wrote to us goes into the input line.
    if (line == "\t") {
        platform::PostMessage(Frame().hwndFrame, platform::WM_COMMAND, kCmdNickCycle);
        return true;
    }
    if (line.size() >= 3 && line.substr(0, 3) == "@@@") {
        line.remove_prefix(1);
    } else if (line.size() >= 2 && line.substr(0, 2) == "@@") {
        std::string_view rest = line.substr(2);
        size_t tab = rest.find('\t');
        std::string_view name = rest.substr(0, tab);
        WindowId target = WindowNamed(name);
        if (target == 0) {
            std::fprintf(stderr, "vesk32: no window named \"%.*s\"\n",
                         static_cast<int>(name.size()), name.data());
            return false;
        }
        if (tab == std::string_view::npos) {
            s.next_window = std::string(name);
        } else {
            s.next_window.clear();
            Type(target, rest.substr(tab + 1));
        }
        return true;
    }
    WindowId target = 0;
    if (!s.next_window.empty()) {
        target = WindowNamed(s.next_window);
        s.next_window.clear();
    }
    Type(target ? target : ActiveWindow(), line);
    return true;
}

Frontend MakeHeadlessFrontend() {
    Frontend fe;
    fe.windows_unseen = true;
    fe.print_line = [](WindowId, const std::string& name, int, const std::string& text) {
        WriteOut(name, text);
    };
    // Nick lists have no window line of their own: scripts and tests read them on standard
    // error as "nicklist<TAB>channel<TAB>entries separated by blanks".
    fe.nicklist_changed = [](WindowId id, const std::vector<NickEntry>& nicks) {
        const WindowRecord* r = RecordOf(id);
        if (!r) return;
        std::string line = "nicklist\t" + r->name + "\t";
        for (size_t i = 0; i < nicks.size(); ++i) {
            if (i) line += ' ';
            line += nicks[i].text;
        }
        line += '\n';
        std::fwrite(line.data(), 1, line.size(), stderr);
        std::fflush(stderr);
    };
    // The input line has no screen either: what the core puts there is reported on standard
    // error as "input<TAB>window<TAB>text".
    fe.set_input = [](WindowId id, const std::string& text) {
        const WindowRecord* r = RecordOf(id);
        std::fprintf(stderr, "input\t%s\t%s\n", r ? r->name.c_str() : "", text.c_str());
        std::fflush(stderr);
    };
    fe.message_box = [](const std::string& title, const std::string& text) {
        std::fprintf(stderr, "%s: %s\n", title.c_str(), text.c_str());
    };
    // Nobody waits at a dialog here: a question is shown and takes the safe answer.
    fe.ask = [](const std::string& title, const std::string& text) {
        std::fprintf(stderr, "%s: %s no\n", title.c_str(), text.c_str());
        return false;
    };
    // No dialog can be answered here: $? abandons its line (no prompt member), a file
    // dialog is cancelled, and nothing was ever copied or selected.
    fe.select_file = [](const std::string&, const std::string&,
                        const std::string&) -> std::optional<std::string> { return std::nullopt; };
    fe.clipboard = [] { return std::string(); };
    fe.selected_nicks = [](WindowId) { return std::vector<std::string>(); };
    fe.show_user_info = [](const std::string&,
                           const std::vector<std::pair<std::string, std::string>>& fields) {
        // The values came from the server: control codes never reach the output.
        for (const auto& [label, value] : fields)
            WriteOut("User Information", DisplayText(label) + " " + DisplayText(value));
    };
    fe.font_dialog = [](WindowId id) {
        const WindowRecord* r = RecordOf(id);
        if (!r) return;
        std::string text = "*** Font: " + r->font_name + ", " +
                           std::to_string(r->font_size < 0 ? -r->font_size : r->font_size) +
                           " points";
        if (r->font_weight >= 700) text += ", bold";
        Print(id, text, 1);
    };
    return fe;
}

bool StartHeadlessInput() {
    State() = HeadlessState{};
    return platform::WatchFd(STDIN_FILENO, POLLIN, OnInput);
}

}  // namespace chat
