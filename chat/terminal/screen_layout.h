// Where each part of the chat screen goes for a terminal size, what the window bar shows, and
// which terminal colour each colour class gets. Pure logic, so sizes down to 1x1 are testable.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "chat/core/frontend.h"

namespace chat {

/// Nick list pane: ten columns of names plus one column of border.
constexpr int kNickPaneWidth = 11;
/// Text columns the pane always leaves beside it; narrower screens hide the pane.
constexpr int kMinTextBesidePane = 20;

/// A rectangle of cells; height or width 0 when the part is hidden.
struct Area {
    int y = 0, x = 0, height = 0, width = 0;
    bool operator==(const Area&) const = default;
};

/// The parts of the screen, top to bottom: menu bar, title, text (with the nick pane at its
/// right), window bar, status bar, input line.
struct ChatLayout {
    Area menu, title, text, nicks, windows, status, input;
    bool operator==(const ChatLayout&) const = default;
};

/// Lays out a screen of rows x cols. The input line stays as long as there is a row; then the
/// text, the status bar, the window bar, the title and the menu bar in that order. The nick
/// pane shows for channel windows with room for it (at least 5 rows, and 20 text columns
/// beside it).
ChatLayout LayoutChatScreen(int rows, int cols, bool channel, int input_rows = 1);

/// One window in the window bar.
struct BarEntry {
    WindowId id = 0;
    std::string label;  // "2:#chat+" : number, name, activity mark ("+" new text, "*" highlight)
    bool active = false;
    int mark = 0;
    int x = 0;  // column in the bar
};
/// The window bar: every window numbered from 1 with its activity mark; when they do not all
/// fit, the run shown is the one that holds the active window, with "<" or ">" at a cut side.
std::vector<BarEntry> LayoutWindowBar(const std::vector<WindowSummary>& windows, WindowId active,
                                      int width);
/// The window after (+1) or before (-1) the active one, wrapping around; 0 when none.
WindowId NeighbourWindow(const std::vector<WindowSummary>& windows, WindowId active, int step);

/// The nearest of the 16 terminal colours to a colour table entry (0xRRGGBB). Colour class 0
/// keeps the terminal's own foreground; other classes avoid black, white and greys so that
/// they stay readable on dark and light terminals.
uint8_t TerminalColourForClass(int colour_class, uint32_t rgb);

}  // namespace chat
