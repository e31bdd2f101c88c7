#include "chat/terminal/terminal_frontend.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "chat/core/frame.h"
#include "chat/core/options.h"
#include "chat/terminal/command_table.h"
#include "chat/terminal/irc_format.h"
#include "chat/terminal/screen_layout.h"
#include "chat/terminal/setup_dialog.h"
#include "chat/terminal/terminal_dialogs.h"
#include "chat/terminal/window_menu.h"
#include "platform/event_loop.h"
#include "platform/tui/clipboard.h"
#include "platform/tui/screen.h"
#include "platform/tui/widgets.h"

namespace chat {

namespace {

// A typed line is at most this long; a pasted line longer than that goes in pieces.
constexpr size_t kInputLimit = 600;
// Past this many characters a single line gets a warning beep as it is typed.
constexpr size_t kInputWarn = 570;

struct TerminalState {
    tui::Layer layer;
    tui::MenuBar menu;
    TerminalHooks hooks;
    std::map<WindowId, tui::LineEditor> editors;
    std::map<WindowId, std::vector<std::string>> nicks;
    std::map<WindowId, size_t> nick_top;  // first nick shown in the pane
    // Nicknames selected in each channel's pane (without their marks, so that a nick keeps
    // its selection when it gains or loses operator status).
    std::map<WindowId, std::set<std::string>> selected;
    StatusInfo status;
    ChatLayout layout;
    // The open popup menu was opened on the nick list.
    bool popup_on_nicks = false;
    // What the last frame left on screen, so that a frame that is not a full one skips the
    // parts that did not change (a flood changes the text, seldom the pane or the status).
    struct Drawn {
        bool valid = false;
        bool menu_open = false;
        WindowId active = 0;
        ChatLayout layout;
        std::vector<DisplayLine> text;
        std::array<uint32_t, 6> colours{};                // the colour table the text was drawn in
        std::vector<std::pair<std::string, bool>> nicks;  // rows shown, and chosen or not
        std::string status;
    } drawn;
};

TerminalState& State() {
    static TerminalState state;
    return state;
}

const WindowSummary* Find(const std::vector<WindowSummary>& windows, WindowId id) {
    for (const WindowSummary& w : windows) {
        if (w.id == id) return &w;
    }
    return nullptr;
}

ChatLayout LayoutFor(int kind) {
    const tui::Screen& s = tui::GetScreen();
    // The separate line edit box option gives every window but the status window two rows.
    const int input_rows = Options().sleb && kind != kKindStatus ? 2 : 1;
    return LayoutChatScreen(s.rows, s.cols, kind == kKindChannel, input_rows);
}

int KindOf(WindowId id) {
    const std::vector<WindowSummary> windows = ListWindows();
    const WindowSummary* w = Find(windows, id);
    return w ? w->kind : kKindStatus;
}

tui::LineEditor& EditorFor(WindowId id) {
    auto [it, made] = State().editors.try_emplace(id);
    if (made) {
        it->second.limit = kInputLimit;
        it->second.multiline_paste = true;
        it->second.use_history = false;  // the window table keeps the history
    }
    return it->second;
}

// Tells the core the text size of every window (the pane makes channels narrower).
void ResizeAll() {
    for (const WindowSummary& w : ListWindows()) {
        const ChatLayout l = LayoutFor(w.kind);
        WindowResized(w.id, std::max(l.text.width, 1), std::max(l.text.height, 1));
    }
}

tui::Style ClassStyle(int colour) {
    tui::Style s;
    if (colour > 0 && colour <= 5) s.fg = TerminalColourForClass(colour, ColourTableEntry(colour));
    return s;
}

// The finger item of the Tools menu gives way to the finger entries (the item, or its cancel
// form, and recent addresses).
void ReplaceFingerItem(std::vector<tui::MenuItem>& bar, std::vector<tui::MenuItem> entries) {
    for (tui::MenuItem& menu : bar) {
        for (size_t i = 0; i < menu.items.size(); ++i) {
            if (menu.items[i].command != kCmdFinger || entries.empty()) continue;
            menu.items.erase(menu.items.begin() + static_cast<std::ptrdiff_t>(i));
            menu.items.insert(menu.items.begin() + static_cast<std::ptrdiff_t>(i),
                              std::make_move_iterator(entries.begin()),
                              std::make_move_iterator(entries.end()));
            return;
        }
    }
}

// The menu bar as it stands: the active window's own menu first, then the frame's menus.
std::vector<tui::MenuItem> MenuBarItems(const std::vector<WindowSummary>& windows,
                                        WindowId active) {
    WindowMenuFacts facts;
    const bool open = WindowMenuFactsOf(active, facts);
    std::vector<tui::MenuItem> items =
        ChatMenus(windows, active, open ? &facts : nullptr, State().status.state);
    if (State().hooks.finger_menu) ReplaceFingerItem(items, State().hooks.finger_menu());
    // The user's own menu is one more title on the bar.
    if (State().hooks.bar_popup) {
        if (std::optional<PopupChoice> bar = State().hooks.bar_popup()) {
            tui::MenuItem title;
            title.text = bar->title;
            title.items = std::move(bar->items);
            items.push_back(std::move(title));
        }
    }
    return items;
}

std::string BareNick(std::string_view row) {
    while (!row.empty() && std::string_view("@+~&%").find(row.front()) != std::string_view::npos)
        row.remove_prefix(1);
    return std::string(row);
}

bool IsSelected(WindowId id, const std::string& row) {
    const auto it = State().selected.find(id);
    return it != State().selected.end() && it->second.count(BareNick(row)) > 0;
}

// Selects one row of the active channel's pane, or with `toggle` adds or removes it.
void SelectNick(WindowId id, size_t row, bool toggle) {
    const std::vector<std::string>& nicks = State().nicks[id];
    if (row >= nicks.size()) return;
    std::set<std::string>& chosen = State().selected[id];
    const std::string nick = BareNick(nicks[row]);
    if (!toggle) {
        chosen = {nick};
    } else if (!chosen.erase(nick)) {
        chosen.insert(nick);
    }
    tui::RequestRedraw();
}

// Shift+Up/Down: the selection moves to the row above or below the first selected one.
void MoveNickSelection(WindowId id, int step) {
    const std::vector<std::string>& nicks = State().nicks[id];
    if (nicks.empty()) return;
    size_t at = nicks.size();
    for (size_t i = 0; i < nicks.size(); ++i) {
        if (IsSelected(id, nicks[i])) {
            at = i;
            break;
        }
    }
    size_t next = at == nicks.size() ? (step > 0 ? 0 : nicks.size() - 1)
                  : step > 0         ? std::min(at + 1, nicks.size() - 1)
                                     : (at > 0 ? at - 1 : 0);
    SelectNick(id, next, false);
    // Keep the selected row in view.
    const size_t rows = static_cast<size_t>(std::max(State().layout.nicks.height, 1));
    size_t& top = State().nick_top[id];
    if (next < top) top = next;
    if (next >= top + rows) top = next + 1 - rows;
}

std::vector<std::string> SelectedRows(WindowId id) {
    std::vector<std::string> rows;
    for (const std::string& row : State().nicks[id]) {
        if (IsSelected(id, row)) rows.push_back(row);
    }
    return rows;
}

void SwitchTo(WindowId id) {
    if (id == 0 || id == ActiveWindow()) return;
    SetActiveWindow(id);
    tui::RequestRedraw();
}

void EditKey(const tui::Key& key);

void RunCommand(int command) {
    TerminalState& st = State();
    const WindowId active = ActiveWindow();
    if (command >= kFirstPopupItem && command < kEndPopupItems) {
        if (st.hooks.popup_command) st.hooks.popup_command(active, command, st.popup_on_nicks);
        st.popup_on_nicks = false;
        tui::RequestRedraw();
        return;
    }
    if (RunWindowMenuCommand(active, command)) {
        tui::RequestRedraw();
        return;
    }
    switch (command) {
        case kCmdExit:
            RequestExit();
            return;
        case kCmdPageUp:
            ScrollWindow(active, ScrollBy::kPage, -1);
            break;
        case kCmdPageDown:
            ScrollWindow(active, ScrollBy::kPage, 1);
            break;
        case kCmdLineUp:
            ScrollWindow(active, ScrollBy::kLine, -1);
            break;
        case kCmdLineDown:
            ScrollWindow(active, ScrollBy::kLine, 1);
            break;
        case kCmdTop:
            ScrollWindow(active, ScrollBy::kTop, 0);
            break;
        case kCmdBottom:
            ScrollWindow(active, ScrollBy::kBottom, 0);
            break;
        case kCmdHistoryPrev:
            BrowseHistory(active, true);
            break;
        case kCmdHistoryNext:
            BrowseHistory(active, false);
            break;
        case kCmdPaste: {
            // The terminal pastes the desktop's clipboard by itself (bracketed paste); this
            // pastes what the program itself copied.
            tui::Key paste = tui::MakeKey(tui::kKeyPaste);
            paste.text = tui::DecodeText(tui::GetClipboard());
            if (paste.text.empty()) {
                tui::Beep();  // nothing was copied or pasted yet
            } else {
                EditKey(paste);
            }
            break;
        }
        case kCmdAbout:
            if (st.hooks.command) {
                st.hooks.command(command);
            } else {
                tui::ShowMessageBox("About vesk32", "vesk32 0.1\nInternet Relay Chat client",
                                    tui::MessageButtons::kOk);
            }
            break;
        default:
            if (command >= kCmdFirstWindow) {
                const std::vector<WindowSummary> windows = ListWindows();
                const size_t index = static_cast<size_t>(command - kCmdFirstWindow);
                if (index < windows.size()) SwitchTo(windows[index].id);
            } else if (st.hooks.command) {
                st.hooks.command(command);
            } else {
                platform::PostMessage(Frame().hwndFrame, platform::WM_COMMAND,
                                      static_cast<platform::WPARAM>(command), 0);
            }
            break;
    }
    tui::RequestRedraw();
}

// Pasted text: every line runs on its own, as if each had been typed and entered.
void EnterPasted(WindowId id, const std::u32string& text) {
    for (const std::string& line : PastedLines(text, kInputLimit)) EnterLine(id, line);
}

void EditKey(const tui::Key& key) {
    const WindowId active = ActiveWindow();
    // The desktop's clipboard cannot be read back from the terminal; what was pasted is the
    // best knowledge of it, so $cb and Shift+Insert see it too.
    if (key.code == tui::kKeyPaste && !key.text.empty())
        tui::RememberClipboard(tui::EncodeUtf8(key.text));
    tui::LineEditor& editor = EditorFor(active);
    switch (editor.HandleKey(key)) {
        case tui::EditResult::kEnter: {
            const std::u32string line = editor.Take();
            EnterLine(active, tui::EncodeUtf8(line));
            break;
        }
        case tui::EditResult::kPasteLines:
            EnterPasted(active, editor.Take());
            break;
        case tui::EditResult::kChanged:
            if (key.IsChar() && editor.text.size() > kInputWarn) tui::Beep();
            break;
        case tui::EditResult::kBeep:
            tui::Beep();
            break;
        default:
            break;
    }
}

// Opens the window's popup menu (or its nick list's) as one more menu below the bar; a menu
// that is off or empty beeps.
void OpenPopup(WindowId window, bool nick_list) {
    TerminalState& st = State();
    std::optional<PopupChoice> choice;
    if (st.hooks.window_popup) choice = st.hooks.window_popup(window, nick_list);
    if (!choice || choice->items.empty()) {
        tui::Beep();
        return;
    }
    st.menu.items = MenuBarItems(ListWindows(), window);
    tui::MenuItem title;
    title.text = choice->title.empty() ? (nick_list ? "Nicks" : "Popup") : choice->title;
    title.items = std::move(choice->items);
    st.menu.items.push_back(std::move(title));
    st.menu.state.bar = &st.menu.items;
    st.menu.state.Open(st.menu.items.size() - 1);
    st.popup_on_nicks = nick_list;
    tui::RequestRedraw();
}

bool MouseKey(const tui::Key& key) {
    TerminalState& st = State();
    const ChatLayout& l = st.layout;
    const WindowId active = ActiveWindow();
    auto inside = [&key](const Area& a) {
        return key.y >= a.y && key.y < a.y + a.height && key.x >= a.x && key.x < a.x + a.width;
    };
    const bool wheel = key.button == tui::kWheelUp || key.button == tui::kWheelDown;
    if (wheel && inside(l.text)) {
        ScrollWindow(active, ScrollBy::kLine, key.button == tui::kWheelUp ? -3 : 3);
        return true;
    }
    if (inside(l.nicks)) {
        const std::vector<std::string>& nicks = st.nicks[active];
        size_t& top = st.nick_top[active];
        if (wheel) {
            const size_t rows = static_cast<size_t>(l.nicks.height);
            const size_t max_top = nicks.size() > rows ? nicks.size() - rows : 0;
            top =
                key.button == tui::kWheelUp ? (top > 3 ? top - 3 : 0) : std::min(top + 3, max_top);
        } else if (key.button == tui::kMouseLeft) {
            const size_t row = top + static_cast<size_t>(key.y - l.nicks.y);
            if (row < nicks.size()) {
                SelectNick(active, row, key.ctrl && !key.double_click);
                if (key.double_click && st.hooks.nick_double_click)
                    st.hooks.nick_double_click(active, nicks[row]);
            }
        } else if (key.button == tui::kMouseRight) {
            // A right click on a row not yet chosen chooses it alone, then opens the menu.
            const size_t row = top + static_cast<size_t>(key.y - l.nicks.y);
            if (row < nicks.size() && !IsSelected(active, nicks[row]))
                SelectNick(active, row, false);
            OpenPopup(active, !SelectedRows(active).empty());
        }
        return true;
    }
    if (key.button == tui::kMouseRight && inside(l.text)) {
        OpenPopup(active, false);
        return true;
    }
    if (key.button == tui::kMouseLeft && key.double_click && inside(l.text)) {
        if (st.hooks.text_double_click) st.hooks.text_double_click(active);
        return true;
    }
    if (key.button == tui::kMouseLeft && inside(l.windows)) {
        const std::vector<BarEntry> bar = LayoutWindowBar(ListWindows(), active, l.windows.width);
        for (const BarEntry& e : bar) {
            const int w = tui::TextWidth(tui::DecodeText(e.label));
            if (e.id && key.x >= e.x && key.x < e.x + w) SwitchTo(e.id);
        }
    }
    return true;
}

bool OnKey(const tui::Key& key) {
    TerminalState& st = State();
    const WindowId active = ActiveWindow();
    if (key.code == tui::kKeyResize) {
        ResizeAll();
        return true;
    }
    if (!st.menu.state.IsOpen()) {
        // Shift+F10, the usual context-menu key: the nick list's menu when nicks are chosen
        // in a channel, else the window's.
        if (key.Is(tui::kKeyF1 + 9, false, false, true)) {
            OpenPopup(active, !SelectedRows(active).empty());
            return true;
        }
        st.menu.items = MenuBarItems(ListWindows(), active);
        if (key.code != tui::kKeyMouse) {
            if (const int command = CommandForKey(key)) {
                RunCommand(command);
                return true;
            }
        }
    }
    st.menu.row = st.layout.menu.height ? st.layout.menu.y : 0;
    if (tui::MenuBarKey(st.menu, key)) return true;
    if (key.code == tui::kKeyMouse) return MouseKey(key);

    const std::vector<WindowSummary> windows = ListWindows();
    if (key.alt && !key.ctrl && key.code >= U'0' && key.code <= U'9') {
        const size_t index = key.code == U'0' ? 9 : key.code - U'1';
        if (index < windows.size()) SwitchTo(windows[index].id);
        return true;
    }
    if (key.Is(tui::kKeyLeft, true) || key.Is(U'p', false, true)) {
        SwitchTo(NeighbourWindow(windows, active, -1));
        return true;
    }
    if (key.Is(tui::kKeyRight, true) || key.Is(U'n', false, true)) {
        SwitchTo(NeighbourWindow(windows, active, +1));
        return true;
    }
    const std::string alias = FunctionKeyAlias(key);
    if (!alias.empty()) {
        const bool ran = st.hooks.function_key && st.hooks.function_key(active, alias);
        if (!ran && key.Is(tui::kKeyF1)) {
            RunCommand(kCmdHelpContents);
        } else if (!ran) {
            tui::Beep();  // no alias for this key
        }
        return true;
    }
    if (key.Is(tui::kKeyUp, false, false, true) || key.Is(tui::kKeyDown, false, false, true)) {
        MoveNickSelection(active, key.code == tui::kKeyUp ? -1 : 1);
        return true;
    }
    if (key.Is(U'l', false, true)) {
        tui::RepaintAll();  // Ctrl+L: the terminal was spoiled by other output
        return true;
    }
    tui::LineEditor& editor = EditorFor(active);
    if (key.Is(tui::kKeyInsert, false, true)) {
        tui::SetClipboard(tui::EncodeUtf8(editor.text));
        return true;
    }
    if (editor.text.empty() && (key.Is(tui::kKeyHome) || key.Is(tui::kKeyEnd))) {
        RunCommand(key.code == tui::kKeyHome ? kCmdTop : kCmdBottom);
        return true;
    }
    if (key.Is(tui::kKeyUp) || key.Is(tui::kKeyDown)) {
        RunCommand(key.code == tui::kKeyUp ? kCmdHistoryPrev : kCmdHistoryNext);
        return true;
    }
    EditKey(key);
    return true;
}

bool SameLines(const std::vector<DisplayLine>& a, const std::vector<DisplayLine>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](const DisplayLine& x, const DisplayLine& y) {
                          return x.colour == y.colour && x.text == y.text;
                      });
}

