// Running an outside program with its output captured (for "View Last Output"), and the
// output of the last one run.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace programs {

/// Most bytes of a program's output kept.
constexpr size_t kMaxCapturedOutput = 1 << 20;

/// Most output a program may write before it is taken for stuck and stopped.
constexpr uint64_t kMaxOutputFile = 64ull << 20;

/// What a run may write before it is stopped.
struct RunLimits {
    std::string watch_folder;       ///< its plain files are counted while the program runs
    uint64_t max_folder_bytes = 0;  ///< the program is stopped when they pass this (0: none)
};

/// How a run ended.
struct RunResult {
    bool started = false;     ///< false: the program could not be started (`error` says why)
    int error = 0;            ///< errno of a failed start
    int exit_code = -1;       ///< exit status; 128 + signal when killed
    int signal = 0;           ///< the signal that ended the program on its own (a crash)
    bool stopped = false;     ///< ended by us: a stop was asked (a signal, the window's stop)
    bool over_limit = false;  ///< ended by us: its output passed RunLimits
    std::string output;       ///< standard output and error together (at most the limit)
};

/// Asked about every 20 ms while a program runs; true ends the program and its children.
using StopCheck = std::function<bool()>;

/// Installs the window's stop check (empty: only a stop signal ends a run); returns the one
/// installed before.
StopCheck SetStopCheck(StopCheck check);

/// Runs argv[0] (searched in PATH) with argv in `working_dir` (empty: ours), standard input
/// from /dev/null, in a process group of its own, and waits. A stop signal (SIGINT, SIGTERM,
/// SIGHUP) or the stop check ends the program and everything it started. The output is kept
/// as the last output as well.
RunResult RunCaptured(const std::vector<std::string>& argv, const std::string& working_dir,
                      const RunLimits& limits = {});

/// The message for a program that ended by a signal it did not ask for: "arj crashed:
/// signal 6" (the program's base name).
std::string CrashMessage(const std::string& program, int signal);

/// Total size of the plain files below `folder` (links not followed), counting at most
/// `stop_after` bytes and 100,000 entries.
uint64_t FolderBytes(const std::string& folder, uint64_t stop_after);

/// The output of the last program run ("View Last Output"); empty before the first.
const std::string& LastOutput();
/// Replaces the last output (a run of several programs keeps them all).
void SetLastOutput(std::string output);

/// Finds a program the way the runner will: a name with `/` as it is, otherwise in PATH;
/// empty when it is not there or not executable.
std::string FindOnPath(const std::string& program);

}  // namespace programs
