// Text as the screen shows it: bytes from the wire made safe UTF-8, measured in display
// columns, and wrapped into display lines.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace chat {

/// Bytes from the wire or a file made fit for the terminal: shown as UTF-8 when valid,
/// otherwise as Windows-1252; IRC formatting codes (bold, colour with its numbers, reverse,
/// underline, italic, reset) and every other control character removed, tabs as one blank.
std::string DisplayText(std::string_view raw);
/// As DisplayText, into `out` (replacing what it held), so that a caller can reuse its storage.
void DisplayTextInto(std::string_view raw, std::string& out);

/// Display columns of UTF-8 text (wide characters count 2, combining marks 0).
int DisplayColumns(std::string_view utf8);

/// Wraps display text into lines of at most `limit` columns (at least one character per line):
/// a line that does not fit breaks after the last blank in its final quarter (the blank is
/// dropped), else hard at the limit, never inside a character. Continuation lines get `indent`
/// blanks in front (at most 25) and their limit shrinks by the indent when `indent_counts`.
std::vector<std::string> WrapText(std::string_view text, int limit, int indent, bool indent_counts);
/// Where a wrapped line starting at `pos` of `text` ends (`end`) and where the next one starts
/// (`next`, past a blank broken at), for lines of `room` columns (at least one character).
struct WrapBreak {
    size_t end;
    size_t next;
};
WrapBreak NextWrapBreak(std::string_view text, size_t pos, int room);

/// As WrapText, handing each line to `emit(piece, indent)` as it is made: the line is `indent`
/// blanks followed by `piece`, a part of `text`.
template <typename Emit>
void WrapEach(std::string_view text, int limit, int indent, bool indent_counts, Emit&& emit) {
    if (indent > 25) indent = 25;
    if (indent < 0) indent = 0;
    size_t pos = 0;
    bool first = true;
    while (pos < text.size()) {
        int room = limit - ((!first && indent_counts) ? indent : 0);
        const WrapBreak b = NextWrapBreak(text, pos, room < 1 ? 1 : room);
        emit(text.substr(pos, b.end - pos), first ? size_t{0} : static_cast<size_t>(indent));
        pos = b.next;
        first = false;
    }
}

}  // namespace chat