// `full`: the area must be drawn even when its lines did not change.
void DrawText(WindowId active, const Area& a, bool full) {
    std::vector<DisplayLine>& drawn = State().drawn.text;
    if (a.height <= 0 || a.width <= 0) {
        drawn.clear();
        return;
    }
    std::vector<DisplayLine> lines = VisibleLines(active, a.height);
    std::array<uint32_t, 6> colours;
    for (size_t i = 0; i < colours.size(); ++i) colours[i] = ColourTableEntry(static_cast<int>(i));
    if (!full && colours == State().drawn.colours && SameLines(lines, drawn)) return;
    State().drawn.colours = colours;
    // The core wraps to the width it was last told; lines from before a resize may be wider,
    // so each is wrapped again here and the newest rows fill the area from the bottom.
    struct Row {
        tui::StyledLine line;
        tui::RowSpan span;
    };
    std::vector<Row> rows;
    for (const DisplayLine& d : lines) {
        tui::StyledLine line = IrcLine(d.text, ClassStyle(d.colour));
        for (const tui::RowSpan& span : tui::WrapLine(line, a.width)) rows.push_back({line, span});
    }
    const size_t shown = std::min(rows.size(), static_cast<size_t>(a.height));
    const int top = a.y + a.height - static_cast<int>(shown);
    // Rows above a short buffer are blanked: the screen may hold the last frame's text there.
    for (int y = a.y; y < top; ++y) tui::PutCells(y, a.x, a.width, {}, 0, 0);
    for (size_t i = 0; i < shown; ++i) {
        const Row& r = rows[rows.size() - shown + i];
        tui::PutCells(top + static_cast<int>(i), a.x, a.width, r.line, r.span.begin, r.span.end);
    }
    drawn = std::move(lines);
}

