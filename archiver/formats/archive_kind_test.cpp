#include "archiver/formats/archive_kind.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "archiver/engine/unzip/crc32.h"

namespace formats {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Text(std::string_view s) {
    return Bytes(s.begin(), s.end());
}

Bytes ZipEnd() {
    Bytes b(22, 0);
    b[0] = 'P';
    b[1] = 'K';
    b[2] = 5;
    b[3] = 6;
    return b;
}

Bytes Arj(bool good_crc) {
    Bytes basic(30, 0);
    basic[0] = 30;  // first header size
    basic[1] = 11;  // archiver version
    Bytes b(4 + basic.size(), 0);
    b[0] = 0x60;
    b[1] = 0xEA;
    b[2] = static_cast<uint8_t>(basic.size());
    std::copy(basic.begin(), basic.end(), b.begin() + 4);
    uint32_t crc = engine::Crc32(0, basic) ^ (good_crc ? 0 : 1);
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(crc >> (8 * i)));
    b.resize(b.size() + 4, 0);  // the end header
    return b;
}

Bytes Lzh(char level) {
    Bytes b = Text(std::string("\x1f\x00-lh5-", 7));
    b.resize(20, 0);
    b.push_back(static_cast<uint8_t>(level));
    b.resize(40, 'x');
    return b;
}

Bytes BootSector(char first, char second) {
    Bytes b(512, 0);
    b[0] = static_cast<uint8_t>(first);
    b[1] = static_cast<uint8_t>(second);
    b[11] = 0x00;
    b[12] = 0x02;  // 512 bytes per sector
    b[26] = 2;     // two heads
    return b;
}

Bytes Append(Bytes a, const Bytes& b) {
    for (uint8_t c : b) a.push_back(c);
    return a;
}

TEST(ArchiveKindTest, ExtensionComesFirst) {
    const struct {
        const char* path;
        ArchiveKind kind;
    } cases[] = {
        {"a.zip", kKindZip},
        {"A.ZIP", kKindZip},
        {"dir.arj/x.LzH", kKindLzh},
        {"x.arj", kKindArj},
        {"x.arc", kKindArc},
        {"x.Tar", kKindTar},
        {"x.uue", kKindEncodedMail},
        {"x.UU", kKindEncodedMail},
        {"x.xxe", kKindEncodedMail},
        {"x.b64", kKindEncodedMail},
        {"x.bhx", kKindEncodedMail},
        {"x.hqx", kKindEncodedMail},
        {"x.eml", kKindEncodedMail},
        {"x.MIM", kKindEncodedMail},
        {"x.mime", kKindEncodedMail},
        {"x.gz", kKindUnknown},
        {"dir.zip/noext", kKindUnknown},
        {"x.zipx", kKindUnknown},
        {"x.", kKindUnknown},
        {"x.u", kKindUnknown},
        {"backup.z01", kKindZip},
        {"BACKUP.Z12", kKindZip},
        {"backup.z100", kKindZip},
        {"x.zip.001", kKindZip},
        {"dir/x.ZIP.0042", kKindZip},
        {"x.tar.002", kKindUnknown},
        {"x.7z.001", kKindUnknown},
        {"x.001", kKindUnknown},
        {".001", kKindUnknown},
        {"x.zip.01", kKindUnknown},
        {"x.z1", kKindUnknown},
        {"x.zx01", kKindUnknown},
    };
    for (const auto& c : cases) EXPECT_EQ(KindByExtension(c.path), c.kind) << c.path;
    // A zip archive named .arj is ARJ: the extension wins over the content.
    Bytes zip = ZipEnd();
    EXPECT_EQ(DetectKind("zip.arj", zip, zip, kKindUnknown), kKindArj);
}

