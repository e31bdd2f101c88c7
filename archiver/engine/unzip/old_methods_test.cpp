// The older zip methods: hand-made streams for each decoder's rules and faults, the public
// vectors through the real UNZIP, and bounded runs on damaged input.
#include "archiver/engine/unzip/old_methods.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "archiver/engine/unzip/engine_frame.h"
#include "archiver/engine/unzip/explode.h"
#include "archiver/engine/unzip/test_util.h"
#include "archiver/engine/unzip/unreduce.h"
#include "archiver/engine/unzip/unshrink.h"
#include "archiver/engine/unzip/unzip.h"
#include "platform/event_loop.h"

namespace engine {
namespace {

namespace fs = std::filesystem;
using testing_util::ReadFile;
using testing_util::TempDir;

// Packs values least significant bit first, as the decoders read them.
struct BitWriter {
    std::vector<uint8_t> bytes;
    unsigned used = 0;  // bits used in the last byte
    void Put(uint32_t value, unsigned n) {
        for (unsigned i = 0; i < n; ++i) {
            if (used == 0) bytes.push_back(0);
            bytes.back() |= static_cast<uint8_t>(((value >> i) & 1) << used);
            used = (used + 1) & 7;
        }
    }
};

// Runs a decoder over bytes fed in small pieces (so that block edges are crossed).
struct Feed {
    explicit Feed(std::vector<uint8_t> bytes) : in(std::move(bytes)) {}
    std::vector<uint8_t> in;
    size_t at = 0;
    size_t piece = 3;
    std::vector<uint8_t> out;
    OldMethodIo Io() {
        return {[this](uint8_t* buf, size_t cap) {
                    size_t n = std::min({cap, piece, in.size() - at});
                    if (n > 0) std::memcpy(buf, in.data() + at, n);
                    at += n;
                    return n;
                },
                [this](const uint8_t* p, size_t n) { out.insert(out.end(), p, p + n); }};
    }
};

std::string Text(const std::vector<uint8_t>& v) {
    return {v.begin(), v.end()};
}

// ---- unreduce ----

// A reduced stream with every follower set empty except those given.
BitWriter ReducedHeader(const std::vector<std::pair<uint8_t, std::string>>& sets = {}) {
    BitWriter w;
    for (int j = 255; j >= 0; --j) {
        std::string f;
        for (const auto& [byte, followers] : sets)
            if (byte == j) f = followers;
        w.Put(static_cast<uint32_t>(f.size()), 6);
        for (char c : f) w.Put(static_cast<uint8_t>(c), 8);
    }
    return w;
}

TEST(Unreduce, DecodesLiteralsMarkersAndMatchesForEveryFactor) {
    for (uint16_t method = 2; method <= 5; ++method) {
        SCOPED_TRACE(method);
        unsigned factor = method - 1u;
        unsigned mask = 0xFFu >> factor;
        BitWriter w = ReducedHeader();
        for (char c : std::string("abc")) w.Put(static_cast<uint8_t>(c), 8);
        w.Put(0x90, 8);  // 0x90 0x00: a literal 0x90
        w.Put(0x00, 8);
        // A match of 5 bytes from 4 back, overlapping its own output.
        w.Put(0x90, 8);
        w.Put(2, 8);  // length 2 + 3, distance high bits 0
        w.Put(3, 8);  // distance 3 + 1
        // A match whose length takes the extra byte: length mask + 10 + 3 from 1 back.
        w.Put(0x90, 8);
        w.Put(mask, 8);
        w.Put(10, 8);
        w.Put(0, 8);
        Feed f(w.bytes);
        std::string want =
            "abc\x90"
            "abc\x90" +
            std::string(mask + 14, 'a');
        OldMethodResult r = Unreduce(f.Io(), method, want.size());
        EXPECT_EQ(r.status, OldMethodStatus::kOk);
        EXPECT_EQ(Text(f.out), want);
        EXPECT_EQ(r.out_size, want.size());
    }
}

TEST(Unreduce, FollowerSetsAndTheirFaults) {
    // After 'a' the set "xyz" (2-bit indexes): index 2 is 'z', index 3 does not exist.
    struct Case {
        uint32_t index;
        OldMethodStatus status;
        std::string out;
    } cases[] = {{2, OldMethodStatus::kOk, "az"}, {3, OldMethodStatus::kBadData, "a"}};
    for (const Case& c : cases) {
        BitWriter w = ReducedHeader({{'a', "xyz"}});
        w.Put('a', 8);  // the previous value 0 has no followers: 8 bits
        w.Put(0, 1);
        w.Put(c.index, 2);
        Feed f(w.bytes);
        OldMethodResult r = Unreduce(f.Io(), 5, 2);
        EXPECT_EQ(r.status, c.status) << c.index;
        EXPECT_EQ(Text(f.out), c.out);
    }
}

TEST(Unreduce, MatchBeforeTheStartGivesZerosAndTheInputsEndIsAnError) {
    BitWriter w = ReducedHeader();
    w.Put(0x90, 8);
    w.Put(1, 8);   // length 1 + 3
    w.Put(99, 8);  // 100 back: before the first byte
    Feed f(w.bytes);
    EXPECT_EQ(Unreduce(f.Io(), 5, 4).status, OldMethodStatus::kOk);
    EXPECT_EQ(f.out, std::vector<uint8_t>(4, 0));

    Feed more(w.bytes);
    OldMethodResult r = Unreduce(more.Io(), 5, 1u << 30);  // a huge claimed size
    EXPECT_EQ(r.status, OldMethodStatus::kTruncated);
    EXPECT_EQ(r.out_size, 4u);
    Feed none(std::vector<uint8_t>{});
    EXPECT_EQ(Unreduce(none.Io(), 2, 10).status, OldMethodStatus::kTruncated);
    EXPECT_EQ(Unreduce(none.Io(), 7, 10).status, OldMethodStatus::kBadData);
}

// ---- unshrink ----

std::vector<uint8_t> Shrunk(const std::vector<std::pair<uint32_t, unsigned>>& codes) {
    BitWriter w;
    for (const auto& [code, bits] : codes) w.Put(code, bits);
    return w.bytes;
}

TEST(Unshrink, DecodesCodesWideningAndPartialClearing) {
    struct Case {
        const char* what;
        std::vector<std::pair<uint32_t, unsigned>> codes;
        std::string out;
    } cases[] = {
        {"new codes and the code being defined",
         {{'a', 9}, {'b', 9}, {257, 9}, {259, 9}},  // 257=ab 258=ba 259=aba
         "abababa"},
        {"wider codes after 256 1", {{'a', 9}, {256, 9}, {1, 9}, {'b', 10}, {257, 10}}, "abab"},
        {"partial clear keeps prefixes and reuses freed codes",
         // 257=ab 258=ba 259=(257)b 260=(258)a; the clear frees the leaves 259 and 260 and
         // keeps their prefixes; the next codes defined are 259 and 260 again.
         {{'a', 9},
          {'b', 9},
          {257, 9},
          {258, 9},
          {257, 9},
          {256, 9},
          {2, 9},
          {'c', 9},
          {259, 9},
          {258, 9}},
         "ababbaabcabcba"},
    };
    for (const Case& c : cases) {
        Feed f(Shrunk(c.codes));
        OldMethodResult r = Unshrink(f.Io(), 1000);
        EXPECT_EQ(r.status, OldMethodStatus::kOk) << c.what;
        EXPECT_EQ(Text(f.out), c.out) << c.what;
    }
}

TEST(Unshrink, HostileCodesAreErrorsInBoundedTime) {
    std::vector<std::pair<uint32_t, unsigned>> too_wide = {{'a', 9}};
    for (unsigned bits = 9; bits <= 13; ++bits) {
        too_wide.push_back({256, bits});
        too_wide.push_back({1, bits});
    }
    struct Case {
        const char* what;
        std::vector<std::pair<uint32_t, unsigned>> codes;
    } cases[] = {
        {"code size above 13", too_wide},
        {"unknown control code", {{'a', 9}, {256, 9}, {3, 9}}},
        {"a free code that is not the next one", {{'a', 9}, {'b', 9}, {300, 9}}},
        {"a control code first", {{256, 9}}},
        // 257=ab 258=ba 259=(257)b; the clear frees 258 and 259 and the next code defines
        // 258 with prefix 258 (the previous code): following it would never end.
        {"a prefix chain that loops",
         {{'a', 9}, {'b', 9}, {257, 9}, {258, 9}, {256, 9}, {2, 9}, {'c', 9}, {258, 9}}},
    };
    for (const Case& c : cases) {
        Feed f(Shrunk(c.codes));
        auto start = std::chrono::steady_clock::now();
        OldMethodResult r = Unshrink(f.Io(), 1u << 30);
        EXPECT_EQ(r.status, OldMethodStatus::kBadData) << c.what;
        // A bound for a hang, far above the time taken even instrumented on a busy machine.
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15)) << c.what;
    }
    // Clears cost what they free: a long run of them (and of codes defined between them)
    // stays fast.
    std::vector<std::pair<uint32_t, unsigned>> clears = {{'a', 9}};
    for (int i = 0; i < 200000; ++i) {
        clears.push_back({'b', 9});
        clears.push_back({256, 9});
        clears.push_back({2, 9});
    }
    Feed many(Shrunk(clears));
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Unshrink(many.Io(), 1u << 30).out_size, 200001u);
    // Quadratic work on 600,000 codes would take minutes: a generous bound still catches it.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));

    // The declared size bounds the output even when the input goes on.
    Feed f(Shrunk({{'a', 9}, {'b', 9}, {257, 9}, {259, 9}}));
    EXPECT_EQ(Unshrink(f.Io(), 3).out_size, 3u);
    EXPECT_EQ(Text(f.out), "aba");
}

