// ZIP: the entry of the zip writing engine. One call adds, updates, freshens, moves into or
// deletes from one archive, reporting through window messages (engine_frame.h).
#pragma once

#include "archiver/engine/zip/zip_run.h"

namespace zip {

/// Runs the command: 0 without doing anything when an engine run is in progress, otherwise 1
/// with the outcome in cmd.result. Never throws.
int ZIP(ZipCommand& cmd);

}  // namespace zip
