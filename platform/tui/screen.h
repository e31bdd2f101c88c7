// The terminal screen: curses set-up and tear-down, input from the terminal through the event
// loop, resizing through a self-pipe, layers that draw and take keys, and redraws that are
// coalesced and paced: a flood of changes makes a few frames a second, a key makes one at once.
#pragma once

#include <deque>
#include <functional>
#include <vector>

#include "platform/event_loop.h"
#include "platform/tui/frame_pacer.h"
#include "platform/tui/keys.h"
#include "platform/tui/text.h"
#include "platform/tui/text_view.h"

namespace tui {

/// A rectangle of screen cells.
struct Rect {
    int y = 0, x = 0, height = 0, width = 0;
};

/// Something on screen: drawn bottom-up, asked for keys top-down. A modal layer takes every key.
struct Layer {
    std::function<void()> draw;
    /// Returns true when the key was used; false passes it to the layer below.
    std::function<bool(const Key&)> on_key;
    /// The draw paints every cell of the screen, so that (as the bottom layer) the screen is
    /// not blanked before each frame and the draw may leave unchanged parts alone when the
    /// frame is not a full one (Screen::full_frame).
    bool paints_all = false;
};

/// Modifier bits in the lParam of posted key messages.
enum KeyMessageBits : int { kMsgShift = 1, kMsgAlt = 2, kMsgCtrl = 4 };

/// The screen's process-wide state.
struct Screen {
    bool active = false;
    int rows = 24, cols = 80;
    /// Layers bottom to top (not owned; a layer removes itself before it dies).
    std::vector<Layer*> layers;
    /// When set, every key is also posted to this window as WM_KEYDOWN (or WM_CHAR for a
    /// character) as soon as it is read: wParam the Key code, lParam the KeyMessageBits. An
    /// engine pump that watches for "stop" sees them there; the layers get the key as well.
    platform::HWND key_target = 0;
    /// Called after a resize, before the redraw (the owner may re-layout).
    std::function<void()> on_resize;
    /// Called when the terminal hangs up or SIGTERM/SIGHUP arrives; empty: WM_QUIT is posted.
    std::function<void()> on_terminate;
    /// Set by draw code: where the terminal cursor goes, and whether it shows.
    int cursor_y = 0, cursor_x = 0;
    bool cursor_visible = false;
    /// True while a frame is drawn on a blank screen (the first, after a resize, a repaint, a
    /// change of layers, or with more than one layer): every part must be drawn. False: what
    /// the last frame drew is still on screen, and a part that did not change may be skipped.
    bool full_frame = true;

    KeyDecoder decoder;
    ClickTracker clicks;
    platform::HWND window = 0;  // receives the coalesced redraw message
    bool redraw_posted = false;
    FramePacer pacer;
    // A timer descriptor that wakes the loop when a waiting frame is due; the loop polls it
    // even while messages keep the queue busy, which would hold back a message-loop timer.
    int frame_fd = -1;
    bool frame_armed = false;
    std::vector<Layer*> drawn_layers;  // the layers of the last frame
    std::deque<Key> pending;           // keys read but not yet handed to the layers
    int resize_pipe[2] = {-1, -1};
};

/// The screen's state (one per process).
Screen& GetScreen();

/// Starts curses on the terminal (UTF-8 locale, raw keys, small Escape delay, mouse clicks,
/// bracketed paste) and watches the terminal and the resize pipe in the event loop. False when
/// standard input or output is not a terminal or curses cannot start.
bool InitScreen();
/// Restores the terminal; safe to call twice and from an exit path.
void EndScreen();
/// Draws every layer now.
void Redraw();
/// Asks for a redraw: several requests make one frame, and while requests keep coming frames
/// are spaced by the pacer's budget; the last request is drawn within one budget.
void RequestRedraw();
/// Asks for a redraw without waiting for the budget (what the user did shows at once).
void RequestPromptRedraw();
/// Blanks the terminal and draws everything again (a screen spoiled by other output).
void RepaintAll();
/// Adds a layer on top; RemoveLayer takes it out (wherever it is).
void PushLayer(Layer* layer);
void RemoveLayer(Layer* layer);
/// Hands a key to the layers, top first (used by the input code and by tests).
void DispatchKey(const Key& key);
/// Sounds the terminal bell.
void Beep();

// ---- Drawing on the whole screen (call only from a layer's draw) ----

/// Writes cells [begin, end) of a line at (y, x), clipped to `width` columns and padded with
/// blanks in `fill`; a wide character that would cross the edge is replaced by a blank.
void PutCells(int y, int x, int width, const StyledLine& line, size_t begin, size_t end,
              Style fill = {});
/// Writes UTF-8 text in a style, clipped and padded to `width`.
void PutText(int y, int x, int width, std::string_view utf8, Style style = {});
/// Fills a rectangle with blanks in a style.
void FillRect(const Rect& r, Style style);
/// A frame around r with a centred title.
void DrawFrame(const Rect& r, std::string_view title, Style style);
/// A text view in r (rows wrapped to its width). Text shorter than the view sits at its
/// bottom, as a log grows upwards, or at its top for a page that is read from the start.
void DrawTextView(TextView& view, const Rect& r, bool from_top = false);
/// A progress meter: the filled part in reverse video, the text centred over it.
void DrawMeter(const Rect& r, uint32_t range, uint32_t position, const std::string& caption);

}  // namespace tui