// ---- explode ----

// A tree description giving all n symbols the same bit length.
void FlatTree(BitWriter& w, unsigned n, unsigned length) {
    unsigned bytes = (n + 15) / 16;
    w.Put(bytes - 1, 8);
    for (unsigned i = 0; i < bytes; ++i)
        w.Put(((std::min(16u, n - 16 * i) - 1) << 4) | (length - 1), 8);
}
// A symbol of a flat tree of 6-bit codes: the code's bits inverted, most significant first.
void FlatSymbol(BitWriter& w, unsigned sym, unsigned length) {
    for (int b = static_cast<int>(length) - 1; b >= 0; --b) w.Put(((sym >> b) & 1) ^ 1, 1);
}

TEST(Explode, DecodesEveryVariant) {
    for (uint16_t flags : {0, 2, 4, 6}) {
        SCOPED_TRACE(flags);
        bool lit_tree = flags & kExplodeFlagLiteralTree;
        unsigned low_bits = (flags & kExplodeFlag8K) ? 7 : 6;
        unsigned min_len = lit_tree ? 3 : 2;
        BitWriter w;
        if (lit_tree) FlatTree(w, 256, 8);
        FlatTree(w, 64, 6);  // lengths
        FlatTree(w, 64, 6);  // distances
        auto literal = [&](char c) {
            w.Put(1, 1);
            if (lit_tree)
                FlatSymbol(w, static_cast<uint8_t>(c), 8);
            else
                w.Put(static_cast<uint8_t>(c), 8);
        };
        auto match = [&](unsigned dist, unsigned len) {
            w.Put(0, 1);
            w.Put((dist - 1) & ((1u << low_bits) - 1), low_bits);
            FlatSymbol(w, (dist - 1) >> low_bits, 6);
            unsigned code = std::min(len - min_len, 63u);
            FlatSymbol(w, code, 6);
            if (code == 63) w.Put(len - min_len - 63, 8);
        };
        for (char c : std::string("abc")) literal(c);
        match(3, 6);                  // abcabc
        match(200, 4);                // before the start: zeros
        match(10, min_len + 63 + 5);  // the long form
        std::string want = "abcabcabc" + std::string(4, '\0');
        for (unsigned i = 0; i < min_len + 68; ++i) want += want[want.size() - 10];
        Feed f(w.bytes);
        OldMethodResult r = Explode(f.Io(), flags, w.bytes.size(), want.size());
        EXPECT_EQ(r.status, OldMethodStatus::kOk);
        EXPECT_EQ(Text(f.out), want);

        // One byte short: the input ends inside the last match.
        Feed cut(w.bytes);
        cut.in.pop_back();
        cut.in.pop_back();
        EXPECT_EQ(Explode(cut.Io(), flags, 0, want.size()).status, OldMethodStatus::kTruncated);
    }
}

