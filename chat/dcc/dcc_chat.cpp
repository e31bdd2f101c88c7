// DCC chat sessions and the file server that runs over the same kind of connection.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "chat/core/options.h"
#include "chat/core/session/ctcp_incoming.h"
#include "chat/core/session/session_state.h"
#include "chat/core/windows/window_print.h"
#include "chat/dcc/dcc_state.h"
#include "chat/dcc/file_server.h"
#include "chat/script/remote_scripts.h"
#include "chat/script/script_state.h"
#include "chat/script/tokens.h"

namespace chat::dcc {
namespace {

namespace net = platform::net;

/// Characters of one received chat line; a longer line is ended there.
constexpr size_t kChatLine = 651;
/// Bytes queued on one chat connection before further lines are refused.
constexpr size_t kMaxQueued = 1 << 20;

WindowId Status() {
    return Windows().statwin;
}

int FindChat(WindowId window, net::Socket s) {
    auto& c = Dcc().chats;
    for (int i = 0; i < kSlots; ++i)
        if (c[i].window == window && c[i].socket == s && s != net::kNoSocket) return i;
    return -1;
}

void DoChatClose(int slot) {
    ChatSlot& c = Dcc().chats[slot];
    WindowId window = c.window;
    std::string nick = c.nick;
    if (c.server) {
        Pp(Status(), "DCC Fileserver to " + nick + " closed", 3);
        cinit(slot, 0);
        closewindow(window);
        return;
    }
    if (Options().bcc) Beep();
    cinit(slot, 1);
    if (!Options().accw) {
        PrintSP(window, 3);
        Print(window, "DCC session closed", 3);
        return;
    }
    Pp(Status(), "DCC Chat with " + nick + " closed", 3);
    c.window = 0;
    closewindow(window);
}

// Sends what is queued; false when the session failed.
bool Flush(int slot) {
    ChatSlot& c = Dcc().chats[slot];
    while (!c.out.empty()) {
        std::ptrdiff_t n = net::Write(c.socket, c.out);
        if (n > 0) c.out.erase(0, static_cast<size_t>(n));
        if (n < 0) {
            if (errno == EWOULDBLOCK || errno == EAGAIN) return true;
            Print(c.window, "Error sending chat message...", 1);
            cinit(slot, 1);
            return false;
        }
        if (n == 0) return true;
    }
    return true;
}

void Queue(int slot, const std::string& text) {
    ChatSlot& c = Dcc().chats[slot];
    c.idle = 0;
    if (c.out.size() + text.size() > kMaxQueued) return;
    c.out += text;
}

void Prompt(int slot) {
    ChatSlot& c = Dcc().chats[slot];
    Queue(slot, "[" + c.current + "]\n");
    Print(c.window, "[" + c.current + "]", 1);
    c.server_state = 0;
}

// Sends one page of the file being read, then the page prompt or, at its end, the folder.
void SendPage(int slot) {
    ChatSlot& c = Dcc().chats[slot];
    if (!c.paged) return Prompt(slot);
    char line[258];
    int sent = 0;
    while (sent < c.page) {
        if (!std::fgets(line, 257, c.paged.get())) {
            c.paged.reset();
            return Prompt(slot);
        }
        std::string text = line;
        if (text.empty()) continue;
        if (text.back() != '\n') text += '\n';
        Queue(slot, text);
        ++sent;
    }
    int c1 = std::fgetc(c.paged.get());
    if (c1 == EOF) {
        c.paged.reset();
        return Prompt(slot);
    }
    std::ungetc(c1, c.paged.get());
    long at = std::ftell(c.paged.get());
    if (c.paged_size > 1 && at >= 0)
        Queue(slot, "[" + std::to_string(static_cast<uint64_t>(at) * 100 / c.paged_size) +
                        "% read, 'C' for more, 'S' to stop]\n");
    else
        Queue(slot, "['C' for more, 'S' to stop]\n");
    c.server_state = 10;
}

bool StartPaging(int slot, const std::string& path) {
    ChatSlot& c = Dcc().chats[slot];
    c.paged.reset(std::fopen(path.c_str(), "r"));
    if (!c.paged) {
        Print(c.window, "[* Error opening file " + path + "]", 1);
        return false;
    }
    struct stat st {};
    c.paged_size = ::fstat(::fileno(c.paged.get()), &st) == 0 && st.st_size > 0
                       ? static_cast<uint64_t>(st.st_size)
                       : 1;
    SendPage(slot);
    return true;
}

void Greet(int slot) {
    ChatSlot& c = Dcc().chats[slot];
    Queue(slot, "vesk32 v4.1 File Server\n");
    if (!c.welcome.empty() && StartPaging(slot, c.welcome)) return;
    Queue(slot, "Use: cd dir ls get read help quit\n");
    Prompt(slot);
}

std::vector<std::string> Words(const std::string& line) {
    std::vector<std::string> out;
    size_t i = 0;
    while (i < line.size() && out.size() < 10) {
        if (line[i] == ' ') {
            ++i;
            continue;
        }
        size_t end = std::min(line.find(' ', i), line.size());
        out.push_back(line.substr(i, end - i));
        i = end;
    }
    return out;
}

void AfterCd(int slot) {
    ChatSlot& c = Dcc().chats[slot];
    struct stat st {};
    std::string info = c.current + "/dirinfo.srv";
    if (::lstat(info.c_str(), &st) == 0 && S_ISREG(st.st_mode) && StartPaging(slot, info)) return;
    Prompt(slot);
}

void Reply(int slot, const std::string& text) {
    Queue(slot, text);
    Dcc().chats[slot].server_state = 0;
}

// One command of a file-server peer. Every name is one path component and every target must
// resolve inside the served folder.
void dofcommand(int slot, const std::string& line) {
    ChatSlot& c = Dcc().chats[slot];
    if (c.server_state == 10) {
        if (EqualNoCase(line, "c")) return SendPage(slot);
        c.paged.reset();
        return Prompt(slot);
    }
    if (c.server_state != 0) return;
    std::vector<std::string> w = Words(line);
    if (w.empty()) return;
    const std::string& cmd = w[0];
    if (EqualNoCase(cmd, "cd..") || EqualNoCase(cmd, "cd")) {
        std::string arg = EqualNoCase(cmd, "cd..") ? ".." : (w.size() > 1 ? w[1] : "");
        if (arg == "..") {
            size_t cut = c.current.find_last_of('/');
            std::string up = cut == std::string::npos || cut == 0 ? "/" : c.current.substr(0, cut);
            auto inside = InsideHome(c.home, up, "");
            c.current = inside ? *inside : c.home;
            return AfterCd(slot);
        }
        if (arg.empty() || arg == ".") return AfterCd(slot);
        if (arg.find_first_of("\\/.") != std::string::npos) return Reply(slot, "Invalid format.\n");
        auto inside = InsideHome(c.home, c.current, arg);
        struct stat st {};
        if (!inside || inside->size() > kMaxServedPath || ::stat(inside->c_str(), &st) != 0 ||
            !S_ISDIR(st.st_mode))
            return Reply(slot, "Invalid directory.\n");
        c.current = *inside;
        return AfterCd(slot);
    }
    if (EqualNoCase(cmd, "dir") || EqualNoCase(cmd, "ls")) {
        ListingOptions o;
        o.wide = EqualNoCase(cmd, "ls");
        o.bytes = c.bytes;
        o.columns = c.columns;
        for (size_t i = 1; i < w.size(); ++i) {
            const std::string& a = w[i];
            if (EqualNoCase(a, "/w"))
                o.wide = true;
            else if (a == "-b")
                o.bytes = c.bytes = true;
            else if (a == "-k")
                o.bytes = c.bytes = false;
            else if (a.size() == 2 && a[0] == '-' && a[1] >= '1' && a[1] <= '9')
                o.columns = c.columns = a[1] - '0';
            else if (IsOneComponent(a))
                o.pattern = a;
            else
                return Reply(slot, "Invalid format.\n");
        }
        for (const std::string& l : BuildDirList(c.current, o, c.current == c.home)) Queue(slot, l);
        c.server_state = 0;
        return;
    }
    if (EqualNoCase(cmd, "get")) {
        if (w.size() < 2) return Reply(slot, "No filename specified.\n");
        // Peers type names in any letter case, as on the systems most of them use.
        auto name = FileNamedNoCase(c.current, w[1]);
        auto inside = name ? InsideHome(c.home, c.current, *name) : std::nullopt;
        struct stat st {};
        if (!inside || ::stat(inside->c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            return Reply(slot, "Invalid filename.\n");
        int total = 0;
        for (const SendSlot& s : Dcc().sends) total += s.state > 0 && s.state != 5;
        if (RunningSends(c.nick) >= c.gets || total >= Options().msgs)
            return Reply(slot, "Max. number of gets in progress.\n");
        StartSend(c.nick, *inside, true);
        c.server_state = 0;
        return;
    }
    if (EqualNoCase(cmd, "read")) {
        size_t at = 1;
        if (w.size() > 2 && w[1].size() > 1 && w[1][0] == '-') {
            c.page = std::clamp(std::atoi(w[1].c_str() + 1), 5, 50);
            at = 2;
        }
        if (w.size() <= at) return Reply(slot, "No filename specified.\n");
        if (w[at].find_first_of("\\/") != std::string::npos)
            return Reply(slot, "Invalid format.\n");
        auto inside = InsideHome(c.home, c.current, w[at]);
        struct stat st {};
        if (!inside || ::stat(inside->c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0)
            return Reply(slot, "Unable to access specified file.\n");
        if (!StartPaging(slot, *inside)) Prompt(slot);
        return;
    }
    if (EqualNoCase(cmd, "help") || cmd == "?")
        return Reply(slot, "Use: cd dir ls get read help exit\n");
    if (EqualNoCase(cmd, "bye") || EqualNoCase(cmd, "exit") || EqualNoCase(cmd, "quit")) {
        Flush(slot);
        return DoChatClose(slot);
    }
    Reply(slot, "Invalid command.\n");
}

// The events script's turn at a received line (chat event 50, file-server event 51), with this
// session as the one that replies to the partner go to. True when a handler took the line.
bool parsechat(int slot, int code, const std::string& line) {
    RemoteEvent e;
    e.code = code;
    e.name = code == kEventServ ? "serv" : "chat";
    e.nick = Dcc().chats[slot].nick;
    e.text = line;
    e.params.assign(1, std::string());
    for (std::string& w : SplitWords(line, kMaxParams)) e.params.push_back(std::move(w));
    int outer = Dcc().event_chat;
    Dcc().event_chat = slot;
    int taken = dolfc(std::move(e));
    Dcc().event_chat = outer;
    return taken != 0;
}

// Shows one received line and hands it to the event handlers (and the file server).
void PrintChat(int slot, const std::string& line) {
    ChatSlot& c = Dcc().chats[slot];
    std::string nick = c.nick;
    WindowId window = c.window;
    std::string shown;
    int colour = 0;
    if (StartsNoCase(line,
                     "\x01"
                     "ACTION ")) {
        shown = doctcpaction(nick, line);
        colour = Options().aap ? 5 : 0;
    } else if (StartsNoCase(line,
                            "\x01"
                            "SOUND ")) {
        std::string rest = line.substr(7, line.find('\x01', 7) - 7);
        size_t blank = rest.find(' ');
        shown =
            blank == std::string::npos ? "[" + nick + " SOUND]" : "* " + nick + rest.substr(blank);
        colour = blank == std::string::npos ? 3 : (Options().aap ? 5 : 0);
    } else {
        shown = "<" + nick + "> " + line;
    }
    Windows().tab = 3;
    if (!shown.empty()) Print(window, timestamp(shown), colour);
    if (!c.server) {
        const WindowRecord* r = RecordOf(window);
        if (r && r->beep && Windows().CActive != window) Beep();
        parsechat(slot, kEventChat, line);
        return;
    }
    uint64_t generation = c.generation;
    if (parsechat(slot, kEventServ, line)) return;
    // The handlers may have closed the session.
    if (c.generation == generation && c.state == 3) dofcommand(slot, line);
}

void DoChatReceive(int slot) {
    ChatSlot& c = Dcc().chats[slot];
    if (c.state != 3) return;
    c.idle = 0;
    char buffer[700];
    std::ptrdiff_t n = net::Read(c.socket, buffer);
    if (n == 0) return DoChatClose(slot);
    if (n < 0) {
        if (errno == EWOULDBLOCK || errno == EAGAIN) return;
        Print(c.window, "Error receiving data...", 1);
        return cinit(slot, 1);
    }
    uint64_t generation = c.generation;
    for (std::ptrdiff_t i = 0; i < n; ++i) {
        char b = buffer[i];
        if (b == '\t' || b == '\r') continue;
        if (b != '\n') c.line += b;
        if (b == '\n' || c.line.size() >= kChatLine) {
            std::string line;
            line.swap(c.line);
            PrintChat(slot, line);
            // The line may have closed the session.
            if (c.generation != generation || c.state != 3) return;
        }
    }
    if (c.server) Flush(slot);
}

void Established(int slot) {
    ChatSlot& c = Dcc().chats[slot];
    c.idle = 0;
    c.state = 3;
    Print(c.window, "DCC Chat connection established", 3);
    PrintSP(c.window, 3);
    if (c.server) {
        c.server_state = 1;
        Greet(slot);
        Flush(slot);
    } else if (Windows().CActive != c.window) {
        Beep();
    }
}

}  // namespace

void FileServerCommand(int slot, const std::string& line) {
    dofcommand(slot, line);
}

void cinit(int slot, int how) {
    ChatSlot& c = Dcc().chats[slot];
    net::Close(c.socket);
    c.socket = net::kNoSocket;
    c.paged.reset();
    c.out.clear();
    c.listing.clear();
    if (how == 0) {
        c = ChatSlot{};
    } else {
        c.state = 0;
    }
}

void DoConnectChat(int slot) {
    ChatSlot& c = Dcc().chats[slot];
    c.state = 2;
    auto to = net::ParseAddress(c.address, static_cast<uint16_t>(c.port));
    if (!to) {
        Print(c.window, "Unable to inet_addr: (" + c.address + ")", 1);
        return cinit(slot, 1);
    }
    c.socket = net::Connect(*to, c.window, kMsgChatConnect, net::FD_CONNECT);
    if (c.socket == net::kNoSocket) {
        Print(c.window, errno == EMFILE ? "Unable to create socket" : "Unable to connect to Client",
              1);
        cinit(slot, 1);
    }
}

void ChatMessage(WindowId window, platform::UINT msg, platform::WPARAM wp, platform::LPARAM lp) {
    net::Socket s = static_cast<net::Socket>(wp);
    uint16_t event = platform::LOWORD(static_cast<uintptr_t>(lp));
    uint16_t error = platform::HIWORD(static_cast<uintptr_t>(lp));
    int slot = FindChat(window, s);
    if (slot < 0) return Beep();
    ChatSlot& c = Dcc().chats[slot];
    if (msg == kMsgChatConnect) {
        if (event != net::FD_CONNECT) return;
        if (error) {
            Print(c.window, "Unable to connect to Client", 1);
            return cinit(slot, 1);
        }
        net::Select(s, window, kMsgChatData, net::FD_READ | net::FD_WRITE | net::FD_CLOSE);
        return Established(slot);
    }
    if (msg == kMsgChatAccept) {
        if (!(event & net::FD_ACCEPT)) return;
        net::Socket peer = net::Accept(s, window, kMsgChatData);
        net::Close(s);
        c.socket = peer;
        if (peer == net::kNoSocket) {
            Print(c.window, "Unable to allocate socket", 1);
            return cinit(slot, 1);
        }
        return Established(slot);
    }
    if (event & net::FD_READ) return DoChatReceive(slot);
    if (event & net::FD_WRITE) {
        Flush(slot);
        return;
    }
    if (event & net::FD_CLOSE) DoChatClose(slot);
}

int SendChat(WindowId window, const std::string& nick, const std::string& text) {
    auto& chats = Dcc().chats;
    int slot = -1;
    // An event handler's reply goes back to the session whose line it answers.
    int answering = Dcc().event_chat;
    if (!nick.empty() && answering >= 0 && chats[answering].window &&
        EqualNoCase(chats[answering].nick, nick))
        slot = answering;
    for (int i = 0; i < kSlots && slot < 0; ++i) {
        bool match = nick.empty() ? chats[i].window == window && window != 0
                                  : chats[i].window && !chats[i].server &&
                                        EqualNoCase(chats[i].nick, nick) && chats[i].state == 3;
        if (match) slot = i;
    }
    if (slot < 0 && !nick.empty())
        for (int i = 0; i < kSlots && slot < 0; ++i)
            if (chats[i].window && EqualNoCase(chats[i].nick, nick)) slot = i;
    if (slot < 0) return -1;
    if (chats[slot].state != 3 || chats[slot].socket == net::kNoSocket) return 0;
    std::string line = text.substr(0, 700);
    line.erase(std::remove(line.begin(), line.end(), '\n'), line.end());
    Queue(slot, line + "\n");
    Flush(slot);
    return 1;
}

void ChatTick() {
    const ChatOptions& o = Options();
    auto& chats = Dcc().chats;
    for (int i = 0; i < kSlots; ++i) {
        ChatSlot& c = chats[i];
        if (c.window && !RecordOf(c.window)) {
            cinit(i, 0);
            continue;
        }
        if (c.asked && ++c.wait >= o.tod) {
            Pp(Status(), "*** DCC Chat request from " + c.nick + " was not answered", 3);
            cinit(i, 0);
            continue;
        }
        if (!c.server || c.state == 0) continue;
        ++c.idle;
        if (o.tod3 > 30 && c.idle == o.tod3 - 30 && c.server_state == 0 && c.state == 3) {
            Queue(i, "Closing Idle connection in 30 seconds...\n");
            c.idle = o.tod3 - 30;
            Flush(i);
        }
        if (c.idle > o.tod3) {
            Pp(Status(), "Fileserver to " + c.nick + " timed out...", 3);
            WindowId w = c.window;
            cinit(i, 0);
            closewindow(w);
        }
    }
}

}  // namespace chat::dcc
