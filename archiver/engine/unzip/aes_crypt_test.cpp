#include "archiver/engine/unzip/aes_crypt.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archiver/engine/unzip/aes_field.h"
#include "archiver/engine/unzip/zip_records.h"

namespace engine {
namespace {

std::string Hex(std::span<const uint8_t> b) {
    static const char* digits = "0123456789abcdef";
    std::string s;
    for (uint8_t c : b) {
        s += digits[c >> 4];
        s += digits[c & 15];
    }
    return s;
}

std::vector<uint8_t> Salt(size_t n) {
    std::vector<uint8_t> s(n);
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<uint8_t>(i);
    return s;
}

std::vector<uint8_t> Plain() {
    std::vector<uint8_t> p(1000);
    for (size_t i = 0; i < p.size(); ++i) p[i] = static_cast<uint8_t>(i % 251);
    return p;
}

// Expected values from python3-cryptography's PBKDF2, AES-ECB over little-endian counter
// blocks from 1, and HMAC-SHA1: an independent construction of the same format.
TEST(AesCipher, MatchesAnIndependentConstructionOfTheFormat) {
    std::array<uint8_t, kAesCheckSize> check{};
    auto cipher = AesCipher::Start(kAes256, "secret", Salt(16), check);
    ASSERT_TRUE(cipher);
    EXPECT_EQ(Hex(check), "a336");
    std::vector<uint8_t> data = Plain();
    // Uneven pieces: the keystream and the counter run on across calls.
    size_t pieces[] = {1, 15, 16, 17, 300, 651};
    size_t at = 0;
    for (size_t n : pieces) {
        ASSERT_TRUE(cipher->Encrypt(std::span(data).subspan(at, n)));
        at += n;
    }
    ASSERT_EQ(at, data.size());
    EXPECT_EQ(Hex(std::span(data).first(16)), "5ab83c434a90b2e28c79a8bfc8d95b01");
    EXPECT_EQ(Hex(std::span(data).last(16)), "659e08e98bc9b5f99b836db0fe1039a4");
    std::array<uint8_t, kAesAuthSize> code{};
    ASSERT_TRUE(cipher->AuthCode(code));
    EXPECT_EQ(Hex(code), "ab6b3a8396968c883d05");
    EXPECT_FALSE(cipher->AuthCode(code)) << "a finished cipher gives no second code";
}

TEST(AesCipher, RoundTripsAtEveryStrengthAndCatchesChangesAndWrongPasswords) {
    for (uint8_t strength : {kAes128, kAes192, kAes256}) {
        SCOPED_TRACE(int{strength});
        std::vector<uint8_t> salt = Salt(AesSaltSize(strength));
        std::array<uint8_t, kAesCheckSize> check{}, again{}, wrong{};
        auto writer = AesCipher::Start(strength, "pw", salt, check);
        ASSERT_TRUE(writer);
        std::vector<uint8_t> data = Plain();
        ASSERT_TRUE(writer->Encrypt(data));
        EXPECT_NE(data, Plain());
        std::array<uint8_t, kAesAuthSize> written{}, read{}, tampered{};
        ASSERT_TRUE(writer->AuthCode(written));

        auto reader = AesCipher::Start(strength, "pw", salt, again);
        ASSERT_TRUE(reader);
        EXPECT_EQ(check, again);
        std::vector<uint8_t> copy = data;
        ASSERT_TRUE(reader->Decrypt(copy));
        EXPECT_EQ(copy, Plain());
        ASSERT_TRUE(reader->AuthCode(read));
        EXPECT_TRUE(AesAuthCodesEqual(written, read));

        data[500] ^= 1;
        auto checker = AesCipher::Start(strength, "pw", salt, again);
        ASSERT_TRUE(checker->Authenticate(data));
        ASSERT_TRUE(checker->AuthCode(tampered));
        EXPECT_FALSE(AesAuthCodesEqual(written, tampered));

        ASSERT_TRUE(AesCipher::Start(strength, "pW", salt, wrong));
        EXPECT_NE(check, wrong);
    }
}

TEST(AesCipher, RefusesStrengthsAndSaltsOutOfRange) {
    std::array<uint8_t, kAesCheckSize> check{};
    struct Case {
        uint8_t strength;
        size_t salt;
    } cases[] = {{0, 8}, {4, 16}, {255, 16}, {kAes128, 16}, {kAes256, 8}, {kAes192, 0}};
    for (const Case& c : cases)
        EXPECT_FALSE(AesCipher::Start(c.strength, "pw", Salt(c.salt), check))
            << int{c.strength} << " " << c.salt;
    EXPECT_EQ(AesOverhead(kAes128), 8u + 2 + 10);
    EXPECT_EQ(AesOverhead(kAes256), 16u + 2 + 10);
    EXPECT_EQ(AesOverhead(7), 0u);
}

// An extra block of one field: id, size and data.
std::vector<uint8_t> Field(uint16_t id, const std::vector<uint8_t>& data) {
    // Built in place: gcc at -O3 takes an insert after a 4-byte start for an overrun.
    std::vector<uint8_t> f(4 + data.size());
    Put16(f.data(), id);
    Put16(f.data() + 2, static_cast<uint16_t>(data.size()));
    std::copy(data.begin(), data.end(), f.begin() + 4);
    return f;
}

TEST(AesField, ReadsGoodFieldsAndNamesEachDamage) {
    std::vector<uint8_t> time = Field(0x5455, {1, 0, 0, 0, 0});
    auto after_time = [&](std::vector<uint8_t> f) {
        std::vector<uint8_t> all = time;
        all.insert(all.end(), f.begin(), f.end());
        return all;
    };
    struct Case {
        std::vector<uint8_t> extra;
        AesFieldStatus status;
        AesField field;
    } cases[] = {
        {Field(kExtraAes, {2, 0, 'A', 'E', 3, 8, 0}), AesFieldStatus::kOk, {2, 3, 8}},
        {after_time(Field(kExtraAes, {1, 0, 'A', 'E', 1, 0, 0})), AesFieldStatus::kOk, {1, 1, 0}},
        {time, AesFieldStatus::kMissing, {}},
        {{}, AesFieldStatus::kMissing, {}},
        {Field(kExtraAes, {2, 0, 'A', 'E', 3, 8}), AesFieldStatus::kWrongSize, {}},
        {Field(kExtraAes, {2, 0, 'A', 'E', 3, 8, 0, 0}), AesFieldStatus::kWrongSize, {}},
        // The field says 7 bytes, but the block ends first.
        {{0x01, 0x99, 7, 0, 2, 0, 'A', 'E'}, AesFieldStatus::kWrongSize, {}},
        {Field(kExtraAes, {2, 0, 'A', 'X', 3, 8, 0}), AesFieldStatus::kNotAes, {}},
        {Field(kExtraAes, {3, 0, 'A', 'E', 3, 8, 0}), AesFieldStatus::kBadVersion, {}},
        {Field(kExtraAes, {2, 0, 'A', 'E', 0, 8, 0}), AesFieldStatus::kBadStrength, {}},
        {Field(kExtraAes, {2, 0, 'A', 'E', 4, 8, 0}), AesFieldStatus::kBadStrength, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Hex(c.extra));
        AesField f;
        EXPECT_EQ(ReadAesField(c.extra, f), c.status);
        if (c.status != AesFieldStatus::kOk) continue;
        EXPECT_EQ(f.version, c.field.version);
        EXPECT_EQ(f.strength, c.field.strength);
        EXPECT_EQ(f.method, c.field.method);
    }
}

TEST(AesField, WritesWhatItReadsAndRewritesTheMethod) {
    std::vector<uint8_t> b = AesFieldBytes({kAesVersion2, kAes192, 8});
    EXPECT_EQ(Hex(b), "0199070002004145020800");
    ASSERT_TRUE(SetAesFieldMethod(b, 0));
    AesField f;
    ASSERT_EQ(ReadAesField(b, f), AesFieldStatus::kOk);
    EXPECT_EQ(f.method, 0);
    EXPECT_EQ(f.strength, kAes192);
    std::vector<uint8_t> none = Field(0x5455, {1, 0, 0, 0, 0});
    EXPECT_FALSE(SetAesFieldMethod(none, 8));
    EXPECT_EQ(AesStrengthName(kAes256), "AES-256");
    EXPECT_EQ(AesStrengthName(9), "AES");
}

}  // namespace
}  // namespace engine
