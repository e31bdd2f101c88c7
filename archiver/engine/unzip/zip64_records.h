// The 64-bit records of a zip archive: the 0x0001 extra field that widens a header's sizes,
// offset and disk, the 64-bit end record and its locator, and the 24-byte data descriptor.
// A 32-bit field that holds its largest value (0xFFFFFFFF, or 0xFFFF for a disk or a count)
// says that the 64-bit record holds the real value.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "archiver/engine/unzip/zip_records.h"

namespace engine {

constexpr uint32_t kEnd64Sig = 0x06064B50;
constexpr uint32_t kLocator64Sig = 0x07064B50;
/// Extra field id of the 64-bit sizes and offset.
constexpr uint16_t kExtraZip64 = 0x0001;
/// The 32-bit and 16-bit values that defer to the 64-bit records.
constexpr uint32_t kZip64Mark32 = 0xFFFFFFFF;
constexpr uint16_t kZip64Mark16 = 0xFFFF;
/// Version needed to extract a member or archive that uses the 64-bit records.
constexpr uint16_t kVersionZip64 = 45;
/// Data descriptor with 64-bit sizes, signature included.
constexpr size_t kDescriptor64Size = 24;

/// A header's values after its 0x0001 field is applied.
struct WideValues {
    uint64_t uncompressed = 0;
    uint64_t compressed = 0;
    uint64_t local_offset = 0;  ///< 0 for a local header
    uint32_t disk_start = 0;
};

/// The id-size-data blocks of an extra field: the data of the first block with `id`, or
/// nullopt. A block that runs past the field's end ends the search.
std::optional<std::span<const uint8_t>> FindExtraBlock(std::span<const uint8_t> extra, uint16_t id);

/// True when the extra field has a 0x0001 block.
bool HasZip64Block(std::span<const uint8_t> extra);

/// The central header's values: each field at its mark takes the next value of the 0x0001
/// block, in the order uncompressed size, compressed size, local offset, disk. A marked field
/// without a block keeps its 32-bit value (older writers could store 0xFFFFFFFF as a size);
/// nullopt when a block is there but too short for the marked fields.
std::optional<WideValues> WidenCentral(const CentralHeader& h, std::span<const uint8_t> extra);

/// The local header's values. A local 0x0001 block carries both sizes when it has 16 bytes or
/// more (what writers put there); a shorter one only the marked fields, in order. nullopt as
/// for WidenCentral.
std::optional<WideValues> WidenLocal(const LocalHeader& h, std::span<const uint8_t> extra);

/// The 64-bit end record's fields after its signature and 8-byte record size.
struct End64Record {
    uint16_t version_made = kVersionZip64;
    uint16_t version_needed = kVersionZip64;
    uint32_t disk = 0;
    uint32_t directory_disk = 0;
    uint64_t entries_here = 0;
    uint64_t entries_total = 0;
    uint64_t directory_size = 0;
    uint64_t directory_offset = 0;
};

/// Reads a 64-bit end record from its 56 fixed bytes (signature included); nullopt when the
/// signature is not there.
std::optional<End64Record> ParseEnd64(std::span<const uint8_t, kEnd64Size> b);
/// Offset of the 64-bit end record that a locator (20 bytes, signature included) names;
/// nullopt when they are not a locator.
std::optional<uint64_t> ParseLocator64(std::span<const uint8_t, kLocator64Size> b);

/// What the search for a 64-bit end record found.
struct End64Search {
    enum class Status { kNone, kFound, kBad } status = Status::kNone;
    End64Record record;
    uint64_t at = 0;        ///< where the record lies in the file
    uint64_t recorded = 0;  ///< where the locator says it lies (they differ by a preamble)
};

/// Looks for a locator just before the end record at `end_pos` and for the record it names:
/// where the locator says, or just before the locator in an archive that had bytes put in
/// front without its offsets being moved. kBad when a locator names no record.
End64Search FindEnd64(int fd, uint64_t end_pos);

/// The end record's directory values with the 64-bit record's applied: a 32-bit field at its
/// mark takes the 64-bit value, any other must agree with it. False when they contradict.
bool MergeEnd64(const EndRecord& e, const End64Record& r, uint64_t& entries, uint64_t& size,
                uint64_t& offset);

/// The 64-bit end record followed by its locator, `at` being the record's offset (on disk
/// `disk`, of `disks` in all: a split archive's last volume).
std::vector<uint8_t> End64AndLocator(const End64Record& e, uint64_t at, uint32_t disk = 0,
                                     uint32_t disks = 1);

/// A 0x0001 block holding the given values in their order (absent ones left out); empty when
/// none is given.
std::vector<uint8_t> Zip64Block(std::optional<uint64_t> uncompressed,
                                std::optional<uint64_t> compressed,
                                std::optional<uint64_t> local_offset,
                                std::optional<uint32_t> disk = std::nullopt);

/// An extra field without its 0x0001 blocks (the writer makes its own from the real values).
std::vector<uint8_t> WithoutZip64Block(std::span<const uint8_t> extra);

/// True when a value does not fit its 32-bit field (the mark itself included).
inline bool Needs64(uint64_t v) {
    return v >= kZip64Mark32;
}

/// Little-endian 64-bit store.
inline void Put64(uint8_t* p, uint64_t v) {
    Put32(p, static_cast<uint32_t>(v));
    Put32(p + 4, static_cast<uint32_t>(v >> 32));
}

}  // namespace engine
