#include "chat/net/socks4.h"

#include <cerrno>
#include <cstdlib>

#include "chat/core/connection/connection.h"
#include "chat/core/frame.h"
#include "chat/core/options.h"
#include "chat/core/windows/window_print.h"
#include "chat/core/windows/window_table.h"
#include "chat/net/socks5.h"
#include "platform/profile.h"

namespace chat {
namespace {

namespace net = platform::net;

struct RelayState {
    platform::HWND window = 0;
    net::Socket sock = net::kNoSocket;
    uint32_t lookup = 0;
    std::string request;  ///< request bytes not yet sent
    std::string reply;    ///< reply bytes read so far (never more than kSocksReplySize)
    uint16_t relay_port = 1080;
    std::optional<Socks5Handshake> v5;  ///< the version 5 handshake, when that is spoken
};

constexpr platform::UINT kTimerRelay = 1;

RelayState& Relay() {
    static RelayState state;
    return state;
}

// A failure of the relay: its text and the end of the attempt.
void Fail(std::string_view text) {
    platform::KillTimer(Relay().window, kTimerRelay);
    werr(text);
}

platform::LRESULT RelayProc(platform::HWND, platform::UINT msg, platform::WPARAM wparam,
                            platform::LPARAM lparam);

platform::HWND RelayWindow() {
    RelayState& r = Relay();
    if (!platform::IsWindow(r.window)) r.window = platform::CreateWindow(RelayProc);
    return r.window;
}

void ConnectRelay(net::Address address) {
    RelayState& r = Relay();
    net::SetAddressPort(address, r.relay_port);
    r.reply.clear();
    r.sock = net::Connect(address, RelayWindow(), kMsgSocksReply,
                          net::FD_CONNECT | net::FD_READ | net::FD_CLOSE);
    if (r.sock == net::kNoSocket) Fail("*** Unable to create socket for SOCKS host");
}

void SendRequest() {
    RelayState& r = Relay();
    while (!r.request.empty()) {
        ptrdiff_t n = net::Write(r.sock, r.request);
        if (n > 0) r.request.erase(0, static_cast<size_t>(n));
        if (n < 0) {
            if (errno == EWOULDBLOCK || errno == EAGAIN) {
                net::Select(r.sock, r.window, kMsgSocksReply,
                            net::FD_READ | net::FD_WRITE | net::FD_CLOSE);
                return;
            }
            Fail("*** Unable to send request to SOCKS host");
            return;
        }
    }
    net::Select(r.sock, r.window, kMsgSocksReply, net::FD_READ | net::FD_CLOSE);
}

void Granted() {
    RelayState& r = Relay();
    platform::KillTimer(r.window, kTimerRelay);
    r.v5.reset();
    Print(Windows().statwin, "*** SOCKS access granted, connecting...", 1);
    net::Socket sock = r.sock;
    r.sock = net::kNoSocket;
    RelayGranted(sock);
}

// Reads no further than the reply's last byte, so that whatever the server sends right
// behind it stays in the socket for the session.
void ReadReply() {
    RelayState& r = Relay();
    char buf[kSocks5FieldLimit + 2];
    size_t want = r.v5 ? r.v5->Wanted() : kSocksReplySize - r.reply.size();
    ptrdiff_t n = net::Read(r.sock, std::span<char>(buf, want));
    if (n == 0) {
        Fail("*** Socket closed by SOCKS host");
        return;
    }
    if (n < 0) {
        if (errno != EWOULDBLOCK && errno != EAGAIN && errno != EINTR)
            Fail("*** Error receiving from SOCKS host");
        return;
    }
    if (r.v5) {
        Socks5Handshake::Step step = r.v5->Feed(std::string_view(buf, static_cast<size_t>(n)));
        if (!step.error.empty()) {
            Fail(step.error);
        } else if (step.done) {
            Granted();
        } else if (!step.send.empty()) {
            r.request += step.send;
            SendRequest();
        }
        return;
    }
    r.reply.append(buf, static_cast<size_t>(n));
    if (r.reply.size() < kSocksReplySize) return;
    std::string refusal = SocksReplyText(static_cast<unsigned char>(r.reply[1]));
    if (refusal.empty()) {
        Granted();
    } else {
        Fail(refusal);
    }
}

void HostResolved(platform::WPARAM request) {
    RelayState& r = Relay();
    auto result = net::TakeLookup(static_cast<uint32_t>(request));
    if (static_cast<uint32_t>(request) != r.lookup || r.lookup == 0) return;
    r.lookup = 0;
    if (!Conn().Connecting) return;
    if (!result || result->error != 0) {
        Fail("*** Unable to resolve SOCKS host");
        return;
    }
    // A relay speaking version 4 is reached over IPv4 like any other, but prefer it.
    for (const net::Address& a : result->addresses)
        if (net::AddressIPv4(a) != 0) {
            ConnectRelay(a);
            return;
        }
    if (result->addresses.empty()) {
        Fail("*** Unable to resolve SOCKS host");
        return;
    }
    ConnectRelay(result->addresses.front());
}

void SocketEvent(platform::WPARAM wparam, platform::LPARAM lparam) {
    RelayState& r = Relay();
    if (r.sock == net::kNoSocket || static_cast<net::Socket>(wparam) != r.sock) return;
    if (!Conn().Connecting) return;
    uint16_t event = platform::LOWORD(static_cast<uintptr_t>(lparam));
    uint16_t error = platform::HIWORD(static_cast<uintptr_t>(lparam));
    if (event & net::FD_CONNECT) {
        if (error != 0) {
            Fail("*** Unable to connect to SOCKS host");
            return;
        }
        SendRequest();
        return;
    }
    if (event & net::FD_WRITE) {
        SendRequest();
        if (r.sock == net::kNoSocket) return;
    }
    if (event & net::FD_READ) {
        ReadReply();
        return;
    }
    if (event & net::FD_CLOSE) {
        Fail(error != 0 ? "*** Error receiving from SOCKS host"
                        : "*** Socket closed by SOCKS host");
    }
}

platform::LRESULT RelayProc(platform::HWND, platform::UINT msg, platform::WPARAM wparam,
                            platform::LPARAM lparam) {
    if (msg == kMsgSocksHostDone) HostResolved(wparam);
    if (msg == kMsgSocksReply) SocketEvent(wparam, lparam);
    if (msg == platform::WM_TIMER && wparam == kTimerRelay) {
        platform::KillTimer(Relay().window, kTimerRelay);
        if (Relay().sock != net::kNoSocket || Relay().lookup != 0)
            Fail("*** SOCKS host did not answer in time");
    }
    return 0;
}

}  // namespace

SocksSettings& Socks() {
    static SocksSettings settings;
    return settings;
}

void ReadSocksSettings() {
    const std::string& ini = Options().szINI;
    SocksSettings& s = Socks();
    s.enabled =
        EqualNoCase(platform::GetPrivateProfileString("Socks", "Enabled", "no", 10, ini), "yes");
    s.host = platform::GetPrivateProfileString("Socks", "HostName", "", 100, ini);
    long port = platform::GetPrivateProfileInt("Socks", "Port", -1, ini);
    s.port = (port <= 0 || port > 65535) ? 1080 : static_cast<int>(port);
    s.protocol = platform::GetPrivateProfileInt("Socks", "Protocol", 4, ini) == 5 ? 5 : 4;
    long timeout = platform::GetPrivateProfileInt("Socks", "Timeout", kSocksTimeoutDefault, ini);
    s.timeout = (timeout < 1 || timeout > 600) ? kSocksTimeoutDefault : static_cast<int>(timeout);
    s.userid = platform::GetPrivateProfileString("Socks", "UserID", "", 100, ini);
    s.password = platform::GetPrivateProfileString("Socks", "Password", "", 100, ini);
}

std::string BuildSocksRequest(uint32_t ipv4, uint16_t port, std::string_view userid) {
    std::string request;
    request += '\x04';
    request += '\x01';
    request += static_cast<char>(port >> 8);
    request += static_cast<char>(port & 0xFF);
    for (int shift = 24; shift >= 0; shift -= 8)
        request += static_cast<char>((ipv4 >> shift) & 0xFF);
    // The id ends at its first zero byte on the wire anyway; one inside it would cut it short
    // where the relay reads it.
    std::string_view id = userid.substr(0, std::min(userid.size(), kSocksUserIdLimit));
    id = id.substr(0, std::min(id.size(), id.find('\0')));
    request += id;
    request += '\0';
    return request;
}

std::string SocksReplyText(unsigned char code) {
    switch (code) {
        case 90:
            return {};
        case 91:
            return "*** SOCKS: Rejected/Failed";
        case 92:
            return "*** SOCKS: No Identd";
        case 93:
            return "*** SOCKS: UserID is bad";
        default:
            return "*** Invalid SOCKS reply";
    }
}

namespace {

// Starts the relay for a target given by address (version 4 or 5) or by name (version 5).
bool StartRelay(const net::Address* server, const std::string& name, uint16_t port) {
    SocksSettings& s = Socks();
    if (!s.enabled) return false;
    if (!server && s.protocol != 5) return false;
    RelayState& r = Relay();
    SocksAbort();
    if (s.protocol == 5) {
        r.v5.emplace(server ? net::AddressHost(*server) : name, port, s.userid, s.password);
        r.request = r.v5->Greeting();
    } else {
        uint32_t ipv4 = net::AddressIPv4(*server);
        if (ipv4 == 0) {
            // Version 4 of the protocol carries IPv4 addresses only.
            Fail("*** SOCKS 4 reaches IPv4 servers only");
            return true;
        }
        r.request = BuildSocksRequest(ipv4, port, s.userid);
    }
    if (s.host.empty()) {
        const char* env = std::getenv("SOCKS_HOST");
        if (env && *env) s.host = std::string(env).substr(0, 99);
    }
    if (s.host.empty()) {
        Print(Windows().statwin, "*** Unable to find SOCKS host", 1);
        Beep();
        werr("");
        // The relay's page of the setup dialog is where the host is given.
        platform::PostMessage(Frame().hwndFrame, platform::WM_COMMAND, kCmdSetup | (4u << 16), 0);
        return true;
    }
    // A relay that stalls anywhere before its grant ends the attempt with its own message.
    platform::SetTimer(RelayWindow(), kTimerRelay, static_cast<uint32_t>(s.timeout) * 1000u);
    r.relay_port = static_cast<uint16_t>(s.port);
    if (auto numeric = net::ParseAddress(s.host, r.relay_port)) {
        ConnectRelay(*numeric);
        return true;
    }
    r.lookup = net::Lookup(s.host, RelayWindow(), kMsgSocksHostDone);
    if (r.lookup == 0) Fail("*** Unable to resolve SOCKS host");
    return true;
}

}  // namespace

bool SocksConnect(const net::Address& server) {
    return StartRelay(&server, {}, net::AddressPort(server));
}

bool SocksConnectName(const std::string& host, uint16_t port) {
    return StartRelay(nullptr, host, port);
}

void SocksAbort() {
    RelayState& r = Relay();
    r.lookup = 0;
    if (r.sock != net::kNoSocket) net::Close(r.sock);
    r.sock = net::kNoSocket;
    r.reply.clear();
    r.v5.reset();
    if (platform::IsWindow(r.window)) platform::KillTimer(r.window, kTimerRelay);
}

net::Socket SocksSocket() {
    return Relay().sock;
}

void InstallSocks() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    SettingsReaders().push_back(ReadSocksSettings);
    Conn().relay_connect = SocksConnect;
    Conn().relay_connect_name = SocksConnectName;
    Conn().relay_abort = SocksAbort;
}

}  // namespace chat
