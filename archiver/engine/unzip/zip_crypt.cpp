#include "archiver/engine/unzip/zip_crypt.h"

#include <array>

#include "archiver/engine/unzip/crc32.h"

namespace engine {

void UpdateKeys(ZipKeys& k, uint8_t plain) {
    k.key0 = Crc32Step(k.key0, plain);
    k.key1 = (k.key1 + (k.key0 & 0xFF)) * 134775813u + 1;
    k.key2 = Crc32Step(k.key2, static_cast<uint8_t>(k.key1 >> 24));
}

ZipKeys InitKeys(std::string_view password) {
    ZipKeys k;
    for (char c : password) UpdateKeys(k, static_cast<uint8_t>(c));
    return k;
}

void DecryptBlock(ZipKeys& k, std::span<uint8_t> data) {
    for (uint8_t& b : data) {
        b ^= KeystreamByte(k);
        UpdateKeys(k, b);
    }
}

void EncryptBlock(ZipKeys& k, std::span<uint8_t> data) {
    for (uint8_t& b : data) {
        uint8_t plain = b;
        b ^= KeystreamByte(k);
        UpdateKeys(k, plain);
    }
}

bool CheckPasswordHeader(ZipKeys& keys, std::string_view password,
                         std::span<const uint8_t, kCryptHeaderSize> header, uint8_t check) {
    keys = InitKeys(password);
    std::array<uint8_t, kCryptHeaderSize> plain;
    std::copy(header.begin(), header.end(), plain.begin());
    DecryptBlock(keys, plain);
    return plain[kCryptHeaderSize - 1] == check;
}

}  // namespace engine
