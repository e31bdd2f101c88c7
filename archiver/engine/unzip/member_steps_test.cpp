// Output files as a run leaves them: a new file is created at once where its path is free, so
// every way a member can end before it is written must take that file away again, and every
// thing already at the path must be treated as before (asked about, never followed).
#include "archiver/engine/unzip/member_steps.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "archiver/engine/unzip/output_path.h"
#include "archiver/engine/unzip/test_util.h"
#include "archiver/engine/unzip/unzip.h"

namespace engine {
namespace {

namespace fs = std::filesystem;
using testing_util::Recorder;
using testing_util::TempDir;

class OutputFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        UNZIP_TEST_NEEDS("python3");
        // Members with something in the way of their output, and copies of a two-member
        // archive whose second member fails after its output path was made ready.
        ASSERT_TRUE(testing_util::RunPython(dir_, R"(
import zipfile, struct
with zipfile.ZipFile('o.zip', 'w') as z:
    for n in ['new.txt', 'exists.txt', 'dangling.txt', 'outside.txt', 'd/nested.txt', 'dir.txt']:
        i = zipfile.ZipInfo(n, (2020, 1, 1, 0, 0, 0))
        i.create_system = 0  # made on MS-DOS: no mode to restore, the usual one applies
        z.writestr(i, 'member ' + n)
with zipfile.ZipFile('two.zip', 'w') as z:
    z.writestr('first.txt', 'first ' * 10000, compress_type=zipfile.ZIP_DEFLATED)
    z.writestr('a/late.txt', 'late ' * 10)
def patch(out, method=None, flags=0, usize=None):
    d = bytearray(open('two.zip', 'rb').read())
    local = zipfile.ZipFile('two.zip').getinfo('a/late.txt').header_offset
    central = d.find(b'PK\x01\x02', d.find(b'PK\x01\x02') + 4)
    for at, f in ((local, 6), (central, 8)):
        struct.pack_into('<H', d, at + f, struct.unpack_from('<H', d, at + f)[0] | flags)
        if method is not None: struct.pack_into('<H', d, at + f + 2, method)
        if usize is not None: struct.pack_into('<I', d, at + f + 16, usize)
    open(out, 'wb').write(d)
patch('method.zip', method=99)
patch('locked.zip', flags=1)
patch('size.zip', usize=7)
)"));
    }
    void TearDown() override {
        ResetUnzip();
        ResetFrame();
    }
    int Run(unsigned threads, const std::string& archive, const std::string& target, Recorder& r,
            const std::function<void(UnzipCommand&)>& adjust = nullptr) {
        ResetUnzip();
        ResetFrame();
        Unzip().max_name_length = [](const std::string&) { return 255L; };
        Unzip().threads = threads;
        Unzip().decode_here_below = 0;  // members of a pipeline go to a worker while it has room
        return testing_util::RunUnzip(dir_, archive, target, r, adjust);
    }
    std::string Text(const std::string& rel) {
        auto b = testing_util::ReadFile(dir_ / rel);
        return {b.begin(), b.end()};
    }
    TempDir dir_;
};

TEST_F(OutputFilesTest, WhatIsInTheWayIsAskedAboutAndNeverFollowed) {
    struct Case {
        const char* what;
        LRESULT reply;
    } cases[] = {{"skip", kSkip}, {"replace", kReplace}};
    for (unsigned threads : {1u, 2u}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.what) + ", threads " + std::to_string(threads));
            std::string out = std::string("o_") + c.what + std::to_string(threads);
            fs::create_directories(dir_ / (out + "/dir.txt"));
            std::ofstream(dir_ / (out + "/exists.txt")) << "old";
            std::ofstream(dir_ / "victim.txt") << "victim";
            fs::create_symlink(dir_ / (out + "-nowhere/x"), dir_ / (out + "/dangling.txt"));
            fs::create_symlink(dir_ / "victim.txt", dir_ / (out + "/outside.txt"));
            Recorder r;
            r.overwrite = [&c](const OverwriteQuery&) { return c.reply; };
            int result = Run(threads, "o.zip", out, r);
            EXPECT_EQ(r.asked.size(), 4u);  // the file, both links and the folder
            EXPECT_EQ(Text(out + "/new.txt"), "member new.txt");
            EXPECT_EQ(Text(out + "/d/nested.txt"), "member d/nested.txt");
            EXPECT_EQ(Text("victim.txt"), "victim");
            EXPECT_FALSE(fs::exists(dir_ / (out + "-nowhere")));
            EXPECT_TRUE(fs::is_directory(dir_ / (out + "/dir.txt")));
            if (c.reply == kSkip) {
                EXPECT_EQ(result, kUnzipOk) << r.Joined(kMsgError);
                EXPECT_EQ(Text(out + "/exists.txt"), "old");
                EXPECT_TRUE(fs::is_symlink(dir_ / (out + "/dangling.txt")));
                EXPECT_TRUE(fs::is_symlink(dir_ / (out + "/outside.txt")));
                continue;
            }
            // The links are replaced by files; a folder in the way ends the run.
            EXPECT_EQ(result, kUnzipError);
            EXPECT_EQ(r.Joined(kMsgError),
                      "Can't create output file: " + (dir_ / (out + "/dir.txt")) + "\n");
            EXPECT_EQ(Text(out + "/exists.txt"), "member exists.txt");
            EXPECT_FALSE(fs::is_symlink(dir_ / (out + "/dangling.txt")));
            EXPECT_EQ(Text(out + "/dangling.txt"), "member dangling.txt");
            EXPECT_EQ(Text(out + "/outside.txt"), "member outside.txt");
        }
    }
}

