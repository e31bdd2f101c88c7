#include "chat/core/windows/window_print.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <deque>
#include <string>

#include "chat/core/events.h"
#include "chat/core/options.h"
#include "chat/core/windows/display_text.h"
#include "chat/core/windows/window_log.h"
#include "chat/core/windows/window_table.h"

namespace chat {
namespace {

// While a window is scrolled back its buffer is not trimmed, so the lines being read stay;
// past this many times the scroll-back size the oldest go anyway, so that a flood into a
// window nobody scrolls forward cannot use up memory.
constexpr int64_t kScrolledBackFactor = 2;

void ResetHints(WindowTable& t) {
    t.tab = 0;
    t.mw = 100;
    t.beep = 0;
    t.DoHL = false;
}

int WrapLimit(const WindowTable& t, const WindowRecord& r, bool& indent_counts) {
    int columns = r.columns;
    if (columns <= 0 && CurrentFrontend().text_columns)
        columns = CurrentFrontend().text_columns(r.window);
    int measured = columns > 0 ? std::max(columns - 1, 20) : 0;
    indent_counts = false;
    if (t.mw > 0) {
        // A terminal narrower than the requested width still must not overflow.
        if (measured > 0 && measured < t.mw) {
            indent_counts = true;
            return measured;
        }
        return t.mw;
    }
    indent_counts = true;
    return measured > 0 ? measured : 100;
}

// After new lines: keep the newest line in view, or keep the position while scrolled back.
// Returns whether the window was scrolled back.
bool AfterAppend(int slot, bool was_newest) {
    SetupScroll(slot, was_newest ? 1 : 0);
    return !was_newest;
}

void MarkAndBeep(int slot, bool highlighted, bool scrolled_back) {
    WindowTable& t = Windows();
    WindowRecord& r = t.ch[slot];
    bool inactive = r.window != t.CActive;
    if ((r.minimised || inactive) && r.kind != kKindTransfer && r.icon_mark != 2) {
        int mark = highlighted ? 2 : 1;
        if (r.icon_mark != mark) {
            r.icon_mark = mark;
            if (CurrentFrontend().window_list_changed) CurrentFrontend().window_list_changed();
        }
    }
    int request = t.beep;
    if (scrolled_back) request = 2;
    if (request == 0 || r.open_minimised) return;
    bool scrolled_rule = request == 2 && Options().bmwb && !r.minimised;
    bool inactive_rule = (inactive || !t.Active) && r.beep;
    if (scrolled_rule || inactive_rule) Beep();
}

int64_t ScrollBackCap() {
    return Options().sbbs < 200 ? 200 : Options().sbbs;
}

void AppendDisplayLine(WindowRecord& r, int64_t cap, std::string_view piece, size_t indent,
                       int colour) {
    std::deque<BufferLine>& buffer = r.buffer;
    const bool newest = r.position >= r.top;
    int64_t count = static_cast<int64_t>(buffer.size());
    std::string text;
    if (newest && count >= cap) {
        // The line falling off the top lends its storage: a flood allocates nothing per line.
        text = std::move(buffer.front().text);
        buffer.pop_front();
        --count;
    }
    BufferLine& line = buffer.emplace_back();
    ++count;
    line.colour = colour;
    line.text = std::move(text);
    line.text.assign(indent, ' ');
    line.text.append(piece);
    if (newest) {
        for (; count > cap; --count) buffer.pop_front();
    } else {
        for (; count > cap * kScrolledBackFactor; --count) {
            buffer.pop_front();
            if (r.position > 0) --r.position;
        }
    }
}

// Keeps a line unwrapped while the front end shows no window. Each line makes at least one
// display line, so once `cap` lines wait, whatever came before them would be trimmed anyway.
void KeepUnwrapped(WindowRecord& r, int64_t cap, std::string_view shown, int limit, int indent,
                   bool indent_counts, int colour) {
    if (!r.unwrapped.empty() && r.unwrapped.front().cap != cap) WrapPending(r);
    std::string text;
    if (static_cast<int64_t>(r.unwrapped.size()) >= cap) {
        r.buffer.clear();
        text = std::move(r.unwrapped.front().text);
        r.unwrapped.pop_front();
    }
    UnwrappedLine& line = r.unwrapped.emplace_back();
    line.colour = colour;
    line.limit = limit;
    line.indent = indent;
    line.indent_counts = indent_counts;
    line.cap = cap;
    line.text = std::move(text);
    line.text.assign(shown);
}

}  // namespace

void WrapPending(WindowRecord& r) {
    if (r.unwrapped.empty()) return;
    for (const UnwrappedLine& line : r.unwrapped) {
        WrapEach(line.text, line.limit, line.indent, line.indent_counts,
                 [&r, &line](std::string_view piece, size_t indent) {
                     AppendDisplayLine(r, line.cap, piece, indent, line.colour);
                 });
    }
    r.unwrapped.clear();
    // Lines are kept unwrapped only while the newest line is in view.
    if (int slot = findhwnd(r.window); slot >= 0) SetupScroll(slot, 1);
}

uint32_t ColourOf(int index) {
    static const std::array<uint32_t, 20> table = {
        0x000000, 0x2D43A5, 0x008F00, 0xFF0000, 0x874D4D, 0x9F009F, 0xFFFFFF,
        0x2D43A5, 0x008F00, 0x008F00, 0x008F00, 0xC0C0C0, 0xFF0000, 0x00C000,
        0x000000, 0x000000, 0x000000, 0x000000, 0x000000, 0x000000};
    if (index < 0 || index >= static_cast<int>(table.size())) return 0;
    return table[static_cast<size_t>(index)];
}

bool MatchesHighlight(std::string_view text) {
    const std::string& words = Options().highlight;
    if (words.empty()) return false;
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    size_t pos = 0;
    int checked = 0;
    while (pos < words.size() && checked < 246) {
        size_t end = words.find_first_of(" ,", pos);
        if (end == std::string::npos) end = words.size();
        if (end > pos) {
            std::string word = words.substr(pos, end - pos);
            std::transform(word.begin(), word.end(), word.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
            if (lower.find(word) != std::string::npos) return true;
            ++checked;
        }
        pos = end + 1;
    }
    return false;
}

void MakeNewLine(int slot, std::string_view piece, size_t indent, int colour) {
    WindowRecord& r = Windows().ch[slot];
    WrapPending(r);
    AppendDisplayLine(r, ScrollBackCap(), piece, indent, colour);
}

void Print(WindowId window, std::string_view text, int colour) {
    WindowTable& t = Windows();
    int slot = findhwnd(window);
    if (text.empty() || slot < 0) return ResetHints(t);
    WindowRecord& r = t.ch[slot];

    bool highlighted = false;
    if (Options().highlight_on && t.DoHL && MatchesHighlight(text)) {
        colour = 4;
        highlighted = true;
        if (Options().bohw) Beep();
    }

    // The display text is made in storage kept from line to line; a Print from inside this
    // one (a log failure reported in the status window) uses storage of its own.
    static std::string scratch;
    static bool scratch_busy = false;
    std::string own;
    std::string& shown = scratch_busy ? own : scratch;
    bool took_scratch = !scratch_busy;
    scratch_busy = true;
    DisplayTextInto(text, shown);
    bool indent_counts = false;
    int limit = WrapLimit(t, r, indent_counts);
    Frontend& fe = CurrentFrontend();
    bool scrolled_back = false;
    if (fe.windows_unseen && r.position >= r.top) {
        if (!shown.empty())
            KeepUnwrapped(r, ScrollBackCap(), shown, limit, t.tab, indent_counts, colour);
        if (r.log) WriteLogLine(slot, text);
    } else {
        WrapPending(r);
        bool newest = r.position >= r.top;
        WrapEach(shown, limit, t.tab, indent_counts,
                 [&r, cap = ScrollBackCap(), colour](std::string_view piece, size_t indent) {
                     AppendDisplayLine(r, cap, piece, indent, colour);
                 });
        if (r.log) WriteLogLine(slot, text);
        scrolled_back = AfterAppend(slot, newest);
    }

    if (fe.print_line) fe.print_line(window, r.name, colour, shown);
    MarkAndBeep(slot, highlighted, scrolled_back);
    if (window == t.statwin) t.LWBlank = false;
    ResetHints(t);
    // The catcher may print (a failure) or change the windows: the storage it reads stays
    // taken meanwhile, so a Print from inside it makes its text elsewhere.
    if (Hooks().printed && r.kind != kKindUrlList) Hooks().printed(shown);
    if (took_scratch) scratch_busy = false;
}

void PrintSP(WindowId window, int colour) {
    WindowTable& t = Windows();
    int slot = findhwnd(window);
    const std::string& sep = Options().linesep;
    if (slot < 0 || sep.empty()) return;
    WindowRecord& r = t.ch[slot];
    WrapPending(r);
    bool newest = r.position >= r.top;
    std::string shown = DisplayText(sep);
    MakeNewLine(slot, shown, 0, colour);
    if (r.log) WriteLogLine(slot, sep);
    AfterAppend(slot, newest);
    if (CurrentFrontend().print_line) CurrentFrontend().print_line(window, r.name, colour, shown);
    if (window == t.statwin) t.LWBlank = true;
}

void Pp(WindowId window, std::string_view text, int colour) {
    WindowTable& t = Windows();
    if (window != t.statwin) return Print(window, text, colour);
    if (!t.LWBlank) PrintSP(window, colour);
    Print(window, text, colour);
    PrintSP(window, colour);
}

void StatusGap() {
    WindowTable& t = Windows();
    int slot = findhwnd(t.statwin);
    if (slot < 0 || t.LWBlank || (t.ch[slot].buffer.empty() && t.ch[slot].unwrapped.empty()))
        return;
    PrintSP(t.statwin, 1);
}

}  // namespace chat
