#include "archiver/mail/transfer_codings.h"

#include <array>
#include <cstdint>

namespace mail {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Value of each byte in the alphabet, -1 for any other.
constexpr std::array<int8_t, 256> MakeValues() {
    std::array<int8_t, 256> v{};
    for (auto& x : v) x = -1;
    for (int i = 0; i < 64; ++i) v[static_cast<uint8_t>(kAlphabet[i])] = static_cast<int8_t>(i);
    return v;
}
constexpr std::array<int8_t, 256> kValues = MakeValues();

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

std::string EncodeBase64(std::string_view data, std::string_view eol) {
    std::string out;
    out.reserve(data.size() / 3 * 4 + data.size() / 57 * eol.size() + 8);
    size_t column = 0;
    for (size_t i = 0; i < data.size(); i += 3) {
        uint32_t b0 = static_cast<uint8_t>(data[i]);
        uint32_t b1 = i + 1 < data.size() ? static_cast<uint8_t>(data[i + 1]) : 0;
        uint32_t b2 = i + 2 < data.size() ? static_cast<uint8_t>(data[i + 2]) : 0;
        uint32_t group = b0 << 16 | b1 << 8 | b2;
        out += kAlphabet[group >> 18 & 63];
        out += kAlphabet[group >> 12 & 63];
        out += i + 1 < data.size() ? kAlphabet[group >> 6 & 63] : '=';
        out += i + 2 < data.size() ? kAlphabet[group & 63] : '=';
        column += 4;
        if (column == 76) {
            out += eol;
            column = 0;
        }
    }
    if (column) out += eol;
    return out;
}

std::optional<std::string> DecodeBase64(std::string_view text, std::string& error) {
    std::string out;
    out.reserve(text.size() / 4 * 3);
    uint32_t group = 0;
    int have = 0;     // characters in the current group
    int padding = 0;  // "=" seen: only padding and white space may follow
    for (char c : text) {
        if (IsBlank(c)) continue;
        if (c == '=') {
            if (have < 2 || have + padding >= 4) {
                error = "misplaced padding in base64 data";
                return std::nullopt;
            }
            ++padding;
            if (have + padding == 4 && have == 2) out += static_cast<char>(group >> 4 & 0xFF);
            if (have + padding == 4 && have == 3) {
                out += static_cast<char>(group >> 10 & 0xFF);
                out += static_cast<char>(group >> 2 & 0xFF);
            }
            continue;
        }
        int v = kValues[static_cast<uint8_t>(c)];
        if (v < 0 || padding) {
            error = v < 0 ? "bad character in base64 data" : "data after the end of base64 data";
            return std::nullopt;
        }
        group = group << 6 | static_cast<uint32_t>(v);
        if (++have == 4) {
            out += static_cast<char>(group >> 16 & 0xFF);
            out += static_cast<char>(group >> 8 & 0xFF);
            out += static_cast<char>(group & 0xFF);
            group = 0;
            have = 0;
        }
    }
    if (padding ? have + padding != 4 : have != 0) {
        error = "base64 data cut short";
        return std::nullopt;
    }
    return out;
}

bool LooksLikeBase64(std::string_view text) {
    // Line ends and trailing blanks only: words with spaces between them are text.
    size_t chars = 0;
    bool blank_seen = false;  // a blank since the line began
    for (char c : text) {
        if (c == '\n') {
            blank_seen = false;
        } else if (IsBlank(c)) {
            blank_seen = true;
        } else if ((c != '=' && kValues[static_cast<uint8_t>(c)] < 0) || blank_seen) {
            return false;
        } else {
            ++chars;
        }
    }
    return chars >= 4;
}

std::optional<std::string> DecodeQuotedPrintable(std::string_view text, std::string& error) {
    std::string out;
    out.reserve(text.size());
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t end = text.find('\n', pos);
        bool last = end == text.npos;
        std::string_view line = text.substr(pos, last ? text.npos : end - pos);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
        bool soft = false;
        for (size_t i = 0; i < line.size(); ++i) {
            if (line[i] != '=') {
                out += line[i];
            } else if (i + 1 == line.size()) {
                soft = true;
            } else if (i + 2 < line.size() && HexValue(line[i + 1]) >= 0 &&
                       HexValue(line[i + 2]) >= 0) {
                out += static_cast<char>(HexValue(line[i + 1]) << 4 | HexValue(line[i + 2]));
                i += 2;
            } else {
                error = "bad escape in quoted-printable data";
                return std::nullopt;
            }
        }
        if (last) break;
        if (!soft) out += '\n';
        pos = end + 1;
    }
    return out;
}

}  // namespace mail
