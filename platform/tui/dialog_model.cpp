#include "platform/tui/dialog_model.h"

#include <algorithm>
#include <cwctype>

#include "platform/tui/menu_model.h"
#include "platform/tui/text.h"

namespace tui {

Control& Dialog::Add(ControlKind kind, int id, std::string text, int row, int col, int width,
                     int height) {
    Control c;
    c.kind = kind;
    c.id = id;
    c.text = std::move(text);
    c.row = row;
    c.col = col;
    c.width = width;
    c.height = height;
    if (kind == ControlKind::kList) c.list.SetPage(static_cast<size_t>(std::max(height, 1)));
    if (kind == ControlKind::kEdit) c.edit.use_history = false;
    controls.push_back(std::move(c));
    return controls.back();
}

Control* Dialog::Find(int id) {
    for (Control& c : controls) {
        if (c.id == id) return &c;
    }
    return nullptr;
}

int Dialog::CheckedRadio(int group) const {
    for (const Control& c : controls) {
        if (c.kind == ControlKind::kRadio && c.group == group && c.checked) return c.id;
    }
    return 0;
}

bool Dialog::Focusable(size_t i) const {
    return i < controls.size() && controls[i].kind != ControlKind::kLabel && controls[i].enabled;
}

void Dialog::FocusFirst() {
    for (size_t i = 0; i < controls.size(); ++i) {
        if (Focusable(i)) {
            focus = i;
            return;
        }
    }
}

void Dialog::MoveFocus(int dir) {
    const size_t n = controls.size();
    if (n == 0) return;
    size_t i = focus;
    for (size_t tries = 0; tries < n; ++tries) {
        i = (i + n + dir) % n;
        if (Focusable(i)) {
            focus = i;
            return;
        }
    }
}

void Dialog::SelectRadio(size_t index) {
    Control& r = controls[index];
    for (Control& c : controls) {
        if (c.kind == ControlKind::kRadio && c.group == r.group) c.checked = false;
    }
    r.checked = true;
}

DialogEvent Dialog::Command(size_t index) {
    const Control& c = controls[index];
    const int id = c.id;
    // A Help button never ends a dialog: the owner shows the topic and the dialog stays.
    if (c.kind == ControlKind::kButton && id == kIdHelp) return DialogEvent::kHelp;
    if (on_command) {
        if (on_command(*this, id)) {
            result = id;
            return DialogEvent::kEnded;
        }
        return result >= 0 ? DialogEvent::kEnded : DialogEvent::kChanged;
    }
    if (c.kind == ControlKind::kButton) {
        result = id;
        return DialogEvent::kEnded;
    }
    return DialogEvent::kChanged;
}

DialogEvent Dialog::Press(int id) {
    for (size_t i = 0; i < controls.size(); ++i) {
        if (controls[i].id == id && controls[i].enabled) return Command(i);
    }
    return DialogEvent::kNone;
}

DialogEvent Dialog::ByLetter(char32_t letter) {
    letter = static_cast<char32_t>(std::towlower(static_cast<wint_t>(letter)));
    for (size_t i = 0; i < controls.size(); ++i) {
        Control& c = controls[i];
        if (!c.enabled || MenuMnemonic(c.text) != letter) continue;
        switch (c.kind) {
            case ControlKind::kLabel:
                // A label's letter moves to the control that follows it.
                for (size_t j = i + 1; j < controls.size(); ++j) {
                    if (Focusable(j)) {
                        focus = j;
                        return DialogEvent::kChanged;
                    }
                }
                return DialogEvent::kNone;
            case ControlKind::kCheck:
                focus = i;
                c.checked = !c.checked;
                return Command(i);
            case ControlKind::kRadio:
                focus = i;
                SelectRadio(i);
                return Command(i);
            case ControlKind::kButton:
                focus = i;
                return Command(i);
            default:
                focus = i;
                return DialogEvent::kChanged;
        }
    }
    return DialogEvent::kNone;
}

DialogEvent Dialog::HandleKey(const Key& key) {
    if (result >= 0) return DialogEvent::kEnded;
    if (key.code == kKeyF1 && !key.alt && !key.ctrl) return DialogEvent::kHelp;
    if (key.code == kKeyTab && !key.alt && !key.ctrl) {
        MoveFocus(key.shift ? -1 : 1);
        return DialogEvent::kChanged;
    }
    if (key.code == kKeyEscape) {
        for (const Control& c : controls) {
            if (c.kind == ControlKind::kButton && c.is_cancel) return Press(c.id);
        }
        result = kIdCancel;
        return DialogEvent::kEnded;
    }
    if (key.alt && key.code < kKeyNone) return ByLetter(key.code);
    if (focus < controls.size()) {
        Control& c = controls[focus];
        switch (c.kind) {
            case ControlKind::kEdit: {
                const std::u32string before = on_edit ? c.edit.text : std::u32string();
                const EditResult r = c.edit.HandleKey(key);
                if (r == EditResult::kChanged || r == EditResult::kNone) {
                    if (on_edit && c.edit.text != before) on_edit(*this, c.id);
                    return DialogEvent::kChanged;
                }
                if (r == EditResult::kBeep) return DialogEvent::kNone;
                break;  // Enter and the rest: the dialog's keys
            }
            case ControlKind::kList: {
                const ListResult r = c.list.HandleKey(key);
                if (r == ListResult::kActivate) {
                    if (on_command) return Command(focus);
                    break;  // Enter on a list presses the default button
                }
                if (r != ListResult::kUnhandled) return DialogEvent::kChanged;
                break;
            }
            case ControlKind::kCheck:
                if (key.Is(U' ')) {
                    c.checked = !c.checked;
                    return Command(focus);
                }
                break;
            case ControlKind::kRadio:
                if (key.Is(U' ')) {
                    SelectRadio(focus);
                    return Command(focus);
                }
                if (key.Is(kKeyUp) || key.Is(kKeyDown) || key.Is(kKeyLeft) || key.Is(kKeyRight)) {
                    const int dir = key.code == kKeyUp || key.code == kKeyLeft ? -1 : 1;
                    const size_t n = controls.size();
                    for (size_t i = (focus + n + dir) % n; i != focus; i = (i + n + dir) % n) {
                        if (controls[i].kind == ControlKind::kRadio &&
                            controls[i].group == c.group && controls[i].enabled) {
                            focus = i;
                            SelectRadio(i);
                            return Command(i);
                        }
                    }
                    return DialogEvent::kNone;
                }
                break;
            case ControlKind::kButton:
                if (key.Is(U' ') || key.Is(kKeyEnter)) return Command(focus);
                if (key.Is(kKeyLeft) || key.Is(kKeyUp)) {
                    MoveFocus(-1);
                    return DialogEvent::kChanged;
                }
                if (key.Is(kKeyRight) || key.Is(kKeyDown)) {
                    MoveFocus(1);
                    return DialogEvent::kChanged;
                }
                break;
            case ControlKind::kLabel:
                break;
        }
        // Outside text fields a plain letter works like Alt+letter.
        if (key.IsChar() && c.kind != ControlKind::kEdit) {
            return ByLetter(key.code);
        }
    }
    if (key.Is(kKeyEnter)) {
        for (const Control& c : controls) {
            if (c.kind == ControlKind::kButton && c.is_default && c.enabled) return Press(c.id);
        }
        return DialogEvent::kNone;
    }
    return DialogEvent::kNone;
}

DialogEvent Dialog::Click(int row, int col, bool double_click) {
    if (result >= 0) return DialogEvent::kEnded;
    for (size_t i = 0; i < controls.size(); ++i) {
        Control& c = controls[i];
        if (row < c.row || row >= c.row + c.height || col < c.col || col >= c.col + c.width) {
            continue;
        }
        if (!Focusable(i)) return DialogEvent::kNone;
        focus = i;
        switch (c.kind) {
            case ControlKind::kCheck:
                c.checked = !c.checked;
                return Command(i);
            case ControlKind::kRadio:
                SelectRadio(i);
                return Command(i);
            case ControlKind::kButton:
                return Command(i);
            case ControlKind::kList:
                if (c.list.Click(row - c.row, false, false, double_click) ==
                    ListResult::kActivate) {
                    return Command(i);
                }
                return DialogEvent::kChanged;
            case ControlKind::kEdit: {
                // Put the cursor under the click, counting display columns from the scroll.
                int x = 0;
                size_t pos = c.edit.scroll;
                while (pos < c.edit.text.size() && x + CharWidth(c.edit.text[pos]) <= col - c.col) {
                    x += CharWidth(c.edit.text[pos]);
                    ++pos;
                }
                c.edit.cursor = pos;
                return DialogEvent::kChanged;
            }
            case ControlKind::kLabel:
                return DialogEvent::kNone;
        }
    }
    return DialogEvent::kNone;
}

Dialog MakeMessageBox(const std::string& title, const std::string& text, MessageButtons buttons,
                      bool help, int screen_cols) {
    struct Button {
        const char* label;
        int id;
    };
    std::vector<Button> row;
    switch (buttons) {
        case MessageButtons::kOk:
            row = {{"OK", kIdOk}};
            break;
        case MessageButtons::kOkCancel:
            row = {{"OK", kIdOk}, {"Cancel", kIdCancel}};
            break;
        case MessageButtons::kYesNo:
            row = {{"&Yes", kIdYes}, {"&No", kIdNo}};
            break;
        case MessageButtons::kYesNoCancel:
            row = {{"&Yes", kIdYes}, {"&No", kIdNo}, {"Cancel", kIdCancel}};
            break;
    }
    if (help) row.push_back({"&Help", kIdHelp});
    int buttons_width = -2;
    for (const Button& b : row) buttons_width += static_cast<int>(MenuLabel(b.label).size()) + 6;

    const int max_width = std::max(10, std::min(60, screen_cols - 6));
    // The text keeps its own line breaks ("\r\n", "\r" or "\n") and wraps by display width.
    std::vector<StyledLine> lines;
    std::string current;
    for (size_t i = 0; i <= text.size(); ++i) {
        const bool end = i == text.size();
        const char c = end ? '\n' : text[i];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            const StyledLine line = MakeLine(std::string_view(current));
            for (const RowSpan& span : WrapLine(line, max_width)) {
                lines.emplace_back(line.begin() + static_cast<long>(span.begin),
                                   line.begin() + static_cast<long>(span.end));
            }
            current.clear();
        } else {
            current.push_back(c);
        }
    }
    int text_width = 0;
    for (const StyledLine& l : lines) text_width = std::max(text_width, LineWidth(l));

