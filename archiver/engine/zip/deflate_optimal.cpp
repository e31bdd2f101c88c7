#include "archiver/engine/zip/deflate_optimal.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>

#include "archiver/engine/zip/deflate.h"
#include "archiver/engine/zip/deflate_parse.h"

namespace zip {
namespace {

/// Positions parsed together. Longer stretches see more of the cost of their choices, but the
/// whole look-ahead of 32 KiB would leave nothing to refill between two slides.
constexpr uint32_t kSegment = 16384;
/// Tree nodes visited per position searched, and per position only added. Deeper searches
/// gain little: the tree puts the longest matches near the top.
constexpr uint32_t kSearchDepth = 12;
constexpr uint32_t kInsertDepth = 8;
/// A match this long ends the search.
constexpr uint32_t kNiceLength = kMaxMatch;
/// The positions inside a match this long are only added, not searched: a cheaper path
/// rarely starts within one. (Shorter limits cost much on text of few distinct words.)
constexpr uint32_t kSkipLength = 64;
/// Costs are in sixteenths of a bit.
constexpr unsigned kCostShift = 4;
/// Matches cached per stretch: room for eight a position on average. A stretch ends early
/// when fewer than one position's worst case remain.
constexpr uint32_t kMatchCapacity = kSegment * 8;

using Kids = std::array<std::array<uint16_t, 2>, kWSize>;

struct Match {
    uint16_t len;
    uint16_t dist;
};

}  // namespace

struct OptimalScratch {
    // The matches of position i of the stretch, ever longer: matches[first[i], first[i + 1]).
    std::array<uint32_t, kSegment + 1> first;
    std::array<Match, kMatchCapacity> matches;
    // Cheapest cost from each position to the end of the stretch, and the step that gets it
    // (length 1 for a literal). Matches may run up to kMaxMatch - 1 past the end.
    std::array<uint32_t, kSegment + kMaxMatch + 1> cost;
    std::array<uint16_t, kSegment + kMaxMatch> step_len;
    std::array<uint16_t, kSegment + kMaxMatch> step_dist;

    std::array<uint32_t, kLiterals> lit_cost;
    std::array<uint32_t, kMaxMatch + 1> len_cost;  // length symbol and its extra bits
    std::array<uint32_t, kDCodes> dist_cost;       // distance code and its extra bits

    // Symbols of the latest parse.
    std::array<uint32_t, kLCodes> lfreq;
    std::array<uint32_t, kDCodes> dfreq;

    // Children of the match finder's tree nodes, by position & kWMask.
    Kids kids;
};

std::shared_ptr<OptimalScratch> make_optimal_scratch() {
    return std::make_shared<OptimalScratch>();
}

namespace {

/// Prices each symbol at -log2 of its share in the latest parse, within the lengths a code may
/// give it; a symbol not seen costs one bit more than the rarest could.
void statistical_costs(OptimalScratch& o, const DeflateTables& tab) {
    auto price = [](std::span<const uint32_t> freq, std::span<uint32_t> cost) {
        uint64_t total = 0;
        for (uint32_t f : freq) total += f;
        if (total == 0) return false;
        const double log_total = std::log2(static_cast<double>(total));
        for (size_t i = 0; i < freq.size(); ++i) {
            double bits =
                freq[i] ? log_total - std::log2(static_cast<double>(freq[i])) : log_total + 1;
            bits = std::clamp(bits, 1.0, static_cast<double>(kMaxBits));
            cost[i] = static_cast<uint32_t>(bits * (1u << kCostShift) + 0.5);
        }
        return true;
    };
    std::array<uint32_t, kLCodes> lcost;
    std::array<uint32_t, kDCodes> dcost;
    price(o.lfreq, lcost);
    if (!price(o.dfreq, dcost)) {
        for (unsigned c = 0; c < kDCodes; ++c) dcost[c] = tab.static_dlen[c] << kCostShift;
    }
    std::copy_n(lcost.begin(), kLiterals, o.lit_cost.begin());
    for (unsigned len = kMinMatch; len <= kMaxMatch; ++len) {
        unsigned code = tab.length_code[len - kMinMatch];
        o.len_cost[len] = lcost[code + kLiterals + 1] + (kExtraLBits[code] << kCostShift);
    }
    for (unsigned c = 0; c < kDCodes; ++c) {
        o.dist_cost[c] = dcost[c] + (kExtraDBits[c] << kCostShift);
    }
}

inline uint32_t load32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

/// The match finder: binary trees. Each 4-byte hash bucket holds a search tree of the
/// positions with that hash, ordered by the bytes that follow them, newest at the root:
/// `head` holds the roots and `kids` the left and right children side by side. Every node is
/// newer than its children, so a walk ends at the first node beyond the window's reach.
/// Adding a position walks down from the root as a search does, splitting the tree into the
/// nodes before and after the new one, which becomes the root. `head3` holds the newest
/// position of each 3-byte hash, for the short near matches.
class TreeFinder {
public:
    TreeFinder(MatchState& m, Kids& kids)
        : win_(m.window.data()), head_(m.head.data()), head3_(m.head3.data()), kids_(kids.data()) {}

