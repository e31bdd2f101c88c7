#include "archiver/engine/unzip/read_ahead.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <random>

#include "archiver/engine/unzip/file_io.h"
#include "archiver/engine/unzip/test_util.h"
#include "archiver/engine/unzip/unzip.h"

namespace engine {
namespace {

using testing_util::RandomBytes;
using testing_util::TempDir;
using testing_util::WriteFile;

constexpr size_t W = ReadAhead::kWindow;

class ReadAheadTest : public ::testing::Test {
protected:
    // A file of `size` known bytes, open for reading.
    void Make(size_t size) {
        bytes_ = RandomBytes(size, static_cast<uint32_t>(size));
        WriteFile(dir_ / "f", bytes_);
        fd_ = UniqueFd(::open((dir_ / "f").c_str(), O_RDONLY | O_CLOEXEC));
        ASSERT_TRUE(fd_);
    }
    // What a plain read at the offset returns.
    std::vector<uint8_t> Expected(uint64_t at, size_t n) const {
        if (at >= bytes_.size()) return {};
        size_t k = std::min<uint64_t>(n, bytes_.size() - at);
        return {bytes_.begin() + static_cast<ptrdiff_t>(at),
                bytes_.begin() + static_cast<ptrdiff_t>(at + k)};
    }
    std::vector<uint8_t> Read(ReadAhead& r, uint64_t at, size_t n) {
        std::vector<uint8_t> buf(n, 0xEE);
        ssize_t got = r.Read(buf.data(), n, at);
        EXPECT_GE(got, 0);
        buf.resize(static_cast<size_t>(std::max<ssize_t>(got, 0)));
        return buf;
    }

