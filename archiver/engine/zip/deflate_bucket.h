// The fastest level's parser: greedy, over a hash table whose every entry keeps the two newest
// positions of its hash side by side, so that a search costs one load of the table and two
// comparisons, and no chain of older positions is kept at all.
#pragma once

#include <cstdint>

namespace zip {

struct DeflateState;

/// The level that uses this parser.
constexpr int kBucketLevel = 1;

/// Compresses the rest of the input with the bucket parser; returns the compressed bytes.
uint64_t deflate_bucket(DeflateState& s);

}  // namespace zip
