// The maximum level's parser: before it takes a match it looks for a better one one and two
// positions further on, and it weighs the choices by the bits they would cost under the
// statistics of the block so far.
#pragma once

#include <cstdint>

namespace zip {

struct DeflateState;

/// The level that uses this parser.
constexpr int kLookaheadLevel = 9;

/// Compresses the rest of the input with the look-ahead parser; returns the compressed bytes.
uint64_t deflate_lookahead(DeflateState& s);

}  // namespace zip
