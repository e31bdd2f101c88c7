// The maximum level's parser: binary trees find the matches of every position of a stretch of
// the look-ahead, and a shortest-path search over that stretch picks the literals and matches
// that cost the fewest bits under the symbol statistics seen so far.
#pragma once

#include <cstdint>
#include <memory>

namespace zip {

struct DeflateState;

/// The level that uses this parser.
constexpr int kOptimalLevel = 9;

/// The parser's buffers (the matches and paths of one stretch), made on first use.
struct OptimalScratch;

/// Makes the parser's buffers.
std::shared_ptr<OptimalScratch> make_optimal_scratch();

/// Compresses the rest of the input with the optimal parser; returns the compressed bytes.
uint64_t deflate_optimal(DeflateState& s);

}  // namespace zip
