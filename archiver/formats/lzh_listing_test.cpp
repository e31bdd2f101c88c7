#include "archiver/formats/lzh_listing.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "archiver/engine/unzip/test_util.h"

namespace formats {
namespace {

using engine::testing_util::ReadFile;
using engine::testing_util::RunPython;
using engine::testing_util::TempDir;
using engine::testing_util::WriteFile;

// Headers of levels 0, 1 and 2 written from the published layout, the data stored (-lh0-).
const char* const kMakeLzh = R"(
import struct
def crc16(data):
    crc = 0
    for b in data:
        crc ^= b
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return crc
DOS = 0x52644a63  # 2021-03-04 09:19:06
def lvl0(name, data):
    h = b'-lh0-' + struct.pack('<IIIBB', len(data), len(data), DOS, 0x20, 0)
    h += bytes([len(name)]) + name + struct.pack('<H', crc16(data))
    return bytes([len(h), sum(h) & 0xFF]) + h + data
def lvl1(name, folder, data):
    ext = b'\x02' + folder + b'\0\0' if folder else b''
    h = b'-lh0-' + struct.pack('<IIIBB', len(data) + len(ext), len(data), DOS, 0x20, 1)
    h += bytes([len(name)]) + name + struct.pack('<H', crc16(data)) + b'U' + struct.pack('<H', len(ext))
    return bytes([len(h), sum(h) & 0xFF]) + h + ext + data
def lvl2(name, folder, data, when=1614849546):
    # each extended header's size goes in the field before it
    parts = []
    for t, v in ((1, name), (2, folder)):
        if v:
            parts.append(bytes([t]) + v)
    body = b''
    sizes = [len(p) + 2 for p in parts] + [0]
    for p, nxt in zip(parts, sizes[1:]):
        body += p + struct.pack('<H', nxt)
    total = 26 + len(body)
    h = struct.pack('<H', total) + b'-lh0-' + struct.pack('<IIIBB', len(data), len(data), when, 0x20, 2)
    h += struct.pack('<H', crc16(data)) + b'U' + struct.pack('<H', sizes[0])
    return h + body + data
arc = lvl0(b'a.txt', b'hello\n') + lvl0(b'DOS\\PATH\xffB.TXT', b'dos') + \
      lvl1(b'c.txt', b'one\xfftwo', b'in folder') + lvl2(b'd.txt', b'lvl2\xffsub', b'level two') + b'\0'
open('mixed.lzh', 'wb').write(arc)
open('sfx.lzh', 'wb').write(b'MZ' + b'\x90' * 5000 + b'-lh' + b'\x90' * 3000 + arc)
)";

class LzhListingTest : public ::testing::Test {
protected:
    void SetUp() override {
        UNZIP_TEST_NEEDS("python3");
        ASSERT_TRUE(RunPython(dir, kMakeLzh));
        bytes = ReadFile(dir / "mixed.lzh");
    }
    bool List(const std::vector<uint8_t>& data) {
        WriteFile(dir / "x.lzh", data);
        members.clear();
        error.clear();
        return ReadLzhListing(dir / "x.lzh", members, error);
    }
    TempDir dir;
    std::vector<uint8_t> bytes;
    std::vector<ListedMember> members;
    std::string error;
};

TEST_F(LzhListingTest, HeaderLevelsZeroOneAndTwo) {
    for (const char* file : {"mixed.lzh", "sfx.lzh"}) {
        members.clear();
        ASSERT_TRUE(ReadLzhListing(dir / file, members, error)) << file << ": " << error;
        ASSERT_EQ(members.size(), 4u) << file;
        struct Want {
            const char* name;
            uint64_t size;
        } want[] = {
            {"a.txt", 6}, {"DOS/PATH/B.TXT", 3}, {"one/two/c.txt", 9}, {"lvl2/sub/d.txt", 9}};
        for (size_t i = 0; i < 4; ++i) {
            EXPECT_EQ(members[i].name, want[i].name) << file;
            EXPECT_EQ(members[i].size, want[i].size) << file;
            EXPECT_EQ(members[i].packed, want[i].size) << file;
        }
        EXPECT_EQ(members[0].dos_datetime, 0x52644a63u);
        EXPECT_EQ(members[0].crc, 0x5A34u) << "CRC-16 of \"hello\\n\"";
    }
}

TEST_F(LzhListingTest, DamagedCopies) {
    size_t second = 2 + bytes[0] + 6;  // the first header and its 6 data bytes
    struct Case {
        const char* what;
        std::function<void(std::vector<uint8_t>&)> damage;
        const char* error;
        size_t kept;
    } cases[] = {
        {"not an archive", [](auto& b) { b.assign(300, 'x'); },
         "File does not appear to be a valid LZH archive", 0},
        {"checksum of the second header", [&](auto& b) { b[second + 1] ^= 1; },
         "Header checksum error", 1},
        {"method of the second header", [&](auto& b) { b[second + 4] = '-'; }, "Bad header", 1},
        {"data size past the end",
         [&](auto& b) {
             b[second + 10] = 0x7F;
             b[second + 1] = static_cast<uint8_t>(b[second + 1] + 0x7F);
         },
         kUnexpectedEnd, 1},
        {"cut inside the last header", [](auto& b) { b.erase(b.end() - 20, b.end()); },
         kUnexpectedEnd, 3},
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> b = bytes;
        c.damage(b);
        EXPECT_FALSE(List(b)) << c.what;
        EXPECT_EQ(error, c.error) << c.what;
        EXPECT_EQ(members.size(), c.kept) << c.what;
    }
    // Without the end byte the archive still ends at the end of the file.
    std::vector<uint8_t> b = bytes;
    b.pop_back();
    EXPECT_TRUE(List(b)) << error;
    EXPECT_EQ(members.size(), 4u);
}

// Random damage: every result is a known message, and what is listed stays within the file.
TEST_F(LzhListingTest, RandomDamageStaysBounded) {
    std::mt19937 rng(7);
    for (int round = 0; round < 800; ++round) {
        std::vector<uint8_t> b = bytes;
        for (int k = 0; k < 3; ++k) b[rng() % b.size()] = static_cast<uint8_t>(rng());
        if (round % 7 == 0) b.erase(b.begin() + rng() % b.size(), b.end());
        bool ok = List(b);
        if (!ok) {
            EXPECT_TRUE(error == kUnexpectedEnd || error == "Bad header" ||
                        error == "Header checksum error" ||
                        error == "File does not appear to be a valid LZH archive")
                << error;
        }
        EXPECT_LE(members.size(), b.size() / 22);
        for (const auto& m : members) EXPECT_LE(m.packed, b.size());
    }
}

// The published archives of many LHA versions: every one lists without error and names
// something; the hostile ones keep their names for the extraction check to refuse.
TEST(LzhPublishedArchives, ListWithoutError) {
    const char* testdata = std::getenv("TESTDATA");
    std::filesystem::path root = std::string(testdata ? testdata : "") + "/lzh";
    if (!testdata || !std::filesystem::is_directory(root))
        GTEST_SKIP() << "no published LZH archives";
    int listed = 0;
    for (const auto& e : std::filesystem::recursive_directory_iterator(root)) {
        if (e.path().extension() != ".lzh" && e.path().extension() != ".LZH") continue;
        std::vector<ListedMember> members;
        std::string error;
        bool ok = ReadLzhListing(e.path().string(), members, error);
        // Level 3 headers are not read; a truncated archive ends with an error.
        if (e.path().filename() == "truncated.lzh" ||
            e.path().filename().string().starts_with("h3_")) {
            EXPECT_FALSE(ok) << e.path();
            continue;
        }
        EXPECT_TRUE(ok) << e.path() << ": " << error;
        ++listed;
    }
    EXPECT_GT(listed, 10);
    std::vector<ListedMember> members;
    std::string error;
    if (ReadLzhListing((root / "regression/dotdot.lzh").string(), members, error)) {
        ASSERT_FALSE(members.empty());
        EXPECT_NE(members[0].name.find(".."), std::string::npos);
    }
}

}  // namespace
}  // namespace formats
