// The Timer dialog of the terminal: the on-line timer (its count, last reset and switches)
// above the list of scripted timers, with a form that starts or changes one timer.
#pragma once

#include <string>
#include <vector>

#include "chat/script/timers.h"

namespace chat {

/// The timer form's fields as the user typed them.
struct TimerFields {
    std::string number;       ///< empty: the lowest free number
    std::string time_of_day;  ///< "H:M", or empty for at once
    std::string repetitions;  ///< runs; 0 (or empty) without end
    std::string interval;     ///< seconds between runs
    std::string command;
};

/// The fields showing a timer.
TimerFields FieldsOf(const ScriptTimer& t);
/// Reads the fields into a timer; false (with the /timer command's message) when one is not
/// a number in range. `lowest_free` is taken when the number is empty.
bool ParseTimerFields(const TimerFields& fields, int lowest_free, TimerPlan& wanted,
                      std::string& error);

/// A timer as one line of text: "/timerN [H:M] repetitions interval command".
std::string TimerLine(const ScriptTimer& t);
/// Reads such a line (the command word in any case); false with the reason when it is not one.
bool ParseTimerLine(const std::string& line, int lowest_free, TimerPlan& wanted,
                    std::string& error);
/// Reads every timer line of a text (empty lines and lines starting with ";" skipped); false
/// with "Line N: reason" at the first that is wrong or names a timer twice.
bool ParseTimerText(const std::vector<std::string>& lines, std::vector<TimerPlan>& plans,
                    std::string& error);

/// Runs the Timer dialog (the frame's Timer command).
void RunTimerDialog();
/// Makes the frame's Timer command open the dialog.
void InstallTimerDialogs();

}  // namespace chat
