#include "archiver/engine/zip/parallel_compress.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <functional>
#include <thread>

#include "archiver/engine/unzip/engine_frame.h"
#include "archiver/engine/unzip/test_util.h"
#include "archiver/engine/zip/zip.h"

namespace zip {
namespace {

namespace fs = std::filesystem;
using engine::testing_util::RandomBytes;
using engine::testing_util::ReadFile;
using engine::testing_util::RunPython;
using engine::testing_util::TempDir;
using engine::testing_util::WriteFile;

// What one run left: its result, every message in order, and the archive's bytes.
struct Outcome {
    int result = 0;
    std::vector<std::string> log;
    std::vector<uint8_t> archive;
    bool temp_files = false;
};

// The text with the random part of temporary names ("_Z" and six characters) masked: runs
// that name their temporary archive must still compare equal.
std::string MaskTempNames(std::string text) {
    for (size_t at = text.find("/_Z"); at != std::string::npos; at = text.find("/_Z", at + 1))
        for (size_t i = at + 3; i < std::min(text.size(), at + 9); ++i) text[i] = '?';
    return text;
}

// Runs ZIP with a given number of threads over a folder of varied files, recording every
// message the engine sends (progress included).
struct ParallelZipTest : ::testing::Test {
    TempDir dir;
    std::string archive = dir / "a.zip";
    std::vector<std::string> log;
    platform::HWND hwnd = 0;
    // Called for each progress report with its running count (the test may ask to stop).
    std::function<void(int)> on_progress;
    int progress_reports = 0;

    void SetUp() override {
        ResetRun();
        engine::ResetFrame();
        hwnd = platform::CreateWindow(
            [this](platform::HWND, platform::UINT msg, platform::WPARAM wp, platform::LPARAM lp) {
                std::string text = lp ? reinterpret_cast<const char*>(lp) : "";
                if (msg == engine::kMsgProgress) {
                    log.push_back("progress " + std::to_string(wp));
                    if (on_progress) on_progress(++progress_reports);
                } else if (msg == engine::kMsgStatusText || msg == engine::kMsgWarning ||
                           msg == engine::kMsgError) {
                    log.push_back(std::to_string(msg) + "/" + std::to_string(wp) + " " +
                                  MaskTempNames(text));
                }
                return platform::LRESULT{0};
            });
    }
    void TearDown() override {
        platform::DestroyWindow(hwnd);
        ResetRun();
        engine::ResetFrame();
    }

    std::string File(const std::string& name, const std::vector<uint8_t>& data) {
        std::string path = dir / name;
        fs::create_directories(fs::path(path).parent_path());
        WriteFile(path, data);
        return path;
    }
    // Text that compresses but not to nothing: words drawn from a small list.
    static std::vector<uint8_t> Words(size_t n, uint32_t seed) {
        static const char* const kWords[] = {"alpha ", "beta ",  "gamma\n", "delta ",
                                             "zip ",   "tree\n", "member ", "chunk "};
        std::vector<uint8_t> out;
        auto noise = RandomBytes(n, seed);
        for (size_t i = 0; out.size() < n; ++i) {
            const char* w = kWords[noise[i % n] & 7];
            out.insert(out.end(), w, w + std::strlen(w));
        }
        out.resize(n);
        return out;
    }
    // About 80 members: more than the writer lets the workers run ahead, of every kind.
    void MakeTree() {
        for (int i = 0; i < 70; ++i)
            File("t/small/f" + std::to_string(i) + ".txt", Words(100 + i * 37, i));
        File("t/empty", {});
        File("t/random.bin", RandomBytes(200000, 7));
        File("t/words.txt", Words(1500000, 8));  // several pieces
        File("t/inner.zip", Words(70000, 9));    // stored below level 9
        File("t/mixed.bin", RandomBytes(3000, 10));
        fs::create_directories(dir / "t/folder");
        File("t/tail.txt", Words(90000, 11));
    }

    // The settings of one run; `threads` of 1 compresses on the calling thread alone.
    int level = 5;
    int action = kActionAdd;
    bool move = false;
    std::string password;
    std::vector<std::string> names;
    // Called right before and after the engine runs (after the old archive is in place).
    std::function<void()> before_run, after_run;

