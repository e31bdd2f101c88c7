#include "chat/terminal/list_dialogs.h"

#include <algorithm>

#include "chat/core/line_list.h"
#include "platform/tui/dialog_model.h"
#include "platform/tui/text.h"
#include "platform/tui/widgets.h"

namespace chat {
namespace {

enum FolderControl : int {
    kJoinButton = tui::kIdOk,
    kCancelButton = tui::kIdCancel,
    kField = 10,
    kRows = 11,
    kNamesButton = 12,
    kAddButton = 13,
    kDeleteButton = 14,
    kCloseButton = 15,
    kPopUpBox = 16,
};

std::string FieldText(tui::Dialog& d) {
    return tui::EncodeUtf8(d.Find(kField)->edit.text);
}

}  // namespace

std::optional<FolderChoice> RunFolderDialog(const std::vector<std::string>& channels,
                                            const std::string& field, bool pop_up) {
    tui::Dialog d;
    d.title = "Vesk Channels Folder    ";
    d.rows = 14;
    d.cols = 48;
    d.Add(tui::ControlKind::kLabel, 0, "&Channel:", 0, 0, 9);
    tui::Control& edit = d.Add(tui::ControlKind::kEdit, kField, "", 0, 10, 22);
    edit.edit.text = tui::DecodeText(field);
    edit.edit.cursor = edit.edit.text.size();
    tui::Control& rows = d.Add(tui::ControlKind::kList, kRows, "", 2, 0, 32, 10);
    rows.items = channels;
    rows.list.multiple = true;
    rows.list.SetCount(channels.size());
    d.Add(tui::ControlKind::kButton, kJoinButton, "&Join", 2, 34, 12).is_default = true;
    d.Add(tui::ControlKind::kButton, kNamesButton, "&Names", 4, 34, 12);
    d.Add(tui::ControlKind::kButton, kAddButton, "&Add", 6, 34, 12);
    d.Add(tui::ControlKind::kButton, kDeleteButton, "&Delete", 8, 34, 12);
    d.Add(tui::ControlKind::kButton, kCloseButton, "C&lose", 10, 34, 12);
    d.Add(tui::ControlKind::kButton, kCancelButton, "Cancel", 12, 34, 12).is_cancel = true;
    d.Add(tui::ControlKind::kCheck, kPopUpBox, "&Pop up folder on connect", 12, 0, 30).checked =
        pop_up;
    d.FocusFirst();
    d.on_command = [](tui::Dialog& dialog, int id) {
        tui::Control& list = *dialog.Find(kRows);
        if (id == kAddButton) {
            const std::string name = FolderName(FieldText(dialog));
            const bool present =
                std::any_of(list.items.begin(), list.items.end(),
                            [&name](const std::string& row) { return EqualNoCase(row, name); });
            if (name.empty() || present) {
                tui::Beep();
                return false;
            }
            list.items.push_back(name);
            list.list.SetCount(list.items.size());
            return false;
        }
        if (id == kDeleteButton) {
            const std::vector<size_t> chosen = list.list.Selection();
            if (list.items.empty() || chosen.empty()) {
                tui::Beep();
                return false;
            }
            for (auto it = chosen.rbegin(); it != chosen.rend(); ++it)
                list.items.erase(list.items.begin() + static_cast<std::ptrdiff_t>(*it));
            list.list.selected.assign(list.items.size(), false);
            list.list.SetCount(list.items.size());
            return false;
        }
        return id == kJoinButton || id == kRows || id == kNamesButton || id == kCloseButton ||
               id == kCancelButton;
    };
    const int result = tui::RunDialog(d);
    FolderChoice choice;
    switch (result) {
        case kJoinButton:
        case kRows:
            choice.action = FolderChoice::kJoin;
            break;
        case kNamesButton:
            choice.action = FolderChoice::kNames;
            break;
        case kCloseButton:
            choice.action = FolderChoice::kClose;
            break;
        default:
            return std::nullopt;
    }
    const tui::Control& list = *d.Find(kRows);
    choice.channels = list.items;
    for (size_t row : list.list.Selection())
        if (row < list.items.size()) choice.chosen.push_back(list.items[row]);
    choice.field = FieldText(d);
    choice.pop_up = d.Find(kPopUpBox)->checked;
    return choice;
}

}  // namespace chat
