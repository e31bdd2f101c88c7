// Reading private-profile files through a small cache of parsed files, keyed by content.
#pragma once

#include <unistd.h>

#include <memory>
#include <string>

#include "platform/profile_document.h"

namespace platform::profile_detail {

/// A file as read: whether it exists, its bytes, and their parsed form.
struct LoadedFile {
    bool exists = false;
    std::string bytes;
    Document doc;
};

/// A file descriptor closed when it goes out of scope.
struct Fd {
    int fd = -1;
    explicit Fd(int f) : fd(f) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() {
        if (fd >= 0) close(fd);
    }
    // Closes now and reports the result, which for a written file can carry a write error.
    bool Close() {
        const int r = close(fd);
        fd = -1;
        return r == 0;
    }
};

/// The parsed file; a missing file is an empty document. Null (errno set) when the file
/// exists but cannot be read: a write must then fail rather than replace what it never saw.
std::shared_ptr<const LoadedFile> Load(const std::string& path);

}  // namespace platform::profile_detail
