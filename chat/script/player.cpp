#include "chat/script/player.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>

#include "chat/core/options.h"
#include "chat/core/windows/window_print.h"
#include "chat/core/windows/window_table.h"
#include "chat/script/input_parser.h"
#include "chat/script/messaging.h"
#include "chat/script/script_state.h"
#include "chat/script/sounds.h"

namespace chat {
namespace {

// Characters of a line the player sends (one input line).
constexpr size_t kPlayLineLimit = 699;
// Lines a random or numbered request may skip to reach its line.
constexpr int64_t kMaxPickLine = 1000000;

platform::LRESULT PlayProc(platform::HWND, platform::UINT msg, platform::WPARAM wparam,
                           platform::LPARAM) {
    if (msg == platform::WM_TIMER && wparam == kTimerPlay) PlayTick();
    return 0;
}

platform::HWND PlayWindow() {
    static platform::HWND window = 0;
    if (!platform::IsWindow(window)) window = platform::CreateWindow(PlayProc);
    return window;
}

uint64_t NextId() {
    static uint64_t id = 0;
    return ++id;
}

// Requests are told apart across a command that a played line runs (which may change the
// queue under the tick).
std::deque<uint64_t>& Ids() {
    static std::deque<uint64_t> ids;
    return ids;
}

WindowId ReportWindow(const PlayRequest& r) {
    return RecordOf(r.window) ? r.window : StatusWin();
}

void Say(const PlayRequest& r, const std::string& text) {
    Print(ReportWindow(r), text, 2);
}

void PopFront() {
    PlayQueue().pop_front();
    if (!Ids().empty()) Ids().pop_front();
}

// Ends the playing request with its message (if any) and starts the next.
void stopplay(const std::string& message) {
    auto& q = PlayQueue();
    if (q.empty()) return;
    if (!message.empty()) Say(q.front(), message);
    PopFront();
    playnext();
}

bool IsTopicHeader(std::string_view line) {
    return !line.empty() && line[0] == '[' && line.find(']') != std::string_view::npos;
}

void SendPlayLine(const PlayRequest& r, const std::string& line) {
    WindowId target = FindWindow(r.target);
    if (r.commands) {
        parseinput(target ? target : StatusWin(), line, kOriginPerform, 0);
        return;
    }
    // The line is said, never evaluated: what a file holds must not run as a command.
    if (target) {
        donormalmessage(target, line, false);
        return;
    }
    if (!ScriptConnected()) {
        Print(StatusWin(), "*** Not connected to server", 1);
        return;
    }
    SendLine("PRIVMSG " + r.target + " :" + line, false);
    Print(StatusWin(), "-> *" + r.target + "* " + line, 0);
}

std::string Base(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::deque<PlayRequest>& PlayQueue() {
    static std::deque<PlayRequest> queue;
    return queue;
}

std::optional<std::string> PickLine(std::istream& in, int mode, int64_t n) {
    std::string first;
    if (!std::getline(in, first)) return std::nullopt;
    int64_t count = std::strtoll(first.c_str(), nullptr, 10);
    if (mode == kPlayRandom && count > 0) n = 1 + ScriptRandom(count);
    if (count < n || count <= 0 || n < 1) n = 1;
    n = std::min(n, kMaxPickLine);
    std::string line;
    for (int64_t i = 0; i < n; ++i)
        if (!std::getline(in, line)) return std::nullopt;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

void playnext() {
    auto& q = PlayQueue();
    platform::KillTimer(PlayWindow(), kTimerPlay);
    while (!q.empty()) {
        PlayRequest& r = q.front();
        if (r.target.empty()) {
            PopFront();
            continue;
        }
        std::string delay = std::to_string(r.delay_ms) + "ms delay";
        if (r.paused) {
            r.paused = false;
            Say(r, "* Resuming " + Base(r.file) + " to " + r.target + " with " + delay);
        } else {
            struct stat st {};
            r.size = ::stat(r.file.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
            r.in = std::make_unique<std::ifstream>(r.file, std::ios::binary);
            if (!*r.in || !S_ISREG(st.st_mode)) {
                Say(r, "* Play unable to access " + r.file);
                PopFront();
                continue;
            }
            if (r.mode == kPlayTopic) {
                std::string line;
                bool found = false;
                while (std::getline(*r.in, line)) {
                    r.sent += line.size() + 1;
                    if (line.size() >= r.topic.size() &&
                        EqualNoCase(std::string_view(line).substr(0, r.topic.size()), r.topic)) {
                        found = true;
                        break;
                    }
                }
                if (!found) {
                    Say(r, "* Requested topic " + r.topic + " not found in " + r.file);
                    PopFront();
                    continue;
                }
                Say(r, "* Playing topic " + r.topic + " from " + Base(r.file) + " to " + r.target +
                           " with " + delay);
            } else {
                Say(r, "* Playing " + Base(r.file) + " to " + r.target + " with " + delay);
            }
        }
        Script().pnick = r.target;
        platform::SetTimer(PlayWindow(), kTimerPlay,
                           static_cast<uint32_t>(std::max(r.delay_ms, 1)));
        return;
    }
}

void PlayTick() {
    auto& q = PlayQueue();
    if (q.empty()) {
        platform::KillTimer(PlayWindow(), kTimerPlay);
        return;
    }
    PlayRequest& r = q.front();
    if (r.paused || !r.in) return;
    const std::string name = Base(r.file);
    if (!RecordOf(r.window)) {
        stopplay("* Playback of " + name + " stopped");
        return;
    }
    const uint64_t id = Ids().empty() ? 0 : Ids().front();
    if (r.mode == kPlayRandom || r.mode == kPlayLine) {
        auto line = PickLine(*r.in, r.mode, r.n);
        if (!line) {
            stopplay("* Unable to read line from " + name);
            return;
        }
        PlayRequest copy_target;
        copy_target.target = r.target;
        copy_target.commands = r.commands;
        if (!line->empty()) SendPlayLine(copy_target, line->substr(0, kPlayLineLimit));
        if (!Ids().empty() && Ids().front() == id) stopplay("");
        return;
    }
    std::string line;
    if (!std::getline(*r.in, line) || (r.mode == kPlayTopic && IsTopicHeader(line))) {
        stopplay("* Playback of " + name + " complete");
        return;
    }
    r.sent += line.size() + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) return;
    PlayRequest copy_target;
    copy_target.target = r.target;
    copy_target.commands = r.commands;
    SendPlayLine(copy_target, line.substr(0, kPlayLineLimit));
}

int doplay(WindowId window, const Args& a, bool remote) {
    auto& q = PlayQueue();
    const std::string& first = Arg(a, 1);
    if (EqualNoCase(first, "stop")) {
        q.clear();
        Ids().clear();
        platform::KillTimer(PlayWindow(), kTimerPlay);
        Print(window, "* Play queue has been cleared", 2);
        return 1;
    }
    if (first.empty()) {
        if (q.empty()) {
            Print(window, "* Play list is empty", 2);
            return 1;
        }
        Print(window, "* Play list:", 2);
        for (const PlayRequest& r : q) {
            std::string name = Base(r.file);
            if (r.mode == kPlayRandom) {
                Print(window, "* Random line from " + name + " to " + r.target, 2);
            } else if (r.mode == kPlayLine) {
                Print(window, "* Line " + std::to_string(r.n) + " from " + name + " to " + r.target,
                      2);
            } else if (r.mode == kPlayTopic) {
                Print(window, "* Topic " + r.topic + " from " + name + " to " + r.target, 2);
            } else {
                Print(window,
                      "* " + name + " (" + std::to_string(r.sent) + "/" + std::to_string(r.size) +
                          ") to " + r.target,
                      2);
            }
        }
        Print(window, "* End of play list", 2);
        return 1;
    }
    PlayRequest r;
    r.window = window;
    bool priority = false;
    long max_queue = -1, max_user = -1;
    size_t index = 1;
    while (Arg(a, index).size() > 1 && Arg(a, index)[0] == '-') {
        const std::string& word = Arg(a, index++);
        for (size_t i = 1; i < word.size(); ++i) {
            char c = static_cast<char>(std::tolower(static_cast<unsigned char>(word[i])));
            auto number = [&word, &i]() {
                size_t end = i + 1;
                while (end < word.size() && std::isdigit(static_cast<unsigned char>(word[end])))
                    ++end;
                long v = std::strtol(word.substr(i + 1, std::min<size_t>(end - i - 1, 9)).c_str(),
                                     nullptr, 10);
                i = end - 1;
                return v;
            };
            if (c == 'c') {
                r.commands = true;
            } else if (c == 'r') {
                r.mode = kPlayRandom;
            } else if (c == 'l') {
                r.mode = kPlayLine;
                r.n = number();
            } else if (c == 't') {
                r.mode = kPlayTopic;
                r.topic = "[" + word.substr(i + 1, kPlayTargetLimit) + "]";
                break;
            } else if (c == 'q') {
                max_queue = number();
            } else if (c == 'm') {
                max_user = number();
            } else if (c == 'p') {
                priority = true;
            }
        }
    }
    const std::string& word = Arg(a, index);
    if (!word.empty() &&
        (word[0] == '#' || word[0] == '&' || word.find_first_of(".:") == std::string::npos)) {
        r.target = word.substr(0, kPlayTargetLimit);
        ++index;
    } else {
        const WindowRecord* w = RecordOf(window);
        if (!w || (w->kind != kKindChannel && w->kind != kKindQuery)) {
            Print(window, "* Cannot play to this window", 2);
            return 0;
        }
        r.target = w->name.substr(0, kPlayTargetLimit);
    }
    const std::string& file = Arg(a, index);
    if (file.empty() || (remote && !PlainFileName(file))) {
        Print(window, "* Invalid /play parameters", 2);
        return 0;
    }
    r.file = file.find('/') == std::string::npos ? Options().szPATH + file : file;
    if (!Arg(a, index + 1).empty()) {
        long d = std::strtol(Arg(a, index + 1).c_str(), nullptr, 10);
        r.delay_ms = d < 0 ? 1000 : static_cast<int>(std::min(d, 3600000L));
    }
    if (remote && max_queue >= 0 && static_cast<long>(q.size()) > max_queue) {
        Print(window, "* Play queue at max. size of " + std::to_string(max_queue), 2);
        return 0;
    }
    if (remote && max_user >= 0) {
        long same = std::count_if(q.begin(), q.end(), [&r](const PlayRequest& o) {
            return EqualNoCase(o.target, r.target);
        });
        if (same > max_user) {
            Print(window, "* User exceeded play request limit of " + std::to_string(max_user), 2);
            return 0;
        }
    }
    if (priority && !q.empty()) {
        q.front().paused = true;
        platform::KillTimer(PlayWindow(), kTimerPlay);
        Print(window, "* Pausing current play request...", 2);
        q.push_front(std::move(r));
        Ids().push_front(NextId());
        playnext();
        return 1;
    }
    std::string queued =
        "* Queued " + file + " to " + r.target + " with " + std::to_string(r.delay_ms) + "ms delay";
    q.push_back(std::move(r));
    Ids().push_back(NextId());
    if (q.size() == 1) {
        playnext();
    } else {
        Print(window, queued, 2);
    }
    return 1;
}

}  // namespace chat
