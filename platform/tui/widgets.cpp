#include "platform/tui/widgets.h"

#include <algorithm>

namespace tui {

namespace {

int LabelWidth(const std::string& text) {
    return TextWidth(DecodeText(MenuLabel(text)));
}

// Draws a label with its "&" letter underlined; returns the columns used.
int PutLabel(int y, int x, int width, const std::string& text, Style style, Style letter) {
    StyledLine line = MakeLine(std::string_view(MenuLabel(text)), style);
    const int col = MnemonicColumn(text);
    if (col >= 0 && static_cast<size_t>(col) < line.size()) {
        line[static_cast<size_t>(col)].style = letter;
    }
    const int w = std::min(width, LineWidth(line));
    PutCells(y, x, w, line, 0, line.size(), style);
    return w;
}

int BarX(const MenuBar& bar, size_t index) {
    int x = 1;
    for (size_t i = 0; i < index && i < bar.items.size(); ++i) {
        x += LabelWidth(bar.items[i].text) + 2;
    }
    return x;
}

int PopupWidth(const std::vector<MenuItem>& items) {
    int label = 0, shortcut = 0;
    for (const MenuItem& m : items) {
        label = std::max(label, LabelWidth(m.text));
        shortcut = std::max(shortcut, TextWidth(DecodeText(MenuShortcut(m.text))));
    }
    return label + (shortcut ? shortcut + 2 : 0) + 6;  // frame, check column, submenu mark
}

Rect PopupRect(const MenuBar& bar, size_t level) {
    const Screen& s = GetScreen();
    const std::vector<MenuItem>* items = bar.state.PopupItems(level);
    if (!items) return {};
    Rect r;
    r.width = std::min(PopupWidth(*items), s.cols);
    r.height = std::min(static_cast<int>(items->size()) + 2, std::max(s.rows - 1, 3));
    if (level == 1) {
        r.y = bar.row + 1;
        r.x = BarX(bar, bar.state.path[0]) - 1;
    } else {
        const Rect parent = PopupRect(bar, level - 1);
        r.y = parent.y + 1 + static_cast<int>(bar.state.path[level - 1]);
        r.x = parent.x + parent.width - 1;
    }
    r.x = std::max(0, std::min(r.x, s.cols - r.width));
    r.y = std::max(0, std::min(r.y, s.rows - r.height));
    return r;
}

Style Styled(Style base, uint8_t flags) {
    base.flags |= flags;
    return base;
}

void ClickMenu(MenuBar& bar, const Key& key) {
    MenuState& st = bar.state;
    if (key.y == bar.row) {
        for (size_t i = 0; i < bar.items.size(); ++i) {
            const int x = BarX(bar, i);
            if (key.x >= x - 1 && key.x < x + LabelWidth(bar.items[i].text) + 1) {
                if (st.IsOpen() && !st.bar_only && st.path[0] == i)
                    st.Close();
                else
                    st.Open(i);
                return;
            }
        }
        st.Close();
        return;
    }
    for (size_t level = st.path.size() > 1 ? st.path.size() - 1 : 0; level >= 1; --level) {
        const Rect r = PopupRect(bar, level);
        if (key.y > r.y && key.y < r.y + r.height - 1 && key.x >= r.x && key.x < r.x + r.width) {
            const size_t index = static_cast<size_t>(key.y - r.y - 1);
            const std::vector<MenuItem>* items = st.PopupItems(level);
            if (!items || index >= items->size() || (*items)[index].separator) return;
            st.path.resize(level + 1);
            st.path[level] = index;
            const MenuResult res = st.HandleKey(MakeKey(kKeyEnter));
            if (res.kind == MenuResult::kCommand && bar.on_command) bar.on_command(res.command);
            return;
        }
    }
    st.Close();
}

}  // namespace

Theme& GetTheme() {
    static Theme theme;
    return theme;
}

bool MenuBarKey(MenuBar& bar, const Key& key) {
    MenuState& st = bar.state;
    st.bar = &bar.items;
    if (key.code == kKeyMouse) {
        if (key.button != kMouseLeft) return st.IsOpen();
        if (!st.IsOpen() && key.y != bar.row) return false;
        ClickMenu(bar, key);
        return true;
    }
    if (key.code == kKeyResize) return false;
    if (!st.IsOpen()) {
        if (key.Is(kKeyF1 + 9)) {
            st.OpenBar();
            return true;
        }
        if (key.alt && !key.ctrl && key.code < kKeyNone && st.OpenByLetter(key.code)) return true;
        return false;
    }
    const MenuResult r = st.HandleKey(key);
    if (r.kind == MenuResult::kCommand && bar.on_command) bar.on_command(r.command);
    return true;  // an open menu takes every key
}

void DrawMenuBar(MenuBar& bar, int width) {
    const Theme& t = GetTheme();
    bar.state.bar = &bar.items;
    FillRect({bar.row, 0, 1, width}, t.bar);
    for (size_t i = 0; i < bar.items.size(); ++i) {
        const int x = BarX(bar, i);
        if (x >= width) break;
        const bool open = bar.state.IsOpen() && bar.state.path[0] == i;
        const Style s = open ? Styled(t.popup, 0) : t.bar;
        PutText(bar.row, x - 1, 1, " ", s);
        const int w = PutLabel(bar.row, x, width - x, bar.items[i].text, s,
                               open ? Styled(t.popup, kUnderline) : t.bar_letter);
        if (x + w < width) PutText(bar.row, x + w, 1, " ", s);
    }
}

void DrawMenuPopups(MenuBar& bar) {
    const Theme& t = GetTheme();
    MenuState& st = bar.state;
    st.bar = &bar.items;
    if (!st.IsOpen() || st.bar_only) return;
    for (size_t level = 1; level < st.path.size(); ++level) {
        const std::vector<MenuItem>* items = st.PopupItems(level);
        if (!items) break;
        const Rect r = PopupRect(bar, level);
        DrawFrame(r, "", t.popup);
        const int inner = r.width - 2;
        for (size_t i = 0; i < items->size() && static_cast<int>(i) < r.height - 2; ++i) {
            const MenuItem& m = (*items)[i];
            const int y = r.y + 1 + static_cast<int>(i);
            if (m.separator) {
                for (int k = 0; k < inner; ++k) PutText(y, r.x + 1 + k, 1, "-", t.popup);
                continue;
            }
            const bool current = st.path[level] == i;
            Style s = current ? t.highlight : t.popup;
            if (!m.enabled) s = Styled(s, kDim);
            FillRect({y, r.x + 1, 1, inner}, s);
            if (m.checked) PutText(y, r.x + 1, 1, "*", s);
            PutLabel(y, r.x + 2, inner - 2, m.text, s, Styled(s, kUnderline));
            const std::string shortcut = MenuShortcut(m.text);
            const int sw = TextWidth(DecodeText(shortcut));
            if (!shortcut.empty() && sw < inner - 2) {
                PutText(y, r.x + 1 + inner - 1 - sw, sw, shortcut, s);
            }
            if (!m.items.empty()) PutText(y, r.x + inner, 1, ">", s);
        }
    }
}

std::vector<ColumnSpan> LayoutToolbar(const Toolbar& bar) {
    std::vector<ColumnSpan> spans;
    int x = 0;
    for (const ToolButton& b : bar.buttons) {
        const int w = b.hidden ? 0 : LabelWidth(b.text) + 4;
        spans.push_back(ColumnSpan{x, w});
        if (w) x += w + 1;
    }
    return spans;
}

void DrawToolbar(const Toolbar& bar, int width) {
    const Theme& t = GetTheme();
    FillRect({bar.row, 0, 1, width}, {});
    const std::vector<ColumnSpan> spans = LayoutToolbar(bar);
    for (size_t i = 0; i < bar.buttons.size(); ++i) {
        const ToolButton& b = bar.buttons[i];
        if (!spans[i].width || spans[i].x >= width) continue;
        const Style s = b.enabled ? t.bar : t.disabled;
        const int w = std::min(spans[i].width, width - spans[i].x);
        PutText(bar.row, spans[i].x, w, "[ ", s);
        if (w > 2) PutLabel(bar.row, spans[i].x + 2, w - 2, b.text, s, Styled(s, kUnderline));
        if (w == spans[i].width) PutText(bar.row, spans[i].x + w - 2, 2, " ]", s);
    }
}

int ToolbarClick(const Toolbar& bar, const Key& mouse) {
    if (mouse.code != kKeyMouse || mouse.button != kMouseLeft || mouse.y != bar.row) return 0;
    const std::vector<ColumnSpan> spans = LayoutToolbar(bar);
    for (size_t i = 0; i < bar.buttons.size(); ++i) {
        if (spans[i].width && mouse.x >= spans[i].x && mouse.x < spans[i].x + spans[i].width) {
            return bar.buttons[i].enabled ? bar.buttons[i].command : 0;
        }
    }
    return 0;
}

void DrawListView(ListView& view, const Rect& r, bool focused) {
    if (r.height <= 0 || r.width <= 0) return;
    const Theme& t = GetTheme();
    const std::vector<ColumnSpan> spans = LayoutColumns(view.columns, r.width);
    int y = r.y;
    if (view.header) {
        FillRect({y, r.x, 1, r.width}, t.bar);
        for (size_t c = 0; c < spans.size(); ++c) {
            std::string title = view.columns[c].title;
            if (static_cast<int>(c) == view.sort_column) title += "*";
            const int tw = std::min(TextWidth(DecodeText(title)), spans[c].width);
            const int x =
                view.columns[c].right_align ? spans[c].x + spans[c].width - tw : spans[c].x;
            PutText(y, r.x + x, tw, title, t.bar);
        }
        ++y;
    }
    const int rows = r.y + r.height - y;
    view.model.SetPage(static_cast<size_t>(std::max(rows, 1)));
    for (int i = 0; i < rows; ++i) {
        const size_t row = view.model.top + static_cast<size_t>(i);
        if (row >= view.model.count) break;
        Style s = view.model.IsSelected(row) ? t.highlight : Style{};
        if (focused && row == view.model.cursor && !view.model.IsSelected(row)) s = t.selected;
        FillRect({y + i, r.x, 1, r.width}, s);
        for (size_t c = 0; c < spans.size(); ++c) {
            if (spans[c].width <= 0) continue;
            const std::string text = view.cell ? view.cell(row, c) : std::string();
            const StyledLine line = MakeLine(std::string_view(text), s);
            const int w = std::min(LineWidth(line), spans[c].width);
            const int x =
                view.columns[c].right_align ? spans[c].x + spans[c].width - w : spans[c].x;
            PutCells(y + i, r.x + x, w, line, 0, line.size(), s);
        }
        if (focused && row == view.model.cursor) {
            GetScreen().cursor_y = y + i;
            GetScreen().cursor_x = r.x;
        }
    }
}

ListResult ListViewClick(ListView& view, const Rect& r, const Key& mouse, int* header_column) {
    if (header_column) *header_column = -1;
    if (mouse.y < r.y || mouse.y >= r.y + r.height || mouse.x < r.x || mouse.x >= r.x + r.width) {
        return ListResult::kUnhandled;
    }
    if (view.header && mouse.y == r.y) {
        const std::vector<ColumnSpan> spans = LayoutColumns(view.columns, r.width);
        for (size_t c = 0; c < spans.size(); ++c) {
            if (mouse.x - r.x >= spans[c].x && mouse.x - r.x < spans[c].x + spans[c].width + 1) {
                if (header_column) *header_column = static_cast<int>(c);
                return ListResult::kChanged;
            }
        }
        return ListResult::kNone;
    }
    const int row = mouse.y - r.y - (view.header ? 1 : 0);
    return view.model.Click(row, mouse.ctrl, mouse.shift, mouse.double_click, mouse.button);
}

void DrawEditor(LineEditor& editor, const Rect& r, bool focused, bool password, Style style) {
    if (r.width <= 0 || r.height <= 0) return;
    const EditorView v = editor.Layout(r.width, r.height);
    for (int i = 0; i < r.height; ++i) {
        std::u32string row = static_cast<size_t>(i) < v.rows.size() ? v.rows[static_cast<size_t>(i)]
                                                                    : std::u32string();
        if (password) row.assign(row.size(), U'*');
        const StyledLine line = MakeLine(row, style);
        PutCells(r.y + i, r.x, r.width, line, 0, line.size(), style);
    }
    if (focused) {
        Screen& s = GetScreen();
        s.cursor_y = r.y + v.cursor_row;
        s.cursor_x = r.x + std::min(v.cursor_col, r.width - 1);
        s.cursor_visible = true;
    }
}

Rect DialogRect(const Dialog& d) {
    const Screen& s = GetScreen();
    Rect r;
    r.width = std::min(d.cols + 2, s.cols);
    r.height = std::min(d.rows + 2, s.rows);
    r.x = std::max(0, (s.cols - r.width) / 2);
    r.y = std::max(0, (s.rows - r.height) / 2);
    return r;
}

void DrawDialog(Dialog& d) {
    const Theme& t = GetTheme();
    const Rect frame = DialogRect(d);
    DrawFrame(frame, d.title, t.dialog);
    const int ox = frame.x + 1, oy = frame.y + 1;
    const int max_x = frame.x + frame.width - 1, max_y = frame.y + frame.height - 1;
    for (size_t i = 0; i < d.controls.size(); ++i) {
        Control& c = d.controls[i];
        const int y = oy + c.row, x = ox + c.col;
        if (y >= max_y || x >= max_x) continue;  // clipped by a small screen
        const int w = std::min(c.width, max_x - x);
        const int h = std::min(c.height, max_y - y);
        const bool focused = i == d.focus;
        Style s = c.enabled ? t.dialog : t.disabled;
        switch (c.kind) {
            case ControlKind::kLabel:
                PutLabel(y, x, w, c.text, s, Styled(s, kUnderline));
                break;
            case ControlKind::kEdit:
                DrawEditor(c.edit, {y, x, h, w}, focused, c.password, t.field);
                break;
            case ControlKind::kCheck:
            case ControlKind::kRadio: {
                const bool radio = c.kind == ControlKind::kRadio;
                const std::string mark =
                    radio ? (c.checked ? "(*) " : "( ) ") : (c.checked ? "[X] " : "[ ] ");
                if (focused) s = Styled(s, kBold);
                PutText(y, x, std::min(4, w), mark, s);
                if (w > 4) PutLabel(y, x + 4, w - 4, c.text, s, Styled(s, kUnderline));
                if (focused) {
                    GetScreen().cursor_y = y;
                    GetScreen().cursor_x = x + 1;
                    GetScreen().cursor_visible = true;
                }
                break;
            }
            case ControlKind::kList: {
                ListView view;
                view.header = false;
                view.columns = {{"", w, false, true}};
                view.model = c.list;
                view.cell = [&c](size_t row, size_t) {
                    return row < c.items.size() ? c.items[row] : std::string();
                };
                view.model.SetCount(c.items.size());
                DrawListView(view, {y, x, h, w}, focused);
                c.list = view.model;
                break;
            }
            case ControlKind::kButton: {
                const Style bs = focused ? t.focused_button : s;
                const int lw = LabelWidth(c.text);
                const int pad = std::max(0, (w - 2 - lw) / 2);
                PutText(y, x, w, "", bs);
                PutText(y, x, 1, c.is_default ? "<" : "[", bs);
                PutLabel(y, x + 1 + pad, std::max(0, w - 2 - pad), c.text, bs,
                         Styled(bs, kUnderline));
                if (w >= 2) PutText(y, x + w - 1, 1, c.is_default ? ">" : "]", bs);
                break;
            }
        }
    }
}

bool RunModal(Layer& layer, const std::function<bool()>& done) {
    // Without a screen nobody could answer: give up at once rather than wait forever.
    if (!GetScreen().active) return false;
    PushLayer(&layer);
    Redraw();
    platform::MSG msg;
    bool quit = false;
    while (!done()) {
        if (!platform::GetMessage(msg)) {
            platform::PostQuitMessage(static_cast<int>(msg.wParam));
            quit = true;
            break;
        }
        platform::DispatchMessage(msg);
    }
    RemoveLayer(&layer);
    Redraw();
    return !quit;
}

int RunDialog(Dialog& d, const std::function<void()>& on_help) {
    if (d.focus >= d.controls.size() || !d.Focusable(d.focus)) d.FocusFirst();
    Layer layer;
    layer.draw = [&d] { DrawDialog(d); };
    layer.on_key = [&d, &on_help](const Key& key) {
        DialogEvent e = DialogEvent::kNone;
        if (key.code == kKeyMouse) {
            if (key.button != kMouseLeft) return true;
            const Rect r = DialogRect(d);
            e = d.Click(key.y - r.y - 1, key.x - r.x - 1, key.double_click);
        } else if (key.code != kKeyResize) {
            e = d.HandleKey(key);
        }
        if (e == DialogEvent::kHelp && on_help) on_help();
        return true;  // modal: nothing below sees keys
    };
    if (!RunModal(layer, [&d] { return d.result >= 0; })) d.result = kIdCancel;
    return d.result;
}

void ShowTextViewer(const std::string& title, const std::vector<std::string>& lines) {
    TextView view;
    view.limit = std::max<size_t>(lines.size(), 1);
    for (const std::string& line : lines) view.Append(MakeLine(std::string_view(line)), 1 << 20);
    bool done = false;
    auto area = [] {
        const Screen& s = GetScreen();
        return Rect{1, 1, std::max(0, s.rows - 2), std::max(0, s.cols - 2)};
    };
    view.Scroll(-(1L << 40), area().width, area().height);  // start at the top
    Layer layer;
    layer.draw = [&] {
        const Screen& s = GetScreen();
        DrawFrame({0, 0, s.rows, s.cols}, title, GetTheme().dialog);
        const Rect r = area();
        DrawTextView(view, r, true);
    };
    layer.on_key = [&](const Key& key) {
        const Rect r = area();
        if (key.Is(kKeyEscape) || key.Is(kKeyEnter)) {
            done = true;
        } else if (key.Is(kKeyUp) || key.Is(kKeyDown)) {
            view.Scroll(key.code == kKeyUp ? -1 : 1, r.width, r.height);
        } else if (key.Is(kKeyHome) || key.Is(kKeyEnd)) {
            view.Scroll(key.code == kKeyHome ? -(1L << 40) : (1L << 40), r.width, r.height);
        } else {
            view.HandleKey(key, r.width, r.height);
        }
        return true;
    };
    RunModal(layer, [&done] { return done; });
}

bool InputBox(const std::string& title, const std::string& prompt, std::string& value,
              bool password, size_t limit) {
    const int width = std::max(20, std::min(50, GetScreen().cols - 4));
    Dialog d;
    d.title = title;
    d.cols = width;
    d.rows = 4;
    // The prompt is text, not a set of "&" letters.
    std::string label;
    for (char c : prompt) {
        if (c == '&') label.push_back('&');
        label.push_back(c);
    }
    d.Add(ControlKind::kLabel, -1, label, 0, 1, width - 2);
    Control& field = d.Add(ControlKind::kEdit, 100, "", 1, 1, width - 2);
    field.password = password;
    field.edit.limit = limit;
    field.edit.SetText(DecodeText(value));
    const int x = (width - 20) / 2;
    d.Add(ControlKind::kButton, kIdOk, "OK", 3, x, 8).is_default = true;
    d.Add(ControlKind::kButton, kIdCancel, "Cancel", 3, x + 10, 10).is_cancel = true;
    d.focus = 1;
    if (RunDialog(d) != kIdOk) return false;
    value = EncodeUtf8(d.Find(100)->edit.text);
    return true;
}

int ShowMessageBox(const std::string& title, const std::string& text, MessageButtons buttons,
                   const std::function<void()>& on_help) {
    Dialog d = MakeMessageBox(title, text, buttons, static_cast<bool>(on_help), GetScreen().cols);
    return RunDialog(d, on_help);
}

}  // namespace tui
