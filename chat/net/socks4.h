// Reaching the IRC server through a SOCKS relay (version 4, or version 5 by way of
// socks5.h): the version 4 request and reply, and the relay's own connection until it grants
// the session socket to the connection.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/event_loop.h"
#include "platform/net.h"

namespace chat {

/// Frame messages of the relay: the relay host's look-up is done; its socket has news.
constexpr platform::UINT kMsgSocksHostDone = 1074;
constexpr platform::UINT kMsgSocksReply = 1075;
/// Bytes of a relay's reply; nothing after them belongs to the relay.
constexpr size_t kSocksReplySize = 8;
/// Characters of the relay user id that are sent (the length the settings keep).
constexpr size_t kSocksUserIdLimit = 99;
/// Seconds a relay may take from the connect to its grant, unless "Timeout" says otherwise.
constexpr int kSocksTimeoutDefault = 20;

/// The relay settings (section "Socks").
struct SocksSettings {
    bool enabled = false;                ///< ufw
    std::string host;                    ///< szSOCKShn
    int port = 1080;                     ///< SOCKS_PORT
    std::string userid;                  ///< szSOCKSuid
    std::string password;                ///< szSOCKSpw: sent to a version 5 relay that asks for it
    int protocol = 4;                    ///< 4 or 5
    int timeout = kSocksTimeoutDefault;  ///< seconds until a silent relay is given up
};

/// The relay settings in force.
SocksSettings& Socks();
/// Reads section "Socks" of the settings file.
void ReadSocksSettings();

/// The CONNECT request for an IPv4 address and port (host order): version 4, command 1, port,
/// address, then the user id (cut to kSocksUserIdLimit) and a zero byte.
std::string BuildSocksRequest(uint32_t ipv4, uint16_t port, std::string_view userid);
/// The text shown for a reply's second byte; empty for a grant (90).
std::string SocksReplyText(unsigned char code);

/// Takes a connect attempt over when the relay is on: true when it did (the relay reports and
/// disconnects on failure, and hands the socket over with RelayGranted).
bool SocksConnect(const platform::net::Address& server);
/// Takes a connect attempt by host name over when a version 5 relay is on (the relay resolves
/// the name); false otherwise, and the name is looked up here.
bool SocksConnectName(const std::string& host, uint16_t port);
/// Drops the relay socket and look-up (the connection is being torn down).
void SocksAbort();
/// The relay's socket while it is being asked, else kNoSocket.
platform::net::Socket SocksSocket();
/// Installs the relay into the connection and its settings reader.
void InstallSocks();

}  // namespace chat
