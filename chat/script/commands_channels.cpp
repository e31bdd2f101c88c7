// Handlers of channel commands: join, part, bans, the channel information and the listing.
#include <cstdlib>
#include <string>

#include "chat/core/options.h"
#include "chat/core/session/address_cache.h"
#include "chat/core/session/session_state.h"
#include "chat/core/windows/window_print.h"
#include "chat/core/windows/window_table.h"
#include "chat/script/address_requests.h"
#include "chat/script/commands.h"
#include "chat/script/messaging.h"
#include "chat/script/script_state.h"

namespace chat {
namespace {

// A PART line grows up to this length before it is sent and another begun.
constexpr size_t kMaxPartLine = 650;
// Seconds a /channel request waits for its replies before another may start.
constexpr int64_t kChannelWaitMs = 25000;

const WindowRecord* ChannelRecord(WindowId w) {
    const WindowRecord* r = RecordOf(w);
    return r && r->kind == kKindChannel ? r : nullptr;
}

}  // namespace

int dojoincommand(WindowId w, const Args& a, bool remote) {
    const std::string& first = Arg(a, 1);
    if (first.empty()) {
        Print(w, "*** No channel specified", 1);
        return 0;
    }
    WindowId open = FindWindow(first);
    if (open && ChannelRecord(open)) {
        if (WindowRecord* r = RecordOf(open)) r->minimised = false;
        SetActiveWindow(open);
        Beep();
        return 1;
    }
    SendLine("JOIN " + JoinFrom(a, 1), remote);
    return 1;
}

int dopart(WindowId w, const Args& a, bool remote) {
    if (!Arg(a, 1).empty()) {
        SendLine("PART " + JoinFrom(a, 1), remote);
        return 1;
    }
    const WindowRecord* r = ChannelRecord(w);
    if (!r) {
        Print(w, "*** No channel specified", 1);
        return 0;
    }
    SendLine("PART " + r->name, remote);
    return 1;
}

int dopartall(WindowId, const Args&, bool remote) {
    std::string line;
    for (const WindowRecord& r : Windows().ch) {
        if (!r.window || r.kind != kKindChannel) continue;
        if (!line.empty() && line.size() + 1 + r.name.size() > kMaxPartLine) {
            SendLine(line, remote);
            line.clear();
        }
        line += line.empty() ? "PART " + r.name : "," + r.name;
    }
    if (!line.empty()) SendLine(line, remote);
    Print(StatusWin(), "*** Parted all channels", 1);
    return 1;
}

int doban(WindowId w, const Args& a, bool remote) {
    size_t i = 1;
    int delay = 0;
    if (StartsNoCase(Arg(a, i), "-u")) {
        const std::string& opt = a[i];
        delay = opt.size() > 2 ? std::atoi(opt.c_str() + 2) : 30;
        if (delay < 10) delay = 10;
        ++i;
    }
    std::string channel;
    if (IsChannelName(Arg(a, i))) {
        WindowId open = FindWindow(a[i]);
        if (!open || !ChannelRecord(open)) {
            Print(w, "*** Invalid parameters", 1);
            return 0;
        }
        channel = RecordOf(open)->name;
        ++i;
    } else if (const WindowRecord* r = ChannelRecord(w)) {
        channel = r->name;
    }
    const std::string& nick = Arg(a, i);
    if (nick.empty()) {
        Print(w, "*** Invalid /ban parameters", 1);
        return 0;
    }
    if (channel.empty()) {
        Print(w, "*** Invalid parameters", 1);
        return 0;
    }
    int type = Arg(a, i + 1).empty() ? 2 : std::atoi(a[i + 1].c_str());
    if (type < 0 || type > 4) {
        Print(w, "*** Invalid parameters", 1);
        return 0;
    }
    AddressRequest request;
    request.kind = AddressRequest::kBan;
    request.nick = nick;
    request.channel = channel;
    request.type = type;
    request.delay = delay;
    request.remote = remote;
    RequestAddress(std::move(request));
    return 1;
}

int dochannel(WindowId w, const Args&, bool remote) {
    const WindowRecord* r = ChannelRecord(w);
    if (!r) {
        Print(w, "*** You're not in a channel", 1);
        Beep();
        return 0;
    }
    ScriptState& s = Script();
    int64_t now = SessionNowMs();
    if (s.channel_request && now - s.channel_request_ms < kChannelWaitMs) {
        int64_t left = (kChannelWaitMs - (now - s.channel_request_ms) + 999) / 1000;
        Print(w, "*** Waiting " + std::to_string(left) + "s for reply to previous request...", 2);
        Beep();
        return 0;
    }
    s.channel_request = w;
    s.channel_request_ms = now;
    SendLine("MODE " + r->name + " +b", remote);
    Print(w, "*** Retrieving " + r->name + " channel info...", 2);
    return 0;
}

int dolist(WindowId w, const Args& a, bool remote) {
    ChatSession& session = Session();
    if (session.InListing) {
        Print(w, "*** Listing in progress...", 1);
        Beep();
        return 0;
    }
    // The bounds and the pattern are what the listing replies are filtered by.
    ChatOptions& o = Options();
    o.listmin = 1;
    o.listmax = 999;
    session.list_match.clear();
    for (size_t i = 1; i < a.size() && !a[i].empty(); ++i) {
        if (EqualNoCase(a[i], "-min") && i + 1 < a.size()) {
            o.listmin = std::atoi(a[++i].c_str());
        } else if (EqualNoCase(a[i], "-max") && i + 1 < a.size()) {
            o.listmax = std::atoi(a[++i].c_str());
        } else {
            std::string p = a[i].substr(0, 256);
            if (!p.empty() && (p[0] == '*' || p[0] == '#')) p.erase(0, 1);
            if (!p.empty() && p.back() == '*') p.pop_back();
            for (char& c : p)
                if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
            session.list_match.clear();
            if (!p.empty()) session.list_match.push_back(p);
        }
    }
    SendLine("LIST", remote);
    return 1;
}

int doclosemsg(WindowId w, const Args& a, bool) {
    const std::string& name = Arg(a, 1);
    if (name.empty()) {
        Print(w, "* Use: /closemsg <windowname>", 1);
        return 0;
    }
    WindowId q = FindWindow(name);
    const WindowRecord* r = RecordOf(q);
    if (r && r->kind == kKindQuery) closewindow(q);
    return 1;
}

}  // namespace chat
