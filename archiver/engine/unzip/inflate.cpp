#include "archiver/engine/unzip/inflate.h"

#include "archiver/engine/unzip/inflate_fast.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

namespace engine {
namespace {

// Decoding tables: the entry format is inflate_fast.h's.
using inflate_fast::kBase;
using inflate_fast::kDistRoot;
using inflate_fast::kEnd;
using inflate_fast::kInvalid;
using inflate_fast::kLiteral;
using inflate_fast::kLitRoot;
using inflate_fast::kSub;
using inflate_fast::LowBits;

constexpr unsigned kClRoot = 7;
using inflate_fast::kMaxBits;
using inflate_fast::Tables;
constexpr size_t kClTableSize = 1u << kClRoot;

constexpr uint16_t kLengthBase[29] = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                      15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                      67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t kDistBase[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                    33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                    1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr uint8_t kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                    6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr uint8_t kClOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

constexpr uint32_t MakeEntry(uint32_t kind, uint32_t value, unsigned code_bits, unsigned extra) {
    return (value << 16) | kind | (code_bits << 8) | (code_bits + extra);
}

// Each alphabet's entries without their code bits: an entry is its template plus the code
// length in both bit fields.
enum class Alphabet { kLitLen, kDist, kCodeLen, kLitLen64, kDist64 };

constexpr std::array<uint32_t, 288> MakeTemplates(Alphabet a) {
    std::array<uint32_t, 288> t{};
    for (unsigned sym = 0; sym < 288; ++sym) {
        uint32_t e = kInvalid;
        if (a == Alphabet::kLitLen || a == Alphabet::kLitLen64) {
            if (sym < 256)
                e = MakeEntry(kLiteral, sym, 0, 0);
            else if (sym == 256)
                e = MakeEntry(kEnd, 0, 0, 0);
            else if (sym == 285 && a == Alphabet::kLitLen64)
                e = MakeEntry(kBase, 3, 0, 16);  // Deflate64: 3 plus 16 extra bits
            else if (sym < 286)
                e = MakeEntry(kBase, kLengthBase[sym - 257], 0, kLengthExtra[sym - 257]);
        } else if (a == Alphabet::kDist || a == Alphabet::kDist64) {
            if (sym < 30)
                e = MakeEntry(kBase, kDistBase[sym], 0, kDistExtra[sym]);
            else if (sym < 32 && a == Alphabet::kDist64)
                e = MakeEntry(kBase, sym == 30 ? 32769 : 49153, 0, 14);
        } else {
            e = MakeEntry(kLiteral, sym, 0, 0);
        }
        t[sym] = e;
    }
    return t;
}
constexpr std::array<uint32_t, 288> kLitLenTemplates = MakeTemplates(Alphabet::kLitLen);
constexpr std::array<uint32_t, 288> kDistTemplates = MakeTemplates(Alphabet::kDist);
constexpr std::array<uint32_t, 288> kCodeLenTemplates = MakeTemplates(Alphabet::kCodeLen);
constexpr std::array<uint32_t, 288> kLitLen64Templates = MakeTemplates(Alphabet::kLitLen64);
constexpr std::array<uint32_t, 288> kDist64Templates = MakeTemplates(Alphabet::kDist64);

inline uint32_t SymbolEntry(const uint32_t* templates, unsigned sym, unsigned code_bits) {
    return templates[sym] + code_bits * 0x101;
}

constexpr std::array<uint8_t, 256> MakeReverse8() {
    std::array<uint8_t, 256> t{};
    for (unsigned v = 0; v < 256; ++v) {
        unsigned r = 0;
        for (unsigned i = 0; i < 8; ++i) r |= ((v >> i) & 1) << (7 - i);
        t[v] = static_cast<uint8_t>(r);
    }
    return t;
}
constexpr std::array<uint8_t, 256> kReverse8 = MakeReverse8();

// The low `bits` bits of code in reverse order (Huffman codes are packed from their top bit).
inline unsigned Reverse(unsigned code, unsigned bits) {
    unsigned r = (unsigned{kReverse8[code & 0xFF]} << 8) | kReverse8[(code >> 8) & 0xFF];
    return r >> (16 - bits);
}

// Copies the first 2^width entries of a table behind themselves.
inline void Double(uint32_t* table, unsigned width) {
    size_t n = size_t{1} << width;
    if (n < 4) {
        for (size_t k = 0; k < n; ++k) table[n + k] = table[k];
        return;
    }
    // Four entries per step: a string-move instruction costs more to start than these tables
    // take to copy.
    for (size_t k = 0; k < n; k += 4) std::memcpy(table + n + k, table + k, 16);
}

enum class Build { kComplete, kIncomplete, kOversubscribed, kSingle };

// Builds a canonical Huffman decoding table from code lengths (RFC 1951 section 3.2.2).
// kSingle is the one-code case (one code of length 1), which the RFC allows for distances and
// encoders also produce for an all-literal or empty block.
Build BuildTable(const uint8_t* lens, unsigned n, const std::array<uint32_t, 288>& alphabet,
                 unsigned root, uint32_t* table) {
    const uint32_t* templates = alphabet.data();
    // Two counters per length, so that runs of one length do not wait on each increment.
    unsigned count[kMaxBits + 1] = {}, count2[kMaxBits + 1] = {};
    unsigned half = n / 2;
    for (unsigned i = 0; i < half; ++i) {
        ++count[lens[i]];
        ++count2[lens[half + i]];
    }
    if (n % 2) ++count[lens[n - 1]];
    for (unsigned len = 1; len <= kMaxBits; ++len) count[len] += count2[len];
    count[0] = 0;
    int left = 1;
    for (unsigned len = 1; len <= kMaxBits; ++len) {
        left = left * 2 - static_cast<int>(count[len]);
        if (left < 0) return Build::kOversubscribed;
    }
    unsigned next[kMaxBits + 2] = {};
    unsigned offs[kMaxBits + 2] = {};
    for (unsigned len = 1, code = 0; len <= kMaxBits; ++len) {
        code = (code + count[len - 1]) << 1;
        next[len] = code;
        offs[len + 1] = offs[len] + count[len];
    }
    unsigned total = offs[kMaxBits + 1];
    // Symbols in canonical order (by length, then by value) with their codes.
    uint16_t sorted[288];
    uint16_t codes[288];
    for (unsigned s = 0; s < n; ++s) {
        unsigned len = lens[s];
        if (len == 0) continue;
        unsigned i = offs[len]++;
        sorted[i] = static_cast<uint16_t>(s);
        codes[i] = static_cast<uint16_t>(next[len]++);
    }

    // Codes up to the root width, shortest first: the entries of each length go into a table
    // as wide as that length, which then doubles, so every shorter code's entry lands on all
    // the indexes that start with it. Indexes no code reaches keep kInvalid.
    unsigned i = 0;
    unsigned width = 1;
    table[0] = table[1] = kInvalid;
    for (unsigned len = 1; len <= root; ++len) {
        if (count[len] == 0) continue;
        for (; width < len; ++width) Double(table, width);
        for (unsigned end = i + count[len]; i < end; ++i)
            table[Reverse(codes[i], len)] = SymbolEntry(templates, sorted[i], len);
    }
    for (; width < root; ++width) Double(table, width);

    size_t used = 1u << root;
    unsigned cur_prefix = ~0u, cur_off = 0, cur_bits = 0;
    for (; i < total; ++i) {
        unsigned sym = sorted[i], len = lens[sym], code = codes[i];
        unsigned prefix = code >> (len - root);
        if (prefix != cur_prefix) {
            // Codes sharing a prefix are contiguous in canonical order and sorted by length,
            // so the last of them sets the subtable's width.
            unsigned maxlen = len;
            for (unsigned k = i + 1; k < total; ++k) {
                unsigned lk = lens[sorted[k]];
                if (static_cast<unsigned>(codes[k] >> (lk - root)) != prefix) break;
                maxlen = lk;
            }
            cur_prefix = prefix;
            cur_bits = maxlen - root;
            cur_off = static_cast<unsigned>(used);
            used += 1u << cur_bits;
            std::fill(table + cur_off, table + used, kInvalid);
            table[Reverse(prefix, root)] = MakeEntry(kSub, cur_off, cur_bits, root - cur_bits);
        }
        unsigned rem = len - root;
        uint32_t e = SymbolEntry(templates, sym, rem);
        for (unsigned j = Reverse(code & ((1u << rem) - 1), rem); j < (1u << cur_bits);
             j += 1u << rem)
            table[cur_off + j] = e;
    }
    if (left == 0) return Build::kComplete;
    return (total == 1 && count[1] == 1) ? Build::kSingle : Build::kIncomplete;
}

Tables MakeFixedTables(bool deflate64) {
    Tables t;
    uint8_t lens[288];
    std::fill(lens, lens + 144, 8);
    std::fill(lens + 144, lens + 256, 9);
    std::fill(lens + 256, lens + 280, 7);
    std::fill(lens + 280, lens + 288, 8);
    BuildTable(lens, 288, deflate64 ? kLitLen64Templates : kLitLenTemplates, kLitRoot, t.lit());
    std::fill(lens, lens + 32, 5);
    BuildTable(lens, 32, deflate64 ? kDist64Templates : kDistTemplates, kDistRoot, t.dist());
    return t;
}

const Tables& Fixed(bool deflate64) {
    static const Tables tables = MakeFixedTables(false);
    static const Tables tables64 = MakeFixedTables(true);
    return deflate64 ? tables64 : tables;
}

constexpr size_t kWindow = 32768;
constexpr size_t kWindow64 = 65536;
constexpr size_t kOutChunk = 128 * 1024;
constexpr size_t kOutSlack = 512;
constexpr size_t kInSize = 64 * 1024;
constexpr size_t kInSlack = 16;

}  // namespace

struct InflateWorkspace {
    uint8_t out[kWindow64 + kOutChunk + kOutSlack];
    uint8_t in[kInSize + kInSlack];
    Tables tables;
    uint32_t cl[kClTableSize];
    inflate_fast::FastLoop fast = inflate_fast::BestFastLoop();
};

void UseFastLoop(InflateWorkspace& ws, inflate_fast::FastLoop loop) {
    ws.fast = loop;
}

void InflateWorkspaceDeleter::operator()(InflateWorkspace* ws) const {
    delete ws;
}

InflateWorkspacePtr MakeInflateWorkspace() {
    return InflateWorkspacePtr(new InflateWorkspace);
}

const char* InflateStatusText(InflateStatus status) {
    switch (status) {
        case InflateStatus::kOk:
            return "ok";
        case InflateStatus::kBadData:
            return "invalid compressed data";
        case InflateStatus::kBadBlockType:
            return "invalid block type";
        case InflateStatus::kTruncated:
            return "compressed data ends early";
    }
    return "";
}

namespace {

struct InflateError {
    InflateStatus status;
};

[[noreturn]] void Fail(InflateStatus s) {
    throw InflateError{s};
}

// The decoder of one stream: a 64-bit bit buffer over an input buffer, and an output buffer
// whose first 32 KiB (64 KiB for Deflate64) keep the history after each flush.
class Decoder {
public:
    Decoder(const InflateIo& io, InflateWorkspace& ws, bool deflate64)
        : io_(io), ws_(ws), deflate64_(deflate64), window_(deflate64 ? kWindow64 : kWindow) {
        in_ = in_end_ = ws_.in;
        out_ = flushed_ = ws_.out;
    }

