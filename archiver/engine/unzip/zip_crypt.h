// Traditional zip encryption: the three running keys, deciphering, enciphering and the
// 12-byte header check. Both engines use it.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace engine {

/// Size of the encryption header in front of an encrypted member's data.
constexpr size_t kCryptHeaderSize = 12;

/// The cipher state: three 32-bit keys.
struct ZipKeys {
    uint32_t key0 = 0x12345678;
    uint32_t key1 = 0x23456789;
    uint32_t key2 = 0x34567890;
};

/// Mixes one plain byte into the keys.
void UpdateKeys(ZipKeys& keys, uint8_t plain);
/// Fresh keys with every password byte mixed in (an empty password still gives fresh keys).
ZipKeys InitKeys(std::string_view password);
/// The next keystream byte (does not advance the keys).
inline uint8_t KeystreamByte(const ZipKeys& keys) {
    uint32_t t = (keys.key2 & 0xFFFF) | 2;
    return static_cast<uint8_t>(((t * (t ^ 1)) & 0xFFFF) >> 8);
}
/// Deciphers data in place, advancing the keys.
void DecryptBlock(ZipKeys& keys, std::span<uint8_t> data);
/// Enciphers data in place, advancing the keys.
void EncryptBlock(ZipKeys& keys, std::span<uint8_t> data);
/// Starts the keys from the password, deciphers the 12-byte header and tells whether its last
/// byte equals check (the CRC's high byte, or the time's high byte for a streamed member).
/// On success the keys are ready for the member's data.
bool CheckPasswordHeader(ZipKeys& keys, std::string_view password,
                         std::span<const uint8_t, kCryptHeaderSize> header, uint8_t check);

}  // namespace engine
