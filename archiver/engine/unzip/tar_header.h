// Tar header fields that both the listing and the extraction read: numbers in either of the
// forms writers use, the records of a pax extended header, and the header checksum.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace engine {

/// A numeric header field: octal text as ParseTarOctal reads it, or the base-256 form (first
/// byte 0x80 for a positive value, 0xFF for a negative one) that writers use for values octal
/// cannot hold; a field of NULs only is an empty field and reads as 0. nullopt when the
/// field is neither.
std::optional<int64_t> ParseTarNumber(std::string_view field);

/// What a pax extended header says about the next member; each value only when a record
/// gave it.
struct PaxValues {
    std::optional<std::string> path;
    std::optional<int64_t> mtime;  ///< whole seconds since 1970 (rounded down)
    std::optional<uint64_t> size;
};

/// The records of a pax extended header ("length key=value\n" each), up to the first that
/// is malformed.
PaxValues ParsePaxRecords(std::string_view records);

/// True when `block` (512 bytes) carries a valid header checksum: the sum of its bytes with
/// the checksum field taken as spaces, unsigned or (as some old writers made it) signed.
bool TarChecksumOk(std::span<const uint8_t> block);

}  // namespace engine
