#include "archiver/engine/unzip/file_io.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "archiver/engine/unzip/volume_set.h"

namespace engine {

UniqueFd& UniqueFd::operator=(UniqueFd&& o) noexcept {
    if (this != &o) reset(o.release());
    return *this;
}

bool UniqueFd::reset(int fd) {
    bool ok = true;
    if (fd_ >= 0) {
        ForgetVolumeSet(fd_);
        ok = ::close(fd_) == 0;
    }
    fd_ = fd;
    return ok;
}

ssize_t ReadFull(int fd, void* buf, size_t n) {
    size_t got = 0;
    while (got < n) {
        ssize_t r = ::read(fd, static_cast<char*>(buf) + got, n - got);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return -1;
        if (r == 0) break;
        got += static_cast<size_t>(r);
    }
    return static_cast<ssize_t>(got);
}

ssize_t PreadFull(int fd, void* buf, size_t n, uint64_t offset) {
    ssize_t from_set = 0;
    if (ReadFromVolumeSet(fd, buf, n, offset, from_set)) return from_set;
    return PreadFile(fd, buf, n, offset);
}

ssize_t PreadFile(int fd, void* buf, size_t n, uint64_t offset) {
    size_t got = 0;
    while (got < n) {
        ssize_t r =
            ::pread(fd, static_cast<char*>(buf) + got, n - got, static_cast<off_t>(offset + got));
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return -1;
        if (r == 0) break;
        got += static_cast<size_t>(r);
    }
    return static_cast<ssize_t>(got);
}

bool WriteFull(int fd, const void* buf, size_t n) {
    size_t done = 0;
    while (done < n) {
        ssize_t r = ::write(fd, static_cast<const char*>(buf) + done, n - done);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        done += static_cast<size_t>(r);
    }
    return true;
}

int64_t FileSize(int fd) {
    int64_t set_size = 0;
    if (VolumeSetSize(fd, set_size)) return set_size;
    struct stat st;
    if (::fstat(fd, &st) != 0) return -1;
    return st.st_size;
}

}  // namespace engine
