#include "chat/terminal/settings_dialog.h"

#include <algorithm>

#include "platform/tui/menu_model.h"
#include "platform/tui/text.h"

namespace chat {
namespace {

int LabelWidth(const std::string& label) {
    return tui::TextWidth(tui::DecodeText(tui::MenuLabel(label)));
}

// A text shown as it is: an "&" in it is no letter.
std::string Literal(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '&') out.push_back('&');
        out.push_back(c);
    }
    return out;
}

bool IsField(SettingKind k) {
    return k == SettingKind::kText || k == SettingKind::kPassword || k == SettingKind::kFolder ||
           k == SettingKind::kNumber;
}

void AddField(tui::Dialog& d, const Setting& s, int id, const std::string& value, int row, int col,
              int width) {
    tui::Control& e = d.Add(tui::ControlKind::kEdit, id, "", row, col, width);
    e.edit.limit = s.kind == SettingKind::kNumber ? 11 : (s.limit ? s.limit : 600);
    e.edit.SetText(tui::DecodeText(value));
    e.password = s.kind == SettingKind::kPassword;
}

}  // namespace

tui::Dialog MakePagedDialog(const std::string& title, const std::vector<std::string>& pages,
                            int page) {
    tui::Dialog d;
    d.title = title;
    d.rows = kPagedRows;
    d.cols = kPagedCols;
    const int step = static_cast<int>(pages.size()) * 2 <= kPagedRows - 2 ? 2 : 1;
    for (size_t i = 0; i < pages.size(); ++i)
        d.Add(tui::ControlKind::kButton, kIdFirstPage + static_cast<int>(i), pages[i],
              static_cast<int>(i) * step, 0, 13);
    if (page >= 1 && page <= static_cast<int>(pages.size())) {
        const std::string name = tui::MenuLabel(pages[static_cast<size_t>(page) - 1]);
        d.Add(tui::ControlKind::kLabel, 0, Literal("\u2500\u2500 " + name + " \u2500\u2500"), 0,
              kPageLeft, kPageWidth);
    }
    tui::Control& ok =
        d.Add(tui::ControlKind::kButton, tui::kIdOk, "OK", kPagedRows - 1, kPagedCols - 24, 10);
    ok.is_default = true;
    tui::Control& cancel = d.Add(tui::ControlKind::kButton, tui::kIdCancel, "Cancel",
                                 kPagedRows - 1, kPagedCols - 12, 10);
    cancel.is_cancel = true;
    d.on_command = [](tui::Dialog& dialog, int id) {
        const tui::Control* c = dialog.Find(id);
        return c && (c->kind == tui::ControlKind::kButton || c->kind == tui::ControlKind::kList);
    };
    return d;
}

int AddSettings(tui::Dialog& d, const SettingsPage& page, const PageValues& values, int row) {
    const int left = kPageLeft, width = kPageWidth, half = kPageWidth / 2;
    const std::vector<Setting>& list = page.settings;
    auto value = [&values](size_t i) { return i < values.size() ? values[i] : std::string(); };
    int label_width = 0;
    for (const Setting& s : list)
        if (IsField(s.kind)) label_width = std::max(label_width, LabelWidth(s.label) + 1);
    label_width = std::min(label_width, 26);
    for (size_t i = 0; i < list.size(); ++i, ++row) {
        const Setting& s = list[i];
        const int id = kIdFirstSetting + static_cast<int>(i);
        const bool next_same = i + 1 < list.size() && list[i + 1].kind == s.kind;
        switch (s.kind) {
            case SettingKind::kCheck: {
                // Short check boxes go two to a row.
                const bool pair = next_same && LabelWidth(s.label) + 5 <= half &&
                                  LabelWidth(list[i + 1].label) + 5 <= half;
                d.Add(tui::ControlKind::kCheck, id, s.label, row, left, pair ? half : width)
                    .checked = value(i) == "1";
                if (pair) {
                    ++i;
                    d.Add(tui::ControlKind::kCheck, id + 1, list[i].label, row, left + half, half)
                        .checked = value(i) == "1";
                }
                break;
            }
            case SettingKind::kNumber: {
                const bool pair = next_same && LabelWidth(s.label) + 10 <= half &&
                                  LabelWidth(list[i + 1].label) + 10 <= half;
                const int lw = pair ? half - 9 : label_width;
                d.Add(tui::ControlKind::kLabel, 0, s.label, row, left, lw);
                AddField(d, s, id, value(i), row, left + lw, 8);
                if (pair) {
                    ++i;
                    d.Add(tui::ControlKind::kLabel, 0, list[i].label, row, left + half, lw);
                    AddField(d, list[i], id + 1, value(i), row, left + half + lw, 8);
                }
                break;
            }
            case SettingKind::kText:
            case SettingKind::kPassword:
            case SettingKind::kFolder:
                d.Add(tui::ControlKind::kLabel, 0, s.label, row, left, label_width);
                AddField(d, s, id, value(i), row, left + label_width, width - label_width);
                break;
            case SettingKind::kChoice: {
                int col = left;
                d.Add(tui::ControlKind::kLabel, 0, s.label, row, col, LabelWidth(s.label) + 1);
                col += LabelWidth(s.label) + 1;
                for (size_t k = 0; k < s.choices.size(); ++k) {
                    const int w = LabelWidth(s.choices[k]) + 5;
                    tui::Control& r =
                        d.Add(tui::ControlKind::kRadio,
                              kIdFirstChoice + 16 * static_cast<int>(i) + static_cast<int>(k),
                              s.choices[k], row, col, w);
                    r.group = static_cast<int>(i) + 1;
                    r.checked = value(i) == std::to_string(k);
                    col += w + 1;
                }
                break;
            }
            case SettingKind::kNote:
                d.Add(tui::ControlKind::kLabel, 0, Literal(s.label), row, left, width);
                break;
        }
    }
    return row;
}

void ReadSettings(tui::Dialog& d, const SettingsPage& page, PageValues& values) {
    values.resize(page.settings.size());
    for (size_t i = 0; i < page.settings.size(); ++i) {
        const Setting& s = page.settings[i];
        const int id = kIdFirstSetting + static_cast<int>(i);
        if (s.kind == SettingKind::kCheck) {
            if (const tui::Control* c = d.Find(id)) values[i] = c->checked ? "1" : "0";
        } else if (IsField(s.kind)) {
            if (d.Find(id)) values[i] = FieldText(d, id);
        } else if (s.kind == SettingKind::kChoice) {
            for (size_t k = 0; k < s.choices.size(); ++k) {
                const tui::Control* r =
                    d.Find(kIdFirstChoice + 16 * static_cast<int>(i) + static_cast<int>(k));
                if (r && r->checked) values[i] = std::to_string(k);
            }
        }
    }
}

void FocusControl(tui::Dialog& d, int id) {
    for (size_t i = 0; i < d.controls.size(); ++i) {
        if (d.controls[i].id == id && d.Focusable(i)) {
            d.focus = i;
            return;
        }
    }
    // Else the page's first control: Enter there means OK, not another page.
    for (size_t i = 0; i < d.controls.size(); ++i) {
        if (d.controls[i].id >= kIdFirstSetting && d.Focusable(i)) {
            d.focus = i;
            return;
        }
    }
    d.FocusFirst();
}

std::string FieldText(tui::Dialog& d, int id) {
    const tui::Control* c = d.Find(id);
    return c ? tui::EncodeUtf8(c->edit.text) : std::string();
}

}  // namespace chat
