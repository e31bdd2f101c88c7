#include "chat/dde/dde_server.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <map>

#include "chat/core/connection/connection.h"
#include "chat/core/frame.h"
#include "chat/core/options.h"
#include "chat/core/session/nick_list.h"
#include "chat/core/session/session_state.h"
#include "chat/core/windows/line_list.h"
#include "chat/core/windows/window_print.h"
#include "chat/core/windows/window_table.h"
#include "chat/dde/dde_channel.h"
#include "chat/script/input_parser.h"
#include "chat/script/script_state.h"
#include "platform/event_loop.h"
#include "platform/profile.h"

namespace chat {
namespace {

// Seconds a connected program has to send its transaction.
constexpr int kPeerSeconds = 10;
// Programs served at once; more wait in the listen queue.
constexpr size_t kMaxPeers = 16;

struct Peer {
    std::string got;
    int seconds = kPeerSeconds;
};

struct Listener {
    platform::UniqueFd fd;
    std::string path;
    std::map<int, Peer> peers;
    bool ticking = false;
};

Listener& Serving() {
    static Listener listener;
    return listener;
}

void DropPeer(int fd) {
    platform::UnwatchFd(fd);
    ::close(fd);
    Serving().peers.erase(fd);
}

void Answer(int fd, std::string_view line) {
    std::string reply;
    if (auto t = ParseDdeTransaction(line)) {
        if (t->poke) {
            reply = DdePoke(t->topic, t->data) ? "ACK\n" : "NACK\n";
        } else if (auto answer = DdeAnswer(t->topic, t->item)) {
            std::string text = *answer;
            for (char& c : text)
                if (c == '\n' || c == '\r') c = ' ';
            reply = "DATA\t" + text + "\n";
        } else {
            reply = "NONE\n";
        }
    } else {
        reply = "NONE\n";
    }
    // The answer is small; a program that does not read it loses it.
    ::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
}

void PeerReadable(int fd) {
    Listener& l = Serving();
    auto it = l.peers.find(fd);
    if (it == l.peers.end()) return;
    char buf[1024];
    ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
    if (n <= 0) {
        DropPeer(fd);
        return;
    }
    it->second.got.append(buf, static_cast<size_t>(n));
    size_t lf = it->second.got.find('\n');
    if (lf == std::string::npos) {
        if (it->second.got.size() > kDdeRequestLimit) DropPeer(fd);
        return;
    }
    if (lf > kDdeRequestLimit) {
        DropPeer(fd);
        return;
    }
    std::string line = it->second.got.substr(0, lf);
    // The poked command may stop the server (and so drop this peer): answer from a copy.
    Answer(fd, line);
    if (Serving().peers.count(fd)) DropPeer(fd);
}

void Accept() {
    Listener& l = Serving();
    if (l.fd.get() < 0) return;
    for (;;) {
        int fd = ::accept4(l.fd.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) return;
        ucred cred{};
        socklen_t length = sizeof cred;
        // Only programs of our own user may ask or command.
        if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &length) != 0 ||
            cred.uid != ::getuid() || l.peers.size() >= kMaxPeers) {
            ::close(fd);
            continue;
        }
        l.peers[fd] = Peer{};
        platform::WatchFd(fd, POLLIN, [](int peer, short) { PeerReadable(peer); });
    }
}

void PeerTick() {
    Listener& l = Serving();
    std::vector<int> late;
    for (auto& [fd, peer] : l.peers)
        if (--peer.seconds <= 0) late.push_back(fd);
    for (int fd : late) DropPeer(fd);
}

void StopServing() {
    Listener& l = Serving();
    std::vector<int> fds;
    for (auto& [fd, peer] : l.peers) fds.push_back(fd);
    for (int fd : fds) DropPeer(fd);
    if (l.fd.get() >= 0) {
        platform::UnwatchFd(l.fd.get());
        l.fd.reset();
        // Only our own socket is removed: another instance may have taken the name since.
        struct stat st {};
        if (!l.path.empty() && ::lstat(l.path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode))
            ::unlink(l.path.c_str());
    }
    l.path.clear();
}

