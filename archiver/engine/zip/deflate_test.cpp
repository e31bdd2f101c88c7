#include "archiver/engine/zip/deflate.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <random>
#include <string>

#include "archiver/engine/unzip/inflate.h"
#include "archiver/engine/zip/deflate_test_data.h"

namespace zip {
namespace {

bool HavePython() {
    static const bool have = std::system("python3 -c 'import zlib' >/dev/null 2>&1") == 0;
    return have;
}

/// Inflates raw Deflate streams with Python's zlib, an independent decoder, in one process
/// (each stream and each result framed by an 8-byte little-endian length); false when Python
/// failed, an empty optional for a stream it refused.
bool PythonInflate(const std::vector<std::vector<uint8_t>>& streams,
                   std::vector<std::optional<std::vector<uint8_t>>>& plain) {
    char path[] = "/tmp/deflate_test_XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0) return false;
    std::vector<uint8_t> framed;
    for (const auto& s : streams) {
        for (int i = 0; i < 8; ++i) framed.push_back(static_cast<uint8_t>(s.size() >> (8 * i)));
        framed.insert(framed.end(), s.begin(), s.end());
    }
    bool wrote = write(fd, framed.data(), framed.size()) == static_cast<ssize_t>(framed.size());
    close(fd);
    std::string cmd = std::string(
                          "python3 -c \"import zlib,sys\n"
                          "d=sys.stdin.buffer.read();o=sys.stdout.buffer;p=0\n"
                          "while p<len(d):\n"
                          " n=int.from_bytes(d[p:p+8],'little');s=d[p+8:p+8+n];p+=8+n\n"
                          " try:r=zlib.decompress(s,-15)\n"
                          " except zlib.error:r=None\n"
                          " o.write((2**64-1 if r is None else len(r)).to_bytes(8,'little'))\n"
                          " o.write(r or b'')\" < ") +
                      path;
    FILE* p = wrote ? popen(cmd.c_str(), "r") : nullptr;
    std::vector<uint8_t> out;
    if (p) {
        uint8_t buf[65536];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.insert(out.end(), buf, buf + n);
    }
    int status = p ? pclose(p) : -1;
    unlink(path);
    plain.clear();
    for (size_t pos = 0; pos + 8 <= out.size();) {
        uint64_t n = 0;
        for (int i = 0; i < 8; ++i) n |= uint64_t{out[pos + i]} << (8 * i);
        pos += 8;
        if (n == UINT64_MAX) {
            plain.emplace_back();
        } else if (n <= out.size() - pos) {
            plain.emplace_back(std::vector<uint8_t>(out.begin() + pos, out.begin() + pos + n));
            pos += n;
        } else {
            return false;
        }
    }
    return status == 0 && plain.size() == streams.size();
}

bool PythonInflate(const std::vector<uint8_t>& deflated, std::vector<uint8_t>& plain) {
    std::vector<std::optional<std::vector<uint8_t>>> all;
    if (!PythonInflate({deflated}, all) || !all[0]) return false;
    plain = *all[0];
    return true;
}

struct Inputs {
    std::vector<std::pair<std::string, std::vector<uint8_t>>> all;
    Inputs() {
        all.emplace_back("empty", std::vector<uint8_t>{});
        all.emplace_back("one byte", std::vector<uint8_t>{'x'});
        all.emplace_back("random 100 KiB", RandomBytes(100000, 1));
        all.emplace_back("text 70 KiB", Text(70000, 2));
        std::vector<uint8_t> mixed = Text(600000, 3);
        std::vector<uint8_t> noise = RandomBytes(300000, 4);
        mixed.insert(mixed.begin() + 200000, noise.begin(), noise.end());
        mixed.insert(mixed.end(), 400000, 0);
        all.emplace_back("mixed 1.3 MiB", mixed);
        std::vector<uint8_t> runs;
        for (int i = 0; i < 3000; ++i) runs.insert(runs.end(), 1 + (i * 37) % 700, 'a' + i % 3);
        all.emplace_back("runs", runs);
        std::vector<uint8_t> periodic;
        for (int i = 0; i < 100003; ++i) periodic.push_back("abcdefg"[i % 7]);
        all.emplace_back("period 7, odd end", periodic);
        // Repeats right at the farthest distance a match may reach and one byte beyond it.
        std::vector<uint8_t> far = RandomBytes(kMaxDist, 11);
        const std::vector<uint8_t> head(far.begin(), far.begin() + 1000);
        far.insert(far.end(), head.begin(), head.end());
        std::vector<uint8_t> beyond = RandomBytes(kMaxDist + 1, 12);
        far.insert(far.end(), beyond.begin(), beyond.end());
        far.insert(far.end(), beyond.begin(), beyond.begin() + 1000);
        all.emplace_back("repeats at the farthest distance", far);
        // Blocks end where the mix of symbols changes: text, noise and zeros in turns, each
        // stretch long enough to be a block of its own, and inputs whose last few hundred
        // symbols differ from the rest (the block ends with symbols held back for the next).
        std::vector<uint8_t> turns;
        for (int i = 0; i < 6; ++i) {
            std::vector<uint8_t> part = i % 3 == 0   ? Text(30000 + 777 * i, 20 + i)
                                        : i % 3 == 1 ? RandomBytes(20000 + 333 * i, 30 + i)
                                                     : std::vector<uint8_t>(9000 + i, 0);
            turns.insert(turns.end(), part.begin(), part.end());
        }
        all.emplace_back("text, noise and zeros in turns", turns);
        for (size_t tail : {511u, 512u, 513u, 1500u}) {
            std::vector<uint8_t> v = Text(40000, 40);
            std::vector<uint8_t> noise = RandomBytes(tail, 41);
            v.insert(v.end(), noise.begin(), noise.end());
            all.emplace_back("text, then " + std::to_string(tail) + " bytes of noise", v);
        }
        // Levels 1-8 search ever more sparsely through noise; the text after it must still
        // be matched (see SkippingLevelsFindMatchesAgainAfterNoise).
        std::vector<uint8_t> back = RandomBytes(50000, 42);
        std::vector<uint8_t> words = Text(20000, 43);
        back.insert(back.end(), words.begin(), words.end());
        all.emplace_back("noise, then text", back);
    }
};

const Inputs& TestInputs() {
    static const Inputs inputs;
    return inputs;
}

TEST(Deflate, RoundTripsThroughAnIndependentInflaterAtEveryLevel) {
    if (!HavePython()) {
        // A build machine without the independent decoder must not pass quietly.
        if (std::getenv("CI") != nullptr) FAIL() << "python3 with zlib is missing (CI)";
        GTEST_SKIP() << "python3 with zlib is not available";
    }
    auto state = make_deflate_state();
    std::vector<std::pair<uint32_t, uint32_t>> trace;
    state->trace = &trace;
    std::vector<std::vector<uint8_t>> streams;
    std::vector<const std::vector<uint8_t>*> originals;
    for (const auto& [name, data] : TestInputs().all) {
        for (int level = 1; level <= 9; ++level) {
            SCOPED_TRACE(name + " level " + std::to_string(level));
            std::vector<uint8_t> out;
            trace.clear();
            DeflateBufferInfo info;
            DeflateResult r = deflate_buffer(*state, data, level, false, out, &info);
            ASSERT_EQ(r.result, 0);
            EXPECT_EQ(r.compressed_size, out.size());
            EXPECT_EQ(info.method, kMethodDeflated);
            uint64_t covered = 0;
            for (auto [dist, len] : trace) {
                EXPECT_LE(dist, kMaxDist);
                covered += dist ? len : 1;
            }
            EXPECT_EQ(covered, data.size());
            streams.push_back(std::move(out));
            originals.push_back(&data);
        }
    }
    std::vector<std::optional<std::vector<uint8_t>>> back;
    ASSERT_TRUE(PythonInflate(streams, back));
    for (size_t i = 0; i < back.size(); ++i) {
        ASSERT_TRUE(back[i].has_value()) << "stream " << i;
        EXPECT_TRUE(*back[i] == *originals[i]) << "stream " << i;
    }
}

// Block edges: inputs whose symbols just fill a block, or one more; and the window's slide.
TEST(Deflate, RoundTripsThroughOurInflateAcrossBlockAndWindowEdges) {
    auto state = make_deflate_state();
    // The independent decoder sees every input at every level; ours sees these at three.
    std::vector<std::pair<std::string, std::vector<uint8_t>>> cases = TestInputs().all;
    for (unsigned n : {kBlockSymbols - 1, kBlockSymbols, kBlockSymbols + 1}) {
        // Bytes that never repeat a 3-byte string give one literal per byte.
        std::vector<uint8_t> distinct;
        for (size_t i = 0; distinct.size() < n; ++i) {
            distinct.push_back(static_cast<uint8_t>(i >> 8));
            distinct.push_back(static_cast<uint8_t>(i));
        }
        distinct.resize(n);
        cases.emplace_back("distinct " + std::to_string(n), distinct);
    }
    // 258-byte matches run across the window's slide at 64 KiB and beyond.
    std::vector<uint8_t> slide = RandomBytes(300, 13);
    while (slide.size() < 200000) slide.insert(slide.end(), slide.end() - 300, slide.end());
    cases.emplace_back("period 300 across slides", slide);
    std::vector<std::pair<uint32_t, uint32_t>> trace;
    state->trace = &trace;
    for (const auto& [name, data] : cases) {
        for (int level = 1; level <= 9; ++level) {
            bool edge = name.starts_with("distinct") || name.starts_with("period 300");
            if (!edge && level != 1 && level != 5 && level != 9) continue;
            SCOPED_TRACE(name + " level " + std::to_string(level));
            std::vector<uint8_t> out, back;
            trace.clear();
            ASSERT_EQ(deflate_buffer(*state, data, level, false, out).result, 0);
            ASSERT_TRUE(OwnInflate(out, back));
            EXPECT_TRUE(back == data);
            if (name.starts_with("distinct")) {
                EXPECT_EQ(trace.size(), data.size());
            }
            if (name.starts_with("period")) {
                size_t longest = 0;
                for (auto [d, len] : trace) longest = std::max<size_t>(longest, d ? len : 0);
                EXPECT_EQ(longest, kMaxMatch);
            }
        }
    }
}

TEST(Deflate, SkippingLevelsFindMatchesAgainAfterNoise) {
    auto state = make_deflate_state();
    std::vector<std::pair<uint32_t, uint32_t>> trace;
    state->trace = &trace;
    const std::vector<uint8_t>* data = nullptr;
    for (const auto& [name, d] : TestInputs().all) {
        if (name == "noise, then text") data = &d;
    }
    ASSERT_NE(data, nullptr);
    for (int level : {1, 2, 3, 4, 5, 8}) {
        SCOPED_TRACE(level);
        std::vector<uint8_t> out;
        trace.clear();
        ASSERT_EQ(deflate_buffer(*state, *data, level, false, out).result, 0);
        // Positions from the trace: matches in the noise are rare, in the text nearly everything.
        uint64_t pos = 0, noise_matched = 0, text_matched = 0;
        for (auto [dist, len] : trace) {
            uint64_t n = dist ? len : 1;
            if (dist) (pos >= 50000 ? text_matched : noise_matched) += n;
            pos += n;
        }
        EXPECT_EQ(pos, data->size());
        EXPECT_LT(noise_matched, 1000u);
        EXPECT_GT(text_matched, 18000u);
        std::vector<uint8_t> back;
        ASSERT_TRUE(OwnInflate(out, back));
        EXPECT_TRUE(back == *data);
    }
}

TEST(Deflate, StateCarriesNothingFromOneMemberToTheNext) {
    auto used = make_deflate_state();
    auto fresh = make_deflate_state();
    const auto& inputs = TestInputs().all;
    for (int level : {1, 5, 9}) {
        std::vector<uint8_t> before, after, again;
        deflate_buffer(*used, inputs[4].second, level, false, before);
        deflate_buffer(*used, inputs[3].second, level, false, after);
        deflate_buffer(*fresh, inputs[3].second, level, false, again);
        EXPECT_TRUE(after == again) << "level " << level;
    }
}

// A member that is a prefix of the one before it finds that member's continuation right after
// its own end in the window; the search must not see it. Here the input ends with a run S seen
// twice before: nearest followed by other bytes, farther followed by T, which the earlier member
// had right after this one's end.
TEST(Deflate, BytesPastTheInputsEndAreNeverThoseOfAnEarlierMember) {
    auto used = make_deflate_state();
    auto fresh = make_deflate_state();
    std::mt19937 rng(5);
    auto random = [&](size_t n) {
        std::vector<uint8_t> v(n);
        for (auto& b : v) b = static_cast<uint8_t>(rng());
        return v;
    };
    for (size_t run : {size_t{20}, size_t{100}}) {
        std::vector<uint8_t> s = random(run), t = random(60), earlier;
        for (const auto& part : {random(500), s, t, random(300), s, random(200), s, t})
            earlier.insert(earlier.end(), part.begin(), part.end());
        std::span<const uint8_t> prefix(earlier.data(), earlier.size() - t.size());
        for (int level : {1, 3, 5, 9}) {
            std::vector<uint8_t> first, after, again;
            deflate_buffer(*used, earlier, level, false, first);
            deflate_buffer(*used, prefix, level, false, after);
            deflate_buffer(*fresh, prefix, level, false, again);
            EXPECT_TRUE(after == again) << "level " << level << " run " << run;
        }
    }
}

/// Hands out at most `chunk` bytes per read, as a pipe might.
struct ChunkedInput final : DeflateInput {
    std::span<const uint8_t> data;
    size_t chunk = 1;
    int64_t Read(std::span<uint8_t> out) override {
        size_t n = std::min({out.size(), data.size(), chunk});
        std::copy_n(data.begin(), n, out.begin());
        data = data.subspan(n);
        return static_cast<int64_t>(n);
    }
};

TEST(Deflate, OutputDoesNotDependOnHowTheInputArrives) {
    auto state = make_deflate_state();
    const std::vector<uint8_t>& data = TestInputs().all[4].second;  // mixed, over 1 MiB
    for (int level : {2, 7}) {
        std::vector<uint8_t> whole;
        deflate_buffer(*state, data, level, false, whole);
        for (size_t chunk : {size_t{1}, size_t{263}, size_t{40000}}) {
            ChunkedInput in;
            in.data = data;
            in.chunk = chunk;
            VectorSink out;
            uint16_t attr = kAttrUnknown, method = kMethodDeflated, flags = 0;
            init_bit_writer(*state, &out, &in);
            init_trees(*state, &attr, &method);
            ASSERT_EQ(init_matcher(*state, level, &flags), 0);
            EXPECT_EQ(deflate_member(*state).result, 0);
            EXPECT_TRUE(out.bytes == whole) << "level " << level << " chunk " << chunk;
        }
    }
}

TEST(Deflate, MemberThatDoesNotShrinkIsStoredOnlyOnASeekableOutput) {
    auto state = make_deflate_state();
    std::vector<uint8_t> small = RandomBytes(1000, 5);
    for (int level : {1, 6}) {
        std::vector<uint8_t> out;
        DeflateBufferInfo info;
        DeflateResult r = deflate_buffer(*state, small, level, true, out, &info);
        EXPECT_EQ(r.result, 0);
        EXPECT_EQ(info.method, kMethodStored);
        EXPECT_EQ(out, small);
        EXPECT_EQ(r.compressed_size, small.size());

        out.clear();
        r = deflate_buffer(*state, small, level, false, out, &info);
        EXPECT_EQ(info.method, kMethodDeflated);
        EXPECT_EQ(r.compressed_size, out.size());
        EXPECT_EQ(out.size(), small.size() + 5);  // one stored block
    }
    // More than one block: the member stays deflated even when it does not shrink.
    std::vector<uint8_t> big = RandomBytes(200000, 6);
    std::vector<uint8_t> out;
    DeflateBufferInfo info;
    DeflateResult r = deflate_buffer(*state, big, 3, true, out, &info);
    EXPECT_EQ(info.method, kMethodDeflated);
    EXPECT_EQ(r.compressed_size, out.size());
    if (HavePython()) {
        std::vector<uint8_t> back;
        ASSERT_TRUE(PythonInflate(out, back));
        EXPECT_EQ(back, big);
    }
}

TEST(Deflate, TextDetectionCountsLiteralsWithIntegerDivision) {
    auto state = make_deflate_state();
    auto attr_of = [&](std::vector<uint8_t> data) {
        std::vector<uint8_t> out;
        DeflateBufferInfo info;
        deflate_buffer(*state, data, 5, false, out, &info);
        return info.internal_attr;
    };
    // 8 printable and 2 other bytes: 8 / 4 = 2 is not below 2.
    EXPECT_EQ(attr_of({'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 0x01, 0x80}), kAttrText);
    // 7 and 2: 7 / 4 = 1.
    EXPECT_EQ(attr_of({'a', 'b', 'c', 'd', 'e', 'f', 'g', 0x01, 0x80}), kAttrBinary);
    // Bytes 0-6 count as binary, 7 (bell) already as text.
    EXPECT_EQ(attr_of({7, 7, 7, 7, 7, 7, 7, 7, 6, 6}), kAttrBinary);  // a match: 7 7 7 ...
    EXPECT_EQ(attr_of({'\t', '\n', 'a', 'b', 'c', 'd', 'e', 'f', 0xFF}), kAttrText);
    EXPECT_EQ(attr_of(Text(100000, 7)), kAttrText);
    EXPECT_EQ(attr_of(RandomBytes(100000, 8)), kAttrBinary);
}

TEST(Deflate, LevelSetsItsFlagBitsAndOutOfRangeLevelsAreRefused) {
    auto state = make_deflate_state();
    std::vector<uint8_t> data = Text(5000, 9);
    for (int level = 1; level <= 9; ++level) {
        std::vector<uint8_t> out;
        DeflateBufferInfo info;
        ASSERT_EQ(deflate_buffer(*state, data, level, false, out, &info).result, 0);
        uint16_t want = level == 1 ? kFlagSuperFast : level == 9 ? kFlagMaximum : 0;
        EXPECT_EQ(info.flags, want) << "level " << level;
    }
    for (int level : {0, 10, -1}) {
        std::vector<uint8_t> out;
        DeflateResult r = deflate_buffer(*state, data, level, false, out);
        EXPECT_EQ(r.result, 5);
        EXPECT_STREQ(r.detail, "bad pack level");
        EXPECT_TRUE(out.empty());
    }
}

TEST(Deflate, CodeLengthsStayWithinTheLimitAndFormACompleteCode) {
    auto kraft_is_one = [](const std::vector<uint8_t>& lengths, unsigned limit) {
        uint64_t sum = 0;
        for (uint8_t len : lengths) {
            if (len > limit) return false;
            if (len) sum += uint64_t{1} << (limit - len);
        }
        return sum == uint64_t{1} << limit;
    };
    // Fibonacci frequencies make the unlimited tree as deep as it gets.
    std::vector<uint16_t> fib = {1, 1};
    while (fib.size() < 24) fib.push_back(fib[fib.size() - 1] + fib[fib.size() - 2]);
    for (unsigned limit : {7u, 15u}) {
        std::vector<uint16_t> freq(fib.begin(), fib.begin() + (limit == 7 ? 19 : 24));
        std::vector<uint8_t> lengths = code_lengths(freq, limit);
        EXPECT_TRUE(kraft_is_one(lengths, limit)) << "limit " << limit;
        for (size_t i = 1; i < freq.size(); ++i) EXPECT_LE(lengths[i], lengths[i - 1]);
    }
    EXPECT_EQ(code_lengths(std::vector<uint16_t>{1, 1, 2, 4}, 15),
              (std::vector<uint8_t>{3, 3, 2, 1}));
    // Unused codes get no length; a lone code is paired with the next code up (below 2),
    // else with code 0.
    EXPECT_EQ(code_lengths(std::vector<uint16_t>{0, 5, 0}, 15), (std::vector<uint8_t>{0, 1, 1}));
    EXPECT_EQ(code_lengths(std::vector<uint16_t>{0, 0, 0, 5}, 15),
              (std::vector<uint8_t>{1, 0, 0, 1}));
}

/// A one-byte lead, "ABC" (or "ABCD"), filler without a repeated 3-byte string, then the same
/// string again at `distance` and a byte that ends the match.
std::vector<uint8_t> ShortRepeat(unsigned distance, unsigned length = 3) {
    std::vector<uint8_t> v = {'#', 'A', 'B', 'C', 'D'};
    v.resize(1 + length);
    for (unsigned i = 0; v.size() < 1 + distance; ++i) {
        v.push_back(static_cast<uint8_t>(0x80 + (i >> 7)));
        v.push_back(static_cast<uint8_t>(i & 0x7F));
    }
    v.resize(1 + distance);
    v.insert(v.end(), {'A', 'B', 'C', 'D'});
    v.resize(1 + distance + length);
    v.push_back(0xFF);
    return v;
}

bool UsesMatch(DeflateState& s, const std::vector<uint8_t>& data, int level, unsigned dist,
               unsigned length = 3) {
    std::vector<std::pair<uint32_t, uint32_t>> trace;
    s.trace = &trace;
    std::vector<uint8_t> out;
    deflate_buffer(s, data, level, false, out);
    s.trace = nullptr;
    bool found = false;
    for (auto [d, len] : trace) {
        if (d == 0) continue;
        EXPECT_EQ(d, dist);
        EXPECT_EQ(len, length);
        found = true;
    }
    return found;
}

/// Whether `level` codes the string "ABCD" (its first `length` bytes) that repeats `distance`
/// bytes later as one match. The bytes between are a run of one byte, which keeps matching:
/// after long stretches without a match, levels 1-8 search only at some positions (see
/// SkippingLevelsFindMatchesAgainAfterNoise), and a lone match there may be passed over.
bool MatchAtEnd(DeflateState& s, unsigned distance, unsigned length, int level) {
    std::vector<uint8_t> v = {'#', 'A', 'B', 'C', 'D'};
    v.resize(1 + length);
    v.resize(1 + distance, '.');
    v.insert(v.end(), {'A', 'B', 'C', 'D'});
    v.resize(1 + distance + length);
    v.push_back(0xFF);
    std::vector<std::pair<uint32_t, uint32_t>> trace;
    s.trace = &trace;
    std::vector<uint8_t> out;
    deflate_buffer(s, v, level, false, out);
    s.trace = nullptr;
    uint64_t pos = 0;
    bool found = false;
    for (auto [d, len] : trace) {
        if (pos == 1 + distance) found = d == distance && len == length;
        pos += d ? len : 1;
    }
    return found;
}

TEST(Deflate, LazyLevelsDropThreeByteMatchesBeyond4096) {
    auto state = make_deflate_state();
    for (int level : {4, 5, 8, 9}) {
        // The maximum level weighs a match against the literals it replaces: in a block of a
        // few symbols, the lone far match costs more than its literals.
        if (level != 9) {
            EXPECT_TRUE(MatchAtEnd(*state, 4096, 3, level)) << level;
            EXPECT_TRUE(MatchAtEnd(*state, 4097, 4, level)) << level;
        }
        EXPECT_FALSE(MatchAtEnd(*state, 4097, 3, level)) << level;
        // The nearest 3-byte string is found whatever the longer strings' chains hold.
        EXPECT_TRUE(UsesMatch(*state, ShortRepeat(3, 3), level, 3)) << level;
    }
    // The maximum level searches everywhere, also after thousands of bytes without a match.
    // (There it weighs short matches against their literals: among these bytes a far 3-byte
    // match costs more than its literals, a 5-byte one less.)
    EXPECT_TRUE(UsesMatch(*state, ShortRepeat(4096, 5), 9, 4096, 5));
    EXPECT_FALSE(UsesMatch(*state, ShortRepeat(4097), 9, 4097));
    EXPECT_TRUE(UsesMatch(*state, ShortRepeat(4097, 4), 9, 4097, 4));
    // The greedy levels look for 4-byte strings only, at any distance.
    for (int level : {1, 2, 3}) {
        EXPECT_FALSE(UsesMatch(*state, ShortRepeat(4096), level, 4096)) << level;
        EXPECT_FALSE(MatchAtEnd(*state, 4096, 3, level)) << level;
        EXPECT_TRUE(MatchAtEnd(*state, 4097, 4, level)) << level;
        EXPECT_TRUE(MatchAtEnd(*state, kMaxDist, 4, level)) << level;
        EXPECT_FALSE(MatchAtEnd(*state, kMaxDist + 1, 4, level)) << level;
    }
}

TEST(Deflate, LevelFiveLinksOnlyTheTailOfALongMatch) {
    // A 300-byte string, noise, the string again (one long match), noise, then two pieces of
    // the string: one from its middle, one from its end. Level 5 finds the middle only in the
    // first copy, the end also in the nearer second one; level 4 links every position.
    const std::vector<uint8_t> a = RandomBytes(300, 21);
    const std::vector<uint8_t> noise = RandomBytes(400, 22);
    std::vector<uint8_t> v = {'#'};
    v.insert(v.end(), a.begin(), a.end());
    v.insert(v.end(), noise.begin(), noise.begin() + 100);
    const uint32_t second = static_cast<uint32_t>(v.size());
    v.insert(v.end(), a.begin(), a.end());
    v.insert(v.end(), noise.begin() + 100, noise.begin() + 200);
    const uint32_t middle = static_cast<uint32_t>(v.size());
    v.insert(v.end(), a.begin() + 100, a.begin() + 140);
    v.insert(v.end(), noise.begin() + 200, noise.begin() + 300);
    const uint32_t end = static_cast<uint32_t>(v.size());
    v.insert(v.end(), a.end() - 12, a.end());
    v.insert(v.end(), noise.begin() + 300, noise.end());
    auto state = make_deflate_state();
    for (int level : {4, 5}) {
        SCOPED_TRACE(level);
        Trace trace;
        ASSERT_TRUE(RoundTrips(*state, v, level, trace));
        std::vector<std::pair<uint32_t, uint32_t>> at;  // (position, distance) of each match
        uint32_t pos = 0;
        for (auto [d, len] : trace) {
            if (d != 0) at.emplace_back(pos, d);
            pos += d ? len : 1;
        }
        const uint32_t near_middle = middle - (second + 100);
        const uint32_t far_middle = middle - (1 + 100);
        const uint32_t near_end = end - (second + 288);
        auto matched = [&](uint32_t p, uint32_t d) {
            return std::find(at.begin(), at.end(), std::make_pair(p, d)) != at.end();
        };
        EXPECT_TRUE(matched(second, second - 1));
        EXPECT_TRUE(matched(middle, level == 5 ? far_middle : near_middle));
        EXPECT_TRUE(matched(end, near_end));
    }
}

TEST(Deflate, BitCursorWritesWhatTheWriterWritesAcrossStageFlushes) {
    // Codes of every width, enough to fill the stage several times, sent once through the
    // writer alone and once through cursors taking turns with it (as blocks take turns with
    // their headers), must give the same bytes.
    std::mt19937 gen(41);
    std::vector<std::pair<uint64_t, unsigned>> codes;
    for (int i = 0; i < 60000; ++i) {
        unsigned n = 1 + gen() % 48;
        codes.emplace_back((uint64_t{gen()} << 32 | gen()) & ((uint64_t{1} << n) - 1), n);
    }
    VectorSink plain_out;
    BitWriter plain;
    plain.reset(&plain_out);
    for (auto [v, n] : codes) plain.put_bits(v, n);
    plain.align_to_byte();
    plain.flush_stage();

    VectorSink mixed_out;
    BitWriter mixed;
    mixed.reset(&mixed_out);
    for (size_t i = 0; i < codes.size();) {
        mixed.put_bits(codes[i].first, codes[i].second);
        ++i;
        BitCursor cursor(mixed);
        for (size_t end = std::min(codes.size(), i + 1 + gen() % 9000); i < end; ++i) {
            cursor.put_bits(codes[i].first, codes[i].second);
        }
        cursor.store();
    }
    mixed.align_to_byte();
    mixed.flush_stage();
    EXPECT_FALSE(mixed.failed);
    EXPECT_EQ(mixed.written, plain.written);
    EXPECT_TRUE(mixed_out.bytes == plain_out.bytes);
}

TEST(Deflate, TheTraceKeepsTheOrderOfTheSymbolsWhereBlocksAreSplit) {
    // Text, noise and text again: the block ends where the noise begins and where it ends,
    // and the symbols held back for the next block must come after those emitted before.
    std::vector<uint8_t> v = Text(30000, 31);
    const std::vector<uint8_t> noise = RandomBytes(30000, 32);
    v.insert(v.end(), noise.begin(), noise.end());
    const std::vector<uint8_t> more = Text(30000, 33);
    v.insert(v.end(), more.begin(), more.end());
    auto state = make_deflate_state();
    for (int level = 1; level <= 9; ++level) {
        SCOPED_TRACE(level);
        Trace trace;
        ASSERT_TRUE(RoundTrips(*state, v, level, trace));
    }
}

struct FailingInput final : DeflateInput {
    std::vector<uint8_t> data;
    size_t pos = 0;
    size_t fail_at = 0;
    int64_t Read(std::span<uint8_t> out) override {
        if (pos >= fail_at) return -1;
        size_t n = std::min({out.size(), fail_at - pos, size_t{4096}});
        std::copy_n(data.begin() + pos, n, out.begin());
        pos += n;
        return static_cast<int64_t>(n);
    }
};

struct CountingOutput final : DeflateOutput {
    uint64_t bytes = 0;
    uint64_t fail_after = UINT64_MAX;
    bool Write(std::span<const uint8_t> b) override {
        if (bytes + b.size() > fail_after) return false;
        bytes += b.size();
        return true;
    }
    bool CanSeek() override { return true; }
};

TEST(Deflate, ReadAndWriteFailuresAreReportedNotPassedOffAsTheWholeMember) {
    auto state = make_deflate_state();
    FailingInput in;
    in.data = Text(500000, 10);
    in.fail_at = 300000;
    CountingOutput out;
    uint16_t attr = kAttrUnknown, method = kMethodDeflated, flags = 0;
    init_bit_writer(*state, &out, &in);
    init_trees(*state, &attr, &method);
    ASSERT_EQ(init_matcher(*state, 6, &flags), 0);
    EXPECT_EQ(deflate_member(*state).result, 11);

    // A read error before any byte arrives is as bad as one later.
    FailingInput none;
    init_bit_writer(*state, &out, &none);
    init_trees(*state, &attr, &method);
    ASSERT_EQ(init_matcher(*state, 6, &flags), 0);
    EXPECT_EQ(deflate_member(*state).result, 11);

    in.pos = 0;
    in.fail_at = in.data.size();
    CountingOutput full;
    full.fail_after = 1000;
    init_bit_writer(*state, &full, &in);
    init_trees(*state, &attr, &method);
    ASSERT_EQ(init_matcher(*state, 2, &flags), 0);
    EXPECT_EQ(deflate_member(*state).result, 14);
}

}  // namespace
}  // namespace zip
