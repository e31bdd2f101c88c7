// Starting programs with posix_spawnp from an argument vector, and the thread that waits for
// one to end and posts its status.

#include "platform/process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <system_error>
#include <thread>

extern char** environ;

namespace platform {

namespace {

// 0 when path is a regular file this user may execute, else the errno that exec would give.
int CheckExecutable(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return errno;
    if (!S_ISREG(st.st_mode)) return EACCES;
    if (access(path.c_str(), X_OK) != 0) return errno;
    return 0;
}

// A relative path as the child will see it once it runs in working_dir.
std::string FromWorkingDir(const std::string& path, const std::string& working_dir) {
    if (path.starts_with('/') || working_dir.empty()) return path;
    return working_dir + "/" + path;
}

// Finds the program the way exec's PATH search does, before anything is started: a failed
// exec in a spawned child would only show as exit status 127, indistinguishable from a program
// that ran and failed. Returns 0 and the path to start, or an errno.
int FindProgram(const std::string& name, const std::string& working_dir, std::string& found) {
    if (name.empty() || name.size() >= PATH_MAX) return name.empty() ? ENOENT : ENAMETOOLONG;
    if (name.find('/') != std::string::npos) {
        found = name;
        return CheckExecutable(FromWorkingDir(name, working_dir));
    }
    const char* env = getenv("PATH");
    std::string dirs = env != nullptr ? env : "/bin:/usr/bin";
    int error = ENOENT;
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        std::string dir = dirs.substr(start, end - start);
        start = end + 1;
        std::string candidate = (dir.empty() ? std::string(".") : dir) + "/" + name;
        int e = CheckExecutable(FromWorkingDir(candidate, working_dir));
        if (e == 0) {
            found = candidate;
            return 0;
        }
        if (e == EACCES) error = EACCES;  // as exec: a found but forbidden file wins over none
    }
    return error;
}

int DecodeStatus(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

// posix_spawn's attribute and file-action objects, destroyed however StartProcess returns.
struct SpawnSetup {
    posix_spawnattr_t attr;
    posix_spawn_file_actions_t actions;
    SpawnSetup() {
        posix_spawnattr_init(&attr);
        posix_spawn_file_actions_init(&actions);
    }
    ~SpawnSetup() {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attr);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;
};

}  // namespace

pid_t StartProcess(const std::vector<std::string>& argv, const ProcessOptions& options) {
    if (argv.empty()) {
        errno = EINVAL;
        return -1;
    }
    std::string program;
    if (int error = FindProgram(argv[0], options.working_dir, program)) {
        errno = error;
        return -1;
    }
    SpawnSetup setup;
    // The child starts with no blocked signals and SIGPIPE at its default, whatever this
    // program chose for itself.
    sigset_t none;
    sigemptyset(&none);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigmask(&setup.attr, &none);
    posix_spawnattr_setsigdefault(&setup.attr, &defaults);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    if (options.own_process_group) {
        posix_spawnattr_setpgroup(&setup.attr, 0);
        flags |= POSIX_SPAWN_SETPGROUP;
    }
    posix_spawnattr_setflags(&setup.attr, flags);
    // Redirections name files relative to our folder; the change of folder comes after them.
    if (!options.stdin_path.empty()) {
        posix_spawn_file_actions_addopen(&setup.actions, STDIN_FILENO, options.stdin_path.c_str(),
                                         O_RDONLY, 0);
    }
    if (!options.stdout_path.empty()) {
        posix_spawn_file_actions_addopen(&setup.actions, STDOUT_FILENO, options.stdout_path.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
    }
    if (options.stderr_to_stdout) {
        posix_spawn_file_actions_adddup2(&setup.actions, STDOUT_FILENO, STDERR_FILENO);
    }
    if (!options.working_dir.empty()) {
        posix_spawn_file_actions_addchdir_np(&setup.actions, options.working_dir.c_str());
    }
    // A child that writes to our standard output comes after what this program wrote there.
    std::fflush(stdout);
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    // The path holds a '/', so there is no second search; a failed file action or exec is
    // reported here as an error number.
    int error =
        posix_spawnp(&pid, program.c_str(), &setup.actions, &setup.attr, args.data(), environ);
    if (error != 0) {
        errno = error;
        return -1;
    }
    return pid;
}

int WaitProcess(pid_t pid) {
    if (pid <= 0) {
        errno = ECHILD;
        return -1;
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return DecodeStatus(status);
}

bool WatchProcess(pid_t pid, HWND hwnd, UINT msg) {
    if (pid <= 0) return false;
    try {
        std::thread([pid, hwnd, msg] {
            int status = WaitProcess(pid);
            PostMessage(hwnd, msg, static_cast<WPARAM>(pid), status);
        }).detach();
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

int RunProcess(const std::vector<std::string>& argv, const ProcessOptions& options) {
    pid_t pid = StartProcess(argv, options);
    return pid < 0 ? -1 : WaitProcess(pid);
}

}  // namespace platform