    InflateResult Run() {
        InflateResult r;
        try {
            bool last = false;
            while (!last) {
                Need(3);
                last = Take(1) != 0;
                switch (Take(2)) {
                    case 0:
                        Stored();
                        break;
                    case 1:
                        Codes(Fixed(deflate64_));
                        break;
                    case 2:
                        Dynamic();
                        Codes(ws_.tables);
                        break;
                    default:
                        Fail(InflateStatus::kBadBlockType);
                }
            }
        } catch (const InflateError& e) {
            r.status = e.status;
        }
        Flush(false);
        r.out_size = out_total_;
        r.in_used = in_total_ - static_cast<uint64_t>(in_end_ - in_) - bitcount_ / 8;
        return r;
    }

private:
    // Moves the unread input to the front and reads more behind it; false at end of input.
    bool FillInput() {
        if (eof_) return false;
        size_t keep = static_cast<size_t>(in_end_ - in_);
        std::memmove(ws_.in, in_, keep);
        in_ = ws_.in;
        in_end_ = ws_.in + keep;
        size_t got = io_.read(in_end_, kInSize - keep);
        if (got == 0) {
            eof_ = true;
            return false;
        }
        got = std::min(got, kInSize - keep);
        in_end_ += got;
        in_total_ += got;
        return true;
    }

