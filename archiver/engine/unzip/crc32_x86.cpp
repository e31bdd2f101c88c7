// CRC-32 with carry-less multiplication (x86-64 PCLMULQDQ): folds 64 bytes per step, then
// hands the last 128 bits and the tail to the table code.
#include "archiver/engine/unzip/crc32.h"

#if defined(__x86_64__)
#include <immintrin.h>

namespace engine {

uint32_t Crc32Raw16(uint32_t reg, const uint8_t* p, size_t n);

namespace {

__attribute__((target("pclmul,sse4.1"))) inline __m128i Fold(__m128i x, __m128i k) {
    return _mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11));
}

__attribute__((target("pclmul,sse4.1"))) inline __m128i Load(const uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

}  // namespace

bool Crc32HaveClmul() {
    static const bool have = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
    return have;
}

// Folding keeps the residue of the message modulo the polynomial: four 128-bit lanes move
// forward 512 bits per step (constants x^(512+-32) mod P, bit-reflected), then 128 bits.
__attribute__((target("pclmul,sse4.1"))) uint32_t Crc32RawClmul(uint32_t reg, const uint8_t* p,
                                                                size_t n) {
    if (n < 64) return Crc32Raw16(reg, p, n);
    const __m128i k512 = _mm_set_epi64x(0x1c6e41596, 0x154442bd4);
    const __m128i k128 = _mm_set_epi64x(0x0ccaa009e, 0x1751997d0);
    __m128i x0 = _mm_xor_si128(Load(p), _mm_cvtsi32_si128(static_cast<int>(reg)));
    __m128i x1 = Load(p + 16), x2 = Load(p + 32), x3 = Load(p + 48);
    p += 64;
    n -= 64;
    while (n >= 64) {
        x0 = _mm_xor_si128(Fold(x0, k512), Load(p));
        x1 = _mm_xor_si128(Fold(x1, k512), Load(p + 16));
        x2 = _mm_xor_si128(Fold(x2, k512), Load(p + 32));
        x3 = _mm_xor_si128(Fold(x3, k512), Load(p + 48));
        p += 64;
        n -= 64;
    }
    __m128i x = _mm_xor_si128(Fold(x0, k128), x1);
    x = _mm_xor_si128(Fold(x, k128), x2);
    x = _mm_xor_si128(Fold(x, k128), x3);
    while (n >= 16) {
        x = _mm_xor_si128(Fold(x, k128), Load(p));
        p += 16;
        n -= 16;
    }
    alignas(16) uint8_t rest[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(rest), x);
    reg = Crc32Raw16(0, rest, 16);
    return Crc32Raw16(reg, p, n);
}

}  // namespace engine

#endif
