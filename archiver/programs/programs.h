// What the archive manager's windows and its headless front end call to work on ARJ, LZH and
// ARC archives through the configured programs, to run the virus scanner over an archive,
// and to check an archive out into a folder and a group of launchers.
//
// RunArchiveOperation: test or extract (any of the three kinds), add to or delete from (ARJ,
// LZH) an archive; the program's output is kept for "View Last Output" (LastOutput()).
// RunVirusScan (virus_scan.h): extracts into a private folder, runs the scanner, removes the
// folder. CheckOut (checkout.h): CheckCheckOutChoices, PrepareCheckOutFolder,
// BuildCheckOutGroup and DeleteCheckOut.
#pragma once

#include <string>
#include <vector>

#include "archiver/formats/archive_kind.h"
#include "archiver/programs/checkout.h"
#include "archiver/programs/debian_commands.h"
#include "archiver/programs/locations.h"
#include "archiver/programs/runner.h"
#include "archiver/programs/virus_scan.h"

namespace programs {

/// For the Password dialog's help: ARJ takes the password as a command-line argument.
inline constexpr const char* kCommandLinePasswordNote =
    "A password for an ARJ archive is passed to ARJ on its command line, where other users of "
    "this computer can see it while ARJ runs.";

/// One operation on an ARJ, LZH or ARC archive.
struct OperationRequest {
    formats::ArchiveKind kind = formats::kKindUnknown;
    Operation op = Operation::kExtract;
    /// Archive, members and choices; `args.program` is filled from the locations. For an
    /// extraction `args.files` empty means every member.
    ArgvInputs args;
    /// The folder an extraction writes into; the folder an add takes its paths from.
    std::string folder;
    /// Every member name of the archive's listing (an extraction refuses names that lead out
    /// of the target folder).
    std::vector<std::string> member_names;
};

/// How an operation ended.
struct OperationOutcome {
    bool ran = false;      ///< a program was started
    bool ok = false;       ///< every program ended with exit code 0
    bool stopped = false;  ///< a stop was asked (a signal, the window's stop) and it ended
    int exit_code = 0;     ///< the last program's exit code
    bool kept = false;     ///< all went well but files already there were kept (a warning)
    std::string message;   ///< what to show the user; empty when there is nothing to say
};

/// Runs the operation through the configured program and waits for it.
OperationOutcome RunArchiveOperation(const OperationRequest& request,
                                     const ProgramLocations& locations);

/// Extracts every member of an ARJ, LZH or ARC archive into `folder` (folder names kept,
/// existing files replaced); false with the message in `error`.
bool ExtractAllWithProgram(formats::ArchiveKind kind, const std::string& archive,
                           const std::string& folder, const ProgramLocations& locations,
                           std::string& error);

/// True when a stored member name would be written outside the folder it is extracted into
/// (an absolute path, a drive prefix or a ".." component).
bool NameLeavesFolder(const std::string& name);

}  // namespace programs
