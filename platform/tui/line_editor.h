// The input line: editing, horizontal scrolling over one or two rows, history and pasting.
// Pure logic; the screen draws what Layout returns.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/tui/keys.h"

namespace tui {

/// An input history: an entry equal to an existing one (case ignored) moves to the end, the
/// oldest falls off past the limit, and browsing marks one entry as current.
struct EditHistory {
    size_t limit = 30;
    std::vector<std::u32string> entries;
    /// Index of the marked entry, or -1 when none is marked.
    long mark = -1;

    /// Records an entered line and clears the mark.
    void Add(const std::u32string& line);
    /// Moves the mark one entry back (from none: to the newest); false at the oldest.
    bool Previous(std::u32string& out);
    /// Moves the mark forward; past the newest the mark clears and `out` is empty; false when
    /// nothing is marked.
    bool Next(std::u32string& out);
};

/// What a key did to the line editor.
enum class EditResult {
    kUnhandled,   // not an editing key: the owner may use it
    kNone,        // handled, nothing changed (cursor at a limit)
    kChanged,     // text or cursor changed: redraw
    kEnter,       // Enter: the owner takes the text with Take()
    kPasteLines,  // a paste brought line breaks: Take() gives the whole text with '\n's
    kBeep,        // refused (full line, history end): the owner may beep
};

/// The visible part of the editor: up to `rows` strings and the cursor's cell.
struct EditorView {
    std::vector<std::u32string> rows;
    int cursor_row = 0;
    int cursor_col = 0;
};

/// A line editor of at most `limit` code points.
struct LineEditor {
    size_t limit = 600;
    /// Paste with line breaks: true hands the lines to the owner (kPasteLines); false joins
    /// them with blanks (single-line fields).
    bool multiline_paste = false;
    /// Up/Down browse `history` when set (otherwise they are left to the owner).
    bool use_history = true;
    EditHistory history;

    std::u32string text;
    size_t cursor = 0;
    /// First code point shown (horizontal scroll), kept by Layout.
    size_t scroll = 0;

    /// Replaces the text, cursor at its end (cut to the limit).
    void SetText(std::u32string value);
    /// Takes the text out and empties the editor (history is not touched).
    std::u32string Take();
    /// Inserts text at the cursor; controls are dropped and tabs become blanks; what does not
    /// fit in the limit is dropped. False when nothing could be inserted.
    bool Insert(std::u32string_view s);
    /// Applies one key.
    EditResult HandleKey(const Key& key);
    /// The visible rows for a field `width` columns wide and `rows` (1 or 2) high; moves the
    /// scroll so that the cursor is visible. Wide characters are never split.
    EditorView Layout(int width, int rows);

private:
    EditResult Paste(const std::u32string& s);
    size_t WordLeft() const;
    size_t WordRight() const;
};

}  // namespace tui
