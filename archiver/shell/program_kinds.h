// ARJ, LZH and ARC archives outside the window: self-extracting programs that hold one, and
// the headless add-family and delete commands that go to their archivers.
#pragma once

#include <optional>
#include <string>

#include "archiver/engine/zip/zip.h"
#include "archiver/formats/archive_kind.h"
#include "archiver/programs/programs.h"

namespace shell {

/// For a ".exe" that is no zip archive: the ARJ or LZH archive behind its program part, with
/// the question the zip reader asks about such a file in `question` (whether to run it); the
/// caller lists the archive when the answer is No. kKindUnknown when there is none.
formats::ArchiveKind ProgramKindBehindExe(const std::string& path, std::string& question);

/// Runs an operation through the configured archiver without a screen: its output on
/// standard output, the message on standard output (success) or error; the exit status.
int RunProgramOperationHeadless(const programs::OperationRequest& request);

/// The headless add-family or delete command on an ARJ or LZH archive (an existing one, or a
/// new one named ".arj" or ".lzh"), run through the configured archiver; the process exit
/// status. Nothing when the archive is of another kind (the zip writer takes it).
std::optional<int> RunProgramKindChange(const zip::ZipCommand& cmd);

}  // namespace shell