TEST(ArchiveKindTest, ContentWhenTheExtensionSaysNothing) {
    Bytes noise(7000, 'n');
    Bytes zip_with_program = Append(Append(Text("MZ program"), noise), ZipEnd());
    Bytes zip_then_comment = Append(ZipEnd(), Text("a comment"));
    Bytes end_too_early = Append(ZipEnd(), Bytes(kKindTailSize, 'n'));  // outside the tail
    Bytes long_comment = ZipEnd();
    long_comment[20] = 0xFF;
    long_comment[21] = 0xFF;
    Bytes comment_too_long = Append(long_comment, Bytes(100, 'c'));
    long_comment = Append(long_comment, Bytes(0xFFFF, 'c'));
    Bytes arj_cut = Arj(true);
    arj_cut.resize(20);
    const struct {
        const char* what;
        Bytes bytes;
        ArchiveKind kind;
    } cases[] = {
        {"zip end record", ZipEnd(), kKindZip},
        {"program before zip", zip_with_program, kKindZip},
        {"end record then comment", zip_then_comment, kKindZip},
        {"end record beyond the tail", end_too_early, kKindUnknown},
        {"longest comment", long_comment, kKindZip},
        {"end record padded behind", Append(ZipEnd(), Bytes(10000, 0)), kKindZip},
        {"comment longer than the file", comment_too_long, kKindUnknown},
        {"end record cut short", Text("xxPK\x05"), kKindUnknown},
        {"gzip", Text("\x1f\x8b\x08\x00rest"), kKindGzip},
        {"compress", Text("\x1f\x9d\x90rest"), kKindGzip},
        {"pack", Text("\x1f\x9erest"), kKindGzip},
        {"one magic byte", Text("\x1f"), kKindUnknown},
        {"SZDD", Text("SZDD\x88\xf0\x27\x33\x41\x00rest"), kKindMsCompress},
        {"SZDD tail only", Text("XXXX\x88\xf0\x27\x33\x41\x00rest"), kKindMsCompress},
        {"KWAJ", Text("KWAJ\x88\xf0\x27\xd1rest"), kKindMsCompress},
        {"ARJ", Arj(true), kKindArj},
        {"ARJ with a bad CRC", Arj(false), kKindUnknown},
        {"ARJ cut short", arj_cut, kKindUnknown},
        {"LZH level 0", Lzh(0), kKindLzh},
        {"LZH level 2", Lzh(2), kKindLzh},
        {"LZH bad level", Lzh(9), kKindUnknown},
        {"LZH dash in the method", Text(std::string("\x1f\x00-l--5-", 8) + std::string(40, 0)),
         kKindUnknown},
        {"uuencode", Text("header text\nbegin 644 file.zip\nM5&AE\n"), kKindEncodedMail},
        {"uuencode, crlf", Text("begin 0755 a b\r\n"), kKindEncodedMail},
        {"not a mode", Text("begin 64 file\n"), kKindUnknown},
        {"begin in prose", Text("begin the day\n"), kKindUnknown},
        {"BinHex", Text("(This file must be converted with BinHex 4.0)\n:"), kKindEncodedMail},
        {"uuencode -m", Text("begin-base64 644 a.zip\nUEsF\n====\n"), kKindEncodedMail},
        {"MIME message", Text("From: a\nmime-version: 1.0\n\n"), kKindEncodedMail},
        {"quoted-printable part", Text("Content-Transfer-Encoding: quoted-printable\r\n"),
         kKindEncodedMail},
        {"prose about MIME", Text("The MIME-Version header says\n"), kKindUnknown},
        {"MIME base64", Text("Subject: x\ncontent-transfer-encoding: BASE64\n\nUEsD"),
         kKindEncodedMail},
        {"boot sector", BootSector(0xEB, 0x3C), kKindUnknown},
        {"boot sector holding an end record", Append(BootSector(0xEB, 0x3C), ZipEnd()),
         kKindUnknown},
        {"program, not a boot sector", Append(BootSector('M', 'Z'), ZipEnd()), kKindZip},
        {"second byte Z", Append(BootSector('X', 'Z'), ZipEnd()), kKindZip},
        {"empty", Bytes(), kKindUnknown},
        {"plain text", Text("hello\n"), kKindUnknown},
    };
    for (const auto& c : cases) {
        std::span<const uint8_t> all(c.bytes);
        auto head = all.first(std::min(all.size(), kKindHeadSize));
        auto tail = all.last(std::min(all.size(), kKindTailSize));
        EXPECT_EQ(KindByContent(head, tail), c.kind) << c.what;
    }
}

TEST(ArchiveKindTest, UnknownFallsToTheDefaultThenZip) {
    Bytes text = Text("hello\n");
    EXPECT_EQ(DetectKind("notes.txt", text, text, kKindUnknown), kKindZip);
    EXPECT_EQ(DetectKind("notes.txt", text, text, kKindLzh), kKindLzh);
    Bytes gz = Text("\x1f\x8b\x08");
    EXPECT_EQ(DetectKind("file.gz", gz, gz, kKindLzh), kKindGzip);
}

TEST(ArchiveKindTest, PublishedSamples) {
    const char* root = std::getenv("TESTDATA");
    if (!root) GTEST_SKIP() << "TESTDATA not set";
    const struct {
        const char* file;
        ArchiveKind kind;
    } cases[] = {
        {"/kwaj/f00.kwj", kKindMsCompress},
        {"/lzh/lha213/lh5.lzh", kKindLzh},
        {"/arc/sc_Arc.crunched.arc", kKindArc},
        {"/zip-old-methods/manifest.json", kKindZip},  // nothing recognised: the default
    };
    for (const auto& c : cases) {
        ArchiveKind kind = kKindUnknown;
        ASSERT_TRUE(DetectFileKind(std::string(root) + c.file, kKindUnknown, kind)) << c.file;
        EXPECT_EQ(kind, c.kind) << c.file;
    }
    ArchiveKind kind = kKindUnknown;
    EXPECT_FALSE(DetectFileKind(std::string(root) + "/no such file", kKindUnknown, kind));
    EXPECT_FALSE(DetectFileKind(root, kKindUnknown, kind));  // a folder
    std::string fifo = ::testing::TempDir() + "kind_fifo";
    ::unlink(fifo.c_str());
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(DetectFileKind(fifo, kKindUnknown, kind));  // returns at once, no writer
    ::unlink(fifo.c_str());
    EXPECT_EQ(kind, kKindUnknown);
}

}  // namespace
}  // namespace formats
