// Unix-domain sockets for talking to other instances of this program run by the same user:
// a private folder to keep them in, listening with stale-socket replacement, connecting,
// the peer's user id, and bounded, time-limited reads and writes.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

namespace shell {

/// An owned file descriptor, closed on destruction.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd();
    /// The descriptor, -1 when none.
    int get() const { return fd_; }
    /// Gives up ownership.
    int Release();

private:
    int fd_ = -1;
};

/// Creates `folder` with mode 0700 when missing and checks that it is a real folder (not a
/// link) owned by this user and closed to others. False, with `error` set, otherwise.
bool EnsurePrivateFolder(const std::string& folder, std::string* error);

/// True when `path` fits in a socket address (paths that do not fit are refused, never cut).
bool FitsSocketAddress(std::string_view path);

/// Listens at `path` (mode 0600, non-blocking, close-on-exec). A socket left there by a
/// process that has gone (connecting is refused) is removed and replaced; a live one is left
/// alone and the call fails with `error` "in use". Invalid descriptor and `error` set on failure.
UniqueFd ListenLocal(const std::string& path, std::string* error);

/// Result of ConnectLocal.
enum class ConnectResult { kConnected, kStale, kFailed };

/// Connects to the socket at `path`. kStale when nothing listens there any more (the caller
/// may remove it); kFailed for anything else, including a path that does not fit.
ConnectResult ConnectLocal(const std::string& path, UniqueFd& out);

/// The user id of the process at the other end of a connected socket; false when unknown.
bool PeerUid(int fd, uid_t& uid);

/// Writes all of `data` within `timeout_ms`; false on error, timeout or a closed peer
/// (never raises SIGPIPE).
bool SendAllWithin(int fd, std::string_view data, int timeout_ms);

/// Reads exactly `size` bytes within `timeout_ms`; false on error, timeout or end of stream.
bool ReceiveExactWithin(int fd, char* out, size_t size, int timeout_ms);

}  // namespace shell