void DrawNicks(WindowId active, const Area& a, bool full) {
    std::vector<std::pair<std::string, bool>>& drawn = State().drawn.nicks;
    if (a.width <= 0 || a.height <= 0) {
        drawn.clear();
        return;
    }
    const std::vector<std::string>& nicks = State().nicks[active];
    size_t& top = State().nick_top[active];
    const size_t rows = static_cast<size_t>(a.height);
    top = std::min(top, nicks.size() > rows ? nicks.size() - rows : 0);  // the list may shrink
    std::vector<std::pair<std::string, bool>> shown;
    for (size_t i = top; i < nicks.size() && i < top + rows; ++i)
        shown.emplace_back(nicks[i], IsSelected(active, nicks[i]));
    if (!full && shown == drawn) return;
    for (int y = 0; y < a.height; ++y) {
        tui::PutText(a.y + y, a.x, 1, "|", tui::Style{});
        const size_t i = static_cast<size_t>(y);
        const bool chosen = i < shown.size() && shown[i].second;
        const tui::Style style = chosen ? tui::GetTheme().highlight : tui::Style{};
        const tui::StyledLine nick =
            IrcLine(i < shown.size() ? shown[i].first : std::string(), style);
        tui::PutCells(a.y + y, a.x + 1, a.width - 1, nick, 0, nick.size(), style);
    }
    drawn = std::move(shown);
}

