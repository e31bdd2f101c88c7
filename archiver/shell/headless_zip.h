// The headless front end's zip-writing commands: `-a` add, `-f` freshen, `-u` update and
// `-m` move with `-r`, `-p` and `-e` + compression letter, and `-d` to delete members, each
// run through the ZIP engine without a screen.
#pragma once

#include <string>
#include <vector>

namespace shell {

/// Usage lines of the zip-writing commands (for the headless usage text).
extern const char* const kHeadlessZipUsage;

/// True when the arguments (without argv[0]) ask for a zip-writing command: the first
/// argument that is not a `--` option is `-a`, `-f`, `-u`, `-m` or `-d`.
bool IsHeadlessZipCommand(const std::vector<std::string>& args);

/// Runs a zip-writing command; returns the exit status: 0 on success, the engine's result
/// code when it failed, 2 for a parameter error.
int RunHeadlessZip(const std::vector<std::string>& args);

}  // namespace shell
