// When to draw the screen: at most one frame per budget while changes keep coming, the last
// change drawn no later than one budget after it, and a key press drawn at once.
#pragma once

#include <cstdint>

namespace tui {

/// The frame timing of the screen, kept apart from the clock so that a test can drive it.
/// Times are milliseconds of a monotonic clock.
class FramePacer {
public:
    /// Frames while changes keep arriving are this far apart (about 25 a second).
    static constexpr uint64_t kDefaultBudgetMs = 40;

    explicit FramePacer(uint64_t budget_ms = kDefaultBudgetMs) : budget_(budget_ms) {}

    /// Something on screen changed; `urgent` (a key, a dialog appearing) wants the frame
    /// without waiting for the budget.
    void Change(bool urgent = false);
    /// True when a changed screen waits to be drawn.
    bool Pending() const { return pending_; }
    /// True when the waiting frame should be drawn at `now`.
    bool Due(uint64_t now) const;
    /// Milliseconds from `now` until the waiting frame is due: 0 when due, -1 when nothing
    /// waits.
    int WaitMs(uint64_t now) const;
    /// A frame (whatever its cause) was drawn at `now`: everything changed so far is shown.
    void Drawn(uint64_t now);

private:
    uint64_t budget_;
    uint64_t last_frame_ = 0;
    bool drawn_once_ = false;
    bool pending_ = false;
    bool urgent_ = false;
};

}  // namespace tui
