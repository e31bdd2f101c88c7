// The one connection to the IRC server: choosing the server, look-ups, connecting, logging on,
// cutting the stream into lines, sending through the output queue with the flood guard,
// time-outs, retries through a server group, and reconnecting after a drop.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "chat/core/connection/line_splitter.h"
#include "chat/core/connection/send_queue.h"
#include "chat/core/windows/line_list.h"
#include "platform/event_loop.h"
#include "platform/net.h"

namespace chat {

/// Frame messages of the connection (event in the low word, error in the high word).
constexpr platform::UINT kMsgStartLocalHost = 1031;
constexpr platform::UINT kMsgLocalHostDone = 1033;
constexpr platform::UINT kMsgServerLookupDone = 1035;
constexpr platform::UINT kMsgConnectDone = 1036;
constexpr platform::UINT kMsgSessionSocket = 1037;
/// Frame timers: a new connect attempt, and a retry after a failure.
constexpr platform::UINT kTimerConnect = 124;
constexpr platform::UINT kTimerRetry = 125;

/// An encrypted layer over the session socket (made by the TLS subsystem through
/// Connection::secure_connect). Read and Write behave as platform::net::Read and Write.
class SecureLink {
public:
    /// Where a handshake stands.
    enum class Step { kDone, kWaiting, kFailed };
    virtual ~SecureLink() = default;
    /// Advances the handshake as far as the socket allows; on kFailed `error` holds the one
    /// line to show (reason, and for a refused certificate its fingerprint).
    virtual Step Handshake(std::string& error) = 0;
    /// Decrypted bytes: >0, 0 when the peer closed, -1 with errno (EWOULDBLOCK: none yet).
    virtual ptrdiff_t Read(std::span<char> buffer) = 0;
    /// Encrypts and writes what fits: bytes taken, or -1 with errno (EWOULDBLOCK: later).
    virtual ptrdiff_t Write(std::span<const char> data) = 0;
    /// True while decrypted bytes wait inside the layer (no socket event will announce them).
    virtual bool Pending() const = 0;
    /// "TLSv1.3, TLS_AES_256_GCM_SHA384" and how the certificate was accepted.
    virtual std::string Describe() const = 0;
};

/// Seconds a TLS handshake may take before the attempt is given up (key "timeout" of
/// section "TLS" overrides it).
constexpr int kTlsHandshakeSeconds = 20;

/// The process-wide connection state.
struct Connection {
    platform::HWND frame = 0;  ///< window that receives the socket and look-up messages
    bool InitializedWS = true;
    bool Connecting = false;
    bool Connected = false;
    platform::net::Socket Sock = platform::net::kNoSocket;
    uint32_t TaskHandle = 0;  ///< pending server look-up
    /// The server's further addresses (IPv6 and IPv4 alike), tried in turn when one fails.
    std::vector<platform::net::Address> next_addresses;
    bool ResolvingLocal = false;
    std::string szCHN;      ///< server host of the attempt, or the command line's target
    bool IsServer = false;  ///< szCHN holds a command-line target to take first
    bool SentQuit = false;
    LineSplitter splitter;
    SendQueue out;
    LineList szconnect;  ///< rotation through the group being tried
    int connectretries = 0;
    int connecttimeout = 0;
    // Flood guard.
    int testflood = 0, sentlines = 0, sendtime = 0, floodlines = 0, floodtime = 0, floodpause = 0,
        dofloodpause = 0;
    // Session state the parser shares.
    bool LoggingNick = false, NickError = false, FirstMOTD = false;
    int wnick = 0;
    std::string session_nick;  ///< the nickname the server gave us, empty before the welcome
    std::string szUmode = "[+]";
    std::string joinstr;  ///< channels to join when the MOTD ends
    // Reconnect after a drop: the next wait in seconds, doubling up to the maximum.
    int reconnect_next = 0;
    /// Our own nickname as last changed during the session; the next logon uses it. Empty:
    /// the configured one.
    std::string main_nick;
    /// The pending local host look-up.
    uint32_t HTaskHandle = 0;
    // Lag: a PING of our own goes out on the main timer once the logon is through; its PONG
    // gives the round trip.
    int64_t lag_ms = -1;      ///< last round trip, -1 unknown
    int64_t lag_sent_ms = 0;  ///< when the pending probe went out, 0 none
    std::string lag_token;    ///< the pending probe's parameter
    int lag_wait = 0;         ///< seconds until the next probe
    /// Receives each complete server line (the message parser).
    std::function<void(std::string_view line)> parseline;
    /// Reaches the server through a relay instead of directly: gets the server's address and
    /// returns true when the relay took the attempt over (it reports its own failures and
    /// hands the socket over with RelayGranted).
    std::function<bool(const platform::net::Address& server)> relay_connect;
    /// The same for a server given by name, before any look-up here: true when the relay
    /// resolves names itself and took the attempt over.
    std::function<bool(const std::string& host, uint16_t port)> relay_connect_name;
    /// Drops whatever the relay holds; runs whenever the connection is torn down.
    std::function<void()> relay_abort;
    /// Runs when a connect attempt begins (the ident responder gets ready for a new query).
    std::function<void()> attempt_started;
    /// Starts TLS on a connected socket for `host` (certificate name and SNI); null with
    /// `error` set when it cannot. Unset: TLS is not built in.
    std::function<std::unique_ptr<SecureLink>(platform::net::Socket sock, const std::string& host,
                                              std::string& error)>
        secure_connect;
    /// The session's TLS layer, null on a plain connection.
    std::unique_ptr<SecureLink> secure;
    bool handshaking = false;  ///< the TLS handshake runs; nothing else is sent yet
    int handshake_left = 0;    ///< seconds the handshake may still take
};

/// The connection.
Connection& Conn();
/// Closes everything and starts fresh (tests).
void ResetConnection();

/// Begins an attempt; `first` for a new connect (retry counters reloaded), false for a retry.
void DoInitConnect(bool first);
/// The relay reached the server: `sock` becomes the session socket and the logon goes on as
/// after a direct connect (bytes the server already sent stay in the socket for the session).
void RelayGranted(platform::net::Socket sock);
/// The user's disconnect or cancel: QUIT when connected.
void DoDisconnect();
/// Sends one line (cut at CR, LF or NUL; the line end is added). `remote` marks lines sent on
/// behalf of another user's request, which the flood guard counts and may drop. Returns true
/// when sent or dropped by the guard.
bool Sendline(std::string_view text, bool remote);
/// Tears the connection down, printing `text` (and the socket error when `code` is set) when
/// an attempt or connection was active; retries when that is on and left.
bool werr(std::string_view text, int code = 0);
/// Handles the connection's frame messages; false when the message is not one of them.
bool ConnectionMessage(platform::UINT msg, platform::WPARAM wparam, platform::LPARAM lparam);
/// Handles the connection's frame timers; false when the timer is not one of them.
bool ConnectionTimer(platform::UINT id);
/// The one-second work: connect time-out, flood guard, online time.
void ConnectionTick();
/// The server accepted us (welcome): the reconnect wait starts again from its first value.
void ConnectionWelcomed();
/// The user name of the USER line: the e-mail address up to "@", "user" when that is empty.
std::string LogonUserName(std::string_view email);
/// Sends QUIT with the quit message and waits briefly for it to leave (program exit).
void SendQuitAndFlush(int wait_ms);
/// Refreshes the status line through the front end.
void showstatusinfo();
/// The nickname the next logon sends: the session's own after a change, else the configured.
std::string LogonNickname();
/// True when a PONG parameter answers our own lag probe (which then is not shown).
bool TakeLagPong(std::string_view parameter);
/// Seconds between lag probes, and before the first one after the message of the day.
constexpr int kLagInterval = 60;
constexpr int kLagFirst = 3;

}  // namespace chat
