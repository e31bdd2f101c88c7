#include "archiver/engine/zip/deflate_lookahead.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "archiver/engine/zip/deflate.h"
#include "archiver/engine/zip/deflate_test_data.h"

namespace zip {
namespace {

/// s(n+1) = s(n) s(n-1): every position repeats at several distances with ever longer
/// matches, and the longest are far.
std::vector<uint8_t> FibonacciWord(size_t n) {
    std::string a = "a", b = "ab";
    while (b.size() < n) a = std::exchange(b, b + a);
    return std::vector<uint8_t>(b.begin(), b.begin() + n);
}

std::vector<std::pair<std::string, std::vector<uint8_t>>> Cases() {
    std::vector<std::pair<std::string, std::vector<uint8_t>>> all;
    all.emplace_back("empty", std::vector<uint8_t>{});
    all.emplace_back("one byte", std::vector<uint8_t>{'x'});
    all.emplace_back("three equal bytes", std::vector<uint8_t>(3, 'a'));
    all.emplace_back("one repeat", std::vector<uint8_t>{'a', 'b', 'c', 'a', 'b', 'c', 'd'});
    all.emplace_back("noise", RandomBytes(100000, 1));
    all.emplace_back("text", Text(150000, 2));
    all.emplace_back("fibonacci word", FibonacciWord(300000));
    // The look-ahead keeps a longest match's bytes ahead; the window slides by 32 KiB.
    for (size_t size : {16383u, 16384u, 16385u, 16384u + 262u, 16384u + 263u, 32768u, 65535u,
                        65536u, 65537u, 98304u + 7u}) {
        all.emplace_back("text of " + std::to_string(size), Text(size, 3));
    }
    // Runs: long ones cross the slide, short ones between text.
    std::vector<uint8_t> runs = Text(1000, 4);
    runs.insert(runs.end(), 200000, 0);
    for (int i = 0; i < 2000; ++i) runs.insert(runs.end(), 1 + (i * 37) % 300, 'a' + i % 3);
    all.emplace_back("runs", runs);
    std::vector<uint8_t> mixed = Text(100000, 5);
    std::vector<uint8_t> noise = RandomBytes(60000, 6);
    mixed.insert(mixed.begin() + 40000, noise.begin(), noise.end());
    mixed.insert(mixed.end(), 70000, 0xFF);
    std::vector<uint8_t> tail = Text(20000, 7);
    mixed.insert(mixed.end(), tail.begin(), tail.end());
    all.emplace_back("text, noise, a run and text", mixed);
    // A period just beyond the farthest distance must never be matched across.
    std::vector<uint8_t> far = RandomBytes(kMaxDist + 1, 8);
    const std::vector<uint8_t> period = far;  // a range of the vector itself may not be inserted
    far.insert(far.end(), period.begin(), period.end());
    all.emplace_back("period beyond the farthest distance", far);
    return all;
}

TEST(DeflateLookahead, StreamsInflateAndTheChoicesRebuildTheInput) {
    auto state = make_deflate_state();
    Trace trace;
    for (const auto& [name, data] : Cases()) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(RoundTrips(*state, data, kLookaheadLevel, trace));
        if (name == "period beyond the farthest distance") {
            // Only the noise's chance repeats match: nearly every byte is a literal.
            EXPECT_GT(trace.size(), data.size() * 99 / 100);
        }
    }
}

TEST(DeflateLookahead, NoLargerThanTheLazyParserOnRepetitiveData) {
    auto state = make_deflate_state();
    std::vector<uint8_t> source;
    for (int i = 0; source.size() < 300000; ++i) {
        std::string line = "    if (count[" + std::to_string(i % 97) +
                           "] > limit) total += " + std::to_string(i * 7 % 1000) + ";\n";
        source.insert(source.end(), line.begin(), line.end());
    }
    // Text of few distinct words crowds the search with equal prefixes; there the parser
    // weighs its choices by estimated costs, which may miss by a few bytes in a thousand.
    // The Fibonacci word repeats 258 bytes and more at far distances, which a bounded search
    // can miss: there a hundredth more than the lazy parser's long chains is allowed.
    struct Case {
        const char* name;
        std::vector<uint8_t> data;
        size_t slack_permille;
    };
    const Case cases[] = {
        {"text", Text(300000, 9), 3},
        {"source lines", source, 0},
        {"small text", Text(3000, 10), 3},
        {"fibonacci word", FibonacciWord(200000), 10},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> lazy, ahead;
        ASSERT_EQ(deflate_buffer(*state, c.data, 8, false, lazy).result, 0);
        ASSERT_EQ(deflate_buffer(*state, c.data, kLookaheadLevel, false, ahead).result, 0);
        EXPECT_LE(ahead.size(), lazy.size() + lazy.size() * c.slack_permille / 1000) << c.name;
    }
}

// Where a short match starts one or two bytes before a much longer one, the parser sends
// those bytes as literals and takes the long match when that costs fewer bits: two literals
// are worth it only to avoid a far match. Where the later match is no longer, it keeps the
// one in hand.
TEST(DeflateLookahead, ALongerMatchOneOrTwoBytesOnWinsOverTheOneInHand) {
    const std::string tail = "RSTUVWXYZ0123456789";
    struct Case {
        const char* name;
        std::string first;  // then `gap` bytes of noise, then `second`
        size_t gap;
        std::string second;
        std::string last;
        Trace last_symbols;  // distance 0: a literal; else any distance, with the length
    };
    const Case cases[] = {
        {"one on", "QRST|", 0, tail, "Q" + tail, {{0, 'Q'}, {1, 19}}},
        {"two on, far", "PQRS|", 20000, tail, "PQ" + tail, {{0, 'P'}, {0, 'Q'}, {1, 19}}},
        {"two on, near", "PQRS|", 0, tail, "PQ" + tail, {{1, 4}, {1, 17}}},
        {"none longer", "PQRSTUVWXYZ|", 0, tail.substr(0, 5), "PQRSTUVWXYZ", {{1, 11}}},
    };
    auto state = make_deflate_state();
    Trace trace;
    state->trace = &trace;
    for (const Case& c : cases) {
        // (Position 0 ends the hash chains: the earlier strings start after it.)
        std::vector<uint8_t> data = {'<'};
        data.insert(data.end(), c.first.begin(), c.first.end());
        std::vector<uint8_t> noise = RandomBytes(c.gap, 17);
        data.insert(data.end(), noise.begin(), noise.end());
        const std::string rest = c.second + "#abcdefghijklmnopqrstuvwxyz#" + c.last;
        data.insert(data.end(), rest.begin(), rest.end());
        std::vector<uint8_t> out, back;
        trace.clear();
        ASSERT_EQ(deflate_buffer(*state, data, kLookaheadLevel, false, out).result, 0);
        ASSERT_TRUE(OwnInflate(out, back));
        EXPECT_TRUE(back == data) << c.name;
        ASSERT_GE(trace.size(), c.last_symbols.size()) << c.name;
        Trace last(trace.end() - static_cast<std::ptrdiff_t>(c.last_symbols.size()), trace.end());
        for (size_t i = 0; i < last.size(); ++i) {
            if (c.last_symbols[i].first == 0) {
                EXPECT_EQ(last[i], c.last_symbols[i]) << c.name << " " << i;
            } else {
                EXPECT_NE(last[i].first, 0u) << c.name << " " << i;
                EXPECT_EQ(last[i].second, c.last_symbols[i].second) << c.name << " " << i;
            }
        }
    }
}

// The parser searches deeper where matches are long and many: a member that turns from
// such text to noise and back still inflates, and compresses alike through any pipe.
TEST(DeflateLookahead, MembersThatChangeCharacterRoundTrip) {
    std::vector<uint8_t> data = Text(90000, 14);
    std::vector<uint8_t> noise = RandomBytes(70000, 15);
    data.insert(data.end(), noise.begin(), noise.end());
    std::vector<uint8_t> fib = FibonacciWord(50000);
    data.insert(data.end(), fib.begin(), fib.end());
    std::vector<uint8_t> more = Text(40000, 16);
    data.insert(data.end(), more.begin(), more.end());
    auto state = make_deflate_state();
    std::vector<uint8_t> out, back;
    ASSERT_EQ(deflate_buffer(*state, data, kLookaheadLevel, false, out).result, 0);
    ASSERT_TRUE(OwnInflate(out, back));
    EXPECT_TRUE(back == data);
    std::vector<uint8_t> lazy;
    ASSERT_EQ(deflate_buffer(*state, data, 8, false, lazy).result, 0);
    EXPECT_LE(out.size(), lazy.size() + lazy.size() / 100);
}

/// Hands out at most `chunk` bytes per read and fails once `fail_at` bytes were read.
struct PipeInput final : DeflateInput {
    std::span<const uint8_t> data;
    size_t chunk = 1;
    size_t given = 0;
    size_t fail_at = SIZE_MAX;
    int64_t Read(std::span<uint8_t> out) override {
        if (given >= fail_at) return -1;
        size_t n = std::min({out.size(), data.size(), chunk, fail_at - given});
        std::copy_n(data.begin(), n, out.begin());
        data = data.subspan(n);
        given += n;
        return static_cast<int64_t>(n);
    }
};

DeflateResult Compress(DeflateState& s, PipeInput& in, VectorSink& out) {
    uint16_t attr = kAttrUnknown, method = kMethodDeflated, flags = 0;
    init_bit_writer(s, &out, &in);
    init_trees(s, &attr, &method);
    EXPECT_EQ(init_matcher(s, kLookaheadLevel, &flags), 0);
    return deflate_member(s);
}

// Members compress alike however their bytes arrive and whatever the state did before, so
// that archives do not depend on pipes or on which thread took which member.
TEST(DeflateLookahead, OutputDependsOnlyOnTheInput) {
    std::vector<uint8_t> data = Text(120000, 11);
    std::vector<uint8_t> noise = RandomBytes(30000, 12);
    data.insert(data.begin() + 50000, noise.begin(), noise.end());
    auto fresh = make_deflate_state();
    std::vector<uint8_t> whole;
    ASSERT_EQ(deflate_buffer(*fresh, data, kLookaheadLevel, false, whole).result, 0);

    auto used = make_deflate_state();
    std::vector<uint8_t> before;
    deflate_buffer(*used, FibonacciWord(100000), kLookaheadLevel, false, before);
    for (size_t chunk : {size_t{1}, size_t{263}, size_t{40000}}) {
        PipeInput in;
        in.data = data;
        in.chunk = chunk;
        VectorSink out;
        EXPECT_EQ(Compress(*used, in, out).result, 0);
        EXPECT_TRUE(out.bytes == whole) << "chunk " << chunk;
    }
}

TEST(DeflateLookahead, ReadFailureEndsTheMemberWithItsResult) {
    auto state = make_deflate_state();
    std::vector<uint8_t> data = Text(200000, 13);
    for (size_t fail_at : {size_t{0}, size_t{20000}, size_t{100000}}) {
        PipeInput in;
        in.data = data;
        in.chunk = 4096;
        in.fail_at = fail_at;
        VectorSink out;
        EXPECT_EQ(Compress(*state, in, out).result, 11) << fail_at;
    }
}

}  // namespace
}  // namespace zip
