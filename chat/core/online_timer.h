// The on-line timer: the time spent connected, counted each second of the main timer while it
// is switched on, kept in the settings across runs, and started again from zero at each new
// connection unless the user asked it to keep counting.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "chat/core/options.h"

namespace chat {

/// The on-line timer's state beside its settings (`olt`, `oltc`, `olth`, `oltm`, `olts`).
struct OnlineTimerState {
    /// When the count was last reset (key "lastreset" of section "Text"); empty: never.
    std::string lastreset;
    /// The session clock at the last counted tick; 0 when not counting.
    int64_t last_tick_ms = 0;
    /// Milliseconds counted but not yet a whole second.
    int64_t carry_ms = 0;
    /// Set while the timer dialog is open: shows the count after each tick.
    std::function<void(const std::string& count)> on_count;
};

/// Longest "lastreset" text kept.
constexpr size_t kMaxLastReset = 60;

/// The on-line timer's state.
OnlineTimerState& OnlineTimer();

/// Adds seconds to the count in the options, carrying seconds into minutes and minutes into
/// hours at 60 (a stored count out of range is put right on the way). True when the minutes
/// changed, so the status line needs refreshing.
bool AddOnlineSeconds(ChatOptions& o, int64_t seconds);
/// The count as "%02d:%02d:%02d" (hours, minutes, seconds).
std::string OnlineCount(const ChatOptions& o);
/// The count as the status line shows it: "%02d:%02d" (hours, minutes).
std::string OnlineHoursMinutes(const ChatOptions& o);
/// The "lastreset" text for a moment (local time).
std::string ResetStamp(int64_t wall_seconds);

/// One second of the main timer while connected: adds the time since the previous tick when
/// the timer is on. True when a minute passed.
bool OnlineTimerTick(int64_t now_ms);
/// A new connection: the count starts again (with "lastreset" now) unless `oltc` keeps it.
void OnlineTimerConnected(int64_t now_ms, int64_t wall_seconds);
/// The count back to zero and "lastreset" now.
void ResetOnlineTimer(int64_t wall_seconds);
/// Counting starts from this moment (the timer was switched on).
void StartOnlineCounting(int64_t now_ms);

/// Reads "lastreset" (a settings reader).
void ReadOnlineTimer();
/// Saves "lastreset" in "Text" and the options in "Options"; false when a write failed.
bool SaveOnlineTimer();
/// Registers the reader and a writer that keeps the count at exit.
void InstallOnlineTimer();

}  // namespace chat
