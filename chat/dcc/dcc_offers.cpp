// Offers both ways: requests from other users, our own chat and file offers, and the pending
// offers and their answers.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>

#include "chat/core/connection/connection.h"
#include "chat/core/options.h"
#include "chat/core/session/session_state.h"
#include "chat/core/windows/display_text.h"
#include "chat/core/windows/window_print.h"
#include "chat/dcc/dcc_common.h"
#include "chat/dcc/dcc_state.h"
#include "chat/script/script_state.h"
#include "platform/profile.h"
#include "platform/xdg_places.h"

namespace chat::dcc {

// Helpers shared with the commands (dcc_common.h).
WindowId Status() {
    return Windows().statwin;
}

bool SameNick(std::string_view a, std::string_view b) {
    return EqualNoCase(a.substr(0, std::min<size_t>(a.size(), 100)),
                       b.substr(0, std::min<size_t>(b.size(), 100)));
}

// A nickname we may put into a line to the server.
bool UsableNick(std::string_view nick) {
    if (nick.empty() || nick.size() > 100) return false;
    return std::none_of(nick.begin(), nick.end(), [](char c) {
        return static_cast<unsigned char>(c) <= 32 || c == ',' || c == ':' || c == 127;
    });
}

// An automatic notice to another user: counted by the flood guard and the reply limits.
void Notify(std::string_view nick, const std::string& body) {
    if (UsableNick(nick) && AllowAutoReply(nick))
        SendToServer("NOTICE " + std::string(nick) + " :" + body, true);
}

void Refuse(std::string_view nick, const std::string& body, const std::string& text) {
    Notify(nick, body);
    Pp(Status(), text, 3);
}

bool FileExists(const std::string& path, uint64_t* size) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    if (size) *size = static_cast<uint64_t>(st.st_size);
    return true;
}

namespace {

// Our own address on the server connection when that runs over IPv6, else empty: offers then
// listen on IPv6 and carry the address in text form, as IPv6 peers expect.
std::string SessionIPv6() {
    auto local = platform::net::LocalAddress(Conn().Sock);
    if (!local || local->storage.ss_family != AF_INET6 || platform::net::AddressIPv4(*local) != 0)
        return {};
    return platform::net::AddressHost(*local);
}

// The address shown beside an offer of ours.
std::string OfferHostText() {
    std::string v6 = SessionIPv6();
    return v6.empty() ? Options().szsip : v6;
}

// The address an offer of ours names: the IPv6 text, or the IPv4 address as its 32-bit number.
std::string OfferAddress() {
    std::string v6 = SessionIPv6();
    return v6.empty() ? std::to_string(Options().sip) : v6;
}

}  // namespace

bool sipok(const char* kind) {
    if (Options().sip != 0 || !SessionIPv6().empty()) return true;
    if (Conn().ResolvingLocal)
        Pp(Status(), "*** Still attempting to resolve local host...", 2);
    else
        Pp(Status(), std::string("*** Unable to resolve local host for ") + kind, 2);
    return false;
}

