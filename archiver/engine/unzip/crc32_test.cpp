#include "archiver/engine/unzip/crc32.h"

#include <gtest/gtest.h>

#include <string_view>

#include "archiver/engine/unzip/test_util.h"
#include "archiver/engine/unzip/zip_crypt.h"

namespace engine {
namespace {

uint32_t Of(std::string_view s) {
    return Crc32(0, {reinterpret_cast<const uint8_t*>(s.data()), s.size()});
}

TEST(Crc32Test, KnownValues) {
    EXPECT_EQ(Of(""), 0u);
    EXPECT_EQ(Of("abc"), 0x352441C2u);
    EXPECT_EQ(Of("123456789"), 0xCBF43926u);
    EXPECT_EQ(Crc32Table()[1], 0x77073096u);
}

TEST(Crc32Test, WideLoopAgreesWithByteSteps) {
    // Every length around the 16-byte steps, and split points that misalign the wide loop.
    auto data = testing_util::RandomBytes(5000, 5);
    for (size_t len = 0; len < 5000; len += len < 300 ? 1 : 97) {
        uint32_t reg = 0xFFFFFFFF;
        for (size_t i = 0; i < len; ++i) reg = Crc32Step(reg, data[i]);
        ASSERT_EQ(Crc32(0, {data.data(), len}), ~reg) << len;
        ASSERT_EQ(Crc32Raw16(0xFFFFFFFF, data.data(), len), reg) << len;
        for (size_t cut : {size_t{1}, size_t{7}, len / 2}) {
            if (cut > len) continue;
            uint32_t part = Crc32(0, {data.data(), cut});
            ASSERT_EQ(Crc32(part, {data.data() + cut, len - cut}), ~reg) << len << "/" << cut;
        }
    }
}

TEST(Crc32Test, EveryFoldingPathAgreesWithTheTables) {
    // The folding code takes 128-byte steps (256 bits at a time where the processor has the
    // wide form), then 32- and 16-byte steps and a tail: every length through several of each,
    // from starts at every alignment, and long runs with every remainder.
    auto data = testing_util::RandomBytes(70000, 21);
    for (size_t start = 0; start < 33; start += 4) {
        for (size_t len = 0; len < 1200 && start + len <= data.size(); ++len) {
            const uint8_t* p = data.data() + start;
            ASSERT_EQ(Crc32Raw(0x12345678, p, len), Crc32Raw16(0x12345678, p, len))
                << start << "+" << len;
        }
    }
    for (size_t len = 65536 - 130; len < 65536 + 130; ++len)
        ASSERT_EQ(Crc32Raw(0xFFFFFFFF, data.data() + 3, len),
                  Crc32Raw16(0xFFFFFFFF, data.data() + 3, len))
            << len;
}

std::vector<uint8_t> Bytes(std::string_view s) {
    return {s.begin(), s.end()};
}

TEST(ZipCryptTest, EncipherDecipherRoundTrip) {
    auto plain = testing_util::RandomBytes(5000, 9);
    auto data = plain;
    ZipKeys enc = InitKeys("SECRET");
    EncryptBlock(enc, data);
    EXPECT_NE(data, plain);
    ZipKeys dec = InitKeys("SECRET");
    // Deciphering in uneven pieces continues the keys exactly.
    DecryptBlock(dec, {data.data(), 13});
    DecryptBlock(dec, {data.data() + 13, data.size() - 13});
    EXPECT_EQ(data, plain);
}

TEST(ZipCryptTest, PasswordCheckUsesTheLastHeaderByte) {
    // A header as a writer makes it: ten filler bytes, then the two check bytes.
    for (std::string_view password : {"SECRET", ""}) {
        std::vector<uint8_t> head = Bytes("0123456789");
        head.push_back(0x12);
        head.push_back(0xAB);  // the CRC's high byte, or the time's for a streamed member
        ZipKeys w = InitKeys(password);
        EncryptBlock(w, head);
        std::vector<uint8_t> body = Bytes("member data");
        EncryptBlock(w, body);

        ZipKeys r;
        std::span<const uint8_t, kCryptHeaderSize> h(head.data(), kCryptHeaderSize);
        ASSERT_TRUE(CheckPasswordHeader(r, password, h, 0xAB));
        DecryptBlock(r, body);
        EXPECT_EQ(body, Bytes("member data"));
        EXPECT_FALSE(CheckPasswordHeader(r, password, h, 0xAC));
        EXPECT_FALSE(CheckPasswordHeader(r, "WRONG", h, 0xAB));
    }
}

}  // namespace
}  // namespace engine
