// The progress meter of long headless runs: one line on standard error with the percentage,
// the bytes done, the rate and the time left, redrawn in place and taken away before any other
// line is written, so that messages never mix with it.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace shell {

/// Whether the meter shows: --progress forces it, --no-progress keeps it away, otherwise it
/// shows on a terminal for work large enough to take a while.
enum class ProgressMode { kAuto, kOn, kOff };

/// Work below this many bytes shows no meter unless forced: it is over before one would help.
constexpr uint64_t kProgressWorthShowing = 4u << 20;

/// True when a run over `total` bytes shows the meter.
bool ProgressWanted(ProgressMode mode, uint64_t total, bool stderr_is_terminal);

/// One meter line: "PPP%  DONE of TOTAL  RATE/s  M:SS left" (the percentage and the time left
/// only where the total is known).
std::string ProgressLine(uint64_t done, uint64_t total, double seconds);

/// The meter of one run, drawn on a file descriptor. It draws from a thread of its own, so
/// that it moves on while the run's thread is busy decoding; every other line is printed
/// through Print, which takes the meter away first.
class ProgressMeter {
public:
    /// Seconds since some fixed moment (tests pass their own clock).
    using Clock = std::function<double()>;
    /// The bytes done so far; called from the meter's thread.
    using Source = std::function<uint64_t()>;

    /// A meter on `fd` over what `source` counts; `forced` draws the first line at once
    /// instead of after a quarter second; `width` bounds the line (0: no bound).
    ProgressMeter(int fd, bool forced, unsigned width, Source source, Clock clock = nullptr);
    /// Stops drawing and clears the line.
    ~ProgressMeter();
    ProgressMeter(const ProgressMeter&) = delete;
    ProgressMeter& operator=(const ProgressMeter&) = delete;

    /// The total is known: draws (or not) from now on. Tick draws; RunInBackground ticks
    /// four times a second on a thread of the meter's own.
    void Start(uint64_t total, bool enabled);
    void RunInBackground();
    /// Redraws when a quarter second passed since the last drawing (or since the start).
    void Tick();
    /// The run is over: a complete run draws its final state once, then the line goes.
    void Finish(bool complete);
    /// Takes the line away, runs `print` (which writes other lines), and lets the meter come
    /// back at its next redraw.
    void Print(const std::function<void()>& print);
    /// True while a meter line is on the screen.
    bool shown() const;

private:
    void DrawLocked(double now, uint64_t at_least = 0);
    void ClearLocked();
    void StopThread();
    void Put(const std::string& bytes);

    int fd_;
    bool forced_;
    unsigned width_;
    Source source_;
    Clock clock_;
    mutable std::mutex lock_;
    std::condition_variable wake_;
    std::thread ticker_;
    bool stopping_ = false;
    bool enabled_ = false;
    uint64_t total_ = 0;
    double started_ = 0;
    double last_draw_ = -1;  // -1: never drawn
    size_t shown_length_ = 0;
};

}  // namespace shell
