#include "chat/core/display_text.h"

#include <gtest/gtest.h>

#include <clocale>

namespace chat {
namespace {

class DisplayTextTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::setlocale(LC_CTYPE, "C.UTF-8")) std::setlocale(LC_CTYPE, "");
    }
};

TEST_F(DisplayTextTest, RemovesFormattingAndControlCodes) {
    EXPECT_EQ(DisplayText("\x02"
                          "bold\x02 \x03"
                          "4,12red\x03 \x1fu\x0f"),
              "bold red u");
    EXPECT_EQ(DisplayText("\x03"
                          "12,x"),
              ",x");  // a comma not followed by a digit stays
    EXPECT_EQ(DisplayText("a\tb\x07\x1b[31mc\x7f"), "a b[31mc");
    EXPECT_EQ(DisplayText("\x01"
                          "ACTION waves\x01"),
              "ACTION waves");
}

TEST_F(DisplayTextTest, InvalidUtf8IsReadAsWindows1252) {
    EXPECT_EQ(DisplayText("caf\xc3\xa9"), "caf\xc3\xa9");
    EXPECT_EQ(DisplayText("caf\xe9"), "caf\xc3\xa9");
    EXPECT_EQ(DisplayText("\x93q\x94"), "\xe2\x80\x9cq\xe2\x80\x9d");
}

TEST_F(DisplayTextTest, WrapsAtLastBlankOfFinalQuarterElseHard) {
    auto lines = WrapText("aaaaaaaaaaaaaaaa bbb cccc", 20, 0, false);
    EXPECT_EQ(lines, (std::vector<std::string>{"aaaaaaaaaaaaaaaa", "bbb cccc"}));
    lines = WrapText("aaaaaaaaaaaaaaaaa bbbbbbbbbb", 20, 0, false);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "aaaaaaaaaaaaaaaaa");  // blank at 17 lies in the last quarter
    EXPECT_EQ(lines[1], "bbbbbbbbbb");
    lines = WrapText("aaaa bbbbbbbbbbbbbbbbbbbbbbbb", 20, 0, false);
    EXPECT_EQ(lines[0], "aaaa bbbbbbbbbbbbbbb");  // blank too early: hard break
    EXPECT_EQ(WrapText(std::string(45, 'x'), 20, 0, false).size(), 3u);
}

TEST_F(DisplayTextTest, ContinuationIndentIsCappedAndWideCharactersStayWhole) {
    auto lines = WrapText(std::string(60, 'x'), 40, 30, false);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], std::string(25, ' ') + std::string(20, 'x'));
    // Five wide characters (2 columns each) in a limit of 5 columns: two per line.
    std::string wide;
    for (int i = 0; i < 5; ++i) wide += "\xe6\x97\xa5";
    EXPECT_EQ(DisplayColumns(wide), 10);
    lines = WrapText(wide, 5, 0, false);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "\xe6\x97\xa5\xe6\x97\xa5");
    // A single character wider than the limit still makes progress.
    EXPECT_EQ(WrapText(wide, 1, 0, false).size(), 5u);
}

}  // namespace
}  // namespace chat
