// The tar, gzip, Unix-compress and Microsoft Compress runs of UNZIP, on files made by the
// Debian tools themselves, damaged copies of them and hand-made hostile inputs.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>

#include "archiver/engine/unzip/crc32.h"
#include "archiver/engine/unzip/tar_extract.h"
#include "archiver/engine/unzip/test_util.h"
#include "archiver/engine/unzip/unix_compress.h"
#include "archiver/engine/unzip/unzip.h"
#include "platform/dostime.h"
#include "platform/event_loop.h"

namespace engine {
namespace {

namespace fs = std::filesystem;
using testing_util::ReadFile;
using testing_util::TempDir;
using testing_util::WriteFile;

// Errors and warnings the run sent, one per line.
struct Messages {
    std::string errors, warnings, status;
    HWND hwnd = platform::CreateWindow([this](HWND, UINT msg, WPARAM, LPARAM lp) -> LRESULT {
        if (msg == kMsgOverwrite) return kReplace;
        const char* text = reinterpret_cast<const char*>(lp);
        if (msg == kMsgError) errors += std::string(text) + "\n";
        if (msg == kMsgWarning) warnings += std::string(text) + "\n";
        if (msg == kMsgStatusLine) status += std::string(text) + "\n";
        return 0;
    });
    ~Messages() { platform::DestroyWindow(hwnd); }
};

// Mixed data: text that compresses well, then bytes that do not, so that an LZW table fills
// and clears and deflate uses every block kind.
std::vector<uint8_t> Sample(size_t text_lines, size_t random_bytes, uint32_t seed) {
    std::string text;
    for (size_t i = 0; i < text_lines; ++i)
        text += "line " + std::to_string(i * 7919 % 1000) + " of the sample text\n";
    std::vector<uint8_t> data(text.begin(), text.end());
    auto noise = testing_util::RandomBytes(random_bytes, seed);
    data.insert(data.end(), noise.begin(), noise.end());
    data.insert(data.end(), text.begin(), text.end());
    return data;
}

class SingleFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetUnzip();
        ResetFrame();
        Unzip().max_name_length = [](const std::string&) { return 255L; };
    }
    // Runs UNZIP on a file in the temp folder; extracts into "out" unless testing.
    int Run(uint16_t kind, const std::string& file, Messages& m, bool test = false,
            const std::function<void(UnzipCommand&)>& adjust = nullptr) {
        UnzipCommand cmd;
        cmd.kind = kind;
        cmd.archive = dir_ / file;
        cmd.has_target = !test;
        cmd.target = dir_ / "out";
        cmd.report_window = m.hwnd;
        if (adjust) adjust(cmd);
        EXPECT_EQ(UNZIP(cmd), 1);
        return cmd.result;
    }
    // Runs a shell command in the temp folder.
    void Sh(const std::string& command) {
        ASSERT_EQ(std::system(("cd '" + dir_.path.string() + "' && " + command).c_str()), 0)
            << command;
    }
    bool Exists(const std::string& rel) { return fs::exists(dir_ / rel); }
    std::string Text(const std::string& rel) {
        auto b = ReadFile(dir_ / rel);
        return {b.begin(), b.end()};
    }
    static std::function<void(UnzipCommand&)> Named(const std::string& name) {
        return [name](UnzipCommand& c) { c.selection = {name}; };
    }
    TempDir dir_;
};

TEST_F(SingleFileTest, UnixCompressAtEveryWidthAcrossTableClears) {
    UNZIP_TEST_NEEDS("compress");
    // Enough data that the 9-bit table clears many times over and the 16-bit one fills.
    auto data = Sample(20000, 300000, 7);
    WriteFile(dir_ / "data", data);
    // -b9 is left out: the tool's own decoder cannot read back what it writes at that width.
    for (int bits = 10; bits <= 16; ++bits) {
        SCOPED_TRACE(bits);
        std::string z = "data" + std::to_string(bits) + ".Z";
        Sh("compress -c -b" + std::to_string(bits) + " data > " + z);
        Messages m;
        EXPECT_EQ(Run(kKindGzip, z, m, false, Named("data.out")), kUnzipOk) << m.errors;
        EXPECT_TRUE(ReadFile(dir_ / "out/data.out") == data);
        Messages t;
        EXPECT_EQ(Run(kKindGzip, z, t, true, Named("data.out")), kUnzipOk) << t.errors;
        EXPECT_EQ(t.status, "Testing data.out\n");
    }
}

