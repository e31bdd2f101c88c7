#include "archiver/mail/transfer_codings.h"

#include <gtest/gtest.h>

namespace mail {
namespace {

TEST(Base64, DecodesAndRefusesDamage) {
    struct Case {
        const char* text;
        bool ok;
        std::string want;
    } cases[] = {
        {"TWFu", true, "Man"},     {"TWE=", true, "Ma"}, {"TQ==\r\n", true, "M"},
        {"TW\nFu\n", true, "Man"}, {"", true, ""},       {"TWF", false, ""},  // cut short
        {"TQ=", false, ""},                                                   // padding cut short
        {"TW!u", false, ""},                                                  // not in the alphabet
        {"T===", false, ""},                                                  // too much padding
        {"TQ==TWFu", false, ""},                                              // data after the end
    };
    for (const Case& c : cases) {
        std::string error;
        std::optional<std::string> got = DecodeBase64(c.text, error);
        EXPECT_EQ(got.has_value(), c.ok) << c.text;
        if (got && c.ok) {
            EXPECT_EQ(*got, c.want) << c.text;
        }
        if (!c.ok) {
            EXPECT_FALSE(error.empty()) << c.text;
        }
    }
}

TEST(Base64, RoundTripsEveryLengthAndByte) {
    std::string data;
    for (int i = 0; i < 300; ++i) {
        std::string error;
        std::string text = EncodeBase64(data);
        for (size_t at = 0; (at = text.find('\n', at)) != text.npos; ++at) ASSERT_LE(at % 77, 76u);
        ASSERT_EQ(DecodeBase64(text, error).value_or("?"), data) << i;
        data += static_cast<char>(i * 37);
    }
}

TEST(QuotedPrintable, Decodes) {
    struct Case {
        const char* text;
        bool ok;
        const char* want;
    } cases[] = {
        {"a=3Db", true, "a=b"},
        {"soft=\r\nbreak", true, "softbreak"},
        {"trailing  \nnext", true, "trailing\nnext"},
        {"=e9t=C3=A9", true, "\xe9t\xc3\xa9"},
        {"bad=G1", false, ""},
        {"cut=4", false, ""},
    };
    for (const Case& c : cases) {
        std::string error;
        std::optional<std::string> got = DecodeQuotedPrintable(c.text, error);
        EXPECT_EQ(got.has_value(), c.ok) << c.text;
        if (got && c.ok) {
            EXPECT_EQ(*got, c.want) << c.text;
        }
    }
}

}  // namespace
}  // namespace mail