namespace {

int gfind() {
    auto& g = Dcc().gets;
    for (int i = 0; i < kSlots; ++i)
        if (g[i].state == 0 && !g[i].window) return i;
    return -1;
}
int sfind() {
    auto& s = Dcc().sends;
    for (int i = 0; i < kSlots; ++i)
        if (s[i].state == 0 && !s[i].window) return i;
    return -1;
}
int cfind() {
    auto& c = Dcc().chats;
    for (int i = 0; i < kSlots; ++i)
        if (c[i].state == 0 && !c[i].window) return i;
    return -1;
}

// A listening socket on any address; its port, or -1 with the message printed.
platform::net::Socket ListenFor(WindowId window, platform::UINT msg, int& port) {
    auto any = platform::net::ParseAddress(SessionIPv6().empty() ? "0.0.0.0" : "::", 0);
    platform::net::Socket s = platform::net::Listen(*any, window, msg, 5);
    if (s == platform::net::kNoSocket) {
        Print(window, errno == EMFILE ? "Unable to create socket" : "Unable to bind socket", 1);
        return s;
    }
    auto local = platform::net::LocalAddress(s);
    port = local ? platform::net::AddressPort(*local) : 0;
    if (port == 0) {
        Print(window, "Unable to getsockname", 1);
        platform::net::Close(s);
        return platform::net::kNoSocket;
    }
    return s;
}

enum : platform::UINT { kMsgAskGet = 1046, kMsgAskChat = 1049 };

void AskGetNow(int slot, uint64_t generation) {
    auto waiting = [slot, generation] {
        const GetSlot& g = Dcc().gets[slot];
        return g.state == 1 && g.generation == generation;
    };
    const DccDialogs& ask = Dcc().dialogs;
    while (waiting()) {
        auto name = ask.get(Dcc().gets[slot], waiting);
        if (!waiting()) return;
        if (!name) return RefuseGet(slot);
        GetSlot& g = Dcc().gets[slot];
        std::string rename = *name == g.name ? "" : *name;
        auto safe = SafeReceivedName(rename.empty() ? g.name : rename, ProtectedNames());
        if (!safe) {
            Print(Status(), "*** Invalid DCC Send filename", 3);
            continue;
        }
        std::string path = GetFolder() + *safe;
        uint64_t have = 0;
        bool exists = FileExists(path, &have);
        // A passive offer has no port to name in a resume request.
        bool can_resume = exists && g.size > 0 && have < g.size && g.token.empty();
        if (!exists || (Options().aref && can_resume) || !ask.existing)
            return AcceptGet(slot, 0, rename);
        int answer = ask.existing(path, have, can_resume, waiting);
        if (!waiting()) return;
        if (answer == 0) return RefuseGet(slot);
        if (answer == 1 || answer == 2) return AcceptGet(slot, answer, rename);
    }
}

void AskChatNow(int slot, uint64_t generation) {
    auto waiting = [slot, generation] {
        const ChatSlot& c = Dcc().chats[slot];
        return c.asked && c.generation == generation;
    };
    if (!waiting()) return;
    bool yes = Dcc().dialogs.chat(Dcc().chats[slot], waiting);
    if (waiting()) AnswerChat(slot, yes);
}

platform::HWND DialogWindow() {
    static platform::HWND window = platform::CreateWindow(
        [](platform::HWND, platform::UINT msg, platform::WPARAM wp, platform::LPARAM lp) {
            int slot = static_cast<int>(wp);
            if (slot < 0 || slot >= kSlots) return platform::LRESULT{0};
            if (msg == kMsgAskGet) AskGetNow(slot, static_cast<uint64_t>(lp));
            if (msg == kMsgAskChat) AskChatNow(slot, static_cast<uint64_t>(lp));
            return platform::LRESULT{0};
        });
    return window;
}

void PrintPending(int slot) {
    const GetSlot& g = Dcc().gets[slot];
    std::string size = g.size ? std::to_string(g.size) + " bytes" : "[unknown]";
    Pp(Status(),
       "*** " + g.nick + " wants to send you: " + DisplayText(g.name) + " (" + size + ") from " +
           g.address,
       3);
    Print(Status(), "*** Type /dcc get " + g.nick + " to accept it", 3);
}

// The next step for an offer the user has said yes to, or that settings accept.
void ProcessOffer(int slot) {
    GetSlot& g = Dcc().gets[slot];
    Dcc().asking = slot;
    Dcc().get_wait = 0;
    if (Options().sad == 1 && !g.ask_first) return AcceptGet(slot, 0, "");
    if (Dcc().dialogs.get) {
        // Asked from the top of the event loop, never from inside the server line that
        // brought the offer.
        platform::PostMessage(DialogWindow(), kMsgAskGet, static_cast<platform::WPARAM>(slot),
                              static_cast<platform::LPARAM>(g.generation));
        return;
    }
    PrintPending(slot);
}

bool PathInUse(const std::string& path, int except) {
    auto& g = Dcc().gets;
    for (int i = 0; i < kSlots; ++i)
        if (i != except && g[i].state >= 2 && g[i].state != 5 && g[i].path == path) return true;
    return false;
}

// A passive offer's sender cannot be reached: we listen, and answer the offer with our address,
// the port and its token; the sender connects.
void ListenForPassiveGet(int slot) {
    GetSlot& g = Dcc().gets[slot];
    g.state = 2;
    if (!sipok("DCC Get")) return ginit(slot, 1);
    int port = 0;
    g.socket = ListenFor(g.window, kMsgGetAccept, port);
    if (g.socket == platform::net::kNoSocket) return ginit(slot, 1);
    Print(g.window, "Waiting for the sender to connect (passive DCC)...", 3);
    SendToServer("PRIVMSG " + g.nick + " :\x01" + "DCC SEND " +
                     OfferedName(g.offered_name, Options().fillspaces) + " " + OfferAddress() +
                     " " + std::to_string(port) + " " + std::to_string(g.size) + " " + g.token +
                     "\x01",
                 false);
}

void OpenGetWindow(int slot) {
    GetSlot& g = Dcc().gets[slot];
    bool minimise = Options().sad == 1 && Options().gfsrm;
    g.window = MakeNewWindow("Get " + g.nick + " " + g.name, minimise);
    if (!g.window) {
        Pp(Status(), "*** Unable to open DCC Get window!", 3);
        ginit(slot, 0);
        donextget();
        return;
    }
    g.minimised = minimise;
    Print(g.window, "DCC Send request", 2);
    PrintSP(g.window, 2);
    Print(g.window, "From: " + g.nick, 2);
    Print(g.window, "File: " + DisplayText(g.name), 2);
    Print(g.window, g.size ? "Size: " + std::to_string(g.size) : std::string("Size: unknown"), 2);
    PrintSP(g.window, 2);
    g.idle = 0;
    if (Dcc().asking == slot) Dcc().asking = -1;
    if (g.resume > 0) {
        g.state = 3;
        Print(g.window, "Requesting resume at " + std::to_string(g.resume) + " bytes...", 3);
        SendToServer("PRIVMSG " + g.nick + " :\x01" + "DCC RESUME file.ext " +
                         std::to_string(g.port) + " " + std::to_string(g.resume) + "\x01",
                     false);
    } else if (!g.token.empty()) {
        ListenForPassiveGet(slot);
    } else {
        g.state = 2;
        Print(g.window, "Acknowledging send request...", 3);
        DoConnectToClient(slot);
    }
    donextget();
}

void HandleSend(std::string_view nick, const Request& r) {
    const ChatOptions& o = Options();
    std::string n(nick);
    if (o.sad == 2) return Pp(Status(), "*** Ignored DCC Send request from " + n, 3);
    const std::string invalid =
        "\x01"
        "DCC SEND Invalid parameters!\x01";
    const std::string rejected =
        "DCC Send request from " + n + " was rejected due to parameter error";
    // The answer to a passive offer of ours: the receiver listens, we connect.
    if (r.complete && !r.token.empty() && r.port != 0) {
        auto& sends = Dcc().sends;
        for (int i = 0; i < kSlots; ++i) {
            if (sends[i].state != 1 || sends[i].token != r.token || !SameNick(sends[i].nick, nick))
                continue;
            if (CheckHostReach(r.host, r.port) == Reach::kRefused)
                return Refuse(nick, invalid, rejected);
            return ConnectPassiveSend(i, r.host, r.port);
        }
    }
    // A passive offer names no port to connect to; the address is never used.
    const bool passive = r.complete && r.port == 0 && !r.token.empty();
    if (!r.complete || r.name.empty() ||
        (!passive && CheckHostReach(r.host, r.port) == Reach::kRefused))
        return Refuse(nick, invalid, rejected);
    int slot = gfind();
    if (slot < 0)
        return Refuse(
            nick,
            "\x01"
            "DCC Get System is busy. Try again later.\x01",
            "DCC Send request from " + n + " was rejected due to Max. DCC Get sessions open.");
    auto name = SafeReceivedName(r.name, ProtectedNames());
    if (!name) {
        Pp(Status(), "*** Invalid DCC Send filename", 3);
        return Refuse(nick, invalid, rejected);
    }
    bool waiting = Dcc().asking >= 0;
    GetSlot& g = Dcc().gets[slot];
    g = GetSlot{};
    g.generation = Dcc().next_generation++;
    g.name = *name;
    g.path = GetFolder() + *name;
    g.nick = n.substr(0, kMaxGetNick);
    g.address_number = r.address;
    g.address = r.host;
    g.port = r.port;
    g.size = r.size;
    g.ask_first = !passive && CheckHostReach(r.host, r.port) == Reach::kAskFirst;
    if (passive) {
        g.token = r.token;
        g.offered_name = r.name;
    }
    g.state = 1;
    if (!waiting) ProcessOffer(slot);
}

void HandleResume(std::string_view nick, const Request& r) {
    std::string n(nick);
    if (!r.complete)
        return Refuse(nick,
                      "\x01"
                      "DCC RESUME Invalid parameters!\x01",
                      "DCC Resume request from " + n + " was rejected due to parameter error");
    auto& sends = Dcc().sends;
    for (int i = 0; i < kSlots; ++i) {
        SendSlot& s = sends[i];
        if (s.state != 1 || s.port != r.port || !SameNick(s.nick, nick)) continue;
        // A position past the end would make us send from nowhere.
        if (r.position > s.size)
            return Refuse(nick,
                          "\x01"
                          "DCC RESUME Invalid parameters!\x01",
                          "DCC Resume request from " + n + " was rejected due to parameter error");
        s.resume = r.position;
        s.resumed = true;
        SendToServer("PRIVMSG " + s.nick + " :\x01" + "DCC ACCEPT file.ext " +
                         std::to_string(r.port) + " " + std::to_string(r.position) + "\x01",
                     false);
        return;
    }
    Refuse(nick,
           "\x01"
           "DCC RESUME No such session!\x01",
           "DCC RESUME request from " + n + " was rejected due to non-existent session");
}

void HandleAccept(std::string_view nick, const Request& r) {
    if (!r.complete)
        return Refuse(nick,
                      "\x01"
                      "DCC ACCEPT Invalid parameters!\x01",
                      "DCC Accept request from " + std::string(nick) +
                          " was rejected due to parameter error");
    auto& gets = Dcc().gets;
    for (int i = 0; i < kSlots; ++i) {
        GetSlot& g = gets[i];
        if (g.state == 3 && g.port == r.port && g.resume == r.position && SameNick(g.nick, nick)) {
            g.state = 2;
            g.idle = 0;
            DoConnectToClient(i);
            return;
        }
    }
}

void OpenChatWindow(int slot) {
    ChatSlot& c = Dcc().chats[slot];
    c.asked = false;
    c.window = MakeNewWindow("Chat with " + c.nick, Options().das == 1 && Options().accrm);
    if (!c.window) {
        Pp(Status(), "*** Unable to open DCC Chat window!", 3);
        cinit(slot, 0);
        return;
    }
    Print(c.window, "DCC Chat session", 2);
    Print(c.window, "Client: " + c.nick + " (" + c.address + ")", 2);
    Print(c.window, "Acknowledging chat request...", 3);
    c.idle = 0;
    DoConnectChat(slot);
}

void HandleChat(std::string_view nick, const Request& r) {
    std::string n(nick);
    const ChatOptions& o = Options();
    if (o.das == 2) return Pp(Status(), "*** Ignored DCC Chat request from " + n, 3);
    auto& chats = Dcc().chats;
    int ours = -1, count = 0;
    for (int i = 0; i < kSlots; ++i) {
        if ((chats[i].state == 0 && !chats[i].window) || !SameNick(chats[i].nick, nick)) continue;
        if (chats[i].state == 1 && !chats[i].server && ours < 0) ours = i;
        ++count;
    }
    if (ours < 0 && count > 3)
        return Refuse(
            nick,
            "\x01"
            "DCC CHAT You have the maximum number of chat sessions open with " +
                CurrentNickname() + "\x01",
            "DCC Chat request from " + n + " was rejected, max. number of chat sessions open!");
    if (!r.complete || CheckHostReach(r.host, r.port) == Reach::kRefused)
        return Refuse(nick,
                      "\x01"
                      "DCC CHAT Invalid parameters!\x01",
                      "DCC Chat request from " + n + " was rejected due to parameter error");
    int slot = ours >= 0 ? ours : cfind();
    if (slot < 0) {
        Notify(nick,
               "\x01"
               "DCC Chat System is busy. Try again later.\x01");
        Pp(Status(), "DCC Chat request from " + n + " was rejected.", 3);
        return Pp(Status(), "Maximum number of DCC Chat sessions open.", 3);
    }
    ChatSlot& c = chats[slot];
    if (ours >= 0) {
        // Both offered at once: their listening socket wins, ours is given up.
        platform::net::Close(c.socket);
        c.socket = platform::net::kNoSocket;
    } else {
        c = ChatSlot{};
        c.generation = Dcc().next_generation++;
        c.nick = n.substr(0, 100);
    }
    c.state = 2;
    c.port = r.port;
    c.address = r.host;
    if (ours >= 0) return DoConnectChat(slot);
    bool ask_first = CheckHostReach(r.host, r.port) == Reach::kAskFirst;
    if (o.das == 1 && !ask_first) return OpenChatWindow(slot);
    c.asked = true;
    c.wait = 0;
    if (Dcc().dialogs.chat) {
        platform::PostMessage(DialogWindow(), kMsgAskChat, static_cast<platform::WPARAM>(slot),
                              static_cast<platform::LPARAM>(c.generation));
        return;
    }
    Pp(Status(), "*** " + n + " wants to DCC Chat with you (" + c.address + ")", 3);
    Print(Status(), "*** Type /dcc chat " + n + " to accept it", 3);
}

}  // namespace

