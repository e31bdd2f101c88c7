#include "archiver/engine/zip/update_reader.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "archiver/engine/unzip/crc32.h"
#include "archiver/engine/unzip/engine_frame.h"
#include "archiver/engine/unzip/test_util.h"
#include "archiver/engine/unzip/zip_records.h"

namespace zip {
namespace {

using engine::testing_util::TempDir;
using engine::testing_util::WriteFile;

struct Entry {
    std::string name;
    std::string data;
    bool descriptor = false;       // data descriptor after the data
    bool sizes_in_local = true;    // with a descriptor: also in the local header
    uint16_t version_needed = 10;  // central copy
};

struct Layout {
    std::string preamble;
    bool absolute_offsets = false;  // offsets count the preamble too
    bool reverse_central = false;
    int64_t size_error = 0;    // added to the end record's directory size
    int64_t offset_error = 0;  // added to the end record's directory offset
    std::string trailing;
};

void Put(std::vector<uint8_t>& out, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void Append(std::vector<uint8_t>& out, const std::string& s) {
    out.insert(out.end(), s.begin(), s.end());
}

// A stored archive laid out as told, written byte by byte like the format note describes.
std::vector<uint8_t> Build(const std::vector<Entry>& entries, const Layout& layout = {}) {
    std::vector<uint8_t> out(layout.preamble.begin(), layout.preamble.end());
    uint32_t base = layout.absolute_offsets ? 0 : static_cast<uint32_t>(layout.preamble.size());
    std::vector<uint32_t> offsets;
    std::vector<uint32_t> crcs;
    for (const Entry& e : entries) {
        uint32_t crc = engine::Crc32(
            0, std::span(reinterpret_cast<const uint8_t*>(e.data.data()), e.data.size()));
        crcs.push_back(crc);
        offsets.push_back(static_cast<uint32_t>(out.size()) - base);
        bool zero = e.descriptor && !e.sizes_in_local;
        Put(out, engine::kLocalSig, 4);
        Put(out, 10, 2);
        Put(out, e.descriptor ? 8 : 0, 2);
        Put(out, 0, 2);
        Put(out, 0x1234, 2);
        Put(out, 0x5678, 2);
        Put(out, zero ? 0 : crc, 4);
        Put(out, zero ? 0 : static_cast<uint32_t>(e.data.size()), 4);
        Put(out, zero ? 0 : static_cast<uint32_t>(e.data.size()), 4);
        Put(out, static_cast<uint32_t>(e.name.size()), 2);
        Put(out, 0, 2);
        Append(out, e.name);
        Append(out, e.data);
        if (e.descriptor) {
            Put(out, engine::kDescriptorSig, 4);
            Put(out, crc, 4);
            Put(out, static_cast<uint32_t>(e.data.size()), 4);
            Put(out, static_cast<uint32_t>(e.data.size()), 4);
        }
    }
    uint32_t central = static_cast<uint32_t>(out.size());
    std::vector<size_t> order(entries.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = layout.reverse_central ? order.size() - 1 - i : i;
    for (size_t i : order) {
        const Entry& e = entries[i];
        Put(out, engine::kCentralSig, 4);
        Put(out, 20, 2);
        Put(out, e.version_needed, 2);
        Put(out, e.descriptor ? 8 : 0, 2);
        Put(out, 0, 2);
        Put(out, 0x1234, 2);
        Put(out, 0x5678, 2);
        Put(out, crcs[i], 4);
        Put(out, static_cast<uint32_t>(e.data.size()), 4);
        Put(out, static_cast<uint32_t>(e.data.size()), 4);
        Put(out, static_cast<uint32_t>(e.name.size()), 2);
        Put(out, 0, 2);
        Put(out, 0, 2);
        Put(out, 0, 2);
        Put(out, 0, 2);
        Put(out, 0, 4);
        Put(out, offsets[i], 4);
        Append(out, e.name);
    }
    uint32_t size = static_cast<uint32_t>(out.size()) - central;
    Put(out, engine::kEndSig, 4);
    Put(out, 0, 4);
    Put(out, static_cast<uint32_t>(entries.size()), 2);
    Put(out, static_cast<uint32_t>(entries.size()), 2);
    Put(out, static_cast<uint32_t>(size + layout.size_error), 4);
    Put(out, static_cast<uint32_t>(central - base + layout.offset_error), 4);
    Put(out, 0, 2);
    Append(out, layout.trailing);
    return out;
}

struct UpdateReaderTest : ::testing::Test {
    TempDir dir;
    std::string path = dir / "a.zip";
    std::vector<std::string> warnings;
    platform::HWND hwnd = 0;
    OldArchive old;

    void SetUp() override {
        engine::ResetFrame();
        hwnd = platform::CreateWindow(
            [this](platform::HWND, platform::UINT msg, platform::WPARAM, platform::LPARAM lp) {
                if (msg == engine::kMsgWarning) warnings.push_back(reinterpret_cast<char*>(lp));
                return platform::LRESULT{0};
            });
        engine::Frame().report_window = hwnd;
    }
    void TearDown() override { platform::DestroyWindow(hwnd); }
    int Read(const std::vector<uint8_t>& bytes) {
        WriteFile(path, bytes);
        warnings.clear();
        return ReadForUpdate(path, old);
    }
};

TEST_F(UpdateReaderTest, DescriptorsPreamblesAndCentralOrder) {
    Entry streamed{"s.txt", "data PK\x07\x08 with a signature inside", true, false};
    Entry sized{"k.txt", "known", true, true};
    Entry plain{"p.txt", "plain"};
    ASSERT_EQ(Read(Build({streamed, sized, plain})), 0) << warnings.size();
    ASSERT_EQ(old.members.size(), 3u);
    EXPECT_EQ(old.members[0].compressed_size, streamed.data.size());
    EXPECT_EQ(old.members[0].crc,
              engine::Crc32(0, std::span(reinterpret_cast<const uint8_t*>(streamed.data.data()),
                                         streamed.data.size())));
    EXPECT_TRUE(warnings.empty());

    for (bool absolute : {false, true}) {
        Layout l;
        l.preamble = std::string(100, '#');
        l.absolute_offsets = absolute;
        l.reverse_central = true;
        ASSERT_EQ(Read(Build({sized, plain}, l)), 0);
        EXPECT_EQ(old.preamble, 100u);
        ASSERT_EQ(old.members.size(), 2u);
        EXPECT_EQ(old.members[0].name, "p.txt");  // the central directory's order
        EXPECT_EQ(old.members[0].local_offset, 100u + 30 + 5 + 5 + 16);
        EXPECT_EQ(old.members[1].local_offset, 100u);
    }
}

TEST_F(UpdateReaderTest, WarningsThatDoNotStopTheRun) {
    Layout l;
    l.size_error = 4;
    l.trailing = "junk";
    ASSERT_EQ(Read(Build({{"a", "1"}}, l)), 0);
    ASSERT_EQ(warnings.size(), 2u);
    EXPECT_EQ(warnings[0], "Warning: central directory size is incorrect (made by stzip?)");
    EXPECT_EQ(warnings[1], "Warning: garbage at end of zip file ignored");
}

TEST_F(UpdateReaderTest, DamagedArchivesEndWithTheirResult) {
    Layout bad_offset;
    bad_offset.offset_error = 1;
    EXPECT_EQ(Read(Build({{"a", "1"}}, bad_offset)), kResultFormat);
    EXPECT_EQ(warnings.back(), "Warning: central directory start is incorrect");

    Entry newer{"n", "x"};
    newer.version_needed = 46;  // 4.5, the 64-bit records, is copied as it is
    EXPECT_EQ(Read(Build({newer})), kResultUnsupported);
    EXPECT_EQ(warnings.back(), "Warning: n requires an unsupported zip compression scheme");

    auto bytes = Build({{"abc", "xyz"}});
    bytes[14] ^= 1;  // local CRC
    EXPECT_EQ(Read(bytes), kResultFormat);
    ASSERT_EQ(warnings.size(), 2u);
    EXPECT_EQ(warnings[0], "Warning: local and central headers differ for abc");
    EXPECT_EQ(warnings[1].rfind("Warning:  offset 10--local = ", 0), 0u) << warnings[1];

    bytes = Build({{"abc", "xyz", true, true}});
    bytes[30 + 3 + 3] = 'Q';  // the descriptor's signature
    EXPECT_EQ(Read(bytes), kResultFormat);
    EXPECT_EQ(warnings.back(), "Warning: extended local header not found for abc");

    bytes = Build({{"abc", "xyz"}});
    EXPECT_EQ(Read(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 40)), kResultEof);
    EXPECT_EQ(Read(std::vector<uint8_t>(100, 'x')), kResultFormat);
    EXPECT_EQ(warnings.back(), "Warning: missing end signature--probably not a zip file");

    bytes = Build({{"abc", "xyz"}});
    bytes[26] = 0;  // local name length
    EXPECT_EQ(Read(bytes), kResultFormat);
    EXPECT_EQ(warnings.back(), "Warning: zero-length name for entry #1");
}

TEST_F(UpdateReaderTest, MissingAndEmptyFilesAreEmptyArchives) {
    EXPECT_EQ(ReadForUpdate(dir / "none.zip", old), 0);
    EXPECT_TRUE(old.members.empty());
    EXPECT_EQ(Read({}), 0);
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(UpdateReaderNames, LookupFoldsOnlyAsciiLetters) {
    OldArchive a;
    for (const char* n : {"b/Z.txt", "A.TXT", "\xC3\x89.txt", "a.txu"}) {
        Member m;
        m.name = n;
        a.members.push_back(m);
    }
    SortMembers(a);
    EXPECT_EQ(FindMember(a, "a.txt"), 1);
    EXPECT_EQ(FindMember(a, "B/z.TXT"), 0);
    EXPECT_EQ(FindMember(a, "\xC3\xA9.txt"), -1);  // only A-Z fold
    EXPECT_EQ(FindMember(a, "\xC3\x89.txt"), 2);
    EXPECT_LT(CompareNames("a", "B"), 0);
    EXPECT_LT(CompareNames("_", "a"), 0);  // '_' sorts before the folded letters
}

}  // namespace
}  // namespace zip
