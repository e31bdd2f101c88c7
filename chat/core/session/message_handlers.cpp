// PRIVMSG and NOTICE from other clients: channel text, private text and its windows, server
// broadcasts, notices and CTCP replies.
#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "chat/core/connection/capabilities.h"
#include "chat/core/connection/connection.h"
#include "chat/core/options.h"
#include "chat/core/session/address_cache.h"
#include "chat/core/session/ctcp_incoming.h"
#include "chat/core/session/ircv3_events.h"
#include "chat/core/session/nick_list.h"
#include "chat/core/session/server_parser.h"
#include "chat/core/session/session_state.h"
#include "chat/core/windows/window_print.h"
#include "chat/core/windows/window_table.h"

namespace chat {
namespace {

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && EqualNoCase(s.substr(0, prefix.size()), prefix);
}

int FreeSlots() {
    int free = 0;
    for (const WindowRecord& r : Windows().ch)
        if (!r.window) ++free;
    return free;
}

// The single message window, made when missing. Returns 0 when it cannot be made.
WindowId MessageWindow(bool& made) {
    made = false;
    if (WindowId w = WindowNamed("Message Window")) return w;
    WindowId w = MakeNewWindow("Message Window", false);
    if (!w) {
        Print(StatusWindow(), "*** ERROR: Unable to open Message Window", 1);
        return 0;
    }
    made = true;
    return w;
}

// Refreshes a sender's cached address when the channel lists it.
void RefreshAddress(WindowId chan) {
    LineContext& c = Current();
    if (!Options().mil || !chan || !c.line.has_userhost) return;
    const ChannelData* data = FindChannel(chan);
    if (data && FindMember(data->nicks, c.Tok(0))) addnick(c.Tok(0), c.line.userhost, false);
}

void ShowCtcpReply() {
    LineContext& c = Current();
    const std::string& source = c.Tok(0);
    std::string text = c.Tok(3);
    std::string shown = "[" + source + " ";
    if (text.size() >= 5 && EqualNoCase(std::string_view(text).substr(1, 4), "PING")) {
        std::string_view rest = std::string_view(text).substr(5);
        while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
        long long sent = std::atoll(std::string(rest.substr(0, 20)).c_str());
        if (sent > 0) {
            shown += "PING reply]: " + std::to_string(SessionWallSeconds() - sent) + " secs";
        } else {
            shown += "PING reply]";
        }
    } else {
        std::replace(text.begin(), text.end(), '\x01', ' ');
        std::string_view body = text;
        while (!body.empty() && body.front() == ' ') body.remove_prefix(1);
        size_t blank = body.find(' ');
        if (blank == std::string_view::npos) {
            shown += std::string(body) + "]";
        } else {
            shown += std::string(body.substr(0, blank)) + " reply]";
            std::string_view rest = body.substr(blank + 1);
            while (!rest.empty() && rest.back() == ' ') rest.remove_suffix(1);
            if (rest.size() > 2) shown += ": " + std::string(rest);
        }
    }
    WhoisRecord& w = Session().uwho;
    if (w.open && SameName(w.nick, source)) {
        w.oper = shown.substr(0, 150);
        return;
    }
    c.uc = 3;
    c.mw = 0;
    c.currwin = StatusWindow();
    AppendMsg(shown);
    printinfo(-1);
}

void NoticeToUs() {
    LineContext& c = Current();
    const ChatOptions& o = Options();
    const std::string& source = c.Tok(0);
    AppendMsg("-" + source + "-");
    for (size_t i = 3; i < c.line.tk.size(); ++i) {
        AppendMsg(" ");
        AppendMsg(c.line.tk[i]);
    }
    c.uc = 4;
    bool from_server = !c.line.has_userhost && source.find('.') != std::string::npos;
    if (from_server) {
        CurrentEvent e = c.event;
        e.code = kEventText;
        e.nick = source;
        e.text = c.Tok(3);
        if (performevent(e) == 0) {
            c.msg.clear();
            return;
        }
    }
    const std::string& text = c.Tok(3);
    if (StartsWithNoCase(text, "DCC ")) {
        if (StartsWithNoCase(text, "DCC Send ")) {
            SoundAlarm(o.bos, "send");
        } else if (StartsWithNoCase(text, "DCC Chat ")) {
            SoundAlarm(o.boq, "query");
        } else {
            c.beep = 1;
        }
        c.currwin = StatusWindow();
        return printinfo(-1);
    }
    if (o.bon) {
        SoundAlarm(o.bon, "notice");
    } else {
        c.beep = 1;
    }
    // In the active channel when it holds the sender; else every channel that does; else the
    // status window.
    WindowId active = Windows().CActive;
    const ChannelData* data = FindChannel(active);
    const WindowRecord* ar = RecordOf(active);
    if (ar && ar->kind == kKindChannel && data && FindMember(data->nicks, source)) {
        c.currwin = active;
        return printinfo(-1);
    }
    std::string text_shown = timestamp(c.msg);
    bool shown = false;
    for (auto& [id, d] : Session().channels) {
        if (findhwnd(id) < 0 || !FindMember(d.nicks, source)) continue;
        PrintWithHints(id, text_shown, 4);
        shown = true;
    }
    if (shown) {
        c.msg.clear();
        return;
    }
    c.currwin = StatusWindow();
    printinfo(-1);
}

}  // namespace