TEST_F(OutputFilesTest, AMemberThatFailsBeforeItIsWrittenLeavesNoFile) {
    struct Case {
        const char* archive;
        std::string error;  // OUT stands for the output folder
        bool password = false;
    } cases[] = {
        {"method.zip", "unknown compression\n"},
        {"locked.zip",
         "Error: OUT/a/late.txt -- the file is encrypted and its password wasn't specified\n"},
        {"size.zip",
         "ZIP damaged: file a/late.txt: its stored size differs from its declared "
         "size\n"},
    };
    for (unsigned threads : {1u, 2u}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.archive) + ", threads " + std::to_string(threads));
            std::string out = "x" + std::to_string(threads) + c.archive;
            Recorder r;
            EXPECT_EQ(Run(threads, c.archive, out, r), kUnzipError);
            std::string error = c.error;
            if (size_t at = error.find("OUT"); at != std::string::npos)
                error.replace(at, 3, dir_ / out);
            EXPECT_EQ(r.Joined(kMsgError), error);
            EXPECT_EQ(Text(out + "/first.txt").size(), 60000u);
            EXPECT_FALSE(fs::exists(dir_ / (out + "/a/late.txt")));
        }
    }
}

TEST_F(OutputFilesTest, NewFilesGetTheUsualPermissions) {
    Recorder r;
    ASSERT_EQ(Run(1, "o.zip", "p", r), kUnzipOk);
    mode_t mask = ::umask(0);
    ::umask(mask);
    struct stat st;
    ASSERT_EQ(::stat((dir_ / "p/new.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0666 & ~mask);
}

TEST_F(OutputFilesTest, ReplacedFilesLeaveNoTemporaryBehindOnAShortNameVolumeToo) {
    for (long name_max : {255L, 12L}) {
        SCOPED_TRACE(name_max);
        std::string out = "short" + std::to_string(name_max);
        fs::create_directories(dir_ / out);
        std::string existing = name_max < 13 ? ShortNameComponent("exists.txt") : "exists.txt";
        std::ofstream(dir_ / (out + "/" + existing)) << "old";
        ResetUnzip();
        ResetFrame();
        Unzip().max_name_length = [name_max](const std::string&) { return name_max; };
        Unzip().threads = 1;
        Recorder r;
        r.overwrite = [](const OverwriteQuery&) { return kReplace; };
        EXPECT_EQ(testing_util::RunUnzip(dir_, "o.zip", out, r), kUnzipOk) << r.Joined(kMsgError);
        EXPECT_EQ(Text(out + "/" + existing), "member exists.txt");
        for (const auto& e : fs::directory_iterator(std::string(dir_ / out))) {
            std::string name = e.path().filename();
            EXPECT_FALSE(name.starts_with(".borvan32-") || name.starts_with("BV")) << name;
        }
    }
}

}  // namespace
}  // namespace engine
