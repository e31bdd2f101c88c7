#include "chat/core/connection/connection.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "chat/core/connection/capabilities.h"
#include "chat/core/connection/dns_lookup.h"
#include "chat/core/connection/server_list.h"
#include "chat/core/connection/winsock_errors.h"
#include "chat/core/events.h"
#include "chat/core/frame.h"
#include "chat/core/online_timer.h"
#include "chat/core/options.h"
#include "chat/core/process_wide.h"
#include "chat/core/session/session_state.h"
#include "chat/core/windows/window_print.h"
#include "chat/core/windows/window_table.h"

namespace chat {
namespace {

namespace net = platform::net;

Connection& Storage() {
    return ProcessWide<Connection>();
}

void Status(std::string_view text, int colour) {
    Print(Windows().statwin, text, colour);
}

std::string CurrentNick() {
    const ChatOptions& o = Options();
    if (!Storage().session_nick.empty()) return Storage().session_nick;
    return Storage().wnick && !o.szAltNick.empty() ? o.szAltNick : LogonNickname();
}

ptrdiff_t WriteSession(std::span<const char> data) {
    Connection& c = Storage();
    if (c.secure) return c.secure->Write(data);
    return net::Write(c.Sock, data);
}

ptrdiff_t ReadSession(std::span<char> buffer) {
    Connection& c = Storage();
    if (c.secure) return c.secure->Read(buffer);
    return net::Read(c.Sock, buffer);
}

// The error of a socket message: the platform reports errno values, older code may pass the
// socket codes themselves.
int MessageError(platform::LPARAM lparam) {
    int err = platform::HIWORD(static_cast<uintptr_t>(lparam));
    return err >= 10000 ? err : WinsockCodeFromErrno(err);
}

void ConnectTo(const net::Address& address) {
    Connection& c = Storage();
    if (c.relay_connect && c.relay_connect(address)) return;
    c.Sock = net::Connect(address, c.frame, kMsgConnectDone, net::FD_CONNECT);
    if (c.Sock == net::kNoSocket) {
        int code = WinsockCodeFromErrno(errno);
        if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == EAFNOSUPPORT) {
            Status("*** Unable to create socket", 1);
            DoDisconnect();
        } else if (!c.Connected) {
            werr("*** Unable to connect to IRC server", code);
        }
    }
}

void DoResolveHost() {
    Connection& c = Storage();
    const ChatOptions& o = Options();
    std::string line = "Local host:";
    if (!o.szLocalHost.empty()) line += " " + o.szLocalHost;
    if (!o.szsip.empty()) line += " (" + o.szsip + ")";
    Status(line, 2);
    if (auto numeric = net::ParseAddress(c.szCHN, static_cast<uint16_t>(o.Port))) {
        ConnectTo(*numeric);
        return;
    }
    if (c.relay_connect_name && c.relay_connect_name(c.szCHN, static_cast<uint16_t>(o.Port)))
        return;
    c.TaskHandle = net::Lookup(c.szCHN, c.frame, kMsgServerLookupDone);
    if (c.TaskHandle == 0 && !c.Connected) werr("*** Unable to resolve IRC server");
}

// The local address as the routing table would pick it: a datagram socket "connected" to
// 0.0.0.0 gets the local address without a packet leaving. False when none is found.
bool getip() {
    ChatOptions& o = Options();
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(7);
    sockaddr_in local{};
    socklen_t length = sizeof local;
    bool found = ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0 &&
                 ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) == 0 &&
                 local.sin_addr.s_addr != 0;
    ::close(fd);
    if (!found) return false;
    o.sip = ntohl(local.sin_addr.s_addr);
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &local.sin_addr, text, sizeof text);
    o.szsip = text;
    return true;
}

// A local address that cannot be had only matters for DCC offers, and the session socket's
// own address stands in once connected: the failure is shown and the connect goes on.
void LocalHostFailed(std::string_view text) {
    Connection& c = Storage();
    ChatOptions& o = Options();
    if (c.Connecting) Status(text, 2);
    o.sip = 0;
    c.ResolvingLocal = false;
    if (c.Connecting && !c.Connected) DoResolveHost();
}

