// POSIX file access for the engines: an owning descriptor and whole reads and writes that
// retry short transfers.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace engine {

/// Owns a file descriptor; closes it at the end of its scope.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd&& o) noexcept : fd_(o.release()) {}
    UniqueFd& operator=(UniqueFd&& o) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { reset(); }
    /// The descriptor, -1 when none.
    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    /// Gives up ownership.
    int release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    /// Closes the descriptor; false when close reported an error.
    bool reset(int fd = -1);

private:
    int fd_ = -1;
};

/// Reads up to n bytes, retrying short reads; returns the count (less at end of file), -1 on
/// an error.
ssize_t ReadFull(int fd, void* buf, size_t n);
/// The same at an offset, without moving the file position. A split archive's descriptor
/// (volume_set.h) reads its volumes as one file.
ssize_t PreadFull(int fd, void* buf, size_t n, uint64_t offset);
/// PreadFull of the file itself, never through a split archive's volumes.
ssize_t PreadFile(int fd, void* buf, size_t n, uint64_t offset);
/// Writes all n bytes; false on an error.
bool WriteFull(int fd, const void* buf, size_t n);
/// Size of an open file (all the volumes of a split archive's descriptor), -1 on error.
int64_t FileSize(int fd);

}  // namespace engine