void DrawWindowBar(WindowId active, const Area& a, const std::vector<WindowSummary>& windows) {
    if (a.height <= 0) return;
    const tui::Theme& t = tui::GetTheme();
    tui::FillRect({a.y, a.x, 1, a.width}, t.bar);
    for (const BarEntry& e : LayoutWindowBar(windows, active, a.width)) {
        tui::Style s = t.bar;
        if (e.active) s.flags &= static_cast<uint8_t>(~tui::kReverse);
        if (e.mark >= 2)
            s.flags |= tui::kBold | tui::kUnderline;
        else if (e.mark == 1)
            s.flags |= tui::kBold;
        const int w = tui::TextWidth(tui::DecodeText(e.label));
        if (e.x < a.width) tui::PutText(a.y, a.x + e.x, std::min(w, a.width - e.x), e.label, s);
    }
    const ScrollInfo si = GetScrollInfo(active);
    if (si.position < si.top && a.width > 10) {
        tui::PutText(a.y, a.x + a.width - 8, 8, " -MORE- ", t.highlight);
    }
}

std::string StatusText(const StatusInfo& st) {
    std::string text = st.status_text.empty() ? "Status" : st.status_text;
    if (st.state == LinkState::kConnecting) {
        text += "  (connecting to " + (st.server.empty() ? std::string("server") : st.server) + ")";
    }
    if (st.state == LinkState::kConnected && st.lag_ms >= 0) {
        char lag[32];
        std::snprintf(lag, sizeof lag, "  lag %.1fs", static_cast<double>(st.lag_ms) / 1000.0);
        text += lag;
    }
    return text;
}