void DoGetLocalHost() {
    Connection& c = Storage();
    ChatOptions& o = Options();
    c.ResolvingLocal = true;
    const std::string remembered = o.szLocalHost;
    if (o.aglh || o.szLocalHost.empty() || EqualNoCase(o.szLocalHost, "unknown")) {
        char name[101] = {};
        o.szLocalHost = ::gethostname(name, 100) == 0 && name[0] ? name : "unknown";
    }
    if ((!o.agip && o.sip != 0 && o.szLocalHost == remembered) || (o.ipmethod && getip())) {
        c.ResolvingLocal = false;
        DoResolveHost();
        return;
    }
    if (EqualNoCase(o.szLocalHost, "unknown")) {
        o.szsip = "unknown";
        LocalHostFailed("*** Unable to get local hostname");
        return;
    }
    c.HTaskHandle = net::Lookup(o.szLocalHost, c.frame, kMsgLocalHostDone);
    if (c.HTaskHandle == 0 && !c.Connected) LocalHostFailed("*** Unable to resolve local host");
}

void DoLocalHostResolved(platform::WPARAM request) {
    Connection& c = Storage();
    ChatOptions& o = Options();
    auto result = net::TakeLookup(static_cast<uint32_t>(request));
    if (static_cast<uint32_t>(request) != c.HTaskHandle || c.HTaskHandle == 0) return;
    c.HTaskHandle = 0;
    uint32_t address = 0;
    if (result && result->error == 0)
        for (const net::Address& a : result->addresses)
            if ((address = net::AddressIPv4(a)) != 0) {
                o.szsip = net::AddressHost(a);
                break;
            }
    if (address == 0) {
        if (!c.Connected) LocalHostFailed("*** Unable to resolve local host");
        return;
    }
    if (!result->canonical_name.empty()) o.szLocalHost = result->canonical_name.substr(0, 100);
    o.sip = address;
    c.ResolvingLocal = false;
    if (c.Connecting && !c.Connected) DoResolveHost();
}

void LagTick() {
    Connection& c = Storage();
    if (c.FirstMOTD) return;
    int64_t now = SessionNowMs();
    if (c.lag_sent_ms != 0) {
        // No answer yet: the lag is at least this long, and the status line says so.
        int64_t waited = now - c.lag_sent_ms;
        if (waited >= 5000 && waited / 1000 != c.lag_ms / 1000) {
            c.lag_ms = waited;
            showstatusinfo();
        }
        return;
    }
    if (--c.lag_wait > 0) return;
    c.lag_wait = kLagInterval;
    c.lag_sent_ms = now != 0 ? now : 1;
    c.lag_token = "LAG" + std::to_string(c.lag_sent_ms);
    Sendline("PING :" + c.lag_token, false);
}

void DoConnect(platform::WPARAM request) {
    Connection& c = Storage();
    auto result = net::TakeLookup(static_cast<uint32_t>(request));
    if (static_cast<uint32_t>(request) != c.TaskHandle || !c.Connecting || c.Connected) return;
    c.TaskHandle = 0;
    if (!result || result->error != 0 || result->addresses.empty()) {
        int code = result && result->error ? WinsockCodeFromLookup(result->error) : 11001;
        werr("*** Unable to resolve IRC server", code);
        return;
    }
    // Each address the name has is tried in the resolver's order until one answers.
    c.next_addresses = std::move(result->addresses);
    for (net::Address& a : c.next_addresses)
        net::SetAddressPort(a, static_cast<uint16_t>(Options().Port));
    net::Address address = c.next_addresses.front();
    c.next_addresses.erase(c.next_addresses.begin());
    ConnectTo(address);
}

// A failed connect moves on to the name's next address while there is one.
bool TryNextAddress() {
    Connection& c = Storage();
    if (c.next_addresses.empty()) return false;
    net::Address next = c.next_addresses.front();
    c.next_addresses.erase(c.next_addresses.begin());
    if (c.Sock != net::kNoSocket) net::Close(c.Sock);
    c.Sock = net::kNoSocket;
    Status("*** Trying " + net::AddressHost(next) + " (" + std::to_string(net::AddressPort(next)) +
               ")",
           1);
    ConnectTo(next);
    return true;
}

void SendLogon() {
    Connection& c = Storage();
    const ChatOptions& o = Options();
    c.LoggingNick = true;
    c.NickError = false;
    c.wnick = 0;
    c.session_nick.clear();
    showstatusinfo();
    // Registration waits for CAP END; a server without capabilities ignores the request.
    CapBegin();
    if (!o.szPassword.empty()) Sendline("PASS " + o.szPassword, false);
    Sendline("NICK " + LogonNickname(), false);
    Sendline("USER " + LogonUserName(o.szEmail) + " \"" + o.szLocalHost + "\" \"" + c.szCHN +
                 "\" :" + o.szUser,
             false);
}

