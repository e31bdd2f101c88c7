#include "chat/terminal/timer_dialogs.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string_view>

#include "chat/core/connection/connection.h"
#include "chat/core/frame.h"
#include "chat/core/frontend.h"
#include "chat/core/online_timer.h"
#include "chat/core/session/session_state.h"
#include "chat/core/windows/display_text.h"
#include "chat/script/script_state.h"
#include "chat/terminal/script_editor.h"
#include "platform/tui/text.h"
#include "platform/tui/widgets.h"

namespace chat {
namespace {

enum TimerControl : int {
    kCount = 10,
    kLastReset = 11,
    kOnlineOn = 12,
    kResetEach = 13,
    kKeepCounting = 14,
    kResetButton = 15,
    kList = 16,
    kNewButton = 17,
    kEditButton = 18,
    kHaltButton = 19,
    kNumber = 20,
    kTimeOfDay = 21,
    kRepetitions = 22,
    kInterval = 23,
    kCommand = 24,
    kStartButton = 25,
    kTextButton = 26,
};

constexpr int kOltcGroup = 1;

// A whole number of at most nine digits, optionally negative.
bool WholeNumber(const std::string& text, long& out) {
    size_t i = !text.empty() && text[0] == '-' ? 1 : 0;
    if (text.size() == i || text.size() - i > 9) return false;
    for (size_t k = i; k < text.size(); ++k)
        if (!std::isdigit(static_cast<unsigned char>(text[k]))) return false;
    out = std::strtol(text.c_str(), nullptr, 10);
    return true;
}

std::string Field(tui::Dialog& d, int id) {
    return tui::EncodeUtf8(d.Find(id)->edit.text);
}

void SetField(tui::Control& c, const std::string& text, size_t limit) {
    c.edit.limit = limit;
    c.edit.SetText(tui::DecodeText(text));
}

std::string CountText() {
    return "On-line time: " + OnlineCount(Options());
}

void FillTimerList(tui::Control& list) {
    list.items.clear();
    for (const ScriptTimer& t : Timers()) list.items.push_back(DisplayText(DescribeTimer(t)));
    list.list.SetCount(list.items.size());
}

// The timer of the row under the cursor, found by the number its row shows: timers may have
// run out since the list was filled, so a position could name another one.
const ScriptTimer* SelectedTimer(tui::Control& list) {
    const size_t row = list.list.cursor;
    if (row >= list.items.size()) return nullptr;
    const std::string& text = list.items[row];
    const std::string_view prefix = "* Timer";
    if (text.compare(0, prefix.size(), prefix) != 0) return nullptr;
    const int number = std::atoi(text.c_str() + prefix.size());
    for (const ScriptTimer& t : Timers())
        if (t.number == number) return &t;
    FillTimerList(list);
    return nullptr;
}

// The form of one timer; it stays open until the timer runs or the user cancels.
void RunTimerForm(TimerFields fields, const std::string& title) {
    for (;;) {
        tui::Dialog d;
        d.title = title;
        d.rows = 9;
        d.cols = 60;
        d.Add(tui::ControlKind::kLabel, 0, "&Number:", 0, 1, 20);
        SetField(d.Add(tui::ControlKind::kEdit, kNumber, "", 0, 22, 10), fields.number, 7);
        d.Add(tui::ControlKind::kLabel, 0, "&Time of day (H:M):", 1, 1, 20);
        SetField(d.Add(tui::ControlKind::kEdit, kTimeOfDay, "", 1, 22, 10), fields.time_of_day, 5);
        d.Add(tui::ControlKind::kLabel, 0, "&Repetitions (0 always):", 2, 1, 21);
        SetField(d.Add(tui::ControlKind::kEdit, kRepetitions, "", 2, 22, 10), fields.repetitions,
                 9);
        d.Add(tui::ControlKind::kLabel, 0, "&Interval (seconds):", 3, 1, 20);
        SetField(d.Add(tui::ControlKind::kEdit, kInterval, "", 3, 22, 10), fields.interval, 9);
        d.Add(tui::ControlKind::kLabel, 0, "&Command:", 4, 1, 20);
        SetField(d.Add(tui::ControlKind::kEdit, kCommand, "", 5, 1, 58), fields.command,
                 kMaxCommandLine);
        d.Add(tui::ControlKind::kButton, kStartButton, "&Start", 7, 16, 10).is_default = true;
        d.Add(tui::ControlKind::kButton, tui::kIdCancel, "Cancel", 7, 32, 10).is_cancel = true;
        d.focus = 1;
        if (tui::RunDialog(d) != kStartButton) return;
        fields = {Field(d, kNumber), Field(d, kTimeOfDay), Field(d, kRepetitions),
                  Field(d, kInterval), Field(d, kCommand)};
        TimerPlan wanted;
        std::string error;
        if (ParseTimerFields(fields, LowestFreeTimer(), wanted, error))
            error = StartTimer(wanted, ActiveWindow());
        if (error.empty()) return;
        tui::ShowMessageBox(title, error, tui::MessageButtons::kOk);
    }
}

// Every timer as a line of text in the multi-line editor; what comes back replaces them all.
void EditTimersAsText() {
    std::vector<std::string> lines;
    for (const ScriptTimer& t : Timers()) lines.push_back(TimerLine(t));
    auto check = [](const std::vector<std::string>& edited) {
        std::vector<TimerPlan> plans;
        std::string error;
        ParseTimerText(edited, plans, error);
        return error;
    };
    auto edited = EditScriptText("Vesk Timers", lines, {0, kMaxCommandLine + 32}, check);
    if (!edited) return;
    std::vector<TimerPlan> plans;
    std::string error;
    if (!ParseTimerText(*edited, plans, error)) return;
    std::vector<int> gone;
    for (const ScriptTimer& t : Timers()) {
        auto kept = std::find_if(plans.begin(), plans.end(),
                                 [&t](const TimerPlan& s) { return s.number == t.number; });
        if (kept == plans.end()) gone.push_back(t.number);
    }
    for (int number : gone) HaltTimer(number, ActiveWindow());
    for (const TimerPlan& wanted : plans) {
        error = StartTimer(wanted, ActiveWindow());
        if (!error.empty()) {
            tui::ShowMessageBox("Vesk Timers", error, tui::MessageButtons::kOk);
            return;
        }
    }
}

}  // namespace

std::string TimerLine(const ScriptTimer& t) {
    std::string line = "/timer" + std::to_string(t.number) + " ";
    if (t.hour >= 0) line += std::to_string(t.hour) + ":" + std::to_string(t.minute) + " ";
    return line + std::to_string(t.repetitions) + " " + std::to_string(t.delay) + " " + t.command;
}

bool ParseTimerLine(const std::string& line, int lowest_free, TimerPlan& wanted,
                    std::string& error) {
    std::vector<std::string> words;
    size_t pos = 0;
    // The command is the rest of the line as written, blanks and all.
    while (words.size() < 4) {
        pos = line.find_first_not_of(' ', pos);
        if (pos == std::string::npos) break;
        size_t end = line.find(' ', pos);
        if (end == std::string::npos) end = line.size();
        words.push_back(line.substr(pos, end - pos));
        pos = end;
    }
    if (words.empty() || words[0].size() < 6 || !EqualNoCase(words[0].substr(0, 6), "/timer")) {
        error = "* A timer line starts with /timer";
        return false;
    }
    TimerFields f;
    f.number = words[0].substr(6);
    size_t next = 1;
    if (words.size() > 1 && words[1].find(':') != std::string::npos) f.time_of_day = words[next++];
    f.repetitions = next < words.size() ? words[next] : "";
    f.interval = next + 1 < words.size() ? words[next + 1] : "";
    // The command starts after the interval word.
    size_t at = 0;
    for (size_t i = 0; i < next + 2 && at != std::string::npos; ++i) {
        at = line.find_first_not_of(' ', at);
        if (at != std::string::npos) at = line.find(' ', at);
    }
    if (at != std::string::npos) at = line.find_first_not_of(' ', at);
    f.command = at == std::string::npos ? std::string() : line.substr(at);
    if (f.repetitions.empty() || f.command.empty()) {
        error = "* Invalid timer parameters";
        return false;
    }
    return ParseTimerFields(f, lowest_free, wanted, error);
}

bool ParseTimerText(const std::vector<std::string>& lines, std::vector<TimerPlan>& plans,
                    std::string& error) {
    plans.clear();
    for (size_t i = 0; i < lines.size(); ++i) {
        const size_t first = lines[i].find_first_not_of(' ');
        if (first == std::string::npos || lines[i][first] == ';') continue;
        int lowest = 1;
        while (std::any_of(plans.begin(), plans.end(),
                           [lowest](const TimerPlan& s) { return s.number == lowest; }))
            ++lowest;
        TimerPlan wanted;
        std::string why;
        bool twice = false;
        if (ParseTimerLine(lines[i].substr(first), lowest, wanted, why)) {
            twice = std::any_of(plans.begin(), plans.end(), [&wanted](const TimerPlan& s) {
                return s.number == wanted.number;
            });
            if (twice) why = "timer " + std::to_string(wanted.number) + " is named twice";
        }
        if (!why.empty()) {
            error = "Line " + std::to_string(i + 1) + ": " + why;
            return false;
        }
        plans.push_back(std::move(wanted));
    }
    return true;
}

TimerFields FieldsOf(const ScriptTimer& t) {
    TimerFields f;
    f.number = std::to_string(t.number);
    if (t.hour >= 0) f.time_of_day = std::to_string(t.hour) + ":" + std::to_string(t.minute);
    f.repetitions = std::to_string(t.repetitions);
    f.interval = std::to_string(t.delay);
    f.command = t.command;
    return f;
}

bool ParseTimerFields(const TimerFields& f, int lowest_free, TimerPlan& wanted,
                      std::string& error) {
    long number = lowest_free;
    if (!f.number.empty() && (!WholeNumber(f.number, number) || number <= 0)) {
        error = "* Invalid timer number";
        return false;
    }
    wanted.number = static_cast<int>(number);
    wanted.hour = wanted.minute = -1;
    if (!f.time_of_day.empty()) {
        const size_t colon = f.time_of_day.find(':');
        long hour = 0, minute = 0;
        if (colon == std::string::npos || !WholeNumber(f.time_of_day.substr(0, colon), hour) ||
            !WholeNumber(f.time_of_day.substr(colon + 1), minute) || hour < 0 || hour > 23 ||
            minute < 0 || minute > 59) {
            error = "* Invalid time specification";
            return false;
        }
        wanted.hour = static_cast<int>(hour);
        wanted.minute = static_cast<int>(minute);
    }
    long repetitions = 0, interval = 0;
    if ((!f.repetitions.empty() && !WholeNumber(f.repetitions, repetitions)) ||
        !WholeNumber(f.interval, interval) || interval <= 0) {
        error = "* Invalid timer parameters";
        return false;
    }
    wanted.repetitions = static_cast<int>(std::max(repetitions, 0L));
    wanted.delay = static_cast<int>(interval);
    wanted.command = f.command;
    return true;
}

void RunTimerDialog() {
    ChatOptions& o = Options();
    OnlineTimerState& online = OnlineTimer();
    tui::Dialog d;
    d.title = "Vesk Timer";
    d.rows = 20;
    d.cols = 64;
    d.Add(tui::ControlKind::kLabel, kCount, CountText(), 0, 1, 40);
    d.Add(tui::ControlKind::kLabel, 0, "&Last reset:", 1, 1, 12);
    SetField(d.Add(tui::ControlKind::kEdit, kLastReset, "", 1, 14, 30),
             online.lastreset.empty() ? "[no date]" : online.lastreset, kMaxLastReset);
    d.Add(tui::ControlKind::kButton, kResetButton, "Re&set", 1, 48, 12);
    d.Add(tui::ControlKind::kCheck, kOnlineOn, "C&ount the time on line", 2, 1, 40).checked =
        o.olt != 0;
    tui::Control& each =
        d.Add(tui::ControlKind::kRadio, kResetEach, "Start &again at each connection", 3, 1, 44);
    each.group = kOltcGroup;
    each.checked = o.oltc == 0;
    tui::Control& keep = d.Add(tui::ControlKind::kRadio, kKeepCounting,
                               "&Keep counting across connections", 4, 1, 44);
    keep.group = kOltcGroup;
    keep.checked = o.oltc != 0;
    d.Add(tui::ControlKind::kLabel, 0, "Scripted &timers:", 6, 1, 30);
    tui::Control& list = d.Add(tui::ControlKind::kList, kList, "", 7, 1, 62, 9);
    FillTimerList(list);
    d.Add(tui::ControlKind::kButton, kNewButton, "&New...", 16, 1, 12);
    d.Add(tui::ControlKind::kButton, kEditButton, "&Edit...", 16, 15, 12);
    d.Add(tui::ControlKind::kButton, kHaltButton, "&Halt", 16, 29, 12);
    d.Add(tui::ControlKind::kButton, kTextButton, "As te&xt...", 16, 43, 14);
    d.Add(tui::ControlKind::kButton, tui::kIdOk, "OK", 18, 18, 10).is_default = true;
    d.Add(tui::ControlKind::kButton, tui::kIdCancel, "Cancel", 18, 34, 10).is_cancel = true;
    d.FocusFirst();

    // The main timer shows each second's count here while the dialog is open.
    struct CountDisplay {
        explicit CountDisplay(tui::Dialog& dialog) {
            OnlineTimer().on_count = [&dialog](const std::string&) {
                if (tui::Control* c = dialog.Find(kCount)) c->text = CountText();
                tui::RequestRedraw();
            };
        }
        ~CountDisplay() { OnlineTimer().on_count = nullptr; }
    } display(d);

    d.on_command = [](tui::Dialog& dialog, int id) {
        tui::Control& timers = *dialog.Find(kList);
        switch (id) {
            case kResetButton:
                ResetOnlineTimer(SessionWallSeconds());
                dialog.Find(kCount)->text = CountText();
                SetField(*dialog.Find(kLastReset), OnlineTimer().lastreset, kMaxLastReset);
                return false;
            case kNewButton:
                RunTimerForm({"", "", "0", "60", ""}, "Vesk New Timer");
                FillTimerList(timers);
                return false;
            case kList:
            case kEditButton:
                if (const ScriptTimer* t = SelectedTimer(timers)) {
                    RunTimerForm(FieldsOf(*t), "Vesk Timer" + std::to_string(t->number));
                    FillTimerList(timers);
                } else {
                    tui::Beep();
                }
                return false;
            case kTextButton:
                EditTimersAsText();
                FillTimerList(timers);
                return false;
            case kHaltButton:
                if (const ScriptTimer* t = SelectedTimer(timers)) {
                    HaltTimer(t->number, ActiveWindow());
                    FillTimerList(timers);
                } else {
                    tui::Beep();
                }
                return false;
            default:
                return id == tui::kIdOk || id == tui::kIdCancel;
        }
    };
    if (tui::RunDialog(d) != tui::kIdOk) return;
    const bool was_on = o.olt != 0;
    o.olt = d.Find(kOnlineOn)->checked ? 1 : 0;
    o.oltc = d.CheckedRadio(kOltcGroup) == kKeepCounting ? 1 : 0;
    if (o.olt && !was_on) StartOnlineCounting(SessionNowMs());
    std::string stamp = Field(d, kLastReset);
    online.lastreset = stamp == "[no date]" ? std::string() : stamp;
    if (!SaveOnlineTimer())
        tui::ShowMessageBox("Vesk Timer", "Unable to save the settings to " + o.szINI,
                            tui::MessageButtons::kOk);
    showstatusinfo();
}

void InstallTimerDialogs() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    FrameState& f = Frame();
    f.more_commands = [earlier = std::move(f.more_commands)](int command) {
        if (command == kCmdTimer) {
            RunTimerDialog();
            return true;
        }
        return earlier ? earlier(command) : false;
    };
}

}  // namespace chat
