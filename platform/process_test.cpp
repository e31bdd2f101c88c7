#include "platform/process.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/event_loop_test_util.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

class ProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetEventLoop();
        char pattern[] = "/tmp/process_test.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(dir, ignored);
        ResetEventLoop();
    }
    std::string Slurp(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream out;
        out << in.rdbuf();
        return out.str();
    }
    std::string Output(const std::vector<std::string>& argv, ProcessOptions options = {}) {
        options.stdout_path = dir + "/out.txt";
        EXPECT_EQ(RunProcess(argv, options), 0);
        return Slurp(options.stdout_path);
    }
    std::string dir;
};

TEST_F(ProcessTest, ExitStatusAndSignals) {
    EXPECT_EQ(RunProcess({"true"}), 0);
    EXPECT_EQ(RunProcess({"false"}), 1);
    // 127 from a program that ran is its status, not "could not start".
    EXPECT_EQ(RunProcess({"sh", "-c", "exit 127"}), 127);
    EXPECT_EQ(RunProcess({"sh", "-c", "kill -TERM $$"}), 128 + SIGTERM);
    EXPECT_EQ(WaitProcess(-1), -1);
}

TEST_F(ProcessTest, ProgramsThatCannotStartAreReported) {
    errno = 0;
    EXPECT_EQ(StartProcess({"no-such-program-for-this-test"}), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(RunProcess({dir + "/missing"}), -1);
    EXPECT_EQ(errno, ENOENT);

    std::string plain = dir + "/plain";
    std::ofstream(plain) << "#!/bin/sh\nexit 0\n";
    EXPECT_EQ(StartProcess({plain}), -1);  // not executable
    EXPECT_EQ(errno, EACCES);
    EXPECT_EQ(StartProcess({dir}), -1);  // a folder
    EXPECT_EQ(errno, EACCES);
    EXPECT_EQ(StartProcess({}), -1);
    EXPECT_EQ(errno, EINVAL);

    // Once executable it runs, also when found through PATH.
    fs::permissions(plain, fs::perms::owner_all);
    EXPECT_EQ(RunProcess({plain}), 0);
    std::string old_path = getenv("PATH");
    setenv("PATH", (dir + ":" + old_path).c_str(), 1);
    EXPECT_EQ(RunProcess({"plain"}), 0);
    setenv("PATH", old_path.c_str(), 1);

    // A redirection that cannot be opened is a failure to start, too.
    ProcessOptions options;
    options.stdin_path = dir + "/no-input";
    EXPECT_EQ(StartProcess({"true"}, options), -1);
    EXPECT_EQ(errno, ENOENT);
}

TEST_F(ProcessTest, ArgumentsReachTheProgramUntouchedByAnyShell) {
    EXPECT_EQ(Output({"printf", "%s|", "a b", "$HOME", ";rm x", "*", "'q'"}),
              "a b|$HOME|;rm x|*|'q'|");
}

TEST_F(ProcessTest, RedirectionsAndWorkingFolder) {
    std::ofstream(dir + "/in.txt") << "line one\nline two\n";
    ProcessOptions options;
    options.stdin_path = dir + "/in.txt";
    EXPECT_EQ(Output({"cat"}, options), "line one\nline two\n");

    options = {};
    options.stderr_to_stdout = true;
    EXPECT_EQ(Output({"sh", "-c", "echo out; echo err >&2"}, options), "out\nerr\n");

    fs::create_directory(dir + "/sub");
    options = {};
    options.working_dir = dir + "/sub";
    EXPECT_EQ(Output({"pwd", "-P"}, options), fs::canonical(dir + "/sub").string() + "\n");
}

TEST_F(ProcessTest, ChildStartsWithDefaultSigpipe) {
    // Even when this program ignores SIGPIPE, a child (say, a pipeline of an archiver) must
    // be able to die of it.
    struct sigaction old_action {};
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &old_action);
    std::string status = Output({"grep", "^SigIgn", "/proc/self/status"});
    sigaction(SIGPIPE, &old_action, nullptr);
    ASSERT_GT(status.size(), 8u);
    unsigned long long mask = std::stoull(status.substr(status.find(':') + 1), nullptr, 16);
    EXPECT_EQ(mask & (1ull << (SIGPIPE - 1)), 0u) << status;
}

TEST_F(ProcessTest, WaitingThreadPostsTheExitStatusOnce) {
    constexpr UINT kDone = WM_USER + 50;
    std::vector<MSG> log;
    HWND hwnd = testing::RecordingWindow(log);
    pid_t pid = StartProcess({"sh", "-c", "sleep 0.05; exit 7"});
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(WatchProcess(pid, hwnd, kDone));
    ASSERT_TRUE(testing::PumpUntil([&] { return !log.empty(); }, 5000));
    testing::PumpFor(50);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].message, kDone);
    EXPECT_EQ(log[0].wParam, static_cast<WPARAM>(pid));
    EXPECT_EQ(log[0].lParam, 7);
    EXPECT_FALSE(WatchProcess(-1, hwnd, kDone));
}

}  // namespace
}  // namespace platform
