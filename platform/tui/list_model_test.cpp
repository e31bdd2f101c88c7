#include "platform/tui/list_model.h"

#include <gtest/gtest.h>

namespace tui {
namespace {

TEST(ListModelTest, CursorMovesAndScrollFollows) {
    ListModel l;
    l.SetCount(100);
    l.SetPage(10);
    EXPECT_EQ(l.HandleKey(MakeKey(kKeyUp)), ListResult::kNone);  // already at the top
    l.HandleKey(MakeKey(kKeyPageDown));
    EXPECT_EQ(l.cursor, 9u);
    EXPECT_EQ(l.top, 0u);
    l.HandleKey(MakeKey(kKeyDown));
    EXPECT_EQ(l.top, 1u);
    l.HandleKey(MakeKey(kKeyEnd));
    EXPECT_EQ(l.cursor, 99u);
    EXPECT_EQ(l.top, 90u);
    // Shrinking the list keeps the cursor inside and no blank page at the bottom.
    l.SetCount(5);
    EXPECT_EQ(l.cursor, 4u);
    EXPECT_EQ(l.top, 0u);
    l.SetPage(1);  // a one-row list still pages
    EXPECT_EQ(l.HandleKey(MakeKey(kKeyPageUp)), ListResult::kChanged);
    EXPECT_EQ(l.cursor, 3u);
    l.SetCount(0);
    EXPECT_EQ(l.HandleKey(MakeKey(kKeyDown)), ListResult::kNone);
    EXPECT_TRUE(l.Selection().empty());
    EXPECT_EQ(l.Click(0, false, false, false), ListResult::kNone);
}

TEST(ListModelTest, SingleSelectionIsTheCursor) {
    ListModel l;
    l.SetCount(3);
    l.SetPage(3);
    l.Click(2, false, false, false);
    EXPECT_EQ(l.Selection(), std::vector<size_t>{2});
    EXPECT_EQ(l.Click(2, false, false, true), ListResult::kActivate);
    EXPECT_EQ(l.HandleKey(MakeKey(U' ')), ListResult::kUnhandled);
    EXPECT_EQ(l.HandleKey(MakeKey(kKeyEnter)), ListResult::kActivate);
}

TEST(ListModelTest, MultipleSelectionWithCtrlShiftAndSpace) {
    ListModel l;
    l.multiple = true;
    l.SetCount(10);
    l.SetPage(5);
    l.Click(1, false, false, false);
    l.Click(3, false, true, false);  // Shift: range from the anchor
    EXPECT_EQ(l.Selection(), (std::vector<size_t>{1, 2, 3}));
    l.Click(2, true, false, false);  // Ctrl: toggle one
    EXPECT_EQ(l.Selection(), (std::vector<size_t>{1, 3}));
    l.HandleKey(MakeKey(kKeyDown, false, false, true));  // Shift+Down from the new anchor
    EXPECT_EQ(l.Selection(), (std::vector<size_t>{2, 3}));
    l.HandleKey(MakeKey(kKeyEnd));
    l.HandleKey(MakeKey(U' '));
    EXPECT_EQ(l.Selection(), (std::vector<size_t>{2, 3, 9}));
    l.SelectAll(false);
    EXPECT_TRUE(l.Selection().empty());
    // A click below the last row does nothing; the wheel scrolls without moving the cursor.
    EXPECT_EQ(l.Click(4, false, false, false, kWheelUp), ListResult::kChanged);
    EXPECT_EQ(l.cursor, 9u);
}

TEST(ListModelTest, SortingKeepsCursorAndSelectionOnTheirRows) {
    std::vector<std::string> rows = {"c", "a", "d", "b"};
    ListModel l;
    l.multiple = true;
    l.SetCount(rows.size());
    l.SetPage(4);
    l.Click(0, false, false, false);  // "c"
    l.Click(2, true, false, false);   // and "d", cursor on "d"
    const auto order =
        SortedOrder(rows.size(), [&](size_t a, size_t b) { return rows[a] < rows[b]; });
    std::vector<std::string> sorted;
    for (size_t i : order) sorted.push_back(rows[i]);
    l.Reorder(order);
    EXPECT_EQ(sorted, (std::vector<std::string>{"a", "b", "c", "d"}));
    EXPECT_EQ(l.Selection(), (std::vector<size_t>{2, 3}));
    EXPECT_EQ(sorted[l.cursor], "d");
    l.Reorder({0, 0, 1, 2});  // not a permutation of 4 distinct rows: must not crash
    l.Reorder({7, 1, 2, 3});
}

TEST(ListModelTest, ColumnsStretchAndClip) {
    std::vector<ListColumn> cols = {
        {"Name", 0, false, true}, {"Size", 8, true, false}, {"Date", 10}};
    auto spans = LayoutColumns(cols, 40);
    EXPECT_EQ(spans[0].width, 20);
    EXPECT_EQ(spans[1].x, 21);
    EXPECT_EQ(spans[2].x + spans[2].width, 40);
    spans = LayoutColumns(cols, 12);  // too narrow: later columns are cut, never negative
    for (const ColumnSpan& s : spans) {
        EXPECT_GE(s.width, 0);
        EXPECT_LE(s.x + s.width, 12);
    }
}

}  // namespace
}  // namespace tui
