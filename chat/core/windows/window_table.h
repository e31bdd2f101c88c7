// The table of up to 50 chat windows: names, kinds, scroll-back buffers, input histories and
// log files, with opening, finding and closing windows.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "chat/core/frontend.h"
#include "chat/core/windows/line_list.h"

namespace chat {

/// Slots in the window table; opening one more fails with "Maximum number of windows open!".
constexpr int kMaxWindows = 50;
/// Entries kept in each input history.
constexpr size_t kHistorySize = 30;
/// Characters of a window name taken from the caller.
constexpr size_t kMaxWindowName = 90;

/// One wrapped display line of a scroll-back buffer.
struct BufferLine {
    int colour = 0;
    std::string text;
};

/// A logical line printed while no window is shown, kept with what its wrapping needs.
struct UnwrappedLine {
    int colour = 0;
    int limit = 0;   ///< columns of a display line
    int indent = 0;  ///< blanks in front of continuation lines
    bool indent_counts = false;
    int64_t cap = 0;   ///< scroll-back size when it was printed
    std::string text;  ///< display text
};

/// Closes a stdio file, then frees the stream buffer it was given (if any).
struct FileCloser {
    std::unique_ptr<char[]> buffer;
    void operator()(std::FILE* f) const {
        if (f) std::fclose(f);
    }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

/// One window's record; a slot is free while `window` is 0.
struct WindowRecord {
    WindowId window = 0;
    std::string name, topic, modes;
    std::deque<std::string> history;
    int history_mark = -1;  ///< entry shown while browsing, -1 none
    std::deque<BufferLine> buffer;
    /// Lines printed after `buffer` while the front end shows no window, wrapped into it
    /// when the buffer or the scroll position is read (see WrapPending).
    std::deque<UnwrappedLine> unwrapped;
    int64_t top = 0;            ///< lines that do not fit above the visible part
    int64_t position = 0;       ///< scroll position; == top shows the newest line
    int columns = 0, rows = 0;  ///< text area size from the front end, 0 unknown
    FilePtr log;                ///< open log file, null when not logging
    std::string log_path;
    int kind = kKindStatus;
    int icon_mark = 0;
    bool beep = false;
    int open_minimised = 0;
    bool minimised = false;
    bool closed_by_server = false;
    bool rejoin_pending = false;
    int list_width = 11;  ///< nick-list pane in columns: ten plus one
    LineList lines;       ///< the channels-list window's entries
    std::string font_name = "FixedSys";
    int font_size = -12;  ///< as a character height: minus the point size
    int font_weight = 0;  ///< 0 normal, 700 bold (the front end's attribute)
    int mode_request = 0;
};

/// What the window table holds beside its records.
struct WindowTableState {
    WindowId statwin = 0;
    WindowId CActive = 0;
    bool Active = true;    ///< the program is the active one (always true without a desktop)
    bool LWBlank = false;  ///< the last status line was a separator
    // Hints for the next Print, reset after it.
    int tab = 0;
    int mw = 100;
    int beep = 0;
    bool DoHL = false;
    /// Asked before a window closes; false keeps it open (with a beep), as for the channels
    /// list while a listing arrives.
    std::function<bool(const WindowRecord&)> may_close;
    /// Runs when a window is about to close (sends PART for a channel while connected).
    std::function<void(const WindowRecord&)> on_close;
    /// Handles messages addressed to a child window that the table itself does not know
    /// (DCC socket events).
    std::function<platform::LRESULT(WindowId, platform::UINT, platform::WPARAM, platform::LPARAM)>
        child_messages;
};

/// The process-wide window state.
struct WindowTable : WindowTableState {
    std::array<WindowRecord, kMaxWindows> ch;
};

/// The window table.
WindowTable& Windows();
/// Closes every window and clears the table (tests, shutdown).
void ResetWindows();

/// Opens a window in the first free slot; the first window made is the status window. Returns
/// 0 and reports in the status window when the name is empty or no slot is free.
WindowId MakeNewWindow(std::string_view name, bool minimised);
/// The slot of the open window with that name (case ignored), -1 when none or name empty.
int exists(std::string_view name);
/// The slot of a window handle, -1 when none.
int findhwnd(WindowId window);
/// The record of a handle, or null.
WindowRecord* RecordOf(WindowId window);
/// Closes a window; false (with a beep) for the status window.
bool closewindow(WindowId window);
/// Frees a slot's contents (log closed with its "Session Close" line).
void chinit(int slot);

/// Recomputes the scroll range; mode 1 shows the newest line, mode 0 keeps the position.
void SetupScroll(int slot, int mode);
/// Adds an entered line to the slot's history (a repeat moves to the end; at most 30).
void addtolbuf(int slot, std::string_view line);
/// History browsing: older / newer entry into the input line (beep at the ends).
void showprevbuf(int slot);
void shownextbuf(int slot);
/// A beep through the front end.
void Beep();
/// Kind of a window chosen by its name (the first window made is the status window).
int KindForName(std::string_view name);
/// True for a DCC chat window's name ("Chat " or "Serving " in front).
bool IsChatWindowName(std::string_view name);
/// The "Beeping" key of a window: "wmessage" for the "Message Window", else the last
/// blank-separated word of its name.
std::string BeepKey(std::string_view name);
/// A window's beep flag as stored ("on" under its key), else the beep-on-message option of
/// its kind.
bool getbeep(int slot);

}  // namespace chat
