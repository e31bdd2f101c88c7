#include "platform/tui/screen.h"

#include <curses.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <map>
#include <vector>

namespace tui {

namespace {

constexpr platform::UINT kRedrawMessage = platform::WM_USER + 1;
// One per queued key: keys are handled from the message loop, not inside the terminal's watch,
// so a key may open a modal dialog whose own loop reads the terminal again.
constexpr platform::UINT kKeyMessage = platform::WM_USER + 2;
// How long to wait for the rest of an escape sequence before taking Escape alone.
constexpr int kEscapeWaitMs = 25;
// Mouse events taken from behind one KEY_MOUSE at most (the library keeps fewer).
constexpr size_t kMaxMouseEvents = 16;

// Only the signal handler and the watch touch this descriptor.
volatile sig_atomic_t g_resize_fd = -1;

// Bytes through the pipe: what the signal handlers saw.
constexpr char kResizeByte = 1;
constexpr char kTerminateByte = 2;

void WriteSignalByte(char b) {
    const int fd = g_resize_fd;
    if (fd >= 0) {
        const int saved = errno;
        [[maybe_unused]] ssize_t n = ::write(fd, &b, 1);
        errno = saved;
    }
}

void OnWinch(int) {
    WriteSignalByte(kResizeByte);
}
void OnTerminate(int) {
    WriteSignalByte(kTerminateByte);
}

void Terminate() {
    Screen& s = GetScreen();
    if (s.on_terminate) {
        s.on_terminate();
    } else {
        platform::PostQuitMessage(0);
    }
}

std::map<int, short>& Pairs() {
    static std::map<int, short> pairs;
    return pairs;
}

short ColorOf(uint8_t c) {
    if (c == kDefaultColor) return -1;
    if (COLORS >= 16) return c & 15;
    return c & 7;
}

attr_t AttrOf(Style s, short& pair) {
    attr_t a = A_NORMAL;
    if (s.flags & kBold) a |= A_BOLD;
    if (s.flags & kUnderline) a |= A_UNDERLINE;
    if (s.flags & kReverse) a |= A_REVERSE;
    if (s.flags & kDim) a |= A_DIM;
#ifdef A_ITALIC
    if (s.flags & kItalic) a |= A_ITALIC;
#endif
    pair = 0;
    if (!has_colors() || (s.fg == kDefaultColor && s.bg == kDefaultColor)) return a;
    // Bright colours on an 8-colour terminal: bold stands in for the bright foreground.
    if (COLORS < 16 && s.fg != kDefaultColor && s.fg >= 8) a |= A_BOLD;
    const int key = (s.fg << 8) | s.bg;
    auto it = Pairs().find(key);
    if (it != Pairs().end()) {
        pair = it->second;
        return a;
    }
    const int next = static_cast<int>(Pairs().size()) + 1;
    if (next >= COLOR_PAIRS || next > 32767) return a;
    init_pair(static_cast<short>(next), ColorOf(s.fg), ColorOf(s.bg));
    Pairs()[key] = static_cast<short>(next);
    pair = static_cast<short>(next);
    return a;
}

void PutCell(int y, int x, char32_t ch, char32_t mark, Style s) {
    wchar_t w[3] = {static_cast<wchar_t>(ch), static_cast<wchar_t>(mark), 0};
    if (!mark) w[1] = 0;
    short pair = 0;
    const attr_t a = AttrOf(s, pair);
    cchar_t cc;
    if (setcchar(&cc, w, a, pair, nullptr) == OK) mvadd_wch(y, x, &cc);
}

void FillCells(int y, int x, int width, Style s) {
    for (int i = 0; i < width; ++i) PutCell(y, x + i, U' ', 0, s);
}

void TerminalSize(int& rows, int& cols) {
    winsize ws{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_row > 0 && ws.ws_col > 0) {
        rows = ws.ws_row;
        cols = ws.ws_col;
    }
}

void QueueKey(Key key) {
    Screen& s = GetScreen();
    if (s.key_target && key.code != kKeyResize && key.code != kKeyMouse) {
        const int bits =
            (key.shift ? kMsgShift : 0) | (key.alt ? kMsgAlt : 0) | (key.ctrl ? kMsgCtrl : 0);
        platform::PostMessage(s.key_target, key.IsChar() ? platform::WM_CHAR : platform::WM_KEYDOWN,
                              key.code, bits);
    }
    s.pending.push_back(std::move(key));
    platform::PostMessage(s.window, kKeyMessage);
}

void HandleResize() {
    Screen& s = GetScreen();
    int rows = s.rows, cols = s.cols;
    TerminalSize(rows, cols);
    resizeterm(rows, cols);
    s.rows = LINES;
    s.cols = COLS;
    if (s.on_resize) s.on_resize();
    clearok(stdscr, TRUE);
    s.full_frame = true;
    Redraw();
    QueueKey(MakeKey(kKeyResize));
}

Key MouseKey(const MEVENT& ev) {
    Key key = MakeKey(kKeyMouse);
    key.x = ev.x;
    key.y = ev.y;
    key.shift = ev.bstate & BUTTON_SHIFT;
    key.ctrl = ev.bstate & BUTTON_CTRL;
    key.alt = ev.bstate & BUTTON_ALT;
    if (ev.bstate & (BUTTON1_PRESSED | BUTTON1_CLICKED))
        key.button = kMouseLeft;
    else if (ev.bstate & (BUTTON2_PRESSED | BUTTON2_CLICKED))
        key.button = kMouseMiddle;
    else if (ev.bstate & (BUTTON3_PRESSED | BUTTON3_CLICKED))
        key.button = kMouseRight;
    else if (ev.bstate & BUTTON4_PRESSED)
        key.button = kWheelUp;
#ifdef BUTTON5_PRESSED
    else if (ev.bstate & BUTTON5_PRESSED)
        key.button = kWheelDown;
#endif
    else if (ev.bstate & BUTTON1_DOUBLE_CLICKED)
        key.button = kMouseLeft, key.double_click = true;
    else
        return MakeKey(kKeyNone);
    if (!key.double_click && key.button <= kMouseRight) {
        key.double_click =
            GetScreen().clicks.Press(key.x, key.y, key.button, platform::MonotonicMs());
    }
    return key;
}

// Mouse events read together (a busy program reads both presses of a double click at once)
// wait behind a single KEY_MOUSE, and getmouse hands them out newest first: every one is
// taken, and they are delivered in the order they happened.
void DeliverMouse() {
    std::vector<MEVENT> events;
    MEVENT ev{};
    while (events.size() < kMaxMouseEvents && getmouse(&ev) == OK) events.push_back(ev);
    for (auto it = events.rbegin(); it != events.rend(); ++it) {
        Key key = MouseKey(*it);
        if (key.code != kKeyNone) QueueKey(std::move(key));
    }
}

void Deliver(std::optional<Key> key) {
    if (!key || key->code == kKeyNone) return;
    if (key->code == kKeyMouse) {
        DeliverMouse();
        return;
    }
    if (key->code == kKeyResize) return;  // our own pipe reports resizes
    QueueKey(std::move(*key));
}

bool ReadOne(KeyDecoder& dec) {
    wint_t ch = 0;
    const int r = get_wch(&ch);
    if (r == ERR) return false;
    RawInput in;
    in.is_keycode = r == KEY_CODE_YES;
    in.value = static_cast<int32_t>(ch);
    const char* name = in.is_keycode ? keyname(static_cast<int>(ch)) : nullptr;
    if (name) in.name = name;
    Deliver(dec.Feed(in));
    return true;
}

void OnTerminalInput(int, short revents) {
    Screen& s = GetScreen();
    if (!s.active) return;
    if (revents & (POLLHUP | POLLERR | POLLNVAL)) {
        // The terminal went away: nothing more will be typed; let the program end.
        platform::UnwatchFd(STDIN_FILENO);
        Terminate();
        return;
    }
    while (ReadOne(s.decoder)) {
    }
    if (s.decoder.Pending()) {
        // Escape seen: give the rest of its sequence a moment to arrive.
        pollfd p{STDIN_FILENO, POLLIN, 0};
        if (::poll(&p, 1, kEscapeWaitMs) > 0) {
            while (ReadOne(s.decoder)) {
            }
        }
        if (s.decoder.Pending()) Deliver(s.decoder.Flush());
    }
}

void OnResizePipe(int fd, short) {
    char buf[64];
    bool resize = false, terminate = false;
    for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) {
        for (ssize_t i = 0; i < n; ++i) {
            resize = resize || buf[i] == kResizeByte;
            terminate = terminate || buf[i] == kTerminateByte;
        }
    }
    if (!GetScreen().active) return;
    if (resize) HandleResize();
    if (terminate) Terminate();
}

void PostFrame() {
    Screen& s = GetScreen();
    if (!s.redraw_posted) s.redraw_posted = platform::PostMessage(s.window, kRedrawMessage);
}

// Posts the waiting frame when it is due, else arms the frame timer for it (once: later
// requests of the same frame do not even read the clock).
void ScheduleFrame() {
    Screen& s = GetScreen();
    if (!s.active) return;
    const int wait = s.pacer.WaitMs(platform::MonotonicMs());
    if (wait < 0) return;
    if (wait == 0 || s.frame_fd < 0) {
        PostFrame();
    } else if (!s.frame_armed) {
        itimerspec when{};
        when.it_value.tv_sec = wait / 1000;
        when.it_value.tv_nsec = static_cast<long>(wait % 1000) * 1000000L;
        s.frame_armed = ::timerfd_settime(s.frame_fd, 0, &when, nullptr) == 0;
        if (!s.frame_armed) PostFrame();
    }
}

void OnFrameTimer(int fd, short) {
    uint64_t expirations = 0;
    [[maybe_unused]] ssize_t n = ::read(fd, &expirations, sizeof expirations);
    Screen& s = GetScreen();
    s.frame_armed = false;
    if (s.active && s.pacer.Pending()) PostFrame();
}

platform::LRESULT ScreenProc(platform::HWND, platform::UINT msg, platform::WPARAM,
                             platform::LPARAM) {
    Screen& s = GetScreen();
    if (msg == kRedrawMessage) {
        s.redraw_posted = false;
        if (s.pacer.Due(platform::MonotonicMs())) {
            Redraw();
        } else {
            ScheduleFrame();
        }
    } else if (msg == kKeyMessage && !s.pending.empty()) {
        Key key = std::move(s.pending.front());
        s.pending.pop_front();
        DispatchKey(key);
    }
    return 0;
}

void FillCodes(CursesCodes& c) {
    c.up = KEY_UP, c.down = KEY_DOWN, c.left = KEY_LEFT, c.right = KEY_RIGHT;
    c.home = KEY_HOME, c.end = KEY_END, c.ppage = KEY_PPAGE, c.npage = KEY_NPAGE;
    c.ic = KEY_IC, c.dc = KEY_DC, c.backspace = KEY_BACKSPACE, c.enter = KEY_ENTER;
    c.btab = KEY_BTAB, c.f0 = KEY_F0, c.sic = KEY_SIC, c.sleft = KEY_SLEFT;
    c.sright = KEY_SRIGHT, c.shome = KEY_SHOME, c.send = KEY_SEND, c.sdc = KEY_SDC;
    c.mouse = KEY_MOUSE, c.resize = KEY_RESIZE;
}

}  // namespace

