#include "chat/terminal/screen_layout.h"

#include <gtest/gtest.h>

#include "platform/tui/text.h"

namespace chat {
namespace {

int Rows(const ChatLayout& l) {
    return l.menu.height + l.title.height + l.text.height + l.windows.height + l.status.height +
           l.input.height;
}

TEST(ScreenLayoutTest, FullScreenHasEveryPartInOrder) {
    const ChatLayout l = LayoutChatScreen(24, 80, true);
    EXPECT_EQ(l.menu.y, 0);
    EXPECT_EQ(l.title.y, 1);
    EXPECT_EQ(l.text.y, 2);
    EXPECT_EQ(l.text.height, 19);
    EXPECT_EQ(l.input.y, 23);
    EXPECT_EQ(Rows(l), 24);
    // The nick pane: ten columns of names and one of border, beside the text.
    EXPECT_EQ(l.nicks.width, kNickPaneWidth);
    EXPECT_EQ(l.text.width + l.nicks.width, 80);
    EXPECT_EQ(l.nicks.height, l.text.height);
    EXPECT_EQ(LayoutChatScreen(24, 80, false).nicks.width, 0);
}

TEST(ScreenLayoutTest, SmallScreensDropPartsButNeverOverlapOrGoNegative) {
    for (int rows = 0; rows <= 30; ++rows) {
        for (int cols : {0, 1, 5, 30, 31, 32, 200}) {
            const ChatLayout l = LayoutChatScreen(rows, cols, true);
            SCOPED_TRACE(std::to_string(rows) + "x" + std::to_string(cols));
            EXPECT_LE(Rows(l), rows);
            for (const Area& a : {l.menu, l.title, l.text, l.nicks, l.windows, l.status, l.input}) {
                EXPECT_GE(a.height, 0);
                EXPECT_GE(a.width, 0);
                EXPECT_LE(a.y + a.height, rows);
                EXPECT_LE(a.x + a.width, cols);
            }
            if (rows >= 1 && cols > 0) {
                EXPECT_EQ(l.input.height, 1);
            }
            if (rows >= 2 && cols > 0) {
                EXPECT_GE(l.text.height, 1);
            }
            // The pane hides below 5 rows or 20 text columns beside it.
            if (rows < 5 || cols < kNickPaneWidth + kMinTextBesidePane) {
                EXPECT_EQ(l.nicks.width, 0);
            }
            if (l.nicks.width) {
                EXPECT_GE(l.text.width, kMinTextBesidePane);
            }
        }
    }
}

std::vector<WindowSummary> Windows(int n) {
    std::vector<WindowSummary> w;
    for (int i = 0; i < n; ++i) {
        WindowSummary s;
        s.id = static_cast<WindowId>(100 + i);
        s.name = i == 0 ? "Status Window" : "#chan" + std::to_string(i);
        w.push_back(s);
    }
    return w;
}

TEST(WindowBarTest, NumbersMarksAndTheActiveWindow) {
    auto w = Windows(3);
    w[1].mark = 1;
    w[2].mark = 2;
    const auto bar = LayoutWindowBar(w, 101, 80);
    ASSERT_EQ(bar.size(), 3u);
    EXPECT_EQ(bar[0].label, "1:Status Window");
    EXPECT_EQ(bar[1].label, "2:#chan1+");
    EXPECT_EQ(bar[2].label, "3:#chan2*");
    EXPECT_TRUE(bar[1].active);
    EXPECT_EQ(bar[1].x, 16);
}

TEST(WindowBarTest, ANarrowBarKeepsTheActiveWindowInView) {
    ASSERT_TRUE(tui::EnsureUtf8Locale());
    auto w = Windows(30);
    w[27].name = "#\u4E2D\u6587";
    for (WindowId active : {WindowId{100}, WindowId{115}, WindowId{127}, WindowId{129}}) {
        const auto bar = LayoutWindowBar(w, active, 30);
        bool seen = false;
        for (const BarEntry& e : bar) {
            seen = seen || e.active;
            if (e.id) {
                EXPECT_LE(e.x + tui::TextWidth(tui::DecodeText(e.label)), 30);
            }
        }
        EXPECT_TRUE(seen) << active;
    }
    EXPECT_EQ(LayoutWindowBar(w, 129, 30).front().label, "<");
    EXPECT_EQ(LayoutWindowBar(w, 100, 30).back().label, ">");
    EXPECT_TRUE(LayoutWindowBar(w, 100, 0).empty());
    EXPECT_FALSE(LayoutWindowBar(w, 100, 3).empty());  // a one-entry bar wider than the screen
}

TEST(WindowBarTest, NeighboursWrapAround) {
    const auto w = Windows(3);
    EXPECT_EQ(NeighbourWindow(w, 100, -1), 102u);
    EXPECT_EQ(NeighbourWindow(w, 102, +1), 100u);
    EXPECT_EQ(NeighbourWindow(w, 999, +1), 101u);  // unknown: from the first
    EXPECT_EQ(NeighbourWindow({}, 100, 1), 0u);
}

TEST(ColourTest, ClassesMapToReadableTerminalColours) {
    EXPECT_EQ(TerminalColourForClass(0, 0x000000), tui::kDefaultColor);
    EXPECT_EQ(TerminalColourForClass(1, 0x2D43A5), 12);  // own messages: blue
    EXPECT_EQ(TerminalColourForClass(2, 0x008F00), 2);   // joins: green
    EXPECT_EQ(TerminalColourForClass(3, 0xFF0000), 9);   // errors: bright red
    EXPECT_EQ(TerminalColourForClass(4, 0x874D4D), 1);   // highlights: red, never grey
    EXPECT_EQ(TerminalColourForClass(5, 0x9F009F), 5);   // CTCP: magenta
    EXPECT_NE(TerminalColourForClass(1, 0x000000), 0);   // a black class stays visible
    EXPECT_NE(TerminalColourForClass(1, 0xFFFFFF), 15);
}

}  // namespace
}  // namespace chat
