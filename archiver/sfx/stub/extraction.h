// What the self-extractor does with its archive: lists it, tests it, or writes its members
// below a folder without ever writing outside it.
#pragma once

#include <cstdio>
#include <functional>
#include <optional>
#include <string>

#include "archiver/sfx/appended_archive.h"

namespace sfx {

/// Exit statuses: everything done; something skipped on purpose (a file already there, a
/// member refused as unsafe); something failed.
constexpr int kExitOk = 0;
constexpr int kExitWarning = 1;
constexpr int kExitError = 2;

/// What the user asked for.
struct RunOptions {
    enum class Action { kExtract, kList, kTest } action = Action::kExtract;
    std::string folder = ".";  ///< where members are written
    bool overwrite = false;    ///< replace files already there
};

/// Asks for the password of an encrypted member (named for the prompt); nullopt when it
/// cannot be asked.
using PasswordPrompt = std::function<std::optional<std::string>(const std::string& member)>;

/// Where messages go: progress to `out`, problems to `err`.
struct Reporting {
    FILE* out = stdout;
    FILE* err = stderr;
    PasswordPrompt ask_password;
};

/// Runs the action over the archive of the open file `fd`; the exit status.
int Run(int fd, const AppendedArchive& archive, const RunOptions& options, const Reporting& report);

/// A stored name fit to print: control characters shown as '?'.
std::string Printable(const std::string& name);

/// Removes the temporary file being written, if any (from a signal handler: only
/// async-signal-safe calls).
void RemovePartialFile();

}  // namespace sfx
