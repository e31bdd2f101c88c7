// The compressor's window and match finder: the hash chains, window refill, the longest-match
// search, and the fast (levels 2-3; level 1 has its own, deflate_bucket) and lazy (levels 4-8)
// parsers.
#pragma once

#include <array>
#include <cstdint>

namespace zip {

struct DeflateState;

constexpr unsigned kWSize = 0x8000;
constexpr unsigned kWMask = kWSize - 1;
constexpr unsigned kHashBits = 15;
constexpr unsigned kHashSize = 1u << kHashBits;
constexpr unsigned kHashMask = kHashSize - 1;
/// Look-ahead kept before each step: the longest match, the smallest match and one byte.
constexpr unsigned kMinLookahead = 258 + 3 + 1;
/// Farthest distance of a match.
constexpr unsigned kMaxDist = kWSize - kMinLookahead;
/// Beyond this distance the lazy parser drops a 3-byte match (it costs more than 3 literals).
constexpr unsigned kTooFar = 4096;

/// Levels up to this one take the first match found (the greedy parser); the others look one
/// position ahead before taking a match (the lazy parser).
constexpr int kLastGreedyLevel = 3;
/// Chain limit from which the lazy parser keeps the link after next (levels 6-9).
constexpr unsigned kSkipFromChain = 64;

/// Per-level parameters of the match search.
struct LevelConfig {
    uint16_t good_length;  // quarter the chain once a match this long is in hand
    uint16_t max_lazy;     // lazy: longest match still searched past; greedy: longest whose
                           // positions all go into the chains
    uint16_t nice_length;  // a match this long ends the search
    uint16_t max_chain;    // chain entries examined
};

/// Rows for levels 0 to 9; row 0 is never used, nor the chain limit of row 1 (which keeps no
/// chains).
inline constexpr std::array<LevelConfig, 10> kLevelTable = {{{0, 0, 0, 0},
                                                             {8, 24, 16, 3},
                                                             {8, 258, 24, 8},
                                                             {4, 258, 32, 20},
                                                             {4, 4, 16, 16},
                                                             {8, 32, 64, 20},
                                                             {8, 16, 128, 128},
                                                             {8, 32, 128, 256},
                                                             {32, 128, 258, 1024},
                                                             {8, 128, 258, 384}}};

/// The sliding window and the hash chains.
struct MatchState {
    /// Two window halves plus slack, so comparisons may read past the look-ahead unchecked.
    std::array<uint8_t, 2 * kWSize + 512> window{};
    std::array<uint16_t, kWSize> prev{};  // chain links by position & kWMask; 0 ends
    // Lazy levels also keep the link after next, so that a search can load two links of the
    // chain at once instead of waiting for each in turn.
    std::array<uint16_t, kWSize> prev2{};
    std::array<uint16_t, kHashSize> head{};  // newest position per hash; 0 means none
    std::array<uint16_t, kHashSize> head3{};
    // The fastest level's table instead of the chains: the two newest positions per hash, in
    // pairs (see deflate_bucket).
    std::array<uint16_t, 2 * kHashSize> bucket{};
    uint32_t strstart = 0;     // current position
    uint32_t lookahead = 0;    // valid bytes from strstart on
    int64_t block_start = 0;   // start of the current block; negative after a slide
    uint32_t match_start = 0;  // position of the last match found
    uint32_t prev_length = 0;  // length of the previous match
    bool eofile = false;       // input is exhausted
    bool use_head3 = false;    // the level keeps head3 (the lazy parser)
    bool use_prev2 = false;    // the level keeps prev2 (long chains)
    bool use_bucket = false;   // the level keeps the bucket table, not head and prev
    LevelConfig config{};
};

/// Reads more input into the window, sliding it down by half when the position nears its end.
void fill_window(DeflateState& s);
/// Compresses the rest of the input with the fast parser; returns the compressed bytes.
uint64_t deflate_fast(DeflateState& s);
/// Compresses the rest of the input with the lazy parser; returns the compressed bytes.
uint64_t deflate_lazy(DeflateState& s);

}  // namespace zip
