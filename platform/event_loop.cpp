// The event core: window table, posted-message queue, timers and descriptor watches, all run
// by one thread that sleeps in poll(). Other threads may only post.

#include "platform/event_loop.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <deque>
#include <map>
#include <mutex>
#include <vector>

namespace platform {

namespace {

// Shorter periods would only burn CPU; Windows keeps the same floor.
constexpr uint32_t kMinTimerPeriodMs = 10;
// Slot numbers fill the low 16 bits of a handle and slot 0 is never used.
constexpr size_t kSlotLimit = 0x10000;

HWND MakeHandle(size_t slot, uint16_t generation) {
    return static_cast<HWND>(slot) | (static_cast<HWND>(generation) << 16);
}

}  // namespace

struct EventLoop {
    struct Window {
        std::shared_ptr<WndProc> proc;  // shared so a procedure may destroy its own window
        void* data = nullptr;
        uint16_t generation = 0;
        bool alive = false;
        bool destroying = false;
    };
    struct Posted {
        MSG msg;
        uint64_t tag = 0;
    };
    struct Timer {
        HWND hwnd = 0;
        UINT id = 0;
        uint32_t period_ms = 0;
        uint64_t due_ms = 0;
    };
    struct Watch {
        short events = 0;
        std::shared_ptr<WatchCallback> callback;
        uint64_t serial = 0;
        bool running = false;  // its callback is on the stack: nested polls leave it alone
    };

    EventLoop() : wake(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

    // Changed only by the loop thread and under `mutex`, so the loop thread reads without it
    // while posting threads take it to check a handle.
    std::vector<Window> windows{1};
    std::vector<uint16_t> free_slots;
    uint16_t next_generation = 1;  // survives ResetEventLoop, so old handles stay dead

    // Loop thread only.
    std::vector<Timer> timers;
    std::map<int, Watch> watches;
    uint64_t next_watch_serial = 1;

    // Shared with posting threads.
    std::mutex mutex;
    std::deque<Posted> queue;
    bool quit_pending = false;
    int quit_code = 0;
    UniqueFd wake;  // eventfd: a post makes it readable so a blocked poll() returns
};

namespace {

EventLoop& Loop() {
    // Never destroyed: a waiting or look-up thread may still post while the program exits.
    static EventLoop* const loop = std::make_unique<EventLoop>().release();
    return *loop;
}

// The live window a handle names, or null; valid only until a procedure runs.
EventLoop::Window* FindWindow(EventLoop& loop, HWND hwnd) {
    size_t slot = LOWORD(hwnd);
    if (slot == 0 || slot >= loop.windows.size()) return nullptr;
    EventLoop::Window& w = loop.windows[slot];
    if (!w.alive || w.generation != HIWORD(hwnd)) return nullptr;
    return &w;
}

void Wake(EventLoop& loop) {
    uint64_t one = 1;
    // A full counter (EAGAIN) already means "readable"; nothing else can go wrong here.
    [[maybe_unused]] ssize_t n = write(loop.wake.get(), &one, sizeof one);
}

bool Enqueue(uint64_t tag, HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    EventLoop& loop = Loop();
    {
        std::lock_guard lock(loop.mutex);
        if (hwnd != 0 && FindWindow(loop, hwnd) == nullptr) return false;
        loop.queue.push_back({MSG{hwnd, msg, wparam, lparam}, tag});
    }
    Wake(loop);
    return true;
}

// Which messages a caller takes: any window (0) or one, any number (0, 0) or a range.
struct Filter {
    HWND hwnd = 0;
    UINT first = 0;
    UINT last = 0;

