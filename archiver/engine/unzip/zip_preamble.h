// Where the zip data starts in a file that has bytes in front of it (a program, for a
// self-extracting archive): the distance between where the central directory lies and where
// the end record's fields place it.
#pragma once

#include <cstdint>

#include "archiver/engine/unzip/zip_records.h"

namespace engine {

/// True when a central header signature lies at a file position.
bool CentralAt(int fd, int64_t pos);

/// Bytes in front of the zip data, for the end record `end` found at `end_pos`. Writers that
/// prepend a program may or may not have shifted the offsets, and a 64-bit end record and its
/// locator may sit between the directory and the end record; the reading that finds a central
/// header where the directory should start wins. Negative when the fields place the directory
/// before the start of the file.
int64_t FindPreamble(int fd, const EndRecord& end, int64_t end_pos);

}  // namespace engine