DccState& Dcc() {
    static DccState state;
    return state;
}

void ResetDcc() {
    DccState& d = Dcc();
    // The slots let go of their sockets and files; the fresh state below clears the rest.
    for (int i = 0; i < kSlots; ++i) {
        ginit(i, 1);
        sinit(i, 1);
        cinit(i, 1);
    }
    DccDialogs dialogs = d.dialogs;
    d = DccState{};
    d.dialogs = dialogs;
}

std::string GetFolder() {
    const ChatOptions& o = Options();
    std::string dir;
    if (!o.szINI.empty())
        dir = platform::GetPrivateProfileString("Dirs", "getdir", "", 256, o.szINI);
    struct stat st {};
    if (dir.empty() || ::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        // Never the settings folder: offered files must not land beside the scripts. The
        // desktop's download folder is where a user looks for what arrived.
        dir = platform::DownloadFolder();
        if (::stat(dir.c_str(), &st) != 0) platform::MakePrivateFolders(dir);
    }
    if (dir.back() != '/') dir += '/';
    return dir;
}

std::vector<std::string> ProtectedNames() {
    const ScriptState& s = Script();
    std::vector<std::string> out = {"vesk.ini"};
    for (const std::string* f : {&s.afile, &s.pfile, &s.ufile, &s.vfile, &s.cfile, &s.efile}) {
        size_t cut = f->find_last_of("/\\");
        out.push_back(cut == std::string::npos ? *f : f->substr(cut + 1));
    }
    return out;
}

