#include "platform/tui/line_editor.h"

#include <algorithm>
#include <cwctype>

#include "platform/tui/text.h"

namespace tui {

namespace {

bool EqualIgnoringCase(const std::u32string& a, const std::u32string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::towlower(static_cast<wint_t>(a[i])) != std::towlower(static_cast<wint_t>(b[i]))) {
            return false;
        }
    }
    return true;
}

bool IsWordChar(char32_t c) {
    return c != U' ';
}

}  // namespace

void EditHistory::Add(const std::u32string& line) {
    mark = -1;
    if (line.empty() || limit == 0) return;
    auto same = std::find_if(entries.begin(), entries.end(),
                             [&](const std::u32string& e) { return EqualIgnoringCase(e, line); });
    if (same != entries.end()) {
        std::u32string kept = std::move(*same);
        entries.erase(same);
        entries.push_back(std::move(kept));
        return;
    }
    if (entries.size() >= limit) entries.erase(entries.begin());
    entries.push_back(line);
}

bool EditHistory::Previous(std::u32string& out) {
    if (entries.empty()) return false;
    if (mark < 0) {
        mark = static_cast<long>(entries.size()) - 1;
    } else if (mark == 0) {
        return false;
    } else {
        --mark;
    }
    out = entries[static_cast<size_t>(mark)];
    return true;
}

bool EditHistory::Next(std::u32string& out) {
    if (mark < 0) return false;
    if (static_cast<size_t>(mark) + 1 >= entries.size()) {
        mark = -1;
        out.clear();
        return true;
    }
    ++mark;
    out = entries[static_cast<size_t>(mark)];
    return true;
}

void LineEditor::SetText(std::u32string value) {
    if (value.size() > limit) value.resize(limit);
    text = std::move(value);
    cursor = text.size();
    scroll = 0;
}

std::u32string LineEditor::Take() {
    std::u32string out = std::move(text);
    text.clear();
    cursor = 0;
    scroll = 0;
    return out;
}

bool LineEditor::Insert(std::u32string_view s) {
    std::u32string clean;
    for (char32_t c : s) {
        if (c == U'\t') c = U' ';
        if (IsControl(c) || c >= kKeyNone) continue;
        clean.push_back(c);
    }
    const size_t room = limit > text.size() ? limit - text.size() : 0;
    if (clean.size() > room) clean.resize(room);
    if (clean.empty()) return false;
    text.insert(cursor, clean);
    cursor += clean.size();
    return true;
}

size_t LineEditor::WordLeft() const {
    size_t i = cursor;
    while (i > 0 && !IsWordChar(text[i - 1])) --i;
    while (i > 0 && IsWordChar(text[i - 1])) --i;
    return i;
}

size_t LineEditor::WordRight() const {
    size_t i = cursor;
    while (i < text.size() && !IsWordChar(text[i])) ++i;
    while (i < text.size() && IsWordChar(text[i])) ++i;
    return i;
}

EditResult LineEditor::Paste(const std::u32string& s) {
    bool has_break = s.find_first_of(U"\r\n") != std::u32string::npos;
    if (!has_break || !multiline_paste) {
        std::u32string flat;
        for (size_t i = 0; i < s.size(); ++i) {
            char32_t c = s[i];
            if (c == U'\r' && i + 1 < s.size() && s[i + 1] == U'\n') continue;
            flat.push_back(c == U'\r' || c == U'\n' ? U' ' : c);
        }
        // A paste that ends in a line break in a single-line field leaves no trailing blank.
        while (has_break && !flat.empty() && flat.back() == U' ') flat.pop_back();
        return Insert(flat) ? EditResult::kChanged : EditResult::kBeep;
    }
    // Several lines: the whole text with the paste in place goes to the owner, one '\n'
    // between lines. Controls are dropped here as they are when typed.
    std::u32string whole = text.substr(0, cursor);
    for (size_t i = 0; i < s.size(); ++i) {
        char32_t c = s[i];
        if (c == U'\r') {
            if (i + 1 < s.size() && s[i + 1] == U'\n') continue;
            c = U'\n';
        }
        if (c == U'\t') c = U' ';
        if (c != U'\n' && (IsControl(c) || c >= kKeyNone)) continue;
        whole.push_back(c);
    }
    whole += text.substr(cursor);
    text = std::move(whole);
    cursor = text.size();
    return EditResult::kPasteLines;
}

