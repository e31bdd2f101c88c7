#include "archiver/engine/unzip/zip64_records.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace engine {
namespace {

std::vector<uint8_t> Block(std::vector<uint64_t> values, size_t cut = 0) {
    std::vector<uint8_t> b(4 + 8 * values.size());
    Put16(b.data(), kExtraZip64);
    for (size_t i = 0; i < values.size(); ++i) Put64(b.data() + 4 + 8 * i, values[i]);
    b.resize(b.size() - cut);
    Put16(b.data() + 2, static_cast<uint16_t>(b.size() - 4));
    return b;
}

std::vector<uint8_t> WithDisk(std::vector<uint8_t> block, uint32_t disk) {
    block.insert(block.end(), {0, 0, 0, 0});
    Put32(block.data() + block.size() - 4, disk);
    Put16(block.data() + 2, static_cast<uint16_t>(block.size() - 4));
    return block;
}

std::vector<uint8_t> Other() {
    return {0x55, 0x54, 0x05, 0x00, 0x01, 1, 2, 3, 4};  // an extended-time block
}

std::vector<uint8_t> Cat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(Zip64Records, CentralFieldsTakeTheirValuesInOrder) {
    const uint32_t M = kZip64Mark32;
    struct Case {
        const char* what;
        uint32_t u, c, o;
        uint16_t disk;
        std::vector<uint8_t> extra;
        std::optional<WideValues> want;
    } cases[] = {
        {"no marks, no block", 1, 2, 3, 0, {}, WideValues{1, 2, 3, 0}},
        {"no marks: a block is ignored", 1, 2, 3, 0, Block({9, 9, 9}), WideValues{1, 2, 3, 0}},
        {"all marked, the disk last", M, M, M, 0xFFFF,
         WithDisk(Block({5ull << 32, 6ull << 32, 7ull << 32}), 2),
         WideValues{5ull << 32, 6ull << 32, 7ull << 32, 2}},
        {"all marked, no room for the disk", M, M, M, 0xFFFF, Block({5, 6, 7}), std::nullopt},
        {"sizes only", M, M, 3, 0, Block({5ull << 32, 6}), WideValues{5ull << 32, 6, 3, 0}},
        {"compressed size and offset: the uncompressed one is not in the block", 1, M, M, 0,
         Block({6, 7ull << 33}), WideValues{1, 6, 7ull << 33, 0}},
        {"offset only, behind another block", 1, 2, M, 0, Cat(Other(), Block({1ull << 40})),
         WideValues{1, 2, 1ull << 40, 0}},
        {"marked but no block: an old writer's true value", M, 2, 3, 0, Other(),
         WideValues{M, 2, 3, 0}},
        {"block too short for the marks", M, M, 3, 0, Block({5, 6}, 1), std::nullopt},
        {"block runs past the field: no block",
         M,
         2,
         3,
         0,
         {0x01, 0x00, 0x10, 0x00, 5, 0, 0, 0, 0, 0, 0, 0},
         WideValues{M, 2, 3, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CentralHeader h;
        h.uncompressed_size = c.u;
        h.compressed_size = c.c;
        h.local_offset = c.o;
        h.disk_start = c.disk;
        auto got = WidenCentral(h, c.extra);
        ASSERT_EQ(got.has_value(), c.want.has_value());
        if (!got) continue;
        EXPECT_EQ(got->uncompressed, c.want->uncompressed);
        EXPECT_EQ(got->compressed, c.want->compressed);
        EXPECT_EQ(got->local_offset, c.want->local_offset);
        EXPECT_EQ(got->disk_start, c.want->disk_start);
    }
}

TEST(Zip64Records, LocalBlocksHoldBothSizesWhenLongEnough) {
    const uint32_t M = kZip64Mark32;
    struct Case {
        const char* what;
        uint32_t u, c;
        std::vector<uint8_t> extra;
        std::optional<std::pair<uint64_t, uint64_t>> want;
    } cases[] = {
        {"both marked", M, M, Block({5ull << 32, 6}), std::pair{5ull << 32, 6ull}},
        {"compressed marked, both present", 10, M, Block({10, 7ull << 32}),
         std::pair{10ull, 7ull << 32}},
        {"one marked, one value", M, 4, Block({9ull << 32}), std::pair{9ull << 32, 4ull}},
        {"marked, empty block", M, M, Block({}), std::nullopt},
        {"streamed: zero sizes stay zero", 0, 0, Block({0, 0}), std::pair{0ull, 0ull}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        LocalHeader h;
        h.uncompressed_size = c.u;
        h.compressed_size = c.c;
        auto got = WidenLocal(h, c.extra);
        ASSERT_EQ(got.has_value(), c.want.has_value());
        if (got) {
            EXPECT_EQ(std::pair(got->uncompressed, got->compressed), *c.want);
        }
    }
}

TEST(Zip64Records, EndRecordsMergeOnlyWhereTheyAgree) {
    End64Record r;
    r.entries_here = r.entries_total = 70000;
    r.directory_size = 5ull << 32;
    r.directory_offset = 6ull << 32;
    struct Case {
        const char* what;
        uint16_t entries;
        uint32_t size, offset;
        bool ok;
    } cases[] = {
        {"all marked", 0xFFFF, kZip64Mark32, kZip64Mark32, true},
        {"count contradicts", 4464, kZip64Mark32, kZip64Mark32, false},
        {"size contradicts", 0xFFFF, 12, kZip64Mark32, false},
        {"offset contradicts", 0xFFFF, kZip64Mark32, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EndRecord e;
        e.entries_here = e.entries_total = c.entries;
        e.directory_size = c.size;
        e.directory_offset = c.offset;
        uint64_t n = 0, size = 0, offset = 0;
        EXPECT_EQ(MergeEnd64(e, r, n, size, offset), c.ok);
        if (c.ok) {
            EXPECT_EQ(std::tuple(n, size, offset), std::tuple(70000ull, 5ull << 32, 6ull << 32));
        }
    }
    EndRecord agree;
    agree.entries_here = 3;
    agree.directory_size = 100;
    agree.directory_offset = 200;
    End64Record same;
    same.entries_here = 3;
    same.directory_size = 100;
    same.directory_offset = 200;
    uint64_t n = 0, size = 0, offset = 0;
    EXPECT_TRUE(MergeEnd64(agree, same, n, size, offset));
}

TEST(Zip64Records, WrittenRecordsReadBack) {
    End64Record r;
    r.entries_here = r.entries_total = 1ull << 33;
    r.directory_size = 123456789012ull;
    r.directory_offset = 98765432109ull;
    std::vector<uint8_t> b = End64AndLocator(r, 1ull << 35);
    ASSERT_EQ(b.size(), kEnd64Size + kLocator64Size);
    EXPECT_EQ(Get64(b.data() + 4), 44u);  // the record's size leaves out its first 12 bytes
    auto back = ParseEnd64(std::span<const uint8_t, kEnd64Size>(b.data(), kEnd64Size));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->entries_total, r.entries_total);
    EXPECT_EQ(back->directory_size, r.directory_size);
    EXPECT_EQ(back->directory_offset, r.directory_offset);
    auto at = ParseLocator64(
        std::span<const uint8_t, kLocator64Size>(b.data() + kEnd64Size, kLocator64Size));
    EXPECT_EQ(at, 1ull << 35);
    b[0] ^= 1;
    EXPECT_FALSE(ParseEnd64(std::span<const uint8_t, kEnd64Size>(b.data(), kEnd64Size)));
}

TEST(Zip64Records, BlocksAreMadeAndRemovedWhole) {
    EXPECT_TRUE(Zip64Block(std::nullopt, std::nullopt, std::nullopt).empty());
    EXPECT_EQ(Zip64Block(std::nullopt, 6, 7), Block({6, 7}));
    EXPECT_EQ(Zip64Block(5, 6, std::nullopt), Block({5, 6}));
    std::vector<uint8_t> extra = Cat(Cat(Other(), Block({1, 2})), Other());
    EXPECT_EQ(WithoutZip64Block(extra), Cat(Other(), Other()));
    EXPECT_TRUE(HasZip64Block(extra));
    EXPECT_FALSE(HasZip64Block(Cat(Other(), Other())));
    // A tail that cannot be parsed is kept as it was.
    std::vector<uint8_t> damaged = Cat(Block({1}), {0x99, 0x99, 0x40});
    EXPECT_EQ(WithoutZip64Block(damaged), std::vector<uint8_t>({0x99, 0x99, 0x40}));
}

}  // namespace
}  // namespace engine
