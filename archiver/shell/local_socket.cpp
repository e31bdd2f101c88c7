#include "archiver/shell/local_socket.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace shell {

namespace {

bool MakeAddress(std::string_view path, sockaddr_un& addr) {
    if (!FitsSocketAddress(path)) return false;
    std::memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.data(), path.size());
    return true;
}

int Remaining(std::chrono::steady_clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

// Waits until fd is ready for `events`; false on timeout or error.
bool WaitFor(int fd, short events, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        pollfd p{fd, events, 0};
        int n = poll(&p, 1, Remaining(deadline));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        return true;
    }
}

}  // namespace

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) close(fd_);
        fd_ = other.Release();
    }
    return *this;
}

UniqueFd::~UniqueFd() {
    if (fd_ >= 0) close(fd_);
}

int UniqueFd::Release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
}

bool EnsurePrivateFolder(const std::string& folder, std::string* error) {
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        *error = folder + ": " + std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (lstat(folder.c_str(), &st) != 0) {
        *error = folder + ": " + std::strerror(errno);
        return false;
    }
    if (!S_ISDIR(st.st_mode) || st.st_uid != geteuid() || (st.st_mode & 077) != 0) {
        *error = folder + ": not a private folder of this user";
        return false;
    }
    return true;
}

bool FitsSocketAddress(std::string_view path) {
    return !path.empty() && path.size() < sizeof(sockaddr_un{}.sun_path) &&
           path.find('\0') == std::string_view::npos;
}

UniqueFd ListenLocal(const std::string& path, std::string* error) {
    sockaddr_un addr;
    if (!MakeAddress(path, addr)) {
        *error = path + ": too long for a socket";
        return UniqueFd();
    }
    for (int attempt = 0; attempt < 2; ++attempt) {
        UniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        if (fd.get() < 0) break;
        // Others never get in, even in the moment between bind and chmod.
        mode_t old = umask(077);
        int bound = bind(fd.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
        umask(old);
        if (bound == 0) {
            if (chmod(path.c_str(), 0600) != 0 || listen(fd.get(), 8) != 0) {
                *error = path + ": " + std::strerror(errno);
                unlink(path.c_str());
                return UniqueFd();
            }
            return fd;
        }
        if (errno != EADDRINUSE || attempt > 0) break;
        UniqueFd probe;
        ConnectResult c = ConnectLocal(path, probe);
        if (c == ConnectResult::kConnected) {
            *error = path + ": in use";
            return UniqueFd();
        }
        struct stat st {};
        // Only a socket of this user is taken for stale; anything else stays.
        if (c != ConnectResult::kStale || lstat(path.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode) ||
            st.st_uid != geteuid() || unlink(path.c_str()) != 0) {
            *error = path + ": in use";
            return UniqueFd();
        }
    }
    *error = path + ": " + std::strerror(errno);
    return UniqueFd();
}

ConnectResult ConnectLocal(const std::string& path, UniqueFd& out) {
    sockaddr_un addr;
    if (!MakeAddress(path, addr)) return ConnectResult::kFailed;
    UniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (fd.get() < 0) return ConnectResult::kFailed;
    int r;
    do {
        r = connect(fd.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
    } while (r != 0 && errno == EINTR);
    if (r != 0) return errno == ECONNREFUSED ? ConnectResult::kStale : ConnectResult::kFailed;
    out = std::move(fd);
    return ConnectResult::kConnected;
}

bool PeerUid(int fd, uid_t& uid) {
    ucred cred{};
    socklen_t len = sizeof cred;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 || len != sizeof cred)
        return false;
    uid = cred.uid;
    return true;
}

bool SendAllWithin(int fd, std::string_view data, int timeout_ms) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!data.empty()) {
        ssize_t n = send(fd, data.data(), data.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            data.remove_prefix(static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!WaitFor(fd, POLLOUT, deadline)) return false;
            continue;
        }
        return false;
    }
    return true;
}

bool ReceiveExactWithin(int fd, char* out, size_t size, int timeout_ms) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (size > 0) {
        ssize_t n = recv(fd, out, size, MSG_DONTWAIT);
        if (n > 0) {
            out += n;
            size -= static_cast<size_t>(n);
            continue;
        }
        if (n == 0) return false;
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            if (!WaitFor(fd, POLLIN, deadline)) return false;
            continue;
        }
        return false;
    }
    return true;
}

}  // namespace shell
