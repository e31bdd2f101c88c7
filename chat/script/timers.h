// Scripted timers: numbered commands run every so many seconds, a given number of times or
// without end, optionally from a time of day, driven by the one-second main timer.
#pragma once

#include <cstdint>
#include <list>
#include <string>

#include "chat/core/frontend.h"
#include "chat/script/tokens.h"

namespace chat {

/// One timer.
struct ScriptTimer {
    int number = 0;              ///< 1 or more, unique
    int delay = 1;               ///< seconds between runs
    int repetitions = 0;         ///< runs left; 0 without end; -1 halt after the current run
    int counter = 0;             ///< seconds since the last run; -1 while its command runs
    int hour = -1, minute = -1;  ///< time of day counting starts, -1 for at once
    WindowId window = 0;         ///< the window whose command made it (a handle with a generation)
    std::string command;         ///< the command line
    std::string params;          ///< the parameters of the command that made it
    /// Made by a command another user caused: the command runs as the words it already is,
    /// never evaluated again, so text that user wrote cannot become code when it fires.
    bool literal = false;
    uint64_t serial = 0;  ///< never reused: names this timer and no later one
};

/// A timer as the timer editor sets it.
struct TimerPlan {
    int number = 0;              ///< 1 or more
    int hour = -1, minute = -1;  ///< time of day counting starts, -1 for at once
    int repetitions = 0;         ///< runs; 0 without end
    int delay = 1;               ///< seconds between runs, at least 1
    std::string command;         ///< the command line
};

/// The timers in ascending order of number.
std::list<ScriptTimer>& Timers();
/// Deletes every timer (a new connection).
void freetimers();
/// One second of every timer; `hour` and `minute` are the local time.
void TimerTick(int hour, int minute);
/// The /timer command family.
int dotimercommand(WindowId window, const Args& args, bool remote);
/// The lowest timer number not in use.
int LowestFreeTimer();
/// A timer's description line, as /timer lists it.
std::string DescribeTimer(const ScriptTimer& t);
/// Starts (or replaces) a timer from the editor; the timer's messages go to `window`. Empty
/// when it runs, else the message that says why not (nothing is changed then). A replaced
/// timer whose command is unchanged keeps its parameters and stays literal when another user
/// made it.
std::string StartTimer(const TimerPlan& wanted, WindowId window);
/// Halts a timer as "/timerN off" does, printing in `window`; false when it is not active.
bool HaltTimer(int number, WindowId window);
/// Installs /timer, the tick and the on-line timer's settings.
void InstallTimers();

}  // namespace chat
