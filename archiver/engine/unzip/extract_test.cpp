#include "archiver/engine/unzip/extract.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <random>

#include "archiver/engine/unzip/test_util.h"
#include "archiver/engine/unzip/unzip.h"
#include "archiver/engine/unzip/zip_records.h"
#include "platform/dostime.h"
#include "platform/event_loop.h"

namespace engine {
namespace {

namespace fs = std::filesystem;
using testing_util::ReadFile;
using testing_util::TempDir;
using testing_util::WriteFile;

using testing_util::Recorder;

class ExtractTest : public ::testing::Test {
protected:
    void SetUp() override {
        UNZIP_TEST_NEEDS("python3");
        ResetUnzip();
        ResetFrame();
        Unzip().max_name_length = [](const std::string&) { return 255L; };
    }
    // Runs UNZIP on an archive in the temp folder; target empty means test mode.
    int Run(const std::string& archive, const std::string& target, Recorder& r,
            const std::function<void(UnzipCommand&)>& adjust = nullptr) {
        return testing_util::RunUnzip(dir_, archive, target, r, adjust);
    }
    std::string Make(const std::string& script) {
        EXPECT_TRUE(testing_util::RunPython(dir_, "import zipfile, io, os, struct\n" + script));
        return "";
    }
    std::string Text(const std::string& rel) {
        auto b = ReadFile(dir_ / rel);
        return {b.begin(), b.end()};
    }
    TempDir dir_;
};

TEST_F(ExtractTest, ExtractsIndependentArchivesWithTimes) {
    Make(R"(
class Unseekable:
    def __init__(self, f): self.f = f
    def write(self, b): return self.f.write(b)
    def flush(self): self.f.flush()
big = bytes(range(256)) * 3000 + b'tail'
def add(z, name, when, data, ct=zipfile.ZIP_DEFLATED):
    z.writestr(zipfile.ZipInfo(name, when), data, compress_type=ct)
def fill(z):
    add(z, 'docs/readme.txt', (2021, 3, 4, 5, 6, 8), 'hello\n' * 5000)
    add(z, 'big.bin', (1999, 12, 31, 23, 59, 58), big)
    add(z, 'st.txt', (2010, 1, 1, 0, 0, 0), 'stored', zipfile.ZIP_STORED)
    add(z, 'empty/', (2010, 1, 1, 0, 0, 0), '')
    add(z, 'a/b/c/deep.txt', (2015, 6, 7, 8, 9, 10), 'deep')
    add(z, 'ünï/cödé.txt', (2015, 6, 7, 8, 9, 10), 'utf8 name')
    add(z, 'zero.txt', (2015, 6, 7, 8, 9, 10), '')
    z.comment = b'the archive comment'
with zipfile.ZipFile('plain.zip', 'w', zipfile.ZIP_DEFLATED) as z: fill(z)
with open('streamed.zip', 'wb') as f:
    with zipfile.ZipFile(Unseekable(f), 'w', zipfile.ZIP_DEFLATED) as z: fill(z)
data = open('plain.zip', 'rb').read()
open('sfx.zip', 'wb').write(b'MZ' + b'\0' * 3000 + data)
open('big.expected', 'wb').write(big)
)");
    struct Want {
        const char* path;
        platform::DosFields when;
    };
    const Want wants[] = {
        {"docs/readme.txt", {2021, 3, 4, 5, 6, 8}}, {"big.bin", {1999, 12, 31, 23, 59, 58}},
        {"st.txt", {2010, 1, 1, 0, 0, 0}},          {"a/b/c/deep.txt", {2015, 6, 7, 8, 9, 10}},
        {"ünï/cödé.txt", {2015, 6, 7, 8, 9, 10}},   {"zero.txt", {2015, 6, 7, 8, 9, 10}}};
    for (const char* archive : {"plain.zip", "streamed.zip", "sfx.zip"}) {
        SCOPED_TRACE(archive);
        std::string out = std::string("out_") + archive;
        Recorder r;
        ASSERT_EQ(Run(archive, out, r), kUnzipOk) << r.Joined(kMsgError);
        EXPECT_EQ(Text(out + "/docs/readme.txt").size(), 30000u);
        EXPECT_EQ(ReadFile(dir_ / (out + "/big.bin")), ReadFile(dir_ / "big.expected"));
        EXPECT_EQ(Text(out + "/st.txt"), "stored");
        EXPECT_EQ(Text(out + "/a/b/c/deep.txt"), "deep");
        EXPECT_EQ(Text(out + "/ünï/cödé.txt"), "utf8 name");
        EXPECT_FALSE(fs::exists(dir_ / (out + "/empty")));  // folder entries make no folder
        for (const Want& w : wants) {
            struct stat st;
            ASSERT_EQ(::stat((dir_ / (out + "/" + w.path)).c_str(), &st), 0) << w.path;
            const platform::DosFields& f = w.when;
            uint32_t dos =
                static_cast<uint32_t>(((f.year - 1980) << 25) | (f.month << 21) | (f.day << 16) |
                                      (f.hour << 11) | (f.minute << 5) | (f.second / 2));
            EXPECT_EQ(st.st_mtime, platform::DosToTime(dos)) << w.path;
        }
        EXPECT_NE(r.Joined(kMsgStatusLine).find("Extracting deep.txt"), std::string::npos);

        Recorder t;
        EXPECT_EQ(Run(archive, "", t), kUnzipOk) << t.Joined(kMsgError);
        EXPECT_NE(t.Joined(kMsgStatusLine).find("Testing big.bin"), std::string::npos);
    }
}

TEST_F(ExtractTest, OverwriteAnswers) {
    Make(R"(
with zipfile.ZipFile('o.zip', 'w') as z:
    for n in ['one.txt', 'two.txt', 'three.txt']: z.writestr(n, 'new ' + n)
)");
    auto reset = [&] {
        fs::remove_all(dir_ / "o");
        fs::create_directories(dir_ / "o");
        for (const char* n : {"one.txt", "two.txt", "three.txt"})
            std::ofstream(dir_ / (std::string("o/") + n)) << "old";
    };
    reset();
    Recorder skip;
    EXPECT_EQ(Run("o.zip", "o", skip), kUnzipOk);
    EXPECT_EQ(skip.asked.size(), 3u);
    EXPECT_EQ(Text("o/two.txt"), "old");

    reset();
    Recorder replace;
    replace.overwrite = [](const OverwriteQuery& q) {
        return q.output_path.ends_with("two.txt") ? kReplace : kSkip;
    };
    EXPECT_EQ(Run("o.zip", "o", replace), kUnzipOk);
    EXPECT_EQ(Text("o/one.txt"), "old");
    EXPECT_EQ(Text("o/two.txt"), "new two.txt");

    reset();
    Recorder all;  // the first "replace all" answers the rest of the run
    all.overwrite = [](const OverwriteQuery& q) {
        EXPECT_EQ(q.existing_size, 3u);
        EXPECT_EQ(q.stored_name, "one.txt");
        return kReplaceAll;
    };
    EXPECT_EQ(Run("o.zip", "o", all), kUnzipOk);
    EXPECT_EQ(all.asked.size(), 1u);
    EXPECT_EQ(Text("o/three.txt"), "new three.txt");

    reset();
    Recorder stop;
    stop.overwrite = [](const OverwriteQuery&) { return LRESULT{0}; };
    EXPECT_EQ(Run("o.zip", "o", stop), kUnzipError);
    EXPECT_EQ(stop.asked.size(), 1u);
    EXPECT_EQ(Text("o/three.txt"), "old");
}

TEST_F(ExtractTest, StopDuringAMemberDeletesItsPartialFile) {
    Make(R"(
import random
random.seed(3)
with zipfile.ZipFile('s.zip', 'w', zipfile.ZIP_DEFLATED) as z:
    z.writestr('first.txt', 'complete')
    z.writestr('large.bin', bytes(random.getrandbits(8) for _ in range(400000)))
    z.writestr('after.txt', 'never')
)");
    Recorder r;
    r.stop_reply = 1;
    r.on_status_line = [&](const std::string& text) {
        // A key press aimed at the main window while the large member is written.
        if (text == "Extracting large.bin")
            platform::PostMessage(r.hwnd, platform::WM_KEYDOWN, 'X', 0);
    };
    EXPECT_EQ(Run("s.zip", "s", r), kUnzipStopped);
    EXPECT_EQ(Text("s/first.txt"), "complete");
    EXPECT_FALSE(fs::exists(dir_ / "s/large.bin"));
    EXPECT_FALSE(fs::exists(dir_ / "s/after.txt"));
    EXPECT_FALSE(Frame().busy);
}

TEST_F(ExtractTest, UnsafeNamesAreSkippedAndLinksNotFollowed) {
    Make(R"(
with zipfile.ZipFile('u.zip', 'w') as z:
    for n in ['../evil1.txt', 'a/../../evil2.txt', 'x/..', '/abs.txt', 'C:\\dos\\path.txt',
              'ok/./fine.txt', 'link.txt']:
        z.writestr(zipfile.ZipInfo(n), 'data ' + n)
)");
    fs::create_directories(dir_ / "u");
    std::ofstream(dir_ / "victim.txt") << "victim";
    fs::create_symlink(dir_ / "victim.txt", dir_ / "u/link.txt");
    Recorder r;
    r.overwrite = [](const OverwriteQuery&) { return kReplace; };
    // The members refused are warned about and make the run's result an error.
    EXPECT_EQ(Run("u.zip", "u", r), kUnzipError) << r.Joined(kMsgError);
    EXPECT_FALSE(fs::exists(dir_ / "evil1.txt"));
    EXPECT_FALSE(fs::exists(dir_.path.parent_path() / "evil2.txt"));
    EXPECT_EQ(Text("u/abs.txt"), "data /abs.txt");
    EXPECT_EQ(Text("u/dos/path.txt"), "data C:\\dos\\path.txt");
    EXPECT_EQ(Text("u/ok/fine.txt"), "data ok/./fine.txt");
    EXPECT_EQ(r.asked.size(), 1u);  // the link counts as an existing file
    EXPECT_FALSE(fs::is_symlink(dir_ / "u/link.txt"));
    EXPECT_EQ(Text("u/link.txt"), "data link.txt");
    EXPECT_EQ(Text("victim.txt"), "victim");
    std::string warnings = r.Joined(kMsgWarning);
    EXPECT_NE(warnings.find("../evil1.txt"), std::string::npos);
    EXPECT_NE(warnings.find("a/../../evil2.txt"), std::string::npos);
    EXPECT_NE(warnings.find("x/.."), std::string::npos);
}

TEST_F(ExtractTest, EncryptedMembers) {
    UNZIP_TEST_NEEDS("7zz");
    fs::create_directories(dir_ / "src");
    std::ofstream(dir_ / "src/a.txt") << std::string(20000, 'a');
    std::ofstream(dir_ / "src/b.txt") << "second";
    std::string cmd = "cd '" + dir_.path.string() +
                      "/src' && 7zz a -tzip -mem=ZipCrypto -pSECRET ../enc.zip a.txt b.txt "
                      ">/dev/null";
    ASSERT_EQ(std::system(cmd.c_str()), 0);

    Recorder ok;
    EXPECT_EQ(Run("enc.zip", "good", ok,
                  [](UnzipCommand& c) {
                      c.password_given = true;
                      c.password = "SECRET";
                  }),
              kUnzipOk)
        << ok.Joined(kMsgError);
    EXPECT_EQ(Text("good/a.txt"), std::string(20000, 'a'));
    EXPECT_EQ(Text("good/b.txt"), "second");

    // The first encrypted member ends the whole run. One wrong password in 256 passes the
    // header's check byte (its random bytes differ per archive) and then fails as damage, so
    // several are tried and at least one must be refused by the check itself.
    int refused = 0;
    for (const char* password : {"secret", "Secret", "sEcret"}) {
        const std::string out = std::string("bad_") + password;
        Recorder wrong;
        EXPECT_EQ(Run("enc.zip", out, wrong,
                      [password](UnzipCommand& c) {
                          c.password_given = true;
                          c.password = password;
                      }),
                  kUnzipError);
        if (wrong.Joined(kMsgError) ==
            "Error: " + (dir_ / (out + "/a.txt")) + " -- the specified password is incorrect\n")
            ++refused;
        // Nothing is left of the member whose password failed, not even an empty file.
        EXPECT_FALSE(fs::exists(dir_ / (out + "/a.txt")));
        EXPECT_FALSE(fs::exists(dir_ / (out + "/b.txt")));
    }
    EXPECT_GE(refused, 1);

    Recorder none;
    EXPECT_EQ(Run("enc.zip", "", none), kUnzipError);
    EXPECT_EQ(none.Joined(kMsgError),
              "Error: a.txt -- the file is encrypted and its password wasn't specified\n");
}

// Patches a member's method (and flags) in both headers of a one-member archive.
void SetMethod(std::vector<uint8_t>& zip, uint16_t method, uint16_t add_flags) {
    Put16(&zip[8], method);
    Put16(&zip[6], static_cast<uint16_t>(Get16(&zip[6]) | add_flags));
    size_t end = zip.size() - kEndSize;
    size_t cd = Get32(&zip[end + 16]);
    Put16(&zip[cd + 10], method);
    Put16(&zip[cd + 8], static_cast<uint16_t>(Get16(&zip[cd + 8]) | add_flags));
}

TEST_F(ExtractTest, DamagedAndUnsupportedMembersFail) {
    Make(R"(
import random
random.seed(9)
text = ''.join(random.choice(['red ', 'green ', 'blue\n']) for _ in range(30000))
with zipfile.ZipFile('d.zip', 'w', zipfile.ZIP_DEFLATED) as z: z.writestr('text.txt', text)
with zipfile.ZipFile('s.zip', 'w') as z: z.writestr('stored.txt', 'stored data here')
)");
    auto good = ReadFile(dir_ / "d.zip");
    // Method 99 with the encrypted flag (as AES members carry): unknown compression comes
    // before any password check.
    auto aes = ReadFile(dir_ / "s.zip");
    SetMethod(aes, 99, kFlagEncrypted);
    WriteFile(dir_ / "aes.zip", aes);
    Recorder m;
    EXPECT_EQ(Run("aes.zip", "", m), kUnzipError);
    EXPECT_EQ(m.Joined(kMsgError), "unknown compression\n");

    // A changed byte of stored data: the CRC message, with both values.
    auto crc = ReadFile(dir_ / "s.zip");
    crc[30 + 10 + 3] ^= 0x20;
    WriteFile(dir_ / "crc.zip", crc);
    Recorder c;
    EXPECT_EQ(Run("crc.zip", "", c), kUnzipError);
    EXPECT_NE(c.Joined(kMsgError).find("ZIP damaged: file stored.txt: Bad CRC "),
              std::string::npos);

    // Compressed data that ends before its stream does (sizes cut in both headers) fails
    // and leaves no file behind.
    auto cut = good;
    uint32_t csize = Get32(&cut[18]);
    size_t end = cut.size() - kEndSize;
    size_t cd = Get32(&cut[end + 16]);
    Put32(&cut[18], csize / 2);
    Put32(&cut[cd + 20], csize / 2);
    WriteFile(dir_ / "cut.zip", cut);
    Recorder t;
    EXPECT_EQ(Run("cut.zip", "cut", t), kUnzipError);
    EXPECT_NE(t.Joined(kMsgError).find("ZIP damaged: file text.txt"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir_ / "cut/text.txt"));

    // Cut anywhere or damaged anywhere: never a crash, a hang or a success with bad data.
    std::mt19937 rng(11);
    for (int i = 0; i < 300; ++i) {
        auto bad = good;
        if (i % 2)
            bad.resize(rng() % bad.size());
        else
            for (int k = 0; k < 3; ++k) bad[rng() % bad.size()] = static_cast<uint8_t>(rng());
        WriteFile(dir_ / "bad.zip", bad);
        Recorder b;
        int result = Run("bad.zip", "", b);
        EXPECT_TRUE(result == kUnzipOk || result == kUnzipError) << result;
    }
}

TEST_F(ExtractTest, SelectionShortNamesAndTooLongNames) {
    Make(R"(
with zipfile.ZipFile('n.zip', 'w') as z:
    z.writestr('Dir One/long name.text.html', 'x')
    z.writestr('keep/Me.TXT', 'me')
    z.writestr('n' * 400, 'too long')
    z.writestr('after.txt', 'after')
)");
    Recorder sel;
    EXPECT_EQ(Run("n.zip", "sel", sel, [](UnzipCommand& c) { c.selection = {"KEEP\\me.txt"}; }),
              kUnzipOk);
    EXPECT_EQ(Text("sel/keep/Me.TXT"), "me");
    EXPECT_FALSE(fs::exists(dir_ / "sel/after.txt"));

    Recorder junk;
    EXPECT_EQ(Run("n.zip", "junk", junk, [](UnzipCommand& c) { c.use_folder_names = false; }),
              kUnzipError);
    EXPECT_EQ(Text("junk/Me.TXT"), "me");
    EXPECT_EQ(Text("junk/after.txt"), "after");
    EXPECT_NE(junk.Joined(kMsgWarning).find("longer than 303"), std::string::npos);

    Unzip().max_name_length = [](const std::string&) { return 12L; };
    Recorder dos;
    EXPECT_EQ(Run("n.zip", "dos", dos), kUnzipError);
    EXPECT_EQ(Text("dos/DIRONE/LONGNAME.HTM"), "x");
    EXPECT_EQ(Text("dos/AFTER.TXT"), "after");

    // Test mode tests every member, whatever the selection.
    Recorder all;
    EXPECT_EQ(Run("n.zip", "", all, [](UnzipCommand& c) { c.selection = {"after.txt"}; }),
              kUnzipOk);
    EXPECT_NE(all.Joined(kMsgStatusLine).find("Testing Me.TXT"), std::string::npos);
}

TEST_F(ExtractTest, StreamedMembersWithoutADirectory) {
    // Data descriptors and zero sizes in the local headers, and no central directory to ask:
    // a deflated member is decoded to the end of its own stream and checked against its
    // descriptor; a stored one cannot be delimited and fails rather than come out empty.
    Make(R"(
class Unseekable:
    def __init__(self, f): self.f = f
    def write(self, b): return self.f.write(b)
    def flush(self): self.f.flush()
with open('s.zip', 'wb') as f:
    with zipfile.ZipFile(Unseekable(f), 'w', zipfile.ZIP_DEFLATED) as z:
        z.writestr('one.txt', 'first ' * 1000)
        z.writestr('two.txt', 'second ' * 1000)
        z.writestr('three.txt', 'third', compress_type=zipfile.ZIP_STORED)
d = open('s.zip', 'rb').read()
open('cut.zip', 'wb').write(d[:d.find(b'PK\x01\x02')])
)");
    Recorder r;
    EXPECT_EQ(Run("cut.zip", "cut", r), kUnzipError);
    EXPECT_EQ(Text("cut/one.txt").size(), 6000u);
    EXPECT_EQ(Text("cut/two.txt").size(), 7000u);
    EXPECT_FALSE(fs::exists(dir_ / "cut/three.txt"));
    EXPECT_EQ(r.Joined(kMsgError), "ZIP damaged: file three.txt: its size is unknown\n");
}

// Hand-made archives whose first and last members have the descriptor flag: the descriptor
// missing, without signature, signed, or with 64-bit sizes; local sizes given or zero.
const char* const kStreamedArchives = R"(
import zlib
def deflate(data):
    c = zlib.compressobj(6, zlib.DEFLATED, -15)
    return c.compress(data) + c.flush()
def archive(variant, zero):
    body, cd, n = b'', b'', 0
    for name, data, flagged in [(b'a.txt', b'alpha ' * 900, True), (b'b.txt', b'beta ' * 50, False),
                                (b'c.txt', b'gamma ' * 700, True)]:
        comp, crc = deflate(data), zlib.crc32(data)
        lz = zero and flagged
        local = struct.pack('<IHHHHHIIIHH', 0x04034b50, 20, 8 if flagged else 0, 8, 0, 0x5021,
                            0 if lz else crc, 0 if lz else len(comp), 0 if lz else len(data),
                            len(name), 0) + name + comp
        if flagged:
            local += {'none': b'', 'plain': struct.pack('<III', crc, len(comp), len(data)),
                      'signed': struct.pack('<IIII', 0x08074b50, crc, len(comp), len(data)),
                      'wide': struct.pack('<IIQQ', 0x08074b50, crc, len(comp), len(data))}[variant]
        cd += struct.pack('<IHHHHHHIIIHHHHHII', 0x02014b50, 20, 20, 8 if flagged else 0, 8, 0,
                          0x5021, crc, len(comp), len(data), len(name), 0, 0, 0, 0, 0,
                          len(body)) + name
        body += local
        n += 1
    return body, body + cd + struct.pack('<IHHHHIIH', 0x06054b50, 0, 0, n, n, len(cd), len(body), 0)
for variant in ['none', 'plain', 'signed', 'wide']:
    for zero in [False, True]:
        body, whole = archive(variant, zero)
        stem = '%s_%d' % (variant, zero)
        open(stem + '.zip', 'wb').write(whole)
        open(stem + '_nodir.zip', 'wb').write(body)
        assert zipfile.ZipFile(stem + '.zip').testzip() is None
)";

TEST_F(ExtractTest, StreamedMembersAreNeverLost) {
    Make(kStreamedArchives);
    // Without a directory only the descriptors can delimit a member whose header has no
    // sizes; a missing one is damage, never a silent loss.
    struct Case {
        const char* stem;
        bool walk_finds_all;
    };
    const Case cases[] = {{"none_0", true},  {"none_1", false},  {"plain_0", true},
                          {"plain_1", true}, {"signed_0", true}, {"signed_1", true},
                          {"wide_0", true},  {"wide_1", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stem);
        std::string stem = c.stem;
        Recorder ex;
        EXPECT_EQ(Run(stem + ".zip", "x_" + stem, ex), kUnzipOk) << ex.Joined(kMsgError);
        EXPECT_EQ(Text("x_" + stem + "/a.txt").size(), 5400u);
        EXPECT_EQ(Text("x_" + stem + "/b.txt").size(), 250u);
        EXPECT_EQ(Text("x_" + stem + "/c.txt").size(), 4200u);
        Recorder t;
        EXPECT_EQ(Run(stem + ".zip", "", t), kUnzipOk) << t.Joined(kMsgError);
        EXPECT_EQ(t.Joined(kMsgStatusLine), "Testing a.txt\nTesting b.txt\nTesting c.txt\n");

        Recorder w;
        int result = Run(stem + "_nodir.zip", "", w);
        if (c.walk_finds_all) {
            // The walk ends at the end of the file without finding an end record.
            EXPECT_EQ(w.Joined(kMsgStatusLine), "Testing a.txt\nTesting b.txt\nTesting c.txt\n");
        } else {
            EXPECT_EQ(result, kUnzipError);
            EXPECT_EQ(w.Joined(kMsgError),
                      "ZIP damaged: file a.txt: its data descriptor does not match its data\n");
        }
    }
}

TEST_F(ExtractTest, MissingLocalHeaderIsReported) {
    Make(kStreamedArchives);
    auto zip = ReadFile(dir_ / "plain_0.zip");
    size_t end = zip.size() - kEndSize;
    size_t cd = Get32(&zip[end + 16]);
    size_t second = cd + kCentralSize + 5;  // the central header of b.txt
    Put32(&zip[second + 42], Get32(&zip[second + 42]) + 1);
    WriteFile(dir_ / "moved.zip", zip);
    Recorder r;
    EXPECT_EQ(Run("moved.zip", "", r), kUnzipError);
    EXPECT_EQ(r.Joined(kMsgError), "ZIP damaged: file b.txt: its local header is missing\n");
}

// Sets a member's CRC and sizes in its local and central headers (one-member archive);
// a negative value leaves the field alone.
void SetSizes(std::vector<uint8_t>& zip, int64_t compressed, int64_t uncompressed,
              bool local = true, bool central = true) {
    size_t end = zip.size() - kEndSize;
    size_t cd = Get32(&zip[end + 16]);
    auto put = [](uint8_t* p, int64_t v) {
        if (v >= 0) Put32(p, static_cast<uint32_t>(v));
    };
    if (local) {
        put(&zip[18], compressed);
        put(&zip[22], uncompressed);
    }
    if (central) {
        put(&zip[cd + 20], compressed);
        put(&zip[cd + 24], uncompressed);
    }
}

TEST_F(ExtractTest, DeclaredSizesBoundTheOutput) {
    Make(R"(
with zipfile.ZipFile('d.zip', 'w', zipfile.ZIP_DEFLATED) as z: z.writestr('d.bin', bytes(300000))
with zipfile.ZipFile('s.zip', 'w') as z: z.writestr('s.txt', 'twenty bytes of data')
)");
    struct Case {
        const char* archive;
        int64_t compressed, uncompressed;
        bool local, central;
        const char* error;
    };
    const Case cases[] = {
        // Listed as 10 bytes, decodes to 300,000 whose CRC the headers carry.
        {"d.zip", -1, 10, true, true, "its data is longer than its declared size"},
        {"d.zip", -1, 300001, true, true, "its data is shorter than its declared size"},
        // Stored: the data is as long as the compressed size says, and that must agree.
        {"s.zip", 20, 10, true, true, "its stored size differs from its declared size"},
        {"s.zip", 10, 20, true, true, "its stored size differs from its declared size"},
        {"s.zip", 10, 10, true, true, "Bad CRC"},
        // A local header that says other than the directory describes other data.
        {"d.zip", -1, 10, false, true, "its local and central headers differ"},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(n);
        auto zip = ReadFile(dir_ / c.archive);
        SetSizes(zip, c.compressed, c.uncompressed, c.local, c.central);
        std::string name = "bad" + std::to_string(n++) + ".zip";
        WriteFile(dir_ / name, zip);
        for (bool extract : {false, true}) {
            Recorder r;
            std::string out = extract ? "out_" + name : "";
            EXPECT_EQ(Run(name, out, r), kUnzipError);
            EXPECT_NE(r.Joined(kMsgError).find(c.error), std::string::npos) << r.Joined(kMsgError);
            // No damaged output is left, except after a CRC failure (the file is complete).
            if (extract && std::string(c.error) != "Bad CRC") {
                EXPECT_TRUE(!fs::exists(dir_ / out) || fs::is_empty(dir_ / out));
            }
        }
    }
}

TEST_F(ExtractTest, FoldersByAttributeAndEmptyFiles) {
    Make(R"(
with zipfile.ZipFile('f.zip', 'w') as z:
    i = zipfile.ZipInfo('attrfolder')
    i.external_attr = 0x10
    z.writestr(i, '')
    z.writestr('empty.txt', '')
    z.writestr('full.txt', 'full')
)");
    Recorder r;
    EXPECT_EQ(Run("f.zip", "f", r, [](UnzipCommand& c) { c.folders_by_attribute = true; }),
              kUnzipOk)
        << r.Joined(kMsgError);
    EXPECT_FALSE(fs::exists(dir_ / "f/attrfolder"));
    EXPECT_TRUE(fs::is_regular_file(dir_ / "f/empty.txt"));
    EXPECT_EQ(Text("f/empty.txt"), "");
    EXPECT_EQ(Text("f/full.txt"), "full");
}

TEST_F(ExtractTest, FolderLinksLeavingTheTargetAreNotFollowed) {
    Make(R"(
with zipfile.ZipFile('l.zip', 'w') as z:
    for n in ['out/escaped.txt', 'in/kept.txt', 'deep/out/escaped2.txt', 'dangling/x.txt',
              'plain.txt']:
        z.writestr(n, 'data ' + n)
)");
    fs::create_directories(dir_ / "elsewhere");
    fs::create_directories(dir_ / "t/sub");
    fs::create_directories(dir_ / "t/deep");
    fs::create_symlink(dir_ / "elsewhere", dir_ / "t/out");
    fs::create_symlink("../elsewhere", dir_ / "t/deep/out");
    fs::create_symlink("sub", dir_ / "t/in");  // stays inside, but is not written through either
    fs::create_symlink(dir_ / "nowhere", dir_ / "t/dangling");
    Recorder r;
    EXPECT_EQ(Run("l.zip", "t", r), kUnzipError) << r.Joined(kMsgError);
    EXPECT_TRUE(fs::is_empty(dir_ / "elsewhere"));
    EXPECT_FALSE(fs::exists(dir_ / "nowhere"));
    EXPECT_FALSE(fs::exists(dir_ / "t/sub/kept.txt"));
    EXPECT_EQ(Text("t/plain.txt"), "data plain.txt");
    std::string w = r.Joined(kMsgWarning);
    EXPECT_NE(w.find("skipping out/escaped.txt: its folder " + (dir_ / "t/out") +
                     " is a link that leads outside the target folder"),
              std::string::npos)
        << w;
    EXPECT_NE(w.find("deep/out/escaped2.txt"), std::string::npos);
    EXPECT_NE(w.find("skipping in/kept.txt: its folder " + (dir_ / "t/in") +
                     " is a link, and no member is written through a link"),
              std::string::npos)
        << w;
    EXPECT_NE(w.find("dangling/x.txt"), std::string::npos);
}

TEST_F(ExtractTest, NameLimitCountsCharacters) {
    // 200 accented letters are 400 bytes of UTF-8 but 200 characters: within the limit.
    Make(R"(
with zipfile.ZipFile('u.zip', 'w') as z:
    z.writestr('\u00e9' * 100 + '/' + '\u00e8' * 99 + '.txt', 'accents')
    z.writestr('\u00e9' * 304, 'too long')
)");
    Recorder r;
    EXPECT_EQ(Run("u.zip", "u", r), kUnzipError);
    std::string accented;
    for (int i = 0; i < 100; ++i) accented += "\u00e9";
    accented += "/";
    for (int i = 0; i < 99; ++i) accented += "\u00e8";
    EXPECT_EQ(Text("u/" + accented + ".txt"), "accents");
    EXPECT_EQ(r.Joined(kMsgWarning),
              "Warning: skipping a member whose name is longer than 303 characters\n");
    // Test mode writes no path: every member is tested.
    Recorder t;
    EXPECT_EQ(Run("u.zip", "", t), kUnzipOk) << t.Joined(kMsgError);
}

TEST_F(ExtractTest, OneRunAtATime) {
    Make(R"(
with zipfile.ZipFile('b.zip', 'w') as z: z.writestr('a.txt', 'a')
)");
    Recorder r;
    int inner = -1;
    r.on_status_line = [&](const std::string&) {
        UnzipCommand again;
        again.archive = dir_ / "b.zip";
        again.report_window = r.hwnd;
        inner = UNZIP(again);
    };
    EXPECT_EQ(Run("b.zip", "", r), kUnzipOk);
    EXPECT_EQ(inner, 0);
    EXPECT_FALSE(Frame().busy);

    // An archive name without an extension gets one.
    Recorder n;
    UnzipCommand cmd;
    cmd.archive = dir_ / "b";
    cmd.report_window = n.hwnd;
    EXPECT_EQ(UNZIP(cmd), 1);
    EXPECT_EQ(cmd.result, kUnzipOk) << n.Joined(kMsgError);
}

}  // namespace
}  // namespace engine
