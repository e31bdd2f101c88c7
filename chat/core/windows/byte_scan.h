// Finding the first byte of a kind in a run of text, many bytes at a time: the display path
// looks at every byte of a flood, and most of them need nothing done.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace chat {
namespace byte_scan_detail {

inline bool Printable(unsigned char b) {
    return b >= 0x20 && b < 0x7f;
}

#if defined(__SSE2__)

// Sixteen bytes at a time; the mask has a bit set for each byte that stops the scan. The
// last, partial step loads the sixteen bytes that end at `stop` (when the text has them) and
// ignores those before the place reached, so that short ranges, such as the rest of a
// wrapped line, are not walked a byte at a time.
template <typename Stops>
inline size_t Scan(std::string_view text, size_t from, size_t stop, Stops stops) {
    const char* p = text.data();
    size_t i = from;
    for (; i + 16 <= stop; i += 16) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(stops(v)));
        if (mask != 0) return i + static_cast<size_t>(__builtin_ctz(mask));
    }
    if (i < stop && stop >= 16) {
        const size_t base = stop - 16;  // below i: i + 16 > stop
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + base));
        unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(stops(v))) >> (i - base);
        return mask != 0 ? i + static_cast<size_t>(__builtin_ctz(mask)) : stop;
    }
    return i;
}

inline size_t PrintableRun(std::string_view text, size_t from, size_t stop) {
    // As signed bytes, printable ASCII is exactly 0x20..0x7E: above 0x1F and below 0x7F.
    return Scan(text, from, stop, [](__m128i v) {
        __m128i ok = _mm_and_si128(_mm_cmpgt_epi8(v, _mm_set1_epi8(0x1f)),
                                   _mm_cmplt_epi8(v, _mm_set1_epi8(0x7f)));
        return _mm_xor_si128(ok, _mm_set1_epi8(-1));
    });
}

inline size_t AsciiRun(std::string_view text, size_t from, size_t stop) {
    return Scan(text, from, stop, [](__m128i v) { return v; });  // the sign bit is the test
}

#else

inline uint64_t Load8(const char* p) {
    uint64_t w;
    std::memcpy(&w, p, sizeof w);
    return w;
}

constexpr uint64_t kOnes = 0x0101010101010101ull;
constexpr uint64_t kHighBits = 0x8080808080808080ull;

// Eight bytes at a time: each test below is exact about whether such a byte is present.
inline size_t PrintableRun(std::string_view text, size_t from, size_t stop) {
    const char* p = text.data();
    size_t i = from;
    for (; i + 8 <= stop; i += 8) {
        uint64_t w = Load8(p + i);
        uint64_t below_blank = (w - kOnes * 0x20) & ~w & kHighBits;
        uint64_t x = w ^ (kOnes * 0x7F);
        uint64_t del = (x - kOnes) & ~x & kHighBits;
        if (((w & kHighBits) | below_blank | del) != 0) break;
    }
    return i;
}

inline size_t AsciiRun(std::string_view text, size_t from, size_t stop) {
    const char* p = text.data();
    size_t i = from;
    while (i + 8 <= stop && (Load8(p + i) & kHighBits) == 0) i += 8;
    return i;
}

#endif

}  // namespace byte_scan_detail

/// The first index in [from, stop) whose byte is not printable ASCII (below 0x20, 0x7F, or
/// 0x80 and above), or stop. stop must not exceed text.size().
inline size_t FirstNotPrintable(std::string_view text, size_t from, size_t stop) {
    using namespace byte_scan_detail;
    size_t i = PrintableRun(text, from, stop);
    while (i < stop && Printable(static_cast<unsigned char>(text[i]))) ++i;
    return i;
}

/// The first index in [from, stop) whose byte is 0x80 or above, or stop. stop must not exceed
/// text.size().
inline size_t FirstNotAscii(std::string_view text, size_t from, size_t stop) {
    using namespace byte_scan_detail;
    size_t i = AsciiRun(text, from, stop);
    while (i < stop && static_cast<unsigned char>(text[i]) < 0x80) ++i;
    return i;
}

}  // namespace chat