// Advances the TLS handshake; once it is through, the logon lines go out, encrypted. A
// failure closes the connection before a byte of the session was sent.
void ContinueHandshake() {
    Connection& c = Storage();
    std::string error;
    switch (c.secure->Handshake(error)) {
        case SecureLink::Step::kWaiting:
            return;
        case SecureLink::Step::kFailed:
            werr(error);
            return;
        case SecureLink::Step::kDone:
            break;
    }
    c.handshaking = false;
    c.handshake_left = 0;
    Status("*** TLS connection: " + c.secure->Describe(), 2);
    SendLogon();
}

void DoLogon(platform::LPARAM lparam) {
    Connection& c = Storage();
    const ChatOptions& o = Options();
    if (c.Connected || !c.Connecting) return;
    if (platform::HIWORD(static_cast<uintptr_t>(lparam)) != 0) {
        if (TryNextAddress()) return;
        werr("*** Unable to connect to IRC server", MessageError(lparam));
        return;
    }
    c.next_addresses.clear();
    net::Select(c.Sock, c.frame, kMsgSessionSocket, net::FD_READ | net::FD_WRITE | net::FD_CLOSE);
    if (!o.UseTLS) {
        SendLogon();
        return;
    }
    // There is no falling back to plain text: without TLS the attempt ends here.
    std::string error = "*** TLS is not available in this build";
    if (c.secure_connect) c.secure = c.secure_connect(c.Sock, c.szCHN, error);
    if (!c.secure) {
        werr(error);
        return;
    }
    c.handshaking = true;
    long limit = ReadSettingInt("TLS", "timeout", kTlsHandshakeSeconds);
    c.handshake_left = limit > 0 && limit <= 3600 ? static_cast<int>(limit) : kTlsHandshakeSeconds;
    ContinueHandshake();
}

void BecomeConnected() {
    Connection& c = Storage();
    ChatOptions& o = Options();
    c.Connecting = false;
    c.Connected = true;
    c.connecttimeout = 0;
    c.connectretries = 0;
    c.splitter.Reset();
    c.lag_ms = -1;
    c.lag_sent_ms = 0;
    c.lag_wait = kLagFirst;
    if (o.sip == 0) {
        if (auto local = net::LocalAddress(c.Sock)) {
            o.sip = net::AddressIPv4(*local);
            o.szsip = net::AddressHost(*local);
        }
    }
    OnlineTimerConnected(SessionNowMs(), SessionWallSeconds());
    c.SentQuit = false;
    showstatusinfo();
}

void DeliverLine(std::string_view line) {
    Connection& c = Storage();
    if (c.parseline) c.parseline(line);
}

void ScheduleReconnect() {
    Connection& c = Storage();
    const ChatOptions& o = Options();
    if (c.reconnect_next <= 0) c.reconnect_next = o.reconnect_delay;
    int wait = c.reconnect_next;
    c.reconnect_next = std::min(wait * 2, o.reconnect_max);
    Status("*** Reconnecting in " + std::to_string(wait) + " seconds...", 1);
    platform::SetTimer(c.frame, kTimerConnect, static_cast<uint32_t>(wait) * 1000u);
}

void Disconnected() {
    Connection& c = Storage();
    const ChatOptions& o = Options();
    if (c.Connected) {
        StatusGap();
        Status("*** Disconnected", 1);
    }
    if (!c.SentQuit) {
        if (o.rcod && (!c.FirstMOTD || !o.rtc || c.connectretries == 0)) ScheduleReconnect();
        if (o.bod == 1)
            for (int i = 0; i < std::max(o.times, 1); ++i) Beep();
        if (o.bod == 2) SoundAlarm(o.bod, "disconnect");
    }
    werr("");
    c.SentQuit = false;
}