Screen& GetScreen() {
    static Screen screen;
    return screen;
}

bool InitScreen() {
    Screen& s = GetScreen();
    if (s.active) return true;
    if (!::isatty(STDIN_FILENO) || !::isatty(STDOUT_FILENO)) return false;
    EnsureUtf8Locale();
    if (::pipe2(s.resize_pipe, O_NONBLOCK | O_CLOEXEC) != 0) return false;
    g_resize_fd = s.resize_pipe[1];
    // Our handler goes in before curses starts, so curses leaves SIGWINCH to us.
    struct sigaction sa {};
    sa.sa_handler = OnWinch;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGWINCH, &sa, nullptr);
    // A hang-up or a polite kill ends the program through its own exit path, so that the
    // terminal is restored (and the chat says goodbye) instead of being left raw.
    sa.sa_handler = OnTerminate;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    set_escdelay(kEscapeWaitMs);
    if (!initscr()) return false;
    s.active = true;
    raw();
    noecho();
    nonl();
    keypad(stdscr, TRUE);
    nodelay(stdscr, TRUE);
    meta(stdscr, TRUE);
    if (has_colors()) {
        start_color();
        use_default_colors();
    }
    mouseinterval(0);
    mousemask(BUTTON1_PRESSED | BUTTON2_PRESSED | BUTTON3_PRESSED | BUTTON4_PRESSED
#ifdef BUTTON5_PRESSED
                  | BUTTON5_PRESSED
#endif
                  | BUTTON_SHIFT | BUTTON_CTRL | BUTTON_ALT,
              nullptr);
    // Bracketed paste: pasted text arrives marked, so its line breaks are not Enter presses.
    std::fputs("\x1b[?2004h", stdout);
    std::fflush(stdout);
    FillCodes(s.decoder.codes);
    s.rows = LINES;
    s.cols = COLS;
    s.window = platform::CreateWindow(ScreenProc);
    platform::WatchFd(STDIN_FILENO, POLLIN, OnTerminalInput);
    platform::WatchFd(s.resize_pipe[0], POLLIN, OnResizePipe);
    // Without a frame timer every redraw is drawn at once, as if each were a key's.
    s.frame_fd = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (s.frame_fd >= 0) platform::WatchFd(s.frame_fd, POLLIN, OnFrameTimer);
    return true;
}

