#include "archiver/formats/arj_listing.h"

#include <gtest/gtest.h>

#include <random>

#include "archiver/engine/unzip/crc32.h"
#include "archiver/engine/unzip/test_util.h"

namespace formats {
namespace {

using engine::testing_util::ReadFile;
using engine::testing_util::TempDir;
using engine::testing_util::WriteFile;

// An archive made by the ARJ port: two files in the top folder and one below, one of them
// larger than a buffer of the reader.
class ArjListingTest : public ::testing::Test {
protected:
    void SetUp() override {
        UNZIP_TEST_NEEDS("arj");
        std::string cmd = "cd '" + dir.path.string() +
                          "' && mkdir -p src/sub && printf 'hello\\n' > src/a.txt && "
                          "head -c 200000 /dev/urandom > src/sub/big.bin && "
                          "printf 'x' > 'src/with blank.txt' && touch -d '2021-03-04 05:06:08' "
                          "src/a.txt && cd src && arj a -r -y ../t.arj a.txt sub 'with blank.txt' "
                          ">/dev/null";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
        bytes = ReadFile(dir / "t.arj");
        ASSERT_GT(bytes.size(), 200000u);
    }
    bool List(const std::vector<uint8_t>& data) {
        WriteFile(dir / "x.arj", data);
        members.clear();
        error.clear();
        return ReadArjListing(dir / "x.arj", members, error);
    }
    TempDir dir;
    std::vector<uint8_t> bytes;
    std::vector<ListedMember> members;
    std::string error;
};

TEST_F(ArjListingTest, MembersOfAnArchiveMadeByArj) {
    ASSERT_TRUE(List(bytes)) << error;
    ASSERT_EQ(members.size(), 3u);
    EXPECT_EQ(members[0].name, "a.txt");
    EXPECT_EQ(members[0].size, 6u);
    EXPECT_EQ(
        members[0].crc,
        engine::Crc32(0, std::span<const uint8_t>(reinterpret_cast<const uint8_t*>("hello\n"), 6)));
    // 2021-03-04 05:06:08 local time in MS-DOS form.
    EXPECT_EQ(members[0].dos_datetime, (41u << 25 | 3u << 21 | 4u << 16 | 5u << 11 | 6u << 5 | 4u));
    EXPECT_EQ(members[1].name, "sub/big.bin");
    EXPECT_EQ(members[1].size, 200000u);
    EXPECT_EQ(members[2].name, "with blank.txt");
    for (const auto& m : members) EXPECT_FALSE(m.encrypted);
}

TEST_F(ArjListingTest, FoundBehindAProgramStub) {
    constexpr size_t kStub = 70000;
    std::vector<uint8_t> sfx(kStub + bytes.size(), 0x90);
    sfx[100] = 0x60;  // a lone mark whose header does not check is passed over
    sfx[101] = 0xEA;
    std::copy(bytes.begin(), bytes.end(), sfx.begin() + kStub);
    ASSERT_TRUE(List(sfx)) << error;
    EXPECT_EQ(members.size(), 3u);
}

// Damaged and hostile copies: each ends with the reader's message, in bounded time, keeping
// the members read before the damage.
TEST_F(ArjListingTest, DamagedCopies) {
    // Offsets: the main header's size field, then the first file header.
    size_t main_size = bytes[2] | bytes[3] << 8;
    size_t first = 4 + main_size + 4 + 2;
    size_t first_size = bytes[first + 2] | bytes[first + 3] << 8;
    struct Case {
        const char* what;
        std::function<void(std::vector<uint8_t>&)> damage;
        const char* error;
        size_t kept;
    } cases[] = {
        {"no archive at all", [](auto& b) { b.assign(1000, 0x41); },
         "File does not appear to be a valid ARJ archive", 0},
        {"empty file", [](auto& b) { b.clear(); }, "File does not appear to be a valid ARJ archive",
         0},
        {"cut in the first file header", [&](auto& b) { b.erase(b.begin() + first + 10, b.end()); },
         kUnexpectedEnd, 0},
        {"file header CRC", [&](auto& b) { b[first + 10] ^= 0xFF; }, "Header CRC error", 0},
        {"file header mark", [&](auto& b) { b[first] = 0; }, "Bad header", 0},
        {"file header size above the limit",
         [&](auto& b) {
             b[first + 2] = 0x29;
             b[first + 3] = 0x0A;
         },
         "Bad header", 0},
        {"compressed size past the end",
         [&](auto& b) {
             std::vector<uint8_t> h(b.begin() + first + 4, b.begin() + first + 4 + first_size);
             h[12] = h[13] = h[14] = 0xFF;
             h[15] = 0x7F;
             uint32_t crc = engine::Crc32(0, h);
             std::copy(h.begin(), h.end(), b.begin() + first + 4);
             for (int i = 0; i < 4; ++i) b[first + 4 + first_size + i] = (crc >> (8 * i)) & 0xFF;
         },
         kUnexpectedEnd, 0},
        {"cut in the last member's data", [&](auto& b) { b.erase(b.end() - 5, b.end()); },
         kUnexpectedEnd, 2},
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> b = bytes;
        c.damage(b);
        EXPECT_FALSE(List(b)) << c.what;
        EXPECT_EQ(error, c.error) << c.what;
        EXPECT_EQ(members.size(), c.kept) << c.what;
    }
}

// Random damage: every result is a known message, and what is listed stays within the file.
TEST_F(ArjListingTest, RandomDamageStaysBounded) {
    std::mt19937 rng(11);
    std::vector<uint8_t> small(bytes.begin(), bytes.begin() + 400);  // the headers and a bit
    for (int round = 0; round < 400; ++round) {
        std::vector<uint8_t> b = small;
        for (int k = 0; k < 2; ++k) b[rng() % 400] = static_cast<uint8_t>(rng());
        bool ok = List(b);
        if (!ok) {
            EXPECT_TRUE(error == kUnexpectedEnd || error == "Bad header" ||
                        error == "Header CRC error" ||
                        error == "File does not appear to be a valid ARJ archive")
                << error;
        }
        EXPECT_LE(members.size(), 3u);
        for (const auto& m : members) EXPECT_LE(m.packed, b.size());
    }
}

TEST_F(ArjListingTest, GarbledMembersAreMarkedEncrypted) {
    std::string cmd =
        "cd '" + dir.path.string() + "/src' && arj a -y -gsecret ../g.arj a.txt >/dev/null";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    members.clear();
    ASSERT_TRUE(ReadArjListing(dir / "g.arj", members, error)) << error;
    ASSERT_EQ(members.size(), 1u);
    EXPECT_TRUE(members[0].encrypted);
}

}  // namespace
}  // namespace formats
