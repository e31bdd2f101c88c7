// Running an outside program with its output captured (for "View Last Output"), and the
// output of the last one run.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace programs {

/// Most bytes of a program's output kept.
constexpr size_t kMaxCapturedOutput = 1 << 20;

/// Most output a program may write before it is taken for stuck and stopped.
constexpr uint64_t kMaxOutputFile = 64ull << 20;

/// How a run ended.
struct RunResult {
    bool started = false;  ///< false: the program could not be started (`error` says why)
    int error = 0;         ///< errno of a failed start
    int exit_code = -1;    ///< exit status; 128 + signal when killed
    std::string output;    ///< standard output and error together (at most the limit)
};

/// Runs argv[0] (searched in PATH) with argv in `working_dir` (empty: ours), standard input
/// from /dev/null, and waits. The output is kept as the last output as well.
RunResult RunCaptured(const std::vector<std::string>& argv, const std::string& working_dir);

/// The output of the last program run ("View Last Output"); empty before the first.
const std::string& LastOutput();
/// Replaces the last output (a run of several programs keeps them all).
void SetLastOutput(std::string output);

/// Finds a program the way the runner will: a name with `/` as it is, otherwise in PATH;
/// empty when it is not there or not executable.
std::string FindOnPath(const std::string& program);

}  // namespace programs