TEST(Explode, BadTreesAndTableWidth) {
    struct Case {
        const char* what;
        std::vector<uint8_t> tree;
    } cases[] = {
        {"more lengths than symbols", {4, 0xF5, 0xF5, 0xF5, 0xF5, 0x05}},
        {"fewer lengths than symbols", {2, 0xF5, 0xF5, 0xF5}},
        {"over-subscribed code", {3, 0xF0, 0xF5, 0xF5, 0xF5}},
        {"description cut short", {3, 0xF5}},
    };
    for (const Case& c : cases) {
        Feed f(c.tree);
        EXPECT_NE(Explode(f.Io(), 0, 100, 100).status, OldMethodStatus::kOk) << c.what;
    }
    EXPECT_EQ(ExplodeDistanceRootBits(200000), 7u);
    EXPECT_EQ(ExplodeDistanceRootBits(200001), 8u);
}

// ---- the public vectors through UNZIP ----

fs::path TestData() {
    if (const char* root = std::getenv("TESTDATA")) return root;
    return fs::path(__FILE__).parent_path() / "../../../../shared/testdata";
}

struct VectorMember {
    std::string name, expected, sha256;
    int method = 0;
};
struct VectorArchive {
    std::string file, kind;
    std::vector<VectorMember> members;
};