    // Makes sure n bits are buffered; the input ending first is a truncated stream.
    void Need(unsigned n) {
        if (!TryNeed(n)) Fail(InflateStatus::kTruncated);
    }
    bool TryNeed(unsigned n) {
        if (bitcount_ >= n) return true;
        if (in_end_ - in_ >= 8) {
            // A word at a time while the buffer has one; bits above the count stay the
            // stream's own, so later byte-wise refills agree with them.
            bits_ |= inflate_fast::Load64(in_) << bitcount_;
            in_ += (63 - bitcount_) >> 3;
            bitcount_ |= 56;
            return true;
        }
        while (bitcount_ < n) {
            if (in_ == in_end_ && !FillInput()) return false;
            bits_ |= uint64_t{*in_++} << bitcount_;
            bitcount_ += 8;
        }
        return true;
    }
    uint32_t Take(unsigned n) {
        uint32_t v = static_cast<uint32_t>(LowBits(bits_, n));
        Drop(n);
        return v;
    }
    void Drop(unsigned n) {
        bits_ >>= n;
        bitcount_ -= n;
    }

    // Decodes one symbol without assuming more input than exists.
    uint32_t DecodeSlow(const uint32_t* table, unsigned root) {
        TryNeed(kMaxBits);
        uint32_t e = table[LowBits(bits_, root)];
        if (e & kSub) {
            if (bitcount_ < root) Fail(InflateStatus::kTruncated);
            Drop(root);
            e = table[(e >> 16) + LowBits(bits_, (e >> 8) & 0xF)];
        }
        if ((e & inflate_fast::kKinds) == kInvalid) Fail(InflateStatus::kBadData);
        if (((e >> 8) & 0xF) > bitcount_) Fail(InflateStatus::kTruncated);
        return e;
    }
    // The value of a length or distance entry, reading its extra bits.
    uint32_t BaseValue(uint32_t e) {
        unsigned code_bits = (e >> 8) & 0xF, total = e & 0xFF;
        Drop(code_bits);
        unsigned extra = total - code_bits;
        Need(extra);
        return (e >> 16) + Take(extra);
    }

