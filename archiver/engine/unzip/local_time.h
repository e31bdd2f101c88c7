// MS-DOS member times to time_t for a whole run. The C library's conversion from local time
// looks at the zone file again on every call (a system call per member); a run converts
// thousands of times that mostly share their hour, so one conversion per hour serves them.
#pragma once

#include <cstdint>
#include <ctime>
#include <unordered_map>

#include "platform/dostime.h"

namespace engine {

/// Converts MS-DOS date and time words (local time) as platform::DosToTime does.
class LocalTimes {
public:
    /// The time, -1 when the fields are impossible.
    time_t Convert(platform::DosDateTime dos);

private:
    // First second of each hour met so far, by the date and hour bits (members of one archive
    // come from a few hundred hours at most; the table is emptied when it grows large).
    std::unordered_map<uint32_t, time_t> hour_starts_;
};

}  // namespace engine