void HandleRequest(std::string_view nick, std::string_view text) {
    auto r = ParseRequest(text);
    if (!r) return;
    switch (r->kind) {
        case RequestKind::kSend:
            return HandleSend(nick, *r);
        case RequestKind::kChat:
            return HandleChat(nick, *r);
        case RequestKind::kResume:
            return HandleResume(nick, *r);
        case RequestKind::kAccept:
            return HandleAccept(nick, *r);
    }
}

void donextget() {
    if (Dcc().asking >= 0 && Dcc().gets[Dcc().asking].state == 1) return;
    Dcc().asking = -1;
    auto& g = Dcc().gets;
    for (int i = 0; i < kSlots; ++i)
        if (g[i].state == 1) return ProcessOffer(i);
}

void AcceptGet(int slot, int answer, const std::string& rename) {
    GetSlot& g = Dcc().gets[slot];
    if (g.state != 1) return;
    if (!rename.empty()) {
        auto name = SafeReceivedName(rename, ProtectedNames());
        if (!name) {
            Print(Status(), "*** Invalid DCC Send filename", 3);
            return;
        }
        g.name = *name;
        g.path = GetFolder() + *name;
    }
    if (PathInUse(g.path, slot)) {
        Pp(Status(), "*** A DCC Get into " + DisplayText(g.path) + " is already running", 3);
        return RefuseGet(slot);
    }
    uint64_t have = 0;
    g.resume = 0;
    if (FileExists(g.path, &have) || ::access(g.path.c_str(), F_OK) == 0) {
        bool can_resume = g.size > 0 && have < g.size && g.token.empty();
        if (answer == 0 && Options().aref && can_resume) answer = 1;
        if (answer == 1 && !can_resume) answer = 0;
        if (answer == 0) {
            // Nothing is resumed or overwritten unless the user says so.
            Dcc().asking = slot;
            Dcc().get_wait = 0;
            Pp(Status(), "*** The file you are about to DCC Get already exists.", 3);
            Print(Status(), "*** " + DisplayText(g.path) + " (" + std::to_string(have) + " bytes)",
                  3);
            Print(Status(),
                  std::string("*** Type /dcc get -o ") + g.nick + " to overwrite it" +
                      (can_resume ? ", /dcc get -r " + g.nick + " to resume it" : "") +
                      " or /dcc get " + g.nick + " <name> to save under another name",
                  3);
            return;
        }
        if (answer == 1) g.resume = have;
    }
    OpenGetWindow(slot);
}

