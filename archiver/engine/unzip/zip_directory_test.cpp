#include "archiver/engine/unzip/zip_directory.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <random>

#include "archiver/engine/unzip/file_io.h"
#include "archiver/engine/unzip/test_util.h"

namespace engine {
namespace {

using testing_util::ReadFile;
using testing_util::TempDir;
using testing_util::WriteFile;

class ZipDirectoryTest : public ::testing::Test {
protected:
    void SetUp() override {
        UNZIP_TEST_NEEDS("python3");
        ASSERT_TRUE(testing_util::RunPython(dir_, R"(
import zipfile
with zipfile.ZipFile('plain.zip', 'w', zipfile.ZIP_DEFLATED) as z:
    z.writestr('a.txt', 'alpha\n' * 100)
    z.writestr('sub/', '')
    z.writestr('sub/b.bin', bytes(range(256)), compress_type=zipfile.ZIP_STORED)
    i = zipfile.ZipInfo('attrfolder')
    i.external_attr = 0x10
    z.writestr(i, '')
    z.comment = b'archive comment'
)"));
        plain_ = ReadFile(dir_ / "plain.zip");
    }
    ZipDirectory Read(const std::vector<uint8_t>& bytes, const std::string& name = "t.zip") {
        WriteFile(dir_ / name, bytes);
        return ReadZipDirectory(dir_ / name);
    }
    TempDir dir_;
    std::vector<uint8_t> plain_;
};

TEST_F(ZipDirectoryTest, ReadsEntriesAndFacts) {
    ZipDirectory d = Read(plain_);
    ASSERT_EQ(d.status, DirectoryStatus::kOk) << d.message;
    ASSERT_EQ(d.entries.size(), 4u);
    EXPECT_EQ(d.entries[0].name, "a.txt");
    EXPECT_EQ(d.entries[0].header.uncompressed_size, 600u);
    EXPECT_EQ(d.entries[2].header.method, kMethodStored);
    EXPECT_FALSE(d.entries[3].IsRow());
    EXPECT_TRUE(d.facts.folders_without_slash);
    EXPECT_FALSE(d.facts.encrypted);
    EXPECT_FALSE(d.facts.spans_disks);
    EXPECT_EQ(d.facts.first_local_offset, 0u);

    // A program in front shifts every offset by its length.
    std::vector<uint8_t> sfx(1000 + plain_.size(), 'M');
    std::copy(plain_.begin(), plain_.end(), sfx.begin() + 1000);
    d = Read(sfx);
    ASSERT_EQ(d.status, DirectoryStatus::kOk);
    EXPECT_EQ(d.facts.preamble, 1000);
    EXPECT_EQ(d.facts.first_local_offset, 1000u);
    EXPECT_EQ(d.entries[1].local_offset, 1000u + d.entries[1].header.local_offset);
}

TEST_F(ZipDirectoryTest, PreamblesWhateverTheOffsetsCountFrom) {
    // Python is the oracle: it reads each of these archives with the same members.
    ASSERT_TRUE(testing_util::RunPython(dir_, R"(
import zipfile, struct
plain = open('plain.zip', 'rb').read()
stub = b'#!/bin/sh\nexit 0\n' + bytes(range(256)) * 20
# Offsets counting from the start of the zip data: the stub simply put in front.
open('raw.zip', 'wb').write(stub + plain)
# Offsets counting from the start of the file: the archive written after the stub.
open('shifted.zip', 'wb').write(stub)
with zipfile.ZipFile('shifted.zip', 'a') as z:
    for i in zipfile.ZipFile('plain.zip').infolist():
        z.writestr(i, zipfile.ZipFile('plain.zip').read(i))
# A 64-bit end record and its locator between the directory and the end record.
end = plain.rfind(b'PK\x05\x06')
n, cd_size, cd_off = struct.unpack('<xxxxxxxxHxxII', plain[end:end + 20])
rec64 = struct.pack('<IQHHIIQQQQ', 0x06064b50, 44, 45, 45, 0, 0, n, n, cd_size, cd_off)
loc = struct.pack('<IIQI', 0x07064b50, 0, cd_off + cd_size, 1)
open('z64.zip', 'wb').write(stub + plain[:end] + rec64 + loc + plain[end:])
for name in ['raw.zip', 'shifted.zip', 'z64.zip']:
    z = zipfile.ZipFile(name)
    assert z.testzip() is None and len(z.infolist()) == 4, name
)"));
    struct Case {
        const char* name;
        int64_t preamble;
    };
    const int64_t stub = 17 + 256 * 20;
    for (const Case& c : {Case{"raw.zip", stub}, Case{"shifted.zip", 0}, Case{"z64.zip", stub}}) {
        SCOPED_TRACE(c.name);
        ZipDirectory d = ReadZipDirectory(dir_ / c.name);
        ASSERT_EQ(d.status, DirectoryStatus::kOk) << d.message;
        ASSERT_EQ(d.entries.size(), 4u);
        EXPECT_EQ(d.facts.preamble, c.preamble);
        EXPECT_EQ(d.facts.first_local_offset, static_cast<uint64_t>(stub));
        auto bytes = ReadFile(dir_ / c.name);
        for (const DirectoryEntry& e : d.entries)
            EXPECT_EQ(Get32(&bytes[e.local_offset]), kLocalSig) << e.name;
    }
}

TEST_F(ZipDirectoryTest, Messages) {
    EXPECT_EQ(ReadZipDirectory(dir_ / "missing.zip").message,
              "Can't open input file: " + (dir_ / "missing.zip"));
    // A damaged central header says the same wherever it lies.
    size_t end = plain_.size() - kEndSize - 15;
    size_t cd = Get32(&plain_[end + 16]);
    for (size_t n : {0, 1, 3}) {
        auto bad = plain_;
        size_t at = cd;
        for (size_t i = 0; i < n; ++i)
            at += kCentralSize + Get16(&bad[at + 28]) + Get16(&bad[at + 30]) + Get16(&bad[at + 32]);
        bad[at] = 'X';
        EXPECT_EQ(Read(bad).message, kMsgInvalidDirectoryFix) << n;
        EXPECT_EQ(Read(bad, "self.exe").message,
                  "File does not appear to be a self-extracting archive")
            << n;
    }
}

TEST_F(ZipDirectoryTest, FilesThatAreNotArchives) {
    EXPECT_EQ(Read({}).status, DirectoryStatus::kEmpty);
    ZipDirectory d = Read(std::vector<uint8_t>(10, 0));
    EXPECT_EQ(d.status, DirectoryStatus::kError);
    EXPECT_EQ(d.message, "Invalid archive directory");
    d = Read(std::vector<uint8_t>(100, 'x'));
    EXPECT_EQ(d.status, DirectoryStatus::kNotZip);
    EXPECT_EQ(d.message, "Cannot open file: it does not appear to be a valid archive.");
    EXPECT_EQ(Read(std::vector<uint8_t>(100, 'x'), "prog.EXE").status, DirectoryStatus::kNotZipExe);
    std::vector<uint8_t> backup = {'P', 'K', 7, 8};
    backup.resize(100);
    EXPECT_NE(Read(backup).message.find("first disk in a backup set"), std::string::npos);

    // An end record further from the end than the longest comment allows is not found.
    std::vector<uint8_t> far_end(plain_.size() + kEndSize + 0xFFFF, 'c');
    std::copy(plain_.begin(), plain_.end(), far_end.begin());
    EXPECT_EQ(Read(far_end).status, DirectoryStatus::kNotZip);
}

TEST_F(ZipDirectoryTest, EndRecordBehindLongCommentsPaddingAndFakeRecords) {
    // Each archive reads as the same four members, with its comment.
    ASSERT_TRUE(testing_util::RunPython(dir_, R"(
import zipfile, struct
plain = open('plain.zip', 'rb').read()
end = plain.rfind(b'PK\x05\x06')
body = plain[:end + 20]
def with_comment(c):
    return body + struct.pack('<H', len(c)) + c
fake_empty = b'PK\x05\x06' + bytes(18)
# A fake record that claims one member in a directory at the start of the file.
fake_one = b'PK\x05\x06' + struct.pack('<HHHHIIH', 0, 0, 1, 1, 46, 0, 0)
open('long.zip', 'wb').write(with_comment(b'x' * 60000))
open('longest.zip', 'wb').write(with_comment(b'y' * 65535))
open('padded.zip', 'wb').write(with_comment(b'') + bytes(10240 - 22))
open('fake_last.zip', 'wb').write(with_comment(b'note ' + fake_empty))
open('fake_inside.zip', 'wb').write(with_comment(fake_one + b' and more text'))
open('fake_padded.zip', 'wb').write(with_comment(b'c' * 100 + fake_empty) + bytes(3000))
# zipfile takes a fake record in a comment for the real one: no oracle for those.
for name in ['long.zip', 'longest.zip', 'padded.zip']:
    z = zipfile.ZipFile(name)
    assert z.testzip() is None and len(z.infolist()) == 4, name
)"));
    struct Case {
        const char* name;
        size_t comment_length;
    };
    for (const Case& c :
         {Case{"long.zip", 60000}, Case{"longest.zip", 65535}, Case{"padded.zip", 0},
          Case{"fake_last.zip", 27}, Case{"fake_inside.zip", 36}, Case{"fake_padded.zip", 122}}) {
        SCOPED_TRACE(c.name);
        ZipDirectory d = ReadZipDirectory(dir_ / c.name);
        ASSERT_EQ(d.status, DirectoryStatus::kOk) << d.message;
        ASSERT_EQ(d.entries.size(), 4u);
        EXPECT_EQ(d.entries[0].name, "a.txt");
        EXPECT_EQ(d.comment.size(), c.comment_length);
        EXPECT_EQ(d.facts.preamble, 0);
    }
}

TEST_F(ZipDirectoryTest, LyingCountsAndLengthsAreRefused) {
    size_t end = plain_.size() - kEndSize - 15;  // 15: the comment
    ASSERT_EQ(Get32(&plain_[end]), kEndSig);
    auto more = plain_;
    Put16(&more[end + 8], 9);  // entries on this disk
    EXPECT_EQ(Read(more).message, kMsgInvalidDirectoryFix);

    size_t cd = Get32(&plain_[end + 16]);
    auto long_name = plain_;
    Put16(&long_name[cd + 28], 60000);
    EXPECT_EQ(Read(long_name).message, kMsgInvalidDirectory);

    auto moved = plain_;
    Put32(&moved[end + 16], static_cast<uint32_t>(plain_.size()));  // directory past the end
    EXPECT_EQ(Read(moved).status, DirectoryStatus::kError);

    // Cut anywhere and damaged anywhere: never a crash, never an out-of-bounds read.
    for (size_t cut = 0; cut < plain_.size(); ++cut)
        Read(std::vector<uint8_t>(plain_.begin(), plain_.begin() + static_cast<ptrdiff_t>(cut)));
    std::mt19937 rng(4);
    for (int i = 0; i < 500; ++i) {
        auto bad = plain_;
        bad[cd + rng() % (bad.size() - cd)] = static_cast<uint8_t>(rng());
        ZipDirectory d = Read(bad);
        for (const DirectoryEntry& e : d.entries) EXPECT_LE(e.name.size(), 65535u);
    }
}

TEST_F(ZipDirectoryTest, DiskNumbers) {
    size_t end = plain_.size() - kEndSize - 15;
    auto spanned = plain_;
    Put16(&spanned[end + 4], 2);  // this disk 2, directory on disk 0
    Put16(&spanned[end + 6], 0);
    // By its path, the volumes before it are looked for; read alone, it is refused.
    EXPECT_EQ(Read(spanned).message, "Cannot find volume " + (dir_ / "t.z01"));
    UniqueFd alone(::open((dir_ / "t.zip").c_str(), O_RDONLY | O_CLOEXEC));
    EXPECT_NE(ReadZipDirectory(alone.get(), "t.zip").message.find("spans disks"),
              std::string::npos);

    // Disk 0 with the directory on disk 1 in a file that starts with a local header opens.
    auto odd = plain_;
    Put16(&odd[end + 6], 1);
    EXPECT_EQ(Read(odd).status, DirectoryStatus::kOk);
}

}  // namespace
}  // namespace engine
