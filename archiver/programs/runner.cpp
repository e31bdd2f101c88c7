#include "archiver/programs/runner.h"

#include <fcntl.h>
#include <sys/stat.h>
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
        r.exit_code = platform::WaitProcess(pid);
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
