// Tar header fields.
#include "archiver/engine/unzip/tar_header.h"

#include <algorithm>

#include "archiver/engine/unzip/tar_extract.h"

namespace engine {

namespace {

constexpr size_t kChecksumAt = 148, kChecksumLen = 8;

// A decimal number of a pax record ("-" allowed in front, rounded down to a whole number);
// nullopt for anything else or a value beyond 64 bits.
std::optional<int64_t> PaxDecimal(std::string_view text, bool allow_negative) {
    bool negative = allow_negative && !text.empty() && text.front() == '-';
    if (negative) text.remove_prefix(1);
    size_t dot = text.find('.');
    std::string_view whole = text.substr(0, dot);
    if (whole.empty()) return std::nullopt;
    int64_t value = 0;
    for (char c : whole) {
        if (c < '0' || c > '9' || value > (INT64_MAX - 9) / 10) return std::nullopt;
        value = value * 10 + (c - '0');
    }
    bool fraction = false;
    if (dot != std::string_view::npos)
        for (char c : text.substr(dot + 1)) {
            if (c < '0' || c > '9') return std::nullopt;
            fraction |= c != '0';
        }
    // Whole seconds are the floor: -1.5 is the second that began at -2.
    return negative ? -value - (fraction ? 1 : 0) : value;
}

}  // namespace

std::optional<int64_t> ParseTarNumber(std::string_view field) {
    if (field.empty()) return std::nullopt;
    if (std::all_of(field.begin(), field.end(), [](char c) { return c == '\0'; })) return 0;
    auto first = static_cast<unsigned char>(field.front());
    if (first == 0x80 || first == 0xFF) {
        // Big-endian two's complement in the bytes after the marker (the marker itself is
        // the sign for 0xFF); a value must fit 63 bits.
        bool negative = first == 0xFF;
        uint64_t value = negative ? ~uint64_t{0} : 0;
        for (size_t i = 1; i < field.size(); ++i) {
            if (negative ? (value >> 55) != 0x1FF : (value >> 55) != 0) return std::nullopt;
            value = (value << 8) | static_cast<unsigned char>(field[i]);
        }
        auto signed_value = static_cast<int64_t>(value);
        if (negative != (signed_value < 0)) return std::nullopt;
        return signed_value;
    }
    int64_t value = ParseTarOctal(field);
    if (value < 0) return std::nullopt;
    return value;
}

PaxValues ParsePaxRecords(std::string_view records) {
    PaxValues values;
    size_t at = 0;
    while (at < records.size()) {
        size_t space = records.find(' ', at);
        if (space == std::string_view::npos || space == at) return values;
        size_t len = 0;
        for (size_t i = at; i < space; ++i) {
            char c = records[i];
            if (c < '0' || c > '9' || len > records.size()) return values;
            len = len * 10 + static_cast<size_t>(c - '0');
        }
        // A record's length counts itself, its digits to its newline.
        if (len <= space - at + 1 || len > records.size() - at || records[at + len - 1] != '\n')
            return values;
        std::string_view body = records.substr(space + 1, at + len - 1 - (space + 1));
        size_t eq = body.find('=');
        std::string_view key = body.substr(0, eq);
        std::string_view value = eq == std::string_view::npos ? "" : body.substr(eq + 1);
        if (key == "path") {
            values.path = std::string(value);
        } else if (key == "mtime") {
            values.mtime = PaxDecimal(value, true);
        } else if (key == "size") {
            if (auto size = PaxDecimal(value, false); size && value.find('.') == value.npos)
                values.size = static_cast<uint64_t>(*size);
        }
        at += len;
    }
    return values;
}

bool TarChecksumOk(std::span<const uint8_t> block) {
    if (block.size() < 512) return false;
    auto stored = ParseTarNumber(
        std::string_view(reinterpret_cast<const char*>(block.data() + kChecksumAt), kChecksumLen));
    if (!stored) return false;
    int64_t unsigned_sum = 0, signed_sum = 0;
    for (size_t i = 0; i < 512; ++i) {
        bool in_field = i >= kChecksumAt && i < kChecksumAt + kChecksumLen;
        uint8_t b = in_field ? ' ' : block[i];
        unsigned_sum += b;
        signed_sum += static_cast<int8_t>(b);
    }
    return *stored == unsigned_sum || *stored == signed_sum;
}

}  // namespace engine
