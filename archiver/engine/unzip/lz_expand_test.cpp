#include "archiver/engine/unzip/lz_expand.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <random>

#include "archiver/engine/unzip/test_util.h"

namespace engine {
namespace {

using testing_util::ReadFile;
using testing_util::TempDir;
using testing_util::WriteFile;

// Expands a whole file; `error` gets LzInit's or LzRead's failure.
std::vector<uint8_t> Expand(const std::string& path, int& error, size_t chunk = 16384) {
    std::vector<uint8_t> out;
    int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) {
        error = kLzErrorBadInHandle;
        return out;
    }
    LzHandle lz = LzInit(fd, error);
    if (lz) {
        std::vector<uint8_t> buf(chunk);
        for (;;) {
            long n = LzRead(*lz, buf);
            if (n < 0) {
                error = static_cast<int>(n);
                break;
            }
            if (n == 0) break;
            out.insert(out.end(), buf.begin(), buf.begin() + n);
        }
    }
    ::close(fd);
    return out;
}

std::string TestData(const std::string& name) {
    const char* root = std::getenv("TESTDATA");
    return std::string(root ? root : "../shared/testdata") + "/kwaj/" + name;
}

// The published KWAJ files: unusual header fields around one stored 0xFF byte, and malformed
// headers that must fail without reading past the data.
TEST(LzExpand, PublishedKwajFiles) {
    struct Case {
        const char* file;
        int error;
        std::vector<uint8_t> data;
        std::optional<std::string> name;
    } cases[] = {
        {"f00.kwj", 0, {0xFF}, "f00.kwj"},
        {"f01.kwj", 0, {0xFF}, "f01.1"},
        {"f03.kwj", 0, {0xFF}, "f03.123"},
        {"f04.kwj", 0, {0xFF}, "f04.123"},  // extension without its NUL: kept to 3
        {"f11.kwj", 0, {0xFF}, "1.1"},
        {"f13.kwj", 0, {0xFF}, "1.123"},
        {"f33.kwj", 0, {0xFF}, "123.123"},
        {"f83.kwj", 0, {0xFF}, "12345678.123"},
        {"f84.kwj", 0, {0xFF}, "12345678.123"},
        {"f94.kwj", 0, {0xFF}, "12345678.123"},                  // name without its NUL: kept to 8
        {"cve-2018-14681.kwj", kLzErrorRead, {}, std::nullopt},  // extra block past the end
        {"blank.kwj", 0, std::vector<uint8_t>(14, 0), std::nullopt},  // not compressed
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        std::string path = TestData(c.file);
        ASSERT_EQ(::access(path.c_str(), R_OK), 0) << "missing test file";
        int error = 0;
        EXPECT_EQ(Expand(path, error), c.data);
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(GetExpandedName(path), c.name);
    }
}

// SZDD made by mscompress expands to the original, whatever the reader's block size.
TEST(LzExpand, SzddFromMscompress) {
    UNZIP_TEST_NEEDS("mscompress");
    TempDir dir;
    std::vector<uint8_t> text;
    for (int i = 0; i < 3000; ++i) {
        std::string line = "line " + std::to_string(i % 97) + " of the repeated text\n";
        text.insert(text.end(), line.begin(), line.end());
    }
    auto noise = testing_util::RandomBytes(20000, 7);
    struct Case {
        const char* name;
        std::vector<uint8_t> data;
    } cases[] = {{"text.txt", text},
                 {"noise.bin", noise},
                 {"empty.dat", {}},
                 {"blanks.txt", std::vector<uint8_t>(5000, ' ')}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFile(dir / c.name, c.data);
        ASSERT_EQ(std::system(("cd '" + dir.path.string() + "' && mscompress " + c.name).c_str()),
                  0);
        std::string packed = dir / (std::string(c.name) + "_");
        for (size_t chunk : {size_t{1}, size_t{7}, size_t{16384}}) {
            int error = 0;
            EXPECT_EQ(Expand(packed, error, chunk), c.data);
            EXPECT_EQ(error, 0);
        }
        // mscompress appends the "_" and stores no character: the name cannot be told.
        EXPECT_EQ(GetExpandedName(packed), std::nullopt);
    }
}

// KWAJ in each method we expand, and method 3 passed through unchanged; the length field is
// read only when its flag is set, and truncated or hostile data fails.
TEST(LzExpand, KwajMethods) {
    UNZIP_TEST_NEEDS("mscompress");
    TempDir dir;
    std::vector<uint8_t> text;
    for (int i = 0; i < 4000; ++i) text.push_back(static_cast<uint8_t>("abcabcabd\n"[i % 10]));
    WriteFile(dir / "plain.txt", text);
    ASSERT_EQ(std::system(("cd '" + dir.path.string() + "' && mscompress plain.txt").c_str()), 0);
    ASSERT_TRUE(testing_util::RunPython(dir, R"(
import struct, zlib
data = open('plain.txt', 'rb').read()
lzss = open('plain.txt_', 'rb').read()[14:]
def kwaj(name, method, body, flags=0, fields=b''):
    off = 14 + len(fields)
    open(name, 'wb').write(b'KWAJ\x88\xf0\x27\xd1' + struct.pack('<HHH', method, off, flags) + fields + body)
kwaj('m0.kwj', 0, data)
kwaj('m1.kwj', 1, bytes(b ^ 0xff for b in data), 0x0009, struct.pack('<I', len(data)) + b'out\0')
kwaj('m2.kwj', 2, lzss, 0x0018, b'two\0txt\0')
c = zlib.compressobj(9, zlib.DEFLATED, -15)
d1 = c.compress(data[:2000]) + c.flush()
c = zlib.compressobj(9, zlib.DEFLATED, -15, zdict=data[:2000])  # refers back into block 1
d2 = c.compress(data[2000:]) + c.flush()
blocks = b''.join(struct.pack('<H', len(d) + 2) + b'CK' + d for d in (d1, d2)) + b'\0\0'
kwaj('m4.kwj', 4, blocks)
kwaj('m3.kwj', 3, b'whatever')
kwaj('m9.kwj', 9, b'')
kwaj('cut.kwj', 4, blocks[:-5])
kwaj('halfmatch.kwj', 2, b'\x00\x10')
bomb = zlib.compressobj(9, zlib.DEFLATED, -15)
b = bomb.compress(bytes(1 << 20)) + bomb.flush()
kwaj('bomb.kwj', 4, struct.pack('<H', len(b) + 2) + b'CK' + b)
kwaj('nolen.kwj', 0, data, 0x0002, b'\1\2')
kwaj('short.kwj', 0, data, 0x0001, struct.pack('<I', 10))
hdr = b'KWAJ\x88\xf0\x27\xd1' + struct.pack('<HHH', 0, 5, 0)
open('inside.kwj', 'wb').write(hdr + b'x')
open('cuthdr.kwj', 'wb').write(b'KWAJ\x88\xf0\x27\xd1\0\0')
)"));
    auto m3 = ReadFile(dir / "m3.kwj");
    struct Case {
        const char* file;
        int error;
        std::vector<uint8_t> data;
        std::optional<std::string> name;
    } cases[] = {
        {"m0.kwj", 0, text, "m0.kwj"},
        {"m1.kwj", 0, text, "out"},
        {"m2.kwj", 0, text, "two.txt"},
        {"m4.kwj", 0, text, "m4.kwj"},
        {"m3.kwj", 0, m3, "m3.kwj"},
        {"nolen.kwj", 0, text, "nolen.kwj"},
        {"m9.kwj", kLzErrorUnknownAlg, {}, std::nullopt},
        {"inside.kwj", 0, {'x'}, "inside.kwj"},  // offset word inside the header
        {"cuthdr.kwj", kLzErrorRead, {}, std::nullopt},
        // A header length that disagrees does not cut the data; the run reports it.
        {"short.kwj", 0, text, "short.kwj"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        int error = 0;
        EXPECT_EQ(Expand(dir / c.file, error), c.data);
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(GetExpandedName(dir / c.file), c.name);
    }
    for (const char* bad : {"cut.kwj", "halfmatch.kwj", "bomb.kwj"}) {
        SCOPED_TRACE(bad);
        int error = 0;
        Expand(dir / bad, error);
        EXPECT_LT(error, 0);
    }
}

// Headers with long optional fields: the name and the data lie past whatever the reader
// takes in its first read, and up to the largest header the fields allow.
TEST(LzExpand, LongKwajHeaders) {
    TempDir dir;
    const std::vector<uint8_t> payload = {'p', 'a', 'y', 'l', 'o', 'a', 'd'};
    struct Case {
        size_t extra;
        size_t comment;
    } cases[] = {{0, 0}, {4070, 0}, {4075, 10}, {8170, 1}, {40000, 30000}, {65535, 65535}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.extra) + "+" + std::to_string(c.comment));
        std::vector<uint8_t> file = {
            'K',  'W', 'A', 'J', 0x88, 0xF0, 0x27,
            0xD1, 0,   0,   0,   0,    0x2C, 0};  // stored; extra, name and comment fields
        auto field = [&](size_t len, uint8_t fill) {
            file.push_back(static_cast<uint8_t>(len));
            file.push_back(static_cast<uint8_t>(len >> 8));
            file.insert(file.end(), len, fill);
        };
        field(c.extra, 'e');
        for (char ch : std::string("deep")) file.push_back(static_cast<uint8_t>(ch));
        file.push_back(0);
        field(c.comment, 'c');
        file[10] = static_cast<uint8_t>(file.size());
        file[11] = static_cast<uint8_t>(file.size() >> 8);
        file.insert(file.end(), payload.begin(), payload.end());
        WriteFile(dir / "long.kwj", file);
        int error = 0;
        EXPECT_EQ(Expand(dir / "long.kwj", error), payload);
        EXPECT_EQ(error, 0);
        EXPECT_EQ(GetExpandedName(dir / "long.kwj"), "deep");
        // One byte short of the comment: the header is cut, whatever its size.
        file.resize(file.size() - payload.size() - 1);
        WriteFile(dir / "cut.kwj", file);
        error = 0;
        Expand(dir / "cut.kwj", error);
        EXPECT_EQ(error, kLzErrorRead);
    }
}

// Names from headers never carry folders.
TEST(LzExpand, ExpandedNameIsABaseName) {
    TempDir dir;
    const uint8_t hdr[] = {'K',  'W', 'A', 'J', 0x88, 0xF0, 0x27, 0xD1, 0,   0,   23, 0,
                           0x18, 0,   '.', '.', '/',  'x',  0,    'a',  '/', 'b', 0};
    WriteFile(dir / "k", std::vector<uint8_t>(std::begin(hdr), std::end(hdr)));
    EXPECT_EQ(GetExpandedName(dir / "k"), ".._x.a_b");
    const uint8_t szdd[] = {'S', 'Z', 'D', 'D', 0x88, 0xF0, 0x27, 0x33, 'A', '/', 0, 0, 0, 0};
    WriteFile(dir / "s._", std::vector<uint8_t>(std::begin(szdd), std::end(szdd)));
    EXPECT_EQ(GetExpandedName(dir / "s._"), "s._");
    const uint8_t named[] = {'S', 'Z', 'D', 'D', 0x88, 0xF0, 0x27, 0x33, 'A', 'E', 0, 0, 0, 0};
    WriteFile(dir / "setup.ex_", std::vector<uint8_t>(std::begin(named), std::end(named)));
    EXPECT_EQ(GetExpandedName(dir / "setup.ex_"), "setup.exE");
    EXPECT_EQ(GetExpandedName(dir / "missing"), std::nullopt);
}

}  // namespace
}  // namespace engine

