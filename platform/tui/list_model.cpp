#include "platform/tui/list_model.h"

#include <algorithm>
#include <numeric>

namespace tui {

void ListModel::SetCount(size_t n) {
    count = n;
    selected.resize(n, false);
    if (cursor >= n) cursor = n ? n - 1 : 0;
    if (anchor >= n) anchor = cursor;
    EnsureVisible();
}

void ListModel::SetPage(size_t rows) {
    page = rows ? rows : 1;
    EnsureVisible();
}

bool ListModel::IsSelected(size_t row) const {
    if (row >= count) return false;
    return multiple ? selected[row] : row == cursor;
}

std::vector<size_t> ListModel::Selection() const {
    std::vector<size_t> out;
    for (size_t i = 0; i < count; ++i) {
        if (IsSelected(i)) out.push_back(i);
    }
    return out;
}

void ListModel::EnsureVisible() {
    if (count == 0) {
        top = cursor = 0;
        return;
    }
    if (cursor < top) top = cursor;
    if (cursor >= top + page) top = cursor + 1 - page;
    // Do not leave blank rows at the bottom when the list could fill the page.
    if (top + page > count) top = count > page ? count - page : 0;
}

void ListModel::MoveTo(size_t row, bool extend) {
    if (count == 0) return;
    cursor = std::min(row, count - 1);
    if (multiple) {
        if (extend) {
            std::fill(selected.begin(), selected.end(), false);
            const size_t lo = std::min(anchor, cursor), hi = std::max(anchor, cursor);
            for (size_t i = lo; i <= hi; ++i) selected[i] = true;
        } else {
            anchor = cursor;
        }
    }
    EnsureVisible();
}

void ListModel::SelectAll(bool on) {
    if (multiple) std::fill(selected.begin(), selected.end(), on);
}

void ListModel::Toggle(size_t row) {
    if (multiple && row < count) selected[row] = !selected[row];
}

void ListModel::ScrollBy(long rows) {
    const long max_top = count > page ? static_cast<long>(count - page) : 0;
    top = static_cast<size_t>(std::clamp(static_cast<long>(top) + rows, 0L, max_top));
}

ListResult ListModel::HandleKey(const Key& key) {
    if (key.alt) return ListResult::kUnhandled;
    if (count == 0) {
        switch (key.code) {
            case kKeyUp:
            case kKeyDown:
            case kKeyPageUp:
            case kKeyPageDown:
            case kKeyHome:
            case kKeyEnd:
                return ListResult::kNone;
            default:
                return ListResult::kUnhandled;
        }
    }
    const size_t old_cursor = cursor, old_top = top;
    const std::vector<bool> old_sel = selected;
    const bool extend = key.shift;
    // A page keeps one row of context, but always moves.
    const size_t step = page > 1 ? page - 1 : 1;
    switch (key.code) {
        case kKeyUp:
            MoveTo(cursor > 0 ? cursor - 1 : 0, extend);
            break;
        case kKeyDown:
            MoveTo(cursor + 1, extend);
            break;
        case kKeyPageUp:
            MoveTo(cursor > step ? cursor - step : 0, extend);
            break;
        case kKeyPageDown:
            MoveTo(cursor + step, extend);
            break;
        case kKeyHome:
            MoveTo(0, extend);
            break;
        case kKeyEnd:
            MoveTo(count - 1, extend);
            break;
        case kKeyEnter:
            return ListResult::kActivate;
        case U' ':
            if (!multiple) return ListResult::kUnhandled;
            Toggle(cursor);
            anchor = cursor;
            break;
        default:
            return ListResult::kUnhandled;
    }
    return cursor != old_cursor || top != old_top || selected != old_sel ? ListResult::kChanged
                                                                         : ListResult::kNone;
}

ListResult ListModel::Click(int row_on_screen, bool ctrl, bool shift, bool double_click,
                            int button) {
    if (button == 4 || button == 5) {
        const size_t old = top;
        ScrollBy(button == 4 ? -3 : 3);
        return top != old ? ListResult::kChanged : ListResult::kNone;
    }
    if (row_on_screen < 0) return ListResult::kNone;
    const size_t row = top + static_cast<size_t>(row_on_screen);
    if (row >= count) return ListResult::kNone;
    if (double_click) {
        // A double click activates the row under it, even when its first click was not seen.
        if (row != cursor) Click(row_on_screen, false, false, false, button);
        return ListResult::kActivate;
    }
    if (multiple && ctrl) {
        cursor = row;
        anchor = row;
        Toggle(row);
    } else if (multiple && shift) {
        MoveTo(row, true);
    } else {
        if (multiple) {
            std::fill(selected.begin(), selected.end(), false);
            selected[row] = true;
        }
        MoveTo(row, false);
    }
    EnsureVisible();
    return ListResult::kChanged;
}

void ListModel::Reorder(const std::vector<size_t>& order) {
    if (order.size() != count) return;
    std::vector<bool> seen(count, false);
    for (size_t old : order) {
        if (old >= count || seen[old]) return;  // not a permutation of this list: leave it
        seen[old] = true;
    }
    std::vector<bool> sel(count, false);
    size_t new_cursor = cursor, new_anchor = anchor;
    for (size_t i = 0; i < count; ++i) {
        const size_t old = order[i];
        sel[i] = selected[old];
        if (old == cursor) new_cursor = i;
        if (old == anchor) new_anchor = i;
    }
    selected = std::move(sel);
    cursor = new_cursor;
    anchor = new_anchor;
    EnsureVisible();
}

std::vector<size_t> SortedOrder(size_t n, const std::function<bool(size_t, size_t)>& less) {
    std::vector<size_t> order(n);
    std::iota(order.begin(), order.end(), size_t{0});
    std::stable_sort(order.begin(), order.end(), less);
    return order;
}

std::vector<ColumnSpan> LayoutColumns(const std::vector<ListColumn>& columns, int total_width) {
    std::vector<ColumnSpan> spans;
    if (total_width < 0) total_width = 0;
    int fixed = 0;
    int stretchers = 0;
    for (const ListColumn& c : columns) {
        if (c.stretch)
            ++stretchers;
        else
            fixed += std::max(c.width, 0);
    }
    const int gaps = columns.empty() ? 0 : static_cast<int>(columns.size()) - 1;
    const int spare = std::max(0, total_width - fixed - gaps);
    int x = 0;
    for (const ListColumn& c : columns) {
        int w = c.stretch ? (stretchers ? spare / stretchers : 0) : std::max(c.width, 0);
        if (x >= total_width)
            w = 0;
        else
            w = std::min(w, total_width - x);
        spans.push_back(ColumnSpan{std::min(x, total_width), w});
        x += w + 1;
    }
    return spans;
}

}  // namespace tui
