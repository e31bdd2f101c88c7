// The decoding tables' entry format and the decoder's fast loop, shared by the portable build
// of the loop and the one for processors with BMI2 (inflate_fast_x86.cpp).
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace engine::inflate_fast {

// A first-level table is indexed by the next `root` bits of input; codes longer than that
// continue in a subtable. Each 32-bit entry holds:
//   bits 0-7   bits to consume in total (code bits plus extra bits)
//   bits 8-11  code bits alone (the extra bits follow them); bits 12-13 stay clear, so that
//              a shift by the entry's bits 8-13 needs no mask
//   bits 14-15 kind: length or distance base, subtable
//   bits 16-31 value: literal byte, length or distance base (up to bit 30), or subtable
//              offset; the literal/length table's values stay below bit 30, which leaves
//              bits 30-31 for two more kinds there: end of block, and literal (the sign bit,
//              the cheapest test)
// so that a length or distance with its extra bits comes out of one look-up.
constexpr uint32_t kLiteral = 0x8000'0000;
constexpr uint32_t kEnd = 0x4000'0000;  ///< end of block
constexpr uint32_t kBase = 0x8000;      ///< length or distance base with extra bits
constexpr uint32_t kSub = 0x4000;       ///< subtable: code bits = its index width
constexpr uint32_t kKinds = kLiteral | kEnd | kBase | kSub;
constexpr uint32_t kInvalid = 0;

/// The value of a literal/length or code-length entry, without the kind bits above it. Other
/// entries' values are their whole upper half, which the fast loop relies on.
inline uint32_t EntryValue(uint32_t e) {
    return (e >> 16) & 0x3FFF;
}

constexpr unsigned kLitRoot = 11;
constexpr unsigned kDistRoot = 8;
constexpr unsigned kMaxBits = 15;  ///< longest code
// Worst cases: every long code in a subtable of its own of the largest width.
constexpr size_t kLitTableSize = (1u << kLitRoot) + 288 * (1u << (kMaxBits - kLitRoot));
constexpr size_t kDistTableSize = (1u << kDistRoot) + 32 * (1u << (kMaxBits - kDistRoot));

/// The two tables of a block side by side in one array, so that the loop reaches both from
/// one register.
struct Tables {
    uint32_t entries[kLitTableSize + kDistTableSize];
    uint32_t* lit() { return entries; }
    uint32_t* dist() { return entries + kLitTableSize; }
    const uint32_t* lit() const { return entries; }
    const uint32_t* dist() const { return entries + kLitTableSize; }
};

/// The decoder's position, handed to the fast loop and back.
struct FastState {
    uint64_t bits = 0;                 ///< buffered input bits, next bit lowest
    unsigned count = 0;                ///< how many of them are valid
    const uint8_t* in = nullptr;       ///< next input byte
    const uint8_t* in_stop = nullptr;  ///< the loop stops once its input passes this
    uint8_t* out = nullptr;            ///< next output byte
    uint8_t* out_stop = nullptr;       ///< the loop stops at or after this (slack follows it)
    const uint8_t* base = nullptr;     ///< first byte of the stream's history
};

/// Readable bytes the fast loop needs at in_stop: a refill may start up to 7 bytes past it
/// (the one after a match, made before the loop checks its input again) and reads 8.
constexpr size_t kInputAhead = 15;

/// Why the fast loop stopped.
enum class FastStop { kLimit, kEndOfBlock, kBadData };

/// Decodes symbols of one block while input and output room last. The caller has at least
/// kInputAhead readable bytes at in_stop and 300 writable bytes past out_stop. Whole bytes the
/// loop loaded beyond the valid count are handed back, so the caller reads them again.
using FastLoop = FastStop (*)(FastState& s, const Tables& tables);
/// The loop built for any processor.
FastStop DecodeFastPortable(FastState& s, const Tables& tables);
/// The loop built for BMI2; only to be called where HaveBmi2().
FastStop DecodeFastBmi2(FastState& s, const Tables& tables);
/// Whether this processor has BMI2.
bool HaveBmi2();
/// The fastest loop this processor runs.
FastLoop BestFastLoop();

inline uint64_t Load64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
    return v;
}

inline uint64_t LowBits(uint64_t v, unsigned n) {
    return v & ((uint64_t{1} << n) - 1);
}

// Copies forward in steps of kStep bytes, which the distance must not be shorter than. Most
// matches are short: the first two steps go without a loop test.
template <size_t kStep>
__attribute__((always_inline)) inline void CopySteps(uint8_t* out, const uint8_t* src,
                                                     const uint8_t* end) {
    std::memcpy(out, src, kStep);
    std::memcpy(out + kStep, src + kStep, kStep);
    out += 2 * kStep;
    src += 2 * kStep;
    while (out < end) {
        std::memcpy(out, src, kStep);
        out += kStep;
        src += kStep;
    }
}

// Copies a match of len bytes from dist back; may write up to 31 bytes past its end.
__attribute__((always_inline)) inline void CopyMatch(uint8_t* out, size_t dist, size_t len) {
    const uint8_t* src = out - dist;
    uint8_t* end = out + len;
    if (dist >= 16) {
        CopySteps<16>(out, src, end);  // most matches reach this far back
    } else if (dist >= 8) {
        CopySteps<8>(out, src, end);
    } else if (dist == 1) {
        uint64_t v = uint64_t{*src} * 0x0101010101010101ull;
        do {
            std::memcpy(out, &v, 8);
            out += 8;
        } while (out < end);
    } else {
        // A period of 2 to 7 bytes is also a period of its first multiple of 8 or more: after
        // a few single bytes the copy proceeds in 8-byte steps from that far back.
        constexpr uint8_t kStride[8] = {0, 8, 8, 9, 8, 10, 12, 14};
        size_t stride = kStride[dist];
        uint8_t* singles = std::min(end, out + (stride - dist));
        while (out < singles) *out++ = *src++;
        while (out < end) {
            std::memcpy(out, out - stride, 8);
            out += 8;
        }
    }
}

