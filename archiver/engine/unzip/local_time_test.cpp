// The per-hour conversion must give what the direct one gives, in zones with summer time and
// at the hours when the clocks change.
#include "archiver/engine/unzip/local_time.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace engine {
namespace {

// Sets TZ for the scope of a test and restores it.
struct Zone {
    std::string saved;
    bool had;
    explicit Zone(const char* tz) {
        const char* old = std::getenv("TZ");
        had = old != nullptr;
        if (had) saved = old;
        ::setenv("TZ", tz, 1);
        ::tzset();
    }
    ~Zone() {
        if (had)
            ::setenv("TZ", saved.c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }
};

TEST(LocalTimesTest, MatchesTheDirectConversion) {
    // Central European rules (the clocks change at 2:00 and 3:00 local time), one that
    // changes in the middle of an hour, and no summer time at all.
    for (const char* tz :
         {"CET-1CEST,M3.5.0,M10.5.0/3", "XST-1:30XDT-2,M3.2.0/2:30,M11.1.0/1:30", "UTC0"}) {
        SCOPED_TRACE(tz);
        Zone zone(tz);
        LocalTimes times;
        // Days of both changes in 2022 and others, minutes and seconds running up and
        // down so that cached hours are met again.
        for (int month : {1, 3, 10, 11})
            for (int day : {1, 6, 13, 27, 29, 30, 31})
                for (int hour = 0; hour < 24; ++hour)
                    for (int minute : {0, 1, 29, 30, 31, 59})
                        for (int second : {0, 58}) {
                            platform::DosDateTime dos =
                                platform::JoinDos({2022, month, day, hour, minute, second});
                            ASSERT_EQ(times.Convert(dos), platform::DosToTime(dos))
                                << month << "-" << day << " " << hour << ":" << minute << ":"
                                << second;
                        }
        // Impossible fields: month 0 and 13, day 30 of February, hour 24, minute 60, second 60.
        for (platform::DosDateTime bad :
             {platform::DosDateTime{0}, 42u << 25 | 13u << 21 | 1u << 16,
              42u << 25 | 2u << 21 | 30u << 16, 42u << 25 | 1u << 21 | 1u << 16 | 24u << 11,
              42u << 25 | 1u << 21 | 1u << 16 | 60u << 5, 42u << 25 | 1u << 21 | 1u << 16 | 30u}) {
            EXPECT_EQ(times.Convert(bad), -1) << std::hex << bad;
        }
    }
}

}  // namespace
}  // namespace engine
