#include "chat/core/display_text.h"

#include <algorithm>
#include <cwchar>

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

bool IsAscii(std::string_view s) {
    for (char c : s)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

int CodepointColumns(char32_t cp) {
    if (cp < 0x80) return 1;
    int w = ::wcwidth(static_cast<wchar_t>(cp));
    // Without a UTF-8 locale wcwidth knows nothing; one column is the safe guess.
    return w < 0 ? 1 : w;
}

// At a control byte: skips it with whatever belongs to it (a colour's numbers); a tab becomes
// a blank in `out`. Returns the index after it.
size_t SkipCode(std::string_view raw, size_t i, std::string& out) {
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
    } else if (c == '\t') {
        out.push_back(' ');
    }
    // bold, reset, reverse, italic, underline and every other control byte: dropped
    return j;
}

// Text that is not valid UTF-8: codes removed, the bytes read as Windows-1252, and whatever
// that leaves as a C1 control dropped.
std::string Windows1252Fallback(std::string_view raw) {
    std::string stripped;
    stripped.reserve(raw.size());
    for (size_t i = 0; i < raw.size();) {
        unsigned char c = static_cast<unsigned char>(raw[i]);
        if (c < 0x20 || c == 0x7f) {
            i = SkipCode(raw, i, stripped);
        } else {
            stripped.push_back(raw[i++]);
        }
    }
    std::string utf8 = platform::BytesToDisplayUtf8(stripped);
    size_t w = 0;
    for (size_t i = 0; i < utf8.size(); ++i) {
        if (static_cast<unsigned char>(utf8[i]) == 0xC2 && i + 1 < utf8.size() &&
            static_cast<unsigned char>(utf8[i + 1]) <= 0x9F) {
            ++i;
            continue;
        }
        utf8[w++] = utf8[i];
    }
    utf8.resize(w);
    return utf8;
}

}  // namespace

std::string DisplayText(std::string_view raw) {
    // One pass: formatting and control codes go, valid UTF-8 is copied as it is (C1 controls
    // dropped). Text that is not valid UTF-8 is redone as Windows-1252 below.
    std::string out;
    out.reserve(raw.size());
    size_t run = 0;  // start of the bytes not yet copied
    const size_t n = raw.size();
    for (size_t i = 0; i < n;) {
        unsigned char c = static_cast<unsigned char>(raw[i]);
        if (c >= 0x20 && c < 0x7f) {
            ++i;
            continue;
        }
        if (c >= 0x80) {
            size_t len = SequenceLength(c);
            if (c < 0xC2 || c > 0xF4 || i + len > n) return Windows1252Fallback(raw);
            for (size_t k = 1; k < len; ++k)
                if ((static_cast<unsigned char>(raw[i + k]) & 0xC0) != 0x80)
                    return Windows1252Fallback(raw);
            char32_t cp = Decode(raw, i, len);
            bool overlong = (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000);
            if (overlong || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
                return Windows1252Fallback(raw);
            if (cp >= 0x80 && cp <= 0x9F) {  // a C1 control
                out.append(raw.substr(run, i - run));
                run = i + len;
            }
            i += len;
            continue;
        }
        out.append(raw.substr(run, i - run));
        i = SkipCode(raw, i, out);
        run = i;
    }
    out.append(raw.substr(run));
    return out;
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
    WrapEach(text, limit, indent, indent_counts,
             [&lines](std::string&& line) { lines.push_back(std::move(line)); });
    return lines;
}

void WrapEach(std::string_view text, int limit, int indent, bool indent_counts,
              const std::function<void(std::string&&)>& emit) {
    if (indent > 25) indent = 25;
    if (indent < 0) indent = 0;
    const bool ascii = IsAscii(text);
    size_t pos = 0;
    bool first = true;
    while (pos < text.size()) {
        int room = limit - ((!first && indent_counts) ? indent : 0);
        if (room < 1) room = 1;
        // Walk the characters that fit, remembering the last blank among them.
        size_t count = 0, end = pos, blank_at = 0, blank_index = 0;
        bool blank_seen = false;
        int cols = 0;
        if (ascii) {
            count = std::min(text.size() - pos, static_cast<size_t>(room));
            end = pos + count;
            size_t b = text.substr(pos, count).rfind(' ');
            if (b != std::string_view::npos) {
                blank_seen = true;
                blank_index = b;
                blank_at = pos + b;
            }
        } else {
            while (end < text.size()) {
                unsigned char b = static_cast<unsigned char>(text[end]);
                if (b < 0x80) {
                    // A run of ASCII: one column per byte, no decoding.
                    size_t cap = static_cast<size_t>(room - cols);
                    if (cols >= room) break;
                    size_t stop = std::min(text.size(), end + cap), k = end;
                    while (k < stop && static_cast<unsigned char>(text[k]) < 0x80) ++k;
                    size_t blank = text.substr(end, k - end).rfind(' ');
                    if (blank != std::string_view::npos) {
                        blank_seen = true;
                        blank_index = count + blank;
                        blank_at = end + blank;
                    }
                    count += k - end;
                    cols += static_cast<int>(k - end);
                    end = k;
                    continue;
                }
                size_t len = SequenceLength(b);
                if (end + len > text.size()) len = text.size() - end;
                int w = CodepointColumns(Decode(text, end, len));
                if (cols + w > room && count > 0) break;
                if (text[end] == ' ') {
                    blank_seen = true;
                    blank_index = count;
                    blank_at = end;
                }
                ++count;
                cols += w;
                end += len;
            }
        }
        size_t next = end;
        // A line that does not fit breaks after a blank in its last quarter, else hard.
        if (end < text.size() && blank_seen && blank_index > 0 && blank_index >= count * 3 / 4) {
            end = blank_at;
            next = blank_at + 1;
        }
        std::string line;
        if (!first) line.assign(static_cast<size_t>(indent), ' ');
        line.append(text.substr(pos, end - pos));
        emit(std::move(line));
        pos = next;
        first = false;
    }
}

}  // namespace chat
