// Sockets with asynchronous selection: each socket is a watch in the event loop whose poll
// events are turned into FD_* messages. A notification is armed once and disarmed when posted;
// the call that answers it (Read, Write, Accept, Select) arms it again, so a level-triggered
// poll never posts the same event twice and an idle socket costs nothing.

#include "platform/net.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace platform::net {

namespace {

enum class Phase { kConnecting, kConnected, kListening, kDone };

struct SocketState {
    UniqueFd fd;
    uint64_t tag = 0;  // marks its queued messages, so Close can withdraw them
    HWND hwnd = 0;
    UINT msg = 0;
    uint16_t events = 0;
    Phase phase = Phase::kDone;
    bool read_armed = true;    // FD_READ (or the FD_CLOSE behind it) may be posted
    bool write_armed = false;  // FD_WRITE may be posted when the socket can take more
    bool accept_armed = true;  // FD_ACCEPT may be posted
    bool peer_closed = false;  // the peer's end was seen while unread data was waiting
    bool close_posted = false;
};

struct LookupTable {
    std::mutex mutex;
    std::map<uint32_t, LookupResult> done;
};

// Longest host name a look-up is asked for (a DNS name has at most 253 characters).
constexpr size_t kMaxHostName = 255;

}  // namespace

/// The sockets and look-ups of the process.
struct NetState {
    std::map<Socket, SocketState> sockets;  // loop thread only
    uint64_t next_tag = 1;
    // Shared with the look-up threads, which keep the table they started with across a reset.
    std::shared_ptr<LookupTable> lookups = std::make_shared<LookupTable>();
    std::atomic<uint32_t> next_request{1};
};

namespace {

NetState& Net() {
    static NetState state;
    return state;
}

SocketState* Find(Socket s) {
    auto it = Net().sockets.find(s);
    return it == Net().sockets.end() ? nullptr : &it->second;
}

void Post(const SocketState& s, uint16_t event, int error) {
    if (!(s.events & event)) return;
    uint16_t code = static_cast<uint16_t>(error < 0 || error > 0xFFFF ? 0xFFFF : error);
    PostTaggedMessage(s.tag, s.hwnd, s.msg, static_cast<WPARAM>(s.fd.get()),
                      MAKELPARAM(event, code));
}

int PendingError(int fd) {
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return errno;
    return error;
}

// The poll events that can lead to a message the socket still owes its window.
short PollMask(const SocketState& s) {
    switch (s.phase) {
        case Phase::kConnecting:
            return POLLOUT;
        case Phase::kListening:
            return (s.events & FD_ACCEPT) && s.accept_armed ? POLLIN : 0;
        case Phase::kConnected: {
            short mask = 0;
            if (!s.close_posted && (s.events & (FD_READ | FD_CLOSE))) {
                if (s.read_armed) {
                    mask |= POLLIN | POLLRDHUP;
                } else if (!s.peer_closed) {
                    mask |= POLLRDHUP;
                }
            }
            if (s.write_armed && (s.events & FD_WRITE)) mask |= POLLOUT;
            return mask;
        }
        case Phase::kDone:
            break;
    }
    return 0;
}

void Rearm(const SocketState& s) {
    ModifyWatch(s.fd.get(), PollMask(s));
}

void PostClose(SocketState& s, int error) {
    s.close_posted = true;
    Post(s, FD_CLOSE, error);
}

void OnConnected(SocketState& s, short revents) {
    int fd = s.fd.get();
    if (s.write_armed && (revents & (POLLOUT | POLLHUP | POLLERR))) {
        s.write_armed = false;
        Post(s, FD_WRITE, 0);
    }
    if (s.close_posted) return;
    bool hangup = revents & (POLLRDHUP | POLLHUP | POLLERR);
    if (revents & POLLERR) {
        if (int error = PendingError(fd)) return PostClose(s, error);  // reset by the peer
    }
    if (s.read_armed && (revents & (POLLIN | POLLRDHUP | POLLHUP))) {
        // Peek so that FD_CLOSE comes only after the data before the peer's end was read.
        char byte;
        ssize_t n = recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
        if (n > 0) {
            s.read_armed = false;
            if (s.events & FD_READ) {
                Post(s, FD_READ, 0);
            } else if (hangup) {
                PostClose(s, 0);  // nobody will read what is left
            }
        } else if (n == 0) {
            PostClose(s, 0);
        } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            PostClose(s, errno);
        }
    } else if (hangup) {
        s.peer_closed = true;
        if (!(s.events & FD_READ)) PostClose(s, 0);
    }
}

