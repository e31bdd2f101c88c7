#include "archiver/shell/window/view_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace window {

namespace {

// Empties the folder open at `dir` (the descriptor is taken over and closed).
bool EmptyFolder(int dir) {
    DIR* d = fdopendir(dir);
    if (!d) {
        close(dir);
        return false;
    }
    bool ok = true;
    while (dirent* e = readdir(d)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
        if (unlinkat(dirfd(d), e->d_name, 0) == 0) continue;
        if (errno != EISDIR && errno != EPERM) {
            ok = false;
            continue;
        }
        // A folder: enter it only as what it is now, never through a link put in its place.
        int sub = openat(dirfd(d), e->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (sub < 0) {
            ok = false;
            continue;
        }
        if (!EmptyFolder(sub)) ok = false;
        if (unlinkat(dirfd(d), e->d_name, AT_REMOVEDIR) != 0) ok = false;
    }
    closedir(d);
    return ok;
}

}  // namespace

bool RemoveTree(const std::string& path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return errno == ENOENT;
    if (!S_ISDIR(st.st_mode)) return unlink(path.c_str()) == 0;
    int dir = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dir < 0) return false;
    bool ok = EmptyFolder(dir);
    return rmdir(path.c_str()) == 0 && ok;
}

ViewFolder::~ViewFolder() {
    Remove();
}

bool ViewFolder::Ensure(std::string& error) {
    if (!path_.empty()) {
        struct stat st;
        if (lstat(path_.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return true;
        path_.clear();
    }
    const char* tmp = std::getenv("TMPDIR");
    std::string base = tmp && *tmp ? tmp : "/tmp";
    std::string templ = base + "/borvan32-view-XXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    // mkdtemp makes the folder with mode 0700: only we can read what is extracted there.
    if (!mkdtemp(buf.data())) {
        error = "Cannot create a temporary folder in " + base + ": " + std::strerror(errno);
        return false;
    }
    path_ = buf.data();
    return true;
}

void ViewFolder::Remember(const std::string& file) {
    Viewed v;
    v.path = file;
    struct stat st;
    if (lstat(file.c_str(), &st) == 0) {
        v.mtime = st.st_mtim;
        v.size = st.st_size;
    }
    for (Viewed& old : files_) {
        if (old.path == file) {
            old = v;
            return;
        }
    }
    files_.push_back(v);
}

std::vector<std::string> ViewFolder::Changed() const {
    std::vector<std::string> changed;
    for (const Viewed& v : files_) {
        struct stat st;
        if (lstat(v.path.c_str(), &st) != 0) continue;  // removed: nothing to keep
        if (st.st_mtim.tv_sec != v.mtime.tv_sec || st.st_mtim.tv_nsec != v.mtime.tv_nsec ||
            st.st_size != v.size)
            changed.push_back(v.path);
    }
    return changed;
}

bool ViewFolder::Remove() {
    files_.clear();
    if (path_.empty()) return true;
    bool ok = RemoveTree(path_);
    path_.clear();
    return ok;
}

}  // namespace window
