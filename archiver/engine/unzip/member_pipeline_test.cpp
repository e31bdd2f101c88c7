// Zip runs on 1, 2 and 8 threads must be indistinguishable from outside: the same files, the
// same messages (progress included) in the same order, the same questions, the same result,
// and the same state when a run ends early.
#include "archiver/engine/unzip/member_pipeline.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <map>
#include <memory>

#include "archiver/engine/unzip/test_util.h"
#include "archiver/engine/unzip/unzip.h"
#include "platform/event_loop.h"

namespace engine {
namespace {

namespace fs = std::filesystem;
using testing_util::TempDir;

// Everything the window is told, in order, and scripted answers.
struct Window {
    std::vector<std::string> log;
    std::function<LRESULT(const OverwriteQuery&)> overwrite = [](const OverwriteQuery&) {
        return kReplace;
    };
    std::function<void(UINT msg, const std::string& text)> on_message;
    HWND hwnd = 0;

    Window() {
        hwnd = platform::CreateWindow([this](HWND, UINT msg, WPARAM wp, LPARAM lp) -> LRESULT {
            std::string text;
            if (msg == kMsgOverwrite) {
                const auto* q = reinterpret_cast<const OverwriteQuery*>(lp);
                log.push_back("ask " + q->output_path);
                return overwrite(*q);
            }
            if (msg == kMsgProgress) {
                text = std::to_string(wp);
                log.push_back("progress " + text);
            } else if (msg == kMsgDirLookup) {
                return 0;
            } else if (lp) {
                text = reinterpret_cast<const char*>(lp);
                log.push_back(std::to_string(msg - platform::WM_USER) + " " + std::to_string(wp) +
                              " " + text);
            }
            if (on_message) on_message(msg, text);
            return 0;
        });
    }
    ~Window() { platform::DestroyWindow(hwnd); }
};

// The files below a folder: relative path to contents and time ("/" for a folder).
std::map<std::string, std::string> Snapshot(const fs::path& root) {
    std::map<std::string, std::string> files;
    if (!fs::exists(root)) return files;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        std::string rel = fs::relative(e.path(), root).string();
        if (e.is_directory()) {
            files[rel] = "/";
            continue;
        }
        auto bytes = testing_util::ReadFile(e.path().string());
        struct stat st;
        ::stat(e.path().c_str(), &st);
        std::string text(bytes.begin(), bytes.end());
        files[rel] = text.substr(0, 16) + "|" + std::to_string(bytes.size()) + "|" +
                     std::to_string(std::hash<std::string>{}(text)) + "@" +
                     std::to_string(st.st_mtime);
    }
    return files;
}

struct Outcome {
    int result = -1;
    std::vector<std::string> log;
    std::map<std::string, std::string> files;
};

class PipelineTest : public ::testing::Test {
protected:
    // The archive is made once for all the tests: making it is the slowest part of a test
    // under the sanitizers.
    static void SetUpTestSuite() {
        if (!testing_util::HaveProgram("python3")) return;
        shared_ = std::make_unique<TempDir>();
        // A mix: many small members, folders, stored and deflated data, a few large ones, so
        // that workers run ahead of the reports.
        made_ = testing_util::RunPython(*shared_, R"(
import zipfile, random
r = random.Random(7)
def text(n): return ''.join(r.choice('abcdefgh \n') for _ in range(n)).encode()
with zipfile.ZipFile('mix.zip', 'w') as z:
    for i in range(60):
        name = ('d%d/' % (i % 5) if i % 3 else '') + ('sub/' if i % 7 == 0 else '') + 'f%02d.txt' % i
        n = [0, 10, 5000, 40000, 120000][i % 5]
        data = text(n) if i % 4 else r.randbytes(n)
        ct = zipfile.ZIP_STORED if i % 6 == 0 else zipfile.ZIP_DEFLATED
        z.writestr(zipfile.ZipInfo(name, (2020, 1 + i % 12, 3, 4, 5, 6)), data, compress_type=ct)
        if i == 30:
            z.writestr('empty/', '')
            z.writestr(zipfile.ZipInfo('big.bin', (2021, 5, 6, 7, 8, 10)), text(1200000),
                       compress_type=zipfile.ZIP_DEFLATED)
)");
    }
    static void TearDownTestSuite() { shared_.reset(); }
    void SetUp() override {
        UNZIP_TEST_NEEDS("python3");
        ASSERT_TRUE(made_);
        fs::copy_file(*shared_ / "mix.zip", dir_ / "mix.zip");
    }
    void TearDown() override {
        ResetFrame();
        ClearStopSignal();
    }