TEST_F(SingleFileTest, UnixCompressFaultsEndTheRunWithoutOutput) {
    std::vector<uint8_t> garbage = {0x1F, 0x9D, 0x90};
    auto noise = testing_util::RandomBytes(200000, 3);
    garbage.insert(garbage.end(), noise.begin(), noise.end());
    struct Case {
        std::vector<uint8_t> bytes;
        const char* error;
    } cases[] = {
        {{0x1F, 0x9D, 0x90 | 0x20, 0x41, 0}, "unknown flags\n"},
        {{0x1F, 0x9D, 0x91, 0x41, 0}, "compressed with too many bits\n"},
        // A first code that is no literal, and a code beyond the next free one.
        {{0x1F, 0x9D, 0x90, 0x41, 0x01}, "corrupt input.\n"},
        {{0x1F, 0x9D, 0x90, 0x41, 0xE0, 0x03}, "corrupt input.\n"},
        {garbage, "corrupt input.\n"},
    };
    for (const Case& c : cases) {
        WriteFile(dir_ / "bad.Z", c.bytes);
        Messages m;
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(Run(kKindGzip, "bad.Z", m, false, Named("bad")), kUnzipError) << c.bytes.size();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
        EXPECT_EQ(m.errors, c.error);
        EXPECT_FALSE(Exists("out/bad"));
    }
}

// A cut inside a code is refused (what was decoded before it is already out); a cut at a
// code's end cannot be told from a shorter file.
TEST_F(SingleFileTest, UnixCompressDecoderOnCutStreamsStopsAtTheEnd) {
    UNZIP_TEST_NEEDS("compress");
    auto data = Sample(3000, 5000, 11);
    WriteFile(dir_ / "d", data);
    Sh("compress -c -b12 d > d.Z");
    auto z = ReadFile(dir_ / "d.Z");
    for (size_t cut : {size_t{3}, size_t{4}, z.size() / 3, z.size() - 1}) {
        std::vector<uint8_t> part(z.begin(), z.begin() + static_cast<long>(cut));
        size_t at = 0;
        std::vector<uint8_t> out;
        auto read = [&](uint8_t* buf, size_t cap) {
            size_t n = std::min(cap, part.size() - at);
            std::copy_n(part.begin() + static_cast<long>(at), n, buf);
            at += n;
            return n;
        };
        auto write = [&](const uint8_t* p, size_t n) { out.insert(out.end(), p, p + n); };
        const char* fault = DecodeUnixCompress({read, write});
        if (cut == 3) {
            EXPECT_EQ(fault, nullptr);  // the header alone: an empty file
        } else if (cut == 4) {
            EXPECT_STREQ(fault, "corrupt input.");  // 8 bits of a 9-bit code
        } else if (fault) {
            EXPECT_STREQ(fault, "corrupt input.");
        }
        ASSERT_LE(out.size(), data.size());
        EXPECT_TRUE(std::equal(out.begin(), out.end(), data.begin())) << cut;
    }
}

