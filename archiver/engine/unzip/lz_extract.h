// The run for a Microsoft Compress file (SZDD or KWAJ): the file is expanded through the LZ
// expander and its size checked against the size its header states.
#pragma once

#include <string>

#include "archiver/engine/unzip/unzip.h"

namespace engine {

/// Tests or extracts the file open on `fd`; ends early through EndRun.
void ExtractMsCompress(const UnzipCommand& cmd, int fd, bool short_names);

}  // namespace engine
