#include "archiver/programs/runner.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/process.h"

namespace programs {

namespace {

struct RunnerState {
    std::string last_output;
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

// Waits for the program; one that writes more than kMaxOutputFile bytes (an archiver asking
// the same question again and again of a closed input) is stopped.
int WaitWatchingOutput(pid_t pid, int fd) {
    for (;;) {
        int status = 0;
        pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            if (WIFEXITED(status)) return WEXITSTATUS(status);
            return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
        }
        if (done < 0 && errno != EINTR) return -1;
        struct stat st {};
        if (fstat(fd, &st) == 0 && static_cast<uint64_t>(st.st_size) > kMaxOutputFile) {
            kill(pid, SIGKILL);
            return platform::WaitProcess(pid);
        }
        usleep(20000);
    }
}

bool IsExecutableFile(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

}  // namespace

RunResult RunCaptured(const std::vector<std::string>& argv, const std::string& working_dir) {
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
    pid_t pid = platform::StartProcess(argv, options);
    if (pid < 0) {
        r.error = errno;
    } else {
        r.started = true;
        r.exit_code = WaitWatchingOutput(pid, fd);
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
