// CRC-32 of zip members (reflected, polynomial 0xEDB88320), shared by both engines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace engine {

/// The 256-entry byte table (entry 1 is 0x77073096).
const uint32_t* Crc32Table();

/// One step of the raw (not inverted) register with byte b; the cipher keys use this form.
inline uint32_t Crc32Step(uint32_t reg, uint8_t b) {
    return Crc32Table()[(reg ^ b) & 0xFF] ^ (reg >> 8);
}

/// Continues a raw register over data (start with 0xFFFFFFFF, invert at the end); uses
/// carry-less multiplication where the processor has it.
uint32_t Crc32Raw(uint32_t reg, const uint8_t* data, size_t size);
/// The table-driven form of Crc32Raw (slicing by 16 bytes), for any processor.
uint32_t Crc32Raw16(uint32_t reg, const uint8_t* data, size_t size);

/// Continues a finished CRC-32 over data: Crc32(0, all) is the member's CRC-32.
inline uint32_t Crc32(uint32_t crc, std::span<const uint8_t> data) {
    return ~Crc32Raw(~crc, data.data(), data.size());
}

}  // namespace engine
