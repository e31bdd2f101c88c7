// The compressor's byte plumbing: where input comes from, where output goes, and the bit writer
// that packs Huffman codes least significant bit first.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace zip {

/// Source of the bytes being compressed; the member writer's reader also keeps the CRC-32.
struct DeflateInput {
    virtual ~DeflateInput() = default;
    /// Fills up to `out.size()` bytes; returns the count, 0 at end of input, -1 on a read error.
    virtual int64_t Read(std::span<uint8_t> out) = 0;
};

/// Destination of the compressed bytes; the member writer wraps the archive stream (and the
/// cipher when a password is in force) behind it.
struct DeflateOutput {
    virtual ~DeflateOutput() = default;
    /// Writes every byte; false when the write failed.
    virtual bool Write(std::span<const uint8_t> bytes) = 0;
    /// True when the member's local header can be rewritten afterwards, which lets a member
    /// that does not shrink be kept as raw stored bytes.
    virtual bool CanSeek() = 0;
};

/// Packs bits least significant first and hands whole bytes to the output in large pieces.
struct BitWriter {
    /// Bytes staged before they go to the output.
    static constexpr size_t kStageSize = 16384;

    DeflateOutput* out = nullptr;
    uint64_t acc = 0;      // pending bits, the oldest in the low end
    unsigned count = 0;    // number of pending bits, always below 32 between calls
    size_t staged = 0;     // bytes waiting in `stage`
    uint64_t written = 0;  // bytes handed to the output since init
    bool failed = false;   // a write failed; later output is dropped
    std::array<uint8_t, kStageSize + 8> stage{};

    /// Appends the low `n` bits of `value` (n at most 32).
    void put_bits(uint32_t value, unsigned n) {
        acc |= uint64_t{value} << count;
        count += n;
        if (count >= 32) {
            if (staged + 4 > kStageSize) flush_stage();
            uint32_t word = static_cast<uint32_t>(acc);
            stage[staged] = static_cast<uint8_t>(word);
            stage[staged + 1] = static_cast<uint8_t>(word >> 8);
            stage[staged + 2] = static_cast<uint8_t>(word >> 16);
            stage[staged + 3] = static_cast<uint8_t>(word >> 24);
            staged += 4;
            acc >>= 32;
            count -= 32;
        }
    }

    /// Resets the writer onto `output`.
    void reset(DeflateOutput* output);
    /// Writes out the pending bits up to the next byte boundary (zero padding).
    void align_to_byte();
    /// Puts a 16-bit value low byte first; the writer must be byte aligned.
    void put_short(uint16_t value);
    /// Aligns, then sends `bytes` as they are (stored data).
    void put_raw(std::span<const uint8_t> bytes);
    /// Hands the staged bytes to the output.
    void flush_stage();
};

}  // namespace zip