    Outcome Zip(int threads, const std::vector<uint8_t>* old = nullptr) {
        if (old) {
            WriteFile(archive, *old);
        } else {
            fs::remove(archive);
        }
        log.clear();
        progress_reports = 0;
        engine::ResetFrame();
        // A fixed random source: the encryption headers are the same in every run.
        auto seed = std::make_shared<uint32_t>(12345);
        zip::Run().header_random = [seed] { return *seed = *seed * 1103515245u + 12345u; };
        ZipCommand cmd;
        cmd.action = action;
        cmd.archive = archive;
        cmd.names = names.empty() ? std::vector<std::string>{dir / "t"} : names;
        cmd.level = level;
        cmd.method = level == 0 ? 0 : -1;
        cmd.recurse = true;
        cmd.store_folder_names = true;
        cmd.move = move;
        cmd.password_given = !password.empty();
        cmd.password = password;
        cmd.report_window = hwnd;
        cmd.threads = threads;
        if (before_run) before_run();
        EXPECT_EQ(ZIP(cmd), 1);
        if (after_run) after_run();
        Outcome o;
        o.result = cmd.result;
        o.log = log;
        if (fs::exists(archive)) o.archive = ReadFile(archive);
        for (const auto& e : fs::directory_iterator(dir.path))
            if (e.path().filename().string().rfind("_Z", 0) == 0) o.temp_files = true;
        return o;
    }

