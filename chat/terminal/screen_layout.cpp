#include "chat/terminal/screen_layout.h"

#include <algorithm>
#include <climits>

#include "platform/tui/text.h"

namespace chat {

ChatLayout LayoutChatScreen(int rows, int cols, bool channel, int input_rows) {
    ChatLayout l;
    rows = std::max(rows, 0);
    cols = std::max(cols, 0);
    input_rows = std::clamp(input_rows, 1, 2);
    int left = rows;
    auto take = [&left](int want) {
        const int got = std::min(want, left);
        left -= got;
        return got;
    };
    // The order in which parts get rows as the screen grows.
    const int input = take(input_rows);
    const int text_min = take(1);
    const int status = take(1);
    const int windows = take(1);
    const int title = take(1);
    const int menu = rows >= 12 ? take(1) : 0;
    const int text = text_min + left;

    int y = 0;
    l.menu = {y, 0, menu, cols};
    y += menu;
    l.title = {y, 0, title, cols};
    y += title;
    l.text = {y, 0, text, cols};
    y += text;
    l.windows = {y, 0, windows, cols};
    y += windows;
    l.status = {y, 0, status, cols};
    y += status;
    l.input = {y, 0, input, cols};
    if (channel && rows >= 5 && cols >= kNickPaneWidth + kMinTextBesidePane && text > 0) {
        l.text.width = cols - kNickPaneWidth;
        l.nicks = {l.text.y, l.text.width, text, kNickPaneWidth};
    }
    if (cols == 0) l = ChatLayout{};
    return l;
}

std::vector<BarEntry> LayoutWindowBar(const std::vector<WindowSummary>& windows, WindowId active,
                                      int width) {
    std::vector<BarEntry> all;
    for (size_t i = 0; i < windows.size(); ++i) {
        BarEntry e;
        e.id = windows[i].id;
        e.mark = windows[i].mark;
        e.active = windows[i].id == active;
        e.label = std::to_string(i + 1) + ":" + windows[i].name;
        if (e.mark == 1) e.label += "+";
        if (e.mark >= 2) e.label += "*";
        all.push_back(std::move(e));
    }
    if (all.empty() || width <= 0) return {};
    auto cols = [](const BarEntry& e) {
        return tui::TextWidth(tui::DecodeText(e.label)) + 1;  // one blank after each
    };
    size_t at = 0;
    for (size_t i = 0; i < all.size(); ++i) {
        if (all[i].active) at = i;
    }
    // Grow the run around the active window: to the left first, so that the windows after
    // it show as they are reached.
    size_t first = at, last = at;
    int used = cols(all[at]);
    const int room = width - 2;  // keep room for the "<" and ">" marks
    bool grew = true;
    while (grew) {
        grew = false;
        if (first > 0 && used + cols(all[first - 1]) <= room) {
            used += cols(all[--first]);
            grew = true;
        }
        if (last + 1 < all.size() && used + cols(all[last + 1]) <= room) {
            used += cols(all[++last]);
            grew = true;
        }
    }
    std::vector<BarEntry> out;
    int x = first > 0 ? 2 : 0;
    for (size_t i = first; i <= last; ++i) {
        all[i].x = x;
        x += cols(all[i]);
        out.push_back(all[i]);
    }
    if (first > 0) {
        BarEntry more;
        more.label = "<";
        out.insert(out.begin(), more);
    }
    if (last + 1 < all.size()) {
        BarEntry more;
        more.label = ">";
        more.x = std::max(0, width - 1);
        out.push_back(more);
    }
    return out;
}

WindowId NeighbourWindow(const std::vector<WindowSummary>& windows, WindowId active, int step) {
    if (windows.empty()) return 0;
    const long n = static_cast<long>(windows.size());
    long at = 0;
    for (long i = 0; i < n; ++i) {
        if (windows[static_cast<size_t>(i)].id == active) at = i;
    }
    const long next = ((at + step) % n + n) % n;
    return windows[static_cast<size_t>(next)].id;
}

uint8_t TerminalColourForClass(int colour_class, uint32_t rgb) {
    if (colour_class <= 0) return tui::kDefaultColor;
    // The usual xterm values of the 16 colours.
    static constexpr uint32_t kPalette[16] = {
        0x000000, 0xCD0000, 0x00CD00, 0xCDCD00, 0x0000EE, 0xCD00CD, 0x00CDCD, 0xE5E5E5,
        0x7F7F7F, 0xFF0000, 0x00FF00, 0xFFFF00, 0x5C5CFF, 0xFF00FF, 0x00FFFF, 0xFFFFFF,
    };
    static constexpr uint8_t kReadable[] = {1, 2, 3, 4, 5, 6, 9, 10, 11, 12, 13, 14};
    const int r = (rgb >> 16) & 0xFF, g = (rgb >> 8) & 0xFF, b = rgb & 0xFF;
    uint8_t best = 1;
    long best_d = LONG_MAX;
    for (uint8_t c : kReadable) {
        const int pr = (kPalette[c] >> 16) & 0xFF, pg = (kPalette[c] >> 8) & 0xFF,
                  pb = kPalette[c] & 0xFF;
        const long d = static_cast<long>(r - pr) * (r - pr) + static_cast<long>(g - pg) * (g - pg) +
                       static_cast<long>(b - pb) * (b - pb);
        if (d < best_d) {
            best_d = d;
            best = c;
        }
    }
    return best;
}

}  // namespace chat
