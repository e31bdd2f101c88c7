#include "chat/core/online_timer.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace chat {
namespace {

// A count beyond this many hours (over a century) is held there: the fields stay far from
// overflow whatever the settings file or a suspended machine says.
constexpr int64_t kMaxHours = 1000000;

int64_t TotalSeconds(const ChatOptions& o) {
    const int64_t total = int64_t{o.olth} * 3600 + int64_t{o.oltm} * 60 + int64_t{o.olts};
    return std::clamp<int64_t>(total, 0, kMaxHours * 3600);
}

void SetTotal(ChatOptions& o, int64_t total) {
    total = std::clamp<int64_t>(total, 0, kMaxHours * 3600);
    o.olth = static_cast<int>(total / 3600);
    o.oltm = static_cast<int>(total / 60 % 60);
    o.olts = static_cast<int>(total % 60);
}

}  // namespace

OnlineTimerState& OnlineTimer() {
    static OnlineTimerState state;
    return state;
}

bool AddOnlineSeconds(ChatOptions& o, int64_t seconds) {
    const int64_t before = TotalSeconds(o);
    SetTotal(o, before + std::max<int64_t>(seconds, 0));
    return TotalSeconds(o) / 60 != before / 60;
}

std::string OnlineCount(const ChatOptions& o) {
    const int64_t t = TotalSeconds(o);
    char buf[40];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", static_cast<int>(t / 3600),
                  static_cast<int>(t / 60 % 60), static_cast<int>(t % 60));
    return buf;
}

std::string OnlineHoursMinutes(const ChatOptions& o) {
    const int64_t t = TotalSeconds(o);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d:%02d", static_cast<int>(t / 3600),
                  static_cast<int>(t / 60 % 60));
    return buf;
}

std::string ResetStamp(int64_t wall_seconds) {
    const std::time_t when = static_cast<std::time_t>(wall_seconds);
    std::tm tm{};
    localtime_r(&when, &tm);
    char buf[64];
    if (std::strftime(buf, sizeof buf, "%a %b %d %H:%M:%S %Y", &tm) == 0) return {};
    return buf;
}

bool OnlineTimerTick(int64_t now_ms) {
    OnlineTimerState& s = OnlineTimer();
    ChatOptions& o = Options();
    if (!o.olt) {
        s.last_tick_ms = 0;
        return false;
    }
    if (s.last_tick_ms == 0) {
        // Switched on behind our back (a loaded setting): counting starts now.
        s.last_tick_ms = now_ms;
        s.carry_ms = 0;
        return false;
    }
    // The time since the previous tick, not one second per tick: a late or skipped tick
    // (a busy loop, a suspended machine) still counts what passed.
    s.carry_ms += std::max<int64_t>(now_ms - s.last_tick_ms, 0);
    s.last_tick_ms = now_ms;
    const int64_t seconds = s.carry_ms / 1000;
    s.carry_ms %= 1000;
    const bool minute = AddOnlineSeconds(o, seconds);
    if (s.on_count) s.on_count(OnlineCount(o));
    return minute;
}

void ResetOnlineTimer(int64_t wall_seconds) {
    SetTotal(Options(), 0);
    OnlineTimer().lastreset = ResetStamp(wall_seconds);
    OnlineTimer().carry_ms = 0;
}

void StartOnlineCounting(int64_t now_ms) {
    OnlineTimer().last_tick_ms = now_ms;
    OnlineTimer().carry_ms = 0;
}

void OnlineTimerConnected(int64_t now_ms, int64_t wall_seconds) {
    const ChatOptions& o = Options();
    if (!o.olt) return;
    if (!o.oltc) ResetOnlineTimer(wall_seconds);
    StartOnlineCounting(now_ms);
}

void ReadOnlineTimer() {
    OnlineTimer().lastreset = ReadSetting("Text", "lastreset", "", kMaxLastReset);
}

bool SaveOnlineTimer() {
    bool ok = WriteSettings("Text", {{"lastreset", OnlineTimer().lastreset}});
    return saveoptions() && ok;
}

void InstallOnlineTimer() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    SettingsReaders().push_back(ReadOnlineTimer);
    // The count of this run is kept for the next one.
    SettingsWriters().push_back([] {
        if (Options().olt) WriteSettings("Options", {{"options2", FormatPositional("options2")}});
    });
}

}  // namespace chat