    bool Matches(HWND h, UINT message) const {
        return (hwnd == 0 || h == hwnd) &&
               ((first == 0 && last == 0) || (message >= first && message <= last));
    }
};

// The matching due timer that fires first, or timers.end().
std::vector<EventLoop::Timer>::iterator DueTimer(EventLoop& loop, uint64_t now,
                                                 const Filter& filter) {
    auto best = loop.timers.end();
    for (auto it = loop.timers.begin(); it != loop.timers.end(); ++it) {
        if (it->due_ms <= now && filter.Matches(it->hwnd, WM_TIMER) &&
            (best == loop.timers.end() || it->due_ms < best->due_ms)) {
            best = it;
        }
    }
    return best;
}

// Posted messages come first, then WM_QUIT, then timers (which are made when taken, so a due
// timer can never be waiting twice). With keep_quit a WM_QUIT is reported but left in place.
bool NextMessage(MSG& msg, bool remove, bool keep_quit, const Filter& filter = {}) {
    EventLoop& loop = Loop();
    {
        std::lock_guard lock(loop.mutex);
        auto it = std::find_if(loop.queue.begin(), loop.queue.end(), [&](const auto& p) {
            return filter.Matches(p.msg.hwnd, p.msg.message);
        });
        if (it != loop.queue.end()) {
            msg = it->msg;
            if (remove && !(keep_quit && msg.message == WM_QUIT)) loop.queue.erase(it);
            return true;
        }
        if (loop.quit_pending && filter.Matches(0, WM_QUIT)) {
            msg = MSG{0, WM_QUIT, static_cast<WPARAM>(loop.quit_code), 0};
            if (remove && !keep_quit) loop.quit_pending = false;
            return true;
        }
    }
    uint64_t now = MonotonicMs();
    auto timer = DueTimer(loop, now, filter);
    if (timer == loop.timers.end()) return false;
    msg = MSG{timer->hwnd, WM_TIMER, timer->id, 0};
    if (remove) {
        // Keep the rhythm of the period, but a loop that fell behind does not get a burst.
        timer->due_ms += timer->period_ms;
        if (timer->due_ms <= now) timer->due_ms = now + timer->period_ms;
    }
    return true;
}

int NextTimeout(EventLoop& loop) {
    if (loop.timers.empty()) return -1;
    uint64_t due = UINT64_MAX;
    for (const auto& t : loop.timers) due = std::min(due, t.due_ms);
    uint64_t now = MonotonicMs();
    if (due <= now) return 0;
    return static_cast<int>(std::min<uint64_t>(due - now, INT_MAX));
}

// One poll() over the wake descriptor and every watch, then the callbacks of those that fired.
void PollOnce(int timeout_ms) {
    EventLoop& loop = Loop();
    // With no descriptor watched, a look that must not wait has nothing to learn from poll:
    // posted messages are in the queue already, and the wake-up counter is drained by the
    // next wait. This spares a system call per look in long headless work.
    if (timeout_ms == 0 && loop.watches.empty()) return;
    std::vector<pollfd> fds;
    std::vector<uint64_t> serials;
    fds.push_back(pollfd{loop.wake.get(), POLLIN, 0});
    serials.push_back(0);
    for (const auto& [fd, watch] : loop.watches) {
        if (watch.events == 0 || watch.running) continue;
        fds.push_back(pollfd{fd, watch.events, 0});
        serials.push_back(watch.serial);
    }
    int ready = poll(fds.data(), fds.size(), timeout_ms);
    if (ready <= 0) return;  // time-out, or EINTR: the caller looks again
    if (fds[0].revents != 0) {
        uint64_t count = 0;
        [[maybe_unused]] ssize_t n = read(loop.wake.get(), &count, sizeof count);
    }
    for (size_t i = 1; i < fds.size(); ++i) {
        if (fds[i].revents == 0) continue;
        int fd = fds[i].fd;
        // An earlier callback may have removed or replaced this watch.
        auto it = loop.watches.find(fd);
        if (it == loop.watches.end() || it->second.serial != serials[i] || it->second.running) {
            continue;
        }
        std::shared_ptr<WatchCallback> callback = it->second.callback;
        it->second.running = true;
        (*callback)(fd, fds[i].revents);
        it = loop.watches.find(fd);
        if (it != loop.watches.end() && it->second.serial == serials[i]) {
            it->second.running = false;
            // A descriptor closed under its watch would be reported on every poll.
            if (fds[i].revents & POLLNVAL) UnwatchFd(fd);
        }
    }
}

}  // namespace

void UniqueFd::reset(int fd) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
}

HWND CreateWindow(WndProc proc, void* data) {
    if (!proc) return 0;
    EventLoop& loop = Loop();
    HWND hwnd = 0;
    {
        std::lock_guard lock(loop.mutex);
        size_t slot;
        if (!loop.free_slots.empty()) {
            slot = loop.free_slots.back();
            loop.free_slots.pop_back();
        } else if (loop.windows.size() < kSlotLimit) {
            slot = loop.windows.size();
            loop.windows.emplace_back();
        } else {
            return 0;
        }
        EventLoop::Window& w = loop.windows[slot];
        w.proc = std::make_shared<WndProc>(std::move(proc));
        w.data = data;
        w.generation = loop.next_generation++;
        w.alive = true;
        w.destroying = false;
        hwnd = MakeHandle(slot, w.generation);
    }
    // As on Windows, a procedure refuses its creation by answering WM_CREATE with -1.
    if (SendMessage(hwnd, WM_CREATE) == -1) {
        DestroyWindow(hwnd);
        return 0;
    }
    return IsWindow(hwnd) ? hwnd : 0;
}

bool DestroyWindow(HWND hwnd) {
    EventLoop& loop = Loop();
    EventLoop::Window* w = FindWindow(loop, hwnd);
    if (w == nullptr || w->destroying) return false;
    w->destroying = true;
    SendMessage(hwnd, WM_DESTROY);
    std::erase_if(loop.timers, [hwnd](const EventLoop::Timer& t) { return t.hwnd == hwnd; });
    // The procedure is let go after the lock: whatever it owns may post as it is destroyed.
    std::shared_ptr<WndProc> released;
    std::lock_guard lock(loop.mutex);
    std::erase_if(loop.queue, [hwnd](const EventLoop::Posted& p) { return p.msg.hwnd == hwnd; });
    w = FindWindow(loop, hwnd);  // the table may have grown during WM_DESTROY
    if (w == nullptr) return true;
    w->alive = false;
    w->destroying = false;
    released = std::move(w->proc);
    w->data = nullptr;
    loop.free_slots.push_back(LOWORD(hwnd));
    return true;
}

bool IsWindow(HWND hwnd) {
    return FindWindow(Loop(), hwnd) != nullptr;
}

void* GetWindowData(HWND hwnd) {
    EventLoop::Window* w = FindWindow(Loop(), hwnd);
    return w ? w->data : nullptr;
}

void SetWindowData(HWND hwnd, void* data) {
    if (EventLoop::Window* w = FindWindow(Loop(), hwnd)) w->data = data;
}

LRESULT SendMessage(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    EventLoop::Window* w = FindWindow(Loop(), hwnd);
    if (w == nullptr) return 0;
    std::shared_ptr<WndProc> proc = w->proc;
    return (*proc)(hwnd, msg, wparam, lparam);
}

bool PostMessage(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    return Enqueue(0, hwnd, msg, wparam, lparam);
}

bool PostTaggedMessage(uint64_t tag, HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    return Enqueue(tag, hwnd, msg, wparam, lparam);
}

void RemovePostedMessages(uint64_t tag) {
    if (tag == 0) return;
    EventLoop& loop = Loop();
    std::lock_guard lock(loop.mutex);
    std::erase_if(loop.queue, [tag](const EventLoop::Posted& p) { return p.tag == tag; });
}

void PostQuitMessage(int exit_code) {
    EventLoop& loop = Loop();
    {
        std::lock_guard lock(loop.mutex);
        loop.quit_pending = true;
        loop.quit_code = exit_code;
    }
    Wake(loop);
}

bool GetMessage(MSG& msg) {
    EventLoop& loop = Loop();
    // Look at the descriptors first even when messages wait, so a steady stream of posts
    // cannot starve the terminal and the sockets.
    PollOnce(0);
    while (!NextMessage(msg, true, false)) PollOnce(NextTimeout(loop));
    return msg.message != WM_QUIT;
}

bool PeekMessage(MSG& msg, bool remove) {
    PollOnce(0);
    return NextMessage(msg, remove, false);
}

bool PeekMessage(MSG& msg, HWND hwnd, UINT first, UINT last, bool remove) {
    PollOnce(0);
    return NextMessage(msg, remove, false, Filter{hwnd, first, last});
}

LRESULT DispatchMessage(const MSG& msg) {
    if (msg.hwnd == 0) return 0;
    return SendMessage(msg.hwnd, msg.message, msg.wParam, msg.lParam);
}

bool PumpMessages() {
    EventLoop& loop = Loop();
    PollOnce(0);
    // Only what is ready now: a procedure that posts to itself must not keep the pump going.
    size_t budget = loop.timers.size();
    {
        std::lock_guard lock(loop.mutex);
        budget += loop.queue.size();
    }
    MSG msg;
    for (size_t i = 0; i < budget; ++i) {
        if (!NextMessage(msg, true, true)) return true;
        if (msg.message == WM_QUIT) return false;
        DispatchMessage(msg);
    }
    return !(NextMessage(msg, false, true) && msg.message == WM_QUIT);
}

int RunMessageLoop() {
    MSG msg;
    while (GetMessage(msg)) DispatchMessage(msg);
    return static_cast<int>(msg.wParam);
}

UINT SetTimer(HWND hwnd, UINT id, uint32_t period_ms) {
    EventLoop& loop = Loop();
    if (hwnd != 0 && !IsWindow(hwnd)) return 0;
    auto same = [&](UINT wanted) {
        return std::find_if(loop.timers.begin(), loop.timers.end(),
                            [&](const auto& t) { return t.hwnd == hwnd && t.id == wanted; });
    };
    if (id == 0) {  // pick a free id, as Windows does for timers without one
        id = 1;
        while (same(id) != loop.timers.end()) ++id;
    }
    period_ms = std::max(period_ms, kMinTimerPeriodMs);
    uint64_t due = MonotonicMs() + period_ms;
    auto it = same(id);
    if (it != loop.timers.end()) {
        it->period_ms = period_ms;
        it->due_ms = due;
    } else {
        loop.timers.push_back(EventLoop::Timer{hwnd, id, period_ms, due});
    }
    return id;
}

bool KillTimer(HWND hwnd, UINT id) {
    return std::erase_if(Loop().timers, [&](const EventLoop::Timer& t) {
               return t.hwnd == hwnd && t.id == id;
           }) > 0;
}

bool WatchFd(int fd, short events, WatchCallback callback) {
    if (fd < 0 || !callback) return false;
    EventLoop& loop = Loop();
    EventLoop::Watch& watch = loop.watches[fd];
    std::shared_ptr<WatchCallback> replaced = std::move(watch.callback);  // let go last
    watch.events = events;
    watch.callback = std::make_shared<WatchCallback>(std::move(callback));
    watch.serial = loop.next_watch_serial++;
    watch.running = false;
    return true;
}

bool ModifyWatch(int fd, short events) {
    EventLoop& loop = Loop();
    auto it = loop.watches.find(fd);
    if (it == loop.watches.end()) return false;
    it->second.events = events;
    return true;
}

void UnwatchFd(int fd) {
    // Extracted first: the callback may own things that unwatch as they are destroyed.
    auto node = Loop().watches.extract(fd);
}

uint64_t MonotonicMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000 + static_cast<uint64_t>(ts.tv_nsec) / 1000000;
}

void ResetEventLoop() {
    EventLoop& loop = Loop();
    loop.timers.clear();
    auto old_watches = std::move(loop.watches);
    loop.watches.clear();
    std::vector<EventLoop::Window> released(1);  // procedures go after the lock, as above
    std::lock_guard lock(loop.mutex);
    loop.windows.swap(released);
    loop.free_slots.clear();
    loop.queue.clear();
    loop.quit_pending = false;
    loop.quit_code = 0;
}

}  // namespace platform
