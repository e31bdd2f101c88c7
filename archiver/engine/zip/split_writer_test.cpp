#include "archiver/engine/zip/split_writer.h"

#include <gtest/gtest.h>

#include "archiver/engine/unzip/zip64_records.h"
#include "archiver/engine/zip/zip64_fields.h"

namespace zip {
namespace {

TEST(VolumeCursorTest, HeadersStayWholeAndDataFlows) {
    // Steps: a positive size is placed whole, a negative one flows; the places and the cuts
    // are what a volume of 100 bytes gives.
    const struct {
        const char* what;
        std::vector<int64_t> steps;
        std::vector<VolumePlace> places;
        std::vector<uint64_t> cuts;
    } cases[] = {
        {"all in one", {4, 30, -50, 16}, {{0, 0}, {0, 4}, {0, 84}}, {}},
        {"header that does not fit moves on", {4, 30, -60, 30}, {{0, 0}, {0, 4}, {1, 0}}, {94}},
        {"data crosses two volumes", {4, 30, -250, 10}, {{0, 0}, {0, 4}, {2, 84}}, {100, 200}},
        {"data ends at the volume's end", {4, -96, 10}, {{0, 0}, {1, 0}}, {100}},
        {"a header of a whole volume", {100, 100}, {{0, 0}, {1, 0}}, {100}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        VolumeCursor cursor(100);
        std::vector<VolumePlace> places;
        for (int64_t step : c.steps) {
            if (step < 0) {
                cursor.Flow(static_cast<uint64_t>(-step));
                continue;
            }
            auto at = cursor.Whole(static_cast<uint64_t>(step));
            ASSERT_TRUE(at);
            places.push_back(*at);
        }
        ASSERT_EQ(places.size(), c.places.size());
        for (size_t i = 0; i < places.size(); ++i) {
            EXPECT_EQ(places[i].disk, c.places[i].disk) << i;
            EXPECT_EQ(places[i].offset, c.places[i].offset) << i;
        }
        EXPECT_EQ(cursor.cuts(), c.cuts);
    }
    VolumeCursor cursor(100);
    EXPECT_FALSE(cursor.Whole(101));  // no volume holds it
}

TEST(VolumeCursorTest, CentralHeadersCarryTheirDisk) {
    Member m;
    m.raw_name = "a.txt";
    m.local_offset = 1234;
    m.compressed_size = m.uncompressed_size = 10;
    const struct {
        uint32_t disk;
        uint16_t field;
        size_t extra;  // bytes of the 0x0001 block
    } cases[] = {
        {0, 0, 0}, {7, 7, 0}, {0xFFFE, 0xFFFE, 0}, {0xFFFF, 0xFFFF, 8}, {70000, 0xFFFF, 8}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.disk);
        CentralFields f = CentralFieldsOf(m, c.disk);
        EXPECT_EQ(f.disk_start, c.field);
        EXPECT_EQ(f.local_offset, 1234u);
        ASSERT_EQ(f.extra.size(), c.extra);
        if (c.extra == 0) continue;
        // The reader takes the disk from the block because the header's field is marked.
        engine::CentralHeader h;
        h.disk_start = f.disk_start;
        h.local_offset = f.local_offset;
        h.compressed_size = f.compressed;
        h.uncompressed_size = f.uncompressed;
        auto wide = engine::WidenCentral(h, f.extra);
        ASSERT_TRUE(wide);
        EXPECT_EQ(wide->disk_start, c.disk);
        EXPECT_EQ(wide->local_offset, 1234u);
    }
}

}  // namespace
}  // namespace zip
