#include "archiver/engine/zip/deflate_lookahead.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>

#include "archiver/engine/zip/deflate.h"
#include "archiver/engine/zip/deflate_parse.h"

namespace zip {
namespace {

/// A match shorter than this is also compared with the match two positions on (which is
/// searched half as far); longer ones leave too little to gain for the search's cost.
constexpr uint32_t kTwoAheadBelow = 32;
/// Costs are in sixteenths of a bit. A later match must save this much more than the
/// literals it leaves behind cost, so that estimates within noise keep the match in hand.
constexpr unsigned kCostShift = 4;
constexpr uint32_t kOneAheadMargin = 1u << kCostShift;
constexpr uint32_t kTwoAheadMargin = 2u << kCostShift;
/// Matches this short are sent as literals when those cost fewer bits.
constexpr uint32_t kWeighedBelow = 5;
/// The symbol costs follow the block's statistics, renewed every kCostEvery symbols, or every
/// 1/kCostEveryShare of the block's symbols once that is more; a new block keeps the costs of
/// the one before until it has kCostFirst symbols of its own.
constexpr unsigned kCostEvery = 128;
constexpr unsigned kCostEveryShare = 8;
constexpr unsigned kCostFirst = 256;

/// Symbols between two choices of the search mode, and the bytes per symbol above which the
/// deeper search is chosen (with the look two positions ahead only past short matches).
constexpr uint32_t kModeSymbols = 256;
constexpr uint32_t kDeepBytesPerSymbol = 6;
constexpr uint16_t kDeepChain = 1024;
constexpr uint16_t kDeepGoodLength = 32;
constexpr uint32_t kDeepTwoAheadBelow = 8;

/// Sixteen times the base-2 logarithm of `x` (x at least 1), from its top bits.
uint32_t log2_16(uint32_t x) {
    static const std::array<uint8_t, 256> frac = [] {
        std::array<uint8_t, 256> t{};
        for (unsigned i = 0; i < 256; ++i) {
            t[i] = static_cast<uint8_t>(std::lround(16 * std::log2(1 + (i + 0.5) / 256)));
        }
        return t;
    }();
    const unsigned top = std::bit_width(x) - 1;
    const uint32_t mant = top >= 8 ? x >> (top - 8) : x << (8 - top);
    return top * 16 + frac[mant & 255];
}

/// Estimated bits of each symbol, extra bits included.
struct SymbolCosts {
    std::array<uint32_t, kLiterals> lit;
    std::array<uint32_t, kMaxMatch + 1> len;
    std::array<uint32_t, kDCodes> dist;

    /// The fixed codes' lengths: the guess before any statistics.
    void from_fixed(const DeflateTables& tab) {
        for (unsigned c = 0; c < kLiterals; ++c) lit[c] = tab.static_llen[c] << kCostShift;
        for (unsigned l = kMinMatch; l <= kMaxMatch; ++l) {
            unsigned code = tab.length_code[l - kMinMatch];
            len[l] = (tab.static_llen[code + kLiterals + 1] + kExtraLBits[code]) << kCostShift;
        }
        for (unsigned c = 0; c < kDCodes; ++c) {
            dist[c] = (tab.static_dlen[c] + kExtraDBits[c]) << kCostShift;
        }
    }

    /// -log2 of each symbol's share in the block so far, within the lengths a code may give;
    /// a symbol not seen costs a bit more than one seen once.
    void from_counts(const TreeState& t, const DeflateTables& tab) {
        auto price = [](const uint16_t* freq, unsigned n, uint32_t* cost) {
            uint32_t total = 0;
            for (unsigned i = 0; i < n; ++i) total += freq[i];
            if (total == 0) return;
            const uint32_t log_total = log2_16(total);
            for (unsigned i = 0; i < n; ++i) {
                uint32_t bits = freq[i] ? log_total - log2_16(freq[i]) : log_total + 16;
                cost[i] = std::clamp<uint32_t>(bits, 1u << kCostShift, kMaxBits << kCostShift);
            }
        };
        std::array<uint32_t, kLCodes> lc;
        std::array<uint32_t, kDCodes> dc;
        dc.fill(5u << kCostShift);  // no match yet: as the fixed code
        price(t.ltree.freq.data(), kLCodes, lc.data());
        price(t.dtree.freq.data(), kDCodes, dc.data());
        std::copy_n(lc.begin(), kLiterals, lit.begin());
        for (unsigned l = kMinMatch; l <= kMaxMatch; ++l) {
            unsigned code = tab.length_code[l - kMinMatch];
            len[l] = lc[code + kLiterals + 1] + (kExtraLBits[code] << kCostShift);
        }
        for (unsigned c = 0; c < kDCodes; ++c) dist[c] = dc[c] + (kExtraDBits[c] << kCostShift);
    }

