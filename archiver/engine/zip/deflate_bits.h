// The compressor's byte plumbing: where input comes from, where output goes, and the bit writer
// that packs Huffman codes least significant bit first.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
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
/// Whole bytes leave the accumulator after every call through one unaligned 8-byte store, so
/// that no call branches on how many bits are pending.
struct BitWriter {
    /// Bytes staged before they go to the output.
    static constexpr size_t kStageSize = 16384;

    DeflateOutput* out = nullptr;
    uint64_t acc = 0;      // pending bits, the oldest in the low end
    unsigned count = 0;    // pending bits: below 8 after put_bits and commit
    size_t staged = 0;     // bytes waiting in `stage`
    uint64_t written = 0;  // bytes handed to the output since init
    bool failed = false;   // a write failed; later output is dropped
    // The slack takes the whole 8-byte store made at the last staged byte.
    std::array<uint8_t, kStageSize + 8> stage{};

    /// Appends the low `n` bits of `value` without passing bytes on; `n` plus the bits
    /// pending must stay within 64 (at most 56 after a call that commits).
    void add_bits(uint64_t value, unsigned n) {
        acc |= value << count;
        count += n;
    }
    /// Moves the whole bytes of the accumulator to the stage.
    void commit() {
        if (staged > kStageSize) flush_stage();
        uint64_t v = acc;
        if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
        std::memcpy(stage.data() + staged, &v, sizeof v);
        staged += count >> 3;
        acc >>= count & 56;  // below 64: at most 7 bits were pending before the last 56
        count &= 7;
    }
    /// Appends the low `n` bits of `value` (n at most 56).
    void put_bits(uint64_t value, unsigned n) {
        add_bits(value, n);
        commit();
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

/// A writer's pending bits and stage position held in locals for a loop that sends many
/// codes: the writer's own fields live in memory, and every byte staged (a char store, which
/// may alias anything) would otherwise force them to be reloaded for the next code. `store`
/// hands them back; the writer must not be used directly in between.
struct BitCursor {
    BitWriter& w;
    uint64_t acc;
    unsigned count;
    uint8_t* at;

    explicit BitCursor(BitWriter& writer)
        : w(writer),
          acc(writer.acc),
          count(writer.count),
          at(writer.stage.data() + writer.staged) {}
    /// As BitWriter::add_bits.
    void add_bits(uint64_t value, unsigned n) {
        acc |= value << count;
        count += n;
    }
    /// As BitWriter::commit.
    void commit() {
        if (at > w.stage.data() + BitWriter::kStageSize) [[unlikely]] {
            w.staged = static_cast<size_t>(at - w.stage.data());
            w.flush_stage();
            at = w.stage.data();
        }
        uint64_t v = acc;
        if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
        std::memcpy(at, &v, sizeof v);
        at += count >> 3;
        acc >>= count & 56;
        count &= 7;
    }
    /// As BitWriter::put_bits.
    void put_bits(uint64_t value, unsigned n) {
        add_bits(value, n);
        commit();
    }
    /// Puts the pending bits and the stage position back into the writer.
    void store() const {
        w.acc = acc;
        w.count = count;
        w.staged = static_cast<size_t>(at - w.stage.data());
    }
};

}  // namespace zip
