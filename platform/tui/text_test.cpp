#include "platform/tui/text.h"

#include <gtest/gtest.h>

namespace tui {
namespace {

class TextTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(EnsureUtf8Locale()); }
};

std::u32string Row(const StyledLine& line, const RowSpan& r) {
    std::u32string out(static_cast<size_t>(r.indent), U' ');
    for (size_t i = r.begin; i < r.end; ++i) out.push_back(line[i].ch);
    return out;
}

TEST_F(TextTest, DecodesUtf8OrFallsBackToWindows1252) {
    EXPECT_EQ(DecodeText("caf\xC3\xA9"), U"caf\u00E9");
    // One invalid byte makes the whole line Windows-1252.
    EXPECT_EQ(DecodeText("caf\xE9 \x80"), U"caf\u00E9 \u20AC");
    EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));          // overlong
    EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));      // surrogate
    EXPECT_FALSE(IsValidUtf8("\xF4\x90\x80\x80"));  // past U+10FFFF
    EXPECT_FALSE(IsValidUtf8("\xE2\x82"));          // cut short
    EXPECT_EQ(EncodeUtf8(U"\u00E9\u4E2D\U0001F600"), "\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80");
}

TEST_F(TextTest, ControlsNeverReachTheTerminalRaw) {
    // ESC, BEL, DEL and a C1 CSI from another user show as ^X pairs.
    const StyledLine line = MakeLine(std::u32string(U"a\x1b[2Jb\x07\x7f\u009B"));
    EXPECT_EQ(LineText(line), U"a^[[2Jb^G^?^[");
    for (const Cell& c : line) EXPECT_FALSE(IsControl(c.ch));
    EXPECT_TRUE(line[1].style.flags & kReverse);
    // Undefined Windows-1252 bytes decode to C1 codes, which are shown, never sent.
    for (const Cell& c : MakeLine(std::string_view("x\x81\x9D\xff"))) EXPECT_FALSE(IsControl(c.ch));
}

TEST_F(TextTest, WidthsCountDisplayColumns) {
    EXPECT_EQ(TextWidth(U"ab"), 2);
    EXPECT_EQ(TextWidth(U"\u4E2D\u6587"), 4);
    EXPECT_EQ(TextWidth(U"\U0001F600"), 2);
    // A combining accent rides on its base cell.
    const StyledLine line = MakeLine(std::u32string(U"e\u0301x"));
    ASSERT_EQ(line.size(), 2u);
    EXPECT_EQ(line[0].mark, U'\u0301');
    EXPECT_EQ(LineWidth(line), 2);
}

TEST_F(TextTest, WrapBreaksAfterABlankInTheLastQuarterOrHard) {
    const StyledLine hard = MakeLine(std::u32string(U"abcdefghijklmnop"));
    auto rows = WrapLine(hard, 10);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(Row(hard, rows[0]), U"abcdefghij");
    EXPECT_EQ(Row(hard, rows[1]), U"klmnop");

    const StyledLine soft = MakeLine(std::u32string(U"abcdefgh ijklmn"));
    rows = WrapLine(soft, 10);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(Row(soft, rows[0]), U"abcdefgh ");
    EXPECT_EQ(Row(soft, rows[1]), U"ijklmn");

    // A blank early in the row is not used: the row would be too short.
    const StyledLine early = MakeLine(std::u32string(U"ab cdefghijklmn"));
    EXPECT_EQ(Row(early, WrapLine(early, 10)[0]), U"ab cdefghi");

    // Continuation rows are indented, and the indent never eats the whole row.
    rows = WrapLine(hard, 10, 4);
    EXPECT_EQ(Row(hard, rows[1]), U"    klmnop");
    rows = WrapLine(hard, 4, 30);
    for (const RowSpan& r : rows) EXPECT_GT(r.end, r.begin);
}

TEST_F(TextTest, WideCharactersAreNeverSplit) {
    // 5 CJK characters of two columns into rows of 5 columns: two per row.
    const StyledLine line = MakeLine(std::u32string(U"\u4E00\u4E01\u4E02\u4E03\u4E04"));
    const auto rows = WrapLine(line, 5);
    ASSERT_EQ(rows.size(), 3u);
    for (const RowSpan& r : rows) {
        int w = 0;
        for (size_t i = r.begin; i < r.end; ++i) w += CellWidth(line[i]);
        EXPECT_LE(w, 5);
    }
    // A wide character still shows on a one-column screen rather than looping forever.
    EXPECT_EQ(WrapLine(line, 1).size(), 5u);
    EXPECT_EQ(WrapLine(StyledLine{}, 10).size(), 1u);
}

}  // namespace
}  // namespace tui
