#include "chat/lists/notify_list.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "chat/core/connection/connection.h"
#include "chat/core/events.h"
#include "chat/core/options.h"
#include "chat/core/session/session_state.h"
#include "chat/core/windows/window_print.h"
#include "chat/core/windows/window_settings.h"
#include "chat/core/windows/window_table.h"
#include "platform/profile.h"

#include "chat/lists/list_text.h"

namespace chat {
namespace {

// Event code of a notify arrival for the event scripts.
constexpr int kEventNotify = 19;
// Characters of a nickname that activity may mark.
constexpr size_t kMaxActivityNick = 35;
// A check whose replies never came is given up after this many seconds, so that one lost
// reply does not stop every later check.
constexpr int kNotifyGiveUp = 120;
// A MONITOR line stays below this length.
constexpr size_t kMaxMonitorLine = 500;
constexpr const char* kNotifyWindow = "Notify List";

std::string_view SkipPlus(std::string_view nick) {
    if (!nick.empty() && nick[0] == '+') nick.remove_prefix(1);
    return nick;
}

// Announcements go to the active window when asked and it is a channel or a query (not a
// file server), else to the status window.
WindowId AnnounceWindow() {
    const WindowId active = ActiveWindow();
    const WindowRecord* r = RecordOf(active);
    if (Options().snaw && r && (r->kind == kKindChannel || r->kind == kKindQuery) &&
        r->name.rfind("Serving ", 0) != 0)
        return active;
    return Windows().statwin;
}

WindowId NotifyWindow() {
    int slot = exists(kNotifyWindow);
    return slot < 0 ? 0 : Windows().ch[slot].window;
}

void FillNotifywindow() {
    const WindowId w = NotifyWindow();
    if (!w) return;
    clearbuf(w, true);
    for (const NotifyEntry& e : Notify().entries)
        if (e.online) Print(w, e.nick, 0);
}

bool Connected() {
    const Connection& c = Conn();
    return c.Connected && !c.FirstMOTD;
}

// Runs the notify event of the event scripts once for each arrival. The scripts run after
// the reply is handled: a command they run may change the list being walked.
void RaiseNotifyEvents(const std::vector<std::string>& arrivals) {
    for (const std::string& nick : arrivals) {
        CurrentEvent event;
        event.code = kEventNotify;
        event.nick = nick;
        event.command = "notify";
        performevent(event);
    }
}

// An arrival: the announcement, the WHOIS mark and the window; the nick is kept for the
// event scripts.
void Arrived(NotifyEntry& e, WindowId target, std::string& whois,
             std::vector<std::string>& arrivals) {
    NotifyState& n = Notify();
    if (!n.FirstNotify) {
        n.FirstNotify = true;
        if (target == Windows().statwin) StatusGap();
    }
    Print(target,
          e.note.empty() ? "*** " + e.nick + " is on IRC"
                         : "*** " + e.nick + " is on IRC (" + e.note + ")",
          1);
    if (e.whois && whois.size() + e.nick.size() + 1 < kMaxNotifyWhois)
        whois += (whois.empty() ? "WHOIS " : ",") + e.nick;
    e.seen = 2;
    e.online = true;
    n.notifieson = true;
    arrivals.push_back(e.nick);
}

void Departed(NotifyEntry& e, WindowId target) {
    Print(target, "*** " + e.nick + " has left IRC", 1);
    e.online = false;
    Notify().notifiesoff = true;
}

void LightUnlessOnTop() {
    if (ActiveWindow() != NotifyWindow() || !NotifyWindow()) Notify().light = true;
}

}  // namespace

NotifyState& Notify() {
    static NotifyState state;
    return state;
}

void ResetNotify() {
    Notify() = NotifyState{};
}

NotifyEntry* findnotifynick(std::string_view nick) {
    nick = SkipPlus(nick);
    for (NotifyEntry& e : Notify().entries)
        if (EqualNoCase(e.nick, nick)) return &e;
    return nullptr;
}

bool addnotifynick(std::string_view nick, std::string_view note) {
    const bool whois = !nick.empty() && nick[0] == '+';
    nick = SkipPlus(nick).substr(0, kMaxNotifyText);
    if (nick.empty() || findnotifynick(nick)) return false;
    NotifyEntry e;
    e.nick = std::string(nick);
    e.note = std::string(note.substr(0, kMaxNotifyText));
    e.whois = whois;
    auto& list = Notify().entries;
    auto at = std::find_if(list.begin(), list.end(), [&](const NotifyEntry& other) {
        return CompareNoCase(other.nick, e.nick) > 0;
    });
    list.insert(at, std::move(e));
    return true;
}

bool remnotifynick(std::string_view nick) {
    auto& list = Notify().entries;
    nick = SkipPlus(nick);
    for (auto it = list.begin(); it != list.end(); ++it) {
        if (!EqualNoCase(it->nick, nick)) continue;
        const bool shown = it->online;
        list.erase(it);
        if (shown) FillNotifywindow();
        return true;
    }
    return false;
}

void loadnotify() {
    const std::string& ini = Options().szINI;
    Notify().entries.clear();
    if (ini.empty()) return;
    for (int i = 0;; ++i) {
        std::string value =
            platform::GetPrivateProfileString("Notify", "n" + std::to_string(i), "", 256, ini);
        if (value.empty()) break;
        std::string note;
        if (size_t at = value.find("NOTE:"); at != std::string::npos) {
            note = value.substr(at + 5);
            value.resize(at);
        }
        addnotifynick(value, note);
    }
    // The older form: one line of blank-separated nicknames.
    std::string old = platform::GetPrivateProfileString("Text", "notify", "", 1024, ini);
    if (old.empty()) return;
    size_t at = 0;
    while (at < old.size()) {
        size_t end = old.find(' ', at);
        if (end == std::string::npos) end = old.size();
        if (end > at) addnotifynick(std::string_view(old).substr(at, end - at), "");
        at = end + 1;
    }
    savenotify();
    platform::DeletePrivateProfileKey("Text", "notify", ini);
}

void savenotify() {
    const std::string& ini = Options().szINI;
    if (ini.empty()) return;
    std::vector<std::pair<std::string, std::string>> lines;
    for (const NotifyEntry& e : Notify().entries) {
        std::string value = (e.whois ? "+" : "") + e.nick;
        if (!e.note.empty()) value += "NOTE:" + e.note;
        lines.emplace_back("n" + std::to_string(lines.size()), value);
    }
    platform::WriteProfileSection("Notify", lines, ini);
}

void setnotify() {
    NotifyState& n = Notify();
    for (NotifyEntry& e : n.entries) {
        e.seen = 0;
        e.online = false;
    }
    // The replies of an abandoned check still come; they must not count for the next one.
    if (n.Notifying) n.stale += n.notifiessent;
    n.Notifying = false;
    n.notifiessent = 0;
    n.secs = 0;
    FillNotifywindow();
    n.NotifyReport = true;
}

void sendnotify(bool report) {
    NotifyState& n = Notify();
    if (n.Notifying) {
        n.secs = kNotifyInterval;
        return;
    }
    n.NotifyReport = n.FirstNotify = n.notifieson = n.notifiesoff = false;
    n.notifiessent = 0;
    std::string line = "ISON";
    for (NotifyEntry& e : n.entries) {
        e.seen = 0;
        if (line.size() + 1 + e.nick.size() >= kMaxIsonLine) {
            SendToServer(line, false);
            ++n.notifiessent;
            line = "ISON";
        }
        line += " " + e.nick;
    }
    if (line.size() > 5) {
        SendToServer(line, false);
        ++n.notifiessent;
    }
    if (n.notifiessent > 0) {
        n.secs = 0;
        n.Notifying = true;
        n.NotifyReport = report;
    }
}

bool NotifyIsonReply(std::string_view nicks) {
    NotifyState& n = Notify();
    if (n.stale > 0) {
        --n.stale;
        return true;
    }
    if (!n.Notifying) return false;
    --n.notifiessent;
    const std::string list = " " + LowerAscii(nicks) + " ";
    const WindowId target = AnnounceWindow();
    std::string whois;
    std::vector<std::string> arrivals;
    bool window_changed = false;
    for (NotifyEntry& e : n.entries) {
        if (e.seen != 0) continue;
        if (list.find(" " + LowerAscii(e.nick) + " ") == std::string::npos) continue;
        if (e.online) {
            e.seen = 1;
            continue;
        }
        Arrived(e, target, whois, arrivals);
        window_changed = true;
    }
    if (!whois.empty()) SendToServer(whois, false);
    if (n.notifiessent > 0) {
        if (window_changed) FillNotifywindow();
        RaiseNotifyEvents(arrivals);
        return true;
    }
    for (NotifyEntry& e : n.entries) {
        if (e.seen != 0) continue;
        e.seen = 1;
        if (e.online) {
            Departed(e, target);
            window_changed = true;
        }
    }
    if (window_changed) FillNotifywindow();
    bool anyone = std::any_of(n.entries.begin(), n.entries.end(),
                              [](const NotifyEntry& e) { return e.online; });
    if (n.NotifyReport) {
        if (n.notifieson) LightUnlessOnTop();
        // Someone already known to be on IRC is not "no one", even when nothing changed.
        if (!n.notifieson && !n.notifiesoff && !anyone) {
            if (target == Windows().statwin) StatusGap();
            Print(target, "*** No one in your notify list is on IRC", 2);
            n.notifiesoff = true;
        }
    }
    if (n.notifieson || n.notifiesoff) PrintSP(target, 1);
    n.Notifying = false;
    RaiseNotifyEvents(arrivals);
    return true;
}

void NotifyMonitorReply(bool online, std::string_view targets) {
    const WindowId target = AnnounceWindow();
    std::string whois;
    std::vector<std::string> arrivals;
    bool changed = false;
    size_t at = 0;
    while (at <= targets.size()) {
        size_t end = targets.find(',', at);
        if (end == std::string_view::npos) end = targets.size();
        std::string_view nick = targets.substr(at, end - at);
        nick = nick.substr(0, nick.find('!'));
        at = end + 1;
        NotifyEntry* e = nick.empty() ? nullptr : findnotifynick(nick);
        if (!e || e->online == online) continue;
        Notify().FirstNotify = true;  // no gap before a single change
        if (online) {
            Arrived(*e, target, whois, arrivals);
            LightUnlessOnTop();
        } else {
            Departed(*e, target);
        }
        changed = true;
    }
    if (!whois.empty()) SendToServer(whois, false);
    if (changed) {
        FillNotifywindow();
        PrintSP(target, 1);
    }
    RaiseNotifyEvents(arrivals);
}

void checknotify_entry(bool online, std::string_view nick) {
    if (nick.empty() || nick.size() > kMaxActivityNick) return;
    NotifyEntry* e = findnotifynick(nick);
    if (!e || e->online == online) return;
    e->online = online;
    FillNotifywindow();
}

void NotifyTick() {
    NotifyState& n = Notify();
    if (!Options().notify || !Connected() || n.entries.empty()) return;
    if (n.Notifying) {
        if (++n.secs >= kNotifyGiveUp) n.Notifying = false;
        return;
    }
    if (n.monitor) return;
    if (n.secs < kNotifyInterval) ++n.secs;
    if (n.secs >= kNotifyInterval) sendnotify(false);
}

void NotifyAfterMotd() {
    setnotify();
    NotifyState& n = Notify();
    n.stale = 0;  // a new connection: nothing of the old one answers here
    if (!Options().notify || n.entries.empty()) return;
    if (n.monitor) {
        SendToServer("MONITOR C", false);
        std::string line;
        for (const NotifyEntry& e : n.entries) {
            if (!line.empty() && line.size() + 1 + e.nick.size() >= kMaxMonitorLine) {
                SendToServer(line, false);
                line.clear();
            }
            line += (line.empty() ? "MONITOR + " : ",") + e.nick;
        }
        if (!line.empty()) SendToServer(line, false);
    }
    sendnotify(true);
}

void NotifyListChanged(std::string_view added, std::string_view removed) {
    if (!Options().notify || !Connected()) return;
    if (Notify().monitor) {
        if (!added.empty()) SendToServer("MONITOR + " + std::string(SkipPlus(added)), false);
        if (!removed.empty()) SendToServer("MONITOR - " + std::string(SkipPlus(removed)), false);
    }
    sendnotify(false);
}

void ShowNotifywindow() {
    Notify().light = false;
    if (WindowId w = NotifyWindow()) {
        if (WindowRecord* r = RecordOf(w)) r->minimised = false;
        SetActiveWindow(w);
        return;
    }
    if (!MakeNewWindow(kNotifyWindow, false)) return;
    FillNotifywindow();
}

void HideNotifywindow() {
    if (WindowId w = NotifyWindow()) closewindow(w);
}

}  // namespace chat
