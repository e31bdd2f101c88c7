// Text as the screen shows it: bytes from the wire made safe UTF-8, measured in display
// columns, and wrapped into display lines.
#pragma once

#include <functional>
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
/// As WrapText, handing each line to `emit` as it is made: the line is `indent` blanks followed
/// by `piece`, a part of `text`.
void WrapEach(std::string_view text, int limit, int indent, bool indent_counts,
              const std::function<void(std::string_view piece, size_t indent)>& emit);

}  // namespace chat
