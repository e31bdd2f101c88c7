#include "platform/tui/text_editor.h"

#include <algorithm>

#include "platform/tui/screen.h"
#include "platform/tui/text.h"
#include "platform/tui/widgets.h"

namespace tui {

namespace {

constexpr int kWheelLines = 3;

bool IsBlank(char32_t c) {
    return c == U' ' || c == U'\t';
}

}  // namespace

TextEditor::TextEditor(const std::vector<std::string>& lines) {
    if (lines.empty()) return;
    lines_.clear();
    lines_.reserve(lines.size());
    for (const std::string& l : lines) {
        EditLine e;
        e.text = DecodeText(l);
        e.original = l;
        chars_ += e.text.size();
        lines_.push_back(std::move(e));
    }
}

std::vector<std::string> TextEditor::Lines() const {
    std::vector<std::string> out;
    out.reserve(lines_.size());
    for (const EditLine& l : lines_) out.push_back(l.touched ? EncodeUtf8(l.text) : l.original);
    return out;
}

void TextEditor::SetCursor(size_t line, size_t col) {
    line_ = std::min(line, lines_.size() - 1);
    col_ = std::min(col, lines_[line_].text.size());
    goal_ = -1;
}

int TextEditor::CursorDisplayColumn() const {
    return TextWidth(std::u32string_view(lines_[line_].text).substr(0, col_));
}

// The character covering a display column (or the line's end when the line is shorter).
size_t TextEditor::ColumnAt(size_t line, int display_col) const {
    const std::u32string& t = lines_[line].text;
    int col = 0;
    for (size_t i = 0; i < t.size(); ++i) {
        const int w = CharWidth(t[i]);
        if (w > 0 && col + w > display_col) return i;
        col += w;
    }
    return t.size();
}

void TextEditor::Touch(size_t line) {
    lines_[line].touched = true;
    modified_ = true;
}

void TextEditor::Split() {
    EditLine tail;
    tail.text = lines_[line_].text.substr(col_);
    tail.touched = true;
    lines_[line_].text.resize(col_);
    Touch(line_);
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(line_) + 1, std::move(tail));
    ++line_;
    col_ = 0;
}

void TextEditor::JoinWithNext(size_t line) {
    lines_[line].text += lines_[line + 1].text;
    Touch(line);
    lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(line) + 1);
}

void TextEditor::MoveVertically(long lines) {
    if (goal_ < 0) goal_ = CursorDisplayColumn();
    const long last = static_cast<long>(lines_.size()) - 1;
    const long target = std::clamp(static_cast<long>(line_) + lines, 0L, last);
    line_ = static_cast<size_t>(target);
    col_ = ColumnAt(line_, goal_);
}

size_t TextEditor::WordLeft() const {
    const std::u32string& t = lines_[line_].text;
    size_t i = col_;
    while (i > 0 && IsBlank(t[i - 1])) --i;
    while (i > 0 && !IsBlank(t[i - 1])) --i;
    return i;
}

size_t TextEditor::WordRight() const {
    const std::u32string& t = lines_[line_].text;
    size_t i = col_;
    while (i < t.size() && !IsBlank(t[i])) ++i;
    while (i < t.size() && IsBlank(t[i])) ++i;
    return i;
}

bool TextEditor::Insert(std::u32string_view text) {
    std::u32string clean;
    clean.reserve(text.size());
    int column = CursorDisplayColumn();
    for (char32_t c : text) {
        if (c == U'\t') {
            // Blanks to the next tab stop, so a pasted table keeps its look.
            do {
                clean.push_back(U' ');
                ++column;
            } while (column % kTabStop != 0);
        } else if (c == U'\n') {
            clean.push_back(c);
            column = 0;
        } else if (!IsControl(c)) {
            clean.push_back(c);
            column += CharWidth(c);
        }
    }
    if (clean.empty()) return true;
    if (chars_ > max_chars_ || clean.size() > max_chars_ - chars_) return false;
    size_t start = 0;
    for (;;) {
        const size_t nl = clean.find(U'\n', start);
        const size_t end = nl == std::u32string::npos ? clean.size() : nl;
        if (end > start) {
            lines_[line_].text.insert(col_, clean, start, end - start);
            col_ += end - start;
            chars_ += end - start;
            Touch(line_);
        }
        if (nl == std::u32string::npos) break;
        Split();
        start = nl + 1;
    }
    goal_ = -1;
    return true;
}

