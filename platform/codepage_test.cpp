#include "platform/codepage.h"

#include <gtest/gtest.h>

#include <set>

namespace platform {
namespace {

TEST(CodepageTest, EveryOemByteRoundTrips) {
    std::string all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    const std::string utf8 = OemToUtf8(all);
    EXPECT_TRUE(IsValidUtf8(utf8));
    EXPECT_EQ(Utf8ToOem(utf8), all);

    std::set<std::string> seen;
    for (int b = 0; b < 256; ++b) {
        const std::string one = OemToUtf8(std::string(1, static_cast<char>(b)));
        EXPECT_TRUE(seen.insert(one).second) << "byte " << b << " shares its character";
        EXPECT_EQ(Utf8ToOem(one), std::string(1, static_cast<char>(b))) << "byte " << b;
    }
    // The lower half is plain ASCII, control bytes included.
    EXPECT_EQ(OemToUtf8("\x01\x1f\x7f"), "\x01\x1f\x7f");
    EXPECT_EQ(OemToUtf8("\x80\x9e\xb3\xe1\xff"), "Ç₧│ß\u00a0");
}

TEST(CodepageTest, TextOemCannotHoldIsReported) {
    EXPECT_EQ(Utf8ToOem("plain name.txt"), "plain name.txt");
    EXPECT_EQ(Utf8ToOem("Größe ½"),
              "Gr\x94\xe1"
              "e \xab");
    EXPECT_EQ(Utf8ToOem("€"), std::nullopt);
    EXPECT_EQ(Utf8ToOem("日本"), std::nullopt);
    EXPECT_EQ(Utf8ToOem("a\U0001F600"), std::nullopt);
    // The glyph CP437 screens showed for byte 1 is not byte 1 here: names keep control bytes.
    EXPECT_EQ(Utf8ToOem("\u263a"), std::nullopt);
    EXPECT_EQ(Utf8ToOem("caf\xe9"), std::nullopt);  // not UTF-8 at all
}

TEST(CodepageTest, Utf8Validation) {
    for (const char* good : {"", "ascii", "é", "€", "\xed\x9f\xbf", "\xee\x80\x80",
                             "\xf0\x90\x80\x80", "\xf4\x8f\xbf\xbf"}) {
        EXPECT_TRUE(IsValidUtf8(good)) << good;
    }
    for (const char* bad : {"\x80", "\xc0\xaf", "\xc1\xbf", "\xe0\x80\xaf", "\xf0\x80\x80\xaf",
                            "\xed\xa0\x80", "\xed\xbf\xbf", "\xf4\x90\x80\x80", "\xf5\x80\x80\x80",
                            "\xff", "\xe2\x82", "a\xe2\x82", "\xc3\x28"}) {
        EXPECT_FALSE(IsValidUtf8(bad)) << testing::PrintToString(std::string(bad));
    }
    EXPECT_TRUE(IsValidUtf8(std::string("a\0b", 3)));
}

TEST(CodepageTest, DisplayKeepsUtf8AndReadsTheRestAsWindows1252) {
    EXPECT_EQ(BytesToDisplayUtf8("déjà vu €"), "déjà vu €");
    EXPECT_EQ(BytesToDisplayUtf8("caf\xe9"), "café");
    EXPECT_EQ(BytesToDisplayUtf8("\x80\x93quoted\x94\x9f"), "€“quoted”Ÿ");
    // One bad byte makes the whole text Windows-1252, UTF-8 look-alikes included.
    EXPECT_EQ(BytesToDisplayUtf8("\xc3\xa9\xff"), "Ã©ÿ");
    // Unassigned bytes never become C1 controls that a terminal might obey.
    EXPECT_EQ(BytesToDisplayUtf8("\x81\x8d\x8f\x90\x9d"), "\ufffd\ufffd\ufffd\ufffd\ufffd");
}

}  // namespace
}  // namespace platform
