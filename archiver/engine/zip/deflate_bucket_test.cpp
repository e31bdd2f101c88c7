#include "archiver/engine/zip/deflate_bucket.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "archiver/engine/zip/deflate.h"
#include "archiver/engine/zip/deflate_test_data.h"

namespace zip {
namespace {

TEST(DeflateBucket, StreamsInflateAcrossWindowSlidesAndAtTheFarthestDistance) {
    std::vector<std::pair<std::string, std::vector<uint8_t>>> cases;
    cases.emplace_back("empty", std::vector<uint8_t>{});
    cases.emplace_back("four equal bytes", std::vector<uint8_t>(4, 'a'));
    cases.emplace_back("noise", RandomBytes(90000, 11));
    // The table's positions move down by 32 KiB at each slide.
    for (size_t size : {32767u, 32768u, 32769u, 65536u + 300u, 200000u}) {
        cases.emplace_back("text of " + std::to_string(size), Text(size, 12));
    }
    std::vector<uint8_t> runs = Text(5000, 13);
    runs.insert(runs.end(), 100000, 0);
    for (int i = 0; i < 3000; ++i) runs.insert(runs.end(), 1 + (i * 41) % 280, 'a' + i % 5);
    cases.emplace_back("runs", runs);
    // A period of exactly the farthest distance matches; one byte more never does.
    for (uint32_t period : {kMaxDist, kMaxDist + 1}) {
        const std::vector<uint8_t> once = RandomBytes(period, 14);
        std::vector<uint8_t> v = once;
        v.insert(v.end(), once.begin(), once.end());
        cases.emplace_back("period " + std::to_string(period), v);
    }
    auto state = make_deflate_state();
    Trace trace;
    for (const auto& [name, data] : cases) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(RoundTrips(*state, data, kBucketLevel, trace));
        if (name.starts_with("period")) {
            // The repeat is one match after another at the period, or all literals beyond it.
            size_t matched = 0;
            for (auto [dist, len] : trace) {
                if (dist == kMaxDist) matched += len;
            }
            EXPECT_EQ(matched > data.size() / 3, name == "period " + std::to_string(kMaxDist));
        }
    }
}

TEST(DeflateBucket, TheOlderOfTwoEarlierStringsIsTakenWhenItMatchesLonger) {
    // "key=value;" ... "key=v#" ... "key=value;": of the two earlier strings with the same
    // first four bytes, the older one gives the longer match.
    std::vector<uint8_t> noise = RandomBytes(200, 15);
    std::string text = "#key=value;";
    text.append(noise.begin(), noise.begin() + 100);
    text += "key=v#";
    text.append(noise.begin() + 100, noise.end());
    const size_t last = text.size();
    text += "key=value;";
    const std::vector<uint8_t> v(text.begin(), text.end());
    auto state = make_deflate_state();
    Trace trace;
    ASSERT_TRUE(RoundTrips(*state, v, kBucketLevel, trace));
    ASSERT_FALSE(trace.empty());
    EXPECT_EQ(trace.back(), std::make_pair(static_cast<uint32_t>(last - 1), 10u));
}

}  // namespace
}  // namespace zip
