// The headless front end of borvan32: `-l` lists, `-t` tests and `-e` extracts a zip archive
// (or a tar, gzip, Unix compress or Microsoft Compress file; ARJ, LZH and ARC through their
// programs) without a screen. Status text
// goes to standard output, warnings and errors to standard error; questions take their safe
// answer unless --yes.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "archiver/shell/headless_progress.h"
#include "platform/event_loop.h"

namespace shell {

/// Usage text printed by --help and after a parameter error.
extern const char* const kHeadlessUsage;
/// Notes after the usage lines of --help.
extern const char* const kHeadlessNotes;

/// Checks the kind of an existing archive before the zip writer opens it; false (after saying
/// so on standard error) for a kind other than zip.
bool RefuseOtherKinds(const std::string& archive);

/// The meter of a headless run on standard error, not yet started (ProgressMeter::Start).
std::unique_ptr<ProgressMeter> MakeHeadlessMeter(ProgressMode mode);
/// Starts the meter over `total` bytes, drawing when the mode and standard error want it.
void StartHeadlessMeter(ProgressMeter& meter, ProgressMode mode, uint64_t total);
/// True for the report messages that print a line (the meter must give way to them).
bool IsPrintingMessage(platform::UINT msg);

/// Runs one headless command from the program's arguments (without argv[0]); returns the
/// process exit status: 0 on success, otherwise non-zero (the engine's result when it ran).
int RunHeadless(const std::vector<std::string>& args);

}  // namespace shell
