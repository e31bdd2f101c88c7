// A text view with scroll-back: styled lines, wrapped to the view's width when drawn, scrolled
// by display rows. Pure logic; the screen draws the rows that Visible returns.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "platform/tui/keys.h"
#include "platform/tui/text.h"

namespace tui {

/// One display row: a span of a stored line.
struct ViewRow {
    const StyledLine* line = nullptr;
    RowSpan span;
};

/// Lines with a scroll-back limit; `back` counts display rows scrolled up from the newest.
struct TextView {
    /// Lines kept; the oldest go first. At least 1.
    size_t limit = 1000;
    /// Indent of continuation rows.
    int indent = 0;
    std::deque<StyledLine> lines;
    /// Display rows between the bottom of the view and the newest row (0: following new text).
    size_t back = 0;

    /// Appends a line. While scrolled back, the view stays on the rows being read, and the
    /// oldest lines are dropped only while following (so reading back never loses text).
    void Append(StyledLine line, int width);
    void Clear();
    /// The rows to show in a view of `width` x `height`, oldest first (fewer when the text is
    /// short). Clamps `back` to what exists.
    std::vector<ViewRow> Visible(int width, int height);
    /// PageUp/PageDown, Ctrl+Home/Ctrl+End (top, bottom), Ctrl+Up/Ctrl+Down (one row), wheel.
    bool HandleKey(const Key& key, int width, int height);
    /// Scrolls by rows (negative: towards older text); clamped.
    void Scroll(long rows, int width, int height);
    /// True while the newest row is shown.
    bool Following() const { return back == 0; }

private:
    size_t TotalRows(int width) const;
};

/// The meter's text and fill: "%d%%" of position/range (a range of 0 counts as 1 with position
/// 0; above 99 shows as 100), or the caption when one is set; `filled` is the bar's cells.
struct MeterView {
    std::string text;
    int filled = 0;
};
MeterView LayoutMeter(uint32_t range, uint32_t position, const std::string& caption, int width);

/// Turns single clicks into double clicks: a second press of the same button on the same cell
/// within `interval_ms` is a double click.
struct ClickTracker {
    uint64_t interval_ms = 500;
    uint64_t last_ms = 0;
    int last_x = -1, last_y = -1;
    uint8_t last_button = 0;
    /// Records a press; true when it completes a double click (a third press starts anew).
    bool Press(int x, int y, uint8_t button, uint64_t now_ms);
};

}  // namespace tui