void Draw() {
    TerminalState& st = State();
    const tui::Screen& s = tui::GetScreen();
    const WindowId active = ActiveWindow();
    const std::vector<WindowSummary> windows = ListWindows();
    const WindowSummary* current = Find(windows, active);
    st.layout = LayoutFor(current ? current->kind : kKindStatus);
    const ChatLayout& l = st.layout;
    const tui::Theme& t = tui::GetTheme();
    // Parts may be skipped only on the very screen the last frame drew: same layout, same
    // window, and no menu open now or then (its popups lie over the parts).
    TerminalState::Drawn& drawn = st.drawn;
    const bool menu_open = st.menu.state.IsOpen();
    const bool full = s.full_frame || !drawn.valid || drawn.layout != l || drawn.active != active ||
                      menu_open || drawn.menu_open;
    if (full && !s.full_frame) tui::FillRect({0, 0, s.rows, s.cols}, {});
    drawn.valid = true;
    drawn.layout = l;
    drawn.active = active;
    drawn.menu_open = menu_open;
    if (!st.menu.state.IsOpen()) st.menu.items = MenuBarItems(windows, active);
    st.menu.row = l.menu.height ? l.menu.y : 0;
    if (l.menu.height) tui::DrawMenuBar(st.menu, s.cols);
    if (l.title.height) {
        const tui::StyledLine title =
            IrcLine(current ? current->title : std::string("vesk32"), t.bar);
        tui::PutCells(l.title.y, 0, s.cols, title, 0, title.size(), t.bar);
    }
    DrawText(active, l.text, full);
    DrawNicks(active, l.nicks, full);
    DrawWindowBar(active, l.windows, windows);
    if (l.status.height) {
        std::string status = StatusText(st.status);
        if (full || status != drawn.status) tui::PutText(l.status.y, 0, s.cols, status, t.bar);
        drawn.status = std::move(status);
    }
    if (l.input.height) {
        tui::DrawEditor(EditorFor(active), {l.input.y, l.input.x, l.input.height, l.input.width},
                        !st.menu.state.IsOpen());
    }
    if (st.menu.state.IsOpen() && !l.menu.height) tui::DrawMenuBar(st.menu, s.cols);
    tui::DrawMenuPopups(st.menu);
}