    uint32_t match(const DeflateTables& tab, uint32_t l, uint32_t d) const {
        return len[l] + dist[d_code(tab, d - 1)];
    }
};

/// The search settings in force: the level's for most data; deeper ones where matches are
/// long and many (text of few distinct words, say), where the longest matches lie deep in
/// crowded chains and looking two positions ahead picks worse than it gains.
struct SearchMode {
    LevelConfig one;  // at the position and the next
    LevelConfig two;  // two positions on
    uint32_t two_ahead_below;
};

template <bool kSkip>
uint64_t lookahead_parse(DeflateState& s) {
    MatchState& m = s.match;
    const DeflateTables& tab = deflate_tables();
    const TreeState& trees = s.trees;
    uint8_t* const win = m.window.data();
    uint16_t* const prev = m.prev.data();
    uint16_t* const head = m.head.data();
    uint16_t* const prev2 = m.prev2.data();
    uint16_t* const head3 = m.head3.data();
    SearchMode modes[2];
    modes[0] = {m.config, m.config, kTwoAheadBelow};
    modes[1] = {m.config, m.config, kDeepTwoAheadBelow};
    modes[1].one.good_length = kDeepGoodLength;
    modes[1].one.max_chain = kDeepChain;
    for (SearchMode& mode : modes) {
        mode.two = mode.one;
        mode.two.max_chain = static_cast<uint16_t>(mode.one.max_chain / 2);
    }
    const SearchMode* mode = &modes[0];
    // Symbols and the bytes they covered since the mode was last chosen.
    uint32_t mode_symbols = 0;
    uint32_t mode_bytes = 0;
    Cursor c(m);

    // Every position goes into the chains once, in order: those before next_insert are in.
    uint32_t next_insert = c.strstart;
    const ChainLinks links(m);
    auto insert = [&](uint32_t pos) { return links.link<kSkip>(pos, hash4(win + pos)); };
    // Adds the positions up to `pos` (not yet added) and finds a match there longer than
    // `best` within `avail` bytes; returns its length (0 for none) and sets `dist`.
    auto find = [&](uint32_t pos, uint32_t best, uint32_t avail, const LevelConfig& cfg,
                    uint32_t& dist, MatchList* list) -> uint32_t {
        while (next_insert < pos) insert(next_insert++);
        __builtin_prefetch(head + hash4(win + pos + 1));
        __builtin_prefetch(head3 + hash3(win + pos + 1));
        const uint32_t hash_head = insert(pos);
        next_insert = pos + 1;
        uint32_t len = 0;
        uint32_t start = 0;
        if (hash_head != 0 && pos - hash_head <= kMaxDist) {
            len = chain_search<kSkip>(win, prev, prev2, pos, hash_head, best, cfg, start, list);
        }
        len = std::min(len, avail);
        if (len <= best || len < kMinMatch) return 0;
        dist = pos - start;
        return len;
    };

    SymbolCosts costs;
    costs.from_fixed(tab);
    unsigned costs_at = 0;  // symbols in the block when the costs were last renewed
    auto lits = [&](uint32_t from, uint32_t to) {
        uint32_t sum = 0;
        for (uint32_t q = from; q < to; ++q) sum += costs.lit[win[q]];
        return sum;
    };
    // Bits of [from, to) after a match that ends at `from`: the rest of a match at distance
    // `d` where that is long enough, else literals.
    auto rest = [&](uint32_t from, uint32_t to, uint32_t d) {
        return to >= from + kMinMatch ? costs.match(tab, to - from, d) : lits(from, to);
    };

    uint32_t len = 0;  // the match at strstart, when `have`
    uint32_t dist = 0;
    bool have = false;
    while (c.lookahead != 0) {
        const unsigned symbols = trees.last_lit;
        if (symbols >= costs_at + std::max(kCostEvery, costs_at / kCostEveryShare) ||
            (symbols < costs_at && symbols >= kCostFirst)) {
            costs.from_counts(trees, tab);
            costs_at = symbols;
        }
        if (mode_symbols >= kModeSymbols) {
            mode = &modes[mode_bytes > kDeepBytesPerSymbol * mode_symbols ? 1 : 0];
            mode_symbols = 0;
            mode_bytes = 0;
        }
        const uint32_t p = c.strstart;
        if (!have) {
            uint32_t near3 = head3[hash3(win + p)];
            MatchList list;
            len = find(p, kMinMatch - 1, c.lookahead, mode->one, dist, &list);
            if (len != 0) {
                // A shorter match nearer by may cost less, the longest one's distance then
                // covering the rest.
                uint32_t best = costs.match(tab, len, dist);
                const uint32_t longest = len;
                const uint32_t longest_dist = dist;
                for (unsigned k = 0; k + 1 < list.n; ++k) {
                    const uint32_t l = list.len[k];
                    const uint32_t d = p - list.start[k];
                    if (l >= longest || (l == kMinMatch && d > kTooFar)) continue;
                    const uint32_t cost =
                        costs.match(tab, l, d) + rest(p + l, p + longest, longest_dist);
                    if (cost < best) {
                        best = cost;
                        len = l;
                        dist = d;
                    }
                }
            } else if (near3 != 0 && p - near3 <= kTooFar && c.lookahead >= kMinMatch &&
                       ((load64(win + near3) ^ load64(win + p)) & 0xFFFFFF) == 0) {
                len = kMinMatch;
                dist = p - near3;
            }
            if (len != 0 && len < kWeighedBelow && costs.match(tab, len, dist) > lits(p, p + len)) {
                len = 0;
            }
        }
        have = false;
        if (len == 0) {
            bool full = tally(s, tab, c, 0, win[p]);
            ++mode_symbols;
            ++mode_bytes;
            ++c.strstart;
            --c.lookahead;
            if ((full && !flush_ok(s, c)) || !refill(s, c)) return s.trees.compressed_len >> 3;
            next_insert = c.strstart;
            continue;
        }
        // A later match that starts one or two literals on and ends beyond this one is
        // compared with this match followed by the later one's rest.
        uint32_t literals = 0;
        if (len < mode->one.max_lazy && c.lookahead > kMinMatch + 1) {
            uint32_t d1 = 0;
            const uint32_t l1 = find(p + 1, len, c.lookahead - 1, mode->one, d1, nullptr);
            if (l1 != 0 && costs.lit[win[p]] + costs.match(tab, l1, d1) + kOneAheadMargin <
                               costs.match(tab, len, dist) + rest(p + len, p + 1 + l1, d1)) {
                literals = 1;
                len = l1;
                dist = d1;
            } else if (len < mode->two_ahead_below && c.lookahead > kMinMatch + 2) {
                uint32_t d2 = 0;
                const uint32_t l2 = find(p + 2, len + 1, c.lookahead - 2, mode->two, d2, nullptr);
                if (l2 != 0 && lits(p, p + 2) + costs.match(tab, l2, d2) + kTwoAheadMargin <
                                   costs.match(tab, len, dist) + rest(p + len, p + 2 + l2, d2)) {
                    literals = 2;
                    len = l2;
                    dist = d2;
                }
            }
        }
        if (literals != 0) {
            // The later match is taken up again at its own position, where the positions after
            // it are compared with it in turn.
            for (uint32_t k = 0; k < literals; ++k) {
                bool full = tally(s, tab, c, 0, win[c.strstart]);
                ++c.strstart;
                --c.lookahead;
                if (full && !flush_ok(s, c)) return s.trees.compressed_len >> 3;
            }
            mode_symbols += literals;
            mode_bytes += literals;
            have = true;
        } else {
            bool full = tally(s, tab, c, dist, len - kMinMatch);
            ++mode_symbols;
            mode_bytes += len;
            const uint32_t end = p + len;
            while (next_insert < end) insert(next_insert++);
            c.strstart = end;
            c.lookahead -= len;
            if (full && !flush_ok(s, c)) return s.trees.compressed_len >> 3;
        }
        // A refill may slide the window down: the distance in hand still holds.
        const uint32_t before = c.strstart;
        if (!refill(s, c)) return s.trees.compressed_len >> 3;
        next_insert -= before - c.strstart;
    }
    return flush(s, c, true);
}

}  // namespace

uint64_t deflate_lookahead(DeflateState& s) {
    // The link after next pays for itself only where chains are walked far.
    return s.match.use_prev2 ? lookahead_parse<true>(s) : lookahead_parse<false>(s);
}

}  // namespace zip