void RefuseGet(int slot) {
    ginit(slot, 0);
    if (Dcc().asking == slot) Dcc().asking = -1;
    donextget();
}

void AnswerChat(int slot, bool accept) {
    ChatSlot& c = Dcc().chats[slot];
    if (!c.asked) return;
    if (accept) return OpenChatWindow(slot);
    cinit(slot, 0);
}

bool StartSend(const std::string& nick, const std::string& path, bool minimised, bool passive) {
    const ChatOptions& o = Options();
    if (!UsableNick(nick)) {
        Print(Status(), "*** No nick specified", 1);
        return false;
    }
    int slot = sfind();
    if (slot < 0) {
        Pp(Status(), "Unable to find free slot for DCC Send!", 3);
        return false;
    }
    char resolved[PATH_MAX];
    std::string full = path;
    if (::realpath(path.c_str(), resolved)) full = resolved;
    size_t cut = full.find_last_of('/');
    std::string dir = cut == std::string::npos ? "./" : full.substr(0, cut + 1);
    std::string name = cut == std::string::npos ? full : full.substr(cut + 1);
    File f(std::fopen(full.c_str(), "rb"));
    struct stat st {};
    if (!f || ::fstat(::fileno(f.get()), &st) != 0 || !S_ISREG(st.st_mode)) {
        int e = f ? EISDIR : errno;
        const char* what = e == ENOENT   ? "*** Error: No such file"
                           : e == EMFILE ? "*** Error: Too many files open"
                           : e == EACCES ? "*** Error: Permission denied"
                                         : "*** Error: Unable to access file";
        Pp(Status(), std::string(what) + " [" + DisplayText(path) + "]", 3);
        Beep();
        return false;
    }
    SendSlot& s = Dcc().sends[slot];
    s = SendSlot{};
    s.generation = Dcc().next_generation++;
    s.nick = nick;
    s.dir = dir;
    s.name = name;
    s.size = static_cast<uint64_t>(st.st_size);
    s.minimised = minimised;
    s.window = MakeNewWindow("Send " + nick + " " + name, minimised);
    if (!s.window) {
        Pp(Status(), "*** Unable to open window for DCC Send", 3);
        sinit(slot, 0);
        return false;
    }
    Print(s.window, "DCC Send session", 2);
    PrintSP(s.window, 2);
    Print(s.window, "To: " + nick, 2);
    Print(s.window, "File: " + DisplayText(dir + name), 2);
    Print(s.window, "Size: " + std::to_string(s.size), 2);
    PrintSP(s.window, 2);
    s.state = 1;
    if (passive) {
        // Port 0 and a token: the receiver listens and answers with its address.
        s.token = std::to_string(s.generation);
    } else {
        s.socket = ListenFor(s.window, kMsgSendAccept, s.port);
        if (s.socket == platform::net::kNoSocket) {
            sinit(slot, 1);
            return false;
        }
    }
    SendToServer("NOTICE " + nick + " :DCC SEND " + name + " (" + OfferHostText() + ")", false);
    SendToServer("PRIVMSG " + nick + " :\x01" + "DCC SEND " + OfferedName(name, o.fillspaces) +
                     " " + OfferAddress() + " " + std::to_string(s.port) + " " +
                     std::to_string(s.size) + (passive ? " " + s.token : std::string()) + "\x01",
                 false);
    Print(s.window,
          passive ? "Waiting for the receiver to answer (passive DCC)..."
                  : "Waiting for acknowledgement...",
          3);
    s.idle = 0;
    return true;
}

