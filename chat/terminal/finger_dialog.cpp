#include "chat/terminal/finger_dialog.h"

#include "platform/tui/text.h"
#include "platform/tui/widgets.h"

namespace chat {
namespace {

enum FingerControl : int { kAddress = 10, kRecent = 11, kClear = 12, kExample = 13 };

// Addresses of the documentation ranges and names: none of them reaches a real person.
constexpr const char* kExamples[] = {"user@host.example", "@host.example", "nickname", "@nickname",
                                     "someone@192.0.2.1"};

std::string Field(tui::Dialog& d) {
    return tui::EncodeUtf8(d.Find(kAddress)->edit.text);
}

}  // namespace

std::string FingerExample(unsigned turn) {
    return std::string("e.g. ") + kExamples[turn % std::size(kExamples)];
}

tui::Dialog MakeFingerDialog(const std::vector<std::string>& recent, unsigned turn) {
    using tui::ControlKind;
    tui::Dialog d;
    d.title = "Vesk Finger";
    d.rows = 12;
    d.cols = 50;
    d.Add(ControlKind::kLabel, 0, "&Finger (user@host, @host or nickname):", 0, 0, 50);
    tui::Control& field = d.Add(ControlKind::kEdit, kAddress, "", 1, 0, 50);
    field.edit.limit = 100;
    if (!recent.empty()) field.edit.SetText(tui::DecodeText(recent.front()));
    d.Add(ControlKind::kLabel, kExample, FingerExample(turn), 2, 2, 48);
    d.Add(ControlKind::kLabel, 0, "&Recent:", 3, 0, 10);
    tui::Control& list = d.Add(ControlKind::kList, kRecent, "", 4, 0, 34, 6);
    list.items = recent;
    list.list.SetCount(recent.size());
    d.Add(ControlKind::kButton, tui::kIdOk, "OK", 4, 36, 14).is_default = true;
    d.Add(ControlKind::kButton, tui::kIdCancel, "Cancel", 6, 36, 14).is_cancel = true;
    d.Add(ControlKind::kButton, kClear, "C&lear", 8, 36, 14);
    d.FocusFirst();
    return d;
}

std::optional<std::string> RunFingerAddressDialog(const std::vector<std::string>& recent,
                                                  const std::function<void()>& clear) {
    static unsigned turn = 0;
    tui::Dialog d = MakeFingerDialog(recent, turn++);
    d.on_command = [&clear](tui::Dialog& dialog, int id) {
        tui::Control& list = *dialog.Find(kRecent);
        switch (id) {
            case kRecent:
                // Enter on a recent address fingers it.
                if (list.list.cursor >= list.items.size()) return false;
                dialog.Find(kAddress)->edit.SetText(tui::DecodeText(list.items[list.list.cursor]));
                return true;
            case kClear:
                list.items.clear();
                list.list.SetCount(0);
                if (clear) clear();
                return false;
            case tui::kIdOk:
                if (Field(dialog).find_first_not_of(' ') != std::string::npos) return true;
                tui::Beep();
                return false;
            default:
                return id == tui::kIdCancel;
        }
    };
    const int result = tui::RunDialog(d);
    if (result != tui::kIdOk && result != kRecent) return std::nullopt;
    std::string address = Field(d);
    address.erase(0, address.find_first_not_of(' '));
    return address;
}

}  // namespace chat
