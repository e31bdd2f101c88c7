// Text as the terminal shows it: bytes decoded to code points, cells of one or two display
// columns with a style, and wrapping by display width. No curses here, so it is testable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tui {

/// Colour value meaning "the terminal's default colour".
constexpr uint8_t kDefaultColor = 0xFF;

/// Attribute bits of a Style.
enum StyleFlags : uint8_t {
    kBold = 1,
    kUnderline = 2,
    kReverse = 4,
    kItalic = 8,
    kDim = 16,
};

/// How a cell is drawn: foreground and background (0-15 or kDefaultColor) and attribute bits.
struct Style {
    uint8_t fg = kDefaultColor;
    uint8_t bg = kDefaultColor;
    uint8_t flags = 0;
    friend bool operator==(const Style&, const Style&) = default;
};

/// One character on screen: a base code point with at most one combining mark.
struct Cell {
    char32_t ch = U' ';
    char32_t mark = 0;
    Style style;
};

/// A line of styled cells, in logical order.
using StyledLine = std::vector<Cell>;

/// Decodes bytes as UTF-8 when the whole text is valid UTF-8, otherwise as Windows-1252.
std::u32string DecodeText(std::string_view bytes);
/// True when the bytes are well-formed UTF-8 (no overlongs, surrogates or values past U+10FFFF).
bool IsValidUtf8(std::string_view bytes);
/// Encodes code points as UTF-8 (invalid code points become U+FFFD).
std::string EncodeUtf8(std::u32string_view text);

/// Sets the character type locale from the environment, falling back to C.UTF-8 when that is
/// not a UTF-8 locale, so that wcwidth knows wide characters; false when neither works.
bool EnsureUtf8Locale();
/// True for C0 controls, DEL and C1 controls: never sent to the terminal as they are.
bool IsControl(char32_t c);
/// Display columns of one code point: 0 for combining marks, 1 or 2 otherwise; a control
/// counts as the two columns of its "^X" form; an unprintable code point as one ("?").
int CharWidth(char32_t c);
/// Display columns of a text.
int TextWidth(std::u32string_view text);
/// Display columns of a cell (its base code point).
inline int CellWidth(const Cell& cell) {
    return CharWidth(cell.ch);
}
/// Display columns of a styled line.
int LineWidth(const StyledLine& line);

/// Appends text to a line in a style; controls become "^X" (DEL "^?", C1 "^" and the letter of
/// its 7-bit form) in reverse video, combining marks join the cell before them, and other
/// unprintable code points show as "?".
void AppendText(StyledLine& line, std::u32string_view text, Style style = {});
/// A styled line of plain text (same rules as AppendText).
StyledLine MakeLine(std::u32string_view text, Style style = {});
/// A styled line from bytes (DecodeText, then AppendText).
StyledLine MakeLine(std::string_view bytes, Style style = {});
/// The code points of a styled line (marks included), for tests and searching.
std::u32string LineText(const StyledLine& line);

/// A display row cut from a line: cells [begin, end) shown after `indent` blank columns.
struct RowSpan {
    size_t begin = 0;
    size_t end = 0;
    int indent = 0;
};

/// Cuts a line into rows of at most `width` columns. A row breaks after the last blank that
/// lies in its last quarter, else hard at the width; a wide character never splits (it moves
/// to the next row). Rows after the first get `indent` blank columns (kept below the width).
/// An empty line gives one empty row; a width below 1 counts as 1.
std::vector<RowSpan> WrapLine(const StyledLine& line, int width, int indent = 0);

/// The longest prefix of cells [begin, end) that fits in `width` columns; returns its end.
size_t FitCells(const StyledLine& line, size_t begin, size_t end, int width);

}  // namespace tui
