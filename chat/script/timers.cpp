#include "chat/script/timers.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "chat/core/frame.h"
#include "chat/core/online_timer.h"
#include "chat/core/session/session_state.h"
#include "chat/core/windows/window_print.h"
#include "chat/core/windows/window_table.h"
#include "chat/script/commands.h"
#include "chat/script/input_parser.h"
#include "chat/script/messaging.h"
#include "chat/script/script_state.h"

namespace chat {
namespace {

// Timers one session may hold and the largest timer number: a script that makes a timer per
// event cannot exhaust memory, and numbers stay far from overflow.
constexpr size_t kMaxTimers = 1000;
constexpr long kMaxTimerNumber = 1000000;

uint64_t& NextSerial() {
    static uint64_t serial = 0;
    return serial;
}

std::list<ScriptTimer>::iterator Find(uint64_t serial) {
    auto& list = Timers();
    for (auto it = list.begin(); it != list.end(); ++it)
        if (it->serial == serial) return it;
    return list.end();
}

std::list<ScriptTimer>::iterator FindNumber(int number) {
    auto& list = Timers();
    for (auto it = list.begin(); it != list.end(); ++it)
        if (it->number == number) return it;
    return list.end();
}

bool AllDigits(std::string_view s) {
    if (s.empty() || s.size() > 9) return false;
    for (char c : s)
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    return true;
}

// A number argument that may carry a sign ("-1" repetitions).
bool Number(const std::string& s, long& out) {
    std::string_view digits = s;
    if (!digits.empty() && digits[0] == '-') digits.remove_prefix(1);
    if (!AllDigits(digits)) return false;
    out = std::strtol(s.c_str(), nullptr, 10);
    return true;
}

// Puts a timer in its place by number, replacing one with the same number; false (with the
// message) when the list is full.
bool Insert(ScriptTimer t, WindowId w) {
    auto old = FindNumber(t.number);
    if (old != Timers().end()) {
        Timers().erase(old);
    } else if (Timers().size() >= kMaxTimers) {
        Print(w, "Memory Allocation Error!", 3);
        return false;
    }
    t.serial = ++NextSerial();
    auto at = Timers().begin();
    while (at != Timers().end() && at->number < t.number) ++at;
    Timers().insert(at, std::move(t));
    return true;
}

void List(WindowId w) {
    if (Timers().empty()) {
        Print(w, "* No active timers", 1);
        return;
    }
    bool status = w == StatusWin();
    if (status) Print(w, "", 1);
    Print(w, "* Active timers:", 1);
    for (const ScriptTimer& t : Timers()) Print(w, DescribeTimer(t), 1);
    if (status) Print(w, "", 1);
}

// A timer's command as the words it already is: no identifier, variable or separator in it
// is looked at again.
void RunLiteral(WindowId w, const std::string& command) {
    const char lead = command.empty() ? 0 : command[0];
    if (lead != '/' && lead != Script().xCOMMANDCHAR) {
        donormalmessage(w, command, true);
        return;
    }
    Args args = SplitWords(command, kMaxTokens360);
    if (args.empty()) return;
    args[0][0] = '/';
    for (char& c : args[0]) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    RunCommand(w, args, true);
}

void MainTimerTick() {
    if (Timers().empty() || !ScriptConnected()) return;
    std::time_t now = static_cast<std::time_t>(SessionWallSeconds());
    std::tm tm{};
    localtime_r(&now, &tm);
    TimerTick(tm.tm_hour, tm.tm_min);
}

}  // namespace

int LowestFreeTimer() {
    int n = 1;
    for (const ScriptTimer& t : Timers()) {
        if (t.number > n) break;
        if (t.number == n) ++n;
    }
    return n;
}

std::string DescribeTimer(const ScriptTimer& t) {
    std::string out = "* Timer" + std::to_string(t.number) + " ";
    if (t.hour >= 0) out += std::to_string(t.hour) + ":" + std::to_string(t.minute) + " ";
    if (t.repetitions != 0) out += std::to_string(t.repetitions) + " time(s) ";
    out += std::to_string(t.delay) + "s delay " + t.command;
    return out;
}

bool HaltTimer(int number, WindowId w) {
    auto it = FindNumber(number);
    if (it == Timers().end()) {
        Print(w, "* Timer" + std::to_string(number) + " is not active", 1);
        return false;
    }
    if (it->counter == -1) {
        // Its own command halts it: it goes once that run is over.
        it->repetitions = -1;
        return true;
    }
    Timers().erase(it);
    Print(w, "* Timer" + std::to_string(number) + " halted", 1);
    return true;
}

std::string StartTimer(const TimerPlan& wanted, WindowId w) {
    // Timers are freed at each connection and tick only while connected.
    if (!ScriptConnected()) return "*** Not connected to server";
    if (wanted.number <= 0 || wanted.number > kMaxTimerNumber) return "* Invalid timer number";
    if ((wanted.hour >= 0 || wanted.minute >= 0) &&
        (wanted.hour < 0 || wanted.hour > 23 || wanted.minute < 0 || wanted.minute > 59))
        return "* Invalid time specification";
    if (wanted.delay <= 0 || wanted.command.find_first_not_of(' ') == std::string::npos)
        return "* Invalid timer parameters";
    if (wanted.command.size() > kMaxCommandLine) return "* Invalid timer parameters";
    ScriptTimer t;
    t.number = wanted.number;
    t.hour = wanted.hour;
    t.minute = wanted.hour >= 0 ? wanted.minute : -1;
    t.repetitions = std::max(wanted.repetitions, 0);
    t.delay = wanted.delay;
    t.window = w;
    t.command = wanted.command;
    auto old = FindNumber(wanted.number);
    if (old != Timers().end() && old->command == wanted.command) {
        // The user changed only when it runs: what it runs is what it was, with the same
        // parameters and, when another user's text made it, still never evaluated.
        t.params = old->params;
        t.literal = old->literal;
        t.window = old->window;
    }
    if (!Insert(std::move(t), w)) return "Memory Allocation Error!";
    Print(w, "* Timer" + std::to_string(wanted.number) + " activated", 1);
    return {};
}

std::list<ScriptTimer>& Timers() {
    static std::list<ScriptTimer> timers;
    return timers;
}

void freetimers() {
    Timers().clear();
}

void TimerTick(int hour, int minute) {
    std::vector<uint64_t> serials;
    for (const ScriptTimer& t : Timers()) serials.push_back(t.serial);
    for (uint64_t serial : serials) {
        // A command run earlier in this pass may have halted or replaced this timer.
        auto it = Find(serial);
        if (it == Timers().end() || it->repetitions < 0) continue;
        if (it->hour >= 0) {
            if (hour != it->hour || (minute != it->minute && minute != (it->minute + 1) % 60))
                continue;
            it->hour = it->minute = -1;
        }
        if (it->delay <= 0 || ++it->counter < it->delay) continue;
        if (findhwnd(it->window) < 0) it->window = StatusWin();
        if (it->repetitions > 0 && --it->repetitions < 1) it->repetitions = -1;
        it->counter = -1;
        const WindowId w = it->window;
        const int number = it->number;
        const std::string command = it->command, params = it->params;
        if (it->literal)
            RunLiteral(w, command);
        else if (params.empty())
            parseinput(w, command, kOriginPerform, 0);
        else
            parseinput(w, command + ":$:" + params, kOriginParams, 0);
        it = Find(serial);
        if (it == Timers().end()) continue;
        if (it->repetitions == -1)
            Print(findhwnd(w) >= 0 ? w : StatusWin(),
                  "* Timer" + std::to_string(number) + " halted", 1);
        it->counter = 0;
    }
    std::erase_if(Timers(), [](const ScriptTimer& t) { return t.repetitions < 0; });
}

int dotimercommand(WindowId w, const Args& a, bool remote) {
    std::string word = a[0];
    bool all = word == "/TIMERS";
    int number = 0;
    if (word == "/TIMER") {
        number = LowestFreeTimer();
    } else if (!all) {
        std::string_view digits = std::string_view(word).substr(6);
        long n = AllDigits(digits) ? std::strtol(std::string(digits).c_str(), nullptr, 10) : 0;
        if (n <= 0 || n > kMaxTimerNumber) {
            Print(w, "* Invalid timer number", 1);
            return 0;
        }
        number = static_cast<int>(n);
    }
    const std::string& first = Arg(a, 1);
    if (EqualNoCase(first, "off")) {
        if (all) {
            // A running timer's own "/timers off" lets that run finish first.
            for (ScriptTimer& t : Timers()) t.repetitions = -1;
            std::erase_if(Timers(), [](const ScriptTimer& t) { return t.counter != -1; });
            Print(w, "* All timers halted", 1);
        } else {
            HaltTimer(number, w);
        }
        return 1;
    }
    if (first.empty() || all) {
        List(w);
        return 1;
    }
    if (Arg(a, 2).empty()) {
        auto it = FindNumber(number);
        if (it == Timers().end())
            Print(w, "* Timer" + std::to_string(number) + " is not active", 1);
        else
            Print(w, DescribeTimer(*it), 1);
        return 1;
    }
    ScriptTimer t;
    size_t i = 1;
    if (first.find(':') != std::string::npos) {
        if (Arg(a, 4).empty()) {
            Print(w, "* Invalid timer parameters", 1);
            return 0;
        }
        size_t colon = first.find(':');
        std::string h = first.substr(0, colon), m = first.substr(colon + 1);
        long hour = 0, minute = 0;
        if (!Number(h, hour) || !Number(m, minute) || hour < 0 || hour > 23 || minute < 0 ||
            minute > 59) {
            Print(w, "* Invalid time specification", 1);
            return 0;
        }
        t.hour = static_cast<int>(hour);
        t.minute = static_cast<int>(minute);
        ++i;
    }
    long repetitions = 0, delay = 0;
    if (!Number(Arg(a, i), repetitions) || !Number(Arg(a, i + 1), delay) || delay <= 0 ||
        Arg(a, i + 2).empty()) {
        Print(w, "* Invalid timer parameters", 1);
        return 0;
    }
    t.repetitions = repetitions < 0 ? 0 : static_cast<int>(repetitions);
    t.delay = static_cast<int>(delay);
    t.number = number;
    t.window = w;
    t.command = JoinFrom(a, i + 2).substr(0, kMaxCommandLine);
    t.literal = remote;
    const std::string& params = Script().current_params;
    if (!params.empty() && t.command.size() + 3 + params.size() < kLineLimit) t.params = params;
    if (!Insert(std::move(t), w)) return 0;
    Print(w, "* Timer" + std::to_string(number) + " activated", 1);
    return 1;
}

void InstallTimers() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    InstallCommand("/TIMER", dotimercommand);
    InstallOnlineTimer();
    Frame().each_second.push_back(MainTimerTick);
}

}  // namespace chat
