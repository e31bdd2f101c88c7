#include "archiver/engine/zip/zip.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>

#include "archiver/engine/unzip/engine_frame.h"
#include "archiver/engine/unzip/test_util.h"
#include "archiver/engine/unzip/unzip.h"
#include "archiver/engine/unzip/zip_directory.h"
#include "archiver/engine/zip/zip_writer.h"
#include "platform/dostime.h"

namespace zip {
namespace {

namespace fs = std::filesystem;
using engine::testing_util::RandomBytes;
using engine::testing_util::ReadFile;
using engine::testing_util::RunPython;
using engine::testing_util::TempDir;
using engine::testing_util::WriteFile;

std::vector<uint8_t> Text(const std::string& s) {
    return {s.begin(), s.end()};
}

void SetTime(const std::string& path, time_t t) {
    timespec times[2] = {{t, 0}, {t, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

// Runs ZIP against files of a temporary folder and records what it reports.
struct ZipTest : ::testing::Test {
    TempDir dir;
    TempDir outdir;  // apart, so that recursion in `dir` never meets extracted files
    std::string archive = dir / "a.zip";
    std::vector<std::string> warnings, errors, status;
    std::vector<platform::WPARAM> classes;
    platform::HWND hwnd = 0;

    void SetUp() override {
        ResetRun();
        engine::ResetFrame();
        hwnd = platform::CreateWindow(
            [this](platform::HWND, platform::UINT msg, platform::WPARAM wp, platform::LPARAM lp) {
                std::string text = lp ? reinterpret_cast<const char*>(lp) : "";
                if (msg == engine::kMsgWarning) warnings.push_back(text);
                if (msg == engine::kMsgError) {
                    errors.push_back(text);
                    classes.push_back(wp);
                }
                if (msg == engine::kMsgStatusText && wp != engine::kStatusLineOnly)
                    status.push_back(text);
                return platform::LRESULT{0};
            });
    }
    void TearDown() override {
        platform::DestroyWindow(hwnd);
        ResetRun();
    }

    std::string File(const std::string& name, const std::vector<uint8_t>& data) {
        std::string path = dir / name;
        fs::create_directories(fs::path(path).parent_path());
        WriteFile(path, data);
        return path;
    }
    int Zip(int action, std::vector<std::string> names, int level = 5) {
        ZipCommand cmd;
        cmd.action = action;
        cmd.archive = archive;
        cmd.names = std::move(names);
        cmd.level = level;
        cmd.method = level == 0 ? 0 : -1;
        cmd.report_window = hwnd;
        cmd.recurse = recurse;
        cmd.store_folder_names = store_folders;
        cmd.move = move;
        cmd.password_given = !password.empty();
        cmd.password = password;
        cmd.temp_folder = temp_folder;
        cmd.short_names = short_names;
        EXPECT_EQ(ZIP(cmd), 1);
        return cmd.result;
    }
    bool recurse = false, store_folders = false, move = false, short_names = false;
    std::string password, temp_folder;

    engine::ZipDirectory Directory() { return engine::ReadZipDirectory(archive); }
    // Extracts the archive with the engine's own reader; the map holds name -> bytes.
    std::map<std::string, std::vector<uint8_t>> Extract(int* result = nullptr) {
        std::string out = outdir / "out";
        fs::remove_all(out);
        fs::create_directories(out);
        engine::UnzipCommand u;
        u.archive = archive;
        u.has_target = true;
        u.target = out;
        u.overwrite_all = true;
        u.report_window = hwnd;
        u.password_given = !password.empty();
        u.password = password;
        u.start_offset = Directory().facts.first_local_offset;
        EXPECT_EQ(engine::UNZIP(u), 1);
        if (result) *result = u.result;
        std::map<std::string, std::vector<uint8_t>> files;
        for (const auto& e : fs::recursive_directory_iterator(out))
            if (e.is_regular_file())
                files[fs::relative(e.path(), out).string()] = ReadFile(e.path().string());
        return files;
    }
    // Names in the folder other than the archive and what the test made.
    bool NoTempFiles() {
        for (const auto& e : fs::directory_iterator(dir.path))
            if (e.path().filename().string().rfind("_Z", 0) == 0) return false;
        return true;
    }
};

TEST_F(ZipTest, EveryLevelRoundTripsThroughOurReader) {
    std::map<std::string, std::vector<uint8_t>> tree = {
        {"t/empty", {}},
        {"t/small.txt", Text("hello, world\n")},
        {"t/deep/a/b/c/d/e/f/rand.bin", RandomBytes(70000, 1)},
        {"t/big.txt", std::vector<uint8_t>(1200000, 'x')},
        {"t/mixed.bin", RandomBytes(3000, 2)},
    };
    time_t when = 1500000000;  // an even second
    for (auto& [name, data] : tree) SetTime(File(name, data), when += 86402);
    recurse = true;
    for (int level : {0, 1, 3, 5, 9}) {
        SCOPED_TRACE(level);
        fs::remove(archive);
        ASSERT_EQ(Zip(kActionAdd, {dir / "t"}, level), 0);
        auto dirs = Directory();
        for (const auto& e : dirs.entries) {
            EXPECT_EQ(e.header.flags & engine::kFlagDescriptor, 0);
            if (level == 0) {
                EXPECT_EQ(e.header.method, 0);
            }
        }
        auto got = Extract();
        ASSERT_EQ(got.size(), tree.size());
        for (auto& [name, data] : tree) {
            EXPECT_EQ(got[name], data) << name;
            struct stat a, b;
            ASSERT_EQ(stat((dir / name).c_str(), &a), 0);
            ASSERT_EQ(stat((outdir / "out/" + name).c_str(), &b), 0);
            EXPECT_EQ(a.st_mtime, b.st_mtime) << name;
        }
        EXPECT_TRUE(NoTempFiles());
    }
}

TEST_F(ZipTest, MemberFieldsForStoreOnlyNamesEmptyFilesAndPasswords) {
    std::string zipped = File("inner.ZIP", std::vector<uint8_t>(5000, 'a'));
    std::string empty = File("empty", {});
    std::string odd = File("odd.txt", Text("x"));
    SetTime(odd, platform::DosToTime(0x5A211000u) + 1);  // an odd second
    ASSERT_EQ(Zip(kActionAdd, {zipped, empty, odd}), 0);
    auto d = Directory();
    ASSERT_EQ(d.entries.size(), 3u);
    EXPECT_EQ(d.entries[0].header.method, 0);  // already an archive: stored below level 9
    EXPECT_EQ(d.entries[1].header.compressed_size, 0u);
    EXPECT_EQ(d.entries[2].header.DosDateTime(), 0x5A211001u);  // rounded up to even seconds
    EXPECT_EQ(d.entries[0].header.version_made >> 8, 3);
    EXPECT_EQ(d.entries[0].header.external_attr >> 16, 0100644u);

    ASSERT_EQ(Zip(kActionAdd, {zipped}, 9), 0);
    EXPECT_EQ(Directory().entries[0].header.method, 8);

    fs::remove(archive);
    password = "SECRET";
    ASSERT_EQ(Zip(kActionAdd, {empty, zipped}), 0);
    d = Directory();
    EXPECT_EQ(d.entries[0].header.compressed_size, 12u);
    EXPECT_EQ(d.entries[0].header.flags & 1, 1);
    auto got = Extract();
    EXPECT_EQ(got["inner.ZIP"], std::vector<uint8_t>(5000, 'a'));
    password = "wrong";
    int result = 0;
    Extract(&result);
    EXPECT_NE(result, 0);
}

TEST_F(ZipTest, NamesOutsideAsciiAreStoredAsUtf8WithFlag11) {
    std::string ascii = File("plain.txt", Text("0"));
    std::string latin = File("caf\xC3\xA9.txt", Text("1"));
    std::string cjk = File("\xE6\x97\xA5\xE6\x9C\xAC.txt", Text("2"));
    std::string raw = File("raw\xE9.txt", Text("3"));  // not UTF-8: kept as bytes, no flag
    ASSERT_EQ(Zip(kActionAdd, {ascii, latin, cjk, raw}), 0);
    auto d = Directory();
    ASSERT_EQ(d.entries.size(), 4u);
    const struct {
        const char* stored;
        bool utf8;
    } kWant[] = {{"plain.txt", false},
                 {"caf\xC3\xA9.txt", true},
                 {"\xE6\x97\xA5\xE6\x9C\xAC.txt", true},
                 {"raw\xE9.txt", false}};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(d.entries[i].name, kWant[i].stored);
        EXPECT_EQ((d.entries[i].header.flags & engine::kFlagUtf8) != 0, kWant[i].utf8)
            << kWant[i].stored;
    }
    auto got = Extract();
    EXPECT_EQ(got.count("caf\xC3\xA9.txt"), 1u);
    EXPECT_EQ(got.count("\xE6\x97\xA5\xE6\x9C\xAC.txt"), 1u);
}

TEST_F(ZipTest, AddReplacesUpdateAndFreshenCompareTimes) {
    std::string a = File("a.txt", Text("first"));
    std::string b = File("b.txt", Text("bee"));
    SetTime(a, 1600000000);
    SetTime(b, 1600000000);
    ASSERT_EQ(Zip(kActionAdd, {a, b}), 0);
    auto before = ReadFile(archive);

    // Same times: update and freshen leave the archive as it is.
    EXPECT_EQ(Zip(kActionUpdate, {a}), kResultNothingToDo);
    EXPECT_EQ(Zip(kActionFreshen, {a, b}), kResultNothingToDo);
    EXPECT_EQ(ReadFile(archive), before);

    WriteFile(a, Text("second"));
    SetTime(a, 1600000100);
    std::string c = File("c.txt", Text("sea"));
    EXPECT_EQ(Zip(kActionFreshen, {a, c}), 0);  // c is not a member: freshen ignores it
    auto got = Extract();
    EXPECT_EQ(got["a.txt"], Text("second"));
    EXPECT_EQ(got.count("c.txt"), 0u);

    EXPECT_EQ(Zip(kActionUpdate, {c}), 0);  // update adds new files
    WriteFile(b, Text("older content"));
    SetTime(b, 1500000000);
    EXPECT_EQ(Zip(kActionUpdate, {b}), kResultNothingToDo);  // the member is newer
    EXPECT_EQ(Zip(kActionAdd, {b}), 0);                      // add replaces regardless
    got = Extract();
    EXPECT_EQ(got["b.txt"], Text("older content"));
    EXPECT_EQ(got.size(), 3u);
}

TEST_F(ZipTest, DeleteEveryMemberLeavesAValidEmptyArchive) {
    std::string a = File("x/a.txt", Text("a"));
    std::string b = File("x/b.txt", Text("b"));
    ASSERT_EQ(Zip(kActionAdd, {a, b}), 0);
    recurse = true;  // the shell always deletes with recursion on
    ASSERT_EQ(Zip(kActionDelete, {"a.txt"}), 0);
    EXPECT_EQ(Extract().size(), 1u);
    ASSERT_EQ(Zip(kActionDelete, {"*.*"}), 0);
    EXPECT_EQ(fs::file_size(archive), 22u);
    EXPECT_EQ(Directory().status, engine::DirectoryStatus::kOk);
    // Deleting from an empty archive has nothing to do; the archive stays valid.
    EXPECT_EQ(Zip(kActionDelete, {"*.*"}), kResultNothingToDo);
    EXPECT_EQ(fs::file_size(archive), 22u);
}

TEST_F(ZipTest, MoveDeletesTheFilesThenTheEmptyFolders) {
    File("m/one.txt", Text("1"));
    File("m/sub/two.txt", Text("2"));
    recurse = true;
    move = true;
    ASSERT_EQ(Zip(kActionAdd, {dir / "m"}), 0);
    EXPECT_FALSE(fs::exists(dir / "m"));
    EXPECT_EQ(Extract().size(), 2u);
}

TEST_F(ZipTest, TheArchiveIsNeverAddedToItself) {
    File("one.txt", Text("1"));
    ASSERT_EQ(Zip(kActionAdd, {dir / "*.*"}), 0);
    ASSERT_EQ(Zip(kActionAdd, {dir / "*.*"}), 0);
    auto d = Directory();
    ASSERT_EQ(d.entries.size(), 1u);
    EXPECT_EQ(d.entries[0].name, "one.txt");
}

TEST_F(ZipTest, UnreadableFileKeepsTheOldMemberWithResult18) {
    std::string a = File("a.txt", Text("old"));
    std::string b = File("b.txt", Text("new file"));
    ASSERT_EQ(Zip(kActionAdd, {a}), 0);
    WriteFile(a, Text("changed"));
    zip::Run().open_file = [](const char*) {
        errno = EACCES;
        return -1;
    };
    EXPECT_EQ(Zip(kActionAdd, {a, b}), kResultNotRead);
    auto got = Extract();
    EXPECT_EQ(got["a.txt"], Text("old"));
    EXPECT_EQ(got.count("b.txt"), 0u);
    ASSERT_FALSE(warnings.empty());
    EXPECT_NE(warnings[0].find("could not open for reading: "), std::string::npos);
}

TEST_F(ZipTest, DuplicateStoredNamesAndEmptyRequests) {
    std::string one = File("p/x.txt", Text("1"));
    std::string two = File("q/x.txt", Text("2"));
    EXPECT_EQ(Zip(kActionAdd, {one, two}), kResultBadRequest);
    EXPECT_EQ(warnings.size(), 3u);
    ASSERT_FALSE(errors.empty());
    EXPECT_EQ(errors.back(), "Error: Invalid ZIP request (cannot repeat names in zip file)");
    EXPECT_FALSE(fs::exists(archive));
    EXPECT_EQ(Zip(kActionAdd, {dir / "nothing*.txt"}), kResultNothingToDo);
    EXPECT_EQ(classes.back(), static_cast<platform::WPARAM>(engine::kClassNothingToDo));
    EXPECT_TRUE(NoTempFiles());
}

// Every failure before the replace step leaves the old archive as it was and no temporary file.
TEST_F(ZipTest, FailuresKeepTheOldArchiveByteForByte) {
    std::string a = File("a.txt", RandomBytes(300000, 3));
    std::string b = File("b.txt", Text("bee"));
    ASSERT_EQ(Zip(kActionAdd, {b}), 0);
    const auto old = ReadFile(archive);

    // A read error in the middle of a file ends the run instead of cutting the member short.
    for (int level : {0, 5}) {
        auto reads = std::make_shared<int>(0);
        zip::Run().read_file = [reads](int fd, void* buf, size_t n) -> ssize_t {
            if (++*reads > 2) {
                errno = EIO;
                return -1;
            }
            return read(fd, buf, std::min<size_t>(n, 4096));
        };
        EXPECT_EQ(Zip(kActionAdd, {a}, level), engine::kZipRead);
        EXPECT_EQ(ReadFile(archive), old);
        EXPECT_TRUE(NoTempFiles());
    }

    // With a password, a file that changes between the CRC pass and the data pass.
    ResetRun();
    auto pass = std::make_shared<int>(0);
    zip::Run().read_file = [pass](int fd, void* buf, size_t n) -> ssize_t {
        ssize_t r = read(fd, buf, n);
        if (r > 0 && lseek(fd, 0, SEEK_CUR) == r) ++*pass;  // the first block of a pass
        if (r > 0 && *pass == 2) static_cast<uint8_t*>(buf)[0] ^= 1;
        return r;
    };
    password = "pw";
    EXPECT_EQ(Zip(kActionAdd, {a}), engine::kZipRead);
    EXPECT_EQ(ReadFile(archive), old);
    password.clear();

    // Limits of the 32-bit offsets and the 16-bit member count, checked before writing.
    ResetRun();
    zip::Run().max_archive_size = 100000;
    EXPECT_EQ(Zip(kActionAdd, {a}, 0), kResultTooBig);
    EXPECT_EQ(ReadFile(archive), old);
    ResetRun();
    zip::Run().max_members = 1;
    EXPECT_EQ(Zip(kActionAdd, {a}), kResultTooBig);
    EXPECT_EQ(classes.back(), static_cast<platform::WPARAM>(engine::kClassPassword));
    EXPECT_EQ(ReadFile(archive), old);
    EXPECT_TRUE(NoTempFiles());
}

TEST_F(ZipTest, ReplacingAcrossFileSystemsAndWhenRenameFails) {
    std::string a = File("a.txt", Text("a"));
    chmod(File("keep", {}).c_str(), 0644);
    ASSERT_EQ(Zip(kActionAdd, {a}), 0);
    chmod(archive.c_str(), 0640);
    // Another device: the new archive is copied beside the old one and renamed over it.
    zip::Run().rename_file = [](const char*, const char*) {
        errno = EXDEV;
        return -1;
    };
    std::string b = File("b.txt", Text("b"));
    ASSERT_EQ(Zip(kActionAdd, {b}), 0);
    EXPECT_EQ(Extract().size(), 2u);
    EXPECT_EQ(fs::status(archive).permissions(), fs::perms(0640));
    EXPECT_TRUE(NoTempFiles());

    // A rename that fails otherwise keeps the new archive under the archive's name in the
    // temporary folder and says so.
    const auto old = ReadFile(archive);
    zip::Run().rename_file = [](const char*, const char*) {
        errno = EACCES;
        return -1;
    };
    temp_folder = dir / "tmp";
    fs::create_directories(temp_folder);
    std::string c = File("c.txt", Text("c"));
    EXPECT_EQ(Zip(kActionAdd, {c}), kResultCreate);
    EXPECT_EQ(ReadFile(archive), old);
    ASSERT_FALSE(errors.empty());
    EXPECT_EQ(classes.back(), static_cast<platform::WPARAM>(engine::kClassReplaceFailed));
    EXPECT_NE(errors.back().find("New ZIP file left on disk as " + temp_folder + "/a.zip"),
              std::string::npos);
    EXPECT_TRUE(fs::exists(temp_folder + "/a.zip"));
}

TEST_F(ZipTest, OtherToolsArchivesAreUpdatedKeepingWhatTheyHold) {
    UNZIP_TEST_NEEDS("python3");
    // A program in front, members streamed with data descriptors, an extra field describing
    // the old file and one that does not, member and archive comments.
    ASSERT_TRUE(RunPython(dir, R"(
import io, struct, zipfile
raw = io.BytesIO()
class Unseekable(io.RawIOBase):
    def writable(self): return True
    def write(self, b): raw.write(b); return len(b)
with zipfile.ZipFile(Unseekable(), 'w', zipfile.ZIP_DEFLATED) as z:
    z.writestr('streamed.txt', 'streamed ' * 1000)
    i = zipfile.ZipInfo('keep.txt', (2020, 1, 2, 3, 4, 6))
    i.extra = struct.pack('<HHB', 0x5455, 1, 0) + struct.pack('<HH4s', 0xCAFE, 4, b'data')
    i.comment = b'member note'
    z.writestr(i, 'old')
    z.comment = b'archive note'
open('a.zip', 'wb').write(b'#!preamble\n' * 10 + raw.getvalue())
)"));
    std::string keep = File("keep.txt", Text("new"));
    ASSERT_EQ(Zip(kActionAdd, {keep}), 0) << (errors.empty() ? "" : errors.back());
    auto bytes = ReadFile(archive);
    std::string text(bytes.begin(), bytes.end());
    EXPECT_EQ(text.rfind("#!preamble\n", 0), 0u);
    EXPECT_NE(text.find("archive note"), std::string::npos);
    EXPECT_NE(text.find("member note"), std::string::npos);
    auto d = Directory();
    ASSERT_EQ(d.entries.size(), 2u);
    EXPECT_NE(d.entries[0].header.flags & engine::kFlagDescriptor, 0);  // copied as it was
    // Only 0xCAFE is kept, and the new extended-time field follows it.
    EXPECT_EQ(d.entries[1].header.extra_length, 8u + 9u);
    auto got = Extract();
    EXPECT_EQ(got["keep.txt"], Text("new"));
    EXPECT_EQ(got["streamed.txt"].size(), 9000u);
    ASSERT_TRUE(RunPython(dir, R"(
import zipfile
z = zipfile.ZipFile('a.zip')
assert z.testzip() is None
assert z.read('keep.txt') == b'new'
assert z.getinfo('keep.txt').extra[:2] == b'\xfe\xca'
)"));
}

TEST_F(ZipTest, DamagedArchivesAreRefusedAndLeftAlone) {
    std::string a = File("a.txt", Text("a"));
    WriteFile(archive, Text("this is not an archive at all"));
    EXPECT_EQ(Zip(kActionAdd, {a}), engine::kZipFormat);
    EXPECT_EQ(ReadFile(archive), Text("this is not an archive at all"));

    // Local and central headers that disagree.
    fs::remove(archive);
    ASSERT_EQ(Zip(kActionAdd, {a}), 0);
    auto bytes = ReadFile(archive);
    bytes[14] ^= 0xFF;  // the local CRC
    WriteFile(archive, bytes);
    EXPECT_EQ(Zip(kActionAdd, {File("b.txt", Text("b"))}), engine::kZipFormat);
    EXPECT_EQ(ReadFile(archive), bytes);

    // An empty file is an empty archive; anything else of size 0 is not removed.
    WriteFile(archive, {});
    EXPECT_EQ(Zip(kActionAdd, {a}), 0);
    EXPECT_EQ(Directory().entries.size(), 1u);
    fs::remove(archive);
    ASSERT_EQ(mkfifo(archive.c_str(), 0600), 0);
    EXPECT_EQ(Zip(kActionAdd, {a}), kResultCreate);
    EXPECT_TRUE(fs::is_fifo(archive));
}

TEST_F(ZipTest, ExtraFieldsThatDescribeTheOldFileAreDropped) {
    std::vector<uint8_t> extra = {0x55, 0x54, 1, 0, 7,                // times
                                  0xFE, 0xCA, 2, 0, 'o', 'k',         // kept
                                  0x75, 0x78, 0, 0,                   // owner
                                  0x01, 0x00, 8, 0, 1,   2,   3, 4};  // cut short
    EXPECT_EQ(KeepExtraFields(extra), (std::vector<uint8_t>{0xFE, 0xCA, 2, 0, 'o', 'k'}));
}

TEST_F(ZipTest, ShortNamesAreMarkedAsMadeOnDos) {
    std::string f = File("Long File Name.text", Text("x"));
    short_names = true;
    ASSERT_EQ(Zip(kActionAdd, {f}), 0);
    auto d = Directory();
    ASSERT_EQ(d.entries.size(), 1u);
    EXPECT_EQ(d.entries[0].name, "LONGFILE.TEX");
    EXPECT_EQ(d.entries[0].header.version_made, 20);
    EXPECT_LT(d.entries[0].header.external_attr, 256u);
}

TEST_F(ZipTest, SignalStopKeepsTheOldArchiveEvenForTinyRuns) {
    // A run too small to reach a progress check still stops before the old archive is
    // replaced.
    std::string a = File("a.txt", Text("first"));
    ASSERT_EQ(Zip(kActionAdd, {a}), 0);
    const auto before = ReadFile(archive);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        std::string b = File("b.txt", Text("second"));
        engine::RequestStopBySignal(sig);
        EXPECT_EQ(Zip(kActionAdd, {b}), kResultStopped) << sig;
        EXPECT_EQ(Zip(kActionDelete, {"a.txt"}), kResultStopped) << sig;
        engine::ClearStopSignal();
        EXPECT_EQ(ReadFile(archive), before) << sig;
        EXPECT_TRUE(NoTempFiles()) << sig;
    }
}

// A file that changes while it is read is archived as read: the member's sizes and CRC-32
// describe the bytes taken, whatever size the file had when opened, and reads that return a
// few bytes at a time change nothing.
TEST_F(ZipTest, MembersHoldTheBytesReadWhileTheirFilesChange) {
    const std::vector<uint8_t> original = RandomBytes(200000, 8);
    const std::vector<uint8_t> tail = RandomBytes(70000, 9);
    std::vector<uint8_t> grown = original;
    grown.insert(grown.end(), tail.begin(), tail.end());
    const std::string path = dir / "changing.bin";
    auto append = [&] {
        std::FILE* f = std::fopen(path.c_str(), "ab");
        ASSERT_NE(f, nullptr);
        ASSERT_EQ(std::fwrite(tail.data(), 1, tail.size(), f), tail.size());
        std::fclose(f);
    };
    auto cut_to = [&](off_t size) { ASSERT_EQ(::truncate(path.c_str(), size), 0); };
    auto first = [&](size_t n) {
        return std::vector<uint8_t>(original.begin(), original.begin() + static_cast<long>(n));
    };
    struct Case {
        const char* name;
        int change_at;  // the read (from 1) before which the file changes; 0: never
        std::function<void()> change;
        size_t most_per_read;
        std::vector<uint8_t> expected;
    };
    const Case cases[] = {
        {"a few bytes per read", 0, nullptr, 999, original},
        {"grew before the first read", 1, append, size_t{1} << 20, grown},
        {"grew in the middle", 2, append, 40000, grown},
        {"shrank before the first read", 1, [&] { cut_to(1000); }, size_t{1} << 20, first(1000)},
        {"shrank in the middle", 2, [&] { cut_to(100000); }, 40000, first(100000)},
        {"emptied", 1, [&] { cut_to(0); }, size_t{1} << 20, {}},
    };
    for (int level : {0, 5}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + ", level " + std::to_string(level));
            WriteFile(path, original);
            fs::remove(archive);
            auto reads = std::make_shared<int>(0);
            zip::Run().read_file = [&c, reads](int fd, void* buf, size_t n) -> ssize_t {
                if (++*reads == c.change_at) c.change();
                return ::read(fd, buf, std::min(n, c.most_per_read));
            };
            ASSERT_EQ(Zip(kActionAdd, {path}, level), 0);
            auto d = Directory();
            ASSERT_EQ(d.entries.size(), 1u);
            EXPECT_EQ(d.entries[0].header.uncompressed_size, c.expected.size());
            int result = -1;
            auto got = Extract(&result);
            EXPECT_EQ(result, 0);
            EXPECT_TRUE(got["changing.bin"] == c.expected);
        }
    }
}

// The output buffer's bookkeeping: whatever mix of small writes, writes larger than the
// buffer, data read in place and headers rewritten (still buffered, already written, or
// straddling the two), the file holds the bytes in order and the offset counts them.
TEST_F(ZipTest, TheArchiveOutputKeepsEveryByteInPlace) {
    struct Step {
        char kind;  // 'w' write, 'r' read in place, 'h' rewrite 30 bytes `back` bytes ago
        size_t size;
        size_t back;
    };
    const size_t big = kOutBufferSize;
    const std::vector<std::vector<Step>> plans = {
        {{'w', 100, 0}, {'r', 57344, 0}, {'h', 0, 57344 + 30}, {'w', 3, 0}},
        {{'w', big - 10, 0}, {'r', 57344, 0}, {'h', 0, 57344 + 20}},
        {{'w', 10, 0}, {'w', big + 5, 0}, {'h', 0, big + 15}, {'w', 7, 0}},
        {{'r', 1000, 0}, {'w', big, 0}, {'r', big, 0}, {'h', 0, 500}},
        {{'w', 40, 0}, {'r', 200, 0}, {'h', 0, 240}, {'r', big - 100, 0}, {'h', 0, big}},
    };
    uint8_t next = 1;
    for (size_t p = 0; p < plans.size(); ++p) {
        SCOPED_TRACE(p);
        OutArchive out;
        ASSERT_EQ(CreateTemp(dir.path.string(), out), 0);
        std::vector<uint8_t> model;
        for (const Step& s : plans[p]) {
            std::vector<uint8_t> bytes(s.kind == 'h' ? 30 : s.size);
            for (uint8_t& b : bytes) b = next++;
            if (s.kind == 'w') {
                ASSERT_TRUE(out.Write(bytes));
                model.insert(model.end(), bytes.begin(), bytes.end());
            } else if (s.kind == 'r') {
                std::span<uint8_t> room = out.Room(s.size);
                ASSERT_EQ(room.size(), s.size);
                std::copy(bytes.begin(), bytes.end(), room.begin());
                out.Commit(s.size);
                model.insert(model.end(), bytes.begin(), bytes.end());
            } else {
                ASSERT_TRUE(out.Rewrite(model.size() - s.back, bytes));
                std::copy(bytes.begin(), bytes.end(), model.end() - static_cast<long>(s.back));
            }
            ASSERT_EQ(out.pos, model.size());
        }
        EXPECT_TRUE(out.Room(big + 1).empty());
        ASSERT_TRUE(out.Flush());
        EXPECT_TRUE(ReadFile(out.path) == model);
        ::unlink(out.path.c_str());
    }
}

TEST_F(ZipTest, StopWhileWritingLeavesNothingBehind) {
    std::string a = File("a.txt", RandomBytes(300000, 4));
    engine::Frame().stop_requested = true;
    EXPECT_EQ(Zip(kActionAdd, {a}), kResultStopped);
    EXPECT_TRUE(errors.empty());
    EXPECT_FALSE(fs::exists(archive));
    EXPECT_TRUE(NoTempFiles());
}

TEST_F(ZipTest, FilesBeyondTheArchiveLimitAreSkippedWithAWarning) {
    std::string big = File("big.bin", {});
    std::error_code ec;
    fs::resize_file(big, uint64_t{1} << 32, ec);  // sparse: nothing is written
    if (ec) GTEST_SKIP() << ec.message();
    // Members of 4 GiB and more get 64-bit sizes; only a file that could not fit the archive
    // at all is left out before the run begins.
    zip::Run().max_file_size = uint64_t{1} << 32;
    EXPECT_EQ(Zip(kActionAdd, {big}), kResultNothingToDo);
    ASSERT_FALSE(warnings.empty());
    EXPECT_EQ(
        warnings[0],
        "Warning: The file is too big to be stored in a zip file and will be skipped: " + big);
}

TEST_F(ZipTest, ASecondCallWhileBusyReturnsZero) {
    engine::Frame().busy = true;
    ZipCommand cmd;
    EXPECT_EQ(ZIP(cmd), 0);
    engine::Frame().busy = false;
}

}  // namespace
}  // namespace zip