    /// Adds `pos` (`max_len` bytes available there) without looking for its matches.
    void insert(uint32_t pos, uint32_t max_len) {
        head3_[hash3(win_ + pos)] = static_cast<uint16_t>(pos);
        walk<false>(pos, max_len, kInsertDepth, nullptr, kMinMatch - 1);
    }

    /// Adds `pos` and writes its matches to `out`, ever longer (each the nearest found of its
    /// length), at most `max_len` long (the bytes available at `pos`); returns how many.
    uint32_t search(uint32_t pos, uint32_t max_len, uint32_t rep_dist, Match* out) {
        const uint8_t* cur = win_ + pos;
        uint32_t h3 = hash3(cur);
        uint32_t near3 = head3_[h3];
        head3_[h3] = static_cast<uint16_t>(pos);
        Match* o = out;
        uint32_t best = kMinMatch - 1;
        // A 3-byte match farther than kTooFar costs about as much as its three literals.
        if (near3 != 0 && pos - near3 <= kTooFar && max_len >= kMinMatch &&
            ((load32(cur) ^ load32(win_ + near3)) & 0xFFFFFF) == 0) {
            *o++ = {static_cast<uint16_t>(kMinMatch), static_cast<uint16_t>(pos - near3)};
            best = kMinMatch;
        }
        o += walk<true>(pos, max_len, kSearchDepth, o, best);
        // The walk may reach its depth short of the longest match; in periodic data the
        // distance of the match before often goes on longer.
        const uint32_t longest = o != out ? o[-1].len : 0;
        if (rep_dist != 0 && rep_dist < pos && rep_dist <= kMaxDist && longest < max_len &&
            longest >= kMinMatch) {
            uint32_t len = equal_length(cur, cur - rep_dist, 0, max_len);
            if (len > longest) *o++ = {static_cast<uint16_t>(len), static_cast<uint16_t>(rep_dist)};
        }
        return static_cast<uint32_t>(o - out);
    }

private:
    template <bool kRecord>
    uint32_t walk(uint32_t pos, uint32_t max_len, uint32_t depth, Match* out, uint32_t best) {
        const uint8_t* cur = win_ + pos;
        const uint32_t limit = pos > kMaxDist ? pos - kMaxDist : 0;
        uint32_t h = hash4(cur);
        uint32_t node = head_[h];
        head_[h] = static_cast<uint16_t>(pos);
        // The next position's root and its bytes are fetched while this one is walked.
        const uint32_t next_root = head_[hash4(cur + 1)];
        __builtin_prefetch(kids_ + (next_root & kWMask));
        __builtin_prefetch(win_ + next_root);
        __builtin_prefetch(head_ + hash4(cur + 2));
        __builtin_prefetch(head3_ + hash3(cur + 1));
        Match* o = out;
        // Where the next node found below (before) or above (after) the new one is linked.
        uint16_t* below = &kids_[pos & kWMask][0];
        uint16_t* above = &kids_[pos & kWMask][1];
        // Bytes known equal with every node that could still be met on either side.
        uint32_t len_below = 0;
        uint32_t len_above = 0;
        const uint32_t cut = std::min(kNiceLength, max_len);
        while (node > limit) {
            if (depth-- == 0) break;
            const uint8_t* match = win_ + node;
            uint16_t* node_kids = kids_[node & kWMask].data();
            uint32_t len = equal_length(cur, match, std::min(len_below, len_above), max_len);
            if (kRecord && len > best) {
                best = len;
                *o++ = {static_cast<uint16_t>(len), static_cast<uint16_t>(pos - node)};
            }
            if (len >= cut) {
                // Equal as far as compared: the new node takes the old one's place.
                *below = node_kids[0];
                *above = node_kids[1];
                return static_cast<uint32_t>(o - out);
            }
            if (match[len] < cur[len]) {
                *below = static_cast<uint16_t>(node);
                below = &node_kids[1];
                node = *below;
                len_below = len;
            } else {
                *above = static_cast<uint16_t>(node);
                above = &node_kids[0];
                node = *above;
                len_above = len;
            }
        }
        *below = 0;
        *above = 0;
        return static_cast<uint32_t>(o - out);
    }

