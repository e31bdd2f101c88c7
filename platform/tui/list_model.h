// A list view's logic: cursor, single or multiple selection, scrolling, columns and sorting.
// The rows themselves belong to the owner, which tells the model how many there are.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "platform/tui/keys.h"

namespace tui {

/// One column of a list view.
struct ListColumn {
    std::string title;
    int width = 10;  // columns; the last column takes what is left when `stretch` is set
    bool right_align = false;
    bool stretch = false;
};

/// What a key or click did to the list.
enum class ListResult {
    kUnhandled,
    kNone,
    kChanged,   // cursor, selection or scroll changed: redraw
    kActivate,  // Enter or a double click on the cursor row
};

/// Cursor, selection and scroll position of a list of `count` rows shown `page` rows at a time.
struct ListModel {
    bool multiple = false;
    size_t count = 0;
    /// Row under the cursor (0 when the list is empty).
    size_t cursor = 0;
    /// First row shown.
    size_t top = 0;
    /// Rows visible at once (at least 1).
    size_t page = 1;
    /// Selected rows (multiple selection); in single selection the cursor row is the selection.
    std::vector<bool> selected;
    /// Anchor of a Shift range.
    size_t anchor = 0;

    /// Sets the number of rows; the cursor, anchor and selection are kept within range.
    void SetCount(size_t n);
    /// Sets the visible rows and keeps the cursor visible.
    void SetPage(size_t rows);
    /// True when the row is selected (in single selection: the cursor row of a non-empty list).
    bool IsSelected(size_t row) const;
    /// The selected rows in order.
    std::vector<size_t> Selection() const;
    /// Moves the cursor to a row (clamped); `extend` selects the range from the anchor.
    void MoveTo(size_t row, bool extend = false);
    /// Selects or clears every row (multiple selection only).
    void SelectAll(bool on);
    /// Toggles one row (multiple selection only).
    void Toggle(size_t row);
    /// Keys: arrows, PageUp/PageDown, Home/End (Shift extends), Space and Ctrl+Space toggle,
    /// Enter activates.
    ListResult HandleKey(const Key& key);
    /// A click on visible row `row_on_screen`; Ctrl toggles, Shift extends, a double click
    /// selects its row and activates it. Wheel buttons scroll.
    ListResult Click(int row_on_screen, bool ctrl, bool shift, bool double_click, int button = 1);
    /// Scrolls by rows without moving the cursor (clamped).
    void ScrollBy(long rows);
    /// After the owner sorted its rows: `order[i]` is the old index of the row now at i.
    /// The cursor and the selection follow their rows.
    void Reorder(const std::vector<size_t>& order);

private:
    void EnsureVisible();
};

/// Sorts row indexes [0, n) with the owner's comparison (stable), for use with Reorder.
std::vector<size_t> SortedOrder(size_t n, const std::function<bool(size_t, size_t)>& less);

/// Column start offsets and widths for a total width: fixed columns keep their widths (cut at
/// the right edge), a stretching column takes the rest; one blank between columns.
struct ColumnSpan {
    int x = 0;
    int width = 0;
};
std::vector<ColumnSpan> LayoutColumns(const std::vector<ListColumn>& columns, int total_width);

}  // namespace tui
