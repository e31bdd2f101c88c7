#include "chat/core/windows/display_text.h"

#include <string.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <cwchar>

#include "chat/core/windows/byte_scan.h"
#include "platform/codepage.h"

namespace chat {
namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
bool IsHex(char c) {
    return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// Length of the UTF-8 sequence starting with b (1 for a stray byte, so walking never stalls).
size_t SequenceLength(unsigned char b) {
    if (b < 0xC0) return 1;
    if (b < 0xE0) return 2;
    if (b < 0xF0) return 3;
    return 4;
}

char32_t Decode(std::string_view s, size_t at, size_t len) {
    auto b = [&](size_t i) { return static_cast<unsigned char>(s[at + i]); };
    switch (len) {
        case 2:
            return ((b(0) & 0x1Fu) << 6) | (b(1) & 0x3Fu);
        case 3:
            return ((b(0) & 0x0Fu) << 12) | ((b(1) & 0x3Fu) << 6) | (b(2) & 0x3Fu);
        case 4:
            return ((b(0) & 0x07u) << 18) | ((b(1) & 0x3Fu) << 12) | ((b(2) & 0x3Fu) << 6) |
                   (b(3) & 0x3Fu);
        default:
            return b(0);
    }
}

// Length of the well-formed UTF-8 sequence at `at` (a byte of 0x80 or above), or 0 when it is
// not one: stray continuation bytes, overlong forms, surrogates, values past U+10FFFF and
// sequences cut short all fail. The checks are on the bytes, so nothing is decoded.
inline size_t ValidSequence(std::string_view s, size_t at) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(s.data()) + at;
    const size_t left = s.size() - at;
    auto follows = [p](size_t k) { return (p[k] & 0xC0) == 0x80; };
    const unsigned char c = p[0];
    if (c < 0xC2) return 0;
    if (c < 0xE0) return left >= 2 && follows(1) ? 2 : 0;
    if (c < 0xF0) {
        if (left < 3 || !follows(1) || !follows(2)) return 0;
        if (c == 0xE0 && p[1] < 0xA0) return 0;   // overlong: below U+0800
        if (c == 0xED && p[1] >= 0xA0) return 0;  // U+D800 to U+DFFF
        return 3;
    }
    if (c > 0xF4 || left < 4 || !follows(1) || !follows(2) || !follows(3)) return 0;
    if (c == 0xF0 && p[1] < 0x90) return 0;   // overlong: below U+10000
    if (c == 0xF4 && p[1] >= 0x90) return 0;  // past U+10FFFF
    return 4;
}

// Characters in UTF-8 text, counted as the wrapping walks them.
size_t CharacterCount(std::string_view s) {
    size_t count = 0;
    for (size_t i = 0; i < s.size(); ++count)
        i += std::min(SequenceLength(static_cast<unsigned char>(s[i])), s.size() - i);
    return count;
}

int CodepointColumns(char32_t cp) {
    // Latin letters and signs up to U+02FF are one column in every UTF-8 locale.
    if (cp < 0x300) return 1;
    int w = ::wcwidth(static_cast<wchar_t>(cp));
    // Without a UTF-8 locale wcwidth knows nothing; one column is the safe guess.
    return w < 0 ? 1 : w;
}

// At a control byte: skips it with whatever belongs to it (a colour's numbers). Returns the
// index after it. (A tab is shown as one blank: the callers write that.)
size_t SkipCode(std::string_view raw, size_t i) {
    char c = raw[i];
    size_t j = i + 1;
    if (c == '\x03') {  // colour: up to two digits, then optionally ",", up to two digits
        for (int n = 0; n < 2 && j < raw.size() && IsDigit(raw[j]); ++n) ++j;
        if (j > i + 1 && j + 1 < raw.size() && raw[j] == ',' && IsDigit(raw[j + 1])) {
            ++j;
            for (int n = 0; n < 2 && j < raw.size() && IsDigit(raw[j]); ++n) ++j;
        }
    } else if (c == '\x04') {  // hex colour: up to six hex digits
        for (int n = 0; n < 6 && j < raw.size() && IsHex(raw[j]); ++n) ++j;
    }
    // bold, reset, reverse, italic, underline and every other control byte: dropped
    return j;
}

// Text that is not valid UTF-8: codes removed and every other byte read as Windows-1252.
void Windows1252Fallback(std::string_view raw, std::string& out) {
    out.clear();
    out.reserve(raw.size() + raw.size() / 2);
    const size_t n = raw.size();
    size_t run = 0;  // start of the bytes not yet copied
    for (size_t i = 0; i < n;) {
        i = FirstNotPrintable(raw, i, n);
        if (i >= n) break;
        out.append(raw.substr(run, i - run));
        unsigned char c = static_cast<unsigned char>(raw[i]);
        if (c >= 0x80) {
            platform::AppendUtf8(out, platform::Windows1252ToUnicode(c));
            ++i;
        } else {
            if (c == '\t') out.push_back(' ');
            i = SkipCode(raw, i);
        }
        run = i;
    }
    out.append(raw.substr(run));
}

}  // namespace

