#include "platform/tui/frame_pacer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace tui {
namespace {

constexpr uint64_t kBudget = 40;

// Plays the screen's part against a fake clock: every millisecond from `start` to `end` the
// changes of that millisecond arrive, then a frame is drawn if the pacer says it is due (the
// posted redraw or the timer). Returns the times frames were drawn.
std::vector<uint64_t> Simulate(FramePacer& pacer, uint64_t start, uint64_t end,
                               const std::vector<uint64_t>& changes,
                               const std::vector<uint64_t>& keys = {}) {
    std::vector<uint64_t> frames;
    for (uint64_t now = start; now <= end; ++now) {
        for (uint64_t t : changes) {
            if (t == now) pacer.Change();
        }
        for (uint64_t t : keys) {
            if (t == now) pacer.Change(true);
        }
        if (pacer.Due(now)) {
            pacer.Drawn(now);
            frames.push_back(now);
        }
    }
    return frames;
}

TEST(FramePacer, FloodIsDrawnWithinTheBudgetAndItsLastChangeIsShown) {
    struct Case {
        const char* name;
        uint64_t every_ms;  // a change every this many ms from 1000 to 1999
    };
    const Case cases[] = {{"every ms", 1}, {"every 7 ms", 7}, {"every 39 ms", 39}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FramePacer pacer(kBudget);
        std::vector<uint64_t> changes;
        for (uint64_t t = 1000; t < 2000; t += c.every_ms) changes.push_back(t);
        const std::vector<uint64_t> frames = Simulate(pacer, 1000, 3000, changes);
        ASSERT_FALSE(frames.empty());
        EXPECT_EQ(frames.front(), 1000u);  // the first change is drawn at once
        for (size_t i = 1; i < frames.size(); ++i) {
            EXPECT_GE(frames[i] - frames[i - 1], kBudget) << "frame " << i;
        }
        // While changes keep coming no change waits longer than one budget.
        for (uint64_t t : changes) {
            bool shown = false;
            for (uint64_t f : frames) shown = shown || (f >= t && f <= t + kBudget);
            EXPECT_TRUE(shown) << "change at " << t;
        }
        EXPECT_LE(frames.size(), 1000 / kBudget + 2);
        EXPECT_FALSE(pacer.Pending());
    }
}

TEST(FramePacer, TheWaitTellsWhenTheFrameIsDue) {
    struct Case {
        const char* name;
        bool drawn_before;  // a frame at 1000
        bool change;
        bool urgent;
        uint64_t now;
        int wait;
    };
    const Case cases[] = {
        {"nothing changed", true, false, false, 1010, -1},
        {"first frame ever", false, true, false, 5, 0},
        {"inside the budget", true, true, false, 1010, 30},
        {"right after a frame", true, true, false, 1000, 40},
        {"budget just over", true, true, false, 1040, 0},
        {"after a quiet spell", true, true, false, 9000, 0},
        {"a key inside the budget", true, true, true, 1001, 0},
        {"clock went back", true, true, false, 900, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FramePacer pacer(kBudget);
        if (c.drawn_before) {
            pacer.Change();
            pacer.Drawn(1000);
        }
        if (c.change) pacer.Change(c.urgent);
        EXPECT_EQ(pacer.WaitMs(c.now), c.wait);
        EXPECT_EQ(pacer.Due(c.now), c.wait == 0);
        EXPECT_EQ(pacer.Pending(), c.change);
    }
}

TEST(FramePacer, KeysDrawAtOnceInAFloodAndLeaveTheSpacingToLaterFrames) {
    FramePacer pacer(kBudget);
    std::vector<uint64_t> changes;
    for (uint64_t t = 0; t < 400; ++t) changes.push_back(t);
    const std::vector<uint64_t> keys = {13, 14, 101, 250};
    const std::vector<uint64_t> frames = Simulate(pacer, 0, 600, changes, keys);
    for (uint64_t k : keys) {
        EXPECT_NE(std::find(frames.begin(), frames.end(), k), frames.end()) << "key at " << k;
    }
    // A frame for a key restarts the budget: the flood's next frame is a budget later.
    const auto after = std::find(frames.begin(), frames.end(), 101u);
    ASSERT_NE(after + 1, frames.end());
    EXPECT_EQ(*(after + 1), 101u + kBudget);
    EXPECT_LE(frames.back(), 399u + kBudget);
    EXPECT_FALSE(pacer.Pending());
}

TEST(FramePacer, AnUrgentRequestIsServedOnceThenPacingResumes) {
    FramePacer pacer(kBudget);
    pacer.Change(true);
    pacer.Drawn(100);
    pacer.Change();
    EXPECT_EQ(pacer.WaitMs(101), 39);  // the key's urgency does not carry over
    pacer.Drawn(140);
    EXPECT_FALSE(pacer.Due(141));  // nothing new
}

}  // namespace
}  // namespace tui
