// OEM (CP437) and ANSI (UTF-8) text conversion.
#include "platform/codepage.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <utility>

namespace platform {
namespace {

// The graphic characters of CP437's upper half, in byte order from 0x80.
constexpr std::array<char16_t, 128> kCp437High = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,  // 0x80
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,  //
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,  // 0x90
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192,  //
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,  // 0xA0
    0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,  //
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,  // 0xB0
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,  //
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,  // 0xC0
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,  //
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,  // 0xD0
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,  //
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,  // 0xE0
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229,  //
    0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,  // 0xF0
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,  //
};

// Windows-1252 at 0x80-0x9F; the five unassigned bytes show as U+FFFD rather than as C1
// control characters, which some terminals would act on.
constexpr std::array<char16_t, 32> kCp1252C1 = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 0x80
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD,  //
    0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 0x90
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178,  //
};

// Decodes one well-formed UTF-8 sequence at pos and advances pos past it; -1 when the bytes
// there are malformed (truncated, overlong, a surrogate or beyond U+10FFFF).
int32_t DecodeUtf8(std::string_view s, size_t& pos) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char lead = byte(pos);
    if (lead < 0x80) {
        ++pos;
        return lead;
    }
    size_t len;
    char32_t cp, min;
    if (lead >= 0xC2 && lead <= 0xDF) {
        len = 2, cp = lead & 0x1F, min = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        len = 3, cp = lead & 0x0F, min = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        len = 4, cp = lead & 0x07, min = 0x10000;
    } else {
        return -1;
    }
    if (s.size() - pos < len) return -1;
    for (size_t i = 1; i < len; ++i) {
        const unsigned char c = byte(pos + i);
        if ((c & 0xC0) != 0x80) return -1;
        cp = (cp << 6) | (c & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return -1;
    pos += len;
    return static_cast<int32_t>(cp);
}

// Code point -> CP437 byte for the upper half, sorted by code point for binary search.
using ReverseTable = std::array<std::pair<char16_t, unsigned char>, 128>;

const ReverseTable& Cp437Reverse() {
    static const ReverseTable table = [] {
        ReverseTable t{};
        for (size_t i = 0; i < kCp437High.size(); ++i) {
            t[i] = {kCp437High[i], static_cast<unsigned char>(0x80 + i)};
        }
        std::sort(t.begin(), t.end());
        return t;
    }();
    return table;
}

}  // namespace

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

char32_t Windows1252ToUnicode(unsigned char b) {
    if (b >= 0x80 && b < 0xA0) return kCp1252C1[b - 0x80];
    return b;  // ASCII, and 0xA0-0xFF are Latin-1
}

std::string OemToUtf8(std::string_view oem) {
    std::string out;
    out.reserve(oem.size() + oem.size() / 2);
    for (const char ch : oem) {
        const auto b = static_cast<unsigned char>(ch);
        if (b < 0x80) {
            out += ch;
        } else {
            AppendUtf8(out, kCp437High[b - 0x80]);
        }
    }
    return out;
}

std::optional<std::string> Utf8ToOem(std::string_view utf8) {
    const ReverseTable& table = Cp437Reverse();
    std::string out;
    out.reserve(utf8.size());
    size_t pos = 0;
    while (pos < utf8.size()) {
        const int32_t cp = DecodeUtf8(utf8, pos);
        if (cp < 0) return std::nullopt;
        if (cp < 0x80) {
            out += static_cast<char>(cp);
            continue;
        }
        if (cp > 0xFFFF) return std::nullopt;
        const auto key = static_cast<char16_t>(cp);
        const auto it = std::lower_bound(
            table.begin(), table.end(), key,
            [](const std::pair<char16_t, unsigned char>& e, char16_t k) { return e.first < k; });
        if (it == table.end() || it->first != key) return std::nullopt;
        out += static_cast<char>(it->second);
    }
    return out;
}

bool IsValidUtf8(std::string_view bytes) {
    size_t pos = 0;
    while (pos < bytes.size()) {
        if (DecodeUtf8(bytes, pos) < 0) return false;
    }
    return true;
}

std::string BytesToDisplayUtf8(std::string_view bytes) {
    if (IsValidUtf8(bytes)) return std::string(bytes);
    std::string out;
    out.reserve(bytes.size() * 2);
    for (const char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        if (b < 0x80) {
            out += ch;
        } else {
            AppendUtf8(out, Windows1252ToUnicode(b));
        }
    }
    return out;
}

size_t Utf8Length(std::string_view utf8) {
    size_t n = 0;
    for (char c : utf8)
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++n;
    return n;
}

}  // namespace platform
