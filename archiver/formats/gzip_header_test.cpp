#include "archiver/formats/gzip_header.h"

#include <gtest/gtest.h>

#include <vector>

namespace formats {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Gz(uint8_t method, uint8_t flags, const Bytes& fields) {
    Bytes b(10 + fields.size(), 0);
    const uint8_t fixed[10] = {0x1F, 0x8B, method, flags, 0x01, 0x02, 0x03, 0x04, 0, 3};
    std::copy(std::begin(fixed), std::end(fixed), b.begin());
    std::copy(fields.begin(), fields.end(), b.begin() + 10);
    return b;
}

Bytes Text(std::string_view s, bool nul = true) {
    Bytes b(s.begin(), s.end());
    if (nul) b.push_back(0);
    return b;
}

Bytes Cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Headers with each optional field, the refused flags, and hostile names.
TEST(GzipHeader, Parse) {
    struct Case {
        const char* what;
        Bytes head;
        bool ok;
        std::string error;
        std::string name;
        uint64_t offset;
    } cases[] = {
        {"bare", Gz(8, 0, {0xAA}), true, "", "", 10},
        {"name", Gz(8, 0x08, Text("report.txt")), true, "", "report.txt", 21},
        {"extra+name+comment", Gz(8, 0x1C, Cat(Cat({3, 0, 1, 2, 3}, Text("a.b")), Text("hi"))),
         true, "", "a.b", 10 + 5 + 4 + 3},
        {"folders dropped", Gz(8, 0x08, Text("../../etc/passwd")), true, "", "passwd", 27},
        {"dot-dot name", Gz(8, 0x08, Text("..")), true, "", "", 13},
        {"name of 260", Gz(8, 0x08, Text(std::string(260, 'n'))), true, "", std::string(260, 'n'),
         271},
        {"name of 261", Gz(8, 0x08, Text(std::string(261, 'n'))), false,
         "corrupted input -- file name too large", "", 0},
        {"name without end", Gz(8, 0x08, Text(std::string(5000, 'n'), false)), false,
         "corrupted input -- file name too large", "", 0},
        {"method 7", Gz(7, 0, {}), false, "Unknown gzip compression method", "", 0},
        {"encrypted", Gz(8, 0x20, {}), false, "Cannot open encrypted gzip file", "", 0},
        // Flag 0x02 is the header CRC (values from python's zlib.crc32).
        {"header CRC", Gz(8, 0x02, {0x50, 0xF0, 0xAA}), true, "", "", 12},
        {"header CRC after a name", Gz(8, 0x0A, Cat(Text("r.txt"), {0xE6, 0xB6})), true, "",
         "r.txt", 18},
        {"header CRC wrong", Gz(8, 0x02, {0x51, 0xF0}), false,
         "corrupted input -- header CRC f050 (should be f051)", "", 0},
        {"header CRC missing", Gz(8, 0x02, {0x50}), false, "corrupted input -- file is truncated",
         "", 0},
        {"reserved", Gz(8, 0x80, {}), false, "Cannot open gzip file with reserved bytes", "", 0},
        {"extra past end", Gz(8, 0x04, {0xFF, 0xFF, 1}), false,
         "corrupted input -- file is truncated", "", 0},
        {"comment past end", Gz(8, 0x10, Text("abc", false)), false,
         "corrupted input -- file is truncated", "", 0},
        {"short", Bytes{0x1F, 0x8B, 8}, false, "corrupted input -- file is truncated", "", 0},
        {"unix compress", Bytes{0x1F, 0x9D, 0x90}, true, "", "", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        GzipHeader h;
        std::string error;
        ASSERT_EQ(ParseGzipHeader(c.head, h, error), c.ok);
        if (!c.ok) {
            EXPECT_EQ(error, c.error);
            continue;
        }
        EXPECT_EQ(h.original_name, c.name);
        EXPECT_EQ(h.data_offset, c.offset);
    }
    GzipHeader h;
    std::string error;
    ASSERT_TRUE(ParseGzipHeader(Gz(8, 0, {}), h, error));
    EXPECT_EQ(h.mtime, 0x04030201u);
}

TEST(GzipHeader, NamesFromTheFileName) {
    struct Case {
        const char* path;
        std::optional<std::string> derived;
        std::string fallback;
    } cases[] = {
        {"/x/src.tgz", "src.tar", "src"},
        {"src.TAZ", "src.tar", "src"},
        {"dir/report.doc.gz", "report.doc", "report.doc"},
        {"report.doc.Z", "report.doc", "report.doc"},
        {"report.gz", std::nullopt, "report"},
        {".profile.gz", std::nullopt, ".profile"},
        {"noext", std::nullopt, "noext_"},
        {"a.b.c", std::nullopt, "a.b"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(NameFromArchiveName(c.path), c.derived);
        EXPECT_EQ(DefaultContainedName(c.path), c.fallback);
    }
    EXPECT_EQ(FullNameQuestion("/tmp/report.gz"),
              "Please enter the full name of the file contained within the archive report.gz.  "
              "For example, if the contents are a DOC file, a recommended filename is "
              "report.DOC.");
}

}  // namespace
}  // namespace formats