void DoRetrieval(bool closing) {
    Connection& c = Storage();
    if (c.Connecting) BecomeConnected();
    std::array<char, 65536> buf;
    // On a close event everything still buffered is read first; otherwise one read per event
    // keeps the loop responsive while a flood arrives.
    for (;;) {
        ptrdiff_t n = ReadSession(std::span<char>(buf));
        if (n > 0) {
            c.splitter.Push(std::string_view(buf.data(), static_cast<size_t>(n)), DeliverLine);
            if (c.Sock == net::kNoSocket) return;  // the parser tore the connection down
            // Bytes decrypted but not yet taken get no socket event of their own.
            if (c.secure && c.secure->Pending()) continue;
            if (!closing) return;
            continue;
        }
        if (n < 0 &&
            (errno == EWOULDBLOCK || errno == EAGAIN || errno == EINPROGRESS || errno == EINTR)) {
            if (!closing) return;
        }
        break;
    }
    Disconnected();
}

void DrainQueue() {
    Connection& c = Storage();
    if (c.Sock == net::kNoSocket) return;
    if (c.out.Drain(WriteSession) == SendResult::kFailed)
        werr("*** Unable to send query to IRC server", WinsockCodeFromErrno(errno));
}

void FloodGuardTick() {
    Connection& c = Storage();
    if (!c.testflood) return;
    if (c.dofloodpause > 0) {
        if (--c.dofloodpause == 0) Status("*** Flood pause complete", 1);
        c.sentlines = 0;
        c.sendtime = 0;
        return;
    }
    if (++c.sendtime >= c.floodtime) {
        if (c.sentlines >= c.floodlines) {
            c.dofloodpause = c.floodpause;
            Status("*** Flood detected, pausing " + std::to_string(c.floodpause) + " seconds...",
                   1);
        }
        c.sentlines = 0;
        c.sendtime = 0;
    }
}

}  // namespace

Connection& Conn() {
    return Storage();
}

void ResetConnection() {
    Connection& c = Storage();
    if (c.Sock != net::kNoSocket) net::Close(c.Sock);
    c = Connection{};
}

std::string LogonUserName(std::string_view email) {
    size_t at = email.find('@');
    if (at == std::string_view::npos) return std::string(email);
    return at == 0 ? "user" : std::string(email.substr(0, at));
}

void showstatusinfo() {
    const Connection& c = Storage();
    const ChatOptions& o = Options();
    StatusInfo s;
    s.state = c.Connected ? LinkState::kConnected
                          : (c.Connecting ? LinkState::kConnecting : LinkState::kIdle);
    s.nick = CurrentNick();
    s.user_modes = c.szUmode;
    s.server = c.szCHN;
    if (c.Connected) s.lag_ms = c.lag_ms;
    if (c.Connected && o.olt) s.online = OnlineHoursMinutes(o);
    if (c.Connected) {
        s.status_text = "Status: " + (s.nick.empty() ? std::string("[no nick]") : s.nick) + " " +
                        s.user_modes + " on " + s.server;
        if (c.secure) s.status_text += " [TLS]";
        if (!s.online.empty()) s.status_text += " (" + s.online + ")";
    } else {
        s.status_text = "Status";
    }
    s.frame_title = o.aptitle.empty() ? "vesk32" : "vesk32 " + o.aptitle;
    if (CurrentFrontend().status_changed) CurrentFrontend().status_changed(s);
}