TextEditResult TextEditor::HandleKey(const Key& key) {
    const std::u32string& t = lines_[line_].text;
    const bool at_end = col_ >= t.size();
    const bool last = line_ + 1 >= lines_.size();
    if (key.code == kKeyMouse) {
        if (key.button != kWheelUp && key.button != kWheelDown) return TextEditResult::kUnhandled;
        MoveVertically(key.button == kWheelUp ? -kWheelLines : kWheelLines);
        return TextEditResult::kChanged;
    }
    if (key.code == kKeyPaste)
        return Insert(key.text) ? TextEditResult::kChanged : TextEditResult::kBeep;
    if (key.Is(U's', false, true) || key.Is(kKeyF1 + 1)) return TextEditResult::kKeep;
    if (key.Is(kKeyEscape)) return TextEditResult::kLeave;

    // Keys that move up and down keep the column the cursor started from.
    if (key.Is(kKeyUp) || key.Is(kKeyDown) || key.Is(kKeyPageUp) || key.Is(kKeyPageDown)) {
        const long step = key.code == kKeyUp || key.code == kKeyDown ? 1 : std::max(page_ - 1, 1);
        const bool up = key.code == kKeyUp || key.code == kKeyPageUp;
        if (up ? line_ == 0 : last) return TextEditResult::kNone;
        MoveVertically(up ? -step : step);
        return TextEditResult::kChanged;
    }
    goal_ = -1;
    if (key.Is(kKeyLeft)) {
        if (col_ > 0) {
            do --col_;
            while (col_ > 0 && CharWidth(t[col_]) == 0);
        } else if (line_ > 0) {
            --line_;
            col_ = lines_[line_].text.size();
        } else {
            return TextEditResult::kNone;
        }
        return TextEditResult::kChanged;
    }
    if (key.Is(kKeyRight)) {
        if (!at_end) {
            do ++col_;
            while (col_ < t.size() && CharWidth(t[col_]) == 0);
        } else if (!last) {
            ++line_;
            col_ = 0;
        } else {
            return TextEditResult::kNone;
        }
        return TextEditResult::kChanged;
    }
    if (key.Is(kKeyLeft, false, true) || key.Is(kKeyRight, false, true)) {
        col_ = key.code == kKeyLeft ? WordLeft() : WordRight();
        return TextEditResult::kChanged;
    }
    if (key.Is(kKeyHome) || key.Is(kKeyEnd)) {
        col_ = key.code == kKeyHome ? 0 : t.size();
        return TextEditResult::kChanged;
    }
    if (key.Is(kKeyHome, false, true)) {
        line_ = col_ = 0;
        return TextEditResult::kChanged;
    }
    if (key.Is(kKeyEnd, false, true)) {
        line_ = lines_.size() - 1;
        col_ = lines_[line_].text.size();
        return TextEditResult::kChanged;
    }
    if (key.Is(kKeyEnter)) {
        Split();
        return TextEditResult::kChanged;
    }
    if (key.Is(kKeyTab)) return Insert(U"\t") ? TextEditResult::kChanged : TextEditResult::kBeep;
    if (key.Is(kKeyBackspace)) {
        if (col_ > 0) {
            size_t from = col_ - 1;
            while (from > 0 && CharWidth(t[from]) == 0) --from;  // a mark goes with its base
            lines_[line_].text.erase(from, col_ - from);
            chars_ -= col_ - from;
            col_ = from;
            Touch(line_);
        } else if (line_ > 0) {
            --line_;
            col_ = lines_[line_].text.size();
            JoinWithNext(line_);
        } else {
            return TextEditResult::kNone;
        }
        return TextEditResult::kChanged;
    }
    if (key.Is(kKeyDelete)) {
        if (!at_end) {
            size_t to = col_ + 1;
            while (to < t.size() && CharWidth(t[to]) == 0) ++to;
            lines_[line_].text.erase(col_, to - col_);
            chars_ -= to - col_;
            Touch(line_);
        } else if (!last) {
            JoinWithNext(line_);
        } else {
            return TextEditResult::kNone;
        }
        return TextEditResult::kChanged;
    }
    if (key.Is(U'y', false, true)) {  // Ctrl+Y: the whole line goes
        chars_ -= t.size();
        if (lines_.size() == 1) {
            lines_[0].text.clear();
            Touch(0);
        } else {
            lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(line_));
            modified_ = true;
            line_ = std::min(line_, lines_.size() - 1);
        }
        col_ = 0;
        return TextEditResult::kChanged;
    }
    if (key.IsChar()) {
        const char32_t c = key.code;
        return Insert(std::u32string_view(&c, 1)) ? TextEditResult::kChanged
                                                  : TextEditResult::kBeep;
    }
    return TextEditResult::kUnhandled;
}

void TextEditor::Click(int row, int col) {
    const size_t target = top_ + static_cast<size_t>(std::max(row, 0));
    line_ = std::min(target, lines_.size() - 1);
    col_ = ColumnAt(line_, left_ + std::max(col, 0));
    goal_ = -1;
}

