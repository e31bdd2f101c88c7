#include "archiver/engine/unzip/local_time.h"

namespace engine {

namespace {
constexpr size_t kMaxHours = 4096;
}  // namespace

time_t LocalTimes::Convert(platform::DosDateTime dos) {
    const platform::DosFields f = platform::SplitDos(dos);
    if (f.minute > 59 || f.second > 58) return -1;
    const uint32_t key = dos >> 11;
    auto found = hour_starts_.find(key);
    if (found == hour_starts_.end()) {
        if (hour_starts_.size() >= kMaxHours) hour_starts_.clear();
        found = hour_starts_.emplace(key, platform::DosToTime(key << 11)).first;
    }
    const time_t hour_start = found->second;
    if (hour_start == -1) return -1;
    // Within one hour the clock moves with real time, unless the zone changes its offset in
    // that hour: a result that does not read back as the same fields is asked for directly.
    time_t t = hour_start + f.minute * 60 + f.second;
    struct tm tm {};
    if (localtime_r(&t, &tm) == nullptr || tm.tm_year + 1900 != f.year ||
        tm.tm_mon + 1 != f.month || tm.tm_mday != f.day || tm.tm_hour != f.hour ||
        tm.tm_min != f.minute || tm.tm_sec != f.second)
        return platform::DosToTime(dos);
    return t;
}

}  // namespace engine