    Outcome Run(unsigned threads, const std::string& archive, bool extract,
                const std::function<void(Window&, UnzipCommand&)>& adjust = nullptr) {
        ResetUnzip();
        ResetFrame();
        Unzip().max_name_length = [](const std::string&) { return 255L; };
        Unzip().threads = threads;
        Unzip().decode_here_below = here_below_;
        Unzip().balance = balance_;
        std::string out = dir_ / ("out" + std::to_string(threads));
        Window w;
        UnzipCommand cmd;
        cmd.archive = dir_ / archive;
        cmd.has_target = extract;
        cmd.target = extract ? out : "";
        cmd.report_window = w.hwnd;
        if (adjust) adjust(w, cmd);
        EXPECT_EQ(UNZIP(cmd), 1);
        Outcome o;
        o.result = cmd.result;
        o.log = w.log;
        // Output paths differ only by the folder's name.
        for (std::string& line : o.log)
            for (size_t at; (at = line.find(out)) != std::string::npos;)
                line.replace(at, out.size(), "OUT");
        o.files = Snapshot(out);
        return o;
    }

    // Runs on 1, 2 and 8 threads and expects the same outcome; returns the single thread's.
    Outcome Same(const std::string& archive, bool extract,
                 const std::function<void(Window&, UnzipCommand&)>& adjust = nullptr,
                 const std::function<void(const std::string&)>& prepare = nullptr) {
        Outcome one;
        for (unsigned threads : {1u, 2u, 8u}) {
            fs::remove_all(dir_ / ("out" + std::to_string(threads)));
            if (prepare) prepare(dir_ / ("out" + std::to_string(threads)));
            Outcome o = Run(threads, archive, extract, adjust);
            if (threads == 1) {
                one = o;
                continue;
            }
            SCOPED_TRACE("threads " + std::to_string(threads));
            EXPECT_EQ(o.result, one.result);
            EXPECT_EQ(o.log, one.log);
            EXPECT_EQ(o.files, one.files);
        }
        return one;
    }

    // Copies the archive and changes one byte at an offset from its start.
    void Spoil(const std::string& from, const std::string& to, size_t at, uint8_t value) {
        auto bytes = testing_util::ReadFile(dir_ / from);
        ASSERT_LT(at, bytes.size());
        bytes[at] = value;
        testing_util::WriteFile(dir_ / to, bytes);
    }
    // Offset of a member's name in the archive's first local header that carries it.
    size_t Find(const std::string& file, const std::string& text) {
        auto bytes = testing_util::ReadFile(dir_ / file);
        std::string all(bytes.begin(), bytes.end());
        size_t at = all.find(text);
        EXPECT_NE(at, std::string::npos);
        return at;
    }

