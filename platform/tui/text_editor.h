// A multi-line text editor: lines of any length in a viewport that scrolls both ways, with
// the usual cursor keys, joins and splits. The model is pure logic; RunTextEditor draws it
// full-screen and runs it modally.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/tui/keys.h"

namespace tui {

/// What a key did to the text editor.
enum class TextEditResult {
    kUnhandled,  // not the editor's key
    kNone,       // handled, nothing changed (cursor at a limit)
    kChanged,    // text, cursor or view changed: redraw
    kBeep,       // refused (the text is full)
    kKeep,       // Ctrl+S or F2: the owner takes the lines
    kLeave,      // Escape: the owner asks about unsaved changes
};

/// The visible part of the editor: one string per screen row (the columns from `left` on,
/// cut to the width without splitting a wide character) and the cursor's cell.
struct TextEditorView {
    std::vector<std::u32string> rows;
    int cursor_row = 0;
    int cursor_col = 0;
};

/// The editor's text and cursor.
class TextEditor {
public:
    /// Blanks a Tab inserts up to (the next multiple of this many columns).
    static constexpr int kTabStop = 4;
    /// Code points the whole text may hold: far beyond any script, a bound on a runaway paste.
    static constexpr size_t kMaxChars = size_t{16} << 20;

    TextEditor() = default;
    /// Starts on these lines (UTF-8, or Windows-1252 where a line is not UTF-8), cursor at the
    /// top, unmodified.
    explicit TextEditor(const std::vector<std::string>& lines);

    /// The lines as bytes. A line the user did not touch comes back byte for byte as given;
    /// an edited one as UTF-8.
    std::vector<std::string> Lines() const;
    /// Number of lines (at least 1).
    size_t LineCount() const { return lines_.size(); }
    /// One line's code points.
    const std::u32string& Line(size_t i) const { return lines_[i].text; }
    /// True once the text differs from what it started with (or was edited at all).
    bool Modified() const { return modified_; }
    /// Cursor: line index and code point index within the line.
    size_t CursorLine() const { return line_; }
    size_t CursorColumn() const { return col_; }
    /// Lowers (or raises) the bound on the whole text's code points.
    void SetMaxChars(size_t n) { max_chars_ = n; }
    /// Moves the cursor (clamped to the text).
    void SetCursor(size_t line, size_t col);

    /// Applies one key, paste or mouse wheel. PgUp/PgDn move by the height of the last Layout.
    TextEditResult HandleKey(const Key& key);
    /// Inserts text at the cursor; '\n' splits the line, '\r' and other controls but Tab are
    /// dropped. False (nothing inserted) when the text would pass kMaxChars.
    bool Insert(std::u32string_view text);
    /// A click on a cell of the viewport (row and column from its top left): the cursor goes
    /// to the character there, or to the end of a shorter line, or to the last line.
    void Click(int row, int col);
    /// The rows shown in a viewport of width x height; scrolls so the cursor is visible.
    TextEditorView Layout(int width, int height);

    /// First line shown and first display column shown (for tests and the status row).
    size_t Top() const { return top_; }
    int Left() const { return left_; }

private:
    struct EditLine {
        std::u32string text;
        std::string original;  // the bytes given, returned while the line is untouched
        bool touched = false;
    };

    int CursorDisplayColumn() const;
    size_t ColumnAt(size_t line, int display_col) const;
    void Touch(size_t line);
    void Split();
    void JoinWithNext(size_t line);
    void MoveVertically(long lines);
    size_t WordLeft() const;
    size_t WordRight() const;

    std::vector<EditLine> lines_{EditLine{}};
    size_t line_ = 0, col_ = 0;
    size_t top_ = 0;
    int left_ = 0;
    int goal_ = -1;  // display column kept while moving up and down; -1: the cursor's own
    int page_ = 10;  // viewport height of the last Layout
    size_t chars_ = 0;
    size_t max_chars_ = kMaxChars;
    bool modified_ = false;
};

/// A check run before the lines are kept: an empty text accepts them, anything else is
/// shown in the status row and the editor stays open.
using TextEditorCheck = std::function<std::string(const std::vector<std::string>& lines)>;

/// Edits lines full-screen: a frame with the title, the text, and a status row with the keys
/// and the cursor's place. Ctrl+S or F2 keeps (after `check`), Escape leaves, asking first
/// whether to keep the changes when there are any. The kept lines, or nothing when the user
/// left without keeping or no screen is running.
std::optional<std::vector<std::string>> RunTextEditor(const std::string& title,
                                                      const std::vector<std::string>& lines,
                                                      const TextEditorCheck& check = {});

}  // namespace tui
