#include "archiver/mail/binhex.h"

#include <gtest/gtest.h>

namespace mail {
namespace {

constexpr char kChars[] = "!\"#$%&'()*+,-012345689@ABCDEFGHIJKLMNPQRSTUVXYZ[`abcdefhijklmpqr";

void Put32(std::string& s, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) s += static_cast<char>(v >> shift & 0xFF);
}
void PutCrc(std::string& s, std::string_view section) {
    uint16_t crc = BinHexCrc(section);
    s += static_cast<char>(crc >> 8);
    s += static_cast<char>(crc & 0xFF);
}

// A BinHex text written from the format notes, independently of the decoder.
std::string Encode(const std::string& name, const std::string& data, bool spoil_crc = false,
                   const std::string& resource = "") {
    std::string header;
    header += static_cast<char>(name.size());
    header += name;
    header += '\0';
    header += "BINAmBRV";
    header += std::string(2, '\0');
    Put32(header, static_cast<uint32_t>(data.size()));
    Put32(header, static_cast<uint32_t>(resource.size()));
    std::string all = header;
    PutCrc(all, header);
    all += data;
    PutCrc(all, data);
    if (spoil_crc) all.back() ^= 1;
    all += resource;
    PutCrc(all, resource);
    std::string rle;
    for (size_t i = 0; i < all.size();) {
        size_t run = 1;
        while (i + run < all.size() && all[i + run] == all[i] && run < 255) ++run;
        rle += all[i];
        if (static_cast<uint8_t>(all[i]) == 0x90) rle += '\0';
        if (run >= 3) {
            rle += static_cast<char>(0x90);
            rle += static_cast<char>(run);
            i += run;
        } else {
            ++i;
        }
    }
    std::string text = "(This file must be converted with BinHex 4.0)\n:";
    uint32_t bits = 0;
    int have = 0;
    size_t column = 1;
    auto put = [&](unsigned v) {
        text += kChars[v & 63];
        if (++column == 64) {
            text += '\n';
            column = 0;
        }
    };
    for (char c : rle) {
        bits = bits << 8 | static_cast<uint8_t>(c);
        have += 8;
        while (have >= 6) {
            have -= 6;
            put(bits >> have);
        }
    }
    if (have) put(bits << (6 - have));
    return text + ":\n";
}

TEST(BinHex, DecodesWhatTheNotesDescribe) {
    std::string data;
    for (int i = 0; i < 500; ++i) data += static_cast<char>(i < 100 ? 0 : i % 7 == 0 ? 0x90 : i);
    for (size_t n : {0u, 1u, 99u, 500u}) {
        std::string text = Encode("archive.zip", data.substr(0, n));
        std::string error;
        std::optional<BinHexFile> f = DecodeBinHex(text, FindBinHexStart(text), error);
        ASSERT_TRUE(f) << n << error;
        EXPECT_EQ(f->name, "archive.zip");
        EXPECT_EQ(f->data, data.substr(0, n));
        EXPECT_EQ(f->resource, "");
    }
    // Both forks come back, each in full.
    std::string text = Encode("icon", "data fork", false, data);
    std::string error;
    std::optional<BinHexFile> f = DecodeBinHex(text, FindBinHexStart(text), error);
    ASSERT_TRUE(f) << error;
    EXPECT_EQ(f->data, "data fork");
    EXPECT_EQ(f->resource, data);
}

TEST(BinHex, DamageIsAnError) {
    std::string good = Encode("a.zip", std::string(300, 'x') + "tail");
    std::string bad_char = good;
    bad_char[good.find(':') + 5] = 'o';  // 'o' is not in the alphabet
    struct Case {
        const char* name;
        std::string text;
    } cases[] = {
        {"crc", Encode("a.zip", "hello world", true)},
        {"cut short", good.substr(0, good.size() - 12)},
        {"bad character", bad_char},
        {"no closing colon", good.substr(0, good.rfind(':'))},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_FALSE(DecodeBinHex(c.text, FindBinHexStart(c.text), error)) << c.name;
        EXPECT_FALSE(error.empty()) << c.name;
    }
}

TEST(BinHex, CrcMatchesTheXmodemCheckValue) {
    EXPECT_EQ(BinHexCrc("123456789"), 0x31C3);
}

}  // namespace
}  // namespace mail
