#include "archiver/engine/unzip/update_reader.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "archiver/engine/unzip/engine_frame.h"
#include "archiver/engine/unzip/test_util.h"
#include "archiver/engine/unzip/zip_records.h"

namespace engine {
namespace {

using testing_util::ReadFile;
using testing_util::TempDir;
using testing_util::WriteFile;

class UpdateReaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!testing_util::HaveProgram("python3")) GTEST_SKIP() << "python3 missing";
        ASSERT_TRUE(testing_util::RunPython(dir_, R"(
import zipfile, struct
class Unseekable:
    def __init__(self, f): self.f = f
    def write(self, b): return self.f.write(b)
    def flush(self): self.f.flush()
def fill(z):
    z.writestr(zipfile.ZipInfo('b.txt', (2020, 1, 2, 3, 4, 6)), 'bee' * 100, compress_type=zipfile.ZIP_DEFLATED)
    i = zipfile.ZipInfo('A.txt', (2020, 1, 2, 3, 4, 6))
    i.comment = b'member comment'
    i.extra = b'\xfe\xca\x04\x00abcd'
    z.writestr(i, 'ay')
    z.writestr('dir/c.txt', '')
with zipfile.ZipFile('plain.zip', 'w') as z: fill(z)
with open('streamed.zip', 'wb') as f:
    with zipfile.ZipFile(Unseekable(f), 'w') as z: fill(z)
# The same archive with its central directory in reverse order.
d = open('plain.zip', 'rb').read()
end = d.rfind(b'PK\x05\x06')
cd = struct.unpack('<I', d[end + 16:end + 20])[0]
entries, p = [], cd
while p < end:
    n, e, c = struct.unpack('<HHH', d[p + 28:p + 34])
    entries.append(d[p:p + 46 + n + e + c]); p += 46 + n + e + c
open('reversed.zip', 'wb').write(d[:cd] + b''.join(reversed(entries)) + d[end:])
)"));
    }
    int Read(const std::vector<uint8_t>& bytes, UpdateArchive& a) {
        WriteFile(dir_ / "t.zip", bytes);
        reports_.clear();
        return ReadZipForUpdate(
            dir_ / "t.zip", a, [this](const std::string& s) { reports_.push_back(s); }, detail_);
    }
    TempDir dir_;
    std::vector<std::string> reports_;
    std::string detail_;
};

TEST_F(UpdateReaderTest, ReadsMembersInCentralOrder) {
    for (const char* name : {"plain.zip", "streamed.zip", "reversed.zip"}) {
        SCOPED_TRACE(name);
        UpdateArchive a;
        ASSERT_EQ(Read(ReadFile(dir_ / name), a), 0) << detail_;
        ASSERT_EQ(a.members.size(), 3u);
        const ZipMember& b = a.members[std::string(name) == "reversed.zip" ? 2 : 0];
        EXPECT_EQ(b.stored_name, "b.txt");
        EXPECT_EQ(b.uncompressed_size, 300u);  // from the descriptor when streamed
        EXPECT_EQ(b.method, kMethodDeflated);
        EXPECT_EQ(b.local_offset, 0u);
        auto idx = FindMember(a, "a.TXT");
        ASSERT_TRUE(idx);
        EXPECT_EQ(a.members[*idx].comment, "member comment");
        EXPECT_EQ(a.members[*idx].central_extra, std::string("\xfe\xca\x04\x00"
                                                             "abcd",
                                                             8));
        EXPECT_FALSE(FindMember(a, "missing"));
        EXPECT_EQ(a.preamble, 0u);
        EXPECT_TRUE(reports_.empty());
    }
    // Bytes in front of the first local header are the preamble.
    auto plain = ReadFile(dir_ / "plain.zip");
    std::vector<uint8_t> sfx(500 + plain.size(), 'x');
    std::copy(plain.begin(), plain.end(), sfx.begin() + 500);
    size_t end = sfx.size() - kEndSize;
    Put32(&sfx[end + 16], Get32(&sfx[end + 16]));  // offsets stay relative to the zip data
    UpdateArchive a;
    ASSERT_EQ(Read(sfx, a), 0) << detail_;
    EXPECT_EQ(a.preamble, 500u);
    EXPECT_EQ(a.central_offset, 500u + Get32(&plain[plain.size() - kEndSize + 16]));
}

TEST_F(UpdateReaderTest, InconsistenciesAreErrorsOrWarnings) {
    auto plain = ReadFile(dir_ / "plain.zip");
    size_t end = plain.size() - kEndSize;
    size_t cd = Get32(&plain[end + 16]);
    UpdateArchive a;

    auto time = plain;
    time[10] ^= 1;  // the first member's local time
    EXPECT_EQ(Read(time, a), kZipFormat);
    ASSERT_GE(reports_.size(), 2u);
    EXPECT_EQ(reports_[0], "local and central headers differ for b.txt");
    char want[64];
    std::snprintf(want, sizeof want, " offset 6--local = %02x, central = %02x", time[10],
                  plain[10]);
    EXPECT_EQ(reports_[1], want);

    auto size = plain;
    Put32(&size[end + 12], Get32(&size[end + 12]) + 1);
    EXPECT_EQ(Read(size, a), 0);
    EXPECT_EQ(reports_, std::vector<std::string>{
                            "Warning: central directory size is incorrect (made by stzip?)"});

    auto start = plain;
    Put32(&start[end + 16], static_cast<uint32_t>(cd - 1));
    Put32(&start[end + 12], Get32(&start[end + 12]) + 1);
    EXPECT_EQ(Read(start, a), kZipFormat);
    EXPECT_EQ(detail_, "central directory start is incorrect");

    auto count = plain;
    Put16(&count[end + 8], 2);
    Put16(&count[end + 10], 2);
    EXPECT_EQ(Read(count, a), kZipFormat);
    EXPECT_EQ(detail_, "count in end of central directory incorrect");

    auto newer = plain;
    Put16(&newer[cd + 6], 45);
    EXPECT_EQ(Read(newer, a), kZipUnsupported);
    EXPECT_EQ(reports_.back(), "b.txt requires an unsupported zip compression scheme");

    std::vector<uint8_t> garbage(plain.size() + 3, '!');
    std::copy(plain.begin(), plain.end(), garbage.begin());
    EXPECT_EQ(Read(garbage, a), 0);
    EXPECT_EQ(reports_.back(), "Warning: garbage at end of zip file ignored");

    EXPECT_EQ(Read(std::vector<uint8_t>(100, 'z'), a), kZipFormat);
    EXPECT_EQ(detail_, "missing end signature--probably not a zip file");
    for (size_t cut = 1; cut < plain.size(); ++cut) {
        int r = Read(
            std::vector<uint8_t>(plain.begin(), plain.begin() + static_cast<ptrdiff_t>(cut)), a);
        EXPECT_TRUE(r == kZipEof || r == kZipFormat) << cut << " gave " << r;
    }
}

TEST_F(UpdateReaderTest, EmptyAndMissingArchives) {
    UpdateArchive a;
    WriteFile(dir_ / "empty.zip", {});
    EXPECT_EQ(ReadZipForUpdate(dir_ / "empty.zip", a, nullptr, detail_), 0);
    EXPECT_FALSE(std::filesystem::exists(dir_.path / "empty.zip"));
    EXPECT_EQ(ReadZipForUpdate(dir_ / "missing.zip", a, nullptr, detail_), 0);
    EXPECT_TRUE(a.members.empty());
}

}  // namespace
}  // namespace engine
