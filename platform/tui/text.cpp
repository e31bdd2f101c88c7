#include "platform/tui/text.h"

#include <clocale>
#include <cwchar>

namespace tui {

namespace {

// Windows-1252 bytes 0x80-0x9F; the five undefined ones keep their C1 value so that they
// show as controls.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

// Decodes one UTF-8 sequence at bytes[i]; returns its length, 0 when malformed.
size_t DecodeOne(std::string_view bytes, size_t i, char32_t& out) {
    const auto b0 = static_cast<unsigned char>(bytes[i]);
    if (b0 < 0x80) {
        out = b0;
        return 1;
    }
    size_t len;
    char32_t cp;
    char32_t min;
    if ((b0 & 0xE0) == 0xC0) {
        len = 2, cp = b0 & 0x1F, min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        len = 3, cp = b0 & 0x0F, min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        len = 4, cp = b0 & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (i + len > bytes.size()) return 0;
    for (size_t k = 1; k < len; ++k) {
        const auto b = static_cast<unsigned char>(bytes[i + k]);
        if ((b & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    out = cp;
    return len;
}

void PushCell(StyledLine& line, char32_t c, Style style) {
    line.push_back(Cell{c, 0, style});
}

}  // namespace

bool IsValidUtf8(std::string_view bytes) {
    char32_t c;
    for (size_t i = 0; i < bytes.size();) {
        const size_t n = DecodeOne(bytes, i, c);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

std::u32string DecodeText(std::string_view bytes) {
    std::u32string out;
    out.reserve(bytes.size());
    if (IsValidUtf8(bytes)) {
        char32_t c = 0;
        for (size_t i = 0; i < bytes.size();) {
            i += DecodeOne(bytes, i, c);
            out.push_back(c);
        }
        return out;
    }
    for (char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        out.push_back(b >= 0x80 && b < 0xA0 ? kCp1252High[b - 0x80] : b);
    }
    return out;
}

std::string EncodeUtf8(std::u32string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char32_t c : text) {
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

bool EnsureUtf8Locale() {
    const char* now = std::setlocale(LC_CTYPE, "");
    if (now && (std::string_view(now).find("UTF-8") != std::string_view::npos ||
                std::string_view(now).find("utf8") != std::string_view::npos)) {
        return true;
    }
    return std::setlocale(LC_CTYPE, "C.UTF-8") != nullptr;
}

bool IsControl(char32_t c) {
    return c < 0x20 || (c >= 0x7F && c < 0xA0);
}

int CharWidth(char32_t c) {
    if (IsControl(c)) return 2;
    const int w = ::wcwidth(static_cast<wchar_t>(c));
    if (w < 0) return 1;
    return w > 2 ? 2 : w;
}

int TextWidth(std::u32string_view text) {
    int w = 0;
    for (char32_t c : text) w += CharWidth(c);
    return w;
}

int LineWidth(const StyledLine& line) {
    int w = 0;
    for (const Cell& cell : line) w += CellWidth(cell);
    return w;
}

void AppendText(StyledLine& line, std::u32string_view text, Style style) {
    for (char32_t c : text) {
        if (IsControl(c)) {
            Style shown = style;
            shown.flags ^= kReverse;
            char32_t letter = c == 0x7F ? U'?' : (c < 0x20 ? c + 0x40 : c - 0x40);
            PushCell(line, U'^', shown);
            PushCell(line, letter, shown);
            continue;
        }
        const int w = ::wcwidth(static_cast<wchar_t>(c));
        if (w == 0 && c != 0) {
            // A combining mark rides on the cell before it; one mark per cell is kept.
            if (!line.empty() && line.back().mark == 0 && !IsControl(line.back().ch)) {
                line.back().mark = c;
            }
            continue;
        }
        PushCell(line, w < 0 ? U'?' : c, style);
    }
}

StyledLine MakeLine(std::u32string_view text, Style style) {
    StyledLine line;
    line.reserve(text.size());
    AppendText(line, text, style);
    return line;
}

StyledLine MakeLine(std::string_view bytes, Style style) {
    return MakeLine(DecodeText(bytes), style);
}

std::u32string LineText(const StyledLine& line) {
    std::u32string out;
    for (const Cell& cell : line) {
        out.push_back(cell.ch);
        if (cell.mark) out.push_back(cell.mark);
    }
    return out;
}

size_t FitCells(const StyledLine& line, size_t begin, size_t end, int width) {
    int used = 0;
    size_t i = begin;
    while (i < end) {
        const int w = CellWidth(line[i]);
        if (used + w > width) break;
        used += w;
        ++i;
    }
    return i;
}

std::vector<RowSpan> WrapLine(const StyledLine& line, int width, int indent) {
    if (width < 1) width = 1;
    if (indent < 0) indent = 0;
    // The indent never takes the whole row, so every row can hold at least one wide character.
    if (indent > width - 2) indent = width > 2 ? width - 2 : 0;
    std::vector<RowSpan> rows;
    size_t pos = 0;
    const size_t n = line.size();
    do {
        const int row_indent = rows.empty() ? 0 : indent;
        const int avail = width - row_indent;
        size_t end = FitCells(line, pos, n, avail);
        if (end == pos && pos < n) end = pos + 1;  // a wide character on a 1-column screen
        size_t next = end;
        if (end < n) {
            if (line[end].ch == U' ') {
                next = end + 1;  // the row ends just before a blank: the blank ends the line
            } else {
                // Look back over the last quarter of the row for a blank to break after.
                const size_t span = end - pos;
                const size_t stop = pos + span * 3 / 4;
                for (size_t k = end; k > stop; --k) {
                    if (line[k - 1].ch == U' ') {
                        end = next = k;
                        break;
                    }
                }
            }
        }
        rows.push_back(RowSpan{pos, end, row_indent});
        pos = next;
    } while (pos < n);
    return rows;
}

}  // namespace tui
