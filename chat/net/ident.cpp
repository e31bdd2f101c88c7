#include "chat/net/ident.h"

#include <cerrno>
#include <cstdlib>

#include "chat/core/connection/connection.h"
#include "chat/core/frame.h"
#include "chat/core/options.h"
#include "chat/core/windows/window_print.h"
#include "chat/core/windows/window_table.h"
#include "chat/net/socks4.h"
#include "platform/net.h"
#include "platform/profile.h"

namespace chat {
namespace {

namespace net = platform::net;

struct IdentState {
    platform::HWND window = 0;
    net::Socket listener = net::kNoSocket;
    net::Socket peer = net::kNoSocket;
    std::string query;    ///< bytes of the query so far
    std::string pending;  ///< reply bytes not yet sent
    int timer = 0;        ///< identTimer: seconds left for the peer
};

IdentState& State() {
    static IdentState state;
    return state;
}

platform::LRESULT IdentProc(platform::HWND, platform::UINT msg, platform::WPARAM wparam,
                            platform::LPARAM lparam);

platform::HWND IdentWindow() {
    IdentState& s = State();
    if (!platform::IsWindow(s.window)) s.window = platform::CreateWindow(IdentProc);
    return s.window;
}

void Show(std::string_view text) {
    if (Options().idisplay) Print(Windows().statwin, text, 5);
}

void Accept() {
    IdentState& s = State();
    if (s.listener == net::kNoSocket) return;
    net::Address from;
    net::Socket peer =
        net::Accept(s.listener, IdentWindow(), kMsgIdentRead, &from, net::FD_READ | net::FD_CLOSE);
    if (peer == net::kNoSocket) return;
    if (s.peer != net::kNoSocket) net::Close(s.peer);
    s.peer = peer;
    s.query.clear();
    s.pending.clear();
    // One peer at a time: the listener rests until this one is done.
    net::Select(s.listener, IdentWindow(), kMsgIdentAccept, 0);
    if (Options().idisplay) {
        StatusGap();
        uint32_t a = net::AddressIPv4(from);
        if (a != 0) {
            Show("*** Identd request from " + std::to_string(a >> 24) + "." +
                 std::to_string((a >> 16) & 0xFF) + "." + std::to_string((a >> 8) & 0xFF) + "." +
                 std::to_string(a & 0xFF));
        } else {
            Show("*** Identd request...");
        }
    }
    s.timer = kIdentSeconds;
}

// The ports of the socket that carries (or is about to carry) our server connection.
bool OurPorts(uint16_t& local, uint16_t& remote) {
    net::Socket sock = Conn().Sock;
    if (sock == net::kNoSocket) sock = SocksSocket();
    if (sock == net::kNoSocket) return false;
    auto l = net::LocalAddress(sock);
    auto r = net::PeerAddress(sock);
    if (!l || !r) return false;
    local = net::AddressPort(*l);
    remote = net::AddressPort(*r);
    return true;
}

void SendPending() {
    IdentState& s = State();
    while (!s.pending.empty()) {
        ptrdiff_t n = net::Write(s.peer, s.pending);
        if (n > 0) s.pending.erase(0, static_cast<size_t>(n));
        if (n < 0) {
            if (errno == EWOULDBLOCK || errno == EAGAIN) {
                net::Select(s.peer, IdentWindow(), kMsgIdentWrite, net::FD_WRITE | net::FD_CLOSE);
                return;
            }
            break;
        }
    }
    iwerr(1);
}

void Answer() {
    IdentState& s = State();
    auto ports = ParseIdentQuery(s.query);
    if (!ports) {
        iwerr(1);
        return;
    }
    uint16_t local = 0, remote = 0;
    if (!OurPorts(local, remote)) local = remote = 0;
    const IdentSettings& id = Ident();
    s.pending = IdentReply(ports->first, ports->second, local, remote, id.system, id.userid);
    if (Options().idisplay) {
        Show("*** Identd replied: " + s.pending.substr(0, s.pending.size() - 2));
        StatusGap();
    }
    SendPending();
}

void Receive(platform::LPARAM lparam) {
    IdentState& s = State();
    if (s.peer == net::kNoSocket) return;
    uint16_t event = platform::LOWORD(static_cast<uintptr_t>(lparam));
    if (event & net::FD_CLOSE || platform::HIWORD(static_cast<uintptr_t>(lparam)) != 0) {
        iwerr(1);
        return;
    }
    char buf[256];
    size_t room = kIdentQueryLimit - s.query.size();
    ptrdiff_t n = net::Read(s.peer, std::span<char>(buf, std::min(sizeof buf, room)));
    if (n < 0 && (errno == EWOULDBLOCK || errno == EAGAIN || errno == EINTR)) return;
    if (n <= 0) {
        iwerr(1);
        return;
    }
    s.query.append(buf, static_cast<size_t>(n));
    if (s.query.find('\n') != std::string::npos) {
        net::Select(s.peer, IdentWindow(), kMsgIdentRead, 0);
        Answer();
    } else if (s.query.size() >= kIdentQueryLimit) {
        iwerr(1);
    }
}

void Write(platform::LPARAM lparam) {
    IdentState& s = State();
    if (s.peer == net::kNoSocket) return;
    uint16_t event = platform::LOWORD(static_cast<uintptr_t>(lparam));
    if (event & net::FD_CLOSE || platform::HIWORD(static_cast<uintptr_t>(lparam)) != 0) {
        iwerr(1);
        return;
    }
    SendPending();
}

platform::LRESULT IdentProc(platform::HWND, platform::UINT msg, platform::WPARAM wparam,
                            platform::LPARAM lparam) {
    IdentState& s = State();
    switch (msg) {
        case kMsgIdentListen:
            IdentListen();
            break;
        case kMsgIdentAccept:
            if (static_cast<net::Socket>(wparam) == s.listener) Accept();
            break;
        case kMsgIdentRead:
            if (static_cast<net::Socket>(wparam) == s.peer) Receive(lparam);
            break;
        case kMsgIdentWrite:
            if (static_cast<net::Socket>(wparam) == s.peer) Write(lparam);
            break;
        default:
            break;
    }
    return 0;
}

void IdentTick() {
    IdentState& s = State();
    if (s.timer > 0 && --s.timer == 0) iwerr(1);
}

}  // namespace

IdentSettings& Ident() {
    static IdentSettings settings;
    return settings;
}

void ReadIdentSettings() {
    const std::string& ini = Options().szINI;
    IdentSettings& id = Ident();
    id.userid = platform::GetPrivateProfileString("Ident", "userid", "", 100, ini);
    id.system = platform::GetPrivateProfileString("Ident", "system", "UNIX", 50, ini);
    if (id.system.empty()) id.system = "UNIX";
    std::string port = platform::GetPrivateProfileString("Ident", "port", "113,0", 20, ini);
    long p = std::strtol(port.c_str(), nullptr, 10);
    id.port = p < 0 ? 0 : static_cast<int>(std::min(p, 65535L));
    id.active =
        EqualNoCase(platform::GetPrivateProfileString("Ident", "active", "no", 10, ini), "yes") &&
        !id.userid.empty();
    if (id.active) platform::PostMessage(IdentWindow(), kMsgIdentListen);
}

std::optional<std::pair<long, long>> ParseIdentQuery(std::string_view query) {
    query = query.substr(0, query.find_first_of("\r\n"));
    size_t comma = query.find(',');
    if (comma == std::string_view::npos) return std::nullopt;
    // Each side is a decimal number between blanks; anything else is no port at all.
    auto number = [](std::string_view text) -> long {
        size_t b = text.find_first_not_of(" \t");
        size_t e = text.find_last_not_of(" \t");
        if (b == std::string_view::npos) return 0;
        text = text.substr(b, e - b + 1);
        if (text.empty() || text.size() > 6) return 0;
        long v = 0;
        for (char c : text) {
            if (c < '0' || c > '9') return 0;
            v = v * 10 + (c - '0');
        }
        return v;
    };
    return std::make_pair(number(query.substr(0, comma)), number(query.substr(comma + 1)));
}

std::string IdentReply(long local_port, long remote_port, uint16_t our_local, uint16_t our_remote,
                       std::string_view system, std::string_view userid) {
    std::string head = std::to_string(local_port) + ", " + std::to_string(remote_port) + " : ";
    if (local_port < 1 || local_port > 65535 || remote_port < 1 || remote_port > 65535)
        return head + "ERROR : INVALID-PORT\r\n";
    if (our_local == 0 || local_port != our_local || remote_port != our_remote)
        return head + "ERROR : NO-USER\r\n";
    return head + "USERID : " + std::string(system) + " : " + std::string(userid) + "\r\n";
}

void IdentListen() {
    IdentState& s = State();
    if (!Ident().active) return;
    if (s.listener != net::kNoSocket) {
        iwerr(1);
        return;
    }
    auto at = net::ParseAddress("0.0.0.0", static_cast<uint16_t>(Ident().port));
    s.listener = at ? net::Listen(*at, IdentWindow(), kMsgIdentAccept, 5) : net::kNoSocket;
    if (s.listener == net::kNoSocket) {
        // Port 113 needs privileges most users lack; the logon goes on without the responder.
        Print(Windows().statwin,
              "*** Identd unable to listen on port " + std::to_string(Ident().port), 1);
        iwerr(0);
    }
}

void iwerr(int resume) {
    IdentState& s = State();
    if (s.peer != net::kNoSocket) net::Close(s.peer);
    s.peer = net::kNoSocket;
    s.timer = 0;
    s.query.clear();
    s.pending.clear();
    if (s.listener == net::kNoSocket) return;
    if (resume) {
        net::Select(s.listener, IdentWindow(), kMsgIdentAccept, net::FD_ACCEPT);
    } else {
        net::Close(s.listener);
        s.listener = net::kNoSocket;
    }
}

bool IdentListening() {
    return State().listener != net::kNoSocket;
}

void InstallIdent() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    SettingsReaders().push_back(ReadIdentSettings);
    Frame().each_second.push_back(IdentTick);
    Conn().attempt_started = [] { iwerr(1); };
}

}  // namespace chat