TEST_F(SingleFileTest, GzipFilesOfEveryShape) {
    UNZIP_TEST_NEEDS("gzip");
    auto a = Sample(5000, 70000, 1);
    auto b = Sample(100, 10, 2);
    WriteFile(dir_ / "a", a);
    WriteFile(dir_ / "b", b);
    Sh("gzip -1 -c a > a1.gz && gzip -9 -c a > a9.gz && gzip -N -c a > an.gz && "
       "gzip -c -n b > b.gz && cat a1.gz b.gz a9.gz > joined.gz && : > empty && "
       "gzip -c empty > empty.gz");
    std::vector<uint8_t> joined = a;
    joined.insert(joined.end(), b.begin(), b.end());
    joined.insert(joined.end(), a.begin(), a.end());
    // The old magic, and a later member with a header CRC.
    auto old = ReadFile(dir_ / "a9.gz");
    old[1] = 0x9E;
    WriteFile(dir_ / "old.gz", old);
    auto first = ReadFile(dir_ / "b.gz");
    auto second = first;
    second[3] |= 0x02;
    uint32_t hcrc = Crc32(0, {second.data(), 10});
    second.insert(second.begin() + 10,
                  {static_cast<uint8_t>(hcrc), static_cast<uint8_t>(hcrc >> 8)});
    auto wrong = first;
    first.insert(first.end(), second.begin(), second.end());
    WriteFile(dir_ / "hcrc.gz", first);
    second[10] ^= 1;  // the header CRC no longer matches
    wrong.insert(wrong.end(), second.begin(), second.end());
    WriteFile(dir_ / "badhcrc.gz", wrong);
    std::vector<uint8_t> bb = b;
    bb.insert(bb.end(), b.begin(), b.end());
    struct Case {
        const char* file;
        const std::vector<uint8_t>& want;
    } cases[] = {{"a1.gz", a},  {"a9.gz", a},    {"an.gz", a}, {"joined.gz", joined},
                 {"old.gz", a}, {"hcrc.gz", bb}, {"b.gz", b}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        Messages m;
        EXPECT_EQ(Run(kKindGzip, c.file, m, false, Named("x")), kUnzipOk) << m.errors;
        EXPECT_TRUE(ReadFile(dir_ / "out/x") == c.want);
        EXPECT_EQ(m.warnings, "");
    }
    Messages h;
    EXPECT_EQ(Run(kKindGzip, "badhcrc.gz", h, true, Named("x")), kUnzipError);
    EXPECT_EQ(h.errors.rfind("Damaged gzip file x: Bad header CRC", 0), 0u) << h.errors;
    Messages e;
    EXPECT_EQ(Run(kKindGzip, "empty.gz", e, false, Named("e")), kUnzipOk) << e.errors;
    EXPECT_TRUE(Exists("out/e"));
    EXPECT_EQ(fs::file_size(dir_ / "out/e"), 0u);
}