    // Runs with 1, 2 and 8 threads and expects the same outcome from each; returns it.
    Outcome SameForEveryThreadCount(const std::vector<uint8_t>* old = nullptr,
                                    const std::function<void()>& before = {}) {
        Outcome first;
        for (int threads : {1, 2, 8}) {
            SCOPED_TRACE("threads " + std::to_string(threads));
            if (before) before();
            Outcome o = Zip(threads, old);
            EXPECT_FALSE(o.temp_files);
            if (threads == 1) {
                first = o;
                continue;
            }
            EXPECT_EQ(o.result, first.result);
            auto diff =
                std::mismatch(o.log.begin(), o.log.end(), first.log.begin(), first.log.end());
            EXPECT_TRUE(diff.first == o.log.end() && diff.second == first.log.end())
                << "message " << (diff.first - o.log.begin()) << ": "
                << (diff.first == o.log.end() ? "(end)" : *diff.first) << " / "
                << (diff.second == first.log.end() ? "(end)" : *diff.second);
            EXPECT_TRUE(o.archive == first.archive);
        }
        return first;
    }
};

TEST_F(ParallelZipTest, ArchivesAreTheSameForAnyThreadCount) {
    MakeTree();
    struct Case {
        const char* name;
        int level;
        const char* password;
        size_t memory;  // what waiting members may hold before spilling
    };
    const Case cases[] = {
        {"stored", 0, "", size_t{16} << 20},
        {"level 1", 1, "", size_t{16} << 20},
        {"level 5", 5, "", size_t{16} << 20},
        {"level 9", 9, "", size_t{16} << 20},
        {"encrypted", 5, "pw", size_t{16} << 20},
        {"encrypted stored", 0, "pw", 0},
        {"spilling", 3, "", 0},
        {"little memory", 5, "", 100000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        level = c.level;
        password = c.password;
        Outcome o = SameForEveryThreadCount(nullptr, [&] { zip::Run().pending_memory = c.memory; });
        EXPECT_EQ(o.result, 0);
        EXPECT_GT(o.archive.size(), 1000u);
    }
    // What the archive holds is right, not just the same: an outside reader agrees.
    password.clear();
    level = 5;
    Zip(2);
    EXPECT_TRUE(RunPython(dir,
                          "import zipfile,sys\nz=zipfile.ZipFile('a.zip')\n"
                          "sys.exit(1 if z.testzip() or len(z.namelist()) < 75 else 0)\n"));
}

TEST_F(ParallelZipTest, UpdateFreshenAndMoveAreTheSameForAnyThreadCount) {
    MakeTree();
    level = 5;
    Outcome base = Zip(1);
    ASSERT_EQ(base.result, 0);
    // Newer files for some members; update and freshen rewrite those, add rewrites all.
    time_t later = ::time(nullptr) + 3600;
    for (int i = 0; i < 70; i += 3) {
        std::string path = dir / ("t/small/f" + std::to_string(i) + ".txt");
        WriteFile(path, Words(500 + i, 100 + i));
        timespec times[2] = {{later, 0}, {later, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    }
    File("t/new.txt", Words(40000, 99));
    for (int a : {kActionUpdate, kActionFreshen, kActionAdd}) {
        SCOPED_TRACE(a);
        action = a;
        EXPECT_EQ(SameForEveryThreadCount(&base.archive).result, 0);
    }
    // Moving deletes the files afterwards: each run gets its own copy of the tree.
    action = kActionAdd;
    move = true;
    names = {dir / "m"};
    auto copy_tree = [&] {
        fs::remove_all(dir / "m");
        fs::copy(dir / "t", dir / "m", fs::copy_options::recursive);
        // Copies get the time of copying: give every run the same.
        auto when = fs::last_write_time(dir / "t/words.txt");
        for (const auto& e : fs::recursive_directory_iterator(dir / "m"))
            if (e.is_regular_file()) fs::last_write_time(e.path(), when);
    };
    Outcome moved = SameForEveryThreadCount(nullptr, copy_tree);
    EXPECT_EQ(moved.result, 0);
    EXPECT_FALSE(fs::exists(dir / "m/words.txt"));
}

// Faults in the middle of a parallel run end it as they end a run on one thread: the same
// result and messages, the old archive untouched, no temporary or spill file left.
TEST_F(ParallelZipTest, FaultsMidRunLeaveTheSameStateAsOneThread) {
    MakeTree();
    ASSERT_EQ(Zip(1).result, 0);
    const std::vector<uint8_t> old = ReadFile(archive);
    File("t/words.txt", Words(1600000, 21));  // changed: rewritten by every run below
    std::string victim = dir / "t/random.bin";
    struct Case {
        const char* name;
        int level;
        int expected;
        std::function<void()> arrange;
    };
    // Reads of the victim fail once 64 KiB of it were read; other files read normally.
    auto fail_victim_reads = [victim] {
        zip::Run().read_file = [victim](int fd, void* buf, size_t n) -> ssize_t {
            char link[64];
            std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
            std::string path = fs::read_symlink(link).string();
            if (path == victim && ::lseek(fd, 0, SEEK_CUR) >= 65536) {
                errno = EIO;
                return -1;
            }
            return engine::ReadFull(fd, buf, n);
        };
    };
    auto vanish_victim = [victim] {
        zip::Run().open_file = [victim](const char* path) {
            if (victim == path) {
                errno = ENOENT;
                return -1;
            }
            return ::open(path, O_RDONLY | O_CLOEXEC);
        };
    };
    auto stop_at = [this](int report) {
        return [this, report] {
            on_progress = [report](int n) {
                if (n == report) engine::Frame().stop_requested = true;
            };
        };
    };
    const Case cases[] = {
        {"read error, deflated", 5, engine::kZipRead, fail_victim_reads},
        {"read error, stored", 0, engine::kZipRead, fail_victim_reads},
        {"file vanished", 5, kResultNotRead, vanish_victim},
        {"stop early", 5, kResultStopped, stop_at(3)},
        {"stop in the big member", 1, kResultStopped, stop_at(40)},
        {"stop stored", 0, kResultStopped, stop_at(25)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        level = c.level;
        Outcome o = SameForEveryThreadCount(&old, [&] {
            ResetRun();
            on_progress = nullptr;
            c.arrange();
        });
        EXPECT_EQ(o.result, c.expected) << progress_reports;
        if (c.expected != kResultNotRead) {
            EXPECT_TRUE(o.archive == old);
        }
    }
}

TEST_F(ParallelZipTest, AFullDiskMidRunLeavesTheSameStateAsOneThread) {
    MakeTree();
    // Large enough that the disk fills while members are written, not at the directory.
    File("t/noise.bin", RandomBytes(1500000, 5));
    ASSERT_EQ(Zip(1).result, 0);
    const std::vector<uint8_t> old = ReadFile(archive);
    File("t/words.txt", Words(1600000, 31));
    // The new archive cannot grow past half the old one's size: the disk is "full" in its
    // middle. Spill files meet the same limit.
    struct sigaction ignore {
    }, saved{};
    ignore.sa_handler = SIG_IGN;
    ASSERT_EQ(sigaction(SIGXFSZ, &ignore, &saved), 0);
    rlimit before{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
    for (size_t memory : {size_t{16} << 20, size_t{0}}) {
        SCOPED_TRACE(memory);
        level = 1;
        before_run = [&] {
            rlimit small = before;
            small.rlim_cur = old.size() / 2;
            ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
        };
        after_run = [&] { ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &before), 0); };
        Outcome o = SameForEveryThreadCount(&old, [&] { zip::Run().pending_memory = memory; });
        before_run = after_run = nullptr;
        EXPECT_NE(o.result, 0);
        ASSERT_FALSE(o.log.empty());
        EXPECT_NE(o.log.back().find("(was zipping "), std::string::npos) << o.log.back();
        EXPECT_TRUE(o.archive == old);
    }
    sigaction(SIGXFSZ, &saved, nullptr);
}

// The compressor on its own: spilled members come back intact, memory stays within its bound
// and a compressor dropped in the middle of a run stops its workers.
TEST_F(ParallelZipTest, SpillsKeepMemoryBoundedAndStoppingMidwayIsClean) {
    std::vector<std::string> paths;
    for (int i = 0; i < 6; ++i)
        paths.push_back(File("s/f" + std::to_string(i), Words(900000 + i * 1000, 40 + i)));
    zip::Run().settings.level = 1;
    auto members = [&] {
        std::vector<Member> list;
        for (const std::string& p : paths) {
            Member m;
            m.file_path = p;
            m.name = fs::path(p).filename().string();
            list.push_back(m);
        }
        return list;
    };
    auto write_all = [&](ParallelCompressor* parallel) {
        OutArchive out;
        EXPECT_EQ(CreateTemp(dir.path.string(), out), 0);
        for (Member m : members()) {
            std::string detail;
            int r = parallel ? parallel->WriteNext(m, out, detail) : WriteMember(m, out, detail);
            EXPECT_EQ(r, 0) << detail;
        }
        EXPECT_TRUE(out.Flush());
        std::vector<uint8_t> bytes = ReadFile(out.path);
        ::unlink(out.path.c_str());
        return bytes;
    };
    zip::Run().header_random = [] { return 7u; };
    std::vector<uint8_t> alone = write_all(nullptr);
    {
        ParallelCompressor parallel(CurrentMemberSettings(), members(), 3, dir.path.string(), 0);
        EXPECT_TRUE(write_all(&parallel) == alone);
        EXPECT_GT(parallel.SpilledMembers(), 0u);
        EXPECT_LE(parallel.PeakMemory(), 2 * kPieceSize);
    }
    {
        ParallelCompressor parallel(CurrentMemberSettings(), members(), 2, dir.path.string(),
                                    size_t{1} << 20);
        OutArchive out;
        ASSERT_EQ(CreateTemp(dir.path.string(), out), 0);
        Member m = members()[0];
        std::string detail;
        EXPECT_EQ(parallel.WriteNext(m, out, detail), 0);
        EXPECT_LE(parallel.PeakMemory(), (size_t{1} << 20) + 2 * kPieceSize);
        ::unlink(out.path.c_str());
    }  // the rest is dropped: workers stop, spill files vanish with them
    size_t left = 0;
    for (const auto& e : fs::directory_iterator(dir.path))
        if (e.path().filename().string().rfind("_Z", 0) == 0) ++left;
    EXPECT_EQ(left, 0u);
}

TEST(CompressThreadsTest, SettingCoresAndMembersBoundTheCount) {
    struct Case {
        int setting;
        size_t members;
        unsigned expected;  // 0: one per core, at most kMaxThreads
    };
    unsigned cores = std::clamp(std::thread::hardware_concurrency(), 1u, kMaxThreads);
    const Case cases[] = {{1, 100, 1},  {2, 100, 2},  {8, 100, 8},
                          {8, 3, 3},    {8, 0, 1},    {100, 1000, kMaxThreads},
                          {0, 1000, 0}, {-1, 1000, 0}};
    for (const Case& c : cases) {
        unsigned expected = c.expected ? c.expected : cores;
        EXPECT_EQ(CompressThreads(c.setting, c.members), expected) << c.setting << " " << c.members;
    }
}

}  // namespace
}  // namespace zip
