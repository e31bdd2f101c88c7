// ARJ, LZH and ARC archives in the window: their listing as rows, and extracting, adding and
// deleting through the configured external programs.
#pragma once

#include <string>
#include <vector>

#include "archiver/formats/archive_kind.h"
#include "archiver/programs/programs.h"
#include "archiver/shell/listing.h"

namespace window {

/// Lists an ARJ, LZH or ARC archive into a fresh listing; false with the reader's message
/// (the rows read before a damaged header stay).
bool LoadProgramKindListing(formats::ArchiveKind kind, const std::string& path,
                            shell::SortOrder sort, shell::Listing& listing, std::string& error);

/// While it lives, an outside program that runs is stopped by the window's stop (a key or a
/// click answered Yes to "Stop the current operation?").
class ProgramStopScope {
public:
    ProgramStopScope();
    ~ProgramStopScope();
    ProgramStopScope(const ProgramStopScope&) = delete;
    ProgramStopScope& operator=(const ProgramStopScope&) = delete;

private:
    programs::StopCheck previous_;
};

/// Runs one operation of the external program for the open archive, with the window busy,
/// and shows what it had to say; the program's output becomes the operation log.
programs::OperationOutcome RunProgramOperation(programs::OperationRequest request);

}  // namespace window
