#include "archiver/programs/runner.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "archiver/engine/unzip/engine_frame.h"
#include "platform/process.h"

namespace programs {

namespace {

struct RunnerState {
    std::string last_output;
    StopCheck stop_check;
};

RunnerState& State() {
    static RunnerState state;
    return state;
}

std::string TempFolder() {
    const char* t = std::getenv("TMPDIR");
    return t && *t ? t : "/tmp";
}

// Reads at most kMaxCapturedOutput bytes of an open file from its start.
std::string ReadBounded(int fd) {
    std::string out;
    char buf[8192];
    while (out.size() < kMaxCapturedOutput) {
        ssize_t n = pread(fd, buf, sizeof buf, static_cast<off_t>(out.size()));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        out.append(buf, static_cast<size_t>(std::min<size_t>(static_cast<size_t>(n),
                                                             kMaxCapturedOutput - out.size())));
    }
    return out;
}

// True once the program has ended, without reaping it: while the leader is unreaped its
// group id cannot pass to another process, so the group can still be ended safely.
bool Ended(pid_t pid) {
    siginfo_t info{};
    if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) < 0)
        return errno != EINTR;
    return info.si_pid == pid;
}

// Ends what is left of the group and reaps the program; its wait status.
int ReapGroup(pid_t pid) {
    kill(-pid, SIGKILL);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

// Ends the program's process group: a polite SIGTERM first, SIGKILL after two seconds.
int EndGroup(pid_t pid) {
    kill(-pid, SIGTERM);
    for (int i = 0; i < 100 && !Ended(pid); ++i) usleep(20000);
    return ReapGroup(pid);
}

bool StopAsked() {
    if (engine::StopSignal() != 0) return true;
    const StopCheck& check = State().stop_check;
    return check && check();
}

// Waits for the program. It is ended when a stop is asked, when it writes more than
// kMaxOutputFile bytes of messages (an archiver asking the same question again and again of
// a closed input), or when the watched folder passes its limit.
void WaitWatching(pid_t pid, int fd, const RunLimits& limits, RunResult& r) {
    for (unsigned round = 0;; ++round) {
        int status = 0;
        if (Ended(pid)) {
            // The group may still hold programs the archiver started; they go with it.
            status = ReapGroup(pid);
            if (WIFEXITED(status)) {
                r.exit_code = WEXITSTATUS(status);
            } else if (WIFSIGNALED(status)) {
                r.signal = WTERMSIG(status);
                r.exit_code = 128 + r.signal;
            }
            return;
        }
        bool end = false;
        if (StopAsked()) {
            r.stopped = end = true;
        } else {
            struct stat st {};
            if (fstat(fd, &st) == 0 && static_cast<uint64_t>(st.st_size) > kMaxOutputFile)
                end = true;
            else if (limits.max_folder_bytes > 0 && round % 5 == 4 &&
                     FolderBytes(limits.watch_folder, limits.max_folder_bytes + 1) >
                         limits.max_folder_bytes)
                r.over_limit = end = true;
        }
        if (end) {
            status = EndGroup(pid);
            r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            return;
        }
        usleep(20000);
    }
}

bool IsExecutableFile(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

}  // namespace

StopCheck SetStopCheck(StopCheck check) {
    StopCheck old = std::move(State().stop_check);
    State().stop_check = std::move(check);
    return old;
}

std::string CrashMessage(const std::string& program, int signal) {
    std::string base = program.substr(program.rfind('/') + 1);
    return base + " crashed: signal " + std::to_string(signal);
}

uint64_t FolderBytes(const std::string& folder, uint64_t stop_after) {
    namespace fs = std::filesystem;
    uint64_t total = 0;
    size_t entries = 0;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (++entries > 100000) break;
        struct stat st {};
        if (lstat(it->path().c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        // A sparse file counts by its length: that is what a later reader gets.
        total += static_cast<uint64_t>(st.st_size);
        if (total >= stop_after) break;
    }
    return total;
}

RunResult RunCaptured(const std::vector<std::string>& argv, const std::string& working_dir,
                      const RunLimits& limits) {
    RunResult r;
    std::string capture = TempFolder() + "/bvoutXXXXXX";
    int fd = mkstemp(capture.data());
    if (fd < 0) {
        r.error = errno;
        return r;
    }
    platform::ProcessOptions options;
    options.working_dir = working_dir;
    options.stdin_path = "/dev/null";
    options.stdout_path = capture;
    options.stderr_to_stdout = true;
    options.own_process_group = true;
    pid_t pid = platform::StartProcess(argv, options);
    if (pid < 0) {
        r.error = errno;
    } else {
        r.started = true;
        WaitWatching(pid, fd, limits, r);
        r.output = ReadBounded(fd);
    }
    close(fd);
    unlink(capture.c_str());
    State().last_output = r.output;
    return r;
}

const std::string& LastOutput() {
    return State().last_output;
}

void SetLastOutput(std::string output) {
    if (output.size() > kMaxCapturedOutput) output.resize(kMaxCapturedOutput);
    State().last_output = std::move(output);
}

std::string FindOnPath(const std::string& program) {
    if (program.empty()) return {};
    if (program.find('/') != std::string::npos) return IsExecutableFile(program) ? program : "";
    const char* env = std::getenv("PATH");
    std::string dirs = env ? env : "/bin:/usr/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        std::string dir = dirs.substr(start, end - start);
        start = end + 1;
        std::string candidate = (dir.empty() ? "." : dir) + "/" + program;
        if (IsExecutableFile(candidate)) return candidate;
    }
    return {};
}

}  // namespace programs
