#include "chat/net/finger.h"

#include <cctype>
#include <cerrno>
#include <fstream>
#include <sstream>

#include "chat/core/connection/connection.h"
#include "chat/core/frame.h"
#include "chat/core/options.h"
#include "chat/core/session/address_cache.h"
#include "chat/core/session/session_state.h"
#include "chat/core/windows/window_print.h"
#include "chat/core/windows/window_table.h"
#include "chat/script/commands.h"
#include "platform/net.h"
#include "platform/profile.h"

namespace chat {
namespace {

namespace net = platform::net;

// Bytes taken from the finger peer in one read.
constexpr size_t kReadChunk = 700;

struct ClientSockets {
    platform::HWND window = 0;
    net::Socket sock = net::kNoSocket;
    uint32_t lookup = 0;
    FingerLines lines;
};

struct ResponderState {
    net::Socket listener = net::kNoSocket;
    net::Socket peer = net::kNoSocket;
    std::string query;
    std::string pending;    ///< reply bytes not yet sent
    std::string peer_host;  ///< the querying address in dotted form, empty when not given
    bool answered = false;
    int idle = 0;  ///< seconds left for the peer
};

ClientSockets& Sockets() {
    static ClientSockets state;
    return state;
}

ResponderState& Responder() {
    static ResponderState state;
    return state;
}

platform::LRESULT FingerProc(platform::HWND, platform::UINT msg, platform::WPARAM wparam,
                             platform::LPARAM lparam);

platform::HWND FingerHwnd() {
    ClientSockets& s = Sockets();
    if (!platform::IsWindow(s.window)) s.window = platform::CreateWindow(FingerProc);
    return s.window;
}

WindowId FingerWindow() {
    int slot = exists("Finger Window");
    return slot < 0 ? 0 : Windows().ch[static_cast<size_t>(slot)].window;
}

void Show(std::string_view text, int colour) {
    if (WindowId w = FingerWindow()) Print(w, text, colour);
}

void SaveFingerList() {
    std::vector<std::pair<std::string, std::string>> lines;
    size_t i = 0;
    for (const Line& l : Finger().szfinger) {
        if (i >= kFingerListLimit) break;
        lines.emplace_back("f" + std::to_string(i++), l.text);
    }
    platform::WriteProfileSection("Finger", lines, Options().szINI);
}

void ReadFingerSettings() {
    const std::string& ini = Options().szINI;
    FingerClient& f = Finger();
    freelines(f.szfinger);
    for (size_t i = 0; i < kFingerListLimit; ++i) {
        std::string a =
            platform::GetPrivateProfileString("Finger", "f" + std::to_string(i), "", 100, ini);
        if (a.empty()) break;
        aline(f.szfinger, a, false);
    }
    FingerResponder& r = FingerServerSettings();
    r.file = platform::GetPrivateProfileString("Files", "finger", Options().szPATH + "finger.txt",
                                               256, ini);
    auto port = [&ini](const char* key) {
        long p = platform::GetPrivateProfileInt("Ports", key, 79, ini);
        return (p <= 0 || p > 65535) ? 79 : static_cast<int>(p);
    };
    r.port = port("fingerserver");
    r.client_port = port("finger");
    if (Options().fingerserver) platform::PostMessage(FingerHwnd(), kMsgFingerListen);
}

void Remember(const std::string& address) {
    FingerClient& f = Finger();
    std::string entry = address.substr(0, address.find(' '));
    for (auto it = f.szfinger.begin(); it != f.szfinger.end();)
        it = EqualNoCase(it->text, entry) ? f.szfinger.erase(it) : std::next(it);
    f.szfinger.push_front(Line{0, entry});
    while (f.szfinger.size() > kFingerListLimit) f.szfinger.pop_back();
    SaveFingerList();
}

void DoFInit() {
    FingerClient& f = Finger();
    ClientSockets& s = Sockets();
    f.faddrt = 0;
    Remember(f.faddr);
    size_t at = f.faddr.find('@');
    if (at != std::string::npos) {
        f.uname = f.faddr.substr(0, at);
        f.faddr = f.faddr.substr(at + 1);
    } else {
        f.uname.clear();
    }
    f.faddr = f.faddr.substr(0, f.faddr.find(' '));
    f.InFinger = true;
    if (WindowId w = FingerWindow()) {
        PrintSP(w, 1);
    } else if (MakeNewWindow("Finger Window", false) == 0) {
        fwerr("Unable to open Finger window!");
        return;
    }
    Show("Trying " + f.faddr, 2);
    s.lookup = f.faddr.empty() ? 0 : net::Lookup(f.faddr, FingerHwnd(), kMsgFingerLookup);
    if (s.lookup == 0) fwerr("Unable to resolve specified address");
}

void DoFConnect(platform::WPARAM request) {
    ClientSockets& s = Sockets();
    auto result = net::TakeLookup(static_cast<uint32_t>(request));
    if (static_cast<uint32_t>(request) != s.lookup || s.lookup == 0) return;
    s.lookup = 0;
    if (!Finger().InFinger) return;
    if (!result || result->error != 0 || result->addresses.empty()) {
        fwerr("Unable to resolve specified address");
        return;
    }
    net::Address to = result->addresses.front();
    net::SetAddressPort(to, static_cast<uint16_t>(FingerServerSettings().client_port));
    s.sock = net::Connect(to, FingerHwnd(), kMsgFingerConnect, net::FD_CONNECT);
    if (s.sock == net::kNoSocket) fwerr("Unable to create Finger socket");
}

void DoFQuery(platform::LPARAM lparam) {
    FingerClient& f = Finger();
    ClientSockets& s = Sockets();
    if (!f.InFinger) return;
    if (platform::HIWORD(static_cast<uintptr_t>(lparam)) != 0) {
        fwerr("Unable to connect to specified address");
        return;
    }
    std::string request;
    if (!f.uname.empty()) {
        Show("Attempting to finger " + f.uname + "@" + f.faddr, 2);
        request = f.uname + "\r\n";
        f.uname.clear();
    } else {
        Show("Attempting to finger @" + f.faddr, 2);
        request = "\r\n";
    }
    ptrdiff_t n = net::Write(s.sock, request);
    if (n != static_cast<ptrdiff_t>(request.size())) {
        fwerr("Unable to send finger request");
        return;
    }
    if (WindowId w = FingerWindow()) PrintSP(w, 1);
    s.lines.Reset();
    net::Select(s.sock, FingerHwnd(), kMsgFingerData, net::FD_READ | net::FD_CLOSE);
}

void EndSession(std::string_view text) {
    fwerr(text);
    if (WindowId w = FingerWindow()) {
        PrintSP(w, 1);
        Print(w, "End of finger session", 2);
    }
}

void DoFRecv(platform::LPARAM lparam) {
    ClientSockets& s = Sockets();
    if (!Finger().InFinger) {
        fwerr("");
        return;
    }
    uint16_t error = platform::HIWORD(static_cast<uintptr_t>(lparam));
    char buf[kReadChunk];
    ptrdiff_t n = net::Read(s.sock, std::span<char>(buf, sizeof buf));
    if (n > 0) {
        s.lines.Push(std::string_view(buf, static_cast<size_t>(n)),
                     [](const std::string& line) { Show(line, 0); });
        return;
    }
    if (n < 0 && (errno == EWOULDBLOCK || errno == EAGAIN || errno == EINTR) && error == 0) return;
    EndSession(n < 0 || error != 0 ? "Error receiving Finger information" : "");
}

// The responder.

void fiwerr(int mode) {
    ResponderState& r = Responder();
    if (r.peer != net::kNoSocket) net::Close(r.peer);
    r.peer = net::kNoSocket;
    r.query.clear();
    r.pending.clear();
    r.answered = false;
    r.idle = 0;
    if (r.listener == net::kNoSocket) return;
    if (mode) {
        net::Select(r.listener, FingerHwnd(), kMsgFingerAccept, net::FD_ACCEPT);
    } else {
        net::Close(r.listener);
        r.listener = net::kNoSocket;
    }
}

void fIListen() {
    ResponderState& r = Responder();
    if (r.listener != net::kNoSocket) return;
    const int port = FingerServerSettings().port;
    auto at = net::ParseAddress("0.0.0.0", static_cast<uint16_t>(port));
    r.listener = at ? net::Listen(*at, FingerHwnd(), kMsgFingerAccept, 5) : net::kNoSocket;
    if (r.listener == net::kNoSocket) {
        // Port 79 needs privileges most users lack; say so rather than sit silent.
        Print(Windows().statwin,
              "*** Finger server unable to listen on port " + std::to_string(port), 1);
        fiwerr(0);
    }
}

void fIConnect() {
    ResponderState& r = Responder();
    if (r.listener == net::kNoSocket) return;
    net::Address from;
    net::Socket peer =
        net::Accept(r.listener, FingerHwnd(), kMsgFingerQuery, &from, net::FD_READ | net::FD_CLOSE);
    if (peer == net::kNoSocket) {
        fiwerr(1);
        return;
    }
    if (r.peer != net::kNoSocket) net::Close(r.peer);
    r.peer = peer;
    r.peer_host = from.length ? net::AddressHost(from) : std::string();
    r.query.clear();
    r.pending.clear();
    r.answered = false;
    r.idle = kFingerIdleSeconds;
    // One query at a time: the listener rests while this peer is served.
    net::Select(r.listener, FingerHwnd(), kMsgFingerAccept, 0);
}

void SendReply() {
    ResponderState& r = Responder();
    while (!r.pending.empty()) {
        ptrdiff_t n = net::Write(r.peer, r.pending);
        if (n > 0) r.pending.erase(0, static_cast<size_t>(n));
        if (n < 0) {
            if (errno == EWOULDBLOCK || errno == EAGAIN) {
                net::Select(r.peer, FingerHwnd(), kMsgFingerReply, net::FD_WRITE | net::FD_CLOSE);
                return;
            }
            break;
        }
    }
    // The connection ends with the reply, so one peer never holds the responder.
    fiwerr(2);
}

void Respond(const std::string& peer_host) {
    ResponderState& r = Responder();
    std::string query = r.query.substr(0, r.query.find_first_of("\r\n"));
    std::string section = query.empty() ? "[default]" : "[" + query + "]";
    std::string line = "* Finger server query " + section;
    if (!peer_host.empty()) line += " by " + peer_host;
    const std::string& path = FingerServerSettings().file;
    std::ifstream in(path, std::ios::binary);
    std::string text;
    if (in) {
        std::ostringstream all;
        all << in.rdbuf();
        text = all.str();
    }
    r.answered = true;
    if (!in) {
        Beep();
        Print(Windows().statwin, line + " (unable to open " + path + ")", 3);
        r.pending = "Error accessing finger file!\r\n";
    } else {
        Print(Windows().statwin, line, 3);
        r.pending = FingerReplyFor(text, query);
    }
    SendReply();
}

void fIReceive(platform::LPARAM lparam) {
    ResponderState& r = Responder();
    if (r.peer == net::kNoSocket || r.answered) return;
    uint16_t event = platform::LOWORD(static_cast<uintptr_t>(lparam));
    if ((event & net::FD_CLOSE) || platform::HIWORD(static_cast<uintptr_t>(lparam)) != 0) {
        fiwerr(2);
        return;
    }
    char buf[kFingerQueryLimit];
    size_t room = kFingerQueryLimit - std::min(r.query.size(), kFingerQueryLimit);
    ptrdiff_t n = room ? net::Read(r.peer, std::span<char>(buf, room)) : 0;
    if (n < 0 && (errno == EWOULDBLOCK || errno == EAGAIN || errno == EINTR)) return;
    if (n < 0) {
        fiwerr(2);
        return;
    }
    if (n > 0) r.query.append(buf, static_cast<size_t>(n));
    // The query is complete at its line end, or when no more of it would be read.
    if (r.query.find_first_of("\r\n") == std::string::npos && r.query.size() < kFingerQueryLimit &&
        n > 0)
        return;
    net::Select(r.peer, FingerHwnd(), kMsgFingerReply, net::FD_CLOSE);
    Respond(r.peer_host);
}

void FingerTick() {
    ResponderState& r = Responder();
    if (r.peer != net::kNoSocket && r.idle > 0 && --r.idle == 0) fiwerr(2);
}

platform::LRESULT FingerProc(platform::HWND, platform::UINT msg, platform::WPARAM wparam,
                             platform::LPARAM lparam) {
    ClientSockets& s = Sockets();
    ResponderState& r = Responder();
    net::Socket sock = static_cast<net::Socket>(wparam);
    switch (msg) {
        case kMsgFingerLookup:
            DoFConnect(wparam);
            break;
        case kMsgFingerConnect:
            if (sock == s.sock && s.sock != net::kNoSocket) DoFQuery(lparam);
            break;
        case kMsgFingerData:
            if (sock == s.sock && s.sock != net::kNoSocket) DoFRecv(lparam);
            break;
        case kMsgFingerListen:
            fIListen();
            break;
        case kMsgFingerAccept:
            if (sock == r.listener) fIConnect();
            break;
        case kMsgFingerQuery:
            if (sock == r.peer && r.peer != net::kNoSocket) fIReceive(lparam);
            break;
        case kMsgFingerReply:
            if (sock == r.peer && r.peer != net::kNoSocket) {
                uint16_t event = platform::LOWORD(static_cast<uintptr_t>(lparam));
                if ((event & net::FD_CLOSE) || platform::HIWORD(static_cast<uintptr_t>(lparam)))
                    fiwerr(2);
                else
                    SendReply();
            }
            break;
        default:
            break;
    }
    return 0;
}

// The address part of a who-is answer "nick!user@host": the host alone (state 3), or the user
// without leading marks such as "~" and the host (state 1).
std::string FingerAddressOf(const std::string& found, int state) {
    size_t bang = found.find('!');
    std::string address = bang == std::string::npos ? found : found.substr(bang + 1);
    size_t at = address.find('@');
    if (at == std::string::npos) return address;
    if (state == 3) return address.substr(at);
    size_t letter = 0;
    while (letter < at && !std::isalpha(static_cast<unsigned char>(address[letter]))) ++letter;
    return address.substr(letter);
}

}  // namespace

void FingerLines::Push(std::string_view bytes,
                       const std::function<void(const std::string&)>& emit) {
    for (char c : bytes) {
        if (line_.size() >= kFingerLineLimit) {
            emit(line_);
            line_.clear();
        }
        if (c == '\r') continue;
        if (c == '\n') {
            emit(line_.empty() ? std::string(" ") : line_);
            line_.clear();
        } else if (c == '\t') {
            do line_ += ' ';
            while (line_.size() % 8 != 0);
        } else {
            line_ += c;
        }
    }
}

std::string FingerReplyFor(std::string_view file_text, std::string_view query) {
    std::vector<std::string_view> lines;
    while (!file_text.empty()) {
        size_t lf = file_text.find('\n');
        std::string_view l = file_text.substr(0, lf);
        if (!l.empty() && l.back() == '\r') l.remove_suffix(1);
        lines.push_back(l);
        if (lf == std::string_view::npos) break;
        file_text.remove_prefix(lf + 1);
    }
    auto is_header = [](std::string_view l) {
        return !l.empty() && l[0] == '[' && l.find(']') != std::string_view::npos;
    };
    auto find = [&](const std::string& name) -> size_t {
        for (size_t i = 0; i < lines.size(); ++i)
            if (lines[i].size() >= name.size() &&
                EqualNoCase(lines[i].substr(0, name.size()), name))
                return i;
        return lines.size();
    };
    std::string name = query.empty() ? "[default]" : "[" + std::string(query) + "]";
    size_t at = find(name);
    if (at == lines.size() && name != "[default]") at = find("[default]");
    if (at == lines.size()) return "No such user!\r\n";
    std::string reply;
    for (size_t i = at + 1; i < lines.size() && !is_header(lines[i]); ++i) {
        if (reply.size() + lines[i].size() + 2 > kFingerReplyLimit) break;
        reply += std::string(lines[i]) + "\r\n";
    }
    return reply;
}

FingerClient& Finger() {
    static FingerClient state;
    return state;
}

FingerResponder& FingerServerSettings() {
    static FingerResponder settings;
    return settings;
}

void fwerr(std::string_view text) {
    FingerClient& f = Finger();
    ClientSockets& s = Sockets();
    if (f.InFinger && !text.empty()) Show(text, 3);
    f.faddrt = 0;
    s.lookup = 0;
    if (s.sock != net::kNoSocket) net::Close(s.sock);
    s.sock = net::kNoSocket;
    f.InFinger = false;
}

int dofinger(std::string_view argument, bool) {
    FingerClient& f = Finger();
    bool host_only = !argument.empty() && argument[0] == '@';
    if (host_only) argument.remove_prefix(1);
    f.faddr = std::string(argument.substr(0, 99));
    f.faddrt = 0;
    if (f.faddr.empty()) return 0;
    if (f.faddr.find('.') == std::string::npos) {
        std::string nick = f.faddr;
        int state = host_only ? 3 : 1;
        std::string found;
        if (findnick(nick, found)) {
            f.faddr = FingerAddressOf(found, state);
        } else {
            if (!Conn().Connected) {
                Print(Windows().statwin, "*** Not connected to server", 1);
                f.faddr.clear();
                return 0;
            }
            f.faddrt = state;
            checkwhois(
                nick,
                [state](const std::string& address) {
                    FingerClient& fc = Finger();
                    if (fc.faddrt != state || fc.InFinger) return;
                    fc.faddr = FingerAddressOf(address, state);
                    fc.faddrt = 2;
                    DoFInit();
                },
                [] { Finger().faddrt = 0; });
            return 1;
        }
    }
    DoFInit();
    return 1;
}

namespace {

void FingerHint() {
    Print(Windows().statwin,
          "*** The finger dialog is not available here: use /finger user@host, /finger @host "
          "or /finger nick",
          2);
}

void CancelFinger() {
    Show("Finger Cancelled", 3);
    Beep();
    fwerr("");
}

}  // namespace

int dofingercommand(WindowId, const Args& a, bool remote) {
    FingerClient& f = Finger();
    if (f.InFinger) {
        CancelFinger();
        return 0;
    }
    const std::string& word = Arg(a, 1);
    if (word.empty()) {
        // A script gets no dialog: it has nobody to answer it.
        if (remote) {
            FingerHint();
        } else {
            RunFingerDialog();
        }
        return 1;
    }
    return dofinger(word, remote);
}

std::vector<FingerMenuItem> MakeFingerMenu() {
    if (Finger().InFinger) return {{"Cancel Fin&ger\tAlt+G", kCmdFinger}};
    std::vector<FingerMenuItem> items = {{"Fin&ger...\tAlt+G", kCmdFinger}};
    for (const Line& l : Finger().szfinger) {
        if (items.size() > kFingerMenuAddresses) break;
        // A "&" in an address is shown, not taken as the item's letter.
        std::string text;
        for (char ch : l.text) text += ch == '&' ? std::string("&&") : std::string(1, ch);
        items.push_back({text, kFingerMenuFirst + static_cast<int>(items.size()) - 1});
    }
    return items;
}

bool ProcessFingerMenu(int id) {
    if (id < kFingerMenuFirst || id >= kFingerMenuFirst + static_cast<int>(kFingerMenuAddresses))
        return false;
    const LineList& recent = Finger().szfinger;
    const size_t index = static_cast<size_t>(id - kFingerMenuFirst);
    if (index >= recent.size() || Finger().InFinger) {
        Beep();
        return true;
    }
    dofinger(std::next(recent.begin(), static_cast<std::ptrdiff_t>(index))->text, false);
    return true;
}

void ClearFingerList() {
    freelines(Finger().szfinger);
    SaveFingerList();
}

FingerDialogFn& FingerDialog() {
    static FingerDialogFn dialog;
    return dialog;
}

void RunFingerDialog() {
    if (Finger().InFinger) return CancelFinger();
    const FingerDialogFn& dialog = FingerDialog();
    if (!dialog) return FingerHint();
    std::vector<std::string> recent;
    for (const Line& l : Finger().szfinger) recent.push_back(l.text);
    std::optional<std::string> address = dialog(recent, ClearFingerList);
    if (address && !address->empty()) dofinger(*address, false);
}

void SetFingerServer(bool on) {
    if (on) {
        fIListen();
    } else {
        fiwerr(0);
    }
}

bool FingerServerListening() {
    return Responder().listener != net::kNoSocket;
}

void InstallFinger() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    InstallCommand("/FINGER", dofingercommand);
    SettingsReaders().push_back(ReadFingerSettings);
    FrameState& frame = Frame();
    frame.more_commands = [earlier = std::move(frame.more_commands)](int command) {
        if (command == kCmdFinger) {
            RunFingerDialog();
            return true;
        }
        return earlier ? earlier(command) : false;
    };
    Frame().each_second.push_back(FingerTick);
}

}  // namespace chat
