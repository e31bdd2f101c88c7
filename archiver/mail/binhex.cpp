#include "archiver/mail/binhex.h"

#include <array>

namespace mail {

namespace {

constexpr char kChars[] = "!\"#$%&'()*+,-012345689@ABCDEFGHIJKLMNPQRSTUVXYZ[`abcdefhijklmpqr";

constexpr std::array<int8_t, 256> MakeValues() {
    std::array<int8_t, 256> v{};
    for (auto& x : v) x = -1;
    for (int i = 0; i < 64; ++i) v[static_cast<uint8_t>(kChars[i])] = static_cast<int8_t>(i);
    return v;
}
constexpr std::array<int8_t, 256> kValues = MakeValues();

constexpr uint8_t kRunMark = 0x90;

// Reads the decoded bytes in order, with their CRC.
class Reader {
public:
    explicit Reader(std::string_view bytes) : bytes_(bytes) {}
    bool Take(size_t n, std::string& out) {
        if (n > bytes_.size() - pos_) return false;
        out.assign(bytes_.substr(pos_, n));
        crc_ = BinHexCrc(out, crc_);
        pos_ += n;
        return true;
    }
    // Reads the stored CRC after a section and checks it against the section's bytes.
    bool CheckCrc() {
        if (bytes_.size() - pos_ < 2) return false;
        uint16_t stored = static_cast<uint16_t>(static_cast<uint8_t>(bytes_[pos_]) << 8 |
                                                static_cast<uint8_t>(bytes_[pos_ + 1]));
        pos_ += 2;
        bool ok = stored == crc_;
        crc_ = 0;
        return ok;
    }
    size_t Left() const { return bytes_.size() - pos_; }

private:
    std::string_view bytes_;
    size_t pos_ = 0;
    uint16_t crc_ = 0;
};

uint32_t Get32(std::string_view b, size_t at) {
    return static_cast<uint32_t>(static_cast<uint8_t>(b[at])) << 24 |
           static_cast<uint32_t>(static_cast<uint8_t>(b[at + 1])) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(b[at + 2])) << 8 |
           static_cast<uint8_t>(b[at + 3]);
}

}  // namespace

uint16_t BinHexCrc(std::string_view data, uint16_t crc) {
    for (char c : data) {
        crc ^= static_cast<uint16_t>(static_cast<uint8_t>(c) << 8);
        for (int i = 0; i < 8; ++i)
            crc = static_cast<uint16_t>(crc & 0x8000 ? crc << 1 ^ 0x1021 : crc << 1);
    }
    return crc;
}

size_t FindBinHexStart(std::string_view text) {
    size_t banner = text.find("(This file must be converted with BinHex");
    if (banner == text.npos) return text.npos;
    size_t pos = text.find('\n', banner);
    while (pos != text.npos) {
        ++pos;
        if (pos < text.size() && text[pos] == ':') return pos;
        pos = text.find('\n', pos);
    }
    return text.npos;
}

std::optional<BinHexFile> DecodeBinHex(std::string_view text, size_t at, std::string& error) {
    // Six-bit characters to bytes, up to the closing ':'.
    std::string packed;
    uint32_t bits = 0;
    int have = 0;
    bool closed = false;
    for (size_t i = at + 1; i < text.size(); ++i) {
        char c = text[i];
        if (c == ':') {
            closed = true;
            break;
        }
        if (c == '\n' || c == '\r' || c == ' ' || c == '\t') continue;
        int v = kValues[static_cast<uint8_t>(c)];
        if (v < 0) {
            error = "bad character in BinHex data";
            return std::nullopt;
        }
        bits = bits << 6 | static_cast<uint32_t>(v);
        have += 6;
        if (have >= 8) {
            have -= 8;
            packed += static_cast<char>(bits >> have & 0xFF);
        }
    }
    if (!closed) {
        error = "BinHex data cut short";
        return std::nullopt;
    }
    // Runs: 0x90 n repeats the byte before it n-1 more times; 0x90 0 is 0x90 itself.
    std::string bytes;
    bytes.reserve(packed.size());
    for (size_t i = 0; i < packed.size(); ++i) {
        uint8_t b = static_cast<uint8_t>(packed[i]);
        if (b != kRunMark) {
            bytes += static_cast<char>(b);
            continue;
        }
        if (++i == packed.size()) {
            error = "BinHex data cut short";
            return std::nullopt;
        }
        uint8_t n = static_cast<uint8_t>(packed[i]);
        if (n == 0) {
            bytes += static_cast<char>(kRunMark);
        } else if (bytes.empty()) {
            error = "bad run in BinHex data";
            return std::nullopt;
        } else {
            bytes.append(n - 1u, bytes.back());
        }
    }
    Reader r(bytes);
    std::string length, name, rest;
    if (!r.Take(1, length) || !r.Take(static_cast<uint8_t>(length[0]), name) ||
        !r.Take(1 + 4 + 4 + 2 + 4 + 4, rest)) {
        error = "BinHex header cut short";
        return std::nullopt;
    }
    if (!r.CheckCrc()) {
        error = "BinHex header CRC error";
        return std::nullopt;
    }
    uint32_t data_length = Get32(rest, 11);
    uint32_t resource_length = Get32(rest, 15);
    BinHexFile file;
    file.name = name;
    if (!r.Take(data_length, file.data) || r.Left() < 2) {
        error = "BinHex data fork cut short";
        return std::nullopt;
    }
    if (!r.CheckCrc()) {
        error = "BinHex data fork CRC error";
        return std::nullopt;
    }
    if (!r.Take(resource_length, file.resource) || r.Left() < 2) {
        error = "BinHex resource fork cut short";
        return std::nullopt;
    }
    if (!r.CheckCrc()) {
        error = "BinHex resource fork CRC error";
        return std::nullopt;
    }
    return file;
}

}  // namespace mail
