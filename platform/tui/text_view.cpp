#include "platform/tui/text_view.h"

#include <algorithm>

namespace tui {

namespace {

// While scrolled back the buffer may grow past its limit; past this many times the limit the
// oldest lines go anyway, so that memory stays bounded.
constexpr size_t kScrolledBackSlack = 10;

}  // namespace

void TextView::Append(StyledLine line, int width) {
    if (limit == 0) limit = 1;
    if (back > 0) back += WrapLine(line, width, indent).size();
    lines.push_back(std::move(line));
    const size_t keep = back > 0 ? limit * kScrolledBackSlack : limit;
    while (lines.size() > keep) lines.pop_front();
}

void TextView::Clear() {
    lines.clear();
    back = 0;
}

size_t TextView::TotalRows(int width) const {
    size_t total = 0;
    for (const StyledLine& line : lines) total += WrapLine(line, width, indent).size();
    return total;
}

std::vector<ViewRow> TextView::Visible(int width, int height) {
    std::vector<ViewRow> out;
    if (height <= 0 || lines.empty()) return out;
    const size_t h = static_cast<size_t>(height);
    if (back > 0) {
        const size_t total = TotalRows(width);
        back = std::min(back, total > h ? total - h : 0);
    }
    size_t skip = back;
    for (auto it = lines.rbegin(); it != lines.rend() && out.size() < h; ++it) {
        const std::vector<RowSpan> rows = WrapLine(*it, width, indent);
        for (auto r = rows.rbegin(); r != rows.rend() && out.size() < h; ++r) {
            if (skip > 0) {
                --skip;
                continue;
            }
            out.push_back(ViewRow{&*it, *r});
        }
    }
    std::reverse(out.begin(), out.end());
    return out;
}

void TextView::Scroll(long rows, int width, int height) {
    const size_t total = TotalRows(width);
    const size_t h = height > 0 ? static_cast<size_t>(height) : 1;
    const long max_back = total > h ? static_cast<long>(total - h) : 0;
    back = static_cast<size_t>(std::clamp(static_cast<long>(back) - rows, 0L, max_back));
}

bool TextView::HandleKey(const Key& key, int width, int height) {
    const long page = std::max(1, height - 1);
    if (key.Is(kKeyPageUp))
        Scroll(-page, width, height);
    else if (key.Is(kKeyPageDown))
        Scroll(page, width, height);
    else if (key.Is(kKeyHome, false, true))
        Scroll(-(1L << 40), width, height);
    else if (key.Is(kKeyEnd, false, true))
        back = 0;
    else if (key.Is(kKeyUp, false, true) || key.Is(kKeyPageUp, false, true))
        Scroll(-1, width, height);
    else if (key.Is(kKeyDown, false, true) || key.Is(kKeyPageDown, false, true))
        Scroll(1, width, height);
    else if (key.code == kKeyMouse && (key.button == kWheelUp || key.button == kWheelDown))
        Scroll(key.button == kWheelUp ? -3 : 3, width, height);
    else
        return false;
    return true;
}

MeterView LayoutMeter(uint32_t range, uint32_t position, const std::string& caption, int width) {
    if (range == 0) {
        range = 1;
        position = 0;
    }
    const uint64_t pos = std::min<uint64_t>(position, range);
    uint64_t percent = static_cast<uint64_t>(position) * 100 / range;
    if (percent > 99) percent = 100;
    MeterView v;
    v.text = caption.empty() ? std::to_string(percent) + "%" : caption;
    v.filled = width > 0 ? static_cast<int>(pos * static_cast<uint64_t>(width) / range) : 0;
    return v;
}

bool ClickTracker::Press(int x, int y, uint8_t button, uint64_t now_ms) {
    const bool dbl = button == last_button && x == last_x && y == last_y && last_ms != 0 &&
                     now_ms - last_ms <= interval_ms;
    if (dbl) {
        last_ms = 0;  // a third press starts a new pair
    } else {
        last_ms = now_ms == 0 ? 1 : now_ms;
        last_x = x;
        last_y = y;
        last_button = button;
    }
    return dbl;
}

}  // namespace tui
