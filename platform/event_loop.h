// Window handles, message queue and loop, timers and file-descriptor watches: the
// single-threaded event core that both programs run on.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace platform {

/// A window handle: slot index in the low 16 bits, generation in the high 16 bits; 0 is none.
using HWND = uint32_t;
/// Message parameters, as wide as a pointer.
using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;
using UINT = uint32_t;

/// A window procedure: called for every message sent or dispatched to its window.
using WndProc = std::function<LRESULT(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam)>;

/// Message numbers shared by both programs (the Windows values).
constexpr UINT WM_NULL = 0x0000;
constexpr UINT WM_CREATE = 0x0001;
constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_QUIT = 0x0012;
constexpr UINT WM_KEYDOWN = 0x0100;
constexpr UINT WM_KEYUP = 0x0101;
constexpr UINT WM_CHAR = 0x0102;
constexpr UINT WM_SYSKEYDOWN = 0x0104;
constexpr UINT WM_COMMAND = 0x0111;
constexpr UINT WM_TIMER = 0x0113;
constexpr UINT WM_MOUSEMOVE = 0x0200;
constexpr UINT WM_LBUTTONDOWN = 0x0201;
constexpr UINT WM_LBUTTONUP = 0x0202;
constexpr UINT WM_LBUTTONDBLCLK = 0x0203;
constexpr UINT WM_USER = 0x0400;

/// A queued message as GetMessage and PeekMessage return it.
struct MSG {
    HWND hwnd = 0;
    UINT message = WM_NULL;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
};

/// Packs an event and an error into one parameter: event in the low word, error in the high.
constexpr LPARAM MAKELPARAM(uint16_t low, uint16_t high) {
    return static_cast<LPARAM>(static_cast<uint32_t>(low) | (static_cast<uint32_t>(high) << 16));
}
/// The low and high 16-bit words of a parameter.
constexpr uint16_t LOWORD(uintptr_t v) {
    return static_cast<uint16_t>(v & 0xFFFF);
}
constexpr uint16_t HIWORD(uintptr_t v) {
    return static_cast<uint16_t>((v >> 16) & 0xFFFF);
}

/// Creates a window with a procedure and an opaque data pointer; WM_CREATE is sent to it.
HWND CreateWindow(WndProc proc, void* data = nullptr);
/// Sends WM_DESTROY, kills the window's timers and frees its slot; later messages to it are
/// dropped.
bool DestroyWindow(HWND hwnd);
/// True while the handle names a live window (a reused slot has another generation).
bool IsWindow(HWND hwnd);
/// The data pointer given at creation, or null for a dead handle.
void* GetWindowData(HWND hwnd);
/// Replaces the data pointer of a live window.
void SetWindowData(HWND hwnd, void* data);

/// Calls the window's procedure now and returns its result (0 for a dead handle).
LRESULT SendMessage(HWND hwnd, UINT msg, WPARAM wparam = 0, LPARAM lparam = 0);
/// Queues a message for the loop; safe from any thread; wakes a blocked GetMessage.
bool PostMessage(HWND hwnd, UINT msg, WPARAM wparam = 0, LPARAM lparam = 0);
/// Queues WM_QUIT with the exit code; GetMessage then returns false.
void PostQuitMessage(int exit_code);
/// PostMessage whose message carries an owner's tag (never 0), so that the owner can withdraw
/// what it queued when the thing the messages speak of goes away (a closed socket).
bool PostTaggedMessage(uint64_t tag, HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
/// Drops every queued message posted with the tag.
void RemovePostedMessages(uint64_t tag);

/// Blocks in poll() until a message is available (posted, timer, or made by a watch callback);
/// returns false when the message is WM_QUIT.
bool GetMessage(MSG& msg);
/// Takes (remove) or looks at the next message without blocking; false when none is ready.
bool PeekMessage(MSG& msg, bool remove = true);
/// PeekMessage limited to one window (0: any) and a range of message numbers (0, 0: any), so
/// that a working engine can take, say, only key presses and leave the rest queued. WM_QUIT is
/// only taken when the range holds it.
bool PeekMessage(MSG& msg, HWND hwnd, UINT first, UINT last, bool remove = true);
/// Calls the procedure of msg.hwnd with the message (nothing for hwnd 0 or a dead window).
LRESULT DispatchMessage(const MSG& msg);
/// Dispatches everything that is ready now without blocking (for engines that work on the
/// loop's thread); returns false when WM_QUIT was seen (it stays queued for the main loop).
bool PumpMessages();
/// Runs GetMessage/DispatchMessage until WM_QUIT; returns the quit code.
int RunMessageLoop();

/// Starts or restarts a timer: WM_TIMER with wParam = id is generated every period while the
/// queue holds nothing older; a due timer is never queued twice. Returns id, 0 on failure.
UINT SetTimer(HWND hwnd, UINT id, uint32_t period_ms);
/// Stops a timer; a WM_TIMER of it already taken off the queue is the only one that can follow.
bool KillTimer(HWND hwnd, UINT id);

/// Events of a file-descriptor watch (poll flags).
using WatchCallback = std::function<void(int fd, short revents)>;
/// Watches fd for the poll events; the callback runs on the loop thread inside GetMessage,
/// PeekMessage or PumpMessages. A second watch on the same fd replaces the first.
bool WatchFd(int fd, short events, WatchCallback callback);
/// Changes the events of an existing watch; a watch with no events is not polled at all (poll
/// would still report POLLHUP and POLLERR for it).
bool ModifyWatch(int fd, short events);
/// Removes a watch; safe inside its own callback.
void UnwatchFd(int fd);

/// Owns a file descriptor and closes it once (-1 is none).
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { reset(); }
    /// The descriptor, still owned.
    int get() const { return fd_; }
    /// Gives up ownership without closing.
    int release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    /// Closes the owned descriptor (if any) and takes fd.
    void reset(int fd = -1);

private:
    int fd_ = -1;
};

/// Milliseconds of a monotonic clock (for time-outs and timers).
uint64_t MonotonicMs();

/// The loop's whole state; ResetEventLoop gives a test a fresh one (windows, queue, timers,
/// watches all gone).
struct EventLoop;
/// Discards all state and starts a new, empty loop.
void ResetEventLoop();

}  // namespace platform
