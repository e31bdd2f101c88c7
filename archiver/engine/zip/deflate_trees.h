// Huffman trees of the compressor: the constant code tables, the symbol buffer of the current
// block, tree building with limited code lengths, and block emission.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace zip {

struct DeflateState;

constexpr unsigned kMinMatch = 3;
constexpr unsigned kMaxMatch = 258;
constexpr unsigned kLengthCodes = 29;
constexpr unsigned kLiterals = 256;
constexpr unsigned kEndBlock = 256;
constexpr unsigned kLCodes = kLiterals + 1 + kLengthCodes;  // 286
constexpr unsigned kDCodes = 30;
constexpr unsigned kBLCodes = 19;
constexpr unsigned kMaxBits = 15;
constexpr unsigned kMaxBLBits = 7;
/// Symbols one block may buffer. Blocks usually end well before this, where the statistics
/// of the symbols change (see chunk_ends_block).
constexpr unsigned kBlockSymbols = 32767;
/// Symbols observed together before they are compared with the block so far.
constexpr unsigned kChunkSymbols = 512;
/// Kinds of symbol whose shares are compared: literals by their top three bits, short and
/// long matches.
constexpr unsigned kObsKinds = 10;
/// Internal attribute value meaning "text or binary not decided yet".
constexpr uint16_t kAttrUnknown = 0xFFFF;
constexpr uint16_t kAttrBinary = 0;
constexpr uint16_t kAttrText = 1;

/// Code tables that never change: built the first time they are needed.
struct DeflateTables {
    std::array<uint8_t, 256> length_code{};  // match length - 3 -> length code 0..28
    std::array<uint8_t, 512> dist_code{};    // distance - 1 -> distance code (see d_code)
    std::array<uint16_t, kLengthCodes> base_length{};
    std::array<uint16_t, kDCodes> base_dist{};
    std::array<uint16_t, kLCodes + 2> static_lcode{};
    std::array<uint8_t, kLCodes + 2> static_llen{};
    std::array<uint16_t, kDCodes> static_dcode{};
    std::array<uint8_t, kDCodes> static_dlen{};
};

/// Extra bits of each length code, distance code and code-length code.
inline constexpr std::array<uint8_t, kLengthCodes> kExtraLBits = {
    0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
inline constexpr std::array<uint8_t, kDCodes> kExtraDBits = {0, 0, 0,  0,  1,  1,  2,  2,  3,  3,
                                                             4, 4, 5,  5,  6,  6,  7,  7,  8,  8,
                                                             9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
inline constexpr std::array<uint8_t, kBLCodes> kExtraBLBits = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                                               0, 0, 0, 0, 0, 0, 2, 3, 7};
/// The order in which code-length code lengths are sent.
inline constexpr std::array<uint8_t, kBLCodes> kBLOrder = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                           11, 4,  12, 3, 13, 2, 14, 1, 15};

/// The constant tables (built once, kept for the life of the program).
const DeflateTables& deflate_tables();

/// Distance code of (distance - 1).
inline unsigned d_code(const DeflateTables& t, unsigned dist) {
    return dist < 256 ? t.dist_code[dist] : t.dist_code[256 + (dist >> 7)];
}

/// One dynamic tree: frequencies, code lengths and codes.
struct Tree {
    std::array<uint16_t, kLCodes> freq{};
    std::array<uint16_t, kLCodes> code{};
    std::array<uint16_t, kLCodes> len{};
    int max_code = 0;  // largest code with a non-zero frequency
};

/// The current block's symbols and trees, and the member's running totals.
struct TreeState {
    Tree ltree;                                     // literal/length
    Tree dtree;                                     // distance
    Tree bltree;                                    // code lengths
    std::array<uint16_t, kMaxBits + 1> bl_count{};  // codes per length of the last tree built

    // Buffered symbols of the block, each the distance shifted up by 8 over the literal byte
    // or the match length - 3: a distance of 0 marks a literal. (One word per symbol, not a
    // byte array, which the compiler would have to assume aliases everything else.)
    std::array<uint32_t, kBlockSymbols> syms{};
    unsigned last_lit = 0;   // symbols buffered
    unsigned last_dist = 0;  // matches buffered

    // Block splitting: the symbols are observed in chunks of kChunkSymbols; a chunk whose mix
    // of kinds differs enough from the block's so far ends the block before it.
    std::array<uint32_t, kObsKinds> obs_block{};  // kinds of the block's whole chunks
    std::array<uint32_t, kObsKinds> obs_chunk{};  // kinds of the chunk being observed
    uint32_t obs_block_total = 0;                 // symbols in the block's whole chunks
    unsigned chunk_start = 0;                     // first symbol of the chunk being observed
    unsigned split_at = 0;                        // when not 0, the block ends before this symbol

    uint64_t opt_len = 0;         // bits of the block with dynamic trees
    uint64_t static_len = 0;      // bits of the block with the fixed trees
    uint64_t compressed_len = 0;  // bits emitted for the member so far
    uint64_t input_len = 0;       // bytes of input covered by emitted blocks

    uint16_t* internal_attr = nullptr;  // the member's text/binary word
    uint16_t* method = nullptr;         // the member's method word
};

/// Clears the frequencies and buffers for a new block.
void init_block(TreeState& t);

/// Buffers one symbol: `dist` 0 and the byte for a literal, else the distance and length - 3.
/// True when the buffers are full and the block must be emitted.
inline bool record_symbol(TreeState& t, const DeflateTables& tab, unsigned dist, unsigned lc) {
    t.syms[t.last_lit] = dist << 8 | lc;
    ++t.last_lit;
    if (dist == 0) {
        ++t.ltree.freq[lc];
        ++t.obs_chunk[lc >> 5];
    } else {
        ++t.last_dist;
        ++t.ltree.freq[tab.length_code[lc] + kLiterals + 1];
        ++t.dtree.freq[d_code(tab, dist - 1)];
        ++t.obs_chunk[lc < 6 ? 8 : 9];  // shorter than 9 bytes, or not
    }
    return t.last_lit == kBlockSymbols;
}

/// Called when a chunk of kChunkSymbols is complete: true when its mix of symbols differs from
/// the block's so far enough that the block should end before it (split_at is then set);
/// otherwise the chunk joins the block.
bool chunk_ends_block(TreeState& t);

/// Takes the symbols from split_at on out of the block's frequencies before the block is
/// emitted; returns the input bytes they cover. They stay in the buffer for restore_tail.
uint64_t hold_back_tail(TreeState& t, const DeflateTables& tab);
/// After the block before split_at was emitted: moves the held-back symbols (those from `from`
/// up to `end`) to the front as the start of the next block.
void restore_tail(TreeState& t, const DeflateTables& tab, unsigned from, unsigned end);

/// Huffman code lengths for `freq` (at most kLCodes codes) limited to `max_length`: the tree
/// builder on its own, as the blocks use it.
std::vector<uint8_t> code_lengths(std::span<const uint16_t> freq, unsigned max_length);

/// Emits the buffered block. `buf` is the block's input when still in the window (else null),
/// `stored_len` its length. Returns the member's compressed bytes so far.
uint64_t emit_block(DeflateState& s, const uint8_t* buf, uint64_t stored_len, bool last);

}  // namespace zip
