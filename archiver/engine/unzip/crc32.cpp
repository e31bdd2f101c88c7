#include "archiver/engine/unzip/crc32.h"

#include <array>
#include <bit>
#include <cstring>

namespace engine {
namespace {

// Sixteen tables let the main loop fold 16 input bytes per step (slicing-by-16):
// table[k][b] is the register change of byte b followed by k zero bytes.
using Tables = std::array<std::array<uint32_t, 256>, 16>;

constexpr Tables MakeTables() {
    Tables t{};
    for (uint32_t b = 0; b < 256; ++b) {
        uint32_t c = b;
        for (int i = 0; i < 8; ++i) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        t[0][b] = c;
    }
    for (int k = 1; k < 16; ++k)
        for (uint32_t b = 0; b < 256; ++b) t[k][b] = (t[k - 1][b] >> 8) ^ t[0][t[k - 1][b] & 0xFF];
    return t;
}

constexpr Tables kTables = MakeTables();
static_assert(kTables[0][1] == 0x77073096u && kTables[0][3] == 0x990951BAu);

inline uint32_t Load32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap32(v);
    return v;
}

}  // namespace

const uint32_t* Crc32Table() {
    return kTables[0].data();
}

#if defined(__x86_64__)
bool Crc32HaveClmul();
uint32_t Crc32RawClmul(uint32_t reg, const uint8_t* p, size_t n);
#endif

uint32_t Crc32Raw(uint32_t reg, const uint8_t* p, size_t n) {
#if defined(__x86_64__)
    if (n >= 64 && Crc32HaveClmul()) return Crc32RawClmul(reg, p, n);
#endif
    return Crc32Raw16(reg, p, n);
}

uint32_t Crc32Raw16(uint32_t reg, const uint8_t* p, size_t n) {
    while (n >= 16) {
        uint32_t a = Load32(p) ^ reg;
        uint32_t b = Load32(p + 4);
        uint32_t c = Load32(p + 8);
        uint32_t d = Load32(p + 12);
        reg = kTables[15][a & 0xFF] ^ kTables[14][(a >> 8) & 0xFF] ^ kTables[13][(a >> 16) & 0xFF] ^
              kTables[12][a >> 24] ^ kTables[11][b & 0xFF] ^ kTables[10][(b >> 8) & 0xFF] ^
              kTables[9][(b >> 16) & 0xFF] ^ kTables[8][b >> 24] ^ kTables[7][c & 0xFF] ^
              kTables[6][(c >> 8) & 0xFF] ^ kTables[5][(c >> 16) & 0xFF] ^ kTables[4][c >> 24] ^
              kTables[3][d & 0xFF] ^ kTables[2][(d >> 8) & 0xFF] ^ kTables[1][(d >> 16) & 0xFF] ^
              kTables[0][d >> 24];
        p += 16;
        n -= 16;
    }
    while (n--) reg = kTables[0][(reg ^ *p++) & 0xFF] ^ (reg >> 8);
    return reg;
}

}  // namespace engine
