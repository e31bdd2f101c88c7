#include "chat/terminal/irc_format.h"

#include <gtest/gtest.h>

namespace chat {
namespace {

std::u32string Text(const tui::StyledLine& line) {
    return tui::LineText(line);
}

TEST(IrcFormatTest, CodesBecomeAttributesAndVanishFromTheText) {
    const tui::StyledLine line = IrcLine(
        "a\x02"
        "b\x02"
        "c\x1f"
        "d\x0f"
        "e\x16"
        "f");
    EXPECT_EQ(Text(line), U"abcdef");
    EXPECT_EQ(line[0].style.flags, 0);
    EXPECT_EQ(line[1].style.flags, tui::kBold);
    EXPECT_EQ(line[3].style.flags, tui::kUnderline);
    EXPECT_EQ(line[4].style.flags, 0);  // ^O reset
    EXPECT_EQ(line[5].style.flags, tui::kReverse);
}

TEST(IrcFormatTest, ColoursWithAndWithoutBackground) {
    tui::StyledLine line = IrcLine(
        "\x03"
        "4red\x03"
        "12,8on\x03"
        "plain\x03"
        "99x");
    EXPECT_EQ(Text(line), U"redonplainx");
    EXPECT_EQ(line[0].style.fg, 9);
    EXPECT_EQ(line[3].style.fg, 12);
    EXPECT_EQ(line[3].style.bg, 11);
    EXPECT_EQ(line[5].style.fg, tui::kDefaultColor);
    // Digits after two are text; a comma without a digit is text.
    line = IrcLine(
        "\x03"
        "123\x03"
        "5,x");
    EXPECT_EQ(Text(line), U"3,x");
    EXPECT_EQ(line[0].style.fg, IrcColour(12));
}

TEST(IrcFormatTest, OtherControlsShowAsCaretLetters) {
    const tui::StyledLine line = IrcLine(
        "\x1b[2J\x07"
        "end\x03");  // a trailing bare code too
    EXPECT_EQ(Text(line), U"^[[2J^Gend");
    for (const tui::Cell& c : line) EXPECT_FALSE(tui::IsControl(c.ch));
    EXPECT_EQ(IrcColour(16), IrcColour(0));  // extended numbers fold
    EXPECT_EQ(IrcColour(99), tui::kDefaultColor);
}

}  // namespace
}  // namespace chat
