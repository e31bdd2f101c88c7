#include "archiver/engine/unzip/explode.h"

#include <array>
#include <vector>

namespace engine {
namespace {

constexpr unsigned kMaxCodeBits = 16;
constexpr unsigned kLiteralRoot = 9;
constexpr unsigned kLengthRoot = 7;

// Result of a tree look-up that found no symbol.
constexpr int kNoSymbol = -1;
constexpr int kEndOfInput = -2;

// A Shannon-Fano tree. Its codes are those of a canonical prefix code over the bit lengths
// (shortest first, lower values first within a length) with every bit inverted in the
// stream, so a look-up inverts the input bits first. Codes up to `root` bits come from one
// table; longer ones are decoded a bit at a time.
class ShannonFanoTree {
public:
    // Reads the tree's description (a byte count, then repeat/length bytes) for n symbols.
    bool Read(OldMethodBits& in, size_t n, unsigned root) {
        uint32_t bytes = 0;
        if (!in.Get(8, &bytes)) return false;
        std::vector<uint8_t> lengths;
        lengths.reserve(n);
        for (uint32_t i = 0; i <= bytes; ++i) {
            uint32_t b = 0;
            if (!in.Get(8, &b)) return false;
            size_t repeat = (b >> 4) + 1;
            if (lengths.size() + repeat > n) return false;
            lengths.insert(lengths.end(), repeat, static_cast<uint8_t>((b & 15) + 1));
        }
        if (lengths.size() != n) return false;
        return Build(lengths, root);
    }

    // Next symbol, kNoSymbol for a code the tree does not have, kEndOfInput when the input
    // ends inside the code.
    int Decode(OldMethodBits& in) const {
        unsigned avail = in.Need(root_) ? root_ : in.Available();
        uint16_t e = table_[~in.Peek(root_) & ((1u << root_) - 1)];
        unsigned len = e & 31;
        if (len != 0 && len <= avail) {
            in.Drop(len);
            return e >> 5;
        }
        // Long (or absent) codes: walk the canonical code one bit at a time.
        int code = 0, first = 0, index = 0;
        for (unsigned bits = 1; bits <= kMaxCodeBits; ++bits) {
            uint32_t b = 0;
            if (!in.Need(bits)) return kEndOfInput;
            b = (in.Peek(bits) >> (bits - 1)) & 1;
            code |= static_cast<int>(b ^ 1);
            int count = count_[bits];
            if (code - first < count) {
                in.Drop(bits);
                return sorted_[static_cast<size_t>(index + code - first)];
            }
            index += count;
            first = (first + count) << 1;
            code <<= 1;
        }
        return kNoSymbol;
    }

private:
    bool Build(const std::vector<uint8_t>& lengths, unsigned root) {
        root_ = root;
        count_.fill(0);
        for (uint8_t l : lengths) ++count_[l];
        int left = 1;
        for (unsigned l = 1; l <= kMaxCodeBits; ++l) {
            left = (left << 1) - count_[l];
            if (left < 0) return false;  // over-subscribed: not a prefix code
        }
        std::array<uint16_t, kMaxCodeBits + 2> offset{};
        for (unsigned l = 1; l <= kMaxCodeBits; ++l) offset[l + 1] = offset[l] + count_[l];
        sorted_.assign(lengths.size(), 0);
        for (size_t s = 0; s < lengths.size(); ++s)
            sorted_[offset[lengths[s]]++] = static_cast<uint16_t>(s);

        table_.assign(size_t{1} << root, 0);
        uint32_t code = 0;
        size_t k = 0;
        for (unsigned l = 1; l <= kMaxCodeBits; ++l) {
            for (unsigned i = 0; i < count_[l]; ++i, ++k, ++code) {
                if (l > root) continue;
                uint32_t rev = 0;
                for (unsigned b = 0; b < l; ++b) rev |= ((code >> b) & 1) << (l - 1 - b);
                auto entry = static_cast<uint16_t>((sorted_[k] << 5) | l);
                for (uint32_t j = rev; j < table_.size(); j += 1u << l) table_[j] = entry;
            }
            code <<= 1;
        }
        return true;
    }

    unsigned root_ = 1;
    std::array<uint16_t, kMaxCodeBits + 1> count_{};
    std::vector<uint16_t> sorted_;  // symbols by code length, then value
    std::vector<uint16_t> table_;   // (symbol << 5) | length, 0 for the bit-at-a-time path
};

}  // namespace

unsigned ExplodeDistanceRootBits(uint64_t compressed_size) {
    return compressed_size > 200000 ? 8 : 7;
}

OldMethodResult Explode(const OldMethodIo& io, uint16_t flags, uint64_t compressed_size,
                        uint64_t size) {
    OldMethodResult r;
    OldMethodBits in(io);
    const bool literal_tree = (flags & kExplodeFlagLiteralTree) != 0;
    const unsigned low_bits = (flags & kExplodeFlag8K) != 0 ? 7 : 6;
    const unsigned min_length = literal_tree ? 3 : 2;

    ShannonFanoTree literals, lengths, distances;
    if ((literal_tree && !literals.Read(in, 256, kLiteralRoot)) ||
        !lengths.Read(in, 64, kLengthRoot) ||
        !distances.Read(in, 64, ExplodeDistanceRootBits(compressed_size))) {
        r.status = OldMethodStatus::kBadData;
        return r;
    }

    OldMethodWindow window(io, 32 * 1024);
    auto fail = [&](OldMethodStatus s) {
        window.Flush();
        r.status = s;
        r.out_size = window.Produced();
        return r;
    };
    auto symbol_fail = [&](int sym) {
        return fail(sym == kEndOfInput ? OldMethodStatus::kTruncated : OldMethodStatus::kBadData);
    };
    while (window.Produced() < size) {
        uint32_t literal = 0;
        if (!in.Get(1, &literal)) return fail(OldMethodStatus::kTruncated);
        if (literal != 0) {
            uint32_t byte = 0;
            if (literal_tree) {
                int sym = literals.Decode(in);
                if (sym < 0) return symbol_fail(sym);
                byte = static_cast<uint32_t>(sym);
            } else if (!in.Get(8, &byte)) {
                return fail(OldMethodStatus::kTruncated);
            }
            window.Put(static_cast<uint8_t>(byte));
            continue;
        }
        uint32_t low = 0;
        if (!in.Get(low_bits, &low)) return fail(OldMethodStatus::kTruncated);
        int high = distances.Decode(in);
        if (high < 0) return symbol_fail(high);
        int code = lengths.Decode(in);
        if (code < 0) return symbol_fail(code);
        uint64_t length = min_length + static_cast<unsigned>(code);
        if (code == 63) {
            uint32_t extra = 0;
            if (!in.Get(8, &extra)) return fail(OldMethodStatus::kTruncated);
            length += extra;
        }
        size_t distance = (static_cast<size_t>(high) << low_bits) + low + 1;
        length = std::min(length, size - window.Produced());
        window.Copy(distance, static_cast<size_t>(length));
    }
    window.Flush();
    r.out_size = window.Produced();
    return r;
}

}  // namespace engine
