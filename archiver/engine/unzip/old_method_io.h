// What the older zip decoders (explode, unshrink, unreduce) share: their input/output seam,
// their outcome, and a least-significant-bit-first bit reader over a pulled byte source.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "archiver/engine/unzip/inflate.h"

namespace engine {

/// Input and output of an older-method decoder: the same seam as inflate's.
using OldMethodIo = InflateIo;

/// How an older-method member ended.
enum class OldMethodStatus {
    kOk = 0,         ///< the declared size was produced (or, for unshrink, the input ended)
    kBadData = 1,    ///< an invalid tree, code, follower index or prefix chain
    kTruncated = 2,  ///< the input ended before the declared size was produced
};

/// Text for a status, for the driver's messages.
inline const char* OldMethodStatusText(OldMethodStatus status) {
    switch (status) {
        case OldMethodStatus::kOk:
            return "ok";
        case OldMethodStatus::kBadData:
            return "invalid compressed data";
        case OldMethodStatus::kTruncated:
            return "unexpected end of compressed data";
    }
    return "invalid compressed data";
}

/// Outcome of one member.
struct OldMethodResult {
    OldMethodStatus status = OldMethodStatus::kOk;
    uint64_t out_size = 0;  ///< bytes handed to write
};

/// Bits of a byte source, least significant first. Never reads past the source's end:
/// a request for more bits than remain fails and leaves the reader at the end.
class OldMethodBits {
public:
    /// Reads through io.read in blocks.
    explicit OldMethodBits(const OldMethodIo& io) : io_(io), block_(kBlock) {}

    /// Makes at least n (at most 57) bits available; false when the input ends first.
    bool Need(unsigned n) {
        while (count_ < n) {
            if (at_ == end_ && !Refill()) return false;
            bits_ |= static_cast<uint64_t>(block_[at_++]) << count_;
            count_ += 8;
        }
        return true;
    }
    /// Bits available without reading (after a failed Need: all that remain).
    unsigned Available() const { return count_; }
    /// The next n bits without consuming them; bits past the end read as 0.
    uint32_t Peek(unsigned n) const { return static_cast<uint32_t>(bits_ & ((1ull << n) - 1)); }
    /// Consumes n bits (n <= Available()).
    void Drop(unsigned n) {
        bits_ >>= n;
        count_ -= n;
    }
    /// Reads n bits into *v; false when the input ends first.
    bool Get(unsigned n, uint32_t* v) {
        if (!Need(n)) return false;
        *v = Peek(n);
        Drop(n);
        return true;
    }

private:
    static constexpr size_t kBlock = 32 * 1024;
    bool Refill() {
        if (ended_) return false;
        size_t n = io_.read(block_.data(), block_.size());
        if (n == 0 || n > block_.size()) {
            ended_ = true;
            return false;
        }
        at_ = 0;
        end_ = n;
        return true;
    }

    const OldMethodIo& io_;
    std::vector<uint8_t> block_;
    size_t at_ = 0;
    size_t end_ = 0;
    bool ended_ = false;
    uint64_t bits_ = 0;
    unsigned count_ = 0;
};

/// A circular history window whose full contents are handed to the writer each time it
/// fills. It starts zero-filled, so a match reaching back before the member's first byte
/// yields zero bytes.
class OldMethodWindow {
public:
    /// A window of size bytes (a power of two), writing through io.write.
    OldMethodWindow(const OldMethodIo& io, size_t size) : io_(io), buf_(size, 0) {}

    /// Appends one byte.
    void Put(uint8_t b) {
        buf_[pos_++] = b;
        ++produced_;
        if (pos_ == buf_.size()) Flush();
    }
    /// Appends len bytes copied from dist bytes back (dist >= 1, dist <= size).
    void Copy(size_t dist, size_t len) {
        size_t mask = buf_.size() - 1;
        size_t from = (pos_ - dist) & mask;
        while (len-- > 0) {
            uint8_t b = buf_[from];
            from = (from + 1) & mask;
            Put(b);
        }
    }
    /// Hands what has not been written yet to the writer.
    void Flush() {
        if (pos_ > start_) io_.write(buf_.data() + start_, pos_ - start_);
        if (pos_ == buf_.size()) pos_ = 0;
        start_ = pos_;
    }
    /// Bytes put so far.
    uint64_t Produced() const { return produced_; }

private:
    const OldMethodIo& io_;
    std::vector<uint8_t> buf_;
    size_t pos_ = 0;
    size_t start_ = 0;  // first byte not yet written
    uint64_t produced_ = 0;
};

}  // namespace engine
