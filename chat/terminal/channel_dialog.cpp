#include "chat/terminal/channel_dialog.h"

#include <algorithm>

#include "chat/core/windows/display_text.h"
#include "platform/tui/text.h"
#include "platform/tui/widgets.h"

namespace chat {
namespace {

enum ChannelControl : int {
    kLabelStatus = 10,
    kTopic = 11,
    kBoxFirst = 20,  // n, t, i, m, p, s in that order
    kKeyBox = 30,
    kKeyField = 31,
    kLimitBox = 32,
    kLimitField = 33,
    kBanLabel = 40,
    kBans = 41,
    kUnban = 42,
    kApply = 43,
};

constexpr const char* kModeBoxes[6] = {"&No external messages",
                                       "Only ops change &Topic",
                                       "&Invite only",
                                       "&Moderated",
                                       "&Private",
                                       "&Secret"};

std::string FieldText(tui::Dialog& d, int id) {
    return tui::EncodeUtf8(d.Find(id)->edit.text);
}

void SetField(tui::Control& c, const std::string& text) {
    c.edit.SetText(tui::DecodeText(text));
}

// A check box on row 8 with its field beside it (the field's id follows the box's).
void BoxWithField(tui::Dialog& dlg, int id, const char* text, bool on, const std::string& value,
                  int col, int width, bool enabled) {
    tui::Control& box = dlg.Add(tui::ControlKind::kCheck, id, text, 8, col, 16);
    box.checked = on;
    box.enabled = enabled;
    tui::Control& field = dlg.Add(tui::ControlKind::kEdit, id + 1, "", 8, col + 16, width);
    SetField(field, value);
    field.enabled = enabled;
}

}  // namespace

tui::Dialog MakeChannelCentral(const ChannelDialog& d) {
    tui::Dialog dlg;
    dlg.title = "Vesk Channel Central     ";
    dlg.rows = 19;
    dlg.cols = 66;
    using tui::ControlKind;
    dlg.Add(ControlKind::kLabel, kLabelStatus, d.label, 0, 0, 66);
    dlg.Add(ControlKind::kLabel, 0, "T&opic:", 2, 0, 7);
    tui::Control& topic = dlg.Add(ControlKind::kEdit, kTopic, "", 2, 8, 58);
    SetField(topic, d.topic);
    topic.enabled = !d.topic_locked;
    for (int i = 0; i < 6; ++i) {
        tui::Control& box = dlg.Add(ControlKind::kCheck, kBoxFirst + i, kModeBoxes[i], 4 + i % 3,
                                    i < 3 ? 0 : 30, 28);
        box.checked = d.modes[i];
        box.enabled = d.operator_;
    }
    BoxWithField(dlg, kKeyBox, "&Key:", d.key_on, d.key, 0, 12, d.operator_);
    BoxWithField(dlg, kLimitBox, "&Limited to:", d.limit_on, d.limit, 30, 8, d.operator_);
    dlg.Add(ControlKind::kLabel, kBanLabel, d.channel + " &ban list", 10, 0, 50);
    tui::Control& bans = dlg.Add(ControlKind::kList, kBans, "", 11, 0, 46, 8);
    for (const std::string& mask : d.bans) bans.items.push_back(DisplayText(mask));
    bans.list.multiple = true;
    bans.list.SetCount(bans.items.size());
    dlg.Add(ControlKind::kButton, kUnban, "&Unban", 11, 48, 18).enabled = d.operator_;
    tui::Control& apply = dlg.Add(ControlKind::kButton, kApply, " &Apply Changes", 13, 48, 18);
    apply.enabled = !d.topic_locked;
    apply.is_default = true;
    dlg.Add(ControlKind::kButton, tui::kIdCancel, "Cancel", 15, 48, 18).is_cancel = true;
    dlg.FocusFirst();
    return dlg;
}

ChannelDialog EditedChannelDialog(const ChannelDialog& shown, tui::Dialog& dialog) {
    ChannelDialog d = shown;
    d.topic = FieldText(dialog, kTopic);
    for (int i = 0; i < 6; ++i) d.modes[i] = dialog.Find(kBoxFirst + i)->checked;
    d.key_on = dialog.Find(kKeyBox)->checked;
    d.key = FieldText(dialog, kKeyField);
    d.limit_on = dialog.Find(kLimitBox)->checked;
    d.limit = FieldText(dialog, kLimitField);
    return d;
}

std::vector<std::string> ChosenBans(tui::Dialog& dialog) {
    const tui::Control& list = *dialog.Find(kBans);
    std::vector<std::string> masks;
    for (size_t row : list.list.Selection())
        if (row < list.items.size()) masks.push_back(list.items[row]);
    return masks;
}

void RunChannelCentral(const ChannelDialog& d) {
    tui::Dialog dlg = MakeChannelCentral(d);
    // The masks as the server sent them, row for row (the rows show them made displayable).
    std::vector<std::string> masks = d.bans;
    dlg.on_command = [&d, &masks](tui::Dialog& dialog, int id) {
        if (id == kUnban) {
            tui::Control& list = *dialog.Find(kBans);
            const std::vector<size_t> rows = list.list.Selection();
            std::vector<std::string> chosen;
            for (size_t row : rows)
                if (row < masks.size()) chosen.push_back(masks[row]);
            if (UnbanFromDialog(d, chosen) == DialogAction::kClose) return true;
            if (chosen.empty()) return false;
            // The lifted masks leave the list, so that they cannot be sent twice.
            for (auto it = rows.rbegin(); it != rows.rend(); ++it) {
                if (*it >= masks.size()) continue;
                masks.erase(masks.begin() + static_cast<std::ptrdiff_t>(*it));
                list.items.erase(list.items.begin() + static_cast<std::ptrdiff_t>(*it));
            }
            list.list.selected.assign(list.items.size(), false);
            list.list.SetCount(list.items.size());
            return false;
        }
        if (id == kApply) {
            const ChannelDialog edited = EditedChannelDialog(d, dialog);
            ApplyFromDialog(edited, edited.topic != d.topic);
            return true;
        }
        return id == tui::kIdCancel;
    };
    tui::RunDialog(dlg);
}

}  // namespace chat
