// Moving a zip archive's offsets by the size of what is put in front of it: the local header
// offset of each central header (or its 64-bit value in the 0x0001 field), the directory
// offset of the end record, of the 64-bit end record and the record offset of its locator.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace sfx {

/// Adds `delta` to the local header offset of each of the `entries` central headers in
/// `block` (the central directory, in place). A field at its 0xFFFFFFFF mark has its value in
/// the 0x0001 field, which is moved instead. False with `why` when a header is damaged or a
/// moved offset no longer fits its field (nothing is changed then).
bool ShiftCentralDirectory(std::span<uint8_t> block, uint64_t entries, uint64_t delta,
                           std::string& why);

/// Adds `delta` to the directory offset of an end record (its 22 bytes from the signature)
/// unless it is at its mark; false when the result does not fit 32 bits.
bool ShiftEndRecord(std::span<uint8_t> record, uint64_t delta);

/// Adds `delta` to the directory offset of a 64-bit end record (56 bytes from the signature).
void ShiftEnd64Record(std::span<uint8_t> record, uint64_t delta);

/// Adds `delta` to the record offset of a 64-bit end record locator (20 bytes).
void ShiftLocator64(std::span<uint8_t> locator, uint64_t delta);

}  // namespace sfx