    // Hands the new output to the writer and keeps the last 32 KiB as history, unless the
    // stream has ended.
    void Flush(bool keep_history = true) {
        if (out_ > flushed_) {
            size_t n = static_cast<size_t>(out_ - flushed_);
            io_.write(flushed_, n);
            out_total_ += n;
        }
        if (!keep_history) return;
        size_t have = static_cast<size_t>(out_ - ws_.out);
        if (have > window_) {
            std::memmove(ws_.out, out_ - window_, window_);
            out_ = ws_.out + window_;
        }
        flushed_ = out_;
    }
    uint8_t* OutLimit() { return ws_.out + window_ + kOutChunk; }

    void Stored() {
        Drop(bitcount_ & 7);
        Need(32);
        uint32_t len = Take(16), nlen = Take(16);
        if (len != (~nlen & 0xFFFF)) Fail(InflateStatus::kBadData);
        // Whole bytes still in the bit buffer come first, then the input buffer.
        while (len > 0 && bitcount_ >= 8) {
            *out_++ = static_cast<uint8_t>(Take(8));
            --len;
        }
        bits_ = LowBits(bits_, bitcount_);  // bytes above the count are re-read from the buffer
        while (len > 0) {
            if (out_ >= OutLimit()) Flush();
            if (in_ == in_end_ && !FillInput()) Fail(InflateStatus::kTruncated);
            size_t n = std::min<size_t>(
                {len, static_cast<size_t>(in_end_ - in_), static_cast<size_t>(OutLimit() - out_)});
            std::memcpy(out_, in_, n);
            out_ += n;
            in_ += n;
            len -= static_cast<uint32_t>(n);
        }
    }

    void Dynamic() {
        Need(14);
        unsigned hlit = Take(5) + 257, hdist = Take(5) + 1, hclen = Take(4) + 4;
        if (hlit > 286 || hdist > (deflate64_ ? 32u : 30u)) Fail(InflateStatus::kBadData);
        uint8_t cl_lens[19] = {};
        for (unsigned i = 0; i < hclen; ++i) {
            Need(3);
            cl_lens[kClOrder[i]] = static_cast<uint8_t>(Take(3));
        }
        // Unused code-length codes stay invalid entries, so an incomplete code is harmless.
        if (BuildTable(cl_lens, 19, kCodeLenTemplates, kClRoot, ws_.cl) == Build::kOversubscribed)
            Fail(InflateStatus::kBadData);
        uint8_t lens[286 + 32] = {};
        const unsigned total = hlit + hdist;
        unsigned n = 0;
        // A repeat code and its extra bits take at most 14 bits: one word refill serves four.
        constexpr unsigned kPerRefill = 4;
        while (n < total) {
            const bool fast = in_end_ - in_ >= 8;
            if (fast) TryNeed(56);
            for (unsigned k = 0; k < (fast ? kPerRefill : 1) && n < total; ++k) {
                uint32_t e = fast ? ws_.cl[LowBits(bits_, kClRoot)] : DecodeSlow(ws_.cl, kClRoot);
                if ((e & inflate_fast::kKinds) == kInvalid) Fail(InflateStatus::kBadData);
                Drop(e & 0xFF);
                unsigned sym = inflate_fast::EntryValue(e);
                if (sym < 16) {
                    lens[n++] = static_cast<uint8_t>(sym);
                    continue;
                }
                uint8_t value = 0;
                if (sym == 16) {
                    if (n == 0) Fail(InflateStatus::kBadData);  // nothing to repeat
                    value = lens[n - 1];
                }
                static constexpr uint8_t kExtra[3] = {2, 3, 7}, kLeast[3] = {3, 3, 11};
                unsigned extra = kExtra[sym - 16];
                if (!fast) Need(extra);
                unsigned repeat = kLeast[sym - 16] + Take(extra);
                if (n + repeat > total) Fail(InflateStatus::kBadData);
                std::fill(lens + n, lens + n + repeat, value);
                n += repeat;
            }
        }
        if (lens[256] == 0) Fail(InflateStatus::kBadData);  // the block could never end
        Build b = BuildTable(lens, hlit, deflate64_ ? kLitLen64Templates : kLitLenTemplates,
                             kLitRoot, ws_.tables.lit());
        if (b == Build::kOversubscribed || b == Build::kIncomplete) Fail(InflateStatus::kBadData);
        b = BuildTable(lens + hlit, hdist, deflate64_ ? kDist64Templates : kDistTemplates,
                       kDistRoot, ws_.tables.dist());
        // No distance codes at all is an all-literal block.
        if (b == Build::kOversubscribed) Fail(InflateStatus::kBadData);
        if (b == Build::kIncomplete &&
            std::any_of(lens + hlit, lens + hlit + hdist, [](uint8_t l) { return l != 0; }))
            Fail(InflateStatus::kBadData);
    }

