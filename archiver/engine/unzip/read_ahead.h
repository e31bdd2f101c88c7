// Reads of an archive through one window of its bytes: a walk from member to member takes the
// small pieces of each header and the data of small members from one read of the file.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>

namespace engine {

/// A window over one open file, read ahead of the position asked for. The file is assumed not
/// to change while it is read (an archive being tested or extracted).
class ReadAhead {
public:
    /// Bytes one fill of the window reads.
    static constexpr size_t kWindow = 64 * 1024;
    /// Reads of at least this many bytes that miss the window go straight to the caller's
    /// buffer: they are data, and copying them twice would cost more than it saves.
    static constexpr size_t kDirectFrom = 16 * 1024;

    /// Reads `fd`, whose size was `file_size` when the run began; nothing past that size is
    /// read ahead.
    ReadAhead(int fd, uint64_t file_size) : fd_(fd), size_(file_size) {}

    /// Reads up to n bytes at `at`, like PreadFull: fewer than n means the file ended, -1 a
    /// read error.
    ssize_t Read(void* buf, size_t n, uint64_t at);
    /// The next fill of the window reads only about this many bytes (at least what its read
    /// asks for): what follows is read elsewhere (a member handed to another thread), so
    /// reading it here would be wasted.
    void ExpectOnly(size_t bytes) { expect_ = bytes; }
    /// Reads of the file made so far (tests).
    uint64_t reads() const { return reads_; }

private:
    int fd_;
    uint64_t size_;
    std::unique_ptr<uint8_t[]> window_;
    uint64_t pos_ = 0;  // file offset of window_[0]
    size_t len_ = 0;    // valid bytes in the window
    size_t expect_ = 0;
    uint64_t reads_ = 0;
};

}  // namespace engine