    static inline std::unique_ptr<TempDir> shared_;
    static inline bool made_ = false;
    TempDir dir_;
    uint64_t here_below_ = kDecodeHereBelow;
    bool balance_ = true;
};

TEST_F(PipelineTest, WholeRunsMatchOneThread) {
    // Extracting, then testing; both complete.
    Outcome ex = Same("mix.zip", true);
    EXPECT_EQ(ex.result, kUnzipOk);
    EXPECT_EQ(ex.files.size(), 61u + 11u);  // 61 files, d0 to d4, sub and five d*/sub
    EXPECT_EQ(ex.files.count("d2/sub/f07.txt"), 1u);
    EXPECT_EQ(Same("mix.zip", false).result, kUnzipOk);
}

TEST_F(PipelineTest, DamageEndsTheRunWhereOneThreadEndsIt) {
    // A flipped byte in the data of a member in the middle: later members were decoded ahead
    // but must leave nothing; the damaged member's complete output stays (bad CRC) or goes
    // (invalid data), as on one thread.
    size_t name = Find("mix.zip", "d2/f22.txt");
    struct Case {
        const char* what;
        size_t offset;  // from the name of f22
        uint8_t value;
    } cases[] = {
        {"data", 10 + 40, 0x00},
        {"data start", 10 + 1, 0xFF},
        {"header method", static_cast<size_t>(-22), 0x63},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Spoil("mix.zip", "bad.zip", name + c.offset, c.value);
        for (bool extract : {true, false}) {
            Outcome o = Same("bad.zip", extract);
            EXPECT_EQ(o.result, kUnzipError);
            EXPECT_EQ(o.files.count("d3/f23.txt"), 0u);
            EXPECT_EQ(o.files.count("big.bin"), 0u);
        }
    }
}

TEST_F(PipelineTest, QuestionsComeInOrderAndCanEndTheRun) {
    auto existing = [](const std::string& out) {
        fs::create_directories(out + "/d1");
        for (const char* f : {"f03.txt", "d1/f01.txt", "d1/f16.txt", "big.bin", "d1/f41.txt"}) {
            testing_util::WriteFile(out + "/" + f, {'o', 'l', 'd'});
            fs::last_write_time(out + "/" + f, fs::file_time_type{});
        }
    };
    struct Case {
        const char* what;
        std::vector<LRESULT> replies;  // one per question, the last repeated
        int result;
        long questions;
    } cases[] = {
        {"replace", {kReplace}, kUnzipOk, 5},
        {"skip", {kSkip}, kUnzipOk, 5},
        {"replace all at the second", {kSkip, kReplaceAll}, kUnzipOk, 2},
        {"end at the third", {kReplace, kSkip, 0}, kUnzipError, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto adjust = [&](Window& w, UnzipCommand&) {
            auto asked = std::make_shared<size_t>(0);
            w.overwrite = [&c, asked](const OverwriteQuery&) {
                size_t i = std::min((*asked)++, c.replies.size() - 1);
                return c.replies[i];
            };
        };
        Outcome o = Same("mix.zip", true, adjust, existing);
        EXPECT_EQ(o.result, c.result);
        EXPECT_EQ(std::count_if(o.log.begin(), o.log.end(),
                                [](const std::string& l) { return l.rfind("ask ", 0) == 0; }),
                  c.questions);
    }
}

TEST_F(PipelineTest, StopsLeaveWhatOneThreadLeaves) {
    // A stop asked for when a member starts and in the middle of the large member.
    struct Case {
        const char* what;
        std::string trigger;  // message text that asks to stop
        unsigned progress;    // or the progress report that does (0: none)
    } cases[] = {
        {"at a member", "Extracting f12.txt", 0},
        {"inside the large member", "", 150},
        {"at the last member", "Extracting f59.txt", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto adjust = [&](Window& w, UnzipCommand&) {
            w.on_message = [&c](UINT msg, const std::string& text) {
                bool hit = msg == kMsgProgress ? c.progress && std::stoul(text) >= c.progress
                                               : text == c.trigger;
                if (hit) Frame().stop_requested = true;
            };
        };
        Outcome o = Same("mix.zip", true, adjust);
        EXPECT_EQ(o.result, kUnzipStopped);
        EXPECT_EQ(o.files.count("f59.txt"), 0u);
    }
}

TEST_F(PipelineTest, FilesReplacedWithoutAskingSurviveAnEarlyEnd) {
    // Every output already exists and is replaced without a question: a run that ends early
    // must leave the files after its end as they were, as one thread does, not truncated or
    // taken away because a worker had started on them.
    auto existing = [](const std::string& out) {
        for (int i = 0; i < 60; ++i) {
            std::string name = (i % 3 ? "d" + std::to_string(i % 5) + "/" : std::string()) +
                               (i % 7 == 0 ? "sub/" : "") + (i < 10 ? "f0" : "f") +
                               std::to_string(i) + ".txt";
            fs::create_directories(fs::path(out + "/" + name).parent_path());
            testing_util::WriteFile(out + "/" + name, {'o', 'l', 'd'});
            fs::last_write_time(out + "/" + name, fs::file_time_type{});
        }
    };
    // A large member, decoded by a worker while the walk goes on.
    size_t damaged = Find("mix.zip", "d4/f04.txt") + 10 + 40;
    Spoil("mix.zip", "bad.zip", damaged, 0x00);
    struct Case {
        const char* what;
        const char* archive;
        std::string trigger;  // message text that asks to stop ("": none)
        int result;
        bool f23_old;     // a member after the end keeps the old file
        const char* f59;  // the last member's file: "old|" kept
    } cases[] = {
        {"stop at a member", "mix.zip", "Extracting f12.txt", kUnzipStopped, true, "old|"},
        // The stop comes while the last file is replaced: the new content was not complete,
        // so the old file stays.
        {"stop at the last member", "mix.zip", "Extracting f59.txt", kUnzipStopped, false, "old|"},
        {"damaged member", "bad.zip", "", kUnzipError, true, "old|"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto adjust = [&](Window& w, UnzipCommand& cmd) {
            cmd.overwrite_all = true;
            w.on_message = [&c](UINT, const std::string& text) {
                if (!c.trigger.empty() && text == c.trigger) Frame().stop_requested = true;
            };
        };
        Outcome o = Same(c.archive, true, adjust, existing);
        EXPECT_EQ(o.result, c.result);
        EXPECT_EQ(o.files["d3/f23.txt"].substr(0, 4) == "old|", c.f23_old);
        EXPECT_EQ(o.files["d4/f59.txt"].substr(0, 4), c.f59);
    }
}

TEST_F(PipelineTest, ReadErrorsAndFullDisksLeaveWhatOneThreadLeaves) {
    // The archive cut short inside the large member: without a directory the walk reads
    // local headers, and the data runs out.
    auto bytes = testing_util::ReadFile(dir_ / "mix.zip");
    size_t big = Find("mix.zip", "big.bin");
    bytes.resize(big + 200000);
    testing_util::WriteFile(dir_ / "cut.zip", bytes);
    Outcome cut = Same("cut.zip", true);
    EXPECT_EQ(cut.result, kUnzipError);
    EXPECT_EQ(cut.files.count("big.bin"), 0u);

    // A file size limit that the large member passes: its write fails as on a full disk.
    struct rlimit old;
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    struct rlimit small = old;
    small.rlim_cur = 1000000;
    auto saved = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    Outcome full = Same("mix.zip", true);
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, saved);
    EXPECT_EQ(full.result, kUnzipError);
    EXPECT_EQ(full.files.count("big.bin"), 0u);
    ASSERT_FALSE(full.log.empty());
    EXPECT_NE(full.log.back().find("Error writing to OUT/big.bin"), std::string::npos);
}

TEST_F(PipelineTest, DuplicateNamesAndRefusedMembers) {
    // The same output twice (the later one replaces the earlier while both may be in flight),
    // unsafe names refused with a warning in their place.
    ASSERT_TRUE(testing_util::RunPython(dir_, R"(
import zipfile
with zipfile.ZipFile('dup.zip', 'w', zipfile.ZIP_DEFLATED) as z:
    for i in range(20):
        z.writestr('same.txt', ('version %d\n' % i) * (1000 * (20 - i)))
        z.writestr('other%d.txt' % i, 'x' * 50000)
        if i % 5 == 0: z.writestr('../escape%d.txt' % i, 'no')
)"));
    Outcome o = Same("dup.zip", true, [](Window&, UnzipCommand& cmd) { cmd.overwrite_all = true; });
    EXPECT_EQ(o.result, kUnzipError);  // refused members: the run is not complete
    EXPECT_EQ(o.files["same.txt"].substr(0, 11), "version 19\n");
}

TEST_F(PipelineTest, MembersDecodedHereMatchMembersHandedOver) {
    // Where the run's thread decodes a member itself instead of handing it to a worker, nothing
    // seen from outside may change: all handed over, all decoded here, and limits right at
    // and just above one member's compressed size (that member and its neighbours split
    // between the two ways), without and with the balance that decodes members here while the
    // workers are busy. A damaged member decoded here ends the run as on a worker.
    auto bytes = testing_util::ReadFile(dir_ / "mix.zip");
    size_t size_at = Find("mix.zip", "d3/sub/f28.txt") - 12;  // the local header's compressed size
    uint64_t edge = 0;
    for (int i = 3; i >= 0; --i) edge = edge << 8 | bytes[size_at + i];
    ASSERT_GT(edge, kDecodeHereBelow);
    Spoil("mix.zip", "bad.zip", Find("mix.zip", "d2/f22.txt") + 10 + 40, 0x00);
    struct Case {
        uint64_t below;
        bool balance;
    } cases[] = {{0, false}, {UINT64_MAX, false}, {edge, false}, {edge + 1, false}, {0, true}};
    for (const Case& c : cases) {
        uint64_t below = c.below;
        SCOPED_TRACE("decoded here below " + std::to_string(below) +
                     (c.balance ? ", balanced" : ""));
        here_below_ = below;
        balance_ = c.balance;
        Outcome ok = Same("mix.zip", true);
        EXPECT_EQ(ok.result, kUnzipOk);
        EXPECT_EQ(ok.files.size(), 61u + 11u);
        if (below != 0 && below != UINT64_MAX) continue;
        Outcome bad = Same("bad.zip", true);
        EXPECT_EQ(bad.result, kUnzipError);
        EXPECT_EQ(bad.files.count("d3/f23.txt"), 0u);
    }
}

}  // namespace
}  // namespace engine
