#include "archiver/engine/zip/deflate_match.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <span>

#include "archiver/engine/zip/deflate.h"
#include "archiver/engine/zip/deflate_parse.h"

namespace zip {
namespace {

/// Literals in a row after which the lazy levels search at fewer positions.
constexpr uint32_t kLazySkipAfter = 512;
/// At this level a match longer than kLongMatch puts only its last kTailInserts positions
/// into the chains: inside a long repeat the positions mostly lead back to the copy it
/// repeats, and linking each of them is much of the parser's time where data repeats at
/// length. The tail stays linked, since a later match may start just before the end.
constexpr int kTailInsertLevel = 5;
constexpr uint32_t kLongMatch = 96;
constexpr uint32_t kTailInserts = 16;

}  // namespace

void fill_window(DeflateState& s) {
    MatchState& m = s.match;
    uint32_t more = 2 * kWSize - m.lookahead - m.strstart;
    if (m.strstart >= kWSize + kMaxDist) {
        std::memcpy(m.window.data(), m.window.data() + kWSize, kWSize);
        m.match_start -= kWSize;
        m.strstart -= kWSize;
        m.block_start -= kWSize;
        if (m.use_bucket) {
            for (uint16_t& h : m.bucket) h = h >= kWSize ? static_cast<uint16_t>(h - kWSize) : 0;
        } else {
            for (uint16_t& h : m.head) h = h >= kWSize ? static_cast<uint16_t>(h - kWSize) : 0;
            for (uint16_t& p : m.prev) p = p >= kWSize ? static_cast<uint16_t>(p - kWSize) : 0;
        }
        if (m.use_prev2) {
            for (uint16_t& p : m.prev2) p = p >= kWSize ? static_cast<uint16_t>(p - kWSize) : 0;
        }
        if (m.use_head3) {
            for (uint16_t& h : m.head3) h = h >= kWSize ? static_cast<uint16_t>(h - kWSize) : 0;
        }
        more += kWSize;
    }
    while (!m.eofile && more > 0) {
        uint8_t* at = m.window.data() + m.strstart + m.lookahead;
        int64_t n = s.input ? s.input->Read(std::span<uint8_t>(at, more)) : 0;
        if (n <= 0 || n > static_cast<int64_t>(more)) {
            m.eofile = true;
            if (n != 0) s.read_error = true;
            // The search and the hash look a few bytes past the input's end: make them see
            // zeros rather than what an earlier member left, so that a member compresses the
            // same whichever member the state compressed before.
            size_t end = m.strstart + m.lookahead;
            std::memset(m.window.data() + end, 0,
                        std::min<size_t>(kMaxMatch + 16, m.window.size() - end));
            break;
        }
        m.lookahead += static_cast<uint32_t>(n);
        more -= static_cast<uint32_t>(n);
    }
}

uint64_t deflate_fast(DeflateState& s) {
    MatchState& m = s.match;
    const DeflateTables& tab = deflate_tables();
    uint8_t* const win = m.window.data();
    uint16_t* const prev = m.prev.data();
    uint16_t* const head = m.head.data();
    const LevelConfig config = m.config;
    m.prev_length = kMinMatch - 1;
    Cursor c(m);
    // Literals in a row since the last match, and how many of them the greedy levels
    // tolerate before they start skipping positions.
    uint32_t misses = 0;
    const uint32_t skip_after = s.level <= kLastGreedyLevel ? kSkipAfter : UINT32_MAX;

    while (c.lookahead != 0) {
        uint32_t h = hash4(win + c.strstart);
        __builtin_prefetch(head + hash4(win + c.strstart + 1));
        uint32_t hash_head = head[h];
        prev[c.strstart & kWMask] = static_cast<uint16_t>(hash_head);
        head[h] = static_cast<uint16_t>(c.strstart);

        uint32_t match_length = 0;
        if (hash_head != 0 && c.strstart - hash_head <= kMaxDist) {
            match_length = chain_search<false>(win, prev, nullptr, c.strstart, hash_head,
                                               kMinMatch - 1, config, c.match_start);
        }
        if (match_length > c.lookahead) match_length = c.lookahead;
        bool full;
        if (match_length >= kMinMatch) {
            full = tally(s, tab, c, c.strstart - c.match_start, match_length - kMinMatch);
            c.lookahead -= match_length;
            if (match_length <= config.max_lazy) {
                // Short matches: every position goes into the hash.
                while (--match_length != 0) {
                    ++c.strstart;
                    h = hash4(win + c.strstart);
                    prev[c.strstart & kWMask] = head[h];
                    head[h] = static_cast<uint16_t>(c.strstart);
                }
                ++c.strstart;
            } else {
                c.strstart += match_length;
            }
            misses = 0;
        } else {
            full = tally(s, tab, c, 0, win[c.strstart]);
            --c.lookahead;
            ++c.strstart;
            // Where nothing has matched for long (data already compressed), the search is
            // tried at fewer and fewer positions: the bytes between go out as literals.
            if (++misses > skip_after && !full) full = skip_ahead(s, tab, c, misses - skip_after);
        }
        if ((full && !flush_ok(s, c)) || !refill(s, c)) return s.trees.compressed_len >> 3;
    }
    return flush(s, c, true);
}

namespace {

template <bool kSkip>
uint64_t lazy_parse(DeflateState& s) {
    MatchState& m = s.match;
    const DeflateTables& tab = deflate_tables();
    uint8_t* const win = m.window.data();
    uint16_t* const prev = m.prev.data();
    uint16_t* const head = m.head.data();
    uint16_t* const prev2 = m.prev2.data();
    uint16_t* const head3 = m.head3.data();
    const ChainLinks links(m);
    // Links a position into its hash chain, with the link after next alongside.
    auto insert = [&](uint32_t pos, uint32_t h) { return links.link<kSkip>(pos, h); };
    const LevelConfig config = m.config;
    Cursor c(m);
    uint32_t match_length = kMinMatch - 1;
    uint32_t prev_length = kMinMatch - 1;
    bool match_available = false;
    uint32_t misses = 0;  // literals in a row
    // The lazy levels wait longer before they skip, and the maximum level never does.
    const uint32_t skip_after = s.level < 9 ? kLazySkipAfter : UINT32_MAX;
    const uint32_t long_match = s.level == kTailInsertLevel ? kLongMatch : UINT32_MAX;

    while (c.lookahead != 0) {
        uint32_t h = hash4(win + c.strstart);
        // The next position's chain head and 3-byte head, fetched while this position is
        // searched.
        __builtin_prefetch(head + hash4(win + c.strstart + 1));
        __builtin_prefetch(head3 + hash3(win + c.strstart + 1));
        uint32_t near3 = head3[hash3(win + c.strstart)];
        uint32_t hash_head = insert(c.strstart, h);

        prev_length = match_length;
        uint32_t prev_match = c.match_start;
        match_length = kMinMatch - 1;
        if ((static_cast<uint32_t>(hash_head != 0) &
             static_cast<uint32_t>(prev_length < config.max_lazy) &
             static_cast<uint32_t>(c.strstart - hash_head <= kMaxDist)) != 0) {
            match_length = chain_search<kSkip>(win, prev, prev2, c.strstart, hash_head, prev_length,
                                               config, c.match_start);
        }
        // The 3-byte candidate's tests are folded into one branch: which of them fails is
        // hard to predict, and a mispredicted branch at every position costs more than the
        // loads.
        if (match_length < kMinMatch && prev_length < kMinMatch &&
            (((load64(win + near3) ^ load64(win + c.strstart)) & byte_mask(kMinMatch)) |
             static_cast<uint64_t>(near3 == 0) |
             static_cast<uint64_t>(c.strstart - near3 > kTooFar)) == 0) {
            match_length = kMinMatch;
            c.match_start = near3;
        }
        if (match_length > c.lookahead) match_length = c.lookahead;
        if (match_length == kMinMatch && c.strstart - c.match_start > kTooFar) {
            match_length = kMinMatch - 1;
        }
        if (prev_length >= kMinMatch && match_length <= prev_length) {
            // The previous match is at least as good as this one: take it.
            bool full = tally(s, tab, c, c.strstart - 1 - prev_match, prev_length - kMinMatch);
            c.lookahead -= prev_length - 1;
            const uint32_t end = c.strstart - 1 + prev_length;
            // The heads the search after the match reads, fetched while its positions are
            // linked.
            __builtin_prefetch(head + hash4(win + end));
            __builtin_prefetch(head3 + hash3(win + end));
            if (prev_length > long_match) {
                for (uint32_t q = end - kTailInserts; q < end; ++q) insert(q, hash4(win + q));
                c.strstart = end - 1;
                prev_length = 0;
            } else {
                prev_length -= 2;
                do {
                    ++c.strstart;
                    insert(c.strstart, hash4(win + c.strstart));
                } while (--prev_length != 0);
            }
            match_available = false;
            match_length = kMinMatch - 1;
            ++c.strstart;
            misses = 0;
            if (full && !flush_ok(s, c)) return s.trees.compressed_len >> 3;
        } else if (match_available) {
            bool full = tally(s, tab, c, 0, win[c.strstart - 1]);
            // As in the greedy parser, long stretches without a match are searched at fewer
            // positions: the one just searched (which found nothing) and those skipped go
            // out as literals. A block ends only where its symbols end, at strstart.
            if (++misses > skip_after && match_length < kMinMatch && !full) {
                full = tally(s, tab, c, 0, win[c.strstart]);
                ++c.strstart;
                --c.lookahead;
                match_available = false;
                if (!full) full = skip_ahead(s, tab, c, misses - skip_after);
                if (full && !flush_ok(s, c)) return s.trees.compressed_len >> 3;
            } else {
                if (full && !flush_ok(s, c)) return s.trees.compressed_len >> 3;
                ++c.strstart;
                --c.lookahead;
            }
        } else {
            match_available = true;
            ++c.strstart;
            --c.lookahead;
        }
        if (!refill(s, c)) return s.trees.compressed_len >> 3;
    }
    if (match_available) tally(s, tab, c, 0, win[c.strstart - 1]);
    m.prev_length = prev_length;
    return flush(s, c, true);
}

}  // namespace

uint64_t deflate_lazy(DeflateState& s) {
    // The link after next pays for itself only where chains are walked far.
    return s.match.use_prev2 ? lazy_parse<true>(s) : lazy_parse<false>(s);
}

}  // namespace zip
