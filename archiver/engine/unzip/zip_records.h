// The on-disk records of a zip archive: signatures, the local header, the data descriptor,
// the central directory header and the end record, read from and written to bytes.
#pragma once

#include <cstdint>
#include <span>

namespace engine {

constexpr uint32_t kLocalSig = 0x04034B50;
constexpr uint32_t kCentralSig = 0x02014B50;
constexpr uint32_t kEndSig = 0x06054B50;
constexpr uint32_t kDescriptorSig = 0x08074B50;

/// Fixed parts after the 4-byte signature.
constexpr size_t kLocalFixed = 26;
constexpr size_t kCentralFixed = 42;
constexpr size_t kEndFixed = 18;
/// Whole fixed record sizes, signature included.
constexpr size_t kLocalSize = 30;
constexpr size_t kCentralSize = 46;
constexpr size_t kEndSize = 22;
constexpr size_t kDescriptorSize = 16;
/// The 64-bit end record (without extensible data) and its locator, which may sit between
/// the central directory and the end record.
constexpr size_t kEnd64Size = 56;
constexpr size_t kLocator64Size = 20;

/// General-purpose flag bits.
constexpr uint16_t kFlagEncrypted = 0x0001;
constexpr uint16_t kFlagDescriptor = 0x0008;
constexpr uint16_t kFlagUtf8 = 0x0800;
/// MS-DOS folder attribute in the low byte of the external attributes.
constexpr uint32_t kAttrFolder = 0x10;

/// Compression methods the engines know by name.
constexpr uint16_t kMethodStored = 0;
constexpr uint16_t kMethodDeflated = 8;
constexpr uint16_t kMethodDeflate64 = 9;

/// Little-endian field access.
inline uint16_t Get16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t Get32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t Get64(const uint8_t* p) {
    return uint64_t{Get32(p)} | (uint64_t{Get32(p + 4)} << 32);
}
inline void Put16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void Put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

/// Local file header fields (the 26 bytes after the signature).
struct LocalHeader {
    uint16_t version_needed = 0;
    uint16_t flags = 0;
    uint16_t method = 0;
    uint16_t time = 0;
    uint16_t date = 0;
    uint32_t crc = 0;
    uint32_t compressed_size = 0;
    uint32_t uncompressed_size = 0;
    uint16_t name_length = 0;
    uint16_t extra_length = 0;
    /// MS-DOS date in the high 16 bits, time in the low.
    uint32_t DosDateTime() const { return (uint32_t{date} << 16) | time; }
};

/// Central directory header fields (the 42 bytes after the signature).
struct CentralHeader {
    uint16_t version_made = 0;
    uint16_t version_needed = 0;
    uint16_t flags = 0;
    uint16_t method = 0;
    uint16_t time = 0;
    uint16_t date = 0;
    uint32_t crc = 0;
    uint32_t compressed_size = 0;
    uint32_t uncompressed_size = 0;
    uint16_t name_length = 0;
    uint16_t extra_length = 0;
    uint16_t comment_length = 0;
    uint16_t disk_start = 0;
    uint16_t internal_attr = 0;
    uint32_t external_attr = 0;
    uint32_t local_offset = 0;
    uint32_t DosDateTime() const { return (uint32_t{date} << 16) | time; }
};

/// End of central directory fields (the 18 bytes after the signature).
struct EndRecord {
    uint16_t disk = 0;
    uint16_t directory_disk = 0;
    uint16_t entries_here = 0;
    uint16_t entries_total = 0;
    uint32_t directory_size = 0;
    uint32_t directory_offset = 0;
    uint16_t comment_length = 0;
};

/// Data descriptor fields (after its signature).
struct DataDescriptor {
    uint32_t crc = 0;
    uint32_t compressed_size = 0;
    uint32_t uncompressed_size = 0;
};

/// Parsers of the fixed parts after the signature; the spans must be at least that long.
LocalHeader ParseLocal(std::span<const uint8_t, kLocalFixed> b);
CentralHeader ParseCentral(std::span<const uint8_t, kCentralFixed> b);
EndRecord ParseEnd(std::span<const uint8_t, kEndFixed> b);
/// Writers of the same fixed parts (for the zip writer).
void WriteLocal(const LocalHeader& h, std::span<uint8_t, kLocalFixed> b);
void WriteCentral(const CentralHeader& h, std::span<uint8_t, kCentralFixed> b);
void WriteEnd(const EndRecord& e, std::span<uint8_t, kEndFixed> b);

/// True when a stored name marks a folder entry (ends in `/` or `\`).
inline bool IsFolderName(std::span<const uint8_t> name) {
    return !name.empty() && (name.back() == '/' || name.back() == '\\');
}

}  // namespace engine
