// Handlers of the connection and identity commands: server, nick, quit, away, disconnect, the
// flood guard, exit and the user information request.
#include <cstdlib>
#include <string>

#include "chat/core/connection/connection.h"
#include "chat/core/connection/dns_lookup.h"
#include "chat/core/connection/server_list.h"
#include "chat/core/frame.h"
#include "chat/core/options.h"
#include "chat/core/session/address_cache.h"
#include "chat/core/session/session_state.h"
#include "chat/core/windows/window_print.h"
#include "chat/core/windows/window_table.h"
#include "chat/script/commands.h"
#include "chat/script/messaging.h"
#include "chat/script/script_state.h"

namespace chat {
namespace {

// Characters of a nickname kept.
constexpr size_t kMaxNick = 100;
// How long a /uwho waits for the end of its who-is reply before another may start.
constexpr int64_t kUwhoPatienceMs = 60000;

std::string QuitMessage() {
    const std::string& q = Options().quit;
    return q.empty() ? std::string("Leaving") : q;
}

// A whole positive number of at most nine digits, else 0.
int PositiveNumber(const std::string& text) {
    if (text.empty() || text.size() > 9 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return 0;
    return std::atoi(text.c_str());
}

}  // namespace

int doserver(WindowId, const Args& a, bool remote) {
    ChatOptions& o = Options();
    Connection& c = Conn();
    const std::string& first = Arg(a, 1);
    if (first.find_first_of(".:") != std::string::npos) {
        o.szHostName = UnbracketHost(first);
        o.Port = ParsePortText(Arg(a, 2), o.UseTLS);
        o.szPassword = Arg(a, 3);
        c.szconnect.clear();
        c.IsServer = false;
    } else if (!first.empty() && first.find_first_not_of("-0123456789") == std::string::npos) {
        long n = std::strtol(first.c_str(), nullptr, 10);
        if (n <= 0) {
            Print(StatusWin(), "*** Invalid server format", 1);
            return 0;
        }
        if (static_cast<size_t>(n) > o.szhost.size()) {
            Print(StatusWin(), "*** Invalid server number", 1);
            return 0;
        }
        auto entry = o.szhost.begin();
        std::advance(entry, n - 1);
        extractserv(entry->text);
        c.szconnect.clear();
        c.IsServer = false;
    } else if (!first.empty()) {
        LineList rotation;
        if (!buildconnectlist(o.szhost, first, rotation)) {
            Print(StatusWin(), "*** No such server group", 1);
            return 0;
        }
        c.szconnect = std::move(rotation);
        getnextserver(c.szconnect);
        c.IsServer = false;
    } else if (o.szHostName.empty()) {
        Beep();
        Print(StatusWin(), "*** No server specified", 1);
        return 0;
    }
    platform::HWND frame = Frame().hwndFrame;
    if (c.Connecting || ScriptConnected()) {
        if (ScriptConnected()) {
            SendLine("QUIT :" + QuitMessage(), remote);
            c.SentQuit = true;
            Print(StatusWin(), "*** Disconnected", 1);
        } else {
            Print(StatusWin(), "*** Cancelled connect", 1);
        }
        StatusGap();
        werr("");
        if (frame) platform::SetTimer(frame, kTimerConnect, 1000);
    } else if (frame) {
        platform::SetTimer(frame, kTimerConnect, 100);
    }
    return 1;
}

int donick(WindowId, const Args& a, bool remote) {
    std::string nick = Arg(a, 1).substr(0, kMaxNick);
    if (nick.empty()) {
        Print(StatusWin(), "*** No nickname specified", 1);
        return 0;
    }
    ChatOptions& o = Options();
    Connection& c = Conn();
    if (ScriptConnected()) {
        // While the logon waits for an acceptable nickname, the new one is the one to try.
        if (c.LoggingNick && c.NickError) {
            o.szAltNick = nick;
            c.wnick = 1;
        }
        SendLine("NICK :" + nick, remote);
        return 1;
    }
    o.szNickName = nick;
    c.main_nick.clear();
    Print(StatusWin(), "*** Your nickname is now " + nick, 2);
    if (!Arg(a, 2).empty()) {
        o.szAltNick = a[2].substr(0, kMaxNick);
        Print(StatusWin(), "*** Your alternate nickname is now " + o.szAltNick, 2);
    }
    return 1;
}

int doquit(WindowId, const Args& a, bool remote) {
    std::string text = JoinFrom(a, 1);
    SendLine("QUIT :" + (text.empty() ? QuitMessage() : text), remote);
    Conn().SentQuit = true;
    return 1;
}

int doaway(WindowId, const Args& a, bool remote) {
    std::string text = JoinFrom(a, 1);
    SendLine(text.empty() ? std::string("AWAY") : "AWAY :" + text, remote);
    return 1;
}

int dodisconnect(WindowId, const Args&, bool) {
    Connection& c = Conn();
    if (!c.Connecting && !ScriptConnected()) {
        Print(StatusWin(), "*** Not connected to server", 1);
        return 1;
    }
    DoDisconnect();
    return 1;
}

int doflood(WindowId, const Args& a, bool) {
    Connection& c = Conn();
    const std::string& first = Arg(a, 1);
    if (first.empty()) {
        if (c.testflood)
            Print(StatusWin(),
                  "* Flood of " + std::to_string(c.floodlines) + " lines in " +
                      std::to_string(c.floodtime) + " secs pauses for " +
                      std::to_string(c.floodpause) + " secs",
                  1);
        else
            Print(StatusWin(), "* Flood checking is NOT active", 1);
        return 1;
    }
    if (first == "0" && Arg(a, 2).empty()) {
        c.testflood = 0;
        Print(StatusWin(), "* Flood checking has been turned OFF", 1);
        return 1;
    }
    int lines = PositiveNumber(first), seconds = PositiveNumber(Arg(a, 2)),
        pause = PositiveNumber(Arg(a, 3));
    if (!lines || !seconds || !pause) {
        Print(StatusWin(), "*** Invalid flood parameters", 1);
        return 0;
    }
    c.floodlines = lines;
    c.floodtime = seconds;
    c.floodpause = pause;
    c.testflood = 1;
    c.sentlines = 0;
    Print(StatusWin(),
          "* Flood checking for " + std::to_string(lines) + " lines in " + std::to_string(seconds) +
              " secs pauses for " + std::to_string(pause) + " secs",
          1);
    return 1;
}

int doexit(WindowId, const Args&, bool) {
    RequestExit();
    return 0;
}

int douwho(WindowId, const Args& a, bool remote) {
    ChatSession& s = Session();
    // A request whose reply never ended (a server that skipped the 318) stops blocking after
    // a while.
    if (s.uwho.open && SessionNowMs() - s.uwho.asked_ms < kUwhoPatienceMs) return 0;
    const std::string& nick = Arg(a, 1);
    s.uwho = WhoisRecord{};
    if (nick.empty()) {
        platform::PostMessage(Frame().hwndFrame, kMsgShowWhois);
        return 0;
    }
    if (!ScriptConnected()) {
        Print(StatusWin(), "*** Not connected to server", 1);
        return 0;
    }
    s.uwho.nick = nick.substr(0, kMaxNick);
    s.uwho.open = true;
    s.uwho.asked_ms = SessionNowMs();
    SendLine("WHOIS " + s.uwho.nick, remote);
    Print(StatusWin(), "* Retrieving " + nick + " user info...", 2);
    return 0;
}

}  // namespace chat

namespace chat {

int dodns(WindowId, const Args& a, bool) {
    const std::string& word = Arg(a, 1);
    DnsState& d = Dns();
    if (DnsBusy()) {
        Print(StatusWin(), "*** Still trying to resolve " + d.target, 5);
        return 1;
    }
    if (word.empty()) {
        Print(StatusWin(), "*** No host specified", 1);
        return 0;
    }
    CancelDns();  // an overdue look-up gives way
    // A word without "." (or ":" of an IPv6 address) is a nickname whose host is wanted.
    if (word.find('.') != std::string::npos || word.find(':') != std::string::npos) {
        DoResolveD(word);
        return 1;
    }
    std::string address;
    if (findnick(word, address) && donickaddr(address, 0)) {
        DoResolveD(address);
        return 1;
    }
    if (!ScriptConnected()) {
        Print(StatusWin(), "*** Not connected to server", 1);
        return 0;
    }
    std::string nick = word.substr(0, kMaxNick);
    d.nick = d.target = nick;
    d.asked_ms = SessionNowMs();
    checkwhois(
        nick,
        [nick](const std::string& found) {
            if (Dns().nick == nick) DoResolveD(found);
        },
        // Nobody of that name: the word may still be a host of the local network or the
        // hosts file ("localhost", "router").
        [nick] {
            if (Dns().nick == nick) DoResolveD(nick);
        });
    return 1;
}

}  // namespace chat
