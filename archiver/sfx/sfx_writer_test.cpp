#include "archiver/sfx/sfx_writer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "archiver/engine/unzip/crc32.h"
#include "archiver/engine/unzip/file_io.h"
#include "archiver/engine/unzip/zip64_records.h"
#include "archiver/sfx/appended_archive.h"
#include "archiver/sfx/directory_shift.h"
#include "archiver/sfx/test_archive.h"

namespace sfx {
namespace {

namespace fs = std::filesystem;
using namespace sfx::test_archive;

class SfxWriterTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("sfx_writer_test_" + std::to_string(::getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string Write(const std::string& name, const Bytes& bytes) {
        std::string path = (dir_ / name).string();
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
        return path;
    }
    std::vector<std::string> Files() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }
    fs::path dir_;
    const Bytes stub_ = Bytes(3000, 0x90);
};

// Each member's data read back through the offsets of the written program: they must count
// from the program's first byte, so that no reader needs to find a preamble.
void ExpectMembersAt(const std::string& path, const std::vector<TestMember>& members) {
    engine::UniqueFd fd(::open(path.c_str(), O_RDONLY));
    AppendedArchive a;
    std::string why;
    ASSERT_TRUE(ReadAppendedArchive(fd.get(), a, why)) << why;
    EXPECT_EQ(a.preamble, 0);
    ASSERT_EQ(a.members.size(), members.size());
    for (size_t i = 0; i < members.size(); ++i) {
        const Member& m = a.members[i];
        uint8_t local[30];
        ASSERT_EQ(engine::PreadFull(fd.get(), local, 30, m.local_offset), 30);
        EXPECT_EQ(engine::Get32(local), engine::kLocalSig) << m.name;
        std::string data(m.compressed, '\0');
        engine::PreadFull(fd.get(), data.data(), data.size(),
                          m.local_offset + 30 + engine::Get16(local + 26));
        EXPECT_EQ(data, members[i].data) << m.name;
    }
}

TEST_F(SfxWriterTest, OffsetsCountFromTheProgramsFirstByte) {
    std::vector<TestMember> members = {{"a.txt", "alpha"},
                                       {"sub/b.bin", std::string("\0\1\2\3", 4)},
                                       {"wide", "offset in the 64-bit field", 0, true},
                                       {"empty", ""}};
    struct Case {
        const char* what;
        bool zip64;
        size_t junk;
    } cases[] = {{"plain", false, 0},
                 {"64-bit end records and field", true, 0},
                 {"bytes in front that the offsets leave out", false, 77},
                 {"64-bit records with bytes in front", true, 77}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string in = Write("in.zip", MakeArchive(members, c.zip64, c.junk));
        SfxRequest req{in, (dir_ / "out").string(), true, stub_};
        SfxResult r = MakeSelfExtractor(req);
        ASSERT_TRUE(r.ok) << r.message;
        ExpectMembersAt(req.output, members);
        EXPECT_EQ(fs::file_size(req.output), stub_.size() + fs::file_size(in));
        struct stat st;
        ASSERT_EQ(::stat(req.output.c_str(), &st), 0);
        mode_t mask = ::umask(0);
        ::umask(mask);
        EXPECT_EQ(st.st_mode & 0777, 0755u & ~mask);
    }
}

TEST_F(SfxWriterTest, RefusalsLeaveNothingBehind) {
    struct Case {
        const char* what;
        Bytes archive;
        bool output_exists;
        const char* message_part;
    } cases[] = {
        {"bzip2 member", MakeArchive({{"ok", "x"}, {"packed.bz", "y", 12}}, false), false,
         "packed.bz is compressed with bzip2 (method 12)"},
        {"AES member", MakeArchive({{"secret", "y", 99}}, false), false,
         "secret is encrypted with AES"},
        {"not a zip", Bytes(500, 'x'), false, "is not a zip archive"},
        {"output already there", MakeArchive({{"ok", "x"}}, false), true, "already exists"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        std::string in = Write("in.zip", c.archive);
        if (c.output_exists) Write("out", Bytes{'k', 'e', 'e', 'p'});
        std::vector<std::string> before = Files();
        SfxResult r = MakeSelfExtractor({in, (dir_ / "out").string(), false, stub_});
        EXPECT_FALSE(r.ok);
        EXPECT_NE(r.message.find(c.message_part), std::string::npos) << r.message;
        EXPECT_EQ(Files(), before);
        if (c.output_exists) {
            EXPECT_EQ(fs::file_size(dir_ / "out"), 4u);
        }
    }
    // The archive itself is never the output, whatever -o says.
    std::string in = Write("same", MakeArchive({{"ok", "x"}}, false));
    SfxResult r = MakeSelfExtractor({in, in, true, stub_});
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(fs::file_size(in), MakeArchive({{"ok", "x"}}, false).size());
}

TEST(DirectoryShift, OffsetsThatWouldNotFitAreRefusedWithoutChange) {
    Bytes archive = MakeArchive({{"a", "1"}, {"near-the-end", "2"}}, false);
    // The central directory starts after the two local headers.
    size_t dir = 30 + 1 + 1 + 30 + 12 + 1;
    Bytes block(archive.begin() + static_cast<long>(dir), archive.end() - 22);
    std::string why;
    // The second member's offset (32) plus this would reach the 32-bit mark.
    Bytes before = block;
    EXPECT_FALSE(ShiftCentralDirectory(block, 2, 0xFFFFFFFFull - 32, why));
    EXPECT_NE(why.find("near-the-end"), std::string::npos) << why;
    EXPECT_EQ(block, before);
    EXPECT_TRUE(ShiftCentralDirectory(block, 2, 0xFFFFFFFFull - 33, why)) << why;
    EXPECT_EQ(engine::Get32(&block[42]), 0xFFFFFFFFu - 33);
    // A count beyond the headers there are is damage, not a shift.
    EXPECT_FALSE(ShiftCentralDirectory(before, 3, 1, why));

    Bytes end(archive.end() - 22, archive.end());
    EXPECT_TRUE(ShiftEndRecord(end, 10));
    EXPECT_EQ(engine::Get32(&end[16]), dir + 10);
    EXPECT_FALSE(ShiftEndRecord(end, 0xFFFFFFFFull));
}

}  // namespace
}  // namespace sfx