void DoInitConnect(bool first) {
    Connection& c = Storage();
    ChatOptions& o = Options();
    platform::KillTimer(c.frame, kTimerConnect);
    platform::KillTimer(c.frame, kTimerRetry);
    if (c.Connecting || c.Connected) return;
    if (!c.InitializedWS) {
        StatusGap();
        Status("*** Still trying to initialize Winsock...", 1);
        return;
    }
    if (c.IsServer) {
        c.IsServer = false;
        if (c.szCHN.find('.') != std::string::npos || c.szCHN.find(':') != std::string::npos) {
            // A host, optionally with ":port"; an IPv6 literal goes in brackets.
            std::string host = c.szCHN, port;
            if (!host.empty() && host[0] == '[') {
                size_t close = host.find(']');
                if (close != std::string::npos) {
                    if (close + 1 < host.size() && host[close + 1] == ':')
                        port = host.substr(close + 2);
                    host = host.substr(1, close - 1);
                }
            } else if (std::count(host.begin(), host.end(), ':') == 1) {
                size_t colon = host.find(':');
                port = host.substr(colon + 1);
                host.resize(colon);
            }
            o.Port = ParsePortText(port, o.UseTLS);
            if (!host.empty()) o.szHostName = host;
            o.szPassword.clear();
        } else if (!c.szCHN.empty()) {
            if (!buildconnectlist(o.szhost, c.szCHN, c.szconnect)) {
                Status("*** No such server group", 1);
                return;
            }
            getnextserver(c.szconnect);
        }
    }
    std::string missing;
    if (o.szNickName.empty()) missing += " nickname";
    if (o.szUser.empty()) missing += " full-name";
    if (o.szEmail.empty()) missing += " e-mail";
    if (o.szHostName.empty() || o.Port <= 0) missing += " server";
    if (!missing.empty()) {
        Beep();
        Status("*** Cannot connect, missing:" + missing + " (set them in section [Vesk] of " +
                   o.szINI + ", or use -n and -s)",
               3);
        // The setup dialog's first page is where they are given.
        platform::PostMessage(c.frame, platform::WM_COMMAND, kCmdSetup | (1u << 16), 0);
        return;
    }
    if (c.attempt_started) c.attempt_started();
    c.out.clear();
    c.splitter.Reset();
    c.szUmode = "[+]";
    c.ResolvingLocal = false;
    c.Connected = false;
    c.NickError = false;
    c.LoggingNick = false;
    c.SentQuit = false;
    c.Connecting = true;
    c.FirstMOTD = true;
    c.testflood = c.sentlines = c.sendtime = c.floodlines = c.floodtime = c.floodpause =
        c.dofloodpause = 0;
    if (o.aglh || o.agip) {
        o.sip = 0;
        o.szsip.clear();
    }
    c.szCHN = o.szHostName;
    c.connecttimeout = o.rtod;
    StatusGap();
    if (first) {
        c.connectretries = o.rtc ? o.rtct : 0;
        Status("*** Connecting to " + o.szHostName + " (" + (o.UseTLS ? "+" : "") +
                   std::to_string(o.Port) + ")",
               1);
    } else {
        Status("*** Connect retry #" + std::to_string(o.rtct - c.connectretries) + " (" +
                   o.szHostName + ")",
               1);
    }
    showstatusinfo();
    if (o.sip != 0) {
        DoResolveHost();
    } else {
        DoGetLocalHost();
    }
}

bool werr(std::string_view text, int code) {
    Connection& c = Storage();
    bool was_connecting = c.Connecting;
    bool was_active = c.Connecting || c.Connected;
    if (was_active && !text.empty()) {
        Status(text, 1);
        if (code) Status("*** " + WSerror(code), 1);
    }
    c.TaskHandle = 0;
    c.next_addresses.clear();
    c.HTaskHandle = 0;
    c.lag_sent_ms = 0;
    c.lag_ms = -1;
    if (c.relay_abort) c.relay_abort();
    CancelDns();
    // Replies that will never end must not hold anything open: the channels list may close,
    // and a /uwho may be asked again.
    ChatSession& session = Session();
    EndChannelListing();
    session.uwho.open = false;
    c.secure.reset();
    c.handshaking = false;
    c.handshake_left = 0;
    if (c.Sock != net::kNoSocket) net::Close(c.Sock);
    c.Sock = net::kNoSocket;
    c.out.clear();
    c.splitter.Reset();
    const ChatOptions& o = Options();
    if (was_connecting && o.rtc && c.connectretries > 0) {
        getnextserver(c.szconnect);
        --c.connectretries;
        c.connecttimeout = o.rtod;
        platform::SetTimer(c.frame, kTimerRetry, static_cast<uint32_t>(o.retry_delay_ms));
    }
    c.ResolvingLocal = false;
    c.Connected = false;
    c.Connecting = false;
    showstatusinfo();
    return was_active;
}

void RelayGranted(net::Socket sock) {
    Connection& c = Storage();
    if (!c.Connecting || c.Connected) {
        net::Close(sock);
        return;
    }
    c.Sock = sock;
    DoLogon(0);
}

void DoDisconnect() {
    Connection& c = Storage();
    platform::KillTimer(c.frame, kTimerConnect);
    platform::KillTimer(c.frame, kTimerRetry);
    c.connectretries = 0;
    c.connecttimeout = 0;
    if (c.Connected) {
        const std::string& q = Options().quit;
        Sendline("QUIT :" + (q.empty() ? std::string("Leaving") : q), false);
        c.SentQuit = true;
        StatusGap();
        Status("*** Disconnected", 1);
    } else if (c.Connecting) {
        Status("*** Connect cancelled", 1);
    }
    werr("");
}

