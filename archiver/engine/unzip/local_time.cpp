#include "archiver/engine/unzip/local_time.h"

namespace engine {

time_t LocalTimes::Convert(platform::DosDateTime dos) {
    const platform::DosFields f = platform::SplitDos(dos);
    if (f.minute > 59 || f.second > 58) return -1;
    const uint32_t key = dos >> 11;
    if (key != hour_key_) {
        hour_key_ = key;
        hour_start_ = platform::DosToTime(key << 11);
    }
    if (hour_start_ == -1) return -1;
    // Within one hour the clock moves with real time, unless the zone changes its offset in
    // that hour: a result that does not read back as the same fields is asked for directly.
    time_t t = hour_start_ + f.minute * 60 + f.second;
    struct tm tm {};
    if (localtime_r(&t, &tm) == nullptr || tm.tm_year + 1900 != f.year ||
        tm.tm_mon + 1 != f.month || tm.tm_mday != f.day || tm.tm_hour != f.hour ||
        tm.tm_min != f.minute || tm.tm_sec != f.second)
        return platform::DosToTime(dos);
    return t;
}

}  // namespace engine
