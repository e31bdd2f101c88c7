#include "archiver/mail/uu_codec.h"

#include <gtest/gtest.h>

namespace mail {
namespace {

TEST(UuCodec, RoundTripsBothAlphabets) {
    std::string data;
    for (int i = 0; i < 200; ++i) data += static_cast<char>(i * 91 + 7);
    for (UuAlphabet a : {UuAlphabet::kUu, UuAlphabet::kXx}) {
        for (size_t n : {0u, 1u, 2u, 3u, 44u, 45u, 46u, 200u}) {
            std::string text = "header\n" + UuEncode(data.substr(0, n), "a b.zip", 0600, a);
            size_t next = 0;
            std::string error;
            std::optional<UuFile> f = UuDecodeBlock(text, 7, next, error);
            ASSERT_TRUE(f) << n << error;
            EXPECT_EQ(f->data, data.substr(0, n));
            EXPECT_EQ(f->name, "a b.zip");
            EXPECT_EQ(f->mode, 0600u);
            EXPECT_EQ(next, text.size());
        }
    }
}

TEST(UuCodec, DamagedBlocksAreErrors) {
    struct Case {
        const char* name;
        std::string text;
    } cases[] = {
        {"no end line", "begin 644 x\n#86)C\n`\n"},
        {"bad character", "begin 644 x\n#8~)C\n`\nend\n"},
        {"data after the last line", "begin 644 x\n`\n#86)C\nend\n"},
        {"short xx line", "begin 644 x\nh0\n+\nend\n"},
    };
    for (const Case& c : cases) {
        size_t next = 0;
        std::string error;
        EXPECT_FALSE(UuDecodeBlock(c.text, 0, next, error)) << c.name;
        EXPECT_FALSE(error.empty()) << c.name;
    }
}

TEST(UuCodec, BeginLines) {
    EXPECT_TRUE(IsUuBeginLine("begin 644 a.zip"));
    EXPECT_TRUE(IsUuBeginLine("begin 0755 a"));
    EXPECT_FALSE(IsUuBeginLine("begin 644 "));
    EXPECT_FALSE(IsUuBeginLine("begin 99 a"));
    EXPECT_FALSE(IsUuBeginLine("beginning 644 a"));
}

}  // namespace
}  // namespace mail
