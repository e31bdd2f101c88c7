// Numeric replies: what each prints and the session state it drives (logon, nick refusal,
// modes, away, topics, NAMES into nick lists, who-is, the channels list and the links tree).
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <vector>

#include "chat/core/connection/connection.h"
#include "chat/core/frame.h"
#include "chat/core/options.h"
#include "chat/core/session/address_cache.h"
#include "chat/core/session/nick_list.h"
#include "chat/core/session/server_parser.h"
#include "chat/core/session/session_state.h"
#include "chat/core/wildcard.h"
#include "chat/core/windows/window_print.h"
#include "chat/core/windows/window_settings.h"
#include "chat/core/windows/window_table.h"

namespace chat {
namespace {

// A server can send any number of LINKS lines; the tree shows at most this many.
constexpr size_t kMaxLinks = 10000;
// Channels-list entries kept; a larger listing is counted but not kept.
constexpr size_t kMaxListEntries = 100000;

LineContext& C() {
    return Current();
}

size_t Trailing() {
    return C().line.trailing;
}

// The trailing parameter alone; without one, the last parameter after our nickname.
void PrintTrailing() {
    LineContext& c = C();
    if (Trailing()) return printinfo(static_cast<int>(Trailing()));
    if (c.line.tk.size() > 3) return printinfo(static_cast<int>(c.line.tk.size() - 1));
    printinfo(-1);
}

// The subject and the text: from the token before the trailing, else the whole line.
void DefaultPrint() {
    printinfo(Trailing() ? static_cast<int>(Trailing() - 1) : 0);
}

void PrintFrom(size_t from) {
    printinfo(from < C().line.tk.size() ? static_cast<int>(from) : -1);
}

// From `back` tokens before the trailing, when there are that many.
void PrintBeforeTrailing(size_t back) {
    if (Trailing() >= back + 1) return printinfo(static_cast<int>(Trailing() - back));
    DefaultPrint();
}

void Blanks() {
    C().BBlank = C().ABlank = true;
}

int64_t Number(std::string_view s) {
    int64_t v = 0;
    for (char ch : s.substr(0, 18)) {
        if (ch < '0' || ch > '9') break;
        v = v * 10 + (ch - '0');
    }
    return v;
}

bool IsDialogNick(std::string_view nick) {
    const WhoisRecord& w = Session().uwho;
    return w.open && !nick.empty() && SameName(w.nick, nick);
}

// The who-is channels field: a long list is cut after a blank past the 200th character.
std::string CutChannels(std::string_view channels) {
    if (channels.size() <= 230) return std::string(channels.substr(0, 250));
    size_t blank = channels.find(' ', 200);
    if (blank == std::string_view::npos || blank > 235) blank = 200;
    return std::string(channels.substr(0, blank)) + "... (too many)";
}

void Welcome() {
    LineContext& c = C();
    Connection& conn = Conn();
    conn.LoggingNick = false;
    conn.NickError = false;
    SessionConnected();
    if (!c.Tok(2).empty()) SetSessionNick(c.Tok(2));
    if (!c.Tok(0).empty()) conn.szCHN = c.Tok(0).substr(0, 100);
    const bool had_socket = conn.Sock != platform::net::kNoSocket;
    ConnectionWelcomed();
    // A required login that did not happen has closed the connection.
    if (had_socket && conn.Sock == platform::net::kNoSocket) return;
    showstatusinfo();
    c.BBlank = true;
    PrintTrailing();
}

void Isupport() {
    LineContext& c = C();
    size_t end = Trailing() ? Trailing() : c.line.tk.size();
    for (size_t i = 3; i < end; ++i) {
        ApplyIsupport(c.line.tk[i]);
        if (Hooks().isupport) Hooks().isupport(c.line.tk[i]);
    }
    DefaultPrint();
}

void NickRefused() {
    Connection& conn = Conn();
    const ChatOptions& o = Options();
    Blanks();
    if (conn.LoggingNick && !conn.NickError) {
        Frontend& fe = CurrentFrontend();
        if (conn.wnick == 1 || o.szAltNick.empty()) {
            if (fe.set_input) fe.set_input(StatusWindow(), "/nick ");
            if (conn.wnick == 1) Beep();
            conn.NickError = true;
        } else {
            conn.wnick = 1;
            SendToServer("NICK :" + o.szAltNick, false);
            showstatusinfo();
        }
    }
    DefaultPrint();
}

void EndOfMotd(int code) {
    LineContext& c = C();
    Connection& conn = Conn();
    if (code == 422) c.BBlank = true;
    conn.NickError = false;
    conn.LoggingNick = false;
    if (conn.FirstMOTD) {
        if (!conn.joinstr.empty()) SendToServer("JOIN " + conn.joinstr, false);
        conn.joinstr.clear();
        conn.FirstMOTD = false;
        if (Hooks().first_motd) Hooks().first_motd();
    }
    c.ABlank = true;
    PrintTrailing();
}

// Ends a pending look-up of the line's nickname; one that got no address fails.
void FinishLookup() {
    ChatSession& s = Session();
    const std::string& nick = C().Tok(3);
    for (auto it = s.lookups.begin(); it != s.lookups.end(); ++it) {
        if (!SameName(it->nick, nick)) continue;
        AddressLookup done = std::move(*it);
        s.lookups.erase(it);
        if (!done.answered && done.failed) done.failed();
        return;
    }
}

// True when the line belongs to a pending look-up, which takes it instead of the screen.
bool ForLookup() {
    return FindLookup(C().Tok(3)) != nullptr;
}

void WhoisUser() {
    LineContext& c = C();
    ChatSession& s = Session();
    s.InWhois = true;
    const std::string& nick = c.Tok(3);
    checknotify(true, nick);
    if (AddressLookup* l = FindLookup(nick)) {
        if (!l->answered) {
            l->answered = true;
            // A copy: the action may start another look-up and move the list.
            auto done = l->done;
            if (done) done(nick + "!" + c.Tok(4) + "@" + c.Tok(5));
        }
        return;
    }
    if (IsDialogNick(nick)) {
        s.uwho.address = (c.Tok(4) + "@" + c.Tok(5)).substr(0, 150);
        s.uwho.realname = c.Tok(c.line.tk.size() - 1).substr(0, 150);
        return;
    }
    c.BBlank = true;
    AppendMsg(nick + " is " + c.Tok(4) + "@" + c.Tok(5));
    printinfo(6);
}

void WhoisIdle() {
    LineContext& c = C();
    const std::string& nick = c.Tok(3);
    if (IsDialogNick(nick)) {
        Session().uwho.idle = c.Tok(4).substr(0, 150);
        return;
    }
    AppendMsg(nick + " has been idle " + convertseconds(Number(c.Tok(4))));
    const std::string& signon = c.Tok(5);
    if (!signon.empty() && signon[0] >= '0' && signon[0] <= '9')
        AppendMsg(", signed on " + extracttime(Number(signon)));
    printinfo(-1);
}

void ChannelModeReply() {
    LineContext& c = C();
    WindowId chan = ChannelWindowByName(c.Tok(3));
    if (!chan) {
        Blanks();
        return PrintFrom(3);
    }
    WindowRecord* r = RecordOf(chan);
    std::string modes = "[" + c.Tok(4);
    for (size_t i = 5; i < 7 && c.Has(i); ++i) modes += " " + c.Tok(i);
    while (!modes.empty() && modes.back() == ' ') modes.pop_back();
    modes += "]";
    r->modes = modes.size() <= 2 ? std::string() : modes.substr(0, 200);
    Retitle(chan);
    if (r->mode_request == 2) {
        SendToServer("MODE " + r->name, false);
        r->mode_request = 1;
        return;
    }
    if (r->mode_request == 1) {
        r->mode_request = 0;
        return;
    }
    Blanks();
    PrintFrom(3);
}

void Names() {
    LineContext& c = C();
    ChatSession& s = Session();
    if (!Trailing()) return DefaultPrint();
    const std::string& channel = c.Tok(Trailing() - 1);
    WindowId chan = ChannelWindowByName(channel);
    if (chan) {
        int slot = findhwnd(chan);
        if (!SameName(channel, s.lastch)) {
            ClearMembers(ChannelOf(chan).nicks);
            MarkNickListChanged(chan);
            s.lastch = channel.substr(0, 100);
        }
        std::string_view names = c.Tok(Trailing());
        while (!names.empty()) {
            size_t blank = names.find(' ');
            std::string_view name = names.substr(0, blank);
            // userhost-in-names: "@nick!user@host"; the address goes to the cache.
            size_t bang = name.find('!');
            if (bang != std::string_view::npos) {
                std::string_view address = name.substr(bang + 1);
                name = name.substr(0, bang);
                size_t marks = name.find_first_not_of("~&@%+");
                if (Options().mil && marks != std::string_view::npos &&
                    address.find('@') != std::string_view::npos)
                    addnick(name.substr(marks), address, false);
            }
            if (!name.empty()) user(name, slot, 1, 0);
            names = blank == std::string_view::npos ? std::string_view() : names.substr(blank + 1);
        }
    }
    c.tab = static_cast<int>(std::min<size_t>(channel.size() + 1, 25));
    c.mw = 0;
    c.BBlank = true;
    DefaultPrint();
}

void TopicSetter() {
    LineContext& c = C();
    ChatSession& s = Session();
    int64_t when = Number(c.Tok(5));
    if (!c.Has(5) || when < 1001) return;
    if (!s.LWTopic) c.BBlank = true;
    c.ABlank = true;
    AppendMsg(c.Tok(3) + " topic set by " + c.Tok(4) + " on " + extracttime(when));
    printinfo(-1);
}

void WhoLine() {
    LineContext& c = C();
    ChatSession& s = Session();
    if (!s.InWho) {
        s.InWho = true;
        c.BBlank = true;
    }
    c.tab = 0;
    c.mw = 0;
    AppendMsg(c.Tok(3) + " " + c.Tok(7) + " " + c.Tok(8) + " " + c.Tok(4) + "@" + c.Tok(5) + " :");
    AppendMsg(c.Tok(9));
    printinfo(-1);
}

void CannotJoin(int code) {
    LineContext& c = C();
    ChatSession& s = Session();
    const std::string& channel = c.Tok(3);
    WindowId chan = ChannelWindowByName(channel);
    if (chan && RecordOf(chan)->rejoin_pending) {
        CloseByServer(chan);
        AppendMsg(channel + " unable to rejoin channel ");
    } else {
        AppendMsg(channel + " can't join channel ");
    }
    switch (code) {
        case 405:
            AppendMsg("(server says you're on too many!)");
            break;
        case 471:
            AppendMsg("(it's full)");
            break;
        case 473:
            AppendMsg("(it's invite only)");
            break;
        case 474:
            AppendMsg("(you're banned!)");
            break;
        default:
            AppendMsg("(requires the correct key)");
            break;
    }
    if (!s.chinv.empty() && SameName(s.chinv, channel)) s.chinv.clear();
    Blanks();
    printinfo(-1);
}

void ListStart() {
    LineContext& c = C();
    ChatSession& s = Session();
    WindowId w = WindowNamed("Channels List");
    if (!w) w = MakeNewWindow("Channels List", false);
    if (!w) {
        c.uc = 3;
        AppendMsg("*** ERROR: Unable to open Channels Window!");
        return printinfo(-1);
    }
    WindowRecord* r = RecordOf(w);
    r->lines.clear();
    // A new listing replaces the last one.
    clearbuf(w, true);
    s.list_sorted.clear();
    r->topic = "0/0 Channels";
    Retitle(w);
    s.list_window = w;
    s.list_total = s.list_shown = s.list_since_title = 0;
    s.InListing = true;
    c.BBlank = true;
    AppendMsg("Listing channels");
    printinfo(-1);
}

bool ContainsAny(const std::vector<std::string>& words, const std::string& text) {
    for (const std::string& w : words)
        if (!w.empty() && text.find(w) != std::string::npos) return true;
    return false;
}

void ListTitle(ChatSession& s) {
    WindowRecord* r = RecordOf(s.list_window);
    if (!r) return;
    r->topic = std::to_string(s.list_shown) + "/" + std::to_string(s.list_total) + " Channels";
    Retitle(s.list_window);
}

void ListEntry() {
    LineContext& c = C();
    ChatSession& s = Session();
    WindowRecord* r = RecordOf(s.list_window);
    if (!r) return;
    size_t at = Trailing() >= 5 ? Trailing() - 2 : 3;
    const std::string& channel = c.Tok(at);
    const std::string& users = c.Tok(at + 1);
    const std::string topic = Trailing() ? c.Tok(Trailing()) : std::string();
    if (channel.size() < 2 || channel.size() > 25) return;
    const ChatOptions& o = Options();
    int64_t count = Number(users);
    std::string lowered = FoldName(channel);
    if (o.matchtext == 1) lowered += FoldName(topic);
    bool shown = count >= o.listmin && count <= o.listmax &&
                 !ContainsAny(s.list_exclude, lowered) &&
                 (s.list_match.empty() || ContainsAny(s.list_match, lowered));
    if (shown && o.hnanc) {
        unsigned char first = channel.size() > 1 ? static_cast<unsigned char>(channel[1]) : 0;
        shown = std::isalnum(first) != 0;
    }
    std::string entry = " " + channel + "\t" + users + (topic.empty() ? "" : "\t" + topic);
    ++s.list_total;
    if (shown) {
        ++s.list_shown;
        // Sorted entries wait for the end of the listing; unsorted ones show as they come.
        if (o.dscl) {
            Print(s.list_window, entry, 0);
        } else if (s.list_sorted.size() < kMaxListEntries) {
            s.list_sorted.push_back(entry);
        }
    }
    if (r->lines.size() < kMaxListEntries) aline(r->lines, entry, false);
    if (++s.list_since_title >= 10) {
        s.list_since_title = 0;
        ListTitle(s);
    }
}

// The held-back entries in channel-name order, ignoring case.
void ShowSortedList(ChatSession& s) {
    std::vector<std::string> entries = std::move(s.list_sorted);
    s.list_sorted.clear();
    if (!RecordOf(s.list_window)) return;
    std::stable_sort(
        entries.begin(), entries.end(), [](const std::string& a, const std::string& b) {
            return CompareNoCase(a.substr(0, a.find('\t')), b.substr(0, b.find('\t'))) < 0;
        });
    for (const std::string& entry : entries) Print(s.list_window, entry, 0);
}

void ListEnd() {
    LineContext& c = C();
    EndChannelListing();
    c.ABlank = true;
    Beep();
    PrintTrailing();
}

void LinksEntry() {
    LineContext& c = C();
    ChatSession& s = Session();
    if (!s.Linking) {
        s.Linking = true;
        s.szlinks.clear();
        StatusGap();
        Print(StatusWindow(), "Retrieving links...", 0);
    }
    if (s.szlinks.size() >= kMaxLinks) return;
    std::string info = Trailing() ? c.Tok(Trailing()) : std::string();
    atopline(s.szlinks, c.Tok(3) + "," + c.Tok(4) + "," + info, false);
}

struct LinkEntry {
    std::string server, uplink, info;
};

LinkEntry SplitLink(const std::string& text) {
    LinkEntry e;
    size_t a = text.find(',');
    e.server = text.substr(0, a);
    if (a == std::string::npos) return e;
    size_t b = text.find(',', a + 1);
    e.uplink = text.substr(a + 1, b == std::string::npos ? std::string::npos : b - a - 1);
    if (b != std::string::npos) e.info = text.substr(b + 1);
    return e;
}

void LinksEnd() {
    ChatSession& s = Session();
    WindowId w = WindowNamed("Links List");
    if (!w) w = MakeNewWindow("Links List", false);
    if (!w) {
        Print(StatusWindow(), "*** ERROR: Unable to open Links Window!", 3);
    } else {
        // Depth-first with an explicit stack: a hostile server can send a chain of any length.
        std::vector<LinkEntry> left;
        for (const Line& l : s.szlinks) left.push_back(SplitLink(l.text));
        std::vector<std::pair<LinkEntry, int>> stack;
        while (!left.empty()) {
            stack.emplace_back(left.front(), 0);
            left.erase(left.begin());
            while (!stack.empty()) {
                auto [e, depth] = stack.back();
                stack.pop_back();
                std::string text(static_cast<size_t>(std::min(depth, 20)), '\t');
                text += e.server;
                if (!e.uplink.empty()) text += " (" + e.uplink + ")";
                if (!e.info.empty()) text += " " + e.info;
                Print(w, text, 0);
                std::vector<LinkEntry> children;
                for (auto it = left.begin(); it != left.end();) {
                    if (findmatch(it->uplink, e.server)) {
                        children.push_back(std::move(*it));
                        it = left.erase(it);
                    } else {
                        ++it;
                    }
                }
                for (auto it = children.rbegin(); it != children.rend(); ++it)
                    stack.emplace_back(std::move(*it), depth + 1);
            }
        }
    }
    s.szlinks.clear();
    s.Linking = false;
    Print(StatusWindow(), "End of /LINKS", 0);
    StatusGap();
}

}  // namespace

void EndChannelListing() {
    ChatSession& s = Session();
    if (!s.InListing) return;
    ShowSortedList(s);
    ListTitle(s);
    s.InListing = false;
}

void number(int code, size_t trailing) {
    LineContext& c = C();
    ChatSession& s = Session();
    (void)trailing;
    switch (code) {
        case 1:
            return Welcome();
        case 2:
        case 3:
        case 257:
        case 258:
        case 372:
        case 377:
        case 412:
        case 431:
            return PrintTrailing();
        case 4:
            return PrintFrom(3);
        case 5:
            return Isupport();
        case 206:
            c.mw = 0;
            return PrintFrom(3);
        case 211:
        case 212:
        case 213:
        case 214:
        case 215:
        case 216:
        case 218:
        case 241:
        case 242:
        case 243:
        case 244:
            if (!s.InStats) {
                s.InStats = true;
                c.BBlank = true;
            }
            return PrintFrom(3);
        case 219:
            s.InStats = false;
            c.ABlank = true;
            return DefaultPrint();
        case 221:
            if (IsMe(c.Tok(2))) {
                Conn().szUmode = "[" + c.Tok(3).substr(0, 60) + "]";
                showstatusinfo();
            }
            Blanks();
            return PrintFrom(2);
        case 250:
        case 391:
            Blanks();
            return PrintTrailing();
        case 251:
        case 256:
        case 265:
            c.BBlank = true;
            return PrintTrailing();
        case 255:
        case 259:
        case 266:
            c.ABlank = true;
            return PrintTrailing();
        case 301:
            if (ForLookup()) return;
            if (IsDialogNick(c.Tok(3))) {
                s.uwho.away = c.Tok(Trailing() ? Trailing() : 4).substr(0, 150);
                return;
            }
            if (!s.InWhois) Blanks();
            AppendMsg(c.Tok(3) + " is away:");
            return PrintTrailing();
        case 305:
        case 306:
            s.away = code == 306;
            Blanks();
            return DefaultPrint();
        case 311:
            return WhoisUser();
        case 312:
            if (ForLookup()) return;
            if (IsDialogNick(c.Tok(3))) {
                s.uwho.server = (c.Tok(4) + " " + c.Tok(5)).substr(0, 150);
                return;
            }
            c.tab = 0;
            c.mw = 0;
            AppendMsg(c.Tok(3) + " using " + c.Tok(4));
            if (c.Has(5)) AppendMsg(" " + c.Tok(5));
            return printinfo(-1);
        case 313:
            if (ForLookup()) return;
            if (IsDialogNick(c.Tok(3))) {
                s.uwho.oper = c.Tok(4).substr(0, 150);
                return;
            }
            return DefaultPrint();
        case 314:
            c.BBlank = true;
            return PrintBeforeTrailing(4);
        case 315:
            s.InWho = false;
            c.ABlank = true;
            return DefaultPrint();
        case 317:
            if (ForLookup()) return;
            return WhoisIdle();
        case 318:
            s.InWhois = false;
            if (ForLookup()) return FinishLookup();
            if (IsDialogNick(c.Tok(3))) {
                // The view shows what was gathered; later replies for the nick (another
                // WHOIS, CTCP answers) are the user's to see again.
                s.uwho.open = false;
                platform::PostMessage(Frame().hwndFrame, kMsgShowWhois);
                return;
            }
            c.ABlank = true;
            return DefaultPrint();
        case 319:
            if (ForLookup()) return;
            if (IsDialogNick(c.Tok(3))) {
                if (s.uwho.channels.empty()) s.uwho.channels = CutChannels(c.Tok(4));
                return;
            }
            AppendMsg(c.Tok(3) + " on " + c.Tok(4));
            return printinfo(-1);
        case 321:
            return ListStart();
        case 322:
            return ListEntry();
        case 323:
            return ListEnd();
        case 324:
            return ChannelModeReply();
        case 328:
            if (Hooks().printed) Hooks().printed(c.Tok(4));
            return;
        case 329:
            return;
        case 332: {
            WindowId chan = ChannelWindowByName(c.Tok(3));
            if (chan) {
                RecordOf(chan)->topic = c.Tok(4).substr(0, kMaxTopic);
                Retitle(chan);
            }
            s.LWTopic = true;
            c.BBlank = true;
            c.mw = 0;
            return DefaultPrint();
        }
        case 333:
            return TopicSetter();
        case 341:
            Blanks();
            AppendMsg(c.Tok(3) + " has been invited to " + c.Tok(4));
            return printinfo(-1);
        case 351:
        case 443:
            return PrintBeforeTrailing(2);
        case 352:
            return WhoLine();
        case 353:
            return Names();
        case 364:
            return LinksEntry();
        case 365:
            return LinksEnd();
        case 366:
            s.lastch.clear();
            if (s.LWTopic) {
                s.LWTopic = false;
                c.BBlank = true;
            }
            c.ABlank = true;
            return DefaultPrint();
        case 367:
            if (Hooks().ban_entry && Hooks().ban_entry(c.Tok(3), c.Tok(4))) return;
            return PrintFrom(3);
        case 368:
            if (Hooks().ban_end && Hooks().ban_end(c.Tok(3))) return;
            c.ABlank = true;
            return DefaultPrint();
        case 369:
        case 394:
            c.ABlank = true;
            return DefaultPrint();
        case 371:
            if (!s.InInfo) {
                s.InInfo = true;
                c.BBlank = true;
            }
            return PrintFrom(3);
        case 374:
            s.InInfo = false;
            c.ABlank = true;
            return PrintTrailing();
        case 375:
            Blanks();
            return PrintTrailing();
        case 376:
        case 422:
            return EndOfMotd(code);
        case 303:
            if (Hooks().ison_reply && Hooks().ison_reply(c.Tok(3))) return;
            Blanks();
            return DefaultPrint();
        case 730:
        case 731:
            if (Hooks().monitor_reply) Hooks().monitor_reply(code == 730, c.Tok(3));
            return;
        case 392:
            c.BBlank = true;
            return PrintFrom(0);
        case 401:
            checknotify(false, c.Tok(3));
            FinishLookup();
            if (IsDialogNick(c.Tok(3))) s.uwho.oper = "No such user on IRC";
            Blanks();
            return DefaultPrint();
        case 403:
        case 404:
        case 421:
            Blanks();
            return DefaultPrint();
        case 405:
        case 471:
        case 473:
        case 474:
        case 475:
            return CannotJoin(code);
        case 432:
        case 433:
            return NickRefused();
        case 436:
            c.uc = 3;
            Blanks();
            AppendMsg("Nickname collision!");
            return printinfo(-1);
        default:
            return DefaultPrint();
    }
}

}  // namespace chat