bool Sendline(std::string_view text, bool remote) {
    Connection& c = Storage();
    if (c.Sock == net::kNoSocket) {
        werr("*** Not connected to IRC server");
        return false;
    }
    if (c.testflood && c.dofloodpause > 0 && remote) return true;
    // A line never carries its own line end or a NUL: whatever follows one is not sent.
    size_t cut = text.find_first_of(std::string_view("\r\n\0", 3));
    std::string line(text.substr(0, cut));
    line += "\r\n";
    SendResult r = c.out.Send(line, WriteSession);
    if (r == SendResult::kFailed) {
        werr("*** Unable to send query to IRC server", WinsockCodeFromErrno(errno));
        return false;
    }
    if (remote) ++c.sentlines;
    // Queued bytes go out in order as the socket drains, so a queued line counts as sent.
    return true;
}

bool ConnectionMessage(platform::UINT msg, platform::WPARAM wparam, platform::LPARAM lparam) {
    Connection& c = Storage();
    switch (msg) {
        case kMsgStartLocalHost:
            if (c.Connecting) DoGetLocalHost();
            return true;
        case kMsgLocalHostDone:
            DoLocalHostResolved(wparam);
            return true;
        case kMsgDnsDone:
            DoResolvedD(static_cast<uint32_t>(wparam));
            return true;
        case kMsgServerLookupDone:
            DoConnect(wparam);
            return true;
        case kMsgConnectDone:
            DoLogon(lparam);
            return true;
        case kMsgSessionSocket: {
            if (c.Sock == net::kNoSocket) return true;
            uint16_t event = platform::LOWORD(static_cast<uintptr_t>(lparam));
            if (c.handshaking) {
                if (event & net::FD_CLOSE) {
                    werr("*** TLS handshake failed: the server closed the connection");
                    return true;
                }
                ContinueHandshake();
                if (c.handshaking || c.Sock == net::kNoSocket) return true;
            }
            if (event & net::FD_WRITE) DrainQueue();
            if (c.Sock != net::kNoSocket && (event & (net::FD_READ | net::FD_CLOSE)))
                DoRetrieval((event & net::FD_CLOSE) != 0);
            return true;
        }
        default:
            return false;
    }
}

bool ConnectionTimer(platform::UINT id) {
    if (id == kTimerConnect || id == kTimerRetry) {
        platform::KillTimer(Storage().frame, id);
        DoInitConnect(id == kTimerConnect);
        return true;
    }
    return false;
}

void ConnectionTick() {
    Connection& c = Storage();
    // The time-out holds for every attempt, whether or not a retry follows.
    if (c.Connecting && c.connecttimeout > 0 && --c.connecttimeout == 0) {
        Status("*** Connection attempt timed out...", 1);
        werr("");
    }
    if (c.handshaking && --c.handshake_left <= 0) {
        werr("*** TLS handshake timed out: the server did not complete it");
    }
    if (c.Sock != net::kNoSocket) CapTick();
    if (c.Connected && c.Sock != net::kNoSocket) {
        FloodGuardTick();
        LagTick();
        if (OnlineTimerTick(SessionNowMs())) showstatusinfo();
    }
}

std::string LogonNickname() {
    const Connection& c = Storage();
    return c.main_nick.empty() ? Options().szNickName : c.main_nick;
}

bool TakeLagPong(std::string_view parameter) {
    Connection& c = Storage();
    if (c.lag_sent_ms == 0 || parameter != c.lag_token) return false;
    c.lag_ms = std::max<int64_t>(0, SessionNowMs() - c.lag_sent_ms);
    c.lag_sent_ms = 0;
    showstatusinfo();
    return true;
}

void ConnectionWelcomed() {
    Storage().reconnect_next = 0;
    CapWelcomed();
}

void SendQuitAndFlush(int wait_ms) {
    Connection& c = Storage();
    if (!c.Connected || c.Sock == net::kNoSocket) return;
    const std::string& q = Options().quit;
    Sendline("QUIT :" + (q.empty() ? std::string("Leaving") : q), false);
    c.SentQuit = true;
    uint64_t deadline = platform::MonotonicMs() + static_cast<uint64_t>(wait_ms);
    while (c.Sock != net::kNoSocket && !c.out.empty()) {
        uint64_t now = platform::MonotonicMs();
        if (now >= deadline) break;
        pollfd p{c.Sock, POLLOUT, 0};
        if (::poll(&p, 1, static_cast<int>(deadline - now)) <= 0) break;
        if (c.out.Drain(WriteSession) == SendResult::kFailed) break;
    }
}

}  // namespace chat
