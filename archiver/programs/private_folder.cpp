#include "archiver/programs/private_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace programs {

namespace {

// Removes everything inside the folder open as `dir`; closes it. Each entry is looked at
// with AT_SYMLINK_NOFOLLOW and folders are opened with O_NOFOLLOW, so a link that is swapped
// in is removed, not entered.
bool EmptyFolder(int dir, int depth) {
    DIR* d = fdopendir(dir);
    if (!d) {
        close(dir);
        return false;
    }
    bool ok = depth < 256;
    while (ok) {
        errno = 0;
        dirent* e = readdir(d);
        if (!e) break;
        std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        struct stat st {};
        if (fstatat(dirfd(d), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            ok = false;
            break;
        }
        if (S_ISDIR(st.st_mode)) {
            // A folder left unreadable makes the openat below fail, which is reported.
            if (fchmodat(dirfd(d), name.c_str(), 0700, 0) != 0) errno = 0;
            int sub = openat(dirfd(d), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
            if (sub < 0 || !EmptyFolder(sub, depth + 1) ||
                unlinkat(dirfd(d), name.c_str(), AT_REMOVEDIR) != 0)
                ok = false;
        } else if (unlinkat(dirfd(d), name.c_str(), 0) != 0) {
            ok = false;
        }
    }
    closedir(d);
    return ok;
}

}  // namespace

std::string MakePrivateFolder(const std::string& prefix) {
    const char* t = std::getenv("TMPDIR");
    std::string path = std::string(t && *t ? t : "/tmp") + "/" + prefix + "XXXXXX";
    if (!mkdtemp(path.data())) return {};
    chmod(path.c_str(), 0700);
    return path;
}

bool RemoveTree(const std::string& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) return errno == ENOENT;
    if (!S_ISDIR(st.st_mode)) return unlink(path.c_str()) == 0;
    chmod(path.c_str(), 0700);
    int dir = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
    if (dir < 0) return false;
    bool ok = EmptyFolder(dir, 0);
    return rmdir(path.c_str()) == 0 && ok;
}

}  // namespace programs
