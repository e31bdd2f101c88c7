// The virus scan: the archive's members extracted into a private folder, the configured
// scanner run over it from its parameter template, and the folder removed afterwards.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "archiver/programs/locations.h"

namespace programs {

/// The scanner's arguments from its template: blank-separated words in which "*.*" (the
/// folder, with a trailing "/" except for the MSAV family), "%d" (the folder), "%f" (a new
/// report file) and "%wscan" ("/LOAD" and a new list file naming the folder) are replaced;
/// the folder is appended when the template holds none of them. Files made are listed in
/// `made` (the caller removes them). False with the message in `error` when a file cannot
/// be made.
bool BuildScanArguments(const std::string& program, const std::string& scan_template,
                        const std::string& folder, std::vector<std::string>& argv,
                        std::vector<std::string>& made, std::string& error);

/// Extracts the open archive's members into `folder`; false with the message in `error`.
using ExtractAll = std::function<bool(const std::string& folder, std::string& error)>;

/// How a scan ended.
struct ScanOutcome {
    bool ran = false;        ///< the scanner was started
    bool completed = false;  ///< it scanned: exit code 0 (clean) or 1 (something found)
    int exit_code = 0;       ///< the scanner's exit code (clamscan: 1 when something was found)
    std::string output;      ///< the scanner's output, for the operation log
    std::string message;     ///< what to tell the user
};

/// Message shown when the scan has ended.
inline constexpr const char* kScanComplete = "Virus scanning operation complete.";
/// Begins the message for a scanner that scanned nothing (no signatures, an error, a crash).
inline constexpr const char* kScanDidNotRun = "The virus scanner failed: the scan did not run.";

/// What to tell the user after the scanner ended: complete (with the findings named when
/// the exit code is 1), or that the scan did not run with the scanner's own reason (an exit
/// code above 1, a signal, or no signatures loaded). Paths inside `folder` are shown without
/// it. False in `completed` when the scan did not run.
std::string ScanResultMessage(int exit_code, int signal, const std::string& output,
                              const std::string& folder, bool& completed);

/// Runs the scan: a private folder (0700), `extract` into it, the scanner, and the folder
/// removed without following links, however the scan ended.
ScanOutcome RunVirusScan(const ProgramLocations& locations, const ExtractAll& extract);

}  // namespace programs