namespace engine {
namespace {

// Damaged headers and data: every result is a known code, and the output stays within what
// the input can give (a LZSS item yields at most 18 bytes per input byte, a deflate block
// at most 32 KiB per block).
TEST(LzExpand, DamagedFilesStayBounded) {
    TempDir dir;
    std::mt19937 rng(14);
    std::vector<uint8_t> text;
    for (int i = 0; i < 3000; ++i) text.push_back(static_cast<uint8_t>('a' + i % 7));
    const std::vector<uint8_t> seeds[] = {
        {'S', 'Z', 'D', 'D', 0x88, 0xF0, 0x27, 0x33, 'A', 'x', 0xFF, 0xFF, 0xFF, 0x0F},
        {'K', 'W', 'A', 'J', 0x88, 0xF0, 0x27, 0xD1, 2, 0, 14, 0, 0, 0},
        {'K', 'W', 'A', 'J', 0x88, 0xF0, 0x27, 0xD1, 4, 0, 14, 0, 0, 0, 8, 0, 'C', 'K'},
        {'K', 'W', 'A', 'J', 0x88, 0xF0, 0x27, 0xD1, 0, 0, 14, 0, 0x3F, 0},
    };
    for (int round = 0; round < 400; ++round) {
        std::vector<uint8_t> file = seeds[round % 4];
        size_t tail = rng() % 600;
        for (size_t i = 0; i < tail; ++i) file.push_back(static_cast<uint8_t>(rng()));
        for (int flips = rng() % 4; flips > 0; --flips)
            file[rng() % file.size()] = static_cast<uint8_t>(rng());
        WriteFile(dir / "f", file);
        int error = 0;
        auto out = Expand(dir / "f", error);
        SCOPED_TRACE(round);
        EXPECT_TRUE(error == 0 || error == kLzErrorRead || error == kLzErrorBadValue ||
                    error == kLzErrorUnknownAlg)
            << error;
        EXPECT_LE(out.size(), std::max<size_t>(file.size() * 18, 32768 * (file.size() / 4 + 1)));
        GetExpandedName(dir / "f");
    }
}

}  // namespace
}  // namespace engine
