#include "archiver/mail/uu_codec.h"

#include <array>
#include <cstdint>

#include "archiver/mail/text_lines.h"

namespace mail {

namespace {

constexpr char kXxChars[] = "+-0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

char Encode6(unsigned v, UuAlphabet a) {
    v &= 63;
    if (a == UuAlphabet::kXx) return kXxChars[v];
    return v == 0 ? '`' : static_cast<char>(v + 32);
}

// Six-bit value of `c`, -1 when it is not in the alphabet. uuencoders write either a space or
// a backquote for zero.
int Decode6(char c, UuAlphabet a) {
    if (a == UuAlphabet::kUu) {
        if (c >= ' ' && c <= '`') return (c - ' ') & 63;
        return -1;
    }
    for (int i = 0; i < 64; ++i)
        if (kXxChars[i] == c) return i;
    return -1;
}

bool IsOctal(char c) {
    return c >= '0' && c <= '7';
}

// Decodes one data line into `out`; false when it does not fit the alphabet.
bool DecodeLine(std::string_view line, UuAlphabet a, std::string& out) {
    int n = Decode6(line[0], a);
    if (n < 0) return false;
    size_t needed = (static_cast<size_t>(n) + 2) / 3 * 4;
    // Some encoders drop the trailing blanks of a line (a uuencoded blank is zero): at most
    // the last group's worth may be missing.
    if (line.size() - 1 + (a == UuAlphabet::kUu ? 3 : 0) < needed) return false;
    uint32_t v[4];
    size_t produced = 0;
    for (size_t g = 0; g < needed; g += 4) {
        for (size_t k = 0; k < 4; ++k) {
            char c = 1 + g + k < line.size() ? line[1 + g + k] : ' ';
            int x = Decode6(c, a);
            if (x < 0) return false;
            v[k] = static_cast<uint32_t>(x);
        }
        uint32_t group = v[0] << 18 | v[1] << 12 | v[2] << 6 | v[3];
        for (int k = 0; k < 3 && produced < static_cast<size_t>(n); ++k, ++produced)
            out += static_cast<char>(group >> (16 - 8 * k) & 0xFF);
    }
    // Characters past the promised groups (a line count some encoders add) must still fit.
    for (size_t i = 1 + needed; i < line.size(); ++i)
        if (Decode6(line[i], a) < 0) return false;
    return true;
}

}  // namespace

std::string UuEncode(std::string_view data, std::string_view name, unsigned mode,
                     UuAlphabet alphabet) {
    std::string out = "begin ";
    for (int shift = 6; shift >= 0; shift -= 3) out += static_cast<char>('0' + (mode >> shift & 7));
    out += ' ';
    out += name;
    out += '\n';
    for (size_t pos = 0; pos < data.size(); pos += 45) {
        size_t n = std::min<size_t>(45, data.size() - pos);
        out += Encode6(static_cast<unsigned>(n), alphabet);
        for (size_t i = 0; i < n; i += 3) {
            unsigned b0 = static_cast<uint8_t>(data[pos + i]);
            unsigned b1 = i + 1 < n ? static_cast<uint8_t>(data[pos + i + 1]) : 0;
            unsigned b2 = i + 2 < n ? static_cast<uint8_t>(data[pos + i + 2]) : 0;
            out += Encode6(b0 >> 2, alphabet);
            out += Encode6(b0 << 4 | b1 >> 4, alphabet);
            out += Encode6(b1 << 2 | b2 >> 6, alphabet);
            out += Encode6(b2, alphabet);
        }
        out += '\n';
    }
    out += Encode6(0, alphabet);
    out += "\nend\n";
    return out;
}

bool IsUuBeginLine(std::string_view line) {
    if (line.substr(0, 6) != "begin ") return false;
    size_t digits = 0;
    while (6 + digits < line.size() && IsOctal(line[6 + digits])) ++digits;
    return digits >= 3 && digits <= 4 && 6 + digits + 1 < line.size() && line[6 + digits] == ' ';
}

std::optional<UuFile> UuDecodeBlock(std::string_view text, size_t at, size_t& next,
                                    std::string& error) {
    size_t pos = at;
    std::string_view begin = LineAt(text, at, pos);
    UuFile file;
    file.mode = 0;
    size_t i = 6;
    for (; i < begin.size() && IsOctal(begin[i]); ++i) file.mode = file.mode * 8 + (begin[i] - '0');
    file.name = std::string(begin.substr(i + 1));
    std::optional<UuAlphabet> alphabet;
    bool ended = false;  // the zero-length line was seen
    while (pos < text.size()) {
        size_t after = pos;
        std::string_view line = LineAt(text, pos, after);
        pos = after;
        if (line == "end" || line.starts_with("end ")) {
            next = pos;
            return file;
        }
        if (line.empty()) {
            // A blank line is a uuencoded zero length in encoders that drop the backquote.
            ended = true;
            continue;
        }
        if (ended) {
            error = "data after the last line of " +
                    std::string(alphabet == UuAlphabet::kXx ? "xx" : "uu") + "encoded data";
            return std::nullopt;
        }
        if (!alphabet) {
            std::string probe;
            if (DecodeLine(line, UuAlphabet::kUu, probe))
                alphabet = UuAlphabet::kUu;
            else if (DecodeLine(line, UuAlphabet::kXx, probe))
                alphabet = UuAlphabet::kXx;
            else {
                error = "bad character in uuencoded data";
                return std::nullopt;
            }
        }
        size_t before = file.data.size();
        if (!DecodeLine(line, *alphabet, file.data)) {
            error = std::string("bad line in ") + (*alphabet == UuAlphabet::kXx ? "xx" : "uu") +
                    "encoded data";
            return std::nullopt;
        }
        if (file.data.size() == before) ended = true;  // the zero-length line
    }
    error = "encoded data cut short: no end line";
    return std::nullopt;
}

}  // namespace mail