    const uint8_t* win_;
    uint16_t* head_;
    uint16_t* head3_;
    std::array<uint16_t, 2>* kids_;
};

/// After the window slid down by kWSize: the children follow, those that fell out become none.
void rebase_kids(Kids& kids) {
    for (auto& pair : kids) {
        for (uint16_t& k : pair) k = k >= kWSize ? static_cast<uint16_t>(k - kWSize) : 0;
    }
}

/// Finds the matches of up to `n` positions from `start` (`avail` bytes from there on) into
/// the cache; returns the positions covered, fewer when the cache filled up.
uint32_t find_matches(OptimalScratch& o, TreeFinder& finder, uint32_t start, uint32_t avail,
                      uint32_t n) {
    uint32_t used = 0;
    uint32_t skip_to = 0;   // positions before this one are only added
    uint32_t rep_dist = 0;  // distance of the longest match at the last position searched
    for (uint32_t i = 0; i < n; ++i) {
        if (used > kMatchCapacity - kMaxMatch) {
            n = i;
            break;
        }
        o.first[i] = used;
        const uint32_t max_len = std::min(kMaxMatch, avail - i);
        if (i < skip_to) {
            finder.insert(start + i, max_len);
            continue;
        }
        uint32_t found = finder.search(start + i, max_len, rep_dist, &o.matches[used]);
        used += found;
        if (found != 0) {
            uint32_t longest = o.matches[used - 1].len;
            rep_dist = o.matches[used - 1].dist;
            if (longest >= std::min(kSkipLength, max_len)) skip_to = i + longest;
        }
    }
    o.first[n] = used;
    return n;
}

/// Counts the symbols of a greedy parse of positions [0, n) over the cached matches, the
/// longest match at each position: a first estimate of the symbols' costs.
void greedy_counts(OptimalScratch& o, const DeflateTables& tab, const uint8_t* data, uint32_t n) {
    o.lfreq.fill(0);
    o.dfreq.fill(0);
    o.lfreq[kEndBlock] = 1;
    for (uint32_t i = 0; i < n;) {
        if (o.first[i] == o.first[i + 1]) {
            ++o.lfreq[data[i++]];
            continue;
        }
        const Match& m = o.matches[o.first[i + 1] - 1];
        ++o.lfreq[tab.length_code[m.len - kMinMatch] + kLiterals + 1];
        ++o.dfreq[d_code(tab, m.dist - 1u)];
        i += m.len;
    }
}

/// Chooses the cheapest steps over positions [0, n) of `data` under the current costs, from
/// the last position back; matches may end up to kMaxMatch - 1 past n, which costs nothing
/// more. Then follows the choice from 0 and counts its symbols; returns where it ends (>= n).
uint32_t parse(OptimalScratch& o, const DeflateTables& tab, const uint8_t* data, uint32_t n) {
    uint32_t* const cost = o.cost.data();
    std::fill(cost + n, cost + n + kMaxMatch + 1, 0);
    for (uint32_t i = n; i-- > 0;) {
        // Cost and length of a step in one key, so that the cheapest is a plain minimum (the
        // comparisons would mispredict); ties go to the shorter step.
        uint64_t best = uint64_t{cost[i + 1] + o.lit_cost[data[i]]} << 9 | 1;
        uint32_t len = kMinMatch;
        const Match* const begin = &o.matches[o.first[i]];
        const Match* const end = &o.matches[o.first[i + 1]];
        for (const Match* m = begin; m != end; ++m) {
            const uint32_t dist_cost = o.dist_cost[d_code(tab, m->dist - 1u)];
            const uint32_t top = m->len;
            for (; len <= top; ++len) {
                uint64_t c = cost[i + len] + o.len_cost[len] + dist_cost;
                best = std::min(best, c << 9 | len);
            }
        }
        const uint32_t best_len = static_cast<uint32_t>(best & 511);
        cost[i] = static_cast<uint32_t>(best >> 9);
        o.step_len[i] = static_cast<uint16_t>(best_len);
        // Each length is taken from the first match that reaches it.
        const Match* m = begin;
        if (best_len > 1) {
            while (m->len < best_len) ++m;
        }
        o.step_dist[i] = best_len > 1 ? m->dist : 0;
    }
    o.lfreq.fill(0);
    o.dfreq.fill(0);
    o.lfreq[kEndBlock] = 1;
    uint32_t i = 0;
    while (i < n) {
        uint32_t len = o.step_len[i];
        if (len == 1) {
            ++o.lfreq[data[i]];
        } else {
            ++o.lfreq[tab.length_code[len - kMinMatch] + kLiterals + 1];
            ++o.dfreq[d_code(tab, o.step_dist[i] - 1u)];
        }
        i += len;
    }
    return i;
}

}  // namespace

uint64_t deflate_optimal(DeflateState& s) {
    if (!s.optimal) s.optimal = make_optimal_scratch();
    OptimalScratch& o = *s.optimal;
    TreeFinder finder(s.match, o.kids);
    MatchState& m = s.match;
    const DeflateTables& tab = deflate_tables();
    const uint8_t* const win = m.window.data();
    bool first_stretch = true;
    Cursor c(m);
    while (c.lookahead != 0) {
        if (!m.eofile && c.lookahead < kSegment + kMinLookahead) {
            if (s.read_error || s.bits.failed) return s.trees.compressed_len >> 3;
            const uint32_t before = c.strstart;
            c.store(m);
            fill_window(s);
            c.load(m);
            if (c.strstart < before) rebase_kids(o.kids);
            if (s.read_error || s.bits.failed) return s.trees.compressed_len >> 3;
        }
        // Until the input ends, every position parsed keeps a longest match's bytes ahead.
        uint32_t n = c.lookahead;
        if (!m.eofile) n = c.lookahead > kMinLookahead ? c.lookahead - kMinLookahead : 1;
        n = std::min(n, kSegment);
        n = find_matches(o, finder, c.strstart, c.lookahead, n);

        const uint8_t* data = win + c.strstart;
        // A member's first stretch is priced by the symbols of a greedy pass over its
        // matches, later ones by the parse of the stretch before.
        if (first_stretch) {
            greedy_counts(o, tab, data, n);
            first_stretch = false;
        }
        statistical_costs(o, tab);
        const uint32_t end = parse(o, tab, data, n);

        const uint32_t from = c.strstart;
        for (uint32_t i = 0; i < end;) {
            uint32_t len = o.step_len[i];
            bool full = len == 1 ? tally(s, tab, c, 0, data[i])
                                 : tally(s, tab, c, o.step_dist[i], len - kMinMatch);
            c.strstart += len;
            c.lookahead -= len;
            i += len;
            if (full && !flush_ok(s, c)) return s.trees.compressed_len >> 3;
        }
        // The last match may have run past the stretch: its positions still join the trees.
        for (uint32_t pos = from + n; pos < c.strstart; ++pos) {
            finder.insert(pos, std::min(kMaxMatch, c.lookahead + (c.strstart - pos)));
        }
    }
    return flush(s, c, true);
}

}  // namespace zip
