#include "archiver/shell/dialogs/archive_files.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "archiver/shell/dialogs/file_browser.h"

namespace dialogs {

namespace {

// Closes a descriptor on every way out.
struct Fd {
    int fd = -1;
    explicit Fd(int f) : fd(f) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
};

bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

void SyncFolder(const std::string& path) {
    Fd dir(::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.fd >= 0) ::fsync(dir.fd);
}

// Gives `from` the name `to`: over an existing file only with `replace`. 0 or errno.
int PlaceFile(const std::string& from, const std::string& to, bool replace) {
    if (replace) return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return errno;
    // A file system without the no-replace rename: a hard link fails on an existing name too.
    if (::link(from.c_str(), to.c_str()) != 0) return errno;
    ::unlink(from.c_str());
    return 0;
}

int CopyContents(int in, int out) {
    std::vector<char> buf(1 << 16);
    for (;;) {
        const ssize_t n = ::read(in, buf.data(), buf.size());
        if (n == 0) return 0;
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = ::write(out, buf.data() + done, static_cast<size_t>(n - done));
            if (w < 0) {
                if (errno == EINTR) continue;
                return errno;
            }
            done += w;
        }
    }
}

}  // namespace

std::string ResolveTarget(const std::string& archive, const std::string& target) {
    struct stat st;
    if (!target.empty() && ::stat(target.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        return (target.back() == '/' ? target : target + "/") + BaseName(archive);
    }
    return target;
}

bool PathExists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

int CopyArchiveFile(const std::string& from, const std::string& to, bool replace) {
    if (to.empty()) return ENOENT;
    if (SameFile(from, to)) return EINVAL;
    if (!replace && PathExists(to)) return EEXIST;
    Fd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.fd < 0) return errno;
    struct stat st;
    if (::fstat(in.fd, &st) != 0) return errno;
    if (!S_ISREG(st.st_mode)) return EINVAL;
    std::string temp = FolderOf(to) + "/.borvan-copy-XXXXXX";
    Fd out(::mkostemp(temp.data(), O_CLOEXEC));
    if (out.fd < 0) return errno;
    int err = CopyContents(in.fd, out.fd);
    if (err == 0 && ::fchmod(out.fd, st.st_mode & 07777) != 0) err = errno;
    if (err == 0) {
        const struct timespec times[2] = {st.st_atim, st.st_mtim};
        ::futimens(out.fd, times);  // the date is a courtesy; the contents are what matter
    }
    if (err == 0 && ::fsync(out.fd) != 0) err = errno;
    if (err == 0 && ::close(out.fd) != 0) err = errno;
    out.fd = -1;
    if (err == 0) err = PlaceFile(temp, to, replace);
    if (err != 0) {
        ::unlink(temp.c_str());
        return err;
    }
    SyncFolder(to);
    return 0;
}

int MoveArchiveFile(const std::string& from, const std::string& to, bool replace) {
    if (to.empty()) return ENOENT;
    if (SameFile(from, to)) return EINVAL;
    if (!replace && PathExists(to)) return EEXIST;
    struct stat st;
    if (::lstat(from.c_str(), &st) != 0) return errno;
    int err = PlaceFile(from, to, replace);
    if (err != EXDEV) {
        if (err == 0) SyncFolder(to);
        return err;
    }
    // Another file system: the original goes only once the copy is complete and synced.
    err = CopyArchiveFile(from, to, replace);
    if (err != 0) return err;
    if (::unlink(from.c_str()) != 0) return errno;
    SyncFolder(from);
    return 0;
}

std::string RenamedPath(const std::string& archive, const std::string& name) {
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos ||
        name.find('\0') != std::string::npos)
        return {};
    const size_t slash = archive.rfind('/');
    return slash == std::string::npos ? name : archive.substr(0, slash + 1) + name;
}

}  // namespace dialogs