std::string DisplayText(std::string_view raw) {
    std::string out;
    DisplayTextInto(raw, out);
    return out;
}

void DisplayTextInto(std::string_view raw, std::string& out) {
    // One pass: formatting and control codes go, valid UTF-8 is copied as it is (C1 controls
    // dropped). Text that is not valid UTF-8 is redone as Windows-1252 below. Nothing here
    // makes the text longer (a tab becomes one blank), so it is written in place into `out`
    // sized for all of it, and cut to its length at the end.
    const size_t n = raw.size();
    out.resize(n);
    char* const start = out.data();
    char* w = start;
    size_t run = 0;  // start of the bytes not yet copied
    auto copy_run = [&](size_t to) {
        std::memcpy(w, raw.data() + run, to - run);
        w += to - run;
    };
    for (size_t i = 0; i < n;) {
        i = FirstNotPrintable(raw, i, n);
        if (i >= n) break;
        unsigned char c = static_cast<unsigned char>(raw[i]);
        if (c >= 0x80) {
            size_t len = ValidSequence(raw, i);
            if (len == 0) return Windows1252Fallback(raw, out);
            // U+0080 to U+009F, the C1 controls, are the two-byte forms C2 80 to C2 9F.
            if (c == 0xC2 && static_cast<unsigned char>(raw[i + 1]) < 0xA0) {
                copy_run(i);
                run = i + len;
            }
            i += len;
            continue;
        }
        copy_run(i);
        if (c == '\t') *w++ = ' ';
        i = SkipCode(raw, i);
        run = i;
    }
    copy_run(n);
    out.resize(static_cast<size_t>(w - start));
}

int DisplayColumns(std::string_view utf8) {
    int cols = 0;
    for (size_t i = 0; i < utf8.size();) {
        size_t len = SequenceLength(static_cast<unsigned char>(utf8[i]));
        if (i + len > utf8.size()) len = utf8.size() - i;
        cols += CodepointColumns(Decode(utf8, i, len));
        i += len;
    }
    return cols;
}

std::vector<std::string> WrapText(std::string_view text, int limit, int indent,
                                  bool indent_counts) {
    std::vector<std::string> lines;
    WrapEach(text, limit, indent, indent_counts, [&lines](std::string_view piece, size_t blanks) {
        lines.push_back(std::string(blanks, ' ').append(piece));
    });
    return lines;
}

WrapBreak NextWrapBreak(std::string_view text, size_t pos, int room) {
    const size_t n = text.size();
    // Walk the characters that fit: ASCII runs a column a byte, others by their width.
    // Where each ASCII run starts is kept, to give a blank its character index below.
    struct Run {
        size_t at, chars_before;
    };
    std::array<Run, 32> runs;
    size_t run_count = 0, count = 0, end = pos;
    int cols = 0;
    while (end < n) {
        unsigned char b = static_cast<unsigned char>(text[end]);
        if (b < 0x80) {
            if (cols >= room) break;
            size_t stop = std::min(n, end + static_cast<size_t>(room - cols));
            size_t k = FirstNotAscii(text, end, stop);
            if (run_count < runs.size()) runs[run_count] = Run{end, count};
            ++run_count;
            count += k - end;
            cols += static_cast<int>(k - end);
            end = k;
            continue;
        }
        size_t len = 1;
        int w = 1;
        if (b >= 0xCC) {
            len = std::min(SequenceLength(b), n - end);
            w = CodepointColumns(Decode(text, end, len));
        } else if (b >= 0xC0) {
            // Two-byte forms below U+0300 (and stray bytes) are one column.
            len = std::min<size_t>(2, n - end);
        }
        if (cols + w > room && count > 0) break;
        ++count;
        cols += w;
        end += len;
    }
    size_t next = end;
    // A line that does not fit breaks after a blank in its last quarter, else hard.
    const void* found = end < n ? ::memrchr(text.data() + pos, ' ', end - pos) : nullptr;
    if (found) {
        size_t blank_at = static_cast<size_t>(static_cast<const char*>(found) - text.data());
        size_t blank_index = 0;
        if (run_count <= runs.size()) {
            size_t r = run_count;
            while (r > 1 && runs[r - 1].at > blank_at) --r;
            blank_index = runs[r - 1].chars_before + (blank_at - runs[r - 1].at);
        } else {
            blank_index = CharacterCount(text.substr(pos, blank_at - pos));
        }
        if (blank_index > 0 && blank_index >= count * 3 / 4) {
            end = blank_at;
            next = blank_at + 1;
        }
    }
    return WrapBreak{end, next};
}

}  // namespace chat
