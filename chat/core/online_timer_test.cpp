#include "chat/core/online_timer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

namespace chat {
namespace {

class OnlineTimerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetOptions();
        OnlineTimer() = {};
    }
    void TearDown() override {
        ResetOptions();
        OnlineTimer() = {};
    }
    static void Count(int h, int m, int s) {
        Options().olth = h;
        Options().oltm = m;
        Options().olts = s;
    }
};

TEST_F(OnlineTimerTest, SecondsCarryIntoMinutesAndHours) {
    struct Case {
        int h, m, s;
        int64_t add;
        const char* count;
        const char* status;
        bool minute_passed;
    };
    const Case cases[] = {
        {0, 0, 0, 1, "00:00:01", "00:00", false},
        {0, 0, 59, 1, "00:01:00", "00:01", true},
        {0, 59, 59, 1, "01:00:00", "01:00", true},
        {1, 2, 3, 3600 + 61, "02:03:04", "02:03", true},
        {0, 0, 10, 0, "00:00:10", "00:00", false},
        // A count stored out of range is put right; a negative one counts from zero.
        {0, 75, 130, 0, "01:17:10", "01:17", false},
        {-5, 0, 0, 5, "00:00:05", "00:00", false},
        {123, 0, 0, 0, "123:00:00", "123:00", false},
        // Far beyond any real count: held, never overflowing.
        {2000000000, 2000000000, 0, 0, "1000000:00:00", "1000000:00", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.count);
        Count(c.h, c.m, c.s);
        EXPECT_EQ(AddOnlineSeconds(Options(), c.add), c.minute_passed);
        EXPECT_EQ(OnlineCount(Options()), c.count);
        EXPECT_EQ(OnlineHoursMinutes(Options()), c.status);
        EXPECT_GE(Options().oltm, 0);
        EXPECT_LT(Options().oltm, 60);
        EXPECT_LT(Options().olts, 60);
    }
}

TEST_F(OnlineTimerTest, TicksCountTheTimeThatPassed) {
    Options().olt = 1;
    StartOnlineCounting(10000);
    EXPECT_FALSE(OnlineTimerTick(11000));
    EXPECT_EQ(OnlineCount(Options()), "00:00:01");
    // A late tick counts everything since the last one; parts of a second carry over.
    OnlineTimerTick(13500);
    EXPECT_EQ(OnlineCount(Options()), "00:00:03");
    OnlineTimerTick(14000);
    EXPECT_EQ(OnlineCount(Options()), "00:00:04");
    EXPECT_TRUE(OnlineTimerTick(14000 + 56000));
    EXPECT_EQ(OnlineCount(Options()), "00:01:00");
    // A clock that goes back counts nothing.
    OnlineTimerTick(5000);
    EXPECT_EQ(OnlineCount(Options()), "00:01:00");

    // Off: nothing counts, and switching it on later starts from that moment, not from the
    // last tick before it was off.
    Options().olt = 0;
    EXPECT_FALSE(OnlineTimerTick(100000));
    Options().olt = 1;
    OnlineTimerTick(500000);
    EXPECT_EQ(OnlineCount(Options()), "00:01:00");
    OnlineTimerTick(501000);
    EXPECT_EQ(OnlineCount(Options()), "00:01:01");

    // The open dialog sees each tick's count.
    std::string shown;
    OnlineTimer().on_count = [&shown](const std::string& count) { shown = count; };
    OnlineTimerTick(502000);
    EXPECT_EQ(shown, "00:01:02");
}

TEST_F(OnlineTimerTest, ConnectionResetsUnlessKeptCounting) {
    struct Case {
        int olt, oltc;
        const char* count_after;
        bool reset_stamped;
    };
    const Case cases[] = {
        {1, 0, "00:00:00", true},   // each connection starts from zero
        {1, 1, "02:03:04", false},  // counting goes on across connections
        {0, 0, "02:03:04", false},  // switched off: left alone
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.olt) + "," + std::to_string(c.oltc));
        OnlineTimer() = {};
        Options().olt = c.olt;
        Options().oltc = c.oltc;
        Count(2, 3, 4);
        OnlineTimerConnected(1000, 86400 * 365);
        EXPECT_EQ(OnlineCount(Options()), c.count_after);
        EXPECT_EQ(!OnlineTimer().lastreset.empty(), c.reset_stamped);
        if (c.olt) {
            OnlineTimerTick(2000);
            EXPECT_NE(OnlineCount(Options()), c.count_after);  // counting from the connection
        }
    }
    EXPECT_EQ(ResetStamp(0).size(), std::string("Thu Jan 01 00:00:00 1970").size());
}

TEST_F(OnlineTimerTest, CountAndLastResetAreSaved) {
    const std::string ini = ::testing::TempDir() + "online-timer.ini";
    std::remove(ini.c_str());
    { std::ofstream(ini) << "[Text]\n; kept\nquit=bye\n"; }
    Options().szINI = ini;
    Options().olt = 1;
    Count(5, 6, 7);
    OnlineTimer().lastreset = "Mon Jan 05 10:00:00 2026";
    ASSERT_TRUE(SaveOnlineTimer());
    ResetOptions();
    OnlineTimer() = {};
    Options().szINI = ini;
    loadini();
    ReadOnlineTimer();
    EXPECT_EQ(Options().olt, 1);
    EXPECT_EQ(OnlineCount(Options()), "05:06:07");
    EXPECT_EQ(OnlineTimer().lastreset, "Mon Jan 05 10:00:00 2026");
    std::ifstream in(ini);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("; kept"), std::string::npos);
    EXPECT_NE(text.find("quit=bye"), std::string::npos);
    std::remove(ini.c_str());
}

}  // namespace
}  // namespace chat
