#include "archiver/engine/unzip/inflate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "archiver/engine/unzip/inflate_fast.h"
#include "archiver/engine/unzip/test_util.h"

namespace engine {
namespace {

using testing_util::ReadFile;
using testing_util::TempDir;

std::string Numbered(const char* prefix, int i, const char* suffix) {
    std::string s = prefix;
    s += std::to_string(i);
    s += suffix;
    return s;
}

struct Outcome {
    InflateResult result;
    std::vector<uint8_t> out;
};

// Feeds the input in pieces of `piece` bytes, to cross buffer boundaries at odd places.
Outcome DecodeWith(InflateWorkspace& ws, const std::vector<uint8_t>& in, size_t piece) {
    Outcome o;
    size_t pos = 0;
    InflateIo io;
    io.read = [&](uint8_t* buf, size_t cap) {
        size_t n = std::min({cap, piece, in.size() - pos});
        std::copy_n(in.begin() + static_cast<ptrdiff_t>(pos), n, buf);
        pos += n;
        return n;
    };
    io.write = [&](const uint8_t* p, size_t n) { o.out.insert(o.out.end(), p, p + n); };
    o.result = Inflate(io, ws);
    return o;
}

// Decodes with every build of the fast loop this machine runs; all must agree.
Outcome Decode(const std::vector<uint8_t>& in, size_t piece = 1 << 20) {
    static InflateWorkspacePtr best = MakeInflateWorkspace();
    static InflateWorkspacePtr portable = [] {
        InflateWorkspacePtr ws = MakeInflateWorkspace();
        UseFastLoop(*ws, inflate_fast::DecodeFastPortable);
        return ws;
    }();
    Outcome o = DecodeWith(*best, in, piece);
    if (inflate_fast::BestFastLoop() != inflate_fast::DecodeFastPortable) {
        Outcome p = DecodeWith(*portable, in, piece);
        EXPECT_EQ(p.result.status, o.result.status);
        EXPECT_EQ(p.result.in_used, o.result.in_used);
        EXPECT_TRUE(p.out == o.out) << "the portable loop decodes otherwise";
    }
    return o;
}

// Builds streams bit by bit, least significant bit first as Deflate packs them.
struct BitWriter {
    std::vector<uint8_t> bytes;
    unsigned used = 8;
    void Bits(uint32_t value, unsigned n) {
        for (unsigned i = 0; i < n; ++i) {
            if (used == 8) {
                bytes.push_back(0);
                used = 0;
            }
            bytes.back() |= static_cast<uint8_t>(((value >> i) & 1) << used++);
        }
    }
    // Whole bytes; at a byte boundary they are appended as they are.
    void Bytes(const uint8_t* p, size_t n) {
        if (used == 8) {
            bytes.insert(bytes.end(), p, p + n);
            return;
        }
        for (size_t i = 0; i < n; ++i) Bits(p[i], 8);
    }
    // Huffman codes go most significant bit first.
    void Code(uint32_t code, unsigned n) {
        for (unsigned i = n; i-- > 0;) Bits((code >> i) & 1, 1);
    }
    // Fixed-code literal/length symbols.
    void FixedSym(unsigned sym) {
        if (sym < 144)
            Code(0x30 + sym, 8);
        else if (sym < 256)
            Code(0x190 + sym - 144, 9);
        else if (sym < 280)
            Code(sym - 256, 7);
        else
            Code(0xC0 + sym - 280, 8);
    }
    void Align() { used = 8; }
};

TEST(InflateTest, MatchesIndependentEncoderAcrossLevelsAndStrategies) {
    UNZIP_TEST_NEEDS("python3");
    TempDir dir;
    // Text, random, runs, skewed and mixed data, each at several levels and strategies, large
    // enough to cross the decoder's output and input buffers several times.
    ASSERT_TRUE(testing_util::RunPython(dir, R"(
import random, zlib
random.seed(7)
words = [b'alpha', b'beta', b'gamma', b'delta', b'\n', b'zip ', b'inflate ']
data = {
  'text': b''.join(random.choice(words) for _ in range(300000)),
  'random': bytes(random.getrandbits(8) for _ in range(200000)),
  'runs': b'a' * 100000 + b'ab' * 50000 + bytes(range(256)) * 400,
  'empty': b'',
  'tiny': b'x',
  # Skewed byte values and match distances give codes of up to 15 bits, which continue in
  # second-level tables, next to codes just inside the first level.
  'skewed': bytes(min(int(random.expovariate(0.35)), 255) for _ in range(300000)),
}
buf = bytearray(random.getrandbits(8) for _ in range(1000))
while len(buf) < 300000:
  if random.random() < 0.4:
    buf.append(random.getrandbits(8))
  else:
    d = min(int(random.expovariate(0.002)) + 1, len(buf), 32768)
    for _ in range(random.randint(3, 40)):
      buf.append(buf[-d])
data['far'] = bytes(buf)
n = 0
for name, d in data.items():
  for level, strategy in [(0, 0), (1, 0), (6, 0), (9, 0), (6, 2), (6, 3), (6, 4)]:
    c = zlib.compressobj(level, zlib.DEFLATED, -15, 9, strategy)
    s = c.compress(d) + c.flush()
    open('case%d.raw' % n, 'wb').write(d)
    open('case%d.z' % n, 'wb').write(s)
    n += 1
open('count', 'w').write(str(n))
)"));
    int n = 0;
    std::ifstream(dir / "count") >> n;
    for (int i = 0; i < n; ++i) {
        auto raw = ReadFile(dir / Numbered("case", i, ".raw"));
        auto z = ReadFile(dir / Numbered("case", i, ".z"));
        size_t stream_len = z.size();
        z.insert(z.end(), {'P', 'K', 7, 8, 1, 2, 3});  // what follows a stream in an archive
        for (size_t piece : {size_t{1} << 20, size_t{4093}, size_t{7}}) {
            Outcome o = Decode(z, piece);
            ASSERT_EQ(o.result.status, InflateStatus::kOk) << "case " << i << " piece " << piece;
            ASSERT_TRUE(o.out == raw) << "case " << i << " piece " << piece;
            EXPECT_EQ(o.result.in_used, stream_len) << "case " << i;
            EXPECT_EQ(o.result.out_size, raw.size());
        }
    }
}

TEST(InflateTest, StoredBlocksIncludingEmptyOnes) {
    BitWriter w;
    w.Bits(0, 1);  // not last
    w.Bits(0, 2);  // stored
    w.Align();
    w.Bits(0, 16);
    w.Bits(0xFFFF, 16);  // empty stored block
    w.Bits(1, 1);
    w.Bits(0, 2);
    w.Align();
    w.Bits(3, 16);
    w.Bits(0xFFFC, 16);
    for (uint8_t c : {'a', 'b', 'c'}) w.Bits(c, 8);
    Outcome o = Decode(w.bytes);
    EXPECT_EQ(o.result.status, InflateStatus::kOk);
    EXPECT_EQ(o.out, (std::vector<uint8_t>{'a', 'b', 'c'}));

    w.bytes[w.bytes.size() - 5] ^= 1;  // NLEN no longer the complement of LEN
    EXPECT_EQ(Decode(w.bytes).result.status, InflateStatus::kBadData);
}

TEST(InflateTest, DistanceLimits) {
    // 32768 stored bytes, then a fixed block copying 3 bytes from 32768 back: the farthest
    // reach Deflate allows.
    std::vector<uint8_t> history = testing_util::RandomBytes(32768, 3);
    BitWriter w;
    w.Bits(0, 1);
    w.Bits(0, 2);
    w.Align();
    w.Bits(32768, 16);
    w.Bits(0x7FFF, 16);
    for (uint8_t b : history) w.Bits(b, 8);
    w.Bits(1, 1);
    w.Bits(1, 2);
    w.FixedSym(257);   // length 3
    w.Code(29, 5);     // distance code 29: 24577 + 13 extra bits
    w.Bits(8191, 13);  // 32768
    w.FixedSym(256);
    Outcome o = Decode(w.bytes);
    ASSERT_EQ(o.result.status, InflateStatus::kOk);
    ASSERT_EQ(o.out.size(), 32771u);
    EXPECT_TRUE(std::equal(history.begin(), history.begin() + 3, o.out.begin() + 32768));

    // A distance reaching before the stream's first byte is invalid, not zeros or the data of
    // an earlier stream.
    BitWriter far;
    far.Bits(1, 1);
    far.Bits(1, 2);
    far.FixedSym('a');
    far.FixedSym(257);
    far.Code(1, 5);  // distance 2, one byte of history only
    far.FixedSym(256);
    EXPECT_EQ(Decode(far.bytes).result.status, InflateStatus::kBadData);
}

TEST(InflateTest, RejectsInvalidCodesAndTables) {
    // Block type 3.
    BitWriter t3;
    t3.Bits(1, 1);
    t3.Bits(3, 2);
    EXPECT_EQ(Decode(t3.bytes).result.status, InflateStatus::kBadBlockType);

    // Fixed literal/length code 286 and distance code 30 never occur in valid data.
    BitWriter l286;
    l286.Bits(1, 1);
    l286.Bits(1, 2);
    l286.FixedSym(286);
    EXPECT_EQ(Decode(l286.bytes).result.status, InflateStatus::kBadData);
    BitWriter d30;
    d30.Bits(1, 1);
    d30.Bits(1, 2);
    d30.FixedSym('a');
    d30.FixedSym(257);
    d30.Code(30, 5);
    EXPECT_EQ(Decode(d30.bytes).result.status, InflateStatus::kBadData);

    // A dynamic header with HLIT 287 (field 30).
    BitWriter hlit;
    hlit.Bits(1, 1);
    hlit.Bits(2, 2);
    hlit.Bits(30, 5);
    hlit.Bits(0, 5);
    hlit.Bits(0, 4);
    for (int i = 0; i < 8; ++i) hlit.Bits(0xFF, 8);
    EXPECT_EQ(Decode(hlit.bytes).result.status, InflateStatus::kBadData);

    // Code-length code with three codes of length 1: over-subscribed.
    BitWriter over;
    over.Bits(1, 1);
    over.Bits(2, 2);
    over.Bits(0, 5);
    over.Bits(0, 5);
    over.Bits(0, 4);  // 4 code-length lengths: for 16, 17, 18, 0
    for (int i = 0; i < 3; ++i) over.Bits(1, 3);
    over.Bits(0, 3);
    for (int i = 0; i < 8; ++i) over.Bits(0, 8);
    EXPECT_EQ(Decode(over.bytes).result.status, InflateStatus::kBadData);

    // Literal/length lengths that leave the code incomplete: every symbol 0..256 gets length
    // 9 (257 codes of 9 bits use about half of the code space).
    BitWriter inc;
    inc.Bits(1, 1);
    inc.Bits(2, 2);
    inc.Bits(0, 5);   // HLIT 257
    inc.Bits(0, 5);   // HDIST 1
    inc.Bits(15, 4);  // all 19 code-length lengths
    uint8_t cl[19] = {};
    cl[0] = 1;  // symbol 0 has code 0
    cl[9] = 1;  // symbol 9 (length 9) has code 1
    const uint8_t order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    for (uint8_t s : order) inc.Bits(cl[s], 3);
    for (int i = 0; i < 257; ++i) inc.Code(1, 1);
    inc.Code(0, 1);  // distance length 0
    for (int i = 0; i < 8; ++i) inc.Bits(0, 8);
    EXPECT_EQ(Decode(inc.bytes).result.status, InflateStatus::kBadData);
}

// A dynamic header (HLIT 257, HDIST 1) whose code-length code gives 2-bit codes to the symbols
// listed, in canonical order.
BitWriter CodeLengthHeader(std::initializer_list<uint8_t> coded) {
    BitWriter w;
    w.Bits(1, 1);
    w.Bits(2, 2);
    w.Bits(0, 5);
    w.Bits(0, 5);
    w.Bits(1, 4);  // lengths for 16, 17, 18, 0, 8
    for (uint8_t sym : {16, 17, 18, 0, 8})
        w.Bits(std::find(coded.begin(), coded.end(), sym) != coded.end() ? 2 : 0, 3);
    return w;
}

TEST(InflateTest, RejectsBadCodeLengthSequences) {
    // Canonical 2-bit codes: 0 = 00, 8 = 01, 16 = 10, 18 = 11.
    BitWriter first_repeat = CodeLengthHeader({0, 8, 16, 18});
    first_repeat.Code(2, 2);  // 16 with no length before it to repeat
    first_repeat.Bits(0, 2);
    // 256 zero lengths, length 8 for the end code, then a run of 138 that would reach far
    // past the 258 lengths the header announced.
    BitWriter overrun = CodeLengthHeader({0, 8, 16, 18});
    for (unsigned run : {138, 118}) {
        overrun.Code(3, 2);
        overrun.Bits(run - 11, 7);
    }
    overrun.Code(1, 2);
    overrun.Code(3, 2);
    overrun.Bits(138 - 11, 7);
    BitWriter unassigned = CodeLengthHeader({0, 8});  // half the codes are unassigned
    unassigned.Code(1, 2);
    unassigned.Code(3, 2);
    for (BitWriter* w : {&first_repeat, &overrun, &unassigned}) {
        for (int i = 0; i < 16; ++i) w->Bits(0, 8);
        // Whole-buffer reads take the word-at-a-time path, one-byte reads the careful one.
        EXPECT_EQ(Decode(w->bytes).result.status, InflateStatus::kBadData);
        EXPECT_EQ(Decode(w->bytes, 1).result.status, InflateStatus::kBadData);
    }
}

TEST(InflateTest, SingleDistanceCodeIsAccepted) {
    // Literal/length: 'a' and 257 (length 3) and 256 with lengths 1, 2, 2; one distance code
    // of length 1, as the RFC allows for a block that uses one distance only.
    BitWriter w;
    w.Bits(1, 1);
    w.Bits(2, 2);
    w.Bits(1, 5);   // HLIT 258
    w.Bits(0, 5);   // HDIST 1
    w.Bits(14, 4);  // 18 code-length lengths (up to symbol 1 in the order)
    uint8_t cl[19] = {};
    cl[0] = 2;   // code 00
    cl[1] = 2;   // code 01
    cl[2] = 2;   // code 10
    cl[18] = 2;  // code 11
    const uint8_t order[18] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1};
    for (uint8_t s : order) w.Bits(cl[s], 3);
    // Lengths: 0 x97, then 'a' (97) = 1, then 0 x158 (98..255), 256 = 2, 257 = 2, dist0 = 1.
    w.Code(3, 2);
    w.Bits(97 - 11, 7);
    w.Code(1, 2);  // length 1
    w.Code(3, 2);
    w.Bits(138 - 11, 7);
    w.Code(3, 2);
    w.Bits(20 - 11, 7);
    w.Code(2, 2);  // 256: 2
    w.Code(2, 2);  // 257: 2
    w.Code(1, 2);  // distance 0: 1
    // Codes: 'a' = 0, 256 = 10, 257 = 11; distance 0 = 0.
    w.Code(0, 1);  // a
    w.Code(3, 2);  // length 3
    w.Code(0, 1);  // distance 1
    w.Code(2, 2);  // end
    Outcome o = Decode(w.bytes);
    ASSERT_EQ(o.result.status, InflateStatus::kOk);
    EXPECT_EQ(o.out, (std::vector<uint8_t>{'a', 'a', 'a', 'a'}));
}

TEST(InflateTest, TruncatedOrDamagedInputNeverPasses) {
    UNZIP_TEST_NEEDS("python3");
    TempDir dir;
    ASSERT_TRUE(testing_util::RunPython(dir, R"(
import zlib, random
random.seed(1)
d = b''.join(random.choice([b'one ', b'two ', b'three\n', bytes([random.getrandbits(8)])]) for _ in range(20000))
for i, lv in enumerate([1, 9, 0]):
  c = zlib.compressobj(lv, zlib.DEFLATED, -15)
  open('t%d.z' % i, 'wb').write(c.compress(d) + c.flush())
open('t.raw', 'wb').write(d)
)"));
    auto raw = ReadFile(dir / "t.raw");
    for (int i = 0; i < 3; ++i) {
        auto z = ReadFile(dir / Numbered("t", i, ".z"));
        // Every cut fails: no prefix of a stream decodes as a complete stream.
        for (size_t cut = 0; cut < z.size(); cut += (cut < 64 || z.size() - cut < 64) ? 1 : 97) {
            std::vector<uint8_t> part(z.begin(), z.begin() + static_cast<ptrdiff_t>(cut));
            EXPECT_NE(Decode(part).result.status, InflateStatus::kOk) << "cut at " << cut;
        }
        // Random damage never crashes, and whatever it yields is bounded.
        std::mt19937 rng(static_cast<uint32_t>(i));
        for (int round = 0; round < 300; ++round) {
            auto bad = z;
            for (int k = 0; k < 1 + round % 4; ++k) bad[rng() % bad.size()] ^= 1u << (rng() % 8);
            Outcome o = Decode(bad, 1 + rng() % 5000);
            EXPECT_EQ(o.result.out_size, o.out.size());
        }
    }
}

// Writes a fixed-code distance with its extra bits.
void FixedDistance(BitWriter& w, unsigned d) {
    static const uint16_t base[30] = {
        1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
        193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
    unsigned c = 29;
    while (base[c] > d) --c;
    w.Code(c, 5);
    unsigned extra = c < 4 ? 0 : c / 2 - 1;
    w.Bits(d - base[c], extra);
}

// A dynamic block whose codes are 'a' = 0, end = 10, length 3 = 11 and a single distance code
// 0 of one bit: many literals fit one look-up's bits, and a distance code 1 is unassigned.
void SmallDynamicHeader(BitWriter& w) {
    w.Bits(1, 1);
    w.Bits(2, 2);
    w.Bits(1, 5);
    w.Bits(0, 5);
    w.Bits(14, 4);
    uint8_t cl[19] = {};
    cl[0] = cl[1] = cl[2] = cl[18] = 2;
    const uint8_t order[18] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1};
    for (uint8_t s : order) w.Bits(cl[s], 3);
    w.Code(3, 2);
    w.Bits(97 - 11, 7);
    w.Code(1, 2);
    w.Code(3, 2);
    w.Bits(138 - 11, 7);
    w.Code(3, 2);
    w.Bits(20 - 11, 7);
    w.Code(2, 2);
    w.Code(2, 2);
    w.Code(1, 2);
}

TEST(InflateTest, HostileEndingsAtEveryBufferBoundary) {
    // Each hostile ending follows a prefix of stored bytes whose length puts it at the start,
    // inside the fast loop, near the output buffer's flush point and past the window, and the
    // input arrives whole or in small pieces, so both the fast and the careful decoding meet
    // it at their buffer ends.
    struct Case {
        const char* what;
        std::function<void(BitWriter&, size_t prefix)> tail;
        InflateStatus status;
        size_t extra_out;  // bytes after the prefix when the stream is valid
    };
    auto fixed_start = [](BitWriter& w) {
        w.Bits(1, 1);
        w.Bits(1, 2);
    };
    const Case cases[] = {
        {"literal and end",
         [&](BitWriter& w, size_t) {
             fixed_start(w);
             w.FixedSym('x');
             w.FixedSym(256);
         },
         InflateStatus::kOk, 1},
        {"match reaching the first byte",
         [&](BitWriter& w, size_t prefix) {
             fixed_start(w);
             w.FixedSym('x');
             w.FixedSym(257);
             FixedDistance(w, static_cast<unsigned>(std::min<size_t>(prefix + 1, 32768)));
             w.FixedSym(256);
         },
         InflateStatus::kOk, 4},
        {"match reaching one byte before the stream",
         [&](BitWriter& w, size_t prefix) {
             fixed_start(w);
             w.FixedSym('x');
             w.FixedSym(258);
             FixedDistance(w, static_cast<unsigned>(prefix + 2));
             w.FixedSym(256);
         },
         InflateStatus::kBadData, 0},
        {"distance code 30",
         [&](BitWriter& w, size_t) {
             fixed_start(w);
             w.FixedSym('x');
             w.FixedSym(257);
             w.Code(30, 5);
             w.FixedSym(256);
         },
         InflateStatus::kBadData, 0},
        {"length code 287",
         [&](BitWriter& w, size_t) {
             fixed_start(w);
             w.FixedSym(287);
         },
         InflateStatus::kBadData, 0},
        {"cut inside a match",
         [&](BitWriter& w, size_t) {
             fixed_start(w);
             w.FixedSym('x');
             w.FixedSym(284);
         },
         InflateStatus::kTruncated, 0},
        {"one-bit literals then end",
         [&](BitWriter& w, size_t prefix) {
             SmallDynamicHeader(w);
             for (size_t i = 0; i < 5 + prefix % 7; ++i) w.Code(0, 1);
             w.Code(2, 2);
         },
         InflateStatus::kOk, 0},
        {"one-bit literals then the unassigned distance code",
         [&](BitWriter& w, size_t prefix) {
             SmallDynamicHeader(w);
             for (size_t i = 0; i < 5 + prefix % 7; ++i) w.Code(0, 1);
             w.Code(3, 2);
             w.Code(1, 1);
             for (int i = 0; i < 40; ++i) w.Code(0, 1);
             w.Code(2, 2);
         },
         InflateStatus::kBadData, 0},
    };
    std::vector<size_t> prefixes;
    for (size_t p = 0; p <= 20; ++p) prefixes.push_back(p);
    for (size_t edge : {size_t{32768}, size_t{65536}, size_t{131072}, size_t{163840}})
        for (size_t p = edge - 9; p <= edge + 9; p += 3) prefixes.push_back(p);
    const std::vector<uint8_t> history = testing_util::RandomBytes(170000, 5);
    for (size_t prefix : prefixes) {
        BitWriter stored;
        for (size_t done = 0; done < prefix || done == 0;) {
            size_t n = std::min<size_t>(prefix - done, 65535);
            stored.Bits(0, 1);
            stored.Bits(0, 2);
            stored.Align();
            stored.Bits(static_cast<uint32_t>(n), 16);
            stored.Bits(static_cast<uint32_t>(~n & 0xFFFF), 16);
            stored.Bytes(history.data() + done, n);
            done += n;
            if (n == 0) break;
        }
        for (const Case& c : cases) {
            if (std::string(c.what) == "match reaching one byte before the stream" &&
                prefix + 2 > 32768)
                continue;  // no distance reaches that far
            BitWriter w = stored;
            c.tail(w, prefix);
            size_t stream = w.bytes.size();
            std::vector<uint8_t> in = w.bytes;
            // Whatever follows in the archive (a cut stream has nothing after it).
            if (c.status != InflateStatus::kTruncated) in.insert(in.end(), 9, 0xA5);
            for (size_t piece : {size_t{1} << 20, size_t{1}, size_t{9}, size_t{4093}}) {
                if (piece == 1 && prefix > 1000) continue;  // slow, and the small cases cover it
                Outcome o = Decode(in, piece);
                SCOPED_TRACE(std::string(c.what) + " prefix " + std::to_string(prefix) + " piece " +
                             std::to_string(piece));
                ASSERT_EQ(o.result.status, c.status);
                EXPECT_EQ(o.result.out_size, o.out.size());
                ASSERT_GE(o.out.size(), std::min(prefix, o.out.size()));
                EXPECT_TRUE(std::equal(
                    o.out.begin(),
                    o.out.begin() + static_cast<ptrdiff_t>(std::min(prefix, o.out.size())),
                    history.begin()));
                if (c.status != InflateStatus::kOk) continue;
                EXPECT_EQ(o.result.in_used, stream);
                if (c.extra_out) {
                    EXPECT_EQ(o.out.size(), prefix + c.extra_out);
                }
            }
        }
    }
}

}  // namespace
}  // namespace engine
