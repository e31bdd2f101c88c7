#include "platform/tui/frame_pacer.h"

#include <algorithm>

namespace tui {

void FramePacer::Change(bool urgent) {
    pending_ = true;
    urgent_ = urgent_ || urgent;
}

bool FramePacer::Due(uint64_t now) const {
    return WaitMs(now) == 0;
}

int FramePacer::WaitMs(uint64_t now) const {
    if (!pending_) return -1;
    // The first frame, an urgent one, and one after a quiet spell go out at once; a clock that
    // went backwards (it should not) counts as a spell long enough.
    if (urgent_ || !drawn_once_ || now < last_frame_) return 0;
    const uint64_t due = last_frame_ + budget_;
    return now >= due ? 0 : static_cast<int>(std::min<uint64_t>(due - now, budget_));
}

void FramePacer::Drawn(uint64_t now) {
    pending_ = false;
    urgent_ = false;
    drawn_once_ = true;
    last_frame_ = now;
}

}  // namespace tui
