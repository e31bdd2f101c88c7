// CRC-32 with carry-less multiplication (x86-64 PCLMULQDQ): folds 64 bytes per step, or 128
// with the 256-bit form (VPCLMULQDQ) where the processor has it, then hands the last 128 bits
// and the tail to the table code.
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

#define CRC32_WIDE __attribute__((target("pclmul,sse4.1,avx2,vpclmulqdq")))

// The same fold on both 128-bit halves of a 256-bit register.
CRC32_WIDE inline __m256i Fold256(__m256i x, __m256i k) {
    return _mm256_xor_si256(_mm256_clmulepi64_epi128(x, k, 0x00),
                            _mm256_clmulepi64_epi128(x, k, 0x11));
}

CRC32_WIDE inline __m256i Load256(const uint8_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

// Four 256-bit lanes move 1024 bits per step, are gathered into one 256 bits apart, and its
// two halves into one 128-bit residue; *p and *n are advanced past what was folded.
CRC32_WIDE __m128i FoldWide(uint32_t reg, const uint8_t*& p, size_t& n) {
    const __m256i k1024 = _mm256_set_epi64x(0x14a7fe880, 0x1e88ef372, 0x14a7fe880, 0x1e88ef372);
    const __m256i k256 = _mm256_set_epi64x(0x15a546366, 0x0f1da05aa, 0x15a546366, 0x0f1da05aa);
    const __m128i k128 = _mm_set_epi64x(0x0ccaa009e, 0x1751997d0);
    __m256i y0 = _mm256_xor_si256(Load256(p), _mm256_set_epi64x(0, 0, 0, reg));
    __m256i y1 = Load256(p + 32), y2 = Load256(p + 64), y3 = Load256(p + 96);
    p += 128;
    n -= 128;
    while (n >= 128) {
        y0 = _mm256_xor_si256(Fold256(y0, k1024), Load256(p));
        y1 = _mm256_xor_si256(Fold256(y1, k1024), Load256(p + 32));
        y2 = _mm256_xor_si256(Fold256(y2, k1024), Load256(p + 64));
        y3 = _mm256_xor_si256(Fold256(y3, k1024), Load256(p + 96));
        p += 128;
        n -= 128;
    }
    __m256i y = _mm256_xor_si256(Fold256(y0, k256), y1);
    y = _mm256_xor_si256(Fold256(y, k256), y2);
    y = _mm256_xor_si256(Fold256(y, k256), y3);
    while (n >= 32) {
        y = _mm256_xor_si256(Fold256(y, k256), Load256(p));
        p += 32;
        n -= 32;
    }
    return _mm_xor_si128(Fold(_mm256_castsi256_si128(y), k128), _mm256_extracti128_si256(y, 1));
}

bool HaveWide() {
    static const bool have = __builtin_cpu_supports("avx2") &&
                             __builtin_cpu_supports("vpclmulqdq") &&
                             __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
    return have;
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
    __m128i x;
    if (n >= 256 && HaveWide()) {
        x = FoldWide(reg, p, n);
    } else {
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
        x = _mm_xor_si128(Fold(x0, k128), x1);
        x = _mm_xor_si128(Fold(x, k128), x2);
        x = _mm_xor_si128(Fold(x, k128), x3);
    }
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
