#include "platform/tui/text_view.h"

#include <gtest/gtest.h>

namespace tui {
namespace {

std::u32string RowText(const ViewRow& r) {
    std::u32string out;
    for (size_t i = r.span.begin; i < r.span.end; ++i) out.push_back((*r.line)[i].ch);
    return out;
}

std::u32string Num(int i) {
    std::u32string s;
    for (char c : std::to_string(i)) s.push_back(static_cast<char32_t>(c));
    return U"line " + s;
}

TEST(TextViewTest, FollowsNewTextAndKeepsPlaceWhenScrolledBack) {
    TextView v;
    for (int i = 0; i < 20; ++i) v.Append(MakeLine(Num(i)), 40);
    auto rows = v.Visible(40, 5);
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(RowText(rows.back()), U"line 19");
    v.HandleKey(MakeKey(kKeyPageUp), 40, 5);
    rows = v.Visible(40, 5);
    EXPECT_EQ(RowText(rows.back()), U"line 15");
    // New text while reading back does not move what is shown.
    v.Append(MakeLine(std::u32string(U"new")), 40);
    EXPECT_EQ(RowText(v.Visible(40, 5).back()), U"line 15");
    v.HandleKey(MakeKey(kKeyEnd, false, true), 40, 5);
    EXPECT_EQ(RowText(v.Visible(40, 5).back()), U"new");
    v.HandleKey(MakeKey(kKeyHome, false, true), 40, 5);
    EXPECT_EQ(RowText(v.Visible(40, 5).front()), U"line 0");
    v.Scroll(-1000, 40, 5);  // clamped at the oldest
    EXPECT_EQ(RowText(v.Visible(40, 5).front()), U"line 0");
}

TEST(TextViewTest, TrimsOnlyWhileFollowingAndStaysBounded) {
    TextView v;
    v.limit = 10;
    for (int i = 0; i < 30; ++i) v.Append(MakeLine(Num(i)), 40);
    EXPECT_EQ(v.lines.size(), 10u);
    v.Scroll(-3, 40, 4);
    for (int i = 0; i < 50; ++i) v.Append(MakeLine(Num(i)), 40);
    EXPECT_EQ(v.lines.size(), 60u);  // reading back never loses the lines being read
    for (int i = 0; i < 500; ++i) v.Append(MakeLine(Num(i)), 40);
    EXPECT_LE(v.lines.size(), 100u);
    EXPECT_FALSE(v.Visible(40, 4).empty());
}

TEST(TextViewTest, WrapsToTheWidthWhenDrawn) {
    TextView v;
    v.Append(MakeLine(std::u32string(U"aaaa bbbb cccc")), 6);
    auto rows = v.Visible(6, 10);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(RowText(rows[0]), U"aaaa ");
    EXPECT_EQ(RowText(rows[2]), U"cccc");
    EXPECT_TRUE(v.Visible(6, 0).empty());
}

TEST(MeterTest, PercentAndFill) {
    EXPECT_EQ(LayoutMeter(100, 50, "", 10).text, "50%");
    EXPECT_EQ(LayoutMeter(100, 50, "", 10).filled, 5);
    EXPECT_EQ(LayoutMeter(0, 7, "", 10).text, "0%");
    EXPECT_EQ(LayoutMeter(10, 30, "", 10).text, "100%");
    EXPECT_EQ(LayoutMeter(10, 30, "", 10).filled, 10);  // never past the bar
    EXPECT_EQ(LayoutMeter(3, 1, "Reading", 10).text, "Reading");
    EXPECT_EQ(LayoutMeter(0xFFFFFFFF, 0xFFFFFFF0, "", 8).text, "99%");  // no overflow
}

TEST(ClickTrackerTest, SecondPressOnTheSameCellInTime) {
    ClickTracker t;
    EXPECT_FALSE(t.Press(3, 4, 1, 1000));
    EXPECT_TRUE(t.Press(3, 4, 1, 1200));
    EXPECT_FALSE(t.Press(3, 4, 1, 1300));  // a third press starts a new pair
    EXPECT_FALSE(t.Press(5, 4, 1, 1350));  // another cell
    EXPECT_FALSE(t.Press(5, 4, 1, 2000));  // too slow
    EXPECT_FALSE(t.Press(5, 4, 3, 2100));  // another button
}

}  // namespace
}  // namespace tui