    void Codes(const Tables& tables) {
        const uint32_t* lit = tables.lit();
        const uint32_t* dist = tables.dist();
        for (;;) {
            if (in_end_ - in_ < 64) FillInput();
            if (out_ >= OutLimit()) Flush();
            // Fast loop: input enough for its word refills, and room for the longest match
            // plus the copy's overshoot in the output. Deflate64's codes take more bits and
            // its matches more room than it allows for: those go the careful way.
            if (!deflate64_ && in_end_ - in_ >= static_cast<ptrdiff_t>(inflate_fast::kInputAhead) &&
                out_ < OutLimit()) {
                inflate_fast::FastState s;
                s.bits = bits_;
                s.count = bitcount_;
                s.in = in_;
                s.in_stop = in_end_ - inflate_fast::kInputAhead;
                s.out = out_;
                s.out_stop = OutLimit();
                s.base = ws_.out;
                inflate_fast::FastStop stop = ws_.fast(s, tables);
                bits_ = s.bits;
                bitcount_ = s.count;
                in_ = s.in;
                out_ = s.out;
                if (stop == inflate_fast::FastStop::kBadData) Fail(InflateStatus::kBadData);
                if (stop == inflate_fast::FastStop::kEndOfBlock) return;
                continue;
            }
            // Careful path near the ends of input and output: one symbol at a time.
            uint32_t e = DecodeSlow(lit, kLitRoot);
            if (e & kLiteral) {
                Drop(e & 0xFF);
                *out_++ = static_cast<uint8_t>(e >> 16);
                continue;
            }
            if (e & kEnd) {
                Drop(e & 0xFF);
                return;
            }
            size_t len = BaseValue(e);
            uint32_t d = DecodeSlow(dist, kDistRoot);
            if (!(d & kBase)) Fail(InflateStatus::kBadData);
            size_t dd = BaseValue(d);
            if (dd > static_cast<size_t>(out_ - ws_.out)) Fail(InflateStatus::kBadData);
            // A Deflate64 match may be longer than the room left: it goes in pieces, the
            // history kept by each flush still reaching back far enough.
            while (len > 0) {
                if (out_ >= OutLimit()) Flush();
                size_t n = std::min(len, static_cast<size_t>(OutLimit() + kOutSlack - out_));
                for (size_t i = 0; i < n; ++i, ++out_) *out_ = *(out_ - dd);
                len -= n;
            }
        }
    }

    const InflateIo& io_;
    InflateWorkspace& ws_;
    const bool deflate64_;
    const size_t window_;
    const uint8_t* in_;
    uint8_t* in_end_;
    bool eof_ = false;
    uint64_t in_total_ = 0;
    uint64_t bits_ = 0;
    unsigned bitcount_ = 0;
    uint8_t* out_;
    uint8_t* flushed_;
    uint64_t out_total_ = 0;
};

}  // namespace

InflateResult Inflate(const InflateIo& io, InflateWorkspace& ws) {
    return Decoder(io, ws, false).Run();
}

InflateResult Inflate64(const InflateIo& io, InflateWorkspace& ws) {
    return Decoder(io, ws, true).Run();
}

}  // namespace engine