    Dialog d;
    d.title = title;
    d.cols = std::max({text_width, buttons_width, static_cast<int>(title.size()) + 2}) + 2;
    d.rows = static_cast<int>(lines.size()) + 2;
    int r = 0;
    for (const StyledLine& l : lines) {
        d.Add(ControlKind::kLabel, -1, EncodeUtf8(LineText(l)), r++, 1, LineWidth(l));
        // The text is not a set of "&" letters: keep it literal.
        std::string& t = d.controls.back().text;
        std::string escaped;
        for (char ch : t) {
            if (ch == '&') escaped.push_back('&');
            escaped.push_back(ch);
        }
        t = std::move(escaped);
    }
    int x = (d.cols - buttons_width) / 2;
    for (size_t i = 0; i < row.size(); ++i) {
        const int w = static_cast<int>(MenuLabel(row[i].label).size()) + 4;
        Control& b = d.Add(ControlKind::kButton, row[i].id, row[i].label, r + 1, x, w);
        b.is_default = i == 0;
        x += w + 2;
    }
    const int cancel = buttons == MessageButtons::kOk      ? kIdOk
                       : buttons == MessageButtons::kYesNo ? kIdNo
                                                           : kIdCancel;
    for (Control& c : d.controls) {
        if (c.kind == ControlKind::kButton && c.id == cancel) c.is_cancel = true;
    }
    d.FocusFirst();
    return d;
}

}  // namespace tui
