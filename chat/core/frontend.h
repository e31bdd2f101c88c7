// The one interface between the chat core and whatever shows it: the full-screen terminal
// interface and the headless line interface both fill a Frontend, and both hand typed lines and
// window choices back through the functions declared at the end of this file.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/event_loop.h"

namespace chat {

/// A chat window: slot plus generation (a platform window handle); 0 is none.
using WindowId = platform::HWND;

/// Window kinds, as the window table stores them.
enum WindowKind : int {
    kKindStatus = 0,
    kKindChannel = 1,
    kKindQuery = 2,  ///< queries, the message window and DCC chats
    kKindTransfer = 3,
    kKindChannelList = 4,
    kKindFinger = 5,
    kKindUrlList = 6,
    kKindNotifyList = 7,
    kKindLinksList = 8,
};

/// State of the server connection, as the status line shows it.
enum class LinkState { kIdle, kConnecting, kConnected };

/// Everything the status line and the frame title show.
struct StatusInfo {
    LinkState state = LinkState::kIdle;
    std::string nick;         ///< nickname in use, empty when none
    std::string user_modes;   ///< e.g. "[+i]"
    std::string server;       ///< server host of the connection or attempt
    std::string online;       ///< "hh:mm" online time when the online timer runs, else empty
    int64_t lag_ms = -1;      ///< last measured lag, -1 when unknown
    std::string status_text;  ///< the finished status line ("Status: nick [+i] on host")
    std::string frame_title;  ///< "vesk32" plus the application title option
};

/// One entry of a channel's nick list as shown (marks included, e.g. "@op", "+voice").
struct NickEntry {
    std::string text;
};

/// Callbacks the core makes into the front end. Every member may be left empty. Texts are
/// UTF-8 for display, formatting and control codes already removed.
struct Frontend {
    /// A logical line (one Print, unwrapped) was added to a window's buffer; the buffer itself
    /// holds the wrapped display lines (see window_table.h).
    std::function<void(WindowId id, const std::string& name, int colour, const std::string& text)>
        print_line;
    /// A window was made (kind from WindowKind; minimised: opened as an icon).
    std::function<void(WindowId id, const std::string& name, int kind, bool minimised)> open_window;
    /// A window was closed; its id is dead from now on.
    std::function<void(WindowId id)> close_window;
    /// A window changed its name (a query following a nick change) or its title (topic, modes).
    std::function<void(WindowId id, const std::string& name, const std::string& title)>
        rename_window;
    /// The set, order, activity marks or the active window changed; read the window table.
    std::function<void()> window_list_changed;
    /// The core made another window the active one (a new window took the focus).
    std::function<void(WindowId id)> activate_window;
    /// The buffer or scroll position of a window changed in a way print_line did not cover
    /// (cleared, scrolled, trimmed): redraw it from the window table.
    std::function<void(WindowId id)> buffer_changed;
    /// A channel's nick list changed; the full list in display order.
    std::function<void(WindowId id, const std::vector<NickEntry>& nicks)> nicklist_changed;
    /// Status line or frame title changed.
    std::function<void(const StatusInfo& status)> status_changed;
    /// Replace a window's input line (history browsing, "/msg " preset); empty clears it.
    std::function<void(WindowId id, const std::string& text)> set_input;
    /// One beep (terminal bell or the configured player).
    std::function<void()> beep;
    /// A message box: the headless front end writes it to standard error.
    std::function<void(const std::string& title, const std::string& text)> message_box;
    /// A yes/no question; true for yes. Left empty, or where nobody can answer, the answer is
    /// no, so a question must always make "no" the harmless choice.
    std::function<bool(const std::string& title, const std::string& text)> ask;
    /// No window is ever shown (headless): the scroll-back is wrapped only when something
    /// reads it, so a flood costs no wrapping.
    bool windows_unseen = false;
    /// Text columns available in a window's text area; 0 when unknown (no wrapping by width).
    std::function<int(WindowId id)> text_columns;
    /// Rows visible in a window's text area; 0 when unknown.
    std::function<int(WindowId id)> text_rows;
    /// The user-information view of a who-is reply: the nick and labelled fields in order
    /// (the terminal shows a dialog; headless prints one line per field).
    std::function<void(const std::string& nick,
                       const std::vector<std::pair<std::string, std::string>>& fields)>
        show_user_info;
    /// The modal one-line prompt of the command language ($?): the entered text, or nothing
    /// for Cancel. Left empty, the prompt cannot be shown and the line is abandoned.
    std::function<std::optional<std::string>(const std::string& title)> prompt;
    /// A file dialog: kind "file", "hfile" or "dir" (a folder), the title, and the starting
    /// folder with a file pattern; the chosen path, or nothing for Cancel.
    std::function<std::optional<std::string>(const std::string& kind, const std::string& title,
                                             const std::string& pattern)>
        select_file;
    /// The front end's cut buffer: the text last copied or pasted; empty when none.
    std::function<std::string()> clipboard;
    /// The rows selected in a channel window's nick list, as shown (marks included).
    std::function<std::vector<std::string>(WindowId id)> selected_nicks;
    /// Shows a help file at the first topic whose key begins with `key` (empty: contents).
    std::function<void(const std::string& path, const std::string& key)> show_help;
    /// The font dialog of a window (the headless front end prints the window's font).
    std::function<void(WindowId id)> font_dialog;
};

/// The front end in use (empty members until one is installed).
Frontend& CurrentFrontend();
/// Installs a front end; the core calls it from then on.
void InstallFrontend(Frontend frontend);

// ---- Calls from a front end into the core ----

/// A line typed into a window's input line and entered: recorded in that window's history and
/// run like typed input. An unknown window means the active one.
void EnterLine(WindowId id, const std::string& line);
/// The user made a window the active one.
void SetActiveWindow(WindowId id);
/// The active window, 0 when none.
WindowId ActiveWindow();
/// The user asked to close a window (the status window refuses with a beep).
void RequestCloseWindow(WindowId id);
/// Scrolling: lines (+ down, - up), pages, or to the oldest / newest line.
enum class ScrollBy { kLine, kPage, kTop, kBottom };
void ScrollWindow(WindowId id, ScrollBy by, int amount);
/// Browses the window's input history: older (true) or newer; the entry arrives via set_input.
void BrowseHistory(WindowId id, bool older);
/// Tells the core a window's text area changed size (columns and rows of text).
void WindowResized(WindowId id, int columns, int rows);
/// Asks the program to end (the frame's close: QUIT is sent when connected).
void RequestExit();

// ---- Read-only views of the window table for drawing ----

/// One open window as the window bar shows it.
struct WindowSummary {
    WindowId id = 0;
    std::string name;
    std::string title;  ///< name, modes and topic of a channel; else the name
    int kind = kKindStatus;
    int mark = 0;  ///< activity: 0 nothing new, 1 new text, 2 highlighted text
};
/// Every open window in slot order (the status window first).
std::vector<WindowSummary> ListWindows();

/// One wrapped display line of a buffer.
struct DisplayLine {
    int colour = 0;  ///< colour class 0-5
    std::string text;
};
/// The display lines to draw in `rows` rows, oldest first, ending at the window's scroll
/// position (fewer when the buffer is shorter).
std::vector<DisplayLine> VisibleLines(WindowId id, int rows);
/// Scroll state: total lines, the highest position, the current position (== top: newest line
/// is shown).
struct ScrollInfo {
    int64_t count = 0;
    int64_t top = 0;
    int64_t position = 0;
};
ScrollInfo GetScrollInfo(WindowId id);
/// A colour of the colour table as 0xRRGGBB (index 0-5 text classes, 6 background).
uint32_t ColourTableEntry(int index);

}  // namespace chat