void OnReady(Socket fd, uint64_t tag, short revents) {
    SocketState* s = Find(fd);
    if (s == nullptr || s->tag != tag) return;
    switch (s->phase) {
        case Phase::kConnecting: {
            int error = PendingError(fd);
            if (error == 0 && !(revents & POLLOUT)) error = ECONNREFUSED;
            if (error != 0) {
                s->phase = Phase::kDone;
            } else {
                s->phase = Phase::kConnected;
                s->read_armed = true;
                s->write_armed = true;  // the first FD_WRITE follows FD_CONNECT
            }
            Post(*s, FD_CONNECT, error);
            break;
        }
        case Phase::kListening:
            s->accept_armed = false;
            Post(*s, FD_ACCEPT, 0);
            break;
        case Phase::kConnected:
            OnConnected(*s, revents);
            break;
        case Phase::kDone:
            break;
    }
    Rearm(*s);
}

// Takes ownership of fd and starts watching it.
SocketState& Register(UniqueFd fd, HWND hwnd, UINT msg, uint16_t events, Phase phase) {
    NetState& net = Net();
    Socket s = fd.get();
    SocketState& state = net.sockets[s];
    state = SocketState{};
    state.fd = std::move(fd);
    state.tag = net.next_tag++;
    state.hwnd = hwnd;
    state.msg = msg;
    state.events = events;
    state.phase = phase;
    state.write_armed = phase == Phase::kConnected;
    uint64_t tag = state.tag;
    WatchFd(s, PollMask(state), [tag](int ready, short revents) { OnReady(ready, tag, revents); });
    return state;
}

bool UsableAddress(const Address& a) {
    int family = a.storage.ss_family;
    if (family == AF_INET) return a.length >= sizeof(sockaddr_in) && a.length <= sizeof a.storage;
    if (family == AF_INET6) return a.length >= sizeof(sockaddr_in6) && a.length <= sizeof a.storage;
    return false;
}

UniqueFd NewSocket(const Address& a) {
    return UniqueFd(socket(a.storage.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
}

const sockaddr* RawAddress(const Address& a) {
    return reinterpret_cast<const sockaddr*>(&a.storage);
}

std::optional<Address> SocketAddress(Socket s, bool peer) {
    Address a;
    a.length = sizeof a.storage;
    auto* raw = reinterpret_cast<sockaddr*>(&a.storage);
    int rc = peer ? getpeername(s, raw, &a.length) : getsockname(s, raw, &a.length);
    if (rc != 0 || !UsableAddress(a)) return std::nullopt;
    return a;
}

}  // namespace

std::optional<Address> ParseAddress(const std::string& numeric_host, uint16_t port) {
    std::string host = numeric_host;
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    }
    if (host.empty() || host.size() > kMaxHostName) return std::nullopt;
    addrinfo hints{};
    hints.ai_flags = AI_NUMERICHOST;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0) return std::nullopt;
    std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> owner(found, freeaddrinfo);
    Address a;
    if (found->ai_addrlen > sizeof a.storage) return std::nullopt;
    std::memcpy(&a.storage, found->ai_addr, found->ai_addrlen);
    a.length = found->ai_addrlen;
    if (!UsableAddress(a)) return std::nullopt;
    SetAddressPort(a, port);
    return a;
}

std::string AddressHost(const Address& address) {
    if (!UsableAddress(address)) return {};
    char host[NI_MAXHOST];
    if (getnameinfo(RawAddress(address), address.length, host, sizeof host, nullptr, 0,
                    NI_NUMERICHOST) != 0) {
        return {};
    }
    return host;
}

uint16_t AddressPort(const Address& address) {
    if (address.storage.ss_family == AF_INET) {
        return ntohs(reinterpret_cast<const sockaddr_in&>(address.storage).sin_port);
    }
    if (address.storage.ss_family == AF_INET6) {
        return ntohs(reinterpret_cast<const sockaddr_in6&>(address.storage).sin6_port);
    }
    return 0;
}

void SetAddressPort(Address& address, uint16_t port) {
    if (address.storage.ss_family == AF_INET) {
        reinterpret_cast<sockaddr_in&>(address.storage).sin_port = htons(port);
    } else if (address.storage.ss_family == AF_INET6) {
        reinterpret_cast<sockaddr_in6&>(address.storage).sin6_port = htons(port);
    }
}

