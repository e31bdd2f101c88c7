// The meter's line and its drawing: what it says, how often it is redrawn, and that every
// drawing can be taken back by what Print and Finish write.
#include "archiver/shell/headless_progress.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <utility>

namespace shell {
namespace {

TEST(ProgressLineTest, SaysPercentBytesRateAndTimeLeft) {
    struct Case {
        uint64_t done, total;
        double seconds;
        const char* want;
    } cases[] = {
        {0, 10 << 20, 0, "  0%  0 B of 10.0 MiB  --/s  --:-- left"},
        {5 << 20, 10 << 20, 2, " 50%  5.0 MiB of 10.0 MiB  2.5 MiB/s  0:02 left"},
        {10 << 20, 10 << 20, 4, "100%  10.0 MiB of 10.0 MiB  2.5 MiB/s  0:00 left"},
        // More work than foreseen never shows past 100.
        {12 << 20, 10 << 20, 4, "100%  12.0 MiB of 10.0 MiB  3.0 MiB/s  0:00 left"},
        {1 << 20, 8000ull << 20, 1, "  0%  1.0 MiB of 7.8 GiB  1.0 MiB/s  2:13:19 left"},
        {1536, 0, 3, "1.5 KiB  512 B/s"},  // no total: no percentage, no time left
    };
    for (const Case& c : cases) EXPECT_EQ(ProgressLine(c.done, c.total, c.seconds), c.want);
}

TEST(ProgressLineTest, ShowsOnATerminalForLargeWorkUnlessForced) {
    struct Case {
        ProgressMode mode;
        uint64_t total;
        bool terminal, want;
    } cases[] = {
        {ProgressMode::kAuto, 100 << 20, true, true},
        {ProgressMode::kAuto, 100 << 20, false, false},
        {ProgressMode::kAuto, 1 << 20, true, false},
        {ProgressMode::kOn, 1, false, true},
        {ProgressMode::kOff, 100 << 20, true, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ProgressWanted(c.mode, c.total, c.terminal), c.want) << c.total;
}

// A meter drawing into a pipe, on a clock the test moves.
class MeterTest : public ::testing::Test {
protected:
    void SetUp() override { Reopen(); }
    void TearDown() override { Close(); }
    void Close() {
        for (int& fd : fds_)
            if (fd >= 0) ::close(std::exchange(fd, -1));
    }
    void Reopen() {
        Close();
        ASSERT_EQ(::pipe(fds_), 0);
    }
    std::unique_ptr<ProgressMeter> Make(bool forced, unsigned width = 0) {
        return std::make_unique<ProgressMeter>(
            fds_[1], forced, width, [this] { return done_; }, [this] { return now_; });
    }
    std::string Drained() {
        ::close(std::exchange(fds_[1], -1));
        std::string all;
        char buf[4096];
        ssize_t n;
        while ((n = ::read(fds_[0], buf, sizeof buf)) > 0) all.append(buf, static_cast<size_t>(n));
        return all;
    }
    int fds_[2] = {-1, -1};
    double now_ = 100;
    uint64_t done_ = 0;
};

TEST_F(MeterTest, RedrawsAtMostFourTimesASecondAndClearsBeforeOtherLines) {
    auto meter = Make(false);
    meter->Start(1000, true);
    for (int step = 1; step <= 16; ++step) {  // ticks every 1/16 s over one second
        now_ += 0.0625;
        done_ = static_cast<uint64_t>(step) * 1000 / 16;
        meter->Tick();
    }
    meter->Print([] {});
    meter->Finish(true);
    meter.reset();
    // Drawn at 0.25, 0.5, 0.75 and 1 s; taken away for the line printed; the final state
    // once more, then taken away for good.
    std::string drawn[] = {
        " 25%  250 B of 1000 B  --/s  --:-- left",
        " 50%  500 B of 1000 B  1000 B/s  0:01 left",
        " 75%  750 B of 1000 B  1000 B/s  0:00 left",
        "100%  1000 B of 1000 B  1000 B/s  0:00 left",
    };
    auto clear = [](size_t n) { return "\r" + std::string(n, ' ') + "\r"; };
    std::string want;
    for (const std::string& line : drawn) want += "\r" + line;
    want += clear(drawn[3].size()) + "\r" + drawn[3] + clear(drawn[3].size());
    EXPECT_EQ(Drained(), want);
}

TEST_F(MeterTest, AQuickRunShowsNothingUnlessForced) {
    for (bool forced : {false, true}) {
        SCOPED_TRACE(forced);
        Reopen();
        done_ = 0;
        auto meter = Make(forced);
        meter->Start(1000, true);
        now_ += 0.1;
        done_ = 1000;
        meter->Tick();
        meter->Finish(true);
        meter.reset();
        std::string out = Drained();
        if (!forced) {
            EXPECT_EQ(out, "");
            continue;
        }
        // The start, the final state, and the clearing.
        EXPECT_EQ(out.find("\r  0%"), 0u) << out;
        EXPECT_NE(out.find("\r100%"), std::string::npos) << out;
        EXPECT_EQ(out.substr(out.size() - 2), " \r");
    }
}

TEST_F(MeterTest, AFailedRunOnlyClearsAndANarrowTerminalCutsTheLine) {
    auto meter = Make(true, 20);
    meter->Start(1000, true);
    done_ = 300;
    meter->Finish(false);
    meter.reset();
    EXPECT_EQ(Drained(), "\r  0%  0 B of 1000 B\r" + std::string(19, ' ') + "\r");
}

}  // namespace
}  // namespace shell
