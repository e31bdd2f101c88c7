#include "archiver/engine/unzip/volume_set.h"

#include <gtest/gtest.h>

#include <numeric>

#include "archiver/engine/unzip/test_util.h"
#include "archiver/engine/unzip/zip_records.h"

namespace engine {
namespace {

using testing_util::TempDir;
using testing_util::WriteFile;

std::vector<uint8_t> Counting(size_t n, uint8_t from = 0) {
    std::vector<uint8_t> b(n);
    std::iota(b.begin(), b.end(), from);
    return b;
}

// Bytes ending in an end record that names `disk` as its own.
std::vector<uint8_t> LastVolume(uint16_t disk, size_t before = 100) {
    std::vector<uint8_t> b = Counting(before);
    b.resize(before + kEndSize);
    Put32(&b[before], kEndSig);
    Put16(&b[before + 4], disk);
    Put16(&b[before + 6], disk);
    return b;
}

std::vector<uint8_t> FirstVolume(size_t n) {
    std::vector<uint8_t> b = Counting(n, 7);
    Put32(b.data(), kDescriptorSig);
    return b;
}

// Every byte of the descriptor, read in pieces of `piece` bytes.
std::vector<uint8_t> ReadAll(int fd, size_t piece) {
    std::vector<uint8_t> all;
    std::vector<uint8_t> buf(piece);
    for (;;) {
        ssize_t got = PreadFull(fd, buf.data(), piece, all.size());
        if (got <= 0) break;
        all.insert(all.end(), buf.begin(), buf.begin() + got);
    }
    return all;
}

std::vector<uint8_t> Joined(const std::vector<std::vector<uint8_t>>& pieces) {
    std::vector<uint8_t> all;
    for (const auto& p : pieces) all.insert(all.end(), p.begin(), p.end());
    return all;
}

TEST(VolumeSetTest, OpensTheSetANameBelongsTo) {
    TempDir dir;
    auto p1 = Counting(1000), p2 = Counting(1000, 50), p3 = Counting(321, 99);
    WriteFile(dir / "x.zip.001", p1);
    WriteFile(dir / "x.zip.002", p2);
    WriteFile(dir / "x.zip.003", p3);
    WriteFile(dir / "x.zip.0000", Counting(5));  // no piece 0: not part of the set
    WriteFile(dir / "alone.zip.001", p1);
    WriteFile(dir / "report.2023", p2);
    WriteFile(dir / "report.2022", p1);
    auto z01 = FirstVolume(700), z02 = Counting(700, 3), last = LastVolume(2);
    WriteFile(dir / "span.z01", z01);
    WriteFile(dir / "span.z02", z02);
    WriteFile(dir / "span.zip", last);
    WriteFile(dir / "UP.Z01", z01);
    WriteFile(dir / "UP.ZIP", LastVolume(1));
    WriteFile(dir / "plain.zip", LastVolume(0));
    const struct {
        std::string open;
        std::vector<uint8_t> bytes;  // what the descriptor reads
        bool set;
    } cases[] = {
        {"x.zip.001", Joined({p1, p2, p3}), true},
        {"x.zip.003", Joined({p1, p2, p3}), true},
        {"alone.zip.001", p1, false},
        {"report.2023", p2, false},
        {"span.zip", Joined({z01, z02, last}), true},
        {"span.z02", Joined({z01, z02, last}), true},
        {"UP.Z01", Joined({z01, LastVolume(1)}), true},
        {"plain.zip", LastVolume(0), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.open);
        OpenedArchive a = OpenArchive(dir / c.open);
        ASSERT_EQ(a.problem, OpenProblem::kNone) << a.message;
        EXPECT_EQ(VolumeSetOf(a.fd.get()) != nullptr, c.set);
        EXPECT_EQ(FileSize(a.fd.get()), static_cast<int64_t>(c.bytes.size()));
        for (size_t piece : {1u, 7u, 999u, 1000u, 4096u})
            EXPECT_EQ(ReadAll(a.fd.get(), piece), c.bytes);
    }
    int closed = -1;
    {
        OpenedArchive t = OpenArchive(dir / "x.zip.002");
        closed = t.fd.get();
        EXPECT_NE(VolumeSetOf(closed), nullptr);
    }
    EXPECT_EQ(VolumeSetOf(closed), nullptr);  // closing the descriptor forgets its set
    OpenedArchive a = OpenArchive(dir / "x.zip.002");
    auto parts = VolumeSetOf(a.fd.get());
    ASSERT_NE(parts, nullptr);
    EXPECT_EQ(parts->layout, VolumeLayout::kParts);
    EXPECT_EQ(parts->next_volume, dir / "x.zip.004");
    EXPECT_EQ(parts->VolumeAt(0), 0u);
    EXPECT_EQ(parts->VolumeAt(999), 0u);
    EXPECT_EQ(parts->VolumeAt(1000), 1u);
    EXPECT_EQ(parts->VolumeAt(2320), 2u);
    EXPECT_EQ(parts->VolumeAt(99999), 2u);
    OpenedArchive s = OpenArchive(dir / "span.zip");
    auto spanned = VolumeSetOf(s.fd.get());
    ASSERT_NE(spanned, nullptr);
    EXPECT_EQ(spanned->layout, VolumeLayout::kSpanned);
    ASSERT_EQ(spanned->volumes.size(), 3u);
    EXPECT_EQ(spanned->volumes[1].path, dir / "span.z02");
    EXPECT_EQ(spanned->volumes[2].start, 1400u);
}

TEST(VolumeSetTest, MissingAndForeignVolumesAreNamed) {
    TempDir dir;
    WriteFile(dir / "gap.zip.001", Counting(100));
    WriteFile(dir / "gap.zip.003", Counting(10));
    WriteFile(dir / "late.zip.002", Counting(100));
    WriteFile(dir / "late.zip.003", Counting(10));
    WriteFile(dir / "odd.zip.001", Counting(100));
    WriteFile(dir / "odd.zip.002", Counting(90));
    WriteFile(dir / "odd.zip.003", Counting(10));
    WriteFile(dir / "long.zip.001", Counting(100));
    WriteFile(dir / "long.zip.002", Counting(101));
    WriteFile(dir / "hole.z01", FirstVolume(100));
    WriteFile(dir / "hole.z03", Counting(100));
    WriteFile(dir / "hole.zip", LastVolume(3));
    WriteFile(dir / "nolast.z01", FirstVolume(100));
    WriteFile(dir / "stranger.z01", Counting(100, 1));
    WriteFile(dir / "stranger.zip", LastVolume(1));
    const struct {
        std::string open;
        OpenProblem problem;
        std::string message;
    } cases[] = {
        {"gap.zip.003", OpenProblem::kMissingVolume, "Cannot find volume " + (dir / "gap.zip.002")},
        {"late.zip.002", OpenProblem::kMissingVolume,
         "Cannot find volume " + (dir / "late.zip.001")},
        {"odd.zip.001", OpenProblem::kForeignVolume,
         "Volume " + (dir / "odd.zip.002") + " does not belong to this archive"},
        {"long.zip.002", OpenProblem::kForeignVolume,
         "Volume " + (dir / "long.zip.002") + " does not belong to this archive"},
        {"hole.zip", OpenProblem::kMissingVolume, "Cannot find volume " + (dir / "hole.z02")},
        {"hole.z03", OpenProblem::kMissingVolume, "Cannot find volume " + (dir / "hole.z02")},
        {"nolast.z01", OpenProblem::kMissingVolume, "Cannot find volume " + (dir / "nolast.zip")},
        {"stranger.zip", OpenProblem::kForeignVolume,
         "Volume " + (dir / "stranger.z01") + " does not belong to this archive"},
        {"absent.zip", OpenProblem::kCantOpen, "Can't open input file: " + (dir / "absent.zip")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.open);
        OpenedArchive a = OpenArchive(dir / c.open);
        EXPECT_EQ(a.problem, c.problem);
        EXPECT_EQ(a.message, c.message);
        EXPECT_FALSE(a.fd);
    }
}

TEST(VolumeSetTest, ManyVolumesAreOpenedAsTheyAreRead) {
    // More volumes than are held open: each read opens the ones it needs.
    TempDir dir;
    std::vector<std::vector<uint8_t>> pieces;
    for (int i = 1; i <= 150; ++i) {
        pieces.push_back(Counting(i == 150 ? 17 : 64, static_cast<uint8_t>(i)));
        char name[32];
        std::snprintf(name, sizeof name, "many.zip.%03d", i);
        WriteFile(dir / name, pieces.back());
    }
    OpenedArchive a = OpenArchive(dir / "many.zip.077");
    ASSERT_EQ(a.problem, OpenProblem::kNone) << a.message;
    EXPECT_EQ(ReadAll(a.fd.get(), 1000), Joined(pieces));
    // A read that starts past the end finds nothing.
    uint8_t b[4];
    EXPECT_EQ(PreadFull(a.fd.get(), b, 4, 149 * 64 + 17), 0);
}

TEST(VolumeSetTest, SpannedVolumeNames) {
    const struct {
        std::string archive;
        uint32_t number;
        std::string name;
    } cases[] = {
        {"a/b.zip", 1, "a/b.z01"},
        {"b.zip", 12, "b.z12"},
        {"B.ZIP", 3, "B.Z03"},
        {"b.zip", 100, "b.z100"},
        {"noext", 2, "noext.z02"},
        {"d.x/noext", 1, "d.x/noext.z01"},
        {"two.dots.zip", 5, "two.dots.z05"},
    };
    for (const auto& c : cases) EXPECT_EQ(SpannedVolumeName(c.archive, c.number), c.name);
}

}  // namespace
}  // namespace engine