// The manifest, flattened to lines by python (no JSON reader in the project).
std::vector<VectorArchive> Manifest(const TempDir& dir, const fs::path& root) {
    std::string script =
        "import json\n"
        "m = json.load(open(r'" +
        (root / "zip-old-methods/manifest.json").string() +
        "'))\n"
        "with open('manifest.txt', 'w') as out:\n"
        "    for a in m['archives']:\n"
        "        out.write('A\\t%s\\t%s\\n' % (a['file'], a['kind']))\n"
        "        for x in a['members']:\n"
        "            out.write('M\\t%d\\t%s\\t%s\\n' % (x['method'], x['expected'].replace(' ', "
        "'_'), x.get('sha256', '-')))\n";
    EXPECT_TRUE(testing_util::RunPython(dir, script));
    std::vector<VectorArchive> all;
    std::ifstream in(dir / "manifest.txt");
    std::string tag;
    while (in >> tag) {
        if (tag == "A") {
            all.emplace_back();
            in >> all.back().file >> all.back().kind;
        } else {
            VectorMember m;
            in >> m.method >> m.expected >> m.sha256;
            if (!all.empty()) all.back().members.push_back(m);
        }
    }
    return all;
}

// SHA-256 of every file below each folder `out_*` of dir, by python's hashlib (hashing
// megabytes in an unoptimised test under the sanitizers takes longer than the decoding).
std::map<std::string, std::multiset<std::string>> HashesUnder(const TempDir& dir) {
    EXPECT_TRUE(testing_util::RunPython(dir, R"(
import hashlib, os
with open('hashes.txt', 'w') as out:
    for top in sorted(os.listdir('.')):
        if not top.startswith('out_'): continue
        for base, _, files in os.walk(top):
            for f in files:
                with open(os.path.join(base, f), 'rb') as data:
                    out.write('%s %s\n' % (top[4:], hashlib.sha256(data.read()).hexdigest()))
)"));
    std::map<std::string, std::multiset<std::string>> hashes;
    std::ifstream in(dir / "hashes.txt");
    std::string file, sha;
    while (in >> file >> sha) hashes[file].insert(sha);
    return hashes;
}

TEST(OldMethodVectors, TestAndExtractGiveTheKnownContents) {
    UNZIP_TEST_NEEDS("python3");
    fs::path root = TestData();
    if (!fs::exists(root / "zip-old-methods/manifest.json")) GTEST_SKIP() << "no vectors";
    TempDir dir;
    std::vector<VectorArchive> archives = Manifest(dir, root);
    ASSERT_GE(archives.size(), 30u);
    std::vector<std::string> errors;
    HWND hwnd = platform::CreateWindow([&](HWND, UINT msg, WPARAM, LPARAM lp) -> LRESULT {
        if (msg == kMsgError) errors.emplace_back(reinterpret_cast<const char*>(lp));
        return 0;
    });
    for (const VectorArchive& a : archives) {
        SCOPED_TRACE(a.file);
        bool good = a.kind == "good";
        for (bool extract : {false, true}) {
            ResetUnzip();
            ResetFrame();
            Unzip().max_name_length = [](const std::string&) { return 255L; };
            errors.clear();
            UnzipCommand cmd;
            cmd.archive = (root / "zip-old-methods" / a.file).string();
            cmd.has_target = extract;
            cmd.target = dir / ("out_" + a.file);
            cmd.overwrite_all = true;
            cmd.report_window = hwnd;
            auto start = std::chrono::steady_clock::now();
            ASSERT_EQ(UNZIP(cmd), 1);
            EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
            if (good) {
                EXPECT_EQ(cmd.result, kUnzipOk) << (errors.empty() ? "" : errors.front());
            } else {
                EXPECT_EQ(cmd.result, kUnzipError);
                ASSERT_EQ(errors.size(), 1u);
                if (a.kind == "unsupported")
                    EXPECT_EQ(errors.front(), "unknown compression");
                else
                    EXPECT_NE(errors.front().find("ZIP damaged"), std::string::npos)
                        << errors.front();
            }
        }
    }
    platform::DestroyWindow(hwnd);
    // Every member that precedes the first failure is on disk with its known content (a
    // failure ends the run).
    auto hashes = HashesUnder(dir);
    for (const VectorArchive& a : archives) {
        SCOPED_TRACE(a.file);
        const std::multiset<std::string>& got = hashes[a.file];
        std::multiset<std::string> want;
        for (const VectorMember& m : a.members) {
            if (m.expected != "ok") break;
            want.insert(m.sha256);
        }
        for (const std::string& sha : want) EXPECT_EQ(got.count(sha), want.count(sha)) << sha;
    }
}

// ---- damaged input: every outcome from a known set, in bounded time ----

// The members of an archive without data descriptors: method, flags, sizes, data.
struct RawMember {
    uint16_t method = 0, flags = 0;
    uint64_t size = 0;
    std::vector<uint8_t> data;
};
std::vector<RawMember> LocalMembers(const std::vector<uint8_t>& zip) {
    auto u16 = [&](size_t at) { return static_cast<uint32_t>(zip[at] | zip[at + 1] << 8); };
    auto u32 = [&](size_t at) { return u16(at) | u16(at + 2) << 16; };
    std::vector<RawMember> out;
    size_t at = 0;
    while (at + 30 <= zip.size() && u32(at) == 0x04034b50) {
        RawMember m;
        m.flags = static_cast<uint16_t>(u16(at + 6));
        m.method = static_cast<uint16_t>(u16(at + 8));
        size_t csize = u32(at + 18);
        m.size = u32(at + 22);
        size_t data = at + 30 + u16(at + 26) + u16(at + 28);
        if (data + csize > zip.size() || (m.flags & 8)) break;
        m.data.assign(zip.begin() + static_cast<long>(data),
                      zip.begin() + static_cast<long>(data + csize));
        out.push_back(std::move(m));
        at = data + csize;
    }
    return out;
}

TEST(OldMethodFuzz, DamagedAndRandomInputEndsWithAKnownStatus) {
    fs::path root = TestData() / "zip-old-methods";
    if (!fs::exists(root)) GTEST_SKIP() << "no vectors";
    std::vector<RawMember> seeds;
    for (const char* file : {"z2_implode.zip", "z2_reduce.zip", "z2_shrink.zip",
                             "cc_imploding-4Kdict-2trees.zip", "sc_Zip.reduce2.zip"})
        for (RawMember& m : LocalMembers(ReadFile((root / file).string())))
            if (IsOldMethod(m.method)) seeds.push_back(std::move(m));
    ASSERT_GE(seeds.size(), 5u);
    std::mt19937 rng(14);
    auto start = std::chrono::steady_clock::now();
    for (int round = 0; round < 3000; ++round) {
        const RawMember& seed = seeds[static_cast<size_t>(round) % seeds.size()];
        Feed f(seed.data);
        f.piece = 1 + rng() % 4096;
        switch (round % 4) {
            case 0:  // flipped bytes
                for (int i = 0; i < 4; ++i)
                    f.in[rng() % f.in.size()] ^= static_cast<uint8_t>(1 + rng() % 255);
                break;
            case 1:  // cut short
                f.in.resize(rng() % f.in.size());
                break;
            case 2:  // random bytes
                f.in = testing_util::RandomBytes(1 + rng() % 2000, static_cast<uint32_t>(round));
                break;
            default:  // intact
                break;
        }
        uint64_t size = round % 8 == 7 ? (1ull << 40) : seed.size;  // sometimes a huge claim
        OldMethodResult r = DecodeOldMethod(f.Io(), seed.method, seed.flags, f.in.size(), size);
        ASSERT_TRUE(r.status == OldMethodStatus::kOk || r.status == OldMethodStatus::kBadData ||
                    r.status == OldMethodStatus::kTruncated);
        ASSERT_EQ(r.out_size, f.out.size());
        ASSERT_LE(r.out_size, size);
        if (round % 4 == 3 && size == seed.size) {
            ASSERT_EQ(r.status, OldMethodStatus::kOk) << round;
            ASSERT_EQ(r.out_size, seed.size);
        }
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
}

}  // namespace
}  // namespace engine
