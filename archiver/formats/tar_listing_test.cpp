#include "archiver/formats/tar_listing.h"

#include <gtest/gtest.h>

#include "archiver/engine/unzip/test_util.h"

namespace formats {
namespace {

using engine::testing_util::RunPython;
using engine::testing_util::TempDir;

TEST(TarListing, OctalFields) {
    struct Case {
        std::string_view field;
        int64_t value;
    } cases[] = {
        {std::string_view("0000644\0", 8), 0644},
        {"   17 ", 017},
        {std::string_view("00000000012\0", 12), 10},
        {"12345670123", 012345670123},
        {"        ", -1},
        {std::string_view("\0\0\0\0", 4), -1},
        {"0008", -1},
        {"12x", -1},
        {"77777777777777777777777", -1},  // beyond 64 bits
    };
    for (const auto& c : cases) EXPECT_EQ(ParseTarOctal(c.field), c.value) << c.field;
}

// Archives from python's tarfile in each form: names (ustar prefix, GNU long names, pax
// paths), sizes, times, links with no data, and damaged or hostile headers.
TEST(TarListing, ArchivesFromTarfile) {
    UNZIP_TEST_NEEDS("python3");
    TempDir dir;
    ASSERT_TRUE(RunPython(dir, R"(
import io, tarfile
deep = 'd' * 90 + '/' + 'e' * 60 + '/file.txt'
longest = 'x' * 300 + '.txt'
def make(name, fmt, members):
    with tarfile.open(name, 'w', format=fmt) as t:
        for n, data, kind in members:
            i = tarfile.TarInfo(n)
            i.mtime = 1700000001
            if kind == 'link':
                i.type = tarfile.SYMTYPE
                i.linkname = 'a.txt'
                t.addfile(i)
            elif kind == 'dir':
                i.type = tarfile.DIRTYPE
                t.addfile(i)
            else:
                i.size = len(data)
                t.addfile(i, io.BytesIO(data))
members = [('a.txt', b'hello', 'file'), ('sub', b'', 'dir'), ('sub/b.bin', bytes(1000), 'file'),
           ('ln', b'', 'link'), (deep, b'deep', 'file')]
make('ustar.tar', tarfile.USTAR_FORMAT, members)
make('gnu.tar', tarfile.GNU_FORMAT, members + [(longest, b'L', 'file')])
make('pax.tar', tarfile.PAX_FORMAT, members + [(longest, b'P', 'file')])
data = bytearray(open('ustar.tar', 'rb').read())
open('cut.tar', 'wb').write(data[:512 + 100])      # first member's data cut short
bad = bytearray(data)
bad[512 * 2 + 124] = ord('9')                      # second header's size does not parse
open('badsize.tar', 'wb').write(bad)
open('empty.tar', 'wb').write(bytes(1024))
huge = bytearray(data[:1024])
huge[124:136] = b'77777777777\0'                   # claims 8 GiB
open('huge.tar', 'wb').write(huge)
noterm = bytearray(data[:1024])
noterm[0:100] = b'n' * 100                         # name fills its field, no NUL
noterm[257:263] = b'\0' * 6                        # old form: no prefix
noterm[345:500] = b'p' * 155
open('noterm.tar', 'wb').write(noterm)
)"));
    const std::string deep = std::string(90, 'd') + "/" + std::string(60, 'e') + "/file.txt";
    const std::string longest = std::string(300, 'x') + ".txt";
    using Names = std::vector<std::string>;
    struct Case {
        const char* file;
        bool ok;
        std::string error;
        Names regular;  // names of the regular members
    } cases[] = {
        {"ustar.tar", true, "", {"a.txt", "sub/b.bin", deep}},
        {"gnu.tar", true, "", {"a.txt", "sub/b.bin", deep, longest}},
        {"pax.tar", true, "", {"a.txt", "sub/b.bin", deep, longest}},
        {"cut.tar", true, "", {"a.txt"}},
        {"badsize.tar", false, "Error reading header after processing 1 entries", {"a.txt"}},
        {"empty.tar", false, "Invalid archive directory", {}},
        {"huge.tar", true, "", {"a.txt"}},
        {"noterm.tar", true, "", {std::string(100, 'n')}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        std::vector<TarMember> members;
        std::string error;
        EXPECT_EQ(ReadTarListing(dir / c.file, members, error), c.ok);
        if (!c.ok) {
            EXPECT_EQ(error, c.error);
        }
        Names regular;
        for (const auto& m : members) {
            if (!m.Regular()) continue;
            regular.push_back(m.name);
            EXPECT_EQ(m.mtime, 1700000001);
        }
        EXPECT_EQ(regular, c.regular);
    }
    // Sizes: as stored, links without data, a claim past the end clamped to the file.
    std::vector<TarMember> members;
    std::string error;
    ASSERT_TRUE(ReadTarListing(dir / "ustar.tar", members, error));
    ASSERT_EQ(members.size(), 5u);
    EXPECT_EQ(members[0].size, 5u);
    EXPECT_EQ(members[2].size, 1000u);
    EXPECT_EQ(members[3].size, 0u);
    EXPECT_EQ(members[3].type, '2');
    ASSERT_TRUE(ReadTarListing(dir / "huge.tar", members, error));
    EXPECT_EQ(members[0].size, 512u);
    ASSERT_TRUE(ReadTarListing(dir / "cut.tar", members, error));
    EXPECT_EQ(members[0].size, 5u);
}

}  // namespace
}  // namespace formats