bool StartServing(const std::string& name) {
    Listener& l = Serving();
    std::string path = DdeSocketPath(name);
    if (path.empty() || !PrepareDdeFolder(DdeFolder())) return false;
    sockaddr_un at{};
    at.sun_family = AF_UNIX;
    std::memcpy(at.sun_path, path.data(), path.size());
    // A socket left by an instance that ended is taken over; one that answers is not.
    {
        platform::UniqueFd probe(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        if (probe.get() >= 0 &&
            ::connect(probe.get(), reinterpret_cast<sockaddr*>(&at), sizeof at) == 0)
            return false;
        struct stat st {};
        if (::lstat(path.c_str(), &st) == 0) {
            if (!S_ISSOCK(st.st_mode)) return false;
            ::unlink(path.c_str());
        }
    }
    platform::UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (fd.get() < 0) return false;
    mode_t old = ::umask(0177);
    int bound = ::bind(fd.get(), reinterpret_cast<sockaddr*>(&at), sizeof at);
    ::umask(old);
    if (bound != 0 || ::chmod(path.c_str(), 0600) != 0 || ::listen(fd.get(), 8) != 0) {
        if (bound == 0) ::unlink(path.c_str());
        return false;
    }
    l.fd = std::move(fd);
    l.path = path;
    platform::WatchFd(l.fd.get(), POLLIN, [](int, short) { Accept(); });
    if (!l.ticking) {
        l.ticking = true;
        Frame().each_second.push_back(PeerTick);
    }
    return true;
}

// Message that starts the server the settings ask for.
constexpr platform::UINT kMsgStartServer = platform::WM_USER + 0x3B0;

std::string ProgramPath() {
    char buf[PATH_MAX] = {};
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

}  // namespace

void StartFromSettings();

DdeServerState& DdeServer() {
    static DdeServerState state;
    return state;
}

std::optional<std::string> DdeAnswer(std::string_view topic, std::string_view item) {
    const Connection& c = Conn();
    if (EqualNoCase(topic, "VERSION")) return std::string("Vesk32 4.1");
    if (EqualNoCase(topic, "TROUT")) return std::string("WHOP! THWACK! SLAP!");
    if (EqualNoCase(topic, "INIFILE")) return Options().szINI;
    if (EqualNoCase(topic, "EXENAME")) return ProgramPath();
    if (EqualNoCase(topic, "NICKNAME"))
        return c.session_nick.empty() ? LogonNickname() : c.session_nick;
    if (EqualNoCase(topic, "SERVER"))
        return c.Connected || c.Connecting ? c.szCHN : Options().szHostName;
    if (EqualNoCase(topic, "CONNECTED"))
        return std::string(c.Connecting ? "connecting"
                                        : (c.Connected ? "connected" : "not connected"));
    const WindowTable& w = Windows();
    if (EqualNoCase(topic, "CHANNELS")) {
        std::string out;
        for (const WindowRecord& r : w.ch) {
            if (r.window == 0 || r.kind != kKindChannel) continue;
            if (!out.empty()) out += ' ';
            if (r.window == w.CActive) out += '*';
            out += r.name;
        }
        return out;
    }
    if (EqualNoCase(topic, "USERS")) {
        if (item.empty() || (item[0] != '#' && item[0] != '&')) return std::nullopt;
        int slot = exists(item);
        if (slot < 0 || w.ch[static_cast<size_t>(slot)].kind != kKindChannel) return std::nullopt;
        const WindowRecord& r = w.ch[static_cast<size_t>(slot)];
        std::string out = r.name;
        for (const NickEntry& e : DisplayEntries(ChannelOf(r.window).nicks)) out += " " + e.text;
        return out;
    }
    return std::nullopt;
}

bool DdePoke(std::string_view topic, std::string_view data) {
    if (!EqualNoCase(topic, "COMMAND")) return false;
    std::string text(data.substr(0, kLineLimit - 1));
    if (!text.empty()) {
        WindowId window = Windows().CActive ? Windows().CActive : Windows().statwin;
        parseinput(window, text, kOriginParams, 0);
    }
    return true;
}

bool SetDDEServer(const std::string& name, bool on) {
    DdeServerState& s = DdeServer();
    StopServing();
    s.on = false;
    if (!on) return true;
    if (!StartServing(name)) return false;
    s.name = name;
    s.on = true;
    return true;
}

void CleanupDDE() {
    StopServing();
    DdeServer().on = false;
}

bool IsOwnService(std::string_view service) {
    return DdeServer().on && EqualNoCase(service, DdeServer().name);
}

void loaddde() {
    const std::string& ini = Options().szINI;
    DdeServerState& s = DdeServer();
    s.name =
        platform::GetPrivateProfileString("DDE", "ServiceName", "Vesk", kDdeServiceLimit + 1, ini);
    if (s.name.empty()) s.name = "Vesk";
    bool wanted =
        EqualNoCase(platform::GetPrivateProfileString("DDE", "ServerStatus", "off", 10, ini), "on");
    if (!wanted) return;
    // The settings are read before the status window exists: the start is reported once the
    // loop runs.
    static platform::HWND starter = 0;
    if (!platform::IsWindow(starter))
        starter = platform::CreateWindow(
            [](platform::HWND, platform::UINT msg, platform::WPARAM, platform::LPARAM) {
                if (msg == kMsgStartServer) StartFromSettings();
                return platform::LRESULT{0};
            });
    platform::PostMessage(starter, kMsgStartServer);
}

void StartFromSettings() {
    DdeServerState& s = DdeServer();
    if (SetDDEServer(s.name, true)) {
        Print(Windows().statwin, "*** DDE Server is ON (" + s.name + ")", 1);
    } else {
        Print(Windows().statwin, "*** DDE Server initiation failed", 1);
    }
}

bool savedde() {
    const std::string& ini = Options().szINI;
    const DdeServerState& s = DdeServer();
    return platform::WritePrivateProfileString("DDE", "ServerStatus", s.on ? "on" : "off", ini) &&
           platform::WritePrivateProfileString("DDE", "ServiceName", s.name, ini);
}

}  // namespace chat