void HandleNotice() {
    LineContext& c = Current();
    const std::string& source = c.Tok(0);
    const std::string& target = c.Tok(2);
    checknotify(true, source);
    if (ignoring(source, c.line.userhost, "notice")) return;
    c.uc = 3;
    c.ABlank = true;  // a notice in the status window is always followed by a separator
    const std::string& text = c.Tok(3);
    if (!text.empty() && text[0] == '\x01') return ShowCtcpReply();
    if (IsChannelName(target)) {
        c.event.code = kEventText;
        WindowId chan = ChannelWindowByName(target);
        if (chan) {
            c.currwin = chan;
            RefreshAddress(chan);
        } else {
            c.currwin = StatusWindow();
            c.BBlank = c.ABlank = true;
        }
        c.uc = 4;
        c.mw = 0;
        c.tab = 2;
        c.beep = 1;
        AppendMsg("-" + source + ":" + target + "-");
        return printinfo(3);
    }
    NoticeToUs();
}

// Our own message as the server echoed it (echo-message): shown as the message was typed.
void ShowOwnEcho(const std::string& target, const std::string& text) {
    const ChatOptions& o = Options();
    const std::string& nick = Current().Tok(0);
    bool channel = IsChannelName(target);
    bool action = text.starts_with(
        "\x01"
        "ACTION ");
    // Other requests of our own were shown when sent.
    if (!action && !text.empty() && text[0] == '\x01') return;
    std::string body = text;
    if (action) {
        body = text.substr(8);
        if (!body.empty() && body.back() == '\x01') body.pop_back();
    }
    WindowId win = channel ? ChannelWindowByName(target) : WindowNamed(target);
    std::string line;
    if (action) {
        line = "* " + nick + " " + body;
    } else if (win) {
        line = (o.pom ? "<" + nick + "> " : std::string("> ")) + body;
    } else {
        line = "-> *" + target + "* " + body;
    }
    Windows().tab = channel ? 2 : 3;
    int colour = action && channel && o.aap ? 5 : (o.omh ? 4 : 0);
    Print(win ? win : StatusWindow(), timestamp(line), colour);
}

void HandlePrivmsg() {
    LineContext& c = Current();
    const std::string& source = c.Tok(0);
    const std::string& target = c.Tok(2);
    const std::string& text = c.Tok(3);
    if (CapEnabled("echo-message") && SameName(source, Conn().session_nick))
        return ShowOwnEcho(target, text);
    bool to_channel = IsChannelName(target);
    WindowId found = 0;
    if (to_channel) {
        found = ChannelWindowByName(target);
        RefreshAddress(found);
        if (ignoring(source, c.line.userhost, "channel")) return;
    } else {
        int slot = exists(source);
        if (slot >= 0 && Windows().ch[slot].kind == kKindQuery) found = Windows().ch[slot].window;
        checknotify(true, source);
    }
    if (!text.empty() && text[0] == '\x01') {
        if (ignoring(source, c.line.userhost, "ctcp")) return;
        doctcp(found);
        if (!c.msg.empty()) {
            WindowId win = c.currwin ? c.currwin : StatusWindow();
            PrintWithHints(win, timestamp(c.msg), c.uc);
            c.msg.clear();
        }
        return;
    }
    if (!to_channel && ignoring(source, c.line.userhost, "private")) return;
    c.beep = 1;
    c.mw = 0;
    c.tab = 3;
    c.uc = 0;
    c.currwin = found;
    c.event.code = kEventText;
    if (to_channel) {
        if (!found) {
            c.event.code = 0;
            return;
        }
        c.highlight = true;
        AppendMsg("<" + source + ">");
        return printinfo(3);
    }
    if (!target.empty() && target[0] == '$') {
        c.uc = 5;
        c.currwin = StatusWindow();
        c.BBlank = c.ABlank = true;
        AppendMsg("[" + source + "]");
        return printinfo(3);
    }
    query();
    if (!c.currwin) return;
    ShowSenderAccount(source, c.currwin);
    printinfo(3);
}

WindowId QueryWindowFor(std::string_view nick, bool allow_active, bool& shared) {
    const ChatOptions& o = Options();
    shared = true;
    // A crowd of strangers writing to us must not use up the window table: the last free
    // slots stay for our own windows, and their messages share the message window.
    if (o.udmw || FreeSlots() <= kQuerySlotReserve) {
        bool made = false;
        WindowId w = MessageWindow(made);
        if (made) SoundAlarm(o.boq, "query");
        return w;
    }
    const WindowRecord* active = RecordOf(Windows().CActive);
    if (allow_active && o.sqaw && active && active->kind == kKindChannel) return active->window;
    shared = false;
    WindowId w = MakeNewWindow(nick, false);
    if (!w) {
        Print(StatusWindow(), "*** ERROR: Unable to open Query Window", 3);
        return 0;
    }
    if (o.woq) SendToServer("WHOIS " + std::string(nick), false);
    SoundAlarm(o.boq, "query");
    return w;
}

void query() {
    LineContext& c = Current();
    const std::string& source = c.Tok(0);
    if (Hooks().nick_wrote) Hooks().nick_wrote(source);
    c.tab = 2;
    c.mw = 0;
    c.uc = 0;
    c.highlight = true;
    if (c.currwin) {
        AppendMsg("<" + source + ">");
        return;
    }
    bool shared = false;
    c.currwin = QueryWindowFor(source, true, shared);
    if (!c.currwin) return;
    if (!shared) {
        AppendMsg("<" + source + ">");
        return;
    }
    const WindowRecord* r = RecordOf(c.currwin);
    if (r && r->kind == kKindChannel) {
        c.uc = 4;
        c.beep = 1;
    }
    AppendMsg("*" + source + "*");
}

}  // namespace chat