TextEditorView TextEditor::Layout(int width, int height) {
    width = std::max(width, 1);
    height = std::max(height, 1);
    page_ = height;
    if (line_ < top_) top_ = line_;
    if (line_ >= top_ + static_cast<size_t>(height)) top_ = line_ - static_cast<size_t>(height) + 1;
    const int cursor = CursorDisplayColumn();
    // Scrolling sideways leaves a quarter of the width of context behind the cursor.
    if (cursor < left_) left_ = std::max(0, cursor - width / 4);
    if (cursor >= left_ + width) left_ = cursor - width * 3 / 4;

    TextEditorView view;
    for (size_t i = top_; i < lines_.size() && i < top_ + static_cast<size_t>(height); ++i) {
        std::u32string row;
        int col = 0;
        bool shown = false;  // the last base character made it onto the row
        for (char32_t c : lines_[i].text) {
            const int w = CharWidth(c);
            if (w == 0) {
                if (shown) row.push_back(c);
                continue;
            }
            const int start = col;
            col += w;
            shown = false;
            if (col <= left_) continue;
            if (start < left_) {
                row.append(static_cast<size_t>(col - left_), U' ');  // half a wide character
                continue;
            }
            if (col - left_ > width) break;
            row.push_back(c);
            shown = true;
        }
        view.rows.push_back(std::move(row));
    }
    view.cursor_row = static_cast<int>(line_ - top_);
    view.cursor_col = cursor - left_;
    return view;
}

std::optional<std::vector<std::string>> RunTextEditor(const std::string& title,
                                                      const std::vector<std::string>& lines,
                                                      const TextEditorCheck& check) {
    if (!GetScreen().active) return std::nullopt;
    TextEditor editor(lines);
    std::optional<std::vector<std::string>> result;
    std::string message;
    bool done = false;
    auto area = [] {
        const Screen& s = GetScreen();
        return Rect{1, 1, std::max(1, s.rows - 3), std::max(1, s.cols - 2)};
    };
    // Keeps the lines when the check lets them through; otherwise says why and stays.
    auto keep = [&]() {
        std::vector<std::string> out = editor.Lines();
        std::string refused = check ? check(out) : std::string();
        if (!refused.empty()) {
            message = refused;
            Beep();
            return false;
        }
        result = std::move(out);
        return done = true;
    };
    Layer layer;
    layer.draw = [&] {
        const Screen& s = GetScreen();
        const Theme& theme = GetTheme();
        DrawFrame({0, 0, s.rows, s.cols}, title, theme.dialog);
        const Rect r = area();
        const TextEditorView v = editor.Layout(r.width, r.height);
        for (int i = 0; i < r.height; ++i) {
            const size_t row = static_cast<size_t>(i);
            const StyledLine line = MakeLine(row < v.rows.size() ? v.rows[row] : U"");
            PutCells(r.y + i, r.x, r.width, line, 0, line.size());
        }
        std::string status = message;
        if (status.empty()) {
            status = "Ctrl+S/F2 Keep  Esc Leave  Ctrl+Y Delete line   Line " +
                     std::to_string(editor.CursorLine() + 1) + "/" +
                     std::to_string(editor.LineCount()) + " Col " +
                     std::to_string(editor.CursorColumn() + 1) +
                     (editor.Modified() ? "  [changed]" : "");
        }
        PutText(s.rows - 2, 1, std::max(0, s.cols - 2), status,
                message.empty() ? theme.bar : theme.highlight);
        Screen& screen = GetScreen();
        screen.cursor_y = r.y + v.cursor_row;
        screen.cursor_x = r.x + std::min(v.cursor_col, r.width - 1);
        screen.cursor_visible = true;
    };
    layer.on_key = [&](const Key& key) {
        if (key.code == kKeyResize) return true;
        message.clear();
        if (key.code == kKeyMouse && key.button == kMouseLeft) {
            const Rect r = area();
            if (key.y >= r.y && key.y < r.y + r.height && key.x >= r.x && key.x < r.x + r.width)
                editor.Click(key.y - r.y, key.x - r.x);
            RequestRedraw();
            return true;
        }
        switch (editor.HandleKey(key)) {
            case TextEditResult::kKeep:
                keep();
                break;
            case TextEditResult::kLeave:
                if (!editor.Modified()) {
                    done = true;
                    break;
                }
                switch (ShowMessageBox(title, "Keep the changes?", MessageButtons::kYesNoCancel)) {
                    case kIdYes:
                        keep();
                        break;
                    case kIdNo:
                        done = true;
                        break;
                    default:
                        break;
                }
                break;
            case TextEditResult::kBeep:
                message = "The text is full";
                Beep();
                break;
            default:
                break;
        }
        RequestRedraw();
        return true;  // modal: nothing below sees keys
    };
    if (!RunModal(layer, [&done] { return done; })) return std::nullopt;
    return result;
}

}  // namespace tui
