#include "chat/core/session/server_parser.h"

#include <algorithm>
#include <cctype>

#include "chat/core/connection/capabilities.h"
#include "chat/core/connection/connection.h"
#include "chat/core/connection/sasl.h"
#include "chat/core/frame.h"
#include "chat/core/options.h"
#include "chat/core/process_wide.h"
#include "chat/core/session/address_cache.h"
#include "chat/core/session/ircv3_events.h"
#include "chat/core/session/nick_list.h"
#include "chat/core/session/session_state.h"
#include "chat/core/windows/window_print.h"
#include "chat/core/windows/window_table.h"

namespace chat {
namespace {

constexpr int64_t kRejoinDelayMs = 3000;
constexpr int64_t kKickWindowMs = 60000;
constexpr size_t kKicksBeforeGivingUp = 3;
constexpr int64_t kInviteJoinIntervalMs = 10000;

LineContext& Storage() {
    return ProcessWide<LineContext>();
}

// Whether a command word is `upper` in any case. ASCII only: command words are ASCII, and the
// locale's functions cost a call per byte. Nothing is copied: this runs for every line.
bool IsWord(std::string_view s, std::string_view upper) {
    if (s.size() != upper.size()) return false;
    for (size_t i = 0; i < s.size(); ++i) {
        char ch = s[i];
        if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 32);
        if (ch != upper[i]) return false;
    }
    return true;
}

std::string Lower(std::string_view s) {
    std::string out(s.substr(0, 16));
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return out;
}

bool IsNumeric(std::string_view s) {
    if (s.empty() || s.size() > 3) return false;
    return std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

const std::string& Source() {
    return Storage().Tok(0);
}

// Shows the line in the status window with blank lines around it.
void Blanks() {
    Storage().BBlank = Storage().ABlank = true;
}

// Asks the server for a channel's modes after a change, once at a time.
void RequestModes(WindowId window) {
    WindowRecord* r = RecordOf(window);
    if (!r) return;
    if (r->mode_request == 0) {
        SendToServer("MODE " + r->name, false);
        r->mode_request = 1;
    } else {
        r->mode_request = 2;
    }
}

void ShowJoinPart(WindowId chan, std::string_view verb, std::string_view verb_short,
                  std::string_view channel) {
    LineContext& c = Storage();
    const ChatOptions& o = Options();
    bool in_channel = o.sjpc != 0;
    c.currwin = in_channel ? chan : StatusWindow();
    const std::string& nick = Source();
    bool addr = o.sua && c.line.has_userhost;
    std::string text;
    if (!o.ajpf) {
        text = "*** " + nick + (addr ? " (" + c.line.userhost + ")" : "") + " " +
               std::string(verb) + " " + std::string(channel);
    } else if (in_channel) {
        text = "*** " + std::string(verb_short) + ": " + nick +
               (addr ? " (" + c.line.userhost + ")" : "");
    } else {
        text = "*** " + std::string(verb_short) + " " + std::string(channel) + ": " + nick +
               (addr ? " (" + c.line.userhost + ")" : "");
    }
    c.uc = 2;
    AppendMsg(text);
}

void HandlePing(size_t param) {
    LineContext& c = Storage();
    SendToServer(c.Has(param) ? "PONG :" + c.Tok(param) : std::string("PONG"), false);
    c.uc = 2;
    AppendMsg("PING? PONG!");
    printinfo(-1);
}

void HandleError(size_t from) {
    LineContext& c = Storage();
    c.uc = 2;
    c.mw = 0;
    printinfo(static_cast<int>(from));
}

void HandleInvite() {
    LineContext& c = Storage();
    const ChatOptions& o = Options();
    const std::string& channel = c.Tok(3);
    if (channel.empty() || channel.size() > kMaxChannelName || channel[0] == '0') return;
    if (ignoring(Source(), c.line.userhost, "invite")) return;
    // invite-notify tells the channel's members about invites of others: shown in the
    // channel, never taken as an invitation of ours.
    if (c.Has(2) && !IsMe(c.Tok(2))) {
        WindowId chan = ChannelWindowByName(channel);
        if (chan)
            Print(chan,
                  timestamp("*** " + Source() + " invited " + c.Tok(2).substr(0, 100) + " to " +
                            channel),
                  2);
        return;
    }
    SoundAlarm(o.boi, "invite");
    ChatSession& s = Session();
    s.chinv.clear();
    if (o.ajcoi && IsValidChannelName(channel)) {
        int64_t now = SessionNowMs();
        // Anyone can invite us; a stream of invites must not turn into a stream of joins.
        if (s.last_invite_join_ms < 0 || now - s.last_invite_join_ms >= kInviteJoinIntervalMs) {
            s.last_invite_join_ms = now;
            SendToServer("JOIN " + channel, false);
            s.chinv = channel;
        }
    }
    const WindowRecord* active = RecordOf(Windows().CActive);
    if (o.siaw && active &&
        (active->kind == kKindChannel ||
         (active->kind == kKindQuery && active->name.rfind("Chat ", 0) == 0)))
        c.currwin = active->window;
    c.uc = 2;
    Blanks();
    if (o.sua && c.line.has_userhost) {
        AppendMsg("*** " + Source() + " (" + c.line.userhost + ") invites you to join " + channel);
    } else {
        AppendMsg("*** " + Source() + " invites you to join " + channel);
    }
    c.event.code = kEventInvite;
    printinfo(-1);
}

void HandleJoin() {
    LineContext& c = Storage();
    const ChatOptions& o = Options();
    const std::string& channel = c.Tok(2);
    if (!IsChannelName(channel)) {
        if (!channel.empty()) SendToServer("PART " + channel, false);
        return;
    }
    if (o.mil && c.line.has_userhost) addnick(Source(), c.line.userhost, false);
    WindowId chan = ChannelWindowByName(channel);
    if (!IsMe(Source())) {
        if (!chan) return;
        int slot = findhwnd(chan);
        user(Source(), slot, 1, kPlain);
        if (Options().doop && Hooks().auto_op && user(CurrentNickname(), slot, 2, 0) == kOperator)
            Hooks().auto_op(channel, Source(), c.line.userhost);
        if (BatchTakesJoin(Source(), chan)) return;
        ShowJoinPart(chan, "has joined", "Joins", channel);
        AppendMsg(JoinAccountText());
        printinfo(-1);
    } else if (chan) {
        WindowRecord* r = RecordOf(chan);
        if (r->rejoin_pending) {
            r->rejoin_pending = false;
            Print(chan, timestamp("*** Rejoined channel " + channel), 2);
        }
        SetActiveWindow(chan);
        if (CurrentFrontend().activate_window) CurrentFrontend().activate_window(chan);
    } else if (channel.size() > kMaxChannelName) {
        SendToServer("PART " + channel, false);
        return;
    } else {
        // Data of windows closed by the user go now, before a slot can be reused.
        for (auto it = Session().channels.begin(); it != Session().channels.end();)
            it = findhwnd(it->first) < 0 ? Session().channels.erase(it) : std::next(it);
        chan = MakeNewWindow(channel, false);
        if (!chan) {
            Print(StatusWindow(), "*** ERROR: Unable to open Channel Window", 3);
            return;
        }
        ChannelOf(chan) = ChannelData{};
        RecordOf(chan)->mode_request = 1;
        SendToServer("MODE " + channel, false);
        Print(chan, timestamp("*** Now talking in " + channel), 2);
    }
    checknotify(true, Source());
    c.event.code = kEventText;
}

void HandlePart() {
    LineContext& c = Storage();
    const ChatOptions& o = Options();
    const std::string& channel = c.Tok(2);
    WindowId chan = ChannelWindowByName(channel);
    if (chan && !IsMe(Source())) {
        user(Source(), findhwnd(chan), 0, 0);
        ShowJoinPart(chan, "has left", "Parts", channel);
        if (Hooks().cancel_auto_op) Hooks().cancel_auto_op(Source());
        checknotify(true, Source());
        if (o.mil) remnick(Source(), false);
        c.event.code = kEventText;
        printinfo(-1);
    } else if (chan) {
        CloseByServer(chan);
        if (o.mil) cleanlist();
    } else if (o.mil) {
        remnick(Source(), false);
    }
}

void ScheduleRejoin(WindowId chan, const std::string& channel, const std::string& kicker,
                    const std::string& reason) {
    ChatSession& s = Session();
    int64_t now = SessionNowMs();
    std::deque<int64_t>& times = s.kicks[FoldName(channel)].times_ms;
    while (!times.empty() && now - times.front() >= kKickWindowMs) times.pop_front();
    times.push_back(now);
    WindowRecord* r = RecordOf(chan);
    if (times.size() >= kKicksBeforeGivingUp) {
        // Someone keeps kicking us: stop rejoining rather than fight a loop.
        CloseByServer(chan);
        Pp(StatusWindow(), "*** Not rejoining " + channel + " (kicked 3 times in a minute)", 1);
        return;
    }
    Print(chan, timestamp("*** You were kicked by " + kicker + " (" + reason + ")"), 2);
    Print(chan, timestamp("*** Attempting to rejoin..."), 1);
    r->rejoin_pending = true;
    s.rejoins.push_back(PendingRejoin{channel, now + kRejoinDelayMs});
}

void HandleKick() {
    LineContext& c = Storage();
    const ChatOptions& o = Options();
    const std::string& channel = c.Tok(2);
    const std::string& victim = c.Tok(3);
    const std::string& reason = c.Tok(4);
    const std::string& kicker = Source();
    WindowId chan = ChannelWindowByName(channel);
    if (victim.empty()) return;
    if (IsMe(victim)) {
        if (!chan) return;
        if (o.rcwk && !IsMe(kicker)) {
            ScheduleRejoin(chan, channel, kicker, reason);
        } else {
            CloseByServer(chan);
        }
        c.currwin = StatusWindow();
        c.uc = 2;
        Blanks();
        AppendMsg("*** You were kicked from " + channel + " by " + kicker + " (" + reason + ")");
        printinfo(-1);
        remnick(victim, false);
        return;
    }
    if (chan) {
        user(victim, findhwnd(chan), 0, 0);
        c.currwin = chan;
    }
    c.uc = 2;
    AppendMsg("*** " + victim + " was kicked by " + kicker + " (" + reason + ")");
    if (o.mil) {
        remnick(victim, false);
        if (!SameName(victim, kicker) && c.line.has_userhost)
            addnick(kicker, c.line.userhost, false);
    }
    c.event.code = kEventKick;
    checknotify(true, kicker);
    printinfo(-1);
}

void HandleKill() {
    LineContext& c = Storage();
    const std::string& victim = c.Tok(2);
    c.uc = 1;
    if (victim.empty()) return;
    if (!IsMe(victim)) {
        for (auto& [id, data] : Session().channels) {
            if (findhwnd(id) >= 0 && RemoveMember(data.nicks, victim)) MarkNickListChanged(id);
        }
        AppendMsg("*** " + victim + " killed by " + Source() + " (" + c.Tok(3) + ")");
    } else {
        AppendMsg("*** You were killed by " + Source() + " (" + c.Tok(3) + ")");
    }
    remnick(victim, false);
    checknotify(false, victim);
    printinfo(-1);
}

void UserModes(std::string_view modes) {
    ChatSession& s = Session();
    bool plus = true;
    bool was_oper = s.umodes.find('o') != std::string::npos;
    for (char m : modes) {
        if (m == '+' || m == '-') {
            plus = m == '+';
        } else if (plus) {
            if (s.umodes.find(m) == std::string::npos && s.umodes.size() < 64) s.umodes += m;
        } else {
            s.umodes.erase(std::remove(s.umodes.begin(), s.umodes.end(), m), s.umodes.end());
        }
    }
    std::string shown = "[+";
    for (char m : std::string_view("iwso"))
        if (s.umodes.find(m) != std::string::npos) shown += m;
    Conn().szUmode = shown + "]";
    showstatusinfo();
    if (!was_oper && s.umodes.find('o') != std::string::npos)
        Print(StatusWindow(), "*** Greetings IRCop ***", 5);
}

void ChannelModes(WindowId chan, std::string_view modes) {
    LineContext& c = Storage();
    ChatSession& s = Session();
    NickList& list = ChannelOf(chan).nicks;
    size_t arg = 4;
    bool plus = true, changed = false;
    for (char m : modes) {
        if (m == '+' || m == '-') {
            plus = m == '+';
            continue;
        }
        char mark = MarkForMode(m);
        if (mark) {
            if (!c.Has(arg)) break;
            const std::string& nick = c.Tok(arg++);
            const Member* member = FindMember(list, nick);
            if (!member) continue;
            // Every mark is kept, so that an operator's voice is still there after -o.
            char old = member->mark;
            std::string marks = member->marks;
            size_t at = marks.find(mark);
            if (plus && at == std::string::npos) marks += mark;
            if (!plus && at != std::string::npos) marks.erase(at, 1);
            if (marks == member->marks) continue;
            std::string name = member->nick;
            SetMemberMarks(list, name, marks);
            char now = FindMember(list, name)->mark;
            MarkNickListChanged(chan);
            if (IsOperatorMark(old) != IsOperatorMark(now) && Options().lfe) {
                c.event.code = kEventOp;
                auto& collection = IsOperatorMark(now) ? s.op_nicks : s.deop_nicks;
                if (collection.size() < 5) collection.push_back(name.substr(0, 100));
            }
            continue;
        }
        bool takes = ModeTakesArgument(m, plus);
        if (takes && c.Has(arg)) ++arg;
        bool list_mode = s.chanmodes_known ? s.chanmodes_a.find(m) != std::string::npos
                                           : (m == 'b' || m == 'e' || m == 'I');
        if (!list_mode) changed = true;
    }
    if (changed) {
        if (Options().lfe && c.event.code == 0) c.event.code = kEventMode;
        RequestModes(chan);
    }
}

void HandleMode() {
    LineContext& c = Storage();
    ChatSession& s = Session();
    const std::string& target = c.Tok(2);
    s.op_nicks.clear();
    s.deop_nicks.clear();
    s.pending_mode_request.clear();
    WindowId chan = ChannelWindowByName(target);
    if (chan) {
        ChannelModes(chan, c.Tok(3));
    } else if (IsMe(target)) {
        UserModes(c.Tok(3));
    }
    checknotify(true, Source());
    if (Options().mil && c.line.has_userhost) addnick(Source(), c.line.userhost, false);
    c.uc = 2;
    if (chan && Options().smic) {
        c.currwin = chan;
    } else {
        Blanks();
    }
    if (SameName(Source(), target)) {
        AppendMsg("*** " + Source() + " sets mode:");
    } else {
        AppendMsg("*** " + Source() + " sets " + target + " mode:");
    }
    printinfo(3);
}

void RenameWindow(int slot, const std::string& name) {
    WindowRecord& r = Windows().ch[slot];
    r.name = name.substr(0, kMaxWindowName);
    Retitle(r.window);
}

void HandleNick() {
    LineContext& c = Storage();
    const std::string old_nick = Source();
    const std::string& new_nick = c.Tok(2);
    if (new_nick.empty()) return;
    if (Options().mil) addnick(old_nick, new_nick, true);
    bool ours = IsMe(old_nick);
    if (ours) {
        // The new nick is the one to log on with after a drop; the settings keep theirs.
        Conn().wnick = 0;
        Conn().main_nick = new_nick.substr(0, 100);
        SetSessionNick(new_nick);
        showstatusinfo();
    }
    int slot = exists(old_nick);
    if (slot >= 0 && Windows().ch[slot].kind == kKindQuery) RenameWindow(slot, new_nick);
    std::string text = timestamp("*** " + old_nick + " is now known as " + new_nick);
    for (auto& [id, data] : Session().channels) {
        if (findhwnd(id) < 0 || !RenameMember(data.nicks, old_nick, new_nick)) continue;
        MarkNickListChanged(id);
        Print(id, text, 2);
    }
    if (ours) {
        Pp(StatusWindow(), timestamp("*** Your nick is now " + new_nick), 2);
    }
    checknotify(true, new_nick);
    c.event.code = kEventNick;
}

void HandleQuit() {
    LineContext& c = Storage();
    const ChatOptions& o = Options();
    const std::string& nick = Source();
    const std::string& reason = c.Tok(2);
    std::string text = o.ajpf ? "*** Quits: " + nick : "*** " + nick + " has quit IRC";
    if (!reason.empty()) text += " (" + reason + ")";
    text = timestamp(text);
    std::vector<WindowId> left;
    for (auto& [id, data] : Session().channels) {
        if (findhwnd(id) < 0 || !RemoveMember(data.nicks, nick)) continue;
        MarkNickListChanged(id);
        left.push_back(id);
    }
    // A quit inside a netsplit batch is shown in the batch's one summary line.
    const bool batched = BatchTakesQuit(nick, left);
    if (o.sqoc && !batched)
        for (WindowId id : left) Print(id, text, 1);
    std::string status = "*** " + nick + " (" + c.line.userhost + ") Quit";
    if (!reason.empty()) status += " (" + reason + ")";
    c.uc = 1;
    if (!batched) AppendMsg(status);
    if (Hooks().cancel_auto_op) Hooks().cancel_auto_op(nick);
    checknotify(false, nick);
    remnick(nick, false);
    c.event.code = kEventQuit;
    printinfo(-1);
}

void HandleTopic() {
    LineContext& c = Storage();
    const std::string& channel = c.Tok(2);
    WindowId chan = ChannelWindowByName(channel);
    if (chan) {
        RecordOf(chan)->topic = c.Tok(3).substr(0, kMaxTopic);
        Retitle(chan);
        c.currwin = chan;
    }
    c.uc = 1;
    AppendMsg("*** " + Source() + " changes topic to \"" + c.Tok(3) + "\"");
    c.event.code = kEventTopic;
    printinfo(-1);
}

// Where a command's text stands when the line sends it without the ":" marker, as a server
// may for a single word ("PRIVMSG #t word"): the kick reason after the victim, the new nick
// or the quit reason right after the command, otherwise after the target.
size_t TextIndex(std::string_view command) {
    if (command == "kick") return 4;
    if (command == "join" || command == "nick" || command == "quit") return 2;
    return 3;
}

void Dispatch() {
    LineContext& c = Storage();
    std::vector<std::string>& tk = c.line.tk;
    const std::string& first = tk[0];
    if (IsWord(first, "ERROR")) return HandleError(0);
    if (IsWord(first, "NOTICE")) {
        c.ABlank = true;
        return printinfo(2);
    }
    if (IsWord(first, "PING")) return HandlePing(1);
    if (IsWord(first, "PONG")) return;
    if (IsWord(first, "AUTHENTICATE")) return HandleAuthenticate(tk);
    if (tk.size() < 2) return;
    // The source: "nick!user@host", a server name, or a bare nick.
    size_t bang = tk[0].find('!');
    if (bang != std::string::npos) {
        c.line.userhost.assign(tk[0], bang + 1);
        c.line.has_userhost = true;
        tk[0].resize(bang);
    }
    const std::string& command = tk[1];
    if (IsNumeric(command)) {
        int code = 0;
        for (char digit : command) code = code * 10 + (digit - '0');
        if (code >= 900 && code <= 908 && HandleSaslNumeric(code, tk)) return;
        if (code > 0) return number(code, c.line.trailing);
    }
    // The flood's own command first.
    if (IsWord(command, "PRIVMSG")) return HandlePrivmsg();
    if (IsWord(command, "CAP")) return HandleCap(tk);
    if (IsWord(command, "AUTHENTICATE")) return HandleAuthenticate(tk);
    if (HandleIrcv3Command(command)) return;
    if (IsWord(command, "PING")) return HandlePing(2);
    if (IsWord(command, "ERROR")) return HandleError(1);
    if (IsWord(command, "PONG")) {
        if (TakeLagPong(tk.back())) return;
        c.uc = 1;
        AppendMsg("*** PONG from " + Source());
        return printinfo(-1);
    }
    if (IsWord(command, "INVITE")) return HandleInvite();
    if (IsWord(command, "JOIN")) return HandleJoin();
    if (IsWord(command, "KICK")) return HandleKick();
    if (IsWord(command, "KILL")) return HandleKill();
    if (IsWord(command, "MODE")) return HandleMode();
    if (IsWord(command, "NICK")) return HandleNick();
    if (IsWord(command, "NOTICE")) return HandleNotice();
    if (IsWord(command, "PART")) return HandlePart();
    if (IsWord(command, "QUIT")) return HandleQuit();
    if (IsWord(command, "TOPIC")) return HandleTopic();
    if (IsWord(command, "WALLOPS")) {
        c.uc = 5;
        AppendMsg("!" + Source() + "!");
        return printinfo(2);
    }
    printinfo(0);
}

}  // namespace

WindowId ChannelWindowByName(std::string_view channel) {
    if (!IsChannelName(channel)) return 0;
    // Channel names compare by the server's case mapping, like nicknames.
    for (const WindowRecord& r : Windows().ch)
        if (r.window && r.kind == kKindChannel && SameName(r.name, channel)) return r.window;
    return 0;
}

void Retitle(WindowId window) {
    const WindowRecord* r = RecordOf(window);
    if (!r) return;
    std::string title = r->name;
    if (!r->modes.empty()) title += " " + r->modes;
    if (!r->topic.empty()) title += ": " + r->topic;
    Frontend& fe = CurrentFrontend();
    if (fe.rename_window) fe.rename_window(window, r->name, title);
    if (fe.window_list_changed) fe.window_list_changed();
}

void CloseByServer(WindowId window) {
    if (WindowRecord* r = RecordOf(window)) {
        r->closed_by_server = true;
        DropChannel(window);
        closewindow(window);
    }
}

void SetSessionNick(std::string_view nick) {
    Session().nick = std::string(nick.substr(0, 100));
    Conn().session_nick = Session().nick;
}

LineContext& Current() {
    return Storage();
}

TokenizedLine Tokenize(std::string_view line) {
    TokenizedLine out;
    TokenizeInto(line, out);
    return out;
}

void TokenizeInto(std::string_view line, TokenizedLine& out) {
    // Tokens are assigned into the strings of the previous line, which keep their capacity.
    size_t n = 0;
    auto put = [&out, &n](std::string_view token) {
        if (n < out.tk.size()) {
            out.tk[n].assign(token);
        } else {
            out.tk.emplace_back(token);
        }
        ++n;
    };
    out.trailing = 0;
    // IRCv3 message tags come before the source and are not shown.
    if (!line.empty() && line.front() == '@') {
        size_t blank = line.find(' ');
        line = blank == std::string_view::npos ? std::string_view() : line.substr(blank + 1);
        while (!line.empty() && line.front() == ' ') line.remove_prefix(1);
    }
    if (!line.empty() && line.front() == ':') line.remove_prefix(1);
    while (!line.empty() && n < kMaxTokens) {
        if (n > 0 && line.front() == ':') {
            out.trailing = n;
            put(line.substr(1));
            break;
        }
        size_t blank = line.find(' ');
        put(line.substr(0, blank));
        if (blank == std::string_view::npos) break;
        line.remove_prefix(blank);
        while (!line.empty() && line.front() == ' ') line.remove_prefix(1);
    }
    out.tk.resize(n);
}

void AppendMsg(std::string_view text) {
    std::string& msg = Storage().msg;
    if (msg.size() >= kMaxMsg) return;
    msg.append(text.substr(0, kMaxMsg - msg.size()));
}

WindowId StatusWindow() {
    return Windows().statwin;
}

WindowId WindowNamed(std::string_view name) {
    int slot = exists(name);
    return slot < 0 ? 0 : Windows().ch[slot].window;
}

void PrintWithHints(WindowId window, std::string_view text, int colour) {
    LineContext& c = Storage();
    WindowTable& t = Windows();
    t.tab = std::min(c.tab, 25);
    t.mw = c.mw;
    t.beep = c.beep;
    t.DoHL = c.highlight;
    Print(window, text, colour);
}

void printinfo(int from) {
    LineContext& c = Storage();
    if (from >= 0) {
        for (size_t i = static_cast<size_t>(from); i < c.line.tk.size() && i < kMaxTokens; ++i) {
            if (!c.msg.empty()) AppendMsg(" ");
            AppendMsg(c.line.tk[i]);
        }
    }
    if (c.msg.empty()) return;
    WindowId win = c.currwin ? c.currwin : StatusWindow();
    bool status = win == StatusWindow();
    if (status && c.BBlank) StatusGap();
    if (Options().tse) {
        PrintWithHints(win, timestamp(c.msg), c.uc);
    } else {
        PrintWithHints(win, c.msg, c.uc);
    }
    if (status && c.ABlank) StatusGap();
    c.msg.clear();
}

void parseline(std::string_view line) {
    if (line.empty()) return;
    LineContext& c = Storage();
    // Reset field by field: the token and text buffers keep their capacity from line to line.
    c.line.trailing = 0;
    c.line.userhost.clear();
    c.line.has_userhost = false;
    c.msg.clear();
    c.currwin = 0;
    c.uc = 0;
    c.mw = 85;
    c.tab = 0;
    c.beep = 0;
    c.highlight = false;
    c.BBlank = c.ABlank = false;
    c.event.code = 0;
    TakeLineTags(line);
    TokenizeInto(line, c.line);
    if (c.line.tk.empty() || c.line.tk[0].empty()) return;
    Dispatch();
    // Building the event copies the line; skip it while nothing listens (the events script
    // is only consulted while listening for events is on).
    if (c.event.code > 0 && Hooks().perform && Options().lfe) {
        c.event.command = Lower(c.Tok(1));
        c.event.target = c.Tok(2);
        c.event.nick = c.Tok(0);
        c.event.userhost = c.line.userhost;
        c.event.arg = c.Tok(3);
        c.event.text = c.Tok(c.line.trailing ? c.line.trailing : TextIndex(c.event.command));
        performevent(c.event);
    }
}

void ParserTick() {
    ChatSession& s = Session();
    int64_t now = SessionNowMs();
    for (auto it = s.rejoins.begin(); it != s.rejoins.end();) {
        if (now < it->due_ms) {
            ++it;
            continue;
        }
        WindowId chan = ChannelWindowByName(it->channel);
        if (chan && RecordOf(chan)->rejoin_pending) SendToServer("JOIN " + it->channel, false);
        it = s.rejoins.erase(it);
    }
}

void InstallServerParser() {
    Conn().parseline = parseline;
    static bool ticking = false;
    if (!ticking) {
        ticking = true;
        Frame().each_second.push_back(ParserTick);
    }
}

}  // namespace chat
