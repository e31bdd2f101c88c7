// MS-DOS member times to time_t for a whole run. The C library's conversion from local time
// looks at the zone file again on every call (a system call per member); a run converts
// thousands of times that mostly share their hour, so one conversion per hour serves them.
#pragma once

#include <cstdint>
#include <ctime>

#include "platform/dostime.h"

namespace engine {

/// Converts MS-DOS date and time words (local time) as platform::DosToTime does.
class LocalTimes {
public:
    /// The time, -1 when the fields are impossible.
    time_t Convert(platform::DosDateTime dos);

private:
    uint32_t hour_key_ = UINT32_MAX;  // the date and hour bits of the cached hour
    time_t hour_start_ = -1;          // that hour's first second
};

}  // namespace engine