uint32_t AddressIPv4(const Address& address) {
    if (address.storage.ss_family == AF_INET) {
        return ntohl(reinterpret_cast<const sockaddr_in&>(address.storage).sin_addr.s_addr);
    }
    if (address.storage.ss_family == AF_INET6) {
        const in6_addr& a6 = reinterpret_cast<const sockaddr_in6&>(address.storage).sin6_addr;
        if (IN6_IS_ADDR_V4MAPPED(&a6)) {
            uint32_t v4;
            std::memcpy(&v4, &a6.s6_addr[12], sizeof v4);
            return ntohl(v4);
        }
    }
    return 0;
}

Socket Connect(const Address& to, HWND hwnd, UINT msg, uint16_t events) {
    if (!UsableAddress(to)) {
        errno = EAFNOSUPPORT;
        return kNoSocket;
    }
    UniqueFd fd = NewSocket(to);
    if (fd.get() < 0) return kNoSocket;
    int error = connect(fd.get(), RawAddress(to), to.length) == 0 ? 0 : errno;
    bool pending = error == 0 || error == EINPROGRESS || error == EINTR;
    // A connect that fails at once is still reported through FD_CONNECT, so callers have one
    // path for every outcome.
    SocketState& s =
        Register(std::move(fd), hwnd, msg, events, pending ? Phase::kConnecting : Phase::kDone);
    if (!pending) Post(s, FD_CONNECT, error);
    return s.fd.get();
}

Socket Listen(const Address& at, HWND hwnd, UINT msg, int backlog) {
    if (!UsableAddress(at)) {
        errno = EAFNOSUPPORT;
        return kNoSocket;
    }
    UniqueFd fd = NewSocket(at);
    if (fd.get() < 0) return kNoSocket;
    int on = 1;
    setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (bind(fd.get(), RawAddress(at), at.length) != 0 || listen(fd.get(), backlog) != 0) {
        return kNoSocket;  // errno from the failed call; the descriptor closes with fd
    }
    return Register(std::move(fd), hwnd, msg, FD_ACCEPT, Phase::kListening).fd.get();
}

Socket Accept(Socket listener, HWND hwnd, UINT msg, Address* peer, uint16_t events) {
    SocketState* ls = Find(listener);
    if (ls == nullptr || ls->phase != Phase::kListening) {
        errno = EINVAL;
        return kNoSocket;
    }
    Address from;
    from.length = sizeof from.storage;
    int fd = accept4(listener, reinterpret_cast<sockaddr*>(&from.storage), &from.length,
                     SOCK_NONBLOCK | SOCK_CLOEXEC);
    int error = errno;
    ls->accept_armed = true;
    Rearm(*ls);
    if (fd < 0) {
        errno = error;
        return kNoSocket;
    }
    if (peer != nullptr) *peer = from;
    return Register(UniqueFd(fd), hwnd, msg, events, Phase::kConnected).fd.get();
}

bool Select(Socket s, HWND hwnd, UINT msg, uint16_t events) {
    SocketState* state = Find(s);
    if (state == nullptr) return false;
    state->hwnd = hwnd;
    state->msg = msg;
    state->events = events;
    // A new selection re-enables every notification: data already waiting or room in the send
    // buffer is reported again.
    state->read_armed = true;
    state->accept_armed = true;
    if (state->phase == Phase::kConnected) state->write_armed = true;
    Rearm(*state);
    return true;
}

ptrdiff_t Read(Socket s, std::span<char> buffer) {
    SocketState* state = Find(s);
    if (state == nullptr || buffer.empty()) {
        errno = state == nullptr ? EBADF : EINVAL;
        return -1;
    }
    ssize_t n = recv(s, buffer.data(), buffer.size(), MSG_DONTWAIT);
    int error = errno;
    if (state->phase == Phase::kConnected && !state->read_armed) {
        state->read_armed = true;
        Rearm(*state);
    }
    errno = error;
    return n;
}

