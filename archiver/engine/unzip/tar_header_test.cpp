#include "archiver/engine/unzip/tar_header.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace engine {
namespace {

TEST(TarHeader, Numbers) {
    struct Case {
        std::string field;
        std::optional<int64_t> want;
    } cases[] = {
        {std::string("00000000012\0", 12), 10},
        {std::string(12, '\0'), 0},  // a volume label's empty size
        {"   ", std::nullopt},
        {"12x", std::nullopt},
        // Base 256: GNU tar and libarchive for times octal cannot hold.
        {std::string("\x80\0\0\0\0\0\0\x02\x6c\xb5\xdb\0", 12), 10413792000},
        {std::string("\xff\xff\xff\xff\xff\xff\xff\xff\xed\x30\x08\x80", 12), -315619200},
        {std::string("\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff", 12), -1},
        {std::string("\x80\x01\0\0\0\0\0\0\0\0\0\0", 12), std::nullopt},  // beyond 63 bits
        {std::string("\xff\x7f\0\0\0\0\0\0\0\0\0\0", 12), std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(ParseTarNumber(c.field), c.want) << c.field;
}

TEST(TarHeader, PaxRecords) {
    struct Case {
        std::string records;
        std::optional<std::string> path;
        std::optional<int64_t> mtime;
        std::optional<uint64_t> size;
    } cases[] = {
        {"30 mtime=1796808678.673816835\n20 atime=-315619200\n", std::nullopt, 1796808678,
         std::nullopt},
        {"20 mtime=-315619200\n", std::nullopt, -315619200, std::nullopt},
        {"22 mtime=-315619199.5\n", std::nullopt, -315619200, std::nullopt},
        {"16 size=9999999\n12 path=a/b\n", "a/b", std::nullopt, 9999999},
        {"12 path=a/b\n99 mtime=1\n", "a/b", std::nullopt, std::nullopt},  // kept before a bad one
        {"13 mtime=1x5\n", std::nullopt, std::nullopt, std::nullopt},
        {"14 size=-12.5\n", std::nullopt, std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        PaxValues v = ParsePaxRecords(c.records);
        EXPECT_EQ(v.path, c.path) << c.records;
        EXPECT_EQ(v.mtime, c.mtime) << c.records;
        EXPECT_EQ(v.size, c.size) << c.records;
    }
}

TEST(TarHeader, Checksum) {
    std::vector<uint8_t> block(512, 0);
    std::memcpy(block.data(), "a.txt", 5);
    block[156] = '0';
    block[200] = 0xE9;  // counts as 233 unsigned, -23 signed
    unsigned sum = 8 * ' ';
    int signed_sum = 8 * ' ';
    for (size_t i = 0; i < block.size(); ++i) {
        sum += block[i];
        signed_sum += static_cast<int8_t>(block[i]);
    }
    auto with = [&](unsigned value) {
        std::vector<uint8_t> b = block;
        std::snprintf(reinterpret_cast<char*>(b.data()) + 148, 8, "%06o", value);
        return b;
    };
    EXPECT_TRUE(TarChecksumOk(with(sum)));
    EXPECT_TRUE(TarChecksumOk(with(static_cast<unsigned>(signed_sum))));
    EXPECT_FALSE(TarChecksumOk(with(sum + 1)));
    EXPECT_FALSE(TarChecksumOk(std::vector<uint8_t>(100, 0)));
}

}  // namespace
}  // namespace engine
