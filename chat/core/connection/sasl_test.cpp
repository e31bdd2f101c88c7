#include "chat/core/connection/sasl.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace chat {
namespace {

TEST(SaslBase64, Rfc4648Vectors) {
    const std::pair<std::string, std::string> cases[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
        {std::string("jilles\0jilles\0sesame", 20), "amlsbGVzAGppbGxlcwBzZXNhbWU="},
        {"\xff\xfe\x80", "//6A"},
    };
    for (const auto& [raw, encoded] : cases) EXPECT_EQ(SaslBase64(raw), encoded) << raw;
}

TEST(SaslResponse, SplitsIntoFourHundredBytePieces) {
    struct Case {
        size_t raw_bytes;
        std::vector<size_t> piece_sizes;  // 0: the "+" line
    };
    // 300 raw bytes are exactly 400 base64 bytes: a "+" must say that nothing more follows.
    const Case cases[] = {
        {0, {0}},        {1, {4}},        {297, {396}},         {299, {400, 0}},
        {300, {400, 0}}, {301, {400, 4}}, {600, {400, 400, 0}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> lines = SaslResponseLines(std::string(c.raw_bytes, 'x'));
        ASSERT_EQ(lines.size(), c.piece_sizes.size()) << c.raw_bytes;
        std::string joined;
        for (size_t i = 0; i < lines.size(); ++i) {
            ASSERT_EQ(lines[i].rfind("AUTHENTICATE ", 0), 0u);
            std::string data = lines[i].substr(13);
            if (c.piece_sizes[i] == 0) {
                EXPECT_EQ(data, "+");
            } else {
                EXPECT_EQ(data.size(), c.piece_sizes[i]);
                joined += data;
            }
        }
        EXPECT_EQ(joined, SaslBase64(std::string(c.raw_bytes, 'x')));
    }
}

TEST(SaslMask, HidesPayloadsOnly) {
    const std::pair<std::string, std::string> cases[] = {
        {"AUTHENTICATE amlsbGVzAGppbGxlcwBzZXNhbWU=", "AUTHENTICATE ****"},
        {"/quote AUTHENTICATE c2VjcmV0", "/quote AUTHENTICATE ****"},
        {"/RAW authenticate c2VjcmV0", "/RAW authenticate ****"},
        {"/raw -q AUTHENTICATE c2VjcmV0", "/raw -q AUTHENTICATE ****"},
        {"AUTHENTICATE PLAIN", "AUTHENTICATE PLAIN"},
        {"AUTHENTICATE +", "AUTHENTICATE +"},
        {"AUTHENTICATE *", "AUTHENTICATE *"},
        {"/msg bob AUTHENTICATE is a word", "/msg bob AUTHENTICATE is a word"},
        {"hello there", "hello there"},
    };
    for (const auto& [line, shown] : cases) EXPECT_EQ(MaskSaslLine(line), shown) << line;
}

}  // namespace
}  // namespace chat