ptrdiff_t Write(Socket s, std::span<const char> data) {
    SocketState* state = Find(s);
    if (state == nullptr) {
        errno = EBADF;
        return -1;
    }
    if (data.empty()) return 0;
    // MSG_NOSIGNAL: a peer that went away is an EPIPE here, not a SIGPIPE that ends the program.
    ssize_t n = send(s, data.data(), data.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    int error = errno;
    bool full =
        n < 0 ? (error == EAGAIN || error == EWOULDBLOCK) : static_cast<size_t>(n) < data.size();
    if (full && state->phase == Phase::kConnected) {
        state->write_armed = true;
        Rearm(*state);
    }
    errno = error;
    return n;
}

std::optional<Address> LocalAddress(Socket s) {
    return SocketAddress(s, false);
}

std::optional<Address> PeerAddress(Socket s) {
    return SocketAddress(s, true);
}

void Close(Socket s) {
    NetState& net = Net();
    auto it = net.sockets.find(s);
    // Only sockets made here are closed: closing an unknown number twice could hit a
    // descriptor that has been reused for something else.
    if (it == net.sockets.end()) return;
    UnwatchFd(s);
    RemovePostedMessages(it->second.tag);
    net.sockets.erase(it);
}

namespace {

LookupResult Resolve(const std::string& host) {
    LookupResult result;
    if (host.empty() || host.size() > kMaxHostName || host.find('\0') != std::string::npos) {
        result.error = EAI_NONAME;
        return result;
    }
    addrinfo hints{};
    hints.ai_flags = AI_CANONNAME;
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    result.error = getaddrinfo(host.c_str(), nullptr, &hints, &found);
    if (result.error != 0) return result;
    std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> owner(found, freeaddrinfo);
    if (found->ai_canonname != nullptr) result.canonical_name = found->ai_canonname;
    for (addrinfo* ai = found; ai != nullptr; ai = ai->ai_next) {
        Address a;
        if (ai->ai_addrlen > sizeof a.storage) continue;
        std::memcpy(&a.storage, ai->ai_addr, ai->ai_addrlen);
        a.length = ai->ai_addrlen;
        if (UsableAddress(a)) result.addresses.push_back(a);
    }
    if (result.addresses.empty()) result.error = EAI_NONAME;
    return result;
}

LookupResult ResolveAddress(const Address& address) {
    LookupResult result;
    if (!UsableAddress(address)) {
        result.error = EAI_FAMILY;
        return result;
    }
    char host[NI_MAXHOST];
    result.error = getnameinfo(RawAddress(address), address.length, host, sizeof host, nullptr, 0,
                               NI_NAMEREQD);
    if (result.error == 0) result.canonical_name = host;
    result.addresses.push_back(address);
    return result;
}

// Runs work on a thread of its own that stores the result and posts one message.
uint32_t StartLookup(std::function<LookupResult()> work, HWND hwnd, UINT msg) {
    NetState& net = Net();
    uint32_t id = net.next_request++;
    if (id == 0) id = net.next_request++;
    auto finish = [table = net.lookups, id, hwnd, msg](LookupResult result) {
        bool failed = result.error != 0;
        {
            std::lock_guard lock(table->mutex);
            table->done[id] = std::move(result);
        }
        PostMessage(hwnd, msg, id, MAKELPARAM(0, failed ? 1 : 0));
    };
    try {
        std::thread([work = std::move(work), finish] { finish(work()); }).detach();
    } catch (const std::system_error&) {
        LookupResult result;
        result.error = EAI_AGAIN;  // no thread to be had: report a temporary failure
        finish(std::move(result));
    }
    return id;
}

}  // namespace

uint32_t Lookup(const std::string& host, HWND hwnd, UINT msg) {
    return StartLookup([host] { return Resolve(host); }, hwnd, msg);
}

uint32_t ReverseLookup(const Address& address, HWND hwnd, UINT msg) {
    return StartLookup([address] { return ResolveAddress(address); }, hwnd, msg);
}

std::optional<LookupResult> TakeLookup(uint32_t request_id) {
    LookupTable& table = *Net().lookups;
    std::lock_guard lock(table.mutex);
    auto it = table.done.find(request_id);
    if (it == table.done.end()) return std::nullopt;
    LookupResult result = std::move(it->second);
    table.done.erase(it);
    return result;
}

void ResetNet() {
    NetState& net = Net();
    for (auto& [s, state] : net.sockets) {
        UnwatchFd(s);
        RemovePostedMessages(state.tag);
    }
    net.sockets.clear();
    net.lookups = std::make_shared<LookupTable>();
}

}  // namespace platform::net
