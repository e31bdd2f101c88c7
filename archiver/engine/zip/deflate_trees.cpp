#include "archiver/engine/zip/deflate_trees.h"

#include <algorithm>
#include <memory>

#include "archiver/engine/zip/deflate.h"

namespace zip {
namespace {

constexpr unsigned kRep3To6 = 16;      // repeat the previous length 3-6 times
constexpr unsigned kRepZ3To10 = 17;    // 3-10 zero lengths
constexpr unsigned kRepZ11To138 = 18;  // 11-138 zero lengths

/// A block is split only once it holds this many symbols.
constexpr unsigned kMinSplitSymbols = 4096;
/// A chunk ends the block when the shares of its kinds differ from the block's by more than
/// kSplitThreshold / kSplitScale in all (the sum of the differences of two sets of shares is
/// at most 2).
constexpr uint64_t kSplitScale = 64;
constexpr uint64_t kSplitThreshold = 24;

constexpr unsigned kStoredBlock = 0;
constexpr unsigned kFixedBlock = 1;
constexpr unsigned kDynamicBlock = 2;

/// How one tree is built: its fixed counterpart and its limits.
struct TreeDesc {
    const uint8_t* static_len;  // fixed-tree lengths, null for the code-length tree
    const uint8_t* extra_bits;
    unsigned extra_base;  // first code that has extra bits
    unsigned elems;       // number of codes
    unsigned max_length;  // longest allowed code
};

/// The low `len` bits of `code` (len 1 to 16) in reverse order: the 16-bit reversal by
/// swapping ever smaller halves, shifted down.
uint16_t reverse_bits(unsigned code, unsigned len) {
    uint32_t v = code & 0xFFFF;
    v = (v >> 8 | v << 8) & 0xFFFF;
    v = (v >> 4 & 0x0F0F) | (v & 0x0F0F) << 4;
    v = (v >> 2 & 0x3333) | (v & 0x3333) << 2;
    v = (v >> 1 & 0x5555) | (v & 0x5555) << 1;
    return static_cast<uint16_t>(v >> (16 - len));
}

/// Assigns canonical codes to the lengths of codes 0..max_code, bit-reversed for sending.
template <typename Len>
void gen_codes(uint16_t* codes, const Len* lens, int max_code,
               const std::array<uint16_t, kMaxBits + 1>& bl_count) {
    std::array<unsigned, kMaxBits + 1> next_code{};
    unsigned code = 0;
    for (unsigned bits = 1; bits <= kMaxBits; ++bits) {
        code = (code + bl_count[bits - 1]) << 1;
        next_code[bits] = code;
    }
    for (int n = 0; n <= max_code; ++n) {
        unsigned len = lens[n];
        if (len == 0) continue;
        codes[n] = reverse_bits(next_code[len]++, len);
    }
}

DeflateTables build_tables() {
    DeflateTables t;
    unsigned length = 0;
    for (unsigned code = 0; code < kLengthCodes - 1; ++code) {
        t.base_length[code] = static_cast<uint16_t>(length);
        for (unsigned n = 0; n < (1u << kExtraLBits[code]); ++n) {
            t.length_code[length++] = static_cast<uint8_t>(code);
        }
    }
    // Length 258 has a code of its own, although 255 + 3 also fits the code before it.
    t.length_code[length - 1] = static_cast<uint8_t>(kLengthCodes - 1);
    t.base_length[kLengthCodes - 1] = static_cast<uint16_t>(length - 1);

    unsigned dist = 0;
    for (unsigned code = 0; code < 16; ++code) {
        t.base_dist[code] = static_cast<uint16_t>(dist);
        for (unsigned n = 0; n < (1u << kExtraDBits[code]); ++n) {
            t.dist_code[dist++] = static_cast<uint8_t>(code);
        }
    }
    dist >>= 7;  // distances of 256 and more are looked up by distance >> 7
    for (unsigned code = 16; code < kDCodes; ++code) {
        t.base_dist[code] = static_cast<uint16_t>(dist << 7);
        for (unsigned n = 0; n < (1u << (kExtraDBits[code] - 7)); ++n) {
            t.dist_code[256 + dist++] = static_cast<uint8_t>(code);
        }
    }

    std::array<uint16_t, kMaxBits + 1> bl_count{};
    for (unsigned n = 0; n <= 287; ++n) {
        uint8_t len = n <= 143 ? 8 : n <= 255 ? 9 : n <= 279 ? 7 : 8;
        t.static_llen[n] = len;
        ++bl_count[len];
    }
    gen_codes(t.static_lcode.data(), t.static_llen.data(), kLCodes + 1, bl_count);
    bl_count.fill(0);
    bl_count[5] = kDCodes;
    t.static_dlen.fill(5);
    gen_codes(t.static_dcode.data(), t.static_dlen.data(), kDCodes - 1, bl_count);
    return t;
}

/// Replaces the frequencies a[0..n) (n >= 2, ascending) by the depths of their leaves in a
/// minimum-redundancy code, the least frequent deepest. Done in place in three sweeps: the
/// first pairs the two lightest of the leaves and the internal nodes made so far (the nodes
/// are made in order of weight, so two queues take the place of a heap) and leaves parent
/// links behind, the second turns the links into depths of internal nodes, the third hands
/// out leaf depths level by level.
void leaf_depths(uint32_t* a, int n) {
    int root = 0;
    int leaf = 2;
    a[0] += a[1];
    for (int next = 1; next < n - 1; ++next) {
        if (leaf >= n || a[root] < a[leaf]) {
            a[next] = a[root];
            a[root++] = static_cast<uint32_t>(next);
        } else {
            a[next] = a[leaf++];
        }
        if (leaf >= n || (root < next && a[root] < a[leaf])) {
            a[next] += a[root];
            a[root++] = static_cast<uint32_t>(next);
        } else {
            a[next] += a[leaf++];
        }
    }
    a[n - 2] = 0;
    for (int next = n - 3; next >= 0; --next) a[next] = a[a[next]] + 1;
    int avail = 1;
    int used = 0;
    uint32_t depth = 0;
    root = n - 2;
    int next = n - 1;
    while (avail > 0) {
        while (root >= 0 && a[root] == depth) {
            ++used;
            --root;
        }
        while (avail > used) {
            a[next--] = depth;
            --avail;
        }
        avail = 2 * used;
        ++depth;
        used = 0;
    }
}

/// Builds the code of one tree from its frequencies: lengths limited to desc.max_length,
/// then canonical codes; adds the block's cost to opt_len/static_len.
/// Sorts the leaf keys (frequency above, symbol below, made in symbol order). Short lists go
/// by insertion; long ones by two stable passes over the frequency's bytes, which leave equal
/// frequencies in symbol order: the same order as sorting the whole keys.
void sort_keys(uint32_t* keys, int n) {
    if (n <= 48) {
        for (int i = 1; i < n; ++i) {
            uint32_t k = keys[i];
            int j = i;
            for (; j > 0 && keys[j - 1] > k; --j) keys[j] = keys[j - 1];
            keys[j] = k;
        }
        return;
    }
    std::array<uint32_t, kLCodes> other;
    std::array<uint32_t, 256> low{};
    std::array<uint32_t, 256> high{};
    for (int i = 0; i < n; ++i) {
        ++low[(keys[i] >> 9) & 0xFF];
        ++high[(keys[i] >> 17) & 0xFF];
    }
    uint32_t lo_at = 0;
    uint32_t hi_at = 0;
    for (unsigned b = 0; b < 256; ++b) {
        uint32_t lo_n = low[b];
        uint32_t hi_n = high[b];
        low[b] = lo_at;
        high[b] = hi_at;
        lo_at += lo_n;
        hi_at += hi_n;
    }
    for (int i = 0; i < n; ++i) other[low[(keys[i] >> 9) & 0xFF]++] = keys[i];
    for (int i = 0; i < n; ++i) keys[high[(other[i] >> 17) & 0xFF]++] = other[i];
}

void build_tree(TreeState& t, Tree& tree, const TreeDesc& desc) {
    const int elems = static_cast<int>(desc.elems);
    // Frequency above, symbol below: sorting the keys sorts the leaves by weight.
    std::array<uint32_t, kLCodes> keys;
    int n = 0;
    int max_code = -1;
    for (int sym = 0; sym < elems; ++sym) {
        if (tree.freq[sym] != 0) {
            keys[n++] = uint32_t{tree.freq[sym]} << 9 | static_cast<uint32_t>(sym);
            max_code = sym;
        } else {
            tree.len[sym] = 0;
        }
    }
    // The format needs at least two codes; forced codes cost nothing since they are never sent.
    while (n < 2) {
        int node = max_code < 2 ? ++max_code : 0;
        tree.freq[node] = 1;
        keys[n++] = 1u << 9 | static_cast<uint32_t>(node);
        --t.opt_len;
        if (desc.static_len) t.static_len -= desc.static_len[node];
    }
    tree.max_code = max_code;
    sort_keys(keys.data(), n);

    std::array<uint32_t, kLCodes> depth;
    for (int i = 0; i < n; ++i) depth[i] = keys[i] >> 9;
    leaf_depths(depth.data(), n);

    // Leaves deeper than the limit move up to it; that overfills the code by `excess` units
    // of 2^-max_length. Each step below turns the deepest leaf above the limit into a node
    // over itself and one of the leaves at the limit, which frees one unit.
    const unsigned max_length = desc.max_length;
    t.bl_count.fill(0);
    uint32_t kraft = 0;
    for (int i = 0; i < n; ++i) {
        uint32_t d = std::min<uint32_t>(depth[i], max_length);
        ++t.bl_count[d];
        kraft += 1u << (max_length - d);
    }
    for (uint32_t excess = kraft - (1u << max_length); excess > 0; --excess) {
        unsigned bits = max_length - 1;
        while (t.bl_count[bits] == 0) --bits;
        --t.bl_count[bits];
        t.bl_count[bits + 1] += 2;
        --t.bl_count[max_length];
    }

    // The longest codes go to the least frequent leaves.
    int i = 0;
    for (unsigned bits = max_length; bits != 0; --bits) {
        for (unsigned k = t.bl_count[bits]; k != 0; --k) {
            unsigned sym = keys[i++] & 511;
            tree.len[sym] = static_cast<uint16_t>(bits);
            unsigned xbits = sym >= desc.extra_base ? desc.extra_bits[sym - desc.extra_base] : 0;
            uint64_t f = tree.freq[sym];
            t.opt_len += f * (bits + xbits);
            if (desc.static_len) t.static_len += f * (desc.static_len[sym] + xbits);
        }
    }
    gen_codes(tree.code.data(), tree.len.data(), max_code, t.bl_count);
}

/// Visits the run-length coding of the lengths 0..max_code of `tree`: `emit(len)` for a plain
/// length, `emit(16/17/18, extra value)` for a repeat.
template <typename Emit>
void run_length_code(const Tree& tree, int max_code, Emit emit) {
    int prevlen = -1;
    int nextlen = tree.len[0];
    int count = 0;
    int max_count = 7;
    int min_count = 4;
    if (nextlen == 0) {
        max_count = 138;
        min_count = 3;
    }
    for (int n = 0; n <= max_code; ++n) {
        int curlen = nextlen;
        nextlen = n + 1 <= max_code ? tree.len[n + 1] : -1;
        if (++count < max_count && curlen == nextlen) continue;
        if (count < min_count) {
            do emit(curlen, -1);
            while (--count != 0);
        } else if (curlen != 0) {
            if (curlen != prevlen) {
                emit(curlen, -1);
                --count;
            }
            emit(kRep3To6, count - 3);
        } else if (count <= 10) {
            emit(kRepZ3To10, count - 3);
        } else {
            emit(kRepZ11To138, count - 11);
        }
        count = 0;
        prevlen = curlen;
        if (nextlen == 0) {
            max_count = 138;
            min_count = 3;
        } else if (curlen == nextlen) {
            max_count = 6;
            min_count = 3;
        } else {
            max_count = 7;
            min_count = 4;
        }
    }
}

const TreeDesc kBLDesc = {nullptr, kExtraBLBits.data(), 0, kBLCodes, kMaxBLBits};

/// Builds the code-length tree for both trees; returns the index in kBLOrder of the last
/// code-length code to send.
int build_bl_tree(TreeState& t) {
    auto count = [&](int len, int) { ++t.bltree.freq[len]; };
    run_length_code(t.ltree, t.ltree.max_code, count);
    run_length_code(t.dtree, t.dtree.max_code, count);
    build_tree(t, t.bltree, kBLDesc);
    int max_blindex = kBLCodes - 1;
    for (; max_blindex >= 3; --max_blindex) {
        if (t.bltree.len[kBLOrder[max_blindex]] != 0) break;
    }
    t.opt_len += 3 * (static_cast<uint64_t>(max_blindex) + 1) + 5 + 5 + 4;
    return max_blindex;
}

void send_all_trees(TreeState& t, BitWriter& bw, int max_blindex) {
    int lcodes = t.ltree.max_code + 1;
    int dcodes = t.dtree.max_code + 1;
    bw.put_bits(lcodes - 257, 5);
    bw.put_bits(dcodes - 1, 5);
    bw.put_bits(max_blindex + 1 - 4, 4);
    for (int rank = 0; rank <= max_blindex; ++rank) bw.put_bits(t.bltree.len[kBLOrder[rank]], 3);
    auto send = [&](int len, int extra) {
        bw.put_bits(t.bltree.code[len], t.bltree.len[len]);
        if (extra >= 0) bw.put_bits(extra, kExtraBLBits[len]);
    };
    run_length_code(t.ltree, t.ltree.max_code, send);
    run_length_code(t.dtree, t.dtree.max_code, send);
}

/// Sends the block's symbols with the given codes and lengths, then the end-of-block code.
template <typename LCode, typename LLen, typename DCode, typename DLen>
void compress_block(const TreeState& t, const DeflateTables& tab, BitWriter& writer,
                    const LCode& lcode, const LLen& llen, const DCode& dcode, const DLen& dlen) {
    BitCursor bw(writer);
    const unsigned n = t.last_lit;
    // Literals gather in the accumulator, up to three at a time, before whole bytes leave
    // it: at the top of each step at most 40 bits are pending.
    for (unsigned i = 0; i < n; ++i) {
        unsigned dist = t.syms[i] >> 8;
        unsigned lc = t.syms[i] & 0xFF;
        if (dist == 0) {
            bw.add_bits(lcode[lc], llen[lc]);  // at most 15 bits: 55 pending
            if (bw.count > 40) bw.commit();
            continue;
        }
        // A match takes up to 48 bits, so at most 16 may be pending before it.
        if (bw.count > 16) bw.commit();
        unsigned code = tab.length_code[lc];
        unsigned sym = code + kLiterals + 1;
        // A length code with its extra bits and a distance code with its extra bits take at
        // most 48 bits together (15 + 5, 15 + 13): one store passes them on.
        bw.add_bits(lcode[sym] | ((lc - tab.base_length[code]) << llen[sym]),
                    llen[sym] + kExtraLBits[code]);
        --dist;
        code = d_code(tab, dist);
        bw.put_bits(dcode[code] | ((dist - tab.base_dist[code]) << dlen[code]),
                    dlen[code] + kExtraDBits[code]);
    }
    bw.put_bits(lcode[kEndBlock], llen[kEndBlock]);
    bw.store();
}

/// Text when the printable bytes, divided by 4, are at least as many as the others.
void decide_text(TreeState& t) {
    uint64_t binary = 0;
    uint64_t ascii = 0;
    for (unsigned n = 0; n < 7; ++n) binary += t.ltree.freq[n];
    for (unsigned n = 7; n < 128; ++n) ascii += t.ltree.freq[n];
    for (unsigned n = 128; n < kLiterals; ++n) binary += t.ltree.freq[n];
    *t.internal_attr = binary > (ascii >> 2) ? kAttrBinary : kAttrText;
}

}  // namespace

const DeflateTables& deflate_tables() {
    static const DeflateTables tables = build_tables();
    return tables;
}

std::vector<uint8_t> code_lengths(std::span<const uint16_t> freq, unsigned max_length) {
    auto t = std::make_unique<TreeState>();
    Tree& tree = t->ltree;
    size_t n = std::min<size_t>(freq.size(), kLCodes);
    std::copy_n(freq.begin(), n, tree.freq.begin());
    static const std::array<uint8_t, kLCodes> no_extra{};
    const TreeDesc desc = {nullptr, no_extra.data(), 0, static_cast<unsigned>(n), max_length};
    build_tree(*t, tree, desc);
    std::vector<uint8_t> lengths(n);
    for (size_t i = 0; i < n; ++i) lengths[i] = static_cast<uint8_t>(tree.len[i]);
    return lengths;
}

void init_block(TreeState& t) {
    for (unsigned n = 0; n < kLCodes; ++n) t.ltree.freq[n] = 0;
    for (unsigned n = 0; n < kDCodes; ++n) t.dtree.freq[n] = 0;
    for (unsigned n = 0; n < kBLCodes; ++n) t.bltree.freq[n] = 0;
    t.ltree.freq[kEndBlock] = 1;
    t.opt_len = 0;
    t.static_len = 0;
    t.last_lit = 0;
    t.last_dist = 0;
    t.obs_block.fill(0);
    t.obs_chunk.fill(0);
    t.obs_block_total = 0;
    t.chunk_start = 0;
    t.split_at = 0;
}

bool chunk_ends_block(TreeState& t) {
    const uint64_t n = t.last_lit - t.chunk_start;
    const uint64_t total = t.obs_block_total;
    if (total >= kMinSplitSymbols) {
        // The shares of each kind in the chunk and in the block, compared on a common
        // denominator: the sum of the differences is at most 2 * n * total.
        uint64_t delta = 0;
        for (unsigned k = 0; k < kObsKinds; ++k) {
            int64_t d = static_cast<int64_t>(t.obs_chunk[k] * total) -
                        static_cast<int64_t>(t.obs_block[k] * n);
            delta += static_cast<uint64_t>(d < 0 ? -d : d);
        }
        if (delta * kSplitScale > n * total * kSplitThreshold) {
            t.split_at = t.chunk_start;
            return true;
        }
    }
    for (unsigned k = 0; k < kObsKinds; ++k) {
        t.obs_block[k] += t.obs_chunk[k];
        t.obs_chunk[k] = 0;
    }
    t.obs_block_total += static_cast<uint32_t>(n);
    t.chunk_start = t.last_lit;
    return false;
}

uint64_t hold_back_tail(TreeState& t, const DeflateTables& tab) {
    uint64_t bytes = 0;
    for (unsigned i = t.split_at; i < t.last_lit; ++i) {
        unsigned dist = t.syms[i] >> 8;
        unsigned lc = t.syms[i] & 0xFF;
        if (dist == 0) {
            --t.ltree.freq[lc];
            ++bytes;
        } else {
            --t.last_dist;
            --t.ltree.freq[tab.length_code[lc] + kLiterals + 1];
            --t.dtree.freq[d_code(tab, dist - 1)];
            bytes += lc + kMinMatch;
        }
    }
    t.last_lit = t.split_at;
    return bytes;
}

void restore_tail(TreeState& t, const DeflateTables& tab, unsigned from, unsigned end) {
    std::copy(t.syms.begin() + from, t.syms.begin() + end, t.syms.begin());
    const unsigned n = end - from;
    for (unsigned i = 0; i < n; ++i) {
        unsigned dist = t.syms[i] >> 8;
        unsigned lc = t.syms[i] & 0xFF;
        t.last_lit = i;  // record_symbol stores it in place and counts it
        record_symbol(t, tab, dist, lc);
    }
    // The held-back symbols are whole chunks at most: they form the new block's first.
    for (unsigned k = 0; k < kObsKinds; ++k) {
        t.obs_block[k] = t.obs_chunk[k];
        t.obs_chunk[k] = 0;
    }
    t.obs_block_total = n;
    t.chunk_start = n;
}

uint64_t emit_block(DeflateState& s, const uint8_t* buf, uint64_t stored_len, bool last) {
    TreeState& t = s.trees;
    BitWriter& bw = s.bits;
    const DeflateTables& tab = deflate_tables();

    if (*t.internal_attr == kAttrUnknown) decide_text(t);
    if (s.trace) {
        for (unsigned i = 0; i < t.last_lit; ++i) {
            const unsigned dist = t.syms[i] >> 8;
            const unsigned lc = t.syms[i] & 0xFF;
            s.trace->emplace_back(dist, dist ? lc + kMinMatch : lc);
        }
    }

    const TreeDesc ldesc = {tab.static_llen.data(), kExtraLBits.data(), kLiterals + 1, kLCodes,
                            kMaxBits};
    const TreeDesc ddesc = {tab.static_dlen.data(), kExtraDBits.data(), 0, kDCodes, kMaxBits};
    build_tree(t, t.ltree, ldesc);
    build_tree(t, t.dtree, ddesc);
    int max_blindex = build_bl_tree(t);

    uint64_t opt_lenb = (t.opt_len + 3 + 7) >> 3;
    uint64_t static_lenb = (t.static_len + 3 + 7) >> 3;
    t.input_len += stored_len;
    if (static_lenb <= opt_lenb) opt_lenb = static_lenb;

    // The whole member fits this one block and does not shrink: keep it as raw stored bytes.
    // When the block's data has already left the window (possible only for odd inputs), the
    // member simply stays deflated.
    if (stored_len <= opt_lenb && last && t.compressed_len == 0 && buf != nullptr &&
        bw.out != nullptr && bw.out->CanSeek()) {
        bw.put_raw(std::span<const uint8_t>(buf, stored_len));
        t.compressed_len = stored_len << 3;
        *t.method = kMethodStored;
    } else if (stored_len + 4 <= opt_lenb && buf != nullptr) {
        bw.put_bits((kStoredBlock << 1) + (last ? 1 : 0), 3);
        t.compressed_len = (t.compressed_len + 3 + 7) & ~uint64_t{7};
        t.compressed_len += (stored_len + 4) << 3;
        bw.align_to_byte();
        bw.put_short(static_cast<uint16_t>(stored_len));
        bw.put_short(static_cast<uint16_t>(~stored_len));
        bw.put_raw(std::span<const uint8_t>(buf, stored_len));
    } else if (static_lenb == opt_lenb) {
        bw.put_bits((kFixedBlock << 1) + (last ? 1 : 0), 3);
        compress_block(t, tab, bw, tab.static_lcode, tab.static_llen, tab.static_dcode,
                       tab.static_dlen);
        t.compressed_len += 3 + t.static_len;
    } else {
        bw.put_bits((kDynamicBlock << 1) + (last ? 1 : 0), 3);
        send_all_trees(t, bw, max_blindex);
        compress_block(t, tab, bw, t.ltree.code, t.ltree.len, t.dtree.code, t.dtree.len);
        t.compressed_len += 3 + t.opt_len;
    }
    init_block(t);
    if (last) {
        bw.align_to_byte();
        bw.flush_stage();
        t.compressed_len += 7;
    }
    return t.compressed_len >> 3;
}

}  // namespace zip