void EndScreen() {
    Screen& s = GetScreen();
    if (!s.active) return;
    s.active = false;
    platform::UnwatchFd(STDIN_FILENO);
    if (s.resize_pipe[0] >= 0) platform::UnwatchFd(s.resize_pipe[0]);
    std::fputs("\x1b[?2004l", stdout);
    std::fflush(stdout);
    endwin();
    signal(SIGWINCH, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    signal(SIGHUP, SIG_DFL);
    g_resize_fd = -1;
    for (int& fd : s.resize_pipe) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
    if (s.window) platform::DestroyWindow(s.window);
    s.window = 0;
    s.redraw_posted = false;
    if (s.frame_fd >= 0) {
        platform::UnwatchFd(s.frame_fd);
        ::close(s.frame_fd);
    }
    s.frame_fd = -1;
    s.frame_armed = false;
    s.pacer = FramePacer();
    s.full_frame = true;
    s.drawn_layers.clear();
    s.pending.clear();
    Pairs().clear();
}

void Redraw() {
    Screen& s = GetScreen();
    if (!s.active) return;
    const std::vector<Layer*> layers = s.layers;  // a draw may not change the stack
    // One layer that paints every cell may keep what the last frame left; anything else is
    // drawn on a blank screen (curses still sends the terminal only the cells that differ).
    const bool opaque = layers.size() == 1 && layers.front()->paints_all;
    s.full_frame = s.full_frame || !opaque || layers != s.drawn_layers;
    if (s.full_frame) erase();
    s.cursor_visible = false;
    for (Layer* layer : layers) {
        if (layer->draw) layer->draw();
    }
    s.full_frame = false;
    s.drawn_layers = layers;
    if (s.cursor_visible) {
        move(std::clamp(s.cursor_y, 0, std::max(0, s.rows - 1)),
             std::clamp(s.cursor_x, 0, std::max(0, s.cols - 1)));
    }
    curs_set(s.cursor_visible ? 1 : 0);
    wnoutrefresh(stdscr);
    doupdate();
    s.pacer.Drawn(platform::MonotonicMs());
}

void RequestRedraw() {
    Screen& s = GetScreen();
    if (!s.active) return;
    s.pacer.Change();
    if (!s.redraw_posted && !s.frame_armed) ScheduleFrame();
}

void RequestPromptRedraw() {
    Screen& s = GetScreen();
    if (!s.active) return;
    s.pacer.Change(true);
    ScheduleFrame();
}

void RepaintAll() {
    Screen& s = GetScreen();
    if (!s.active) return;
    clearok(stdscr, TRUE);
    s.full_frame = true;
    Redraw();
}

void PushLayer(Layer* layer) {
    GetScreen().layers.push_back(layer);
    RequestPromptRedraw();
}

void RemoveLayer(Layer* layer) {
    auto& layers = GetScreen().layers;
    std::erase(layers, layer);
    RequestPromptRedraw();
}

void DispatchKey(const Key& key) {
    Screen& s = GetScreen();
    const std::vector<Layer*> layers = s.layers;
    for (auto it = layers.rbegin(); it != layers.rend(); ++it) {
        // A layer removed by the one above it while handling this key is skipped.
        if (std::find(s.layers.begin(), s.layers.end(), *it) == s.layers.end()) continue;
        if ((*it)->on_key && (*it)->on_key(key)) break;
    }
    // Typing is never held back by the frame budget.
    RequestPromptRedraw();
}

void Beep() {
    if (GetScreen().active) beep();
}

void PutCells(int y, int x, int width, const StyledLine& line, size_t begin, size_t end,
              Style fill) {
    const Screen& s = GetScreen();
    if (y < 0 || y >= s.rows || width <= 0) return;
    width = std::min(width, s.cols - x);
    int col = 0;
    for (size_t i = begin; i < end && i < line.size() && col < width; ++i) {
        const Cell& c = line[i];
        const int w = CellWidth(c);
        if (col + w > width) break;
        if (w > 0) PutCell(y, x + col, c.ch, c.mark, c.style);
        col += w;
    }
    FillCells(y, x + col, width - col, fill);
}

void PutText(int y, int x, int width, std::string_view utf8, Style style) {
    const StyledLine line = MakeLine(utf8, style);
    PutCells(y, x, width, line, 0, line.size(), style);
}

void FillRect(const Rect& r, Style style) {
    for (int y = r.y; y < r.y + r.height; ++y) PutCells(y, r.x, r.width, {}, 0, 0, style);
}

void DrawFrame(const Rect& r, std::string_view title, Style style) {
    if (r.width < 2 || r.height < 2) return;
    FillRect(r, style);
    short pair = 0;
    const attr_t a = AttrOf(style, pair);
    attr_set(a, pair, nullptr);
    mvhline(r.y, r.x + 1, ACS_HLINE, r.width - 2);
    mvhline(r.y + r.height - 1, r.x + 1, ACS_HLINE, r.width - 2);
    mvvline(r.y + 1, r.x, ACS_VLINE, r.height - 2);
    mvvline(r.y + 1, r.x + r.width - 1, ACS_VLINE, r.height - 2);
    mvaddch(r.y, r.x, ACS_ULCORNER);
    mvaddch(r.y, r.x + r.width - 1, ACS_URCORNER);
    mvaddch(r.y + r.height - 1, r.x, ACS_LLCORNER);
    mvaddch(r.y + r.height - 1, r.x + r.width - 1, ACS_LRCORNER);
    attr_set(A_NORMAL, 0, nullptr);
    if (!title.empty() && r.width > 4) {
        const StyledLine t = MakeLine(" " + std::string(title) + " ", style);
        const int w = std::min(LineWidth(t), r.width - 2);
        PutCells(r.y, r.x + (r.width - w) / 2, w, t, 0, t.size(), style);
    }
}

void DrawTextView(TextView& view, const Rect& r, bool from_top) {
    const std::vector<ViewRow> rows = view.Visible(r.width, r.height);
    const int first = from_top ? r.y : r.y + r.height - static_cast<int>(rows.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        const ViewRow& row = rows[i];
        const int y = first + static_cast<int>(i);
        FillCells(y, r.x, row.span.indent, {});
        PutCells(y, r.x + row.span.indent, r.width - row.span.indent, *row.line, row.span.begin,
                 row.span.end);
    }
}

void DrawMeter(const Rect& r, uint32_t range, uint32_t position, const std::string& caption) {
    if (r.width <= 0) return;
    const MeterView m = LayoutMeter(range, position, caption, r.width);
    StyledLine line = MakeLine(std::string_view(m.text));
    const int w = LineWidth(line);
    const int start = std::max(0, (r.width - w) / 2);
    StyledLine bar(static_cast<size_t>(r.width));
    int col = 0;
    for (const Cell& c : line) {
        if (start + col + CellWidth(c) > r.width) break;
        bar[static_cast<size_t>(start + col)] = c;
        for (int k = 1; k < CellWidth(c); ++k) bar[static_cast<size_t>(start + col + k)].ch = 0;
        col += CellWidth(c);
    }
    StyledLine out;
    for (int i = 0; i < r.width; ++i) {
        Cell c = bar[static_cast<size_t>(i)];
        if (c.ch == 0) continue;  // the second half of a wide character
        if (i < m.filled) c.style.flags |= kReverse;
        out.push_back(c);
    }
    PutCells(r.y, r.x, r.width, out, 0, out.size());
}

}  // namespace tui
