// What the parsers share: the cursor over the window, the tally of chosen symbols, block
// emission and window refill, and the loads and hashes of the match finders.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#include "archiver/engine/zip/deflate.h"

namespace zip {

/// Eight bytes from `p`, unaligned.
inline uint64_t load64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

/// Equal leading bytes of `a` and `b` from `len` on, at most `limit`; may read 7 bytes beyond.
inline uint32_t equal_length(const uint8_t* a, const uint8_t* b, uint32_t len, uint32_t limit) {
    while (len < limit) {
        uint64_t diff = load64(a + len) ^ load64(b + len);
        if (diff != 0) {
            if constexpr (std::endian::native == std::endian::little) {
                len += std::countr_zero(diff) >> 3;
            } else {
                len += std::countl_zero(diff) >> 3;
            }
            return std::min(len, limit);
        }
        len += 8;
    }
    return limit;
}

/// Hash of the four bytes at `p`.
inline uint32_t hash4(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return (v * 0x9E3779B1u) >> (32 - kHashBits);
}

/// Hash of the three bytes at `p` (reads four).
inline uint32_t hash3(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return ((v << 8) * 0x9E3779B1u) >> (32 - kHashBits);
}

/// The parsers' hot values, copied in and out around the calls that use the state.
struct Cursor {
    uint32_t strstart;
    uint32_t lookahead;
    uint32_t match_start;
    int64_t block_start;

    explicit Cursor(const MatchState& m)
        : strstart(m.strstart),
          lookahead(m.lookahead),
          match_start(m.match_start),
          block_start(m.block_start) {}
    void store(MatchState& m) const {
        m.strstart = strstart;
        m.lookahead = lookahead;
        m.match_start = match_start;
        m.block_start = block_start;
    }
    void load(const MatchState& m) { *this = Cursor(m); }
};

/// Buffers a symbol; true when the block should be emitted now.
inline bool tally(DeflateState& s, const DeflateTables& tab, const Cursor& c, unsigned dist,
                  unsigned lc) {
    if (s.trace) s.trace->emplace_back(dist, dist ? lc + kMinMatch : lc);
    (void)c;
    TreeState& t = s.trees;
    if (record_symbol(t, tab, dist, lc)) return true;
    if (t.last_lit - t.chunk_start < kChunkSymbols) [[likely]]
        return false;
    return chunk_ends_block(t);
}

/// Emits the buffered block, which ends at the current position or, when the block was split,
/// where the symbols held back begin.
inline uint64_t flush(DeflateState& s, Cursor& c, bool last) {
    c.store(s.match);
    TreeState& t = s.trees;
    const DeflateTables& tab = deflate_tables();
    auto emit = [&](int64_t end, bool final) {
        const uint8_t* buf = c.block_start >= 0 ? s.match.window.data() + c.block_start : nullptr;
        uint64_t bytes = emit_block(s, buf, static_cast<uint64_t>(end - c.block_start), final);
        c.block_start = end;
        return bytes;
    };
    if (t.split_at != 0 && t.split_at < t.last_lit) {
        const unsigned end = t.last_lit;
        const unsigned from = t.split_at;
        int64_t tail_bytes = static_cast<int64_t>(hold_back_tail(t, tab));
        emit(static_cast<int64_t>(c.strstart) - tail_bytes, false);
        restore_tail(t, tab, from, end);
        if (!last) return t.compressed_len >> 3;
    }
    return emit(c.strstart, last);
}

/// Keeps the look-ahead filled; false when the member must stop (read or write failure).
/// Failures arise only in fill_window and in flush, whose callers check bits.failed at once.
inline bool refill(DeflateState& s, Cursor& c) {
    if (c.lookahead >= kMinLookahead) [[likely]]
        return true;
    // Once the output failed nothing more is read: the member is lost anyway.
    if (s.read_error || s.bits.failed) return false;
    c.store(s.match);
    while (s.match.lookahead < kMinLookahead && !s.match.eofile) fill_window(s);
    c.load(s.match);
    return !s.read_error && !s.bits.failed;
}

/// Emits a full or split block in the middle of the input; false when the output failed.
inline bool flush_ok(DeflateState& s, Cursor& c) {
    flush(s, c, false);
    return !s.bits.failed;
}

}  // namespace zip
