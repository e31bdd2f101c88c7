#include "chat/core/windows/window_table.h"

#include <algorithm>

#include "chat/core/options.h"
#include "chat/core/process_wide.h"
#include "chat/core/windows/window_log.h"
#include "chat/core/windows/window_place.h"
#include "chat/core/windows/window_print.h"
#include "chat/core/windows/window_settings.h"
#include "platform/profile.h"

namespace chat {
namespace {

WindowTable& Storage() {
    return ProcessWide<WindowTable>();
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && EqualNoCase(s.substr(0, prefix.size()), prefix);
}

platform::LRESULT ChildProc(platform::HWND hwnd, platform::UINT msg, platform::WPARAM wp,
                            platform::LPARAM lp) {
    if (msg == platform::WM_CLOSE) {
        closewindow(hwnd);
        return 0;
    }
    if (msg >= platform::WM_USER && Windows().child_messages)
        return Windows().child_messages(hwnd, msg, wp, lp);
    return 0;
}

void NotifyList() {
    if (CurrentFrontend().window_list_changed) CurrentFrontend().window_list_changed();
}

}  // namespace

WindowTable& Windows() {
    return Storage();
}

void ResetWindows() {
    WindowTable& t = Storage();
    // Only the records in use are cleared: a record is read only while its window is open and
    // is made afresh when a window opens in it, and building all of them anew cost hundreds of
    // allocations for each reset.
    for (int i = 0; i < kMaxWindows; ++i) {
        WindowRecord& r = t.ch[i];
        if (r.window) platform::DestroyWindow(r.window);
        if (r.window || r.log) chinit(i);
    }
    static_cast<WindowTableState&>(t) = WindowTableState{};
}

bool IsChatWindowName(std::string_view name) {
    return StartsWithNoCase(name, "Chat ") || StartsWithNoCase(name, "Serving ");
}

std::string BeepKey(std::string_view name) {
    if (EqualNoCase(name, "Message Window")) return "wmessage";
    while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
    size_t blank = name.rfind(' ');
    return std::string(blank == std::string_view::npos ? name : name.substr(blank + 1));
}

bool getbeep(int slot) {
    const WindowRecord& r = Storage().ch[slot];
    const ChatOptions& o = Options();
    std::string key = BeepKey(r.name);
    if (!key.empty() &&
        EqualNoCase(platform::GetPrivateProfileString("Beeping", key, "off", 10, o.szINI), "on"))
        return true;
    if (r.kind == kKindChannel) return o.bom != 0;
    if (r.kind == kKindQuery && !StartsWithNoCase(r.name, "Serving ")) return o.boqm != 0;
    return false;
}

int KindForName(std::string_view name) {
    if (Storage().statwin == 0) return kKindStatus;
    if (EqualNoCase(name, "Channels List")) return kKindChannelList;
    if (EqualNoCase(name, "URL List")) return kKindUrlList;
    if (EqualNoCase(name, "Finger Window")) return kKindFinger;
    if (EqualNoCase(name, "Notify List")) return kKindNotifyList;
    if (EqualNoCase(name, "Links List")) return kKindLinksList;
    if (StartsWithNoCase(name, "Get ") || StartsWithNoCase(name, "Send ")) return kKindTransfer;
    if (name[0] == '#' || name[0] == '&') return kKindChannel;
    return kKindQuery;
}

WindowId MakeNewWindow(std::string_view name, bool minimised) {
    WindowTable& t = Storage();
    if (name.empty()) {
        Beep();
        Print(t.statwin, "*** Invalid window name!", 3);
        return 0;
    }
    int slot = -1;
    for (int i = 0; i < kMaxWindows; ++i) {
        if (t.ch[i].window == 0) {
            slot = i;
            break;
        }
    }
    if (slot < 0) {
        Beep();
        Print(t.statwin, "*** Maximum number of windows open!", 3);
        return 0;
    }
    WindowId id = platform::CreateWindow(ChildProc);
    if (id == 0) {
        Print(t.statwin, "*** ERROR: Unable to open window!", 3);
        return 0;
    }
    WindowRecord& r = t.ch[slot];
    r = WindowRecord{};
    r.window = id;
    r.name = std::string(name.substr(0, kMaxWindowName));
    r.kind = KindForName(r.name);
    if (r.kind == kKindStatus) t.statwin = id;
    r.beep = getbeep(slot);
    bool is_chat = IsChatWindowName(r.name);
    if (r.kind == kKindQuery && !is_chat && !EqualNoCase(r.name, "Message Window") && Options().iqw)
        minimised = true;
    r.minimised = minimised && t.CActive != 0;
    Frontend& fe = CurrentFrontend();
    if (fe.open_window) fe.open_window(id, r.name, r.kind, r.minimised);
    if (!r.minimised) {
        t.CActive = id;
        if (fe.activate_window) fe.activate_window(id);
    }
    if (EqualNoCase(r.name, "Message Window") && fe.set_input) fe.set_input(id, "/msg ");
    getfont(slot);
    AutoStartLog(slot);
    NotifyList();
    return id;
}

int exists(std::string_view name) {
    if (name.empty()) return -1;
    const WindowTable& t = Storage();
    for (int i = 0; i < kMaxWindows; ++i)
        if (t.ch[i].window && EqualNoCase(t.ch[i].name, name)) return i;
    return -1;
}

int findhwnd(WindowId window) {
    if (window == 0) return -1;
    const WindowTable& t = Storage();
    // Printing looks up the same window again and again.
    static thread_local int last = 0;
    if (t.ch[last].window == window) return last;
    for (int i = 0; i < kMaxWindows; ++i) {
        if (t.ch[i].window == window) {
            last = i;
            return i;
        }
    }
    return -1;
}

WindowRecord* RecordOf(WindowId window) {
    int slot = findhwnd(window);
    return slot < 0 ? nullptr : &Storage().ch[slot];
}

void chinit(int slot) {
    WindowRecord& r = Storage().ch[slot];
    if (r.log) closelog(r.log);
    r = WindowRecord{};
}

bool closewindow(WindowId window) {
    WindowTable& t = Storage();
    int slot = findhwnd(window);
    if (slot < 0) return false;
    if (window == t.statwin || (t.may_close && !t.may_close(t.ch[slot]))) {
        Beep();
        return false;
    }
    // Windows of a kind share one placement, kept for the next window of that kind.
    std::string place = ClosingPlaceKey(slot);
    if (!place.empty()) savepos(window, place);
    if (t.on_close) t.on_close(t.ch[slot]);
    bool was_active = t.CActive == window;
    chinit(slot);
    platform::DestroyWindow(window);
    Frontend& fe = CurrentFrontend();
    if (fe.close_window) fe.close_window(window);
    if (was_active) {
        // The next open window takes over, else the previous one.
        t.CActive = 0;
        for (int i = slot + 1; i < kMaxWindows && !t.CActive; ++i) t.CActive = t.ch[i].window;
        for (int i = slot - 1; i >= 0 && !t.CActive; --i) t.CActive = t.ch[i].window;
        if (t.CActive) {
            WindowRecord* next = RecordOf(t.CActive);
            next->icon_mark = 0;
            if (fe.activate_window) fe.activate_window(t.CActive);
        }
    }
    NotifyList();
    return true;
}

void SetupScroll(int slot, int mode) {
    WindowRecord& r = Storage().ch[slot];
    WrapPending(r);
    int64_t count = static_cast<int64_t>(r.buffer.size());
    r.top = std::max<int64_t>(0, count - std::max(r.rows, 0));
    if (mode == 1 || r.position > r.top) r.position = r.top;
    if (r.position < 0) r.position = 0;
}

void addtolbuf(int slot, std::string_view line) {
    WindowRecord& r = Storage().ch[slot];
    r.history_mark = -1;
    for (auto it = r.history.begin(); it != r.history.end(); ++it) {
        if (EqualNoCase(*it, line)) {
            std::string kept = std::move(*it);
            r.history.erase(it);
            r.history.push_back(std::move(kept));
            return;
        }
    }
    if (r.history.size() >= kHistorySize) r.history.pop_front();
    r.history.emplace_back(line);
}

void showprevbuf(int slot) {
    WindowRecord& r = Storage().ch[slot];
    if (r.history.empty()) return Beep();
    if (r.history_mark < 0) {
        r.history_mark = static_cast<int>(r.history.size()) - 1;
    } else if (r.history_mark == 0) {
        Beep();
    } else {
        --r.history_mark;
    }
    if (CurrentFrontend().set_input)
        CurrentFrontend().set_input(r.window, r.history[static_cast<size_t>(r.history_mark)]);
}

void shownextbuf(int slot) {
    WindowRecord& r = Storage().ch[slot];
    if (r.history_mark < 0) return Beep();
    ++r.history_mark;
    std::string text;
    if (static_cast<size_t>(r.history_mark) >= r.history.size()) {
        r.history_mark = -1;
    } else {
        text = r.history[static_cast<size_t>(r.history_mark)];
    }
    if (CurrentFrontend().set_input) CurrentFrontend().set_input(r.window, text);
}

void Beep() {
    if (CurrentFrontend().beep) CurrentFrontend().beep();
}

// ---- Front-end calls ----

void SetActiveWindow(WindowId id) {
    WindowRecord* r = RecordOf(id);
    if (!r) return;
    Storage().CActive = id;
    r->minimised = false;
    if (r->icon_mark) {
        r->icon_mark = 0;
        NotifyList();
    }
}

WindowId ActiveWindow() {
    return Storage().CActive;
}

void RequestCloseWindow(WindowId id) {
    closewindow(id);
}

void ScrollWindow(WindowId id, ScrollBy by, int amount) {
    int slot = findhwnd(id);
    if (slot < 0) return;
    WindowRecord& r = Storage().ch[slot];
    WrapPending(r);
    int64_t delta = 0;
    switch (by) {
        case ScrollBy::kLine:
            delta = amount;
            break;
        case ScrollBy::kPage:
            delta = static_cast<int64_t>(amount) * std::max(r.rows, 1);
            break;
        case ScrollBy::kTop:
            delta = -r.position;
            break;
        case ScrollBy::kBottom:
            delta = r.top - r.position;
            break;
    }
    r.position = std::clamp<int64_t>(r.position + delta, 0, r.top);
    if (CurrentFrontend().buffer_changed) CurrentFrontend().buffer_changed(id);
}

void BrowseHistory(WindowId id, bool older) {
    int slot = findhwnd(id);
    if (slot < 0) return;
    if (older) {
        showprevbuf(slot);
    } else {
        shownextbuf(slot);
    }
}

void WindowResized(WindowId id, int columns, int rows) {
    int slot = findhwnd(id);
    if (slot < 0) return;
    WindowRecord& r = Storage().ch[slot];
    WrapPending(r);
    bool newest = r.position >= r.top;
    r.columns = columns;
    r.rows = rows;
    SetupScroll(slot, newest ? 1 : 0);
}

std::vector<WindowSummary> ListWindows() {
    std::vector<WindowSummary> out;
    for (const WindowRecord& r : Storage().ch) {
        if (!r.window) continue;
        WindowSummary s;
        s.id = r.window;
        s.name = r.name;
        s.title = r.name;
        if (!r.modes.empty()) s.title += " " + r.modes;
        if (!r.topic.empty()) s.title += ": " + r.topic;
        s.kind = r.kind;
        s.mark = r.icon_mark;
        out.push_back(std::move(s));
    }
    return out;
}

std::vector<DisplayLine> VisibleLines(WindowId id, int rows) {
    std::vector<DisplayLine> out;
    WindowRecord* r = RecordOf(id);
    if (!r || rows <= 0) return out;
    WrapPending(*r);
    // The bottom row shows line count + position - top (1-based).
    int64_t bottom = static_cast<int64_t>(r->buffer.size()) + r->position - r->top;
    int64_t first = std::max<int64_t>(0, bottom - rows);
    for (int64_t i = first; i < bottom && i < static_cast<int64_t>(r->buffer.size()); ++i) {
        const BufferLine& l = r->buffer[static_cast<size_t>(i)];
        out.push_back(DisplayLine{l.colour, l.text});
    }
    return out;
}

ScrollInfo GetScrollInfo(WindowId id) {
    WindowRecord* r = RecordOf(id);
    if (!r) return {};
    WrapPending(*r);
    return ScrollInfo{static_cast<int64_t>(r->buffer.size()), r->top, r->position};
}

uint32_t ColourTableEntry(int index) {
    return ColourOf(index);
}

}  // namespace chat
