#include "chat/terminal/popup_dialog.h"

#include "chat/core/windows/display_text.h"
#include "chat/script/script_state.h"
#include "chat/terminal/terminal_dialogs.h"
#include "platform/tui/text.h"
#include "platform/tui/widgets.h"

namespace chat {
namespace {

enum PopupControl : int {
    kRadioFirst = 10,  // status, query, nick list, menu bar
    kSwitch = 20,
    kCount = 21,
    kLines = 22,
    kEdit = 23,
    kFile = 24,
    kLoad = 25,
    kSave = 26,
};

constexpr PopupKind kKinds[] = {PopupKind::kStatus, PopupKind::kQuery, PopupKind::kNickList,
                                PopupKind::kBar};
constexpr const char* kNames[] = {"&Status", "&Query", "&Nick list", "&Menu bar"};

PopupKind Chosen(const tui::Dialog& d) {
    const int id = d.CheckedRadio(1);
    return id >= kRadioFirst && id < kRadioFirst + 4 ? kKinds[id - kRadioFirst] : kKinds[0];
}

void ShowFile(tui::Dialog& d) {
    d.Find(kFile)->text = "File: " + DisplayText(PopupsFile());
}

}  // namespace

tui::Dialog MakePopupDialog() {
    using tui::ControlKind;
    tui::Dialog d;
    d.title = "Vesk Popups";
    d.rows = 19;
    d.cols = 70;
    for (int i = 0; i < 4; ++i) {
        tui::Control& radio = d.Add(ControlKind::kRadio, kRadioFirst + i, kNames[i], 0, i * 16, 15);
        radio.group = 1;
        radio.checked = i == 0;
    }
    d.Add(ControlKind::kCheck, kSwitch, "&Enabled", 2, 0, 14);
    d.Add(ControlKind::kLabel, kCount, "", 2, 16, 40);
    d.Add(ControlKind::kList, kLines, "", 3, 0, 70, 10);
    d.Add(ControlKind::kLabel, kFile, "", 14, 0, 70);
    d.Add(ControlKind::kButton, kEdit, "E&dit...", 16, 0, 12);
    d.Add(ControlKind::kButton, kLoad, "&Load...", 16, 14, 12);
    d.Add(ControlKind::kButton, kSave, "Sa&ve...", 16, 28, 12);
    d.Add(ControlKind::kButton, tui::kIdOk, "OK", 16, 42, 12).is_default = true;
    d.Add(ControlKind::kButton, tui::kIdCancel, "Cancel", 16, 56, 12).is_cancel = true;
    ShowPopupList(d, PopupKind::kStatus);
    ShowFile(d);
    d.FocusFirst();
    return d;
}

void ShowPopupList(tui::Dialog& d, PopupKind kind) {
    d.Find(kSwitch)->checked = PopupSwitch(kind);
    tui::Control& list = *d.Find(kLines);
    list.items.clear();
    for (const std::string& line : PopupLines(kind)) list.items.push_back(DisplayText(line));
    list.list.SetCount(list.items.size());
    d.Find(kCount)->text =
        std::to_string(list.items.size()) + " of " + std::to_string(kMaxPopupLines) + " lines";
}

bool RunPopupDialog() {
    tui::Dialog d = MakePopupDialog();
    d.on_command = [](tui::Dialog& dialog, int id) {
        const PopupKind kind = Chosen(dialog);
        if (id >= kRadioFirst && id < kRadioFirst + 4) {
            ShowPopupList(dialog, kind);
            return false;
        }
        switch (id) {
            case kSwitch:
                SetPopupSwitch(kind, dialog.Find(kSwitch)->checked);
                return false;
            case kEdit:
            case kLines:
                if (EditPopupList(kind)) {
                    ShowPopupList(dialog, kind);
                    // Keeping the edit is the usual next step.
                    for (size_t i = 0; i < dialog.controls.size(); ++i)
                        if (dialog.controls[i].id == tui::kIdOk) dialog.focus = i;
                }
                tui::RequestRedraw();
                return false;
            case kLoad:
            case kSave: {
                const bool load = id == kLoad;
                std::optional<std::string> path;
                const std::string file = PopupsFile();
                if (load) {
                    const size_t slash = file.rfind('/');
                    path = SelectFile(
                        "file", "Vesk Load Popups from...",
                        (slash == std::string::npos ? std::string() : file.substr(0, slash + 1)) +
                            "*.ini");
                } else {
                    // A new file may be named: the file dialog offers only existing ones.
                    std::string typed = file;
                    if (tui::InputBox("Vesk Save Popups to...", "&File:", typed)) path = typed;
                }
                if (!path || path->empty()) return false;
                if (!(load ? LoadPopupsFrom(*path) : SavePopupsTo(*path))) {
                    tui::ShowMessageBox("Vesk32",
                                        (load ? "Unable to load " : "Unable to save to ") + *path,
                                        tui::MessageButtons::kOk);
                    return false;
                }
                ShowPopupList(dialog, kind);
                ShowFile(dialog);
                return false;
            }
            default:
                return id == tui::kIdOk || id == tui::kIdCancel;
        }
    };
    return tui::RunDialog(d) == tui::kIdOk;
}

}  // namespace chat