TEST_F(SingleFileTest, GzipStartOffsetAndTimeComeFromTheRecord) {
    UNZIP_TEST_NEEDS("gzip");
    WriteFile(dir_ / "n", Sample(10, 0, 0));
    Sh("gzip -N -c n > n.gz");
    uint32_t dos = platform::TimeToDos(1'000'000'000);
    Messages m;
    EXPECT_EQ(Run(kKindGzip, "n.gz", m, false,
                  [&](UnzipCommand& c) {
                      c.selection = {"../../sub/n.txt"};  // base name only
                      c.start_offset = 10 + 2;            // after the stored name "n"
                      c.kind_value = dos;
                  }),
              kUnzipOk)
        << m.errors;
    EXPECT_EQ(Text("out/n.txt"), Text("n"));
    struct stat st;
    ASSERT_EQ(::stat((dir_ / "out/n.txt").c_str(), &st), 0);
    EXPECT_EQ(platform::TimeToDos(st.st_mtime), dos);
}

TEST_F(SingleFileTest, DamagedGzipFilesFailAndLeaveNoOutput) {
    UNZIP_TEST_NEEDS("gzip");
    WriteFile(dir_ / "a", Sample(3000, 1000, 5));
    Sh("gzip -c a > a.gz");
    auto good = ReadFile(dir_ / "a.gz");
    auto with = [&](auto change) {
        auto v = good;
        change(v);
        return v;
    };
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        const char* error_part;
    } cases[] = {
        {"crc", with([](auto& v) { v[v.size() - 8] ^= 1; }), "Bad CRC"},
        {"length", with([](auto& v) { v[v.size() - 4] ^= 1; }), "Bad length"},
        {"no trailer", with([](auto& v) { v.resize(v.size() - 8); }), "trailer is missing"},
        {"cut stream", with([](auto& v) { v.resize(v.size() / 2); }), "Damaged gzip file"},
        {"cut second member header",
         with([&](auto& v) { v.insert(v.end(), good.begin(), good.begin() + 5); }),
         "header is invalid"},
        {"huge extra length", with([](auto& v) {
             v[3] |= 0x04;
             v.insert(v.begin() + 10, {0xFF, 0xFF});
         }),
         "header is invalid"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteFile(dir_ / "bad.gz", c.bytes);
        Messages m;
        EXPECT_EQ(Run(kKindGzip, "bad.gz", m, false, Named("a")), kUnzipError);
        EXPECT_NE(m.errors.find(c.error_part), std::string::npos) << m.errors;
        EXPECT_FALSE(Exists("out/a"));
        Messages t;
        EXPECT_EQ(Run(kKindGzip, "bad.gz", t, true, Named("a")), kUnzipError);
    }
    // Bytes after the last member that are no member are noted, not fatal.
    auto tail = good;
    tail.insert(tail.end(), 600, 0);
    WriteFile(dir_ / "tail.gz", tail);
    Messages m;
    EXPECT_EQ(Run(kKindGzip, "tail.gz", m, false, Named("a")), kUnzipOk) << m.errors;
    EXPECT_NE(m.warnings.find("ignored"), std::string::npos);
    EXPECT_EQ(Text("out/a"), Text("a"));
}

// Damaged copies of real files end with success or a reported error, in bounded time, and a
// failed extraction leaves no file behind.
TEST_F(SingleFileTest, MutatedFilesEndCleanly) {
    UNZIP_TEST_NEEDS("gzip");
    UNZIP_TEST_NEEDS("compress");
    UNZIP_TEST_NEEDS("tar");
    WriteFile(dir_ / "s", Sample(2000, 4000, 4));
    Sh("gzip -c s > s.gz && compress -c s > s.Z && tar cf s.tar s");
    std::mt19937 rng(99);
    struct Case {
        const char* file;
        uint16_t kind;
    } cases[] = {{"s.gz", kKindGzip}, {"s.Z", kKindGzip}, {"s.tar", kKindTar}};
    for (const Case& c : cases) {
        auto good = ReadFile(dir_ / c.file);
        for (int round = 0; round < 60; ++round) {
            auto bad = good;
            for (int i = 0; i < 1 + round % 4; ++i) bad[rng() % bad.size()] ^= 1 << (rng() % 8);
            if (round % 5 == 0) bad.resize(rng() % bad.size());
            WriteFile(dir_ / "m", bad);
            fs::remove_all(dir_ / "out");
            Messages m;
            auto start = std::chrono::steady_clock::now();
            int result = Run(c.kind, "m", m, false, Named("s"));
            EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
            EXPECT_TRUE(result == kUnzipOk || result == kUnzipError) << result;
            if (result == kUnzipError && c.kind == kKindGzip) {
                EXPECT_FALSE(Exists("out/s"));
            }
        }
    }
}

TEST(TarFields, OctalPaxAndLineEnds) {
    struct Octal {
        std::string field;
        int64_t want;
    } octal[] = {{"0000644\0", 0644},
                 {"  17 ", 017},
                 {"00000000012", 10},
                 {"", -1},
                 {"   ", -1},
                 {"12x", -1},
                 {"99", -1},
                 {std::string("1\0009", 3), 1},
                 {"777777777777", 0777777777777}};
    for (const Octal& o : octal) EXPECT_EQ(ParseTarOctal(o.field), o.want) << o.field;

    struct Pax {
        std::string records, path;
    } pax[] = {{"18 path=a/b/c.txt\n", "a/b/c.txt"},
               {"12 uid=1000\n18 path=x/y/z.txt\n", "x/y/z.txt"},
               {"99 path=a\n", ""},  // longer than the records
               {"8 path=a\n", ""},   // ends off its newline
               {"x path=a\n", ""},   // no length
               {"30 mtime=1.5\n", ""}};
    for (const Pax& p : pax) EXPECT_EQ(PaxPath(p.records), p.path) << p.records;

    struct Lines {
        std::vector<std::string> blocks;
        std::string want;
    } lines[] = {{{"a\nb\r\nc\rd"}, "a\r\nb\r\nc\r\nd"},
                 {{"a\r", "\nb\r"}, "a\r\nb\r\n"},
                 {{"\n\n"}, "\r\n\r\n"}};
    for (const Lines& l : lines) {
        LineEndConverter c;
        std::string got;
        for (size_t i = 0; i < l.blocks.size(); ++i)
            got += c.Convert(l.blocks[i], i + 1 == l.blocks.size());
        EXPECT_EQ(got, l.want);
    }
    EXPECT_TRUE(LineEndConverter::LooksLikeText("plain text\r\n\tand\f"));
    EXPECT_FALSE(LineEndConverter::LooksLikeText(std::string("bin\0ary", 7)));
    EXPECT_TRUE(LineEndConverter::LooksLikeText(std::string(80, 'a') + std::string(1, '\0')));
}

TEST_F(SingleFileTest, TarFormsLongNamesLinksAndTimes) {
    UNZIP_TEST_NEEDS("bsdtar");
    UNZIP_TEST_NEEDS("tar");
    std::string deep =
        "d1234567890123456789012345678901234567890/e1234567890123456789012345678901234567890/"
        "f1234567890123456789012345678901234567890";
    std::string longfile = std::string(120, 'n') + ".txt";
    Sh("mkdir -p src/" + deep + " && printf 'deep\\n' > src/" + deep + "/" + longfile +
       " && printf 'top\\n' > src/top.txt && : > src/empty && ln -s top.txt src/soft && "
       "ln src/top.txt src/hard && touch -d @1000000001 src/top.txt");
    struct Case {
        const char* format;
        std::string make;
        bool long_ok;  // the form can hold the long name
    } cases[] = {
        {"gnu", "tar --format=gnu -cf t.tar -C src .", true},
        {"pax", "tar --format=pax -cf t.tar -C src .", true},
        {"bsdtar pax", "bsdtar --format pax -cf t.tar -C src .", true},
        {"ustar", "bsdtar --format ustar -cf t.tar -C src top.txt empty soft hard " + deep, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format);
        fs::remove_all(dir_ / "out");
        Sh("rm -f t.tar && " + c.make + " 2>/dev/null || true");
        Messages m;
        int result = Run(kKindTar, "t.tar", m);
        if (std::string(c.format) == "ustar") {
            // A base name past 100 characters does not fit the ustar form: bsdtar leaves it out.
            EXPECT_TRUE(result == kUnzipOk) << m.errors;
        } else {
            EXPECT_EQ(result, kUnzipOk) << m.errors << m.warnings;
            EXPECT_EQ(Text("out/" + deep + "/" + longfile), "deep\n");
        }
        EXPECT_EQ(Text("out/top.txt"), "top\n");
        EXPECT_TRUE(Exists("out/empty"));
        // Links make no file.
        EXPECT_FALSE(fs::exists(fs::symlink_status(dir_ / "out/soft")));
        EXPECT_FALSE(Exists("out/hard"));
        struct stat st;
        ASSERT_EQ(::stat((dir_ / "out/top.txt").c_str(), &st), 0);
        EXPECT_EQ(st.st_mtime, 1000000001);  // odd seconds kept
    }
}

TEST_F(SingleFileTest, TarHostileMembers) {
    UNZIP_TEST_NEEDS("python3");
    ASSERT_TRUE(testing_util::RunPython(dir_, R"(
import tarfile, io
def add(t, name, data, kind=tarfile.REGTYPE):
    i = tarfile.TarInfo(name); i.size = len(data); i.type = kind; i.mtime = 1234567890
    t.addfile(i, io.BytesIO(data))
with tarfile.open('evil.tar', 'w', format=tarfile.GNU_FORMAT) as t:
    add(t, '../escape.txt', b'x')
    add(t, 'a/../../escape2.txt', b'x')
    add(t, '/abs/file.txt', b'abs')
    add(t, 'L' * 200 + '/../../escape3.txt', b'x')
    add(t, 'ok.txt', b'ok')
with tarfile.open('paxevil.tar', 'w', format=tarfile.PAX_FORMAT) as t:
    add(t, '../' * 40 + 'escape4.txt', b'x')
    add(t, 'fine.txt', b'fine')
with tarfile.open('cut.tar', 'w', format=tarfile.USTAR_FORMAT) as t:
    add(t, 'first.txt', b'1' * 700)
    add(t, 'last.bin', bytes(range(256)) * 40)
with tarfile.open('text.tar', 'w') as t:
    add(t, 'dos.txt', b'one\ntwo\r\nthree\r')
    add(t, 'bin.dat', b'\x00\x01\n\x02')
data = open('cut.tar', 'rb').read()
open('cut.tar', 'wb').write(data[:512 * 4 + 3000])
# A size field that does not parse in the second member's header.
with tarfile.open('badsize.tar', 'w', format=tarfile.USTAR_FORMAT) as t:
    add(t, 'one.txt', b'1')
    add(t, 'two.txt', b'2')
b = bytearray(open('badsize.tar', 'rb').read())
b[1024 + 124:1024 + 136] = b'12345678901z'
open('badsize.tar', 'wb').write(bytes(b))
# A claimed size far beyond the file.
with tarfile.open('huge.tar', 'w', format=tarfile.USTAR_FORMAT) as t:
    add(t, 'huge.bin', b'h' * 10)
b = bytearray(open('huge.tar', 'rb').read())
b[124:136] = b'77777777777\0'
s = sum(b[:148]) + 8 * 32 + sum(b[156:512])
b[148:156] = b'%06o\0 ' % s
open('huge.tar', 'wb').write(bytes(b))
)"));
    {
        Messages m;
        EXPECT_EQ(Run(kKindTar, "evil.tar", m), kUnzipError);
        EXPECT_NE(m.warnings.find("its path leaves the target folder"), std::string::npos);
        EXPECT_EQ(Text("out/abs/file.txt"), "abs");
        EXPECT_EQ(Text("out/ok.txt"), "ok");
        for (const char* f : {"escape.txt", "escape2.txt", "escape3.txt", "out/escape.txt"})
            EXPECT_FALSE(Exists(f)) << f;
    }
    {
        Messages m;
        EXPECT_EQ(Run(kKindTar, "paxevil.tar", m), kUnzipError);
        EXPECT_EQ(Text("out/fine.txt"), "fine");
        EXPECT_FALSE(Exists("escape4.txt"));
    }
    {
        Messages m;
        EXPECT_EQ(Run(kKindTar, "cut.tar", m), kUnzipOk) << m.errors;
        EXPECT_EQ(Text("out/first.txt"), std::string(700, '1'));
        EXPECT_EQ(fs::file_size(dir_ / "out/last.bin"), 3000u);
    }
    {
        Messages m;
        EXPECT_EQ(Run(kKindTar, "badsize.tar", m), kUnzipError);
        EXPECT_EQ(m.errors, "Error reading header after processing 1 entries\n");
    }
    {
        Messages m;
        EXPECT_EQ(Run(kKindTar, "huge.tar", m), kUnzipOk) << m.errors;
        // What the file holds after the header, and no more.
        EXPECT_EQ(fs::file_size(dir_ / "out/huge.bin"), fs::file_size(dir_ / "huge.tar") - 512);
        EXPECT_EQ(Text("out/huge.bin").substr(0, 11), std::string(10, 'h') + '\0');
    }
    {
        Messages m;
        EXPECT_EQ(Run(kKindTar, "text.tar", m, false, [](UnzipCommand& c) { c.kind_value = 1; }),
                  kUnzipOk);
        EXPECT_EQ(Text("out/dos.txt"), "one\r\ntwo\r\nthree\r\n");
        EXPECT_EQ(Text("out/bin.dat"), std::string("\x00\x01\n\x02", 4));
        fs::remove_all(dir_ / "out");
        EXPECT_EQ(Run(kKindTar, "text.tar", m), kUnzipOk);  // off unless asked for
        EXPECT_EQ(Text("out/dos.txt"), "one\ntwo\r\nthree\r");
    }
}

TEST_F(SingleFileTest, MsCompressExpandsAndChecksTheSize) {
    UNZIP_TEST_NEEDS("mscompress");
    auto data = Sample(2000, 3000, 9);
    WriteFile(dir_ / "doc.txt", data);
    Sh("mscompress doc.txt >/dev/null 2>&1 && ls doc.txt_ >/dev/null");
    Messages m;
    EXPECT_EQ(Run(kKindMsCompress, "doc.txt_", m, false,
                  [&](UnzipCommand& c) {
                      c.selection = {"doc.txt"};
                      c.kind_value = static_cast<uint32_t>(data.size());
                  }),
              kUnzipOk)
        << m.errors;
    EXPECT_TRUE(ReadFile(dir_ / "out/doc.txt") == data);
    Messages wrong;
    EXPECT_EQ(Run(kKindMsCompress, "doc.txt_", wrong, true,
                  [&](UnzipCommand& c) {
                      c.selection = {"doc.txt"};
                      c.kind_value = 5;
                  }),
              kUnzipError);
    EXPECT_EQ(wrong.errors, "Output file size does not match size in header\n");
    // A file the expander passes through unchanged was not expanded at all.
    Messages plain;
    EXPECT_EQ(Run(kKindMsCompress, "doc.txt", plain, true,
                  [&](UnzipCommand& c) {
                      c.selection = {"doc.txt"};
                      c.kind_value = 1;
                  }),
              kUnzipError);
    EXPECT_EQ(plain.errors,
              "File not expanded: you need a more recent version of LZEXPAND.DLL for this file\n");
}

}  // namespace
}  // namespace engine
