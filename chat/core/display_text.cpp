#include "chat/core/display_text.h"

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

int CodepointColumns(char32_t cp) {
    if (cp < 0x80) return 1;
    int w = ::wcwidth(static_cast<wchar_t>(cp));
    // Without a UTF-8 locale wcwidth knows nothing; one column is the safe guess.
    return w < 0 ? 1 : w;
}

// Removes the IRC formatting codes and the other control bytes while the text is still bytes.
std::string StripCodes(std::string_view raw) {
    std::string out;
    out.reserve(raw.size());
    for (size_t i = 0; i < raw.size(); ++i) {
        char c = raw[i];
        if (c == '\x03') {  // colour: up to two digits, then optionally ",", up to two digits
            size_t j = i + 1;
            for (int n = 0; n < 2 && j < raw.size() && IsDigit(raw[j]); ++n) ++j;
            if (j > i + 1 && j + 1 < raw.size() && raw[j] == ',' && IsDigit(raw[j + 1])) {
                ++j;
                for (int n = 0; n < 2 && j < raw.size() && IsDigit(raw[j]); ++n) ++j;
            }
            i = j - 1;
        } else if (c == '\x04') {  // hex colour: six hex digits, optionally ",", six more
            size_t j = i + 1;
            for (int n = 0; n < 6 && j < raw.size() && IsHex(raw[j]); ++n) ++j;
            i = j - 1;
        } else if (c == '\t') {
            out.push_back(' ');
        } else if (static_cast<unsigned char>(c) < 0x20 || c == '\x7f') {
            // bold, reset, reverse, italic, underline and every other control byte
        } else {
            out.push_back(c);
        }
    }
    return out;
}

}  // namespace

std::string DisplayText(std::string_view raw) {
    std::string utf8 = platform::BytesToDisplayUtf8(StripCodes(raw));
    // Windows-1252 leaves a few bytes undefined; whatever became a C1 control goes too.
    std::string out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size(); ++i) {
        if (static_cast<unsigned char>(utf8[i]) == 0xC2 && i + 1 < utf8.size() &&
            static_cast<unsigned char>(utf8[i + 1]) >= 0x80 &&
            static_cast<unsigned char>(utf8[i + 1]) <= 0x9F) {
            ++i;
            continue;
        }
        out.push_back(utf8[i]);
    }
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
    if (indent > 25) indent = 25;
    if (indent < 0) indent = 0;
    size_t pos = 0;
    bool first = true;
    while (pos < text.size()) {
        int room = limit - ((!first && indent_counts) ? indent : 0);
        // Character starts of what fits, to find the last quarter's blank.
        std::vector<size_t> starts;
        int cols = 0;
        size_t end = pos;
        while (end < text.size()) {
            size_t len = SequenceLength(static_cast<unsigned char>(text[end]));
            if (end + len > text.size()) len = text.size() - end;
            int w = CodepointColumns(Decode(text, end, len));
            if (cols + w > room && !starts.empty()) break;
            starts.push_back(end);
            cols += w;
            end += len;
        }
        size_t next = end;
        if (end < text.size()) {
            size_t count = starts.size();
            for (size_t k = count; k-- > count * 3 / 4;) {
                if (text[starts[k]] == ' ' && k > 0) {
                    end = starts[k];
                    next = end + 1;
                    break;
                }
            }
        }
        std::string line;
        if (!first) line.assign(static_cast<size_t>(indent), ' ');
        line.append(text.substr(pos, end - pos));
        lines.push_back(std::move(line));
        pos = next;
        first = false;
    }
    return lines;
}

}  // namespace chat