// Bit operations the loop leaves to each instruction set's build.
struct PortableBits {
    // The bits of a length or distance code and its extra bits: as many as the entry's low
    // byte says.
    static uint64_t CodeAndExtra(uint64_t bits, uint32_t entry) {
        return LowBits(bits, entry & 0xFF);
    }
};

// The loop itself, compiled once per instruction set with that set's Bits.
template <typename Bits>
__attribute__((always_inline)) inline FastStop DecodeFastBody(FastState& s, const Tables& tables) {
    const uint32_t* const lit = tables.entries;
    constexpr uint64_t kLitMask = (1u << kLitRoot) - 1, kDistMask = (1u << kDistRoot) - 1;
    uint64_t bits = s.bits;
    // Only the low byte of count means anything here: consuming subtracts whole entries, whose
    // upper bits fall on bits of count that every use masks off. It saves a mask per symbol.
    uint32_t count = s.count;
    const uint8_t* in = s.in;
    const uint8_t* const in_stop = s.in_stop;
    uint8_t* out = s.out;
    uint8_t* const out_stop = s.out_stop;
    const uint8_t* const base = s.base;
    FastStop stop = FastStop::kLimit;
    // A refill leaves at least 56 bits: four first-level literals (11 bits each) and the
    // look-up after them, or one length and distance with their extra bits (48). Bits above
    // the count are the stream's own or zero, so a look-up with 11 valid bits stays right
    // across a refill.
    auto refill = [&] {
        bits |= Load64(in) << (count & 63);
        in += 7 - ((count >> 3) & 7);
        count |= 56;
    };
    // Entries keep their bit counts below 64, so the shift takes the count masked to six
    // bits: one instruction where the processor masks shift counts itself.
    auto consume = [&](uint32_t n) {
        bits >>= (n & 63);
        count -= n;
    };
    refill();
    uint32_t e = lit[bits & kLitMask];
    auto literal = [&] {
        consume(e);
        *out++ = static_cast<uint8_t>(e >> 16);
        e = lit[bits & kLitMask];
    };
    for (;;) {
        if (e & kLiteral) {
            // Up to four literals per refill, unrolled: each look-up is made while the last
            // literal is stored.
            literal();
            if (e & kLiteral) {
                literal();
                if (e & kLiteral) {
                    literal();
                    if (e & kLiteral) literal();
                }
            }
            if (in > in_stop || out >= out_stop) break;
            refill();
            continue;
        }
        if (!(e & kBase)) [[unlikely]] {
            // A long code's subtable, the end of the block or an unassigned code.
            if (e & kSub) {
                consume(kLitRoot);
                e = lit[(e >> 16) + LowBits(bits, (e >> 8) & 0xF)];
                if (e & kLiteral) {
                    consume(e);
                    *out++ = static_cast<uint8_t>(e >> 16);
                    if (in > in_stop || out >= out_stop) break;
                    refill();
                    e = lit[bits & kLitMask];
                    continue;
                }
            }
            if (!(e & kBase)) {
                if (e & kEnd) {
                    consume(e);
                    stop = FastStop::kEndOfBlock;
                } else {
                    stop = FastStop::kBadData;
                }
                break;
            }
        }
        size_t len = (e >> 16) + (Bits::CodeAndExtra(bits, e) >> ((e >> 8) & 63));
        consume(e);
        uint32_t d = lit[kLitTableSize + (bits & kDistMask)];
        if (d & kSub) {
            consume(kDistRoot);
            d = lit[kLitTableSize + (d >> 16) + LowBits(bits, (d >> 8) & 0xF)];
        }
        if (!(d & kBase)) {
            stop = FastStop::kBadData;
            break;
        }
        size_t dd = (d >> 16) + (Bits::CodeAndExtra(bits, d) >> ((d >> 8) & 63));
        consume(d);
        if (dd > static_cast<size_t>(out - base)) {
            stop = FastStop::kBadData;
            break;
        }
        // The next look-up goes ahead of the copy, which it does not depend on. The last
        // refill started at or before in_stop, so this one starts at most 7 bytes past it.
        refill();
        e = lit[bits & kLitMask];
        CopyMatch(out, dd, len);
        out += len;
        if (in > in_stop || out >= out_stop) break;
    }
    count &= 0xFF;
    size_t back = std::min<size_t>(count >> 3, static_cast<size_t>(in - s.in));
    in -= back;
    count -= static_cast<unsigned>(8 * back);
    s.bits = LowBits(bits, count);
    s.count = count;
    s.in = in;
    s.out = out;
    return stop;
}

}  // namespace engine::inflate_fast

namespace engine {
struct InflateWorkspace;
/// Makes a workspace decode with the given loop instead of the best one (lets the tests run
/// every build of the loop on any machine).
void UseFastLoop(InflateWorkspace& ws, inflate_fast::FastLoop loop);
}  // namespace engine
