// Non-blocking TCP sockets whose events arrive as window messages, and name look-ups on a
// worker thread.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/event_loop.h"

namespace platform::net {

/// Socket events, as the low word of a socket message's lParam. FD_READ is posted once and
/// again only after Read was called; FD_CLOSE follows once all data before the peer's end was
/// read (at once when the connection was reset: error in the high word).
constexpr uint16_t FD_READ = 0x01;
constexpr uint16_t FD_WRITE = 0x02;
constexpr uint16_t FD_OOB = 0x04;
constexpr uint16_t FD_ACCEPT = 0x08;
constexpr uint16_t FD_CONNECT = 0x10;
constexpr uint16_t FD_CLOSE = 0x20;

/// A socket descriptor; -1 is none.
using Socket = int;
constexpr Socket kNoSocket = -1;

/// An IPv4 or IPv6 address with port.
struct Address {
    sockaddr_storage storage{};
    socklen_t length = 0;
};

/// Builds an address from a numeric IPv4 or IPv6 text and a port; nullopt when not numeric.
std::optional<Address> ParseAddress(const std::string& numeric_host, uint16_t port);
/// The numeric host text of an address ("127.0.0.1", "::1").
std::string AddressHost(const Address& address);
/// The port of an address.
uint16_t AddressPort(const Address& address);
/// Sets the port of an address (look-up results carry port 0).
void SetAddressPort(Address& address, uint16_t port);
/// The IPv4 address as a host-order number (also of an IPv4-mapped IPv6 address), else 0.
uint32_t AddressIPv4(const Address& address);

/// Starts a non-blocking connect; FD_CONNECT (error in the high word, 0 on success) is posted
/// to hwnd as msg, then the selected events. Returns kNoSocket when no socket could be made
/// (errno set).
Socket Connect(const Address& to, HWND hwnd, UINT msg,
               uint16_t events = FD_CONNECT | FD_READ | FD_WRITE | FD_CLOSE);
/// Binds and listens (port 0 picks a free port); FD_ACCEPT is posted when a peer waits.
Socket Listen(const Address& at, HWND hwnd, UINT msg, int backlog = 5);
/// Accepts a waiting peer; the new socket reports the given events to hwnd as msg.
Socket Accept(Socket listener, HWND hwnd, UINT msg, Address* peer = nullptr,
              uint16_t events = FD_READ | FD_WRITE | FD_CLOSE);
/// Changes which events are posted, to which window and message (0 events: none). As with a
/// first selection, data already waiting and room to write are reported again.
bool Select(Socket s, HWND hwnd, UINT msg, uint16_t events);
/// Reads what is there: >0 bytes, 0 when the peer closed, -1 with errno (EWOULDBLOCK when none).
/// FD_READ is posted again while unread data remains.
ptrdiff_t Read(Socket s, std::span<char> buffer);
/// Writes what fits: bytes written, or -1 with errno (EWOULDBLOCK, or fewer bytes written than
/// given: FD_WRITE follows when the socket can take more). Never raises SIGPIPE.
ptrdiff_t Write(Socket s, std::span<const char> data);
/// The local or remote address of a connected socket.
std::optional<Address> LocalAddress(Socket s);
std::optional<Address> PeerAddress(Socket s);
/// Stops the events and closes; no message for this socket is delivered afterwards (those
/// still queued are withdrawn). Numbers that are not open sockets of this module are ignored.
void Close(Socket s);
/// Closes every socket and forgets every look-up result (tests start from a clean state).
void ResetNet();

/// Result of a name look-up, fetched with TakeLookup after the message arrives.
struct LookupResult {
    int error = 0;                   ///< 0, or a getaddrinfo EAI_* code
    std::vector<Address> addresses;  ///< in the resolver's order
    std::string canonical_name;
};
/// Resolves host on a worker thread; posts msg to hwnd with wParam = the returned request id
/// and lParam = MAKELPARAM(0, error != 0). Returns the request id (never 0).
uint32_t Lookup(const std::string& host, HWND hwnd, UINT msg);
/// Takes the finished result of a request (nullopt when unknown or not finished).
std::optional<LookupResult> TakeLookup(uint32_t request_id);
/// Reverse look-up of an address on a worker thread; the result's canonical_name is the name.
uint32_t ReverseLookup(const Address& address, HWND hwnd, UINT msg);

}  // namespace platform::net
