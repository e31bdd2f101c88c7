// Deflate64 streams written bit by bit: the codes that differ from Deflate's.
#include <gtest/gtest.h>

#include <vector>

#include "archiver/engine/unzip/inflate.h"

namespace engine {
namespace {

// Writes a Deflate bit stream: fields least significant bit first, Huffman codes from their
// top bit.
struct Bits {
    std::vector<uint8_t> bytes;
    unsigned used = 0;
    void Put(uint32_t v, unsigned n) {
        for (unsigned i = 0; i < n; ++i) {
            if (used % 8 == 0) bytes.push_back(0);
            bytes.back() |= static_cast<uint8_t>(((v >> i) & 1) << (used % 8));
            ++used;
        }
    }
    void Code(uint32_t code, unsigned n) {
        for (unsigned i = n; i-- > 0;) Put((code >> i) & 1, 1);
    }
    void Align() { used = (used + 7) / 8 * 8; }
};

// A stored block of `data` (not the last), then a fixed block holding one match, then its end.
std::vector<uint8_t> StoredThenMatch(const std::vector<uint8_t>& data, unsigned length_extra,
                                     unsigned distance_code, unsigned distance_extra) {
    Bits b;
    b.Put(0, 1);  // not the last block
    b.Put(0, 2);  // stored
    b.Align();
    b.Put(static_cast<uint32_t>(data.size()), 16);
    b.Put(static_cast<uint32_t>(~data.size() & 0xFFFF), 16);
    for (uint8_t c : data) b.Put(c, 8);
    b.Put(1, 1);                    // the last block
    b.Put(1, 2);                    // fixed codes
    b.Code(0xC0 + (285 - 280), 8);  // length code 285
    b.Put(length_extra, 16);        // Deflate64: 16 extra bits
    b.Code(distance_code, 5);       // fixed distance codes are 5 bits
    b.Put(distance_extra, distance_code >= 30 ? 14 : 0);
    b.Code(0, 7);  // end of block
    return b.bytes;
}

struct Decoded {
    InflateResult result;
    std::vector<uint8_t> out;
};

Decoded DecodeStream(const std::vector<uint8_t>& in, bool deflate64) {
    InflateWorkspacePtr ws = MakeInflateWorkspace();
    Decoded d;
    size_t pos = 0;
    InflateIo io;
    io.read = [&](uint8_t* buf, size_t cap) {
        size_t n = std::min(cap, in.size() - pos);
        std::copy_n(in.begin() + static_cast<ptrdiff_t>(pos), n, buf);
        pos += n;
        return n;
    };
    io.write = [&](const uint8_t* p, size_t n) { d.out.insert(d.out.end(), p, p + n); };
    d.result = deflate64 ? Inflate64(io, *ws) : Inflate(io, *ws);
    return d;
}

TEST(Inflate64, LongMatchesAndFarDistances) {
    std::vector<uint8_t> data(60000);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + i / 251);
    struct Case {
        const char* what;
        unsigned length_extra, distance_code, distance_extra;
        size_t length, distance;
    } cases[] = {
        {"distance code 30", 997, 30, 231, 1000, 32769 + 231},
        {"distance code 31, back to the first byte", 0, 31, 60000 - 49153, 3, 60000},
        {"length of 65,538 from one byte back", 65535, 0, 0, 65538, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> in =
            StoredThenMatch(data, c.length_extra, c.distance_code, c.distance_extra);
        std::vector<uint8_t> want = data;
        for (size_t i = 0; i < c.length; ++i) want.push_back(want[want.size() - c.distance]);
        Decoded d = DecodeStream(in, true);
        EXPECT_EQ(d.result.status, InflateStatus::kOk);
        EXPECT_EQ(d.result.in_used, in.size());
        EXPECT_TRUE(d.out == want);
    }
}

TEST(Inflate64, DistancesBeforeTheStreamAndCutStreamsFail) {
    std::vector<uint8_t> data(100, 'x');
    std::vector<uint8_t> far = StoredThenMatch(data, 0, 30, 0);  // 32,769 back: before the start
    EXPECT_EQ(DecodeStream(far, true).result.status, InflateStatus::kBadData);
    std::vector<uint8_t> fine = StoredThenMatch(data, 10, 0, 0);
    fine.resize(fine.size() - 2);
    EXPECT_EQ(DecodeStream(fine, true).result.status, InflateStatus::kTruncated);
}

}  // namespace
}  // namespace engine
