#include "platform/dostime.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace platform {
namespace {

// Puts the process in a time zone for one test and restores the old one afterwards.
class ZoneGuard {
public:
    explicit ZoneGuard(const char* zone) {
        if (const char* old = getenv("TZ")) saved_ = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ZoneGuard() {
        if (saved_) {
            setenv("TZ", saved_->c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }

private:
    std::optional<std::string> saved_;
};

time_t Utc(int year, int month, int day, int hour, int minute, int second) {
    struct tm tm {};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    return timegm(&tm);
}

DosDateTime Dos(int year, int month, int day, int hour, int minute, int second) {
    return JoinDos({year, month, day, hour, minute, second});
}

TEST(DosTimeTest, PacksFieldsInTheirBits) {
    EXPECT_EQ(Dos(1980, 1, 1, 0, 0, 0), 0x00210000u);
    const DosDateTime d = Dos(2107, 12, 31, 23, 59, 58);
    EXPECT_EQ(d, (127u << 25) | (12u << 21) | (31u << 16) | (23u << 11) | (59u << 5) | 29u);
    const DosFields f = SplitDos(Dos(1996, 12, 6, 9, 5, 3));
    EXPECT_EQ(f.year, 1996);
    EXPECT_EQ(f.month, 12);
    EXPECT_EQ(f.day, 6);
    EXPECT_EQ(f.hour, 9);
    EXPECT_EQ(f.minute, 5);
    EXPECT_EQ(f.second, 2);  // two-second steps: packing rounds down, TimeToDos rounds up
}

TEST(DosTimeTest, RangeEndsAreFloorsAndCeilingsNotWraps) {
    ZoneGuard zone("UTC0");
    EXPECT_EQ(TimeToDos(Utc(1980, 1, 1, 0, 0, 0)), Dos(1980, 1, 1, 0, 0, 0));
    EXPECT_EQ(DosToTime(Dos(1980, 1, 1, 0, 0, 0)), Utc(1980, 1, 1, 0, 0, 0));
    EXPECT_EQ(TimeToDos(Utc(1979, 12, 31, 23, 59, 58)), Dos(1980, 1, 1, 0, 0, 0));
    EXPECT_EQ(TimeToDos(0), Dos(1980, 1, 1, 0, 0, 0));
    EXPECT_EQ(TimeToDos(-1000000000), Dos(1980, 1, 1, 0, 0, 0));

    const DosDateTime last = Dos(2107, 12, 31, 23, 59, 58);
    EXPECT_EQ(TimeToDos(Utc(2107, 12, 31, 23, 59, 58)), last);
    EXPECT_EQ(TimeToDos(Utc(2107, 12, 31, 23, 59, 59)), last);  // rounds into 2108
    EXPECT_EQ(TimeToDos(Utc(2108, 1, 1, 0, 0, 0)), last);
    EXPECT_EQ(TimeToDos(Utc(3000, 6, 1, 0, 0, 0)), last);
    EXPECT_EQ(TimeToDos(static_cast<time_t>(1) << 62), last);  // beyond any tm year
    EXPECT_EQ(DosToTime(last), Utc(2107, 12, 31, 23, 59, 58));
}

TEST(DosTimeTest, OddSecondsRoundUpAcrossEveryBoundary) {
    ZoneGuard zone("UTC0");
    EXPECT_EQ(TimeToDos(Utc(2021, 5, 5, 12, 0, 58)), Dos(2021, 5, 5, 12, 0, 58));
    EXPECT_EQ(TimeToDos(Utc(2021, 5, 5, 12, 0, 57)), Dos(2021, 5, 5, 12, 0, 58));
    EXPECT_EQ(TimeToDos(Utc(2021, 1, 31, 23, 59, 59)), Dos(2021, 2, 1, 0, 0, 0));
    EXPECT_EQ(TimeToDos(Utc(2020, 12, 31, 23, 59, 59)), Dos(2021, 1, 1, 0, 0, 0));
    EXPECT_EQ(TimeToDos(Utc(2020, 2, 28, 23, 59, 59)), Dos(2020, 2, 29, 0, 0, 0));
    EXPECT_EQ(TimeToDos(Utc(2021, 2, 28, 23, 59, 59)), Dos(2021, 3, 1, 0, 0, 0));
    EXPECT_EQ(TimeToDos(Utc(2000, 2, 28, 23, 59, 59)), Dos(2000, 2, 29, 0, 0, 0));
    EXPECT_EQ(TimeToDos(Utc(2100, 2, 28, 23, 59, 59)), Dos(2100, 3, 1, 0, 0, 0));

    // Converting back gives the time rounded up to an even second.
    for (time_t t = Utc(1980, 1, 1, 0, 0, 0); t < Utc(2100, 1, 1, 0, 0, 0);
         t += 86400 * 97 + 3601) {
        EXPECT_EQ(DosToTime(TimeToDos(t)), t + (t % 2)) << t;
    }
}

TEST(DosTimeTest, ImpossibleFieldsAreRejected) {
    ZoneGuard zone("UTC0");
    EXPECT_EQ(DosToTime(0), -1);  // day 0, month 0
    EXPECT_EQ(DosToTime(Dos(2021, 1, 0, 0, 0, 0)), -1);
    EXPECT_EQ(DosToTime(Dos(2021, 0, 1, 0, 0, 0)), -1);
    EXPECT_EQ(DosToTime(Dos(2021, 13, 1, 0, 0, 0)), -1);
    EXPECT_EQ(DosToTime(Dos(2021, 2, 29, 0, 0, 0)), -1);
    EXPECT_EQ(DosToTime(Dos(2021, 4, 31, 0, 0, 0)), -1);
    EXPECT_EQ(DosToTime(Dos(2021, 1, 1, 24, 0, 0)), -1);
    EXPECT_EQ(DosToTime(Dos(2021, 1, 1, 0, 60, 0)), -1);
    EXPECT_EQ(DosToTime(Dos(2021, 1, 1, 0, 0, 0) | 30), -1);  // 60 seconds
    EXPECT_NE(DosToTime(Dos(2020, 2, 29, 23, 59, 58)), -1);
}

TEST(DosTimeTest, DaylightSavingChangeUsesTheRuleInForceOnThatDate) {
    if (access("/usr/share/zoneinfo/Europe/Berlin", R_OK) != 0) {
        GTEST_SKIP() << "no zoneinfo for Europe/Berlin";
    }
    ZoneGuard zone("Europe/Berlin");
    // Winter is UTC+1, summer UTC+2, whichever season it is now.
    EXPECT_EQ(DosToTime(Dos(2021, 1, 15, 12, 0, 0)), Utc(2021, 1, 15, 11, 0, 0));
    EXPECT_EQ(DosToTime(Dos(2021, 7, 15, 12, 0, 0)), Utc(2021, 7, 15, 10, 0, 0));
    EXPECT_EQ(TimeToDos(Utc(2021, 7, 15, 10, 0, 0)), Dos(2021, 7, 15, 12, 0, 0));

    // Clocks went from 02:00 to 03:00 on 28 March 2021: two seconds apart in real time.
    EXPECT_EQ(DosToTime(Dos(2021, 3, 28, 3, 0, 0)) - DosToTime(Dos(2021, 3, 28, 1, 59, 58)), 2);
    EXPECT_EQ(TimeToDos(Utc(2021, 3, 28, 0, 59, 59)), Dos(2021, 3, 28, 3, 0, 0));
    // And back from 03:00 to 02:00 on 31 October: rounding takes the next real second, so the
    // last summer second becomes the first winter one rather than an hour later.
    EXPECT_EQ(TimeToDos(Utc(2021, 10, 31, 0, 59, 59)), Dos(2021, 10, 31, 2, 0, 0));
    EXPECT_EQ(TimeToDos(Utc(2021, 10, 31, 2, 0, 0)), Dos(2021, 10, 31, 3, 0, 0));
}

}  // namespace
}  // namespace platform