void RestoreTerminal() {
    tui::EndScreen();
}

}  // namespace

Frontend MakeTerminalFrontend() {
    Frontend f;
    f.print_line = [](WindowId, const std::string&, int, const std::string&) {
        tui::RequestRedraw();
    };
    f.open_window = [](WindowId id, const std::string&, int kind, bool) {
        EditorFor(id);
        if (tui::GetScreen().active) {
            const ChatLayout l = LayoutFor(kind);
            WindowResized(id, std::max(l.text.width, 1), std::max(l.text.height, 1));
        }
        tui::RequestRedraw();
    };
    f.close_window = [](WindowId id) {
        State().editors.erase(id);
        State().nicks.erase(id);
        State().nick_top.erase(id);
        State().selected.erase(id);
        if (State().menu.state.IsOpen()) State().menu.state.Close();  // its window list changed
        tui::RequestRedraw();
    };
    f.rename_window = [](WindowId, const std::string&, const std::string&) {
        tui::RequestRedraw();
    };
    f.window_list_changed = [] { tui::RequestRedraw(); };
    f.activate_window = [](WindowId) { tui::RequestRedraw(); };
    f.buffer_changed = [](WindowId) { tui::RequestRedraw(); };
    f.nicklist_changed = [](WindowId id, const std::vector<NickEntry>& nicks) {
        std::vector<std::string>& list = State().nicks[id];
        list.clear();
        for (const NickEntry& n : nicks) list.push_back(n.text);
        // A nick that left the channel is no longer selected (a big channel with nothing
        // chosen need not be looked through on every change).
        std::set<std::string>& chosen = State().selected[id];
        if (!chosen.empty()) {
            std::set<std::string> present;
            for (const std::string& row : list) present.insert(BareNick(row));
            for (auto it = chosen.begin(); it != chosen.end();)
                it = present.count(*it) ? std::next(it) : chosen.erase(it);
        }
        tui::RequestRedraw();
    };
    f.status_changed = [](const StatusInfo& status) {
        State().status = status;
        tui::RequestRedraw();
    };
    f.set_input = [](WindowId id, const std::string& text) {
        EditorFor(id).SetText(tui::DecodeText(text));
        tui::RequestRedraw();
    };
    f.beep = [] { tui::Beep(); };
    f.message_box = [](const std::string& title, const std::string& text) {
        tui::ShowMessageBox(title, text, tui::MessageButtons::kOk);
    };
    f.ask = [](const std::string& title, const std::string& text) {
        return tui::ShowMessageBox(title, text, tui::MessageButtons::kYesNo) == tui::kIdYes;
    };
    f.text_columns = [](WindowId id) { return std::max(LayoutFor(KindOf(id)).text.width, 1); };
    f.text_rows = [](WindowId id) { return std::max(LayoutFor(KindOf(id)).text.height, 1); };
    f.show_user_info = ShowUserInformation;
    f.prompt = Prompt;
    f.select_file = SelectFile;
    f.clipboard = [] { return tui::GetClipboard(); };
    f.selected_nicks = SelectedRows;
    f.show_help = ShowHelp;
    f.font_dialog = ShowFontDialog;
    return f;
}

int RunTerminalFrontend(const CommandLine& command_line, TerminalHooks hooks) {
    if (!tui::InitScreen()) return -1;
    std::atexit(RestoreTerminal);
    TerminalState& st = State();
    st.hooks = std::move(hooks);
    st.menu.on_command = RunCommand;
    st.layer.draw = Draw;
    st.layer.on_key = OnKey;
    st.layer.paints_all = true;
    tui::GetScreen().on_resize = ResizeAll;
    // A termination signal ends the program without questions nobody may be there to answer.
    tui::GetScreen().on_terminate = [] {
        Frame().exit_unasked = true;
        RequestExit();
    };
    InstallFrontend(MakeTerminalFrontend());
    InstallSettingsDialogs();
    tui::PushLayer(&st.layer);
    if (!StartChat(command_line)) {
        tui::RemoveLayer(&st.layer);
        tui::EndScreen();
        std::fputs("vesk32: unable to start\n", stderr);
        return 1;
    }
    ResizeAll();
    PopUpSetupAtStart();
    tui::Redraw();
    const int code = platform::RunMessageLoop();
    tui::RemoveLayer(&st.layer);
    tui::EndScreen();
    return code;
}

}  // namespace chat
