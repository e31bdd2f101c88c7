// Starting programs from an argument vector and learning when they end.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "platform/event_loop.h"

namespace platform {

/// How a program is started. Redirection paths are taken relative to our own folder; a
/// relative program path (one with a '/') relative to working_dir, where the program runs.
struct ProcessOptions {
    std::string working_dir;  ///< empty: the current folder
    std::string stdin_path;   ///< empty: inherited
    std::string stdout_path;  ///< empty: inherited; output goes here (created, truncated)
    bool stderr_to_stdout = false;
    /// The child leads a process group of its own, so that the caller can end it with all
    /// the programs it started, and a terminal's Ctrl+C reaches only the caller.
    bool own_process_group = false;
};

/// Starts argv[0] (searched in PATH) with argv; never through a shell. Returns the pid, or -1
/// with errno set when the program could not be started (not found, not executable, a
/// redirection that cannot be opened). The child gets SIGPIPE at its default and no blocked
/// signals.
pid_t StartProcess(const std::vector<std::string>& argv, const ProcessOptions& options = {});
/// Waits for a started program; returns its exit status (128 + signal when killed), -1 on error.
int WaitProcess(pid_t pid);
/// Starts a thread that waits for pid and posts msg to hwnd with wParam = pid and lParam = the
/// exit status, exactly once.
bool WatchProcess(pid_t pid, HWND hwnd, UINT msg);
/// Runs a program and waits: the exit status, or -1 when it could not be started.
int RunProcess(const std::vector<std::string>& argv, const ProcessOptions& options = {});

}  // namespace platform
