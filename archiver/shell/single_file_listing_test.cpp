#include "archiver/shell/single_file_listing.h"

#include <gtest/gtest.h>

#include "archiver/engine/unzip/test_util.h"
#include "platform/dostime.h"

namespace shell {
namespace {

using engine::testing_util::TempDir;
using engine::testing_util::WriteFile;
using Bytes = std::vector<uint8_t>;

// The row, the record's fields and the name question for each kind: the header's name wins,
// then the name the file's own name gives, then the answer (cancel ends the listing; a
// path for an answer keeps only its last part).
TEST(SingleFileListing, RowsAndRecord) {
    TempDir dir;
    const Bytes named = {0x1F, 0x8B, 8,   0x08, 0x00, 0xF1, 0x53, 0x65, 0, 3,    'i',
                         'n',  'n',  'e', 'r',  '.',  't',  'x',  't',  0, 0x03, 0x00};
    const Bytes bare = {0x1F, 0x8B, 8, 0, 0x00, 0xF1, 0x53, 0x65, 0, 3, 0x03, 0x00};
    WriteFile(dir / "named.gz", named);
    WriteFile(dir / "doc.txt.gz", bare);
    WriteFile(dir / "bare.gz", bare);
    WriteFile(dir / "data.Z", {0x1F, 0x9D, 0x90});
    WriteFile(dir / "app.ex_", {'S', 'Z', 'D', 'D', 0x88, 0xF0, 0x27, 0x33, 'A', 'e', 9, 0, 0, 0});
    const uint32_t header_time = platform::TimeToDos(0x6553F100);
    struct Case {
        const char* file;
        formats::ArchiveKind kind;
        std::optional<std::string> answer;  // to the name question
        bool asked;
        bool ok;
        std::string name;
        uint64_t start;
        uint64_t uncompressed;
    } cases[] = {
        {"named.gz", formats::kKindGzip, std::nullopt, false, true, "inner.txt", 20, kUnknownSize},
        {"doc.txt.gz", formats::kKindGzip, std::nullopt, false, true, "doc.txt", 10, kUnknownSize},
        {"bare.gz", formats::kKindGzip, "../up/chosen.doc", true, true, "chosen.doc", 10,
         kUnknownSize},
        {"bare.gz", formats::kKindGzip, std::nullopt, true, false, "", 0, 0},
        {"data.Z", formats::kKindGzip, "data", true, true, "data", 0, kUnknownSize},
        {"app.ex_", formats::kKindMsCompress, std::nullopt, false, true, "app.exe", 0, 9},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        bool asked = false;
        ContainedNameQuestion ask = [&](const std::string& question, const std::string&) {
            asked = true;
            EXPECT_NE(question.find("Please enter the full name"), std::string::npos);
            return c.answer;
        };
        Listing listing;
        SingleFileFacts facts;
        std::string error;
        EXPECT_EQ(LoadSingleFileListing(c.kind, dir / c.file, SortOrder::kOriginal, ask, listing,
                                        facts, error),
                  c.ok);
        EXPECT_EQ(asked, c.asked);
        if (!c.ok) {
            EXPECT_TRUE(listing.rows.empty());
            continue;
        }
        ASSERT_EQ(listing.rows.size(), 1u);
        EXPECT_EQ(listing.rows[0].name, c.name);
        EXPECT_EQ(listing.rows[0].uncompressed, c.uncompressed);
        engine::UnzipCommand cmd;
        FillUnzipCommand(facts, cmd);
        EXPECT_EQ(cmd.kind, c.kind);
        EXPECT_EQ(cmd.start_offset, c.start);
        EXPECT_EQ(cmd.selection, std::vector<std::string>{c.name});
        if (c.kind == formats::kKindMsCompress) {
            EXPECT_EQ(cmd.kind_value, c.uncompressed);
        } else if (c.file[0] != 'd') {
            EXPECT_EQ(cmd.kind_value, header_time);  // the header's time, for the output file
        }
    }
}

// A tar inside gzip or Unix compress is listed as that tar and handed to the engine as one;
// a name that says tar over content that is none stays one compressed file.
TEST(SingleFileListing, TarInsideIsTheTar) {
    UNZIP_TEST_NEEDS("python3");
    TempDir dir;
    ASSERT_TRUE(engine::testing_util::RunPython(dir, R"(
import gzip, io, tarfile
with tarfile.open('pack.tgz', 'w:gz') as t:
    for name in ('a.txt', 'sub/b.txt'):
        i = tarfile.TarInfo(name)
        i.size = 3
        t.addfile(i, io.BytesIO(b'abc'))
with gzip.open('fake.tar.gz', 'wb') as f:
    f.write(b'not a tar at all' * 100)
)"));
    struct Case {
        const char* file;
        uint16_t kind;
        std::vector<std::string> rows;
        std::vector<std::string> selection;
        uint64_t start;
    } cases[] = {
        {"pack.tgz", formats::kKindTar, {"a.txt", "sub/b.txt"}, {}, 0},
        // python's gzip stores the name "fake.tar": the data starts after it.
        {"fake.tar.gz", formats::kKindGzip, {"fake.tar"}, {"fake.tar"}, 19},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        Listing listing;
        SingleFileFacts facts;
        std::string error;
        ASSERT_TRUE(LoadSingleFileListing(formats::kKindGzip, dir / c.file, SortOrder::kOriginal,
                                          nullptr, listing, facts, error))
            << error;
        std::vector<std::string> rows;
        for (const Row& r : listing.rows) rows.push_back(r.name);
        EXPECT_EQ(rows, c.rows);
        engine::UnzipCommand cmd;
        FillUnzipCommand(facts, cmd);
        EXPECT_EQ(cmd.kind, c.kind);
        EXPECT_EQ(cmd.start_offset, c.start);
        EXPECT_EQ(cmd.selection, c.selection);
    }
}

}  // namespace
}  // namespace shell
