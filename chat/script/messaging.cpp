#include "chat/script/messaging.h"

#include "chat/core/connection/capabilities.h"
#include "chat/core/connection/connection.h"
#include "chat/core/connection/sasl.h"
#include "chat/core/options.h"
#include "chat/core/session/session_state.h"
#include "chat/core/windows/window_log.h"
#include "chat/core/windows/window_print.h"
#include "chat/core/windows/window_table.h"
#include "chat/script/input_parser.h"
#include "chat/script/script_state.h"

namespace chat {
namespace {

// Bytes of an IRC line without its CR LF.
constexpr size_t kIrcLine = 510;
// Room kept for ":nick!user@host " that the server puts in front when it relays our line:
// a user name of up to 10 characters and a host name of up to 63.
constexpr size_t kRelayUserHost = 1 + 10 + 1 + 63 + 2;
// The smallest piece we cut, however long the target name is.
constexpr size_t kMinPiece = 32;

bool IsContinuation(unsigned char c) {
    return (c & 0xC0) == 0x80;
}

}  // namespace

bool ServerConnectionOpen() {
    return Conn().Connected && Conn().Sock != platform::net::kNoSocket;
}

bool ScriptConnected() {
    const ScriptHooks& h = Script().hooks;
    return h.connected ? h.connected() : ServerConnectionOpen();
}

void SendLine(std::string_view line, bool remote) {
    SendToServer(line, remote);
}

std::vector<std::string> SplitForWire(std::string_view head, std::string_view text,
                                      size_t tail_bytes) {
    size_t used = head.size() + tail_bytes + kRelayUserHost + CurrentNickname().size();
    size_t room = used + kMinPiece < kIrcLine ? kIrcLine - used : kMinPiece;
    std::vector<std::string> pieces;
    while (text.size() > room) {
        size_t cut = room;
        while (cut > 0 && IsContinuation(static_cast<unsigned char>(text[cut]))) --cut;
        size_t blank = text.rfind(' ', cut);
        bool at_blank = blank != std::string_view::npos && blank > room / 2;
        if (at_blank) cut = blank;
        if (cut == 0) cut = room;
        pieces.emplace_back(text.substr(0, cut));
        text.remove_prefix(at_blank ? cut + 1 : cut);
    }
    if (!text.empty() || pieces.empty()) pieces.emplace_back(text);
    return pieces;
}

void SendSplit(std::string_view command, std::string_view target, std::string_view text,
               bool action, bool remote, const std::function<void(const std::string&)>& echo) {
    std::string head = std::string(command) + " " + std::string(target) + " :";
    if (action)
        head +=
            "\x01"
            "ACTION ";
    // With echo-message the server returns each message as delivered: it is shown then, once.
    bool server_echoes = command == "PRIVMSG" && CapEnabled("echo-message") && ScriptConnected();
    for (const std::string& piece : SplitForWire(head, text, action ? 1 : 0)) {
        std::string line = head + piece;
        if (action) line += '\x01';
        SendLine(line, remote);
        if (echo && !server_echoes) echo(piece);
    }
}

std::string OwnPrefix() {
    return Options().pom ? "<" + CurrentNickname() + "> " : std::string("> ");
}

void EchoOwn(WindowId window, std::string_view text, bool channel) {
    WindowTable& t = Windows();
    t.tab = channel ? 2 : 3;
    Print(window, timestamp(text), Options().omh ? 4 : 0);
}

void EchoAction(WindowId window, std::string_view text, bool channel) {
    WindowTable& t = Windows();
    t.tab = channel ? 2 : 3;
    int colour = channel && Options().aap ? 5 : (Options().omh ? 4 : 0);
    Print(window, timestamp(text), colour);
}

void AppendDebugLog(std::string_view line) {
    FilePtr log = openlog("debug.log", true, false);
    if (!log) return;
    // Credentials typed as raw AUTHENTICATE lines are not written down.
    std::string text = MaskSaslLine(line);
    text += '\n';
    std::fwrite(text.data(), 1, text.size(), log.get());
}

WindowId FindWindow(std::string_view name) {
    int slot = exists(name);
    return slot < 0 ? 0 : Windows().ch[slot].window;
}

WindowId StatusWin() {
    return Windows().statwin;
}

int donormalmessage(WindowId window, std::string_view text, bool remote) {
    if (text.empty()) return 0;
    const WindowRecord* r = RecordOf(window);
    // Only a channel or a query has someone to talk to; the status and list windows do not.
    if (!r || (r->kind != kKindChannel && r->kind != kKindQuery)) {
        Print(StatusWin(), "*** You're not on a channel", 1);
        return 0;
    }
    std::string name = r->name;
    if (text.size() > kLineLimit) text = text.substr(0, kLineLimit);
    if (StartsNoCase(name, "Chat ") || StartsNoCase(name, "Serving ")) {
        const ScriptHooks& h = Script().hooks;
        int sent = h.chat_send ? h.chat_send(window, std::string(), std::string(text)) : -1;
        if (sent < 0) {
            Print(window, "*** Invalid DCC Chat window", 1);
            return 0;
        }
        // A chat still being set up has not taken the text: saying so beats a false echo.
        if (sent == 0) {
            Print(window, "*** DCC Chat is not active", 1);
            return 0;
        }
        Print(window, OwnPrefix() + std::string(text), 0);
        return 1;
    }
    if (!ScriptConnected()) {
        Print(StatusWin(), "*** Not connected to server", 1);
        return 0;
    }
    if (StartsNoCase(name, "Message Window")) {
        Print(window, "*** You must use /msg in this window", 2);
        return 0;
    }
    bool channel = r->kind == kKindChannel;
    SendSplit("PRIVMSG", name, text, false, remote,
              [&](const std::string& piece) { EchoOwn(window, OwnPrefix() + piece, channel); });
    ChatSession& s = Session();
    if (Options().caok && s.away) {
        SendLine("AWAY", remote);
        s.away = false;
    }
    return 1;
}

}  // namespace chat