EditResult LineEditor::HandleKey(const Key& key) {
    const size_t before_cursor = cursor;
    const size_t before_size = text.size();
    auto changed = [&] {
        return cursor != before_cursor || text.size() != before_size ? EditResult::kChanged
                                                                     : EditResult::kNone;
    };
    if (key.code == kKeyPaste) return Paste(key.text);
    if (key.IsChar())
        return Insert(std::u32string(1, key.code)) ? EditResult::kChanged : EditResult::kBeep;
    if (key.alt) return EditResult::kUnhandled;
    const bool plain = !key.ctrl && !key.shift;
    switch (key.code) {
        case kKeyEnter:
            return key.ctrl ? EditResult::kUnhandled : EditResult::kEnter;
        case kKeyBackspace:
            if (cursor == 0) return EditResult::kNone;
            text.erase(--cursor, 1);
            return EditResult::kChanged;
        case kKeyDelete:
            if (!plain) return EditResult::kUnhandled;
            if (cursor < text.size()) text.erase(cursor, 1);
            return changed();
        case kKeyLeft:
            if (key.shift) return EditResult::kUnhandled;
            cursor = key.ctrl ? WordLeft() : (cursor > 0 ? cursor - 1 : 0);
            return changed();
        case kKeyRight:
            if (key.shift) return EditResult::kUnhandled;
            cursor = key.ctrl ? WordRight() : std::min(cursor + 1, text.size());
            return changed();
        case kKeyHome:
            if (!plain) return EditResult::kUnhandled;
            cursor = 0;
            return changed();
        case kKeyEnd:
            if (!plain) return EditResult::kUnhandled;
            cursor = text.size();
            return changed();
        case kKeyUp:
        case kKeyDown: {
            if (!use_history || !plain) return EditResult::kUnhandled;
            std::u32string entry;
            const bool ok = key.code == kKeyUp ? history.Previous(entry) : history.Next(entry);
            if (!ok) return EditResult::kBeep;
            SetText(std::move(entry));
            return EditResult::kChanged;
        }
        default:
            break;
    }
    if (key.ctrl && !key.shift) {
        switch (key.code) {
            case U'a':
                cursor = 0;
                return changed();
            case U'e':
                cursor = text.size();
                return changed();
            case U'b':
                cursor = cursor > 0 ? cursor - 1 : 0;
                return changed();
            case U'f':
                cursor = std::min(cursor + 1, text.size());
                return changed();
            case U'd':
                if (cursor < text.size()) text.erase(cursor, 1);
                return changed();
            case U'k':
                text.erase(cursor);
                return changed();
            case U'u':
                text.erase(0, cursor);
                cursor = 0;
                return changed();
            case U'w': {
                const size_t from = WordLeft();
                text.erase(from, cursor - from);
                cursor = from;
                return changed();
            }
            default:
                break;
        }
    }
    return EditResult::kUnhandled;
}

EditorView LineEditor::Layout(int width, int rows) {
    EditorView view;
    if (width < 2) width = 2;
    if (rows < 1) rows = 1;
    cursor = std::min(cursor, text.size());
    // One cell per code point, so that indexes into the line are indexes into the text.
    StyledLine line(text.size());
    for (size_t i = 0; i < text.size(); ++i) line[i].ch = text[i];
    if (rows == 1) {
        if (scroll > cursor) scroll = cursor;
        // Keep a few columns of context to the left when scrolling back.
        auto width_between = [&](size_t a, size_t b) {
            int w = 0;
            for (size_t i = a; i < b; ++i) w += CellWidth(line[i]);
            return w;
        };
        while (scroll < cursor && width_between(scroll, cursor) + 1 > width) ++scroll;
        if (width_between(0, cursor) + 1 <= width) scroll = 0;
        const size_t end = FitCells(line, scroll, line.size(), width);
        view.rows.push_back(text.substr(scroll, end - scroll));
        view.cursor_col = width_between(scroll, cursor);
        return view;
    }
    // Several rows: the text flows from row to row; the view moves a whole row at a time.
    std::vector<size_t> starts{0};
    for (size_t pos = 0;;) {
        const size_t end = FitCells(line, pos, line.size(), width);
        if (end >= line.size()) {
            // The cursor after a full last row needs a row of its own.
            int used = 0;
            for (size_t i = pos; i < end; ++i) used += CellWidth(line[i]);
            if (used >= width && end > pos) starts.push_back(end);
            break;
        }
        pos = end > pos ? end : pos + 1;
        starts.push_back(pos);
    }
    size_t cursor_row = 0;
    while (cursor_row + 1 < starts.size() && starts[cursor_row + 1] <= cursor) ++cursor_row;
    size_t first = 0;
    while (first + 1 < starts.size() && starts[first + 1] <= scroll) ++first;
    if (cursor_row < first) first = cursor_row;
    if (cursor_row >= first + static_cast<size_t>(rows)) first = cursor_row + 1 - rows;
    scroll = starts[first];
    for (size_t r = first; r < starts.size() && r < first + static_cast<size_t>(rows); ++r) {
        const size_t end = r + 1 < starts.size() ? starts[r + 1] : text.size();
        view.rows.push_back(text.substr(starts[r], end - starts[r]));
    }
    view.cursor_row = static_cast<int>(cursor_row - first);
    int col = 0;
    for (size_t i = starts[cursor_row]; i < cursor; ++i) col += CellWidth(line[i]);
    view.cursor_col = col;
    return view;
}

}  // namespace tui
