// MS-DOS date and time words and time_t, through local time.
#pragma once

#include <cstdint>
#include <ctime>

namespace platform {

/// Combined MS-DOS date (high 16 bits) and time (low 16 bits).
using DosDateTime = uint32_t;

/// time_t to MS-DOS date and time in local time; times before 1980 give 1980-01-01 00:00:00,
/// times after 2107 give 2107-12-31 23:59:58; an odd second is rounded up to the next even
/// second.
DosDateTime TimeToDos(time_t t);
/// MS-DOS date and time (local time) to time_t; -1 when the fields are impossible.
time_t DosToTime(DosDateTime dos);
/// The date and time words as "dd-mm-yy" / "hh:mm" style parts are left to callers; these give
/// the fields.
struct DosFields {
    int year, month, day, hour, minute, second;
};
/// Splits the packed value into its fields (year 1980-2107, second always even).
DosFields SplitDos(DosDateTime dos);
/// Packs valid fields (second even or rounded down); a year before 1980 gives 1980-01-01
/// 00:00:00 and a year after 2107 gives 2107-12-31 23:59:58.
DosDateTime JoinDos(const DosFields& fields);

}  // namespace platform
