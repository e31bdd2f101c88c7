#include "archiver/engine/zip/zip64_fields.h"

#include <gtest/gtest.h>

#include "archiver/engine/unzip/zip64_records.h"

namespace zip {
namespace {

TEST(Zip64Fields, OnlyLargeFilesReserveRoom) {
    const uint64_t four_gib = uint64_t{1} << 32;
    struct Case {
        uint64_t size;
        bool reserve;
    } cases[] = {{0, false},
                 {100000, false},
                 {four_gib / 2, false},
                 {four_gib - four_gib / 64, false},
                 // Deflate's worst case would pass 4 GiB - 1 from here on.
                 {four_gib - four_gib / 200, true},
                 {four_gib - 1, true},
                 {four_gib * 3, true}};
    for (const Case& c : cases) EXPECT_EQ(ReserveZip64(c.size), c.reserve) << c.size;
}

TEST(Zip64Fields, CentralHeadersWidenOnlyWhatDoesNotFit) {
    const uint32_t M = engine::kZip64Mark32;
    std::vector<uint8_t> time_field = {0x55, 0x54, 0x05, 0x00, 0x01, 1, 2, 3, 4};
    struct Case {
        const char* what;
        uint64_t u, c, offset;
        bool local_zip64;
        uint32_t want_u, want_c, want_offset;
        std::vector<uint8_t> want_block;
    } cases[] = {
        {"small", 10, 5, 100, false, 10, 5, 100, {}},
        {"large member", 5ull << 32, 1000, 7, false, M, 1000, 7,
         engine::Zip64Block(5ull << 32, std::nullopt, std::nullopt)},
        {"local header with 64-bit sizes: both kept so", 10, 5, 7, true, M, M, 7,
         engine::Zip64Block(10, 5, std::nullopt)},
        {"offset past 4 GiB - 1", 10, 5, 0xFFFFFFFF, false, 10, 5, M,
         engine::Zip64Block(std::nullopt, std::nullopt, 0xFFFFFFFFull)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Member m;
        m.version_needed = 20;
        m.uncompressed_size = c.u;
        m.compressed_size = c.c;
        m.local_offset = c.offset;
        m.local_zip64 = c.local_zip64;
        // An old 0x0001 block is never carried over: the values are written afresh.
        m.central_extra = engine::Zip64Block(1, 2, 3);
        m.central_extra.insert(m.central_extra.end(), time_field.begin(), time_field.end());
        CentralFields f = CentralFieldsOf(m);
        EXPECT_EQ(f.uncompressed, c.want_u);
        EXPECT_EQ(f.compressed, c.want_c);
        EXPECT_EQ(f.local_offset, c.want_offset);
        EXPECT_EQ(f.version_needed, c.want_block.empty() ? 20 : 45);
        if (c.want_block.empty()) {
            EXPECT_EQ(f.extra, m.central_extra);  // a small member's bytes stay as they were
        } else {
            std::vector<uint8_t> want = c.want_block;
            want.insert(want.end(), time_field.begin(), time_field.end());
            EXPECT_EQ(f.extra, want);
        }
    }
}

TEST(Zip64Fields, EndRecordsGrowOnlyWhenNeeded) {
    struct Case {
        const char* what;
        uint64_t entries, size, offset;
        bool wide;
    } cases[] = {
        {"small", 3, 200, 1000, false},
        {"65,534 members", 65534, 200, 1000, false},
        {"65,535 members: the count's mark", 65535, 200, 1000, true},
        {"directory past 4 GiB - 1", 3, 200, 5ull << 32, true},
        {"directory of 4 GiB", 3, 1ull << 32, 1000, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> b = EndRecords(c.entries, c.size, c.offset, 777, "hi");
        size_t end_at = c.wide ? engine::kEnd64Size + engine::kLocator64Size : 0;
        ASSERT_EQ(b.size(), end_at + engine::kEndSize + 2);
        engine::EndRecord e = engine::ParseEnd(
            std::span<const uint8_t, engine::kEndFixed>(b.data() + end_at + 4, engine::kEndFixed));
        EXPECT_EQ(e.comment_length, 2);
        if (!c.wide) {
            EXPECT_EQ(e.entries_total, c.entries);
            EXPECT_EQ(e.directory_offset, c.offset);
            continue;
        }
        auto r = engine::ParseEnd64(
            std::span<const uint8_t, engine::kEnd64Size>(b.data(), engine::kEnd64Size));
        ASSERT_TRUE(r);
        uint64_t n = 0, size = 0, offset = 0;
        EXPECT_TRUE(engine::MergeEnd64(e, *r, n, size, offset));
        EXPECT_EQ(std::tuple(n, size, offset), std::tuple(c.entries, c.size, c.offset));
        EXPECT_EQ(engine::ParseLocator64(std::span<const uint8_t, engine::kLocator64Size>(
                      b.data() + engine::kEnd64Size, engine::kLocator64Size)),
                  777u);
    }
}

}  // namespace
}  // namespace zip
