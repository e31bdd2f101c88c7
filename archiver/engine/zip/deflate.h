// The Deflate compressor (RFC 1951) as the member writer drives it: one member at a time into
// the archive stream, deciding on the way the level flag bits, the text/binary attribute and
// whether a member that does not shrink is kept stored.
//
// Per member:
//   DeflateState& s = deflate_state();
//   init_bit_writer(s, &out, &in);  // out: archive stream (+ cipher); in: the file (+ CRC-32)
//   init_trees(s, &internal_attr, &method);  // attr preset to kAttrUnknown, method to 8
//   if (init_matcher(s, level, &flags) != 0) -> result 5, "bad pack level"
//   DeflateResult r = deflate_member(s);  // r.result 0, 11 or 14; r.compressed_size
// Afterwards `method` is kMethodStored when the member was written as raw bytes (only when
// `out` can seek and the whole member did not shrink in one block).
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <utility>
#include <vector>

#include "archiver/engine/zip/deflate_bits.h"
#include "archiver/engine/zip/deflate_lookahead.h"
#include "archiver/engine/zip/deflate_match.h"
#include "archiver/engine/zip/deflate_trees.h"

namespace zip {

/// Member method words.
constexpr uint16_t kMethodStored = 0;
constexpr uint16_t kMethodDeflated = 8;

/// General-purpose flag bits that record the level.
constexpr uint16_t kFlagMaximum = 2;    // level 9
constexpr uint16_t kFlagSuperFast = 4;  // level 1

/// Outcome of one member's compression.
struct DeflateResult {
    /// 0, or the engine result: 5 internal error, 11 input read failure, 14 output write failure.
    int result = 0;
    /// The detail of an internal error ("bad pack level"), else empty.
    const char* detail = "";
    /// Bytes of compressed data written for the member.
    uint64_t compressed_size = 0;
};

/// Everything one compression uses; the engine compresses members one after another.
struct DeflateState {
    BitWriter bits;
    TreeState trees;
    MatchState match;
    DeflateInput* input = nullptr;
    int level = 0;
    bool read_error = false;
    /// When set, every symbol is appended as (distance, length) with distance 0 for a
    /// literal, block by block as the blocks are emitted (not as the parsers choose them,
    /// which would cost their loops a check per symbol); lets tests see the parser's choices.
    std::vector<std::pair<uint32_t, uint32_t>>* trace = nullptr;
};

/// The engine's compressor state.
DeflateState& deflate_state();
/// A fresh compressor state (tests, benchmarks).
std::unique_ptr<DeflateState> make_deflate_state();

/// Attaches the output and the input of the next member.
void init_bit_writer(DeflateState& s, DeflateOutput* out, DeflateInput* in);
/// Remembers the member's internal attribute and method words and starts a block.
void init_trees(DeflateState& s, uint16_t* internal_attr, uint16_t* method);
/// Loads the level (1-9), marks it in `flags` and primes the window; 5 for a bad level.
int init_matcher(DeflateState& s, int level, uint16_t* flags);
/// Compresses to the end of the input.
DeflateResult deflate_member(DeflateState& s);

/// What a whole-buffer compression decided for the member.
struct DeflateBufferInfo {
    uint16_t method = kMethodDeflated;
    uint16_t internal_attr = kAttrUnknown;
    uint16_t flags = 0;
};

/// Compresses `data` at `level` into `out` in one call; with `seekable` a member that does not
/// shrink comes back raw with method stored.
DeflateResult deflate_buffer(DeflateState& s, std::span<const uint8_t> data, int level,
                             bool seekable, std::vector<uint8_t>& out,
                             DeflateBufferInfo* info = nullptr);

}  // namespace zip