bool StartChat(const std::string& nick, bool server, const std::string& home,
               const std::string& welcome, int gets) {
    if (!UsableNick(nick)) {
        Print(Status(), "*** No nick specified", 1);
        return false;
    }
    int slot = cfind();
    if (slot < 0) {
        Pp(Status(), "*** Unable to find free slot for DCC Chat!", 3);
        Beep();
        return false;
    }
    if (IsMe(nick) || SameNick(nick, CurrentNickname())) {
        Print(Status(), "*** Talking to yourself again?", 1);
        Beep();
        return false;
    }
    ChatSlot& c = Dcc().chats[slot];
    c = ChatSlot{};
    c.generation = Dcc().next_generation++;
    c.nick = nick;
    c.server = server;
    if (server) {
        c.home = home;
        c.current = home;
        c.welcome = welcome;
        c.gets = std::clamp(gets, 1, 20);
    }
    c.window = MakeNewWindow((server ? "Serving " : "Chat with ") + nick, false);
    if (!c.window) {
        cinit(slot, 0);
        return false;
    }
    c.state = 1;
    c.socket = ListenFor(c.window, kMsgChatAccept, c.port);
    if (c.socket == platform::net::kNoSocket) {
        cinit(slot, 1);
        return false;
    }
    SendToServer("NOTICE " + nick + " :DCC Chat (" + OfferHostText() + ")", false);
    SendToServer("PRIVMSG " + nick + " :\x01" + "DCC CHAT chat " + OfferAddress() + " " +
                     std::to_string(c.port) + "\x01",
                 false);
    Print(c.window, "Waiting for acknowledgement...", 3);
    return true;
}

}  // namespace chat::dcc