    TempDir dir_;
    std::vector<uint8_t> bytes_;
    UniqueFd fd_;
};

TEST_F(ReadAheadTest, ReadsMatchTheFileAndCountFills) {
    // Each case reads in order on one window; `reads` is how many times the file was read
    // after all of them.
    struct Step {
        uint64_t at;
        size_t n;
    };
    struct Case {
        const char* what;
        size_t file;
        std::vector<Step> steps;
        uint64_t reads;
    } cases[] = {
        {"small pieces from one fill",
         3 * W,
         {{0, 4}, {4, 26}, {30, 9}, {39, 3000}, {5000, 12}},
         1},
        {"a piece across the window's end", 3 * W, {{0, 4}, {W - 10, 30}, {W + 20, 8}}, 2},
        {"backwards into the window", 3 * W, {{0, 10}, {500, 10}, {20, 10}, {W - 1, 1}}, 1},
        {"before the window", 3 * W, {{500, 10}, {499, 2}}, 2},
        {"large reads bypass the window and keep it",
         4 * W,
         {{0, 30}, {2 * W, W}, {3 * W, ReadAhead::kDirectFrom}, {40, 100}},
         3},
        {"the rest of a piece far from the window is read directly",
         3 * W,
         {{0, 10}, {W - 100, ReadAhead::kDirectFrom + 100}},
         2},
        {"a short file", 100, {{0, 4}, {4, 96}, {50, 10}}, 1},
        {"past the end", 100, {{90, 20}, {100, 5}, {5000, 5}}, 4},
        {"an empty file", 0, {{0, 4}}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Make(c.file);
        ReadAhead r(fd_.get(), c.file);
        for (const Step& s : c.steps) {
            SCOPED_TRACE(std::to_string(s.at) + "+" + std::to_string(s.n));
            EXPECT_EQ(Read(r, s.at, s.n), Expected(s.at, s.n));
        }
        EXPECT_EQ(r.reads(), c.reads);
    }
}

TEST_F(ReadAheadTest, AFillLimitedToAHeaderReadsTheRestLater) {
    Make(3 * W);
    ReadAhead r(fd_.get(), bytes_.size());
    r.ExpectOnly(64);
    EXPECT_EQ(Read(r, 1000, 30), Expected(1000, 30));
    EXPECT_EQ(Read(r, 1030, 30), Expected(1030, 30));  // inside the 64 bytes
    EXPECT_EQ(r.reads(), 1u);
    EXPECT_EQ(Read(r, 1060, 30), Expected(1060, 30));  // past them: a full fill again
    EXPECT_EQ(Read(r, 1090 + W / 2, 30), Expected(1090 + W / 2, 30));
    EXPECT_EQ(r.reads(), 2u);
    // A limit below the read asked for still gives the whole read.
    r.ExpectOnly(4);
    EXPECT_EQ(Read(r, 5 * W / 2, 500), Expected(5 * W / 2, 500));
}

TEST_F(ReadAheadTest, AFileChangedUnderTheRun) {
    // Grown: what lies past the size the run began with is still read. Cut: the reads come
    // out short, as plain reads would, and end.
    Make(2 * W);
    ReadAhead grown(fd_.get(), W);
    auto more = RandomBytes(100, 5);
    bytes_.insert(bytes_.end(), more.begin(), more.end());
    WriteFile(dir_ / "f", bytes_);
    EXPECT_EQ(Read(grown, W - 10, 40), Expected(W - 10, 40));
    EXPECT_EQ(Read(grown, 2 * W + 50, 100), Expected(2 * W + 50, 100));

    Make(2 * W);
    ReadAhead cut(fd_.get(), bytes_.size());
    ASSERT_EQ(::truncate((dir_ / "f").c_str(), W + 5), 0);
    bytes_.resize(W + 5);
    EXPECT_EQ(Read(cut, W - 10, 40), Expected(W - 10, 40));
    EXPECT_EQ(Read(cut, W + 100, 40), Expected(W + 100, 40));

    ReadAhead broken(-1, 1000);
    uint8_t b[8];
    EXPECT_EQ(broken.Read(b, sizeof b, 0), -1);
    EXPECT_EQ(broken.Read(b, sizeof b, 4), -1);
}

TEST_F(ReadAheadTest, RandomReadsMatchPlainReads) {
    Make(5 * W + 333);
    std::mt19937 rng(17);
    for (int round = 0; round < 20; ++round) {
        ReadAhead r(fd_.get(), bytes_.size());
        uint64_t at = 0;
        for (int i = 0; i < 200; ++i) {
            size_t n = rng() % 8 == 0 ? rng() % (2 * W) : rng() % 600;
            // Mostly forward, as a walk goes, now and then anywhere.
            at = rng() % 10 == 0 ? rng() % (bytes_.size() + 100) : at + rng() % 3000;
            if (rng() % 7 == 0) r.ExpectOnly(rng() % 2000);
            ASSERT_EQ(Read(r, at, n), Expected(at, n)) << at << "+" << n;
            if (at > bytes_.size()) at = 0;
        }
    }
}

// Whole runs whose headers, data and descriptors lie across the window's end at every offset.
class WindowEdgesTest : public ::testing::Test {
protected:
    void SetUp() override { UNZIP_TEST_NEEDS("python3"); }
    void TearDown() override {
        ResetUnzip();
        ResetFrame();
    }
    int Run(unsigned threads, const std::string& archive, const std::string& target) {
        ResetUnzip();
        ResetFrame();
        Unzip().max_name_length = [](const std::string&) { return 255L; };
        Unzip().threads = threads;
        testing_util::Recorder r;
        int result = testing_util::RunUnzip(dir_, archive, target, r);
        errors_ = r.Joined(kMsgError);
        return result;
    }
    // Every file below a folder of the temp folder and its contents.
    std::map<std::string, std::string> Tree(const std::string& rel) {
        std::map<std::string, std::string> files;
        if (!std::filesystem::exists(dir_ / rel)) return files;
        for (const auto& e : std::filesystem::recursive_directory_iterator(dir_ / rel)) {
            if (!e.is_regular_file()) continue;
            auto b = testing_util::ReadFile(e.path().string());
            files[std::filesystem::relative(e.path(), dir_ / rel).string()] = {b.begin(), b.end()};
        }
        return files;
    }

    TempDir dir_;
    std::string errors_;
};

TEST_F(WindowEdgesTest, MembersAcrossTheWindowEndComeOutWhole) {
    // The second member's local header starts `shift` bytes before the window's end, for
    // every shift from inside its data to before its signature; written with sizes in the
    // header and streamed with data descriptors. Python's reading of each archive is the
    // expected output ("want/").
    ASSERT_TRUE(testing_util::RunPython(dir_, R"(
import zipfile, os
class Unseekable:
    def __init__(self, f): self.f = f
    def write(self, b): return self.f.write(b)
    def flush(self): self.f.flush()
W = 65536
second = bytes(range(256)) * 9
for streamed in (0, 1):
    for shift in range(0, 90, 3):
        name = 'e%d_%02d.zip' % (streamed, shift)
        # The first member's header is 30 + 7 bytes, its data fills the rest up to the shift.
        pad = b'p' * (W - shift - 37 - (16 if streamed else 0))
        with open(name, 'wb') as f:
            out = Unseekable(f) if streamed else f
            with zipfile.ZipFile(out, 'w') as z:
                z.writestr('pad.bin', pad)
                z.writestr('sub/second.bin', second, compress_type=zipfile.ZIP_DEFLATED)
                z.writestr('third.txt', 'third' * 50)
        zipfile.ZipFile(name).extractall('want_' + name)
)"));
    size_t archives = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir_.path)) {
        std::string name = e.path().filename().string();
        if (name.rfind("e", 0) != 0 || e.path().extension() != ".zip") continue;
        ++archives;
        for (unsigned threads : {1u, 2u}) {
            SCOPED_TRACE(name + ", threads " + std::to_string(threads));
            std::string out = "got_" + std::to_string(threads) + name;
            ASSERT_EQ(Run(threads, name, out), kUnzipOk) << errors_;
            EXPECT_EQ(Tree(out), Tree("want_" + name));
        }
    }
    EXPECT_EQ(archives, 60u);
}

TEST_F(WindowEdgesTest, EncryptedSmallMembersThroughOneWindow) {
    // Many small encrypted members, their cipher headers and data read from shared windows.
    UNZIP_TEST_NEEDS("7zz");
    std::mt19937 rng(23);
    std::filesystem::create_directories(dir_ / "src/in");
    for (int i = 0; i < 150; ++i) {
        auto bytes = RandomBytes(rng() % 3000, static_cast<uint32_t>(i));
        if (i % 2) std::fill(bytes.begin(), bytes.begin() + bytes.size() / 2, 'a');
        WriteFile(dir_ / ("src/" + std::string(i % 3 ? "in/" : "") + "f" + std::to_string(i)),
                  bytes);
    }
    std::string cmd =
        "cd '" + (dir_ / "src") + "' && 7zz a -tzip -mem=ZipCrypto -pPW ../enc.zip . >/dev/null";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    for (unsigned threads : {1u, 2u}) {
        SCOPED_TRACE("threads " + std::to_string(threads));
        std::string out = "enc" + std::to_string(threads);
        ResetUnzip();
        ResetFrame();
        Unzip().max_name_length = [](const std::string&) { return 255L; };
        Unzip().threads = threads;
        testing_util::Recorder r;
        EXPECT_EQ(testing_util::RunUnzip(dir_, "enc.zip", out, r,
                                         [](UnzipCommand& c) {
                                             c.password_given = true;
                                             c.password = "PW";
                                         }),
                  kUnzipOk)
            << r.Joined(kMsgError);
        EXPECT_EQ(Tree(out), Tree("src"));
    }
}

TEST_F(WindowEdgesTest, AnArchiveCutInsideItsLastHeader) {
    // No directory: the walk reads local headers, and the last one ends early at every byte.
    // The members before it come out whole; nothing is left of the cut one.
    ASSERT_TRUE(testing_util::RunPython(dir_, R"(
import zipfile
with zipfile.ZipFile('whole.zip', 'w') as z:
    for i in range(40):
        z.writestr('m%02d.txt' % i, ('member %d ' % i) * (i * 7), compress_type=zipfile.ZIP_DEFLATED)
    z.writestr('last/cut.txt', 'never whole')
)"));
    auto whole = testing_util::ReadFile(dir_ / "whole.zip");
    std::string all(whole.begin(), whole.end());
    size_t header = all.rfind("PK\x03\x04");
    ASSERT_NE(header, std::string::npos);
    size_t data = header + 30 + 12;
    for (size_t cut = header; cut <= data + 5; ++cut) {
        SCOPED_TRACE("cut at " + std::to_string(cut - header));
        WriteFile(dir_ / "cut.zip", {whole.begin(), whole.begin() + static_cast<ptrdiff_t>(cut)});
        for (unsigned threads : {1u, 2u}) {
            std::string out = "cut" + std::to_string(cut) + "_" + std::to_string(threads);
            EXPECT_EQ(Run(threads, "cut.zip", out), kUnzipError);
            auto got = Tree(out);
            EXPECT_EQ(got.size(), 40u);
            EXPECT_EQ(got["m39.txt"].size(), std::string("member 39 ").size() * 39 * 7);
            EXPECT_EQ(got.count("last/cut.txt"), 0u);
            std::filesystem::remove_all(dir_ / out);
        }
    }
}

}  // namespace
}  // namespace engine
