// What the parsers share: the cursor over the window, the tally of chosen symbols, block
// emission and window refill, the loads and hashes of the match finders, and the hash-chain
// search.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#include "archiver/engine/zip/deflate.h"

namespace zip {

/// Four bytes from `p`, unaligned.
inline uint32_t load32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

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
    return (load32(p) * 0x9E3779B1u) >> (32 - kHashBits);
}

/// Hash of the three bytes at `p` (reads four).
inline uint32_t hash3(const uint8_t* p) {
    return ((load32(p) << 8) * 0x9E3779B1u) >> (32 - kHashBits);
}

/// Number of equal leading bytes of `a` and `b`, at most kMaxMatch; may read 6 bytes beyond.
inline uint32_t common_length(const uint8_t* a, const uint8_t* b) {
    return equal_length(a, b, 0, kMaxMatch);
}

/// Mask of the bytes [0, n) of a 64-bit load (n at most 8).
inline uint64_t byte_mask(uint32_t n) {
    if (n >= 8) return ~uint64_t{0};
    uint64_t low = (uint64_t{1} << (8 * n)) - 1;
    if constexpr (std::endian::native == std::endian::little) {
        return low;
    } else {
        return ~uint64_t{0} << (8 * (8 - n));
    }
}

/// The hash chains as the lazy parsers link positions into them.
struct ChainLinks {
    const uint8_t* win;
    uint16_t* head;
    uint16_t* prev;
    uint16_t* prev2;
    uint16_t* head3;

    explicit ChainLinks(MatchState& m)
        : win(m.window.data()),
          head(m.head.data()),
          prev(m.prev.data()),
          prev2(m.prev2.data()),
          head3(m.head3.data()) {}

    /// Links `pos` (of 4-byte hash `h`) into its chain and the 3-byte heads, with the link
    /// after next alongside when `kSkip`; returns the chain's head before.
    template <bool kSkip>
    uint32_t link(uint32_t pos, uint32_t h) const {
        head3[hash3(win + pos)] = static_cast<uint16_t>(pos);
        uint32_t first = head[h];
        prev[pos & kWMask] = static_cast<uint16_t>(first);
        if constexpr (kSkip) prev2[pos & kWMask] = first != 0 ? prev[first & kWMask] : 0;
        head[h] = static_cast<uint16_t>(pos);
        return first;
    }
};

/// The matches a chain search found on its way to the longest, each longer than the one
/// before; past kMax the latest replaces the last kept.
struct MatchList {
    static constexpr unsigned kMax = 16;
    std::array<uint32_t, kMax> len;
    std::array<uint32_t, kMax> start;
    unsigned n = 0;
    void add(uint32_t l, uint32_t at) {
        if (n == kMax) --n;
        len[n] = l;
        start[n] = at;
        ++n;
    }
};

/// The longest match at `strstart` longer than `best_len`, along the hash chain from
/// `cur_match`, on plain values so that the parsers can keep theirs in registers; its start
/// goes to `match_start`, and each match found longer than the one before to `list` when
/// given. With `kSkip` the chain is walked two links per step through `prev2`; the candidates
/// examined, and so the result, are the same.
template <bool kSkip>
inline uint32_t chain_search(const uint8_t* win, const uint16_t* prev, const uint16_t* prev2,
                             uint32_t strstart, uint32_t cur_match, uint32_t best_len,
                             const LevelConfig& config, uint32_t& match_start,
                             MatchList* list = nullptr) {
    unsigned chain = config.max_chain;
    if (best_len >= config.good_length) chain >>= 2;
    const uint8_t* scan = win + strstart;
    const uint32_t limit = strstart > kMaxDist ? strstart - kMaxDist : 0;
    // A longer match must agree up to and including byte best_len: the eight bytes that end
    // there (fewer while best_len is short) are checked first, which rejects most candidates
    // with one load before any full comparison.
    uint32_t off = best_len >= 7 ? best_len - 7 : 0;
    uint64_t mask = byte_mask(best_len + 1 - off);
    uint64_t scan_end = load64(scan + off) & mask;
    // True when the search is over (a longest possible match).
    auto check = [&](uint32_t candidate) {
        const uint8_t* match = win + candidate;
        if ((load64(match + off) & mask) != scan_end) return false;
        uint32_t len = common_length(scan, match);
        if (len <= best_len) return false;
        match_start = candidate;
        best_len = len;
        if (list) list->add(len, candidate);
        if (len >= config.nice_length) return true;
        off = best_len >= 7 ? best_len - 7 : 0;
        mask = byte_mask(best_len + 1 - off);
        scan_end = load64(scan + off) & mask;
        return false;
    };
    if constexpr (kSkip) {
        for (;;) {
            uint32_t next = prev[cur_match & kWMask];
            uint32_t after = prev2[cur_match & kWMask];  // valid while next is in range
            if (check(cur_match) || next <= limit || --chain == 0) break;
            if (check(next) || after <= limit || --chain == 0) break;
            cur_match = after;
        }
    } else {
        // The next candidate's bytes are asked for before the current one is compared, so
        // that the loads overlap instead of each waiting on the one before. (Long chains walk
        // two links at a time and gain nothing from it.)
        for (;;) {
            uint32_t next = prev[cur_match & kWMask];
            __builtin_prefetch(win + next + off);
            if (check(cur_match) || next <= limit || --chain == 0) break;
            cur_match = next;
        }
    }
    return best_len;
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

/// Literals in a row after which the greedy levels search at fewer positions, and the most
/// positions they skip between two searches.
constexpr uint32_t kSkipAfter = 128;
constexpr uint32_t kMaxSkip = 7;

/// Sends the next bytes as literals without searching them: more the longer nothing has
/// matched (`over` literals beyond the level's limit), at most kMaxSkip. True when the block
/// is full.
inline bool skip_ahead(DeflateState& s, const DeflateTables& tab, Cursor& c, uint32_t over) {
    const uint8_t* win = s.match.window.data();
    uint32_t extra = std::min({over >> 5, kMaxSkip, c.lookahead});
    bool full = false;
    for (; extra != 0 && !full; --extra) {
        full = tally(s, tab, c, 0, win[c.strstart]);
        --c.lookahead;
        ++c.strstart;
    }
    return full;
}

}  // namespace zip
