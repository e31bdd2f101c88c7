#include "archiver/formats/arc_listing.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "archiver/engine/unzip/test_util.h"

namespace formats {
namespace {

using engine::testing_util::ReadFile;
using engine::testing_util::TempDir;
using engine::testing_util::WriteFile;

std::vector<uint8_t> Header(uint8_t method, const std::string& name, uint32_t packed,
                            uint32_t size) {
    std::vector<uint8_t> h{0x1A, method};
    for (size_t i = 0; i < 13; ++i) h.push_back(i < name.size() ? name[i] : 0);
    auto put32 = [&h](uint32_t v) {
        for (int i = 0; i < 4; ++i) h.push_back((v >> (8 * i)) & 0xFF);
    };
    put32(packed);
    h.push_back(0x64);  // date 2021-03-04
    h.push_back(0x52);
    h.push_back(0x63);  // time 09:19:06
    h.push_back(0x4A);
    h.push_back(0x34);  // CRC-16
    h.push_back(0x5A);
    if (method != 1) put32(size);
    return h;
}

std::vector<uint8_t> Join(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

TEST(ArcListing, ArchiveMadeByArc) {
    UNZIP_TEST_NEEDS("arc");
    TempDir dir;
    std::string cmd =
        "cd '" + dir.path.string() +
        "' && printf 'hello hello hello hello\\n' > a.txt && "
        "head -c 30000 /dev/zero > zeros.bin && arc a t.arc a.txt zeros.bin >/dev/null";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    std::vector<ListedMember> members;
    std::string error;
    ASSERT_TRUE(ReadArcListing(dir / "t.arc", members, error)) << error;
    ASSERT_EQ(members.size(), 2u);
    EXPECT_EQ(members[0].name, "a.txt");
    EXPECT_EQ(members[0].size, 24u);
    EXPECT_EQ(members[1].name, "zeros.bin");
    EXPECT_EQ(members[1].size, 30000u);
    EXPECT_LT(members[1].packed, 30000u);
}

TEST(ArcListing, HeaderForms) {
    TempDir dir;
    std::vector<uint8_t> data(5, 'd');
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        bool ok;
        const char* error;
        std::vector<std::string> names;
    } cases[] = {
        {"stored, old header without original size",
         Join({Header(1, "OLD.TXT", 5, 0), data, Header(2, "NEW.TXT", 5, 5), data, {0x1A, 0}}),
         true,
         "",
         {"OLD.TXT", "NEW.TXT"}},
        {"information entries are skipped",
         Join({Header(22, "INFO", 5, 5), data, Header(8, "B.TXT", 5, 9), data, {0x1A, 0}}),
         true,
         "",
         {"B.TXT"}},
        {"a full-length name is cut at 13 bytes",
         Join({Header(2, "ABCDEFGHIJKLMNOP", 5, 5), data, {0x1A, 0}}),
         true,
         "",
         {"ABCDEFGHIJKLM"}},
        {"end of file without the end marker", Join({Header(2, "A", 5, 5), data}), true, "", {"A"}},
        {"folder entry",
         Join({Header(2, "A", 5, 5), data, Header(0x1E, "DIR", 0, 0)}),
         false,
         "Cannot process an ARC containing folders",
         {"A"}},
        {"not a header",
         Join({Header(2, "A", 5, 5), data, {0x1B, 2, 0, 0}}),
         false,
         "Invalid header",
         {"A"}},
        {"one byte", {0x1A}, false, "I/O error on header", {}},
        {"empty", {}, false, "I/O error on header", {}},
        {"cut header",
         Join({Header(2, "A", 5, 5), data, {0x1A, 2, 'B'}}),
         false,
         kUnexpectedEnd,
         {"A"}},
        {"data past the end",
         Join({Header(2, "A", 0xFFFFFFF0u, 5), data}),
         false,
         kUnexpectedEnd,
         {}},
    };
    for (const auto& c : cases) {
        WriteFile(dir / "x.arc", c.bytes);
        std::vector<ListedMember> members;
        std::string error;
        EXPECT_EQ(ReadArcListing(dir / "x.arc", members, error), c.ok) << c.what;
        EXPECT_EQ(error, c.error) << c.what;
        std::vector<std::string> names;
        for (const auto& m : members) names.push_back(m.name);
        EXPECT_EQ(names, c.names) << c.what;
        if (!members.empty()) {
            EXPECT_EQ(members[0].dos_datetime, 0x52644a63u) << c.what;
        }
    }
}

TEST(ArcListing, PublishedArchives) {
    const char* testdata = std::getenv("TESTDATA");
    std::filesystem::path root = std::string(testdata ? testdata : "") + "/arc";
    if (!testdata || !std::filesystem::is_directory(root))
        GTEST_SKIP() << "no published ARC archives";
    for (const auto& e : std::filesystem::directory_iterator(root)) {
        std::vector<ListedMember> members;
        std::string error;
        EXPECT_TRUE(ReadArcListing(e.path().string(), members, error)) << e.path() << error;
        EXPECT_FALSE(members.empty()) << e.path();
    }
}

}  // namespace
}  // namespace formats
