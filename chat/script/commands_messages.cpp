// Handlers that send the user's messages, notices, actions and CTCP requests.
#include <string>

#include "chat/core/connection/sasl.h"
#include "chat/core/session/nick_list.h"
#include "chat/core/session/session_state.h"
#include "chat/core/windows/window_print.h"
#include "chat/core/windows/window_table.h"
#include "chat/script/commands.h"
#include "chat/script/input_parser.h"
#include "chat/script/messaging.h"
#include "chat/script/script_state.h"

namespace chat {
namespace {

// Length the target list of one /omsg may reach before no more operators are added.
constexpr size_t kMaxOpsList = 600;

bool IsChannelWindow(WindowId w) {
    const WindowRecord* r = RecordOf(w);
    return r && r->kind == kKindChannel;
}

// Own text in a window; the status window frames it with separator lines.
void EchoIn(WindowId window, const std::string& text, bool channel) {
    if (window == StatusWin()) {
        Windows().tab = 3;
        Pp(window, timestamp(text), 0);
        return;
    }
    EchoOwn(window, text, channel);
}

int NoMessage(WindowId w) {
    Windows().beep = 1;
    Print(w, "*** No message specified", 2);
    return 0;
}

int NoNick(WindowId w) {
    Print(w, "*** No nick specified", 1);
    return 0;
}

// Text to a DCC chat partner ('=nick'); the echo goes to the chat window.
int ToChat(WindowId w, const std::string& nick, const std::string& text) {
    const ScriptHooks& h = Script().hooks;
    int sent = h.chat_send ? h.chat_send(w, nick, text) : -1;
    if (sent < 0) {
        Print(w, "*** No such nick in DCC Chat", 1);
        return 0;
    }
    if (sent == 0) {
        Print(w, "*** DCC Chat is not active", 1);
        return 0;
    }
    // Sessions open as "Chat with nick" or, for the file server, "Serving nick".
    WindowId chat = FindWindow("Chat with " + nick);
    if (!chat) chat = FindWindow("Serving " + nick);
    if (!chat) chat = FindWindow("Chat " + nick);
    Print(chat ? chat : w, OwnPrefix() + text, 0);
    return 1;
}

void BringToFront(WindowId window) {
    if (WindowRecord* r = RecordOf(window)) r->minimised = false;
    SetActiveWindow(window);
}

// Sends a message to a target with its echo; `w` ran the command.
int SendMessageTo(WindowId w, const std::string& target, const std::string& text, bool remote,
                  bool front) {
    if (target[0] == '=') return ToChat(w, target.substr(1), text);
    WindowId twin = FindWindow(target);
    if (front && twin && !remote) BringToFront(twin);
    SendSplit("PRIVMSG", target, text, false, remote, [&](const std::string& piece) {
        if (twin)
            EchoIn(twin, OwnPrefix() + piece, IsChannelWindow(twin));
        else
            EchoIn(w, "-> *" + target + "* " + piece, false);
    });
    return 1;
}

}  // namespace

int domsg(WindowId w, const Args& a, bool remote) {
    size_t i = 1;
    bool front = false;
    if (EqualNoCase(Arg(a, 1), "-s")) {
        front = true;
        i = 2;
    }
    const std::string& target = Arg(a, i);
    if (target.empty()) return NoNick(w);
    std::string text = JoinFrom(a, i + 1);
    if (text.empty()) return NoMessage(w);
    return SendMessageTo(w, target, text, remote, front);
}

int doquery(WindowId w, const Args& a, bool remote) {
    const std::string& nick = Arg(a, 1);
    if (nick.empty()) return NoNick(w);
    if (nick[0] != '=' && !IsChannelName(nick) && !FindWindow(nick)) {
        WindowId made = MakeNewWindow(nick, false);
        if (!made) {
            Print(w, "*** ERROR: Unable to open Query Window", 3);
            return 0;
        }
    }
    std::string text = JoinFrom(a, 2);
    if (text.empty()) {
        if (WindowId q = FindWindow(nick); q && !remote) BringToFront(q);
        return 1;
    }
    return SendMessageTo(w, nick, text, remote, true);
}

int donotice(WindowId w, const Args& a, bool remote) {
    const std::string& target = Arg(a, 1);
    if (target.empty()) return NoNick(w);
    std::string text = JoinFrom(a, 2);
    if (text.empty()) return NoMessage(w);
    SendSplit("NOTICE", target, text, false, remote,
              [&](const std::string& piece) { EchoIn(w, "-> -" + target + "- " + piece, false); });
    return 1;
}

int dome(WindowId w, const Args& a, bool remote) {
    const WindowRecord* r = RecordOf(w);
    if (!r || (r->kind != kKindChannel && r->kind != kKindQuery)) {
        Print(StatusWin(), "*** You are not on a channel", 1);
        return 0;
    }
    if (StartsNoCase(r->name, "Message Window")) {
        Print(w, "*** You must use /msg in this window", 2);
        return 0;
    }
    std::string text = JoinFrom(a, 1);
    if (text.empty()) return NoMessage(w);
    std::string name = r->name;
    bool channel = r->kind == kKindChannel;
    std::string echo = "* " + CurrentNickname() + " ";
    if (StartsNoCase(name, "Chat ") || StartsNoCase(name, "Serving ")) {
        const ScriptHooks& h = Script().hooks;
        std::string line =
            "\x01"
            "ACTION " +
            text + "\x01";
        if (!h.chat_send || h.chat_send(w, std::string(), line) < 0) {
            Print(w, "*** Invalid DCC Chat window", 1);
            return 0;
        }
        EchoAction(w, echo + text, false);
        return 1;
    }
    if (!ScriptConnected()) {
        Print(StatusWin(), "*** Not connected to server", 1);
        return 0;
    }
    SendSplit("PRIVMSG", name, text, true, remote,
              [&](const std::string& piece) { EchoAction(w, echo + piece, channel); });
    return 1;
}

int dodescribe(WindowId w, const Args& a, bool remote) {
    const std::string& target = Arg(a, 1);
    if (target.empty()) return NoNick(w);
    std::string text = JoinFrom(a, 2);
    if (text.empty()) return NoMessage(w);
    if (target[0] == '=')
        return ToChat(w, target.substr(1),
                      "\x01"
                      "ACTION " +
                          text + "\x01");
    WindowId twin = FindWindow(target);
    bool channel = twin && IsChannelWindow(twin);
    SendSplit("PRIVMSG", target, text, true, remote, [&](const std::string& piece) {
        if (channel)
            EchoAction(twin, "* " + CurrentNickname() + " " + piece, true);
        else
            EchoIn(w, "-> *" + target + "* " + piece, false);
    });
    return 1;
}

namespace {

int ToAllChannels(WindowId w, const Args& a, bool remote, bool action) {
    std::string text = JoinFrom(a, 1);
    if (text.empty()) return NoMessage(w);
    bool any = false;
    for (const WindowRecord& r : Windows().ch) {
        if (!r.window || r.kind != kKindChannel) continue;
        any = true;
        WindowId target = r.window;
        SendSplit("PRIVMSG", r.name, text, action, remote, [&](const std::string& piece) {
            if (action)
                EchoAction(target, "* " + CurrentNickname() + " " + piece, true);
            else
                EchoOwn(target, OwnPrefix() + piece, true);
        });
    }
    if (!any) {
        Print(w, "*** You aren't on any channels", 1);
        return 0;
    }
    return 1;
}

}  // namespace

int doame(WindowId w, const Args& a, bool remote) {
    return ToAllChannels(w, a, remote, true);
}

int doamsg(WindowId w, const Args& a, bool remote) {
    return ToAllChannels(w, a, remote, false);
}

int doctcp(WindowId w, const Args& a, bool remote) {
    const std::string& nick = Arg(a, 1);
    std::string command = Arg(a, 2);
    if (nick.empty() || command.empty()) {
        Print(StatusWin(),
              "CTCP <nickname> ACTION CLIENTINFO DCC ECHO FINGER PING TIME USERINFO VERSION", 3);
        return 0;
    }
    for (char& c : command)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (command == "DCC") {
        Print(w, "* Please use /dcc <command> <parameters>", 2);
        return 0;
    }
    std::string body = command;
    if (command == "PING") {
        body += " " + std::to_string(SessionWallSeconds());
        SendLine("PRIVMSG " + nick + " :\x01" + body + "\x01", remote);
        Print(w, "-> [" + nick + "] PING", 3);
        return 1;
    }
    std::string text = JoinFrom(a, 3);
    if (!text.empty()) body += " " + text;
    SendLine("PRIVMSG " + nick + " :\x01" + body + "\x01", remote);
    Print(w, "-> [" + nick + "] " + body, 3);
    return 1;
}

int doomsg(WindowId w, const Args& a, bool remote) {
    bool notice = EqualNoCase(a[0], "/ONOTICE");
    size_t first = 1;
    WindowId chan = w;
    if (IsChannelName(Arg(a, 1))) {
        chan = FindWindow(a[1]);
        first = 2;
    }
    if (!chan || !IsChannelWindow(chan)) {
        Print(w, "* You are not on a channel", 1);
        return 0;
    }
    std::string text = JoinFrom(a, first);
    if (text.empty()) return NoMessage(w);
    const ChannelData* data = FindChannel(chan);
    const Member* me = data ? FindMember(data->nicks, CurrentNickname()) : nullptr;
    if (!me || !IsOperatorMark(me->mark)) {
        Print(w, "* You must have Op status!", 1);
        return 0;
    }
    std::string targets;
    for (const auto& entry : data->nicks.order) {
        auto found = data->nicks.by_name.find(entry.second);
        if (found == data->nicks.by_name.end()) continue;
        const Member& m = found->second;
        if (!IsOperatorMark(m.mark) || IsMe(m.nick)) continue;
        if (targets.size() > kMaxOpsList) break;
        if (!targets.empty()) targets += ',';
        targets += m.nick;
    }
    if (targets.empty()) {
        Print(w, "* No other Ops on this channel", 1);
        return 0;
    }
    std::string name = RecordOf(chan)->name;
    if (targets.size() + name.size() >= kLineLimit) return 1;
    SendSplit(
        notice ? "NOTICE" : "PRIVMSG", targets, text, false, remote,
        [&](const std::string& piece) { EchoOwn(chan, "-> Ops on " + name + ": " + piece, true); });
    return 1;
}

int dosay(WindowId w, const Args& a, bool remote) {
    std::string text = JoinFrom(a, 1);
    if (text.empty()) return NoMessage(w);
    return donormalmessage(w, text, remote);
}

int doraw(WindowId w, const Args& a, bool remote) {
    bool quiet = EqualNoCase(Arg(a, 1), "-q");
    std::string text = JoinFrom(a, quiet ? 2 : 1);
    if (text.empty()) {
        Print(w, "* Use: /raw <parameters>", 1);
        return 0;
    }
    SendLine(text, remote);
    // A raw AUTHENTICATE carries credentials: its payload is not shown (nor logged).
    if (!quiet) Print(w, "-> SERVER: " + MaskSaslLine(text), 1);
    return 1;
}

}  // namespace chat
