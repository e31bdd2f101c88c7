#include "archiver/engine/unzip/read_ahead.h"

#include <algorithm>
#include <cstring>

#include "archiver/engine/unzip/file_io.h"

namespace engine {

ssize_t ReadAhead::Read(void* buf, size_t n, uint64_t at) {
    auto* out = static_cast<uint8_t*>(buf);
    size_t done = 0;
    while (done < n) {
        uint64_t p = at + done;
        size_t want = n - done;
        if (p >= pos_ && p - pos_ < len_) {
            size_t k = std::min(want, len_ - static_cast<size_t>(p - pos_));
            std::memcpy(out + done, window_.get() + (p - pos_), k);
            done += k;
            continue;
        }
        if (want >= kDirectFrom || p >= size_) {
            // Past the size the run began with, the file is read as it is now.
            ++reads_;
            ssize_t got = PreadFull(fd_, out + done, want, p);
            if (got < 0) return -1;
            done += static_cast<size_t>(got);
            break;
        }
        if (!window_) window_ = std::make_unique_for_overwrite<uint8_t[]>(kWindow);
        size_t fill = expect_ ? std::clamp(expect_, want, kWindow) : kWindow;
        fill = static_cast<size_t>(std::min<uint64_t>(fill, size_ - p));
        expect_ = 0;
        ++reads_;
        ssize_t got = PreadFull(fd_, window_.get(), fill, p);
        pos_ = p;
        len_ = got < 0 ? 0 : static_cast<size_t>(got);
        if (got < 0) return -1;
        if (got == 0) break;
    }
    return static_cast<ssize_t>(done);
}

}  // namespace engine
