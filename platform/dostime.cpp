// MS-DOS date and time words and time_t, through local time.
#include "platform/dostime.h"

#include <limits>

namespace platform {
namespace {

constexpr int kDosFirstYear = 1980;
constexpr int kDosLastYear = kDosFirstYear + 127;

bool IsLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

}  // namespace

DosDateTime JoinDos(const DosFields& f) {
    if (f.year < kDosFirstYear) return JoinDos({kDosFirstYear, 1, 1, 0, 0, 0});
    if (f.year > kDosLastYear) return JoinDos({kDosLastYear, 12, 31, 23, 59, 58});
    return static_cast<DosDateTime>(f.year - kDosFirstYear) << 25 |
           static_cast<DosDateTime>(f.month) << 21 | static_cast<DosDateTime>(f.day) << 16 |
           static_cast<DosDateTime>(f.hour) << 11 | static_cast<DosDateTime>(f.minute) << 5 |
           static_cast<DosDateTime>(f.second) >> 1;
}

DosDateTime TimeToDos(time_t t) {
    struct tm tm {};
    if (localtime_r(&t, &tm) == nullptr) {
        // Only times whose year does not fit an int fail to convert: clamp them to the end
        // of the range they lie beyond.
        return JoinDos({t < 0 ? kDosFirstYear - 1 : kDosLastYear + 1, 1, 1, 0, 0, 0});
    }
    // The word holds seconds / 2: an odd second (or a leap second) is rounded up by taking
    // the next second of real time, which lands on a local time that exists even when the
    // clocks change at that moment.
    if (tm.tm_sec % 2 != 0 || tm.tm_sec > 59) {
        const time_t next = t + 1;
        if (t == std::numeric_limits<time_t>::max() || localtime_r(&next, &tm) == nullptr) {
            return JoinDos({kDosLastYear + 1, 1, 1, 0, 0, 0});
        }
    }
    return JoinDos({tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                    tm.tm_sec > 59 ? 58 : tm.tm_sec});
}

time_t DosToTime(DosDateTime dos) {
    const DosFields f = SplitDos(dos);
    if (f.month < 1 || f.month > 12 || f.day < 1 || f.day > DaysInMonth(f.year, f.month) ||
        f.hour > 23 || f.minute > 59 || f.second > 58) {
        return -1;
    }
    struct tm tm {};
    tm.tm_year = f.year - 1900;
    tm.tm_mon = f.month - 1;
    tm.tm_mday = f.day;
    tm.tm_hour = f.hour;
    tm.tm_min = f.minute;
    tm.tm_sec = f.second;
    tm.tm_isdst = -1;  // let the zone rules decide whether summer time was in force
    return mktime(&tm);
}

DosFields SplitDos(DosDateTime dos) {
    return DosFields{
        static_cast<int>(dos >> 25) + kDosFirstYear, static_cast<int>((dos >> 21) & 0x0F),
        static_cast<int>((dos >> 16) & 0x1F),        static_cast<int>((dos >> 11) & 0x1F),
        static_cast<int>((dos >> 5) & 0x3F),         static_cast<int>(dos & 0x1F) * 2,
    };
}

}  // namespace platform
