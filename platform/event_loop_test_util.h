// Helpers for tests that run the event loop: a window that records what it receives, and
// pumping bounded in time.
#pragma once

#include <sys/resource.h>

#include <functional>
#include <vector>

#include "platform/event_loop.h"

namespace platform::testing {

/// A window whose procedure appends every message to log (which must outlive it).
inline HWND RecordingWindow(std::vector<MSG>& log) {
    return CreateWindow([&log](HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) -> LRESULT {
        if (msg != WM_CREATE && msg != WM_DESTROY) log.push_back(MSG{hwnd, msg, wparam, lparam});
        return 0;
    });
}

/// Runs GetMessage/DispatchMessage until done() holds or timeout_ms passed; a thread timer
/// keeps GetMessage from blocking past the deadline. Returns done().
inline bool PumpUntil(const std::function<bool()>& done, uint64_t timeout_ms = 2000) {
    constexpr UINT kGuardTimer = 0xFEED;
    SetTimer(0, kGuardTimer, 10);
    uint64_t end = MonotonicMs() + timeout_ms;
    bool ok = done();
    MSG msg;
    while (!ok && MonotonicMs() < end && GetMessage(msg)) {
        DispatchMessage(msg);
        ok = done();
    }
    KillTimer(0, kGuardTimer);
    return ok;
}

/// Runs the loop for ms milliseconds.
inline void PumpFor(uint64_t ms) {
    PumpUntil([] { return false; }, ms);
}

/// How many logged messages have the given message number and low word of lParam.
inline size_t CountEvents(const std::vector<MSG>& log, UINT msg, uint16_t event) {
    size_t n = 0;
    for (const MSG& m : log) n += m.message == msg && LOWORD(m.lParam) == event;
    return n;
}

/// CPU time (user and system) the calling thread has used, in milliseconds.
inline double ThreadCpuMs() {
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0 +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
}

}  // namespace platform::testing
