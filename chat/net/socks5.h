// The SOCKS version 5 handshake (method choice, user name and password, CONNECT by host name
// or address) as a byte-level state machine, apart from any socket.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace chat {

/// Longest user name, password and host name the handshake carries (one length byte each).
constexpr size_t kSocks5FieldLimit = 255;

/// The text shown for a CONNECT reply's second byte; empty for success (0).
std::string Socks5ReplyText(unsigned char code);

/// One relay handshake: feed it exactly Wanted() bytes at a time, send what it asks for.
class Socks5Handshake {
public:
    /// What to do after a step.
    struct Step {
        std::string send;   ///< bytes to send to the relay now (may be empty)
        std::string error;  ///< non-empty: the handshake failed with this message
        bool done = false;  ///< the relay granted the connection
    };

    /// `host` is a host name (resolved by the relay) or a numeric IPv4/IPv6 address; an empty
    /// user name offers no authentication only.
    Socks5Handshake(std::string_view host, uint16_t port, std::string_view user,
                    std::string_view password);
    /// The first bytes: version 5 and the offered methods.
    std::string Greeting() const;
    /// Bytes the next step needs; never more than belong to the relay's current reply.
    size_t Wanted() const;
    /// Takes the bytes read (at most Wanted()); a step is taken once Wanted() of them are in.
    Step Feed(std::string_view bytes);
    /// The CONNECT request for the target.
    std::string ConnectRequest() const;

private:
    enum class Phase { kMethod, kAuth, kReplyHead, kReplyRest, kDone, kFailed };
    Step Advance();

    std::string host_, user_, password_;
    uint16_t port_ = 0;
    Phase phase_ = Phase::kMethod;
    std::string got_;  ///< bytes of the current reply read so far
    size_t want_ = 2;  ///< size of the current reply part
};

}  // namespace chat
