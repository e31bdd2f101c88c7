#include "chat/terminal/dcc_dialogs.h"

#include <algorithm>

#include "chat/core/windows/display_text.h"
#include "platform/event_loop.h"
#include "platform/tui/text.h"
#include "platform/tui/widgets.h"

namespace chat {
namespace {

constexpr platform::UINT kTimerWait = 1;
enum : int { kIdGet = 100, kIdResume = 101, kIdOverwrite = 102, kIdRename = 103, kIdName = 104 };

struct OpenQuestion {
    tui::Dialog* dialog = nullptr;
    std::function<bool()> waiting;
};

OpenQuestion& Open() {
    static OpenQuestion open;
    return open;
}

// Runs a dialog that ends as Cancel once its offer stops waiting (checked every second).
int RunWhileWaiting(tui::Dialog& d, const std::function<bool()>& waiting) {
    static platform::HWND timer_window = platform::CreateWindow(
        [](platform::HWND, platform::UINT msg, platform::WPARAM, platform::LPARAM) {
            OpenQuestion& q = Open();
            if (msg == platform::WM_TIMER && q.dialog && q.waiting && !q.waiting())
                q.dialog->result = tui::kIdCancel;
            return platform::LRESULT{0};
        });
    OpenQuestion saved = Open();
    Open() = {&d, waiting};
    platform::SetTimer(timer_window, kTimerWait, 1000);
    int result = tui::RunDialog(d);
    Open() = saved;
    if (!saved.dialog) platform::KillTimer(timer_window, kTimerWait);
    return waiting() ? result : tui::kIdCancel;
}

}  // namespace

std::optional<std::string> AskDccGet(const std::string& nick, const std::string& file,
                                     uint64_t size, const std::string& folder,
                                     const std::function<bool()>& waiting) {
    tui::Dialog d;
    d.title = "Vesk DCC Get";
    d.rows = 8;
    d.cols = 56;
    d.Add(tui::ControlKind::kLabel, 0, DisplayText(nick) + " wants to send you:", 0, 1, 54);
    d.Add(tui::ControlKind::kLabel, 0, DisplayText(file), 1, 3, 52);
    d.Add(tui::ControlKind::kLabel, 0, size ? std::to_string(size) + " bytes" : "[unknown]", 2, 3,
          52);
    d.Add(tui::ControlKind::kLabel, 0, "Save &As: (in " + DisplayText(folder) + ")", 3, 1, 54);
    tui::Control& name = d.Add(tui::ControlKind::kEdit, kIdName, "", 4, 1, 54);
    name.edit.SetText(tui::DecodeText(file));
    tui::Control& get = d.Add(tui::ControlKind::kButton, kIdGet, "&Get", 6, 14, 10);
    get.is_default = true;
    tui::Control& cancel = d.Add(tui::ControlKind::kButton, tui::kIdCancel, "Cancel", 6, 30, 10);
    cancel.is_cancel = true;
    d.focus = 4;
    if (RunWhileWaiting(d, waiting) != kIdGet) return std::nullopt;
    std::string chosen = tui::EncodeUtf8(d.Find(kIdName)->edit.text);
    return chosen.empty() ? file : chosen;
}

int AskExistingFile(const std::string& path, uint64_t size, bool can_resume,
                    const std::function<bool()>& waiting) {
    tui::Dialog d;
    d.title = "Vesk DCC Get";
    d.rows = 6;
    d.cols = 60;
    d.Add(tui::ControlKind::kLabel, 0, "The file you are about to DCC Get already exists.", 0, 1,
          58);
    d.Add(tui::ControlKind::kLabel, 0, DisplayText(path), 1, 3, 56);
    d.Add(tui::ControlKind::kLabel, 0, std::to_string(size) + " bytes", 2, 3, 56);
    d.Add(tui::ControlKind::kButton, kIdOverwrite, "&Overwrite", 4, 1, 13);
    tui::Control& resume = d.Add(tui::ControlKind::kButton, kIdResume, "&Resume", 4, 16, 11);
    resume.enabled = can_resume;
    resume.is_default = can_resume;
    d.Add(tui::ControlKind::kButton, kIdRename, "Re&name", 4, 29, 11);
    tui::Control& cancel = d.Add(tui::ControlKind::kButton, tui::kIdCancel, "Cancel", 4, 42, 10);
    cancel.is_cancel = true;
    switch (RunWhileWaiting(d, waiting)) {
        case kIdResume:
            return 1;
        case kIdOverwrite:
            return 2;
        case kIdRename:
            return 3;
        default:
            return 0;
    }
}

bool AskDccChat(const std::string& nick, const std::string& address,
                const std::function<bool()>& waiting) {
    tui::Dialog d = tui::MakeMessageBox(
        "Vesk DCC Chat",
        DisplayText(nick) + " (" + address + ") wants to DCC Chat with you. Accept?",
        tui::MessageButtons::kYesNo, false, 80);
    return RunWhileWaiting(d, waiting) == tui::kIdYes;
}

}  // namespace chat
