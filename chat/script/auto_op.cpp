#include "chat/script/auto_op.h"

#include <cctype>
#include <cstdlib>
#include <vector>

#include "chat/core/events.h"
#include "chat/core/frame.h"
#include "chat/core/options.h"
#include "chat/core/session/nick_list.h"
#include "chat/core/session/server_parser.h"
#include "chat/core/session/session_state.h"
#include "chat/core/wildcard.h"
#include "chat/core/windows/window_print.h"
#include "chat/core/windows/window_table.h"
#include "chat/script/commands.h"
#include "chat/script/messaging.h"
#include "chat/script/script_state.h"

namespace chat {
namespace {

// Entries of the list and of the queue; a flood of joins cannot grow the queue without end.
constexpr size_t kMaxEntries = 1000;
constexpr size_t kMaxPending = 200;
constexpr size_t kMaxMask = 200;
// Characters of an entry with its channels.
constexpr size_t kMaxEntry = 699;

std::vector<std::string> Split(std::string_view text, char sep) {
    std::vector<std::string> out;
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t at = text.find(sep, pos);
        std::string_view item =
            text.substr(pos, at == std::string_view::npos ? std::string_view::npos : at - pos);
        if (!item.empty()) out.emplace_back(item);
        if (at == std::string_view::npos) break;
        pos = at + 1;
    }
    return out;
}

std::string FullMask(std::string_view mask) {
    return AddressMask(mask.substr(0, kMaxMask));
}

std::string Join(const std::vector<std::string>& items) {
    std::string out;
    for (const std::string& i : items) out += (out.empty() ? "" : ",") + i;
    return out;
}

LineIter FindEntry(std::string_view mask) {
    LineList& list = AutoOpList();
    for (auto it = list.begin(); it != list.end(); ++it)
        if (EqualNoCase(Split(it->text, ',').front(), mask)) return it;
    return list.end();
}

bool IsOperator(std::string_view channel, std::string_view nick) {
    WindowId w = ChannelWindowByName(channel);
    int slot = w ? findhwnd(w) : -1;
    return slot >= 0 && user(nick, slot, 2, 0) == kOperator;
}

void OnJoin(std::string_view channel, std::string_view nick, std::string_view userhost) {
    if (userhost.empty()) return;
    std::string address = std::string(nick) + "!" + std::string(userhost);
    if (!doopnick(address, channel)) return;
    pop(Options().raod ? 7 : 0, channel, nick);
}

void OnLeave(std::string_view nick) {
    std::erase_if(PendingOps(), [&](const Line& l) {
        size_t blank = l.text.find(' ');
        return blank != std::string::npos &&
               SameName(std::string_view(l.text).substr(blank + 1), nick);
    });
}

int doauto(WindowId w, const Args& a, bool remote) {
    const std::string& first = Arg(a, 1);
    if (first.empty() || EqualNoCase(first, "on") || EqualNoCase(first, "off"))
        return dotoggle(w, a, remote);
    size_t i = 1;
    int mode = 1;
    if (EqualNoCase(first, "-a") || EqualNoCase(first, "-r")) {
        mode = EqualNoCase(first, "-r") ? 2 : 1;
        ++i;
    }
    if (Arg(a, i).empty()) {
        Print(w, "*** Invalid parameters", 1);
        return 0;
    }
    arauto(mode, Arg(a, i), Arg(a, i + 1), w);
    return 1;
}

int dopop(WindowId w, const Args& a, bool) {
    const std::string& delay_text = Arg(a, 1);
    if (delay_text.empty() || !std::isdigit(static_cast<unsigned char>(delay_text[0]))) {
        Print(w, "*** Invalid parameters", 1);
        return 0;
    }
    long delay = std::strtol(delay_text.substr(0, 6).c_str(), nullptr, 10);
    if (delay > 15) delay = 15;
    std::string channel, nick;
    if (IsChannelName(Arg(a, 2))) {
        channel = a[2];
        nick = Arg(a, 3);
        if (!ChannelWindowByName(channel) || nick.empty()) {
            Print(w, "*** Invalid parameters", 1);
            return 0;
        }
    } else {
        const WindowRecord* r = RecordOf(w);
        if (!r || r->kind != kKindChannel || Arg(a, 2).empty()) {
            Print(w, "*** Invalid parameters", 1);
            return 0;
        }
        channel = r->name;
        nick = a[2];
    }
    if (!IsOperator(channel, CurrentNickname())) {
        Print(w, "*** You are not an Op on " + channel, 1);
        return 0;
    }
    pop(static_cast<int>(delay), channel, nick);
    return 1;
}

}  // namespace

LineList& AutoOpList() {
    static LineList list;
    return list;
}

LineList& PendingOps() {
    static LineList list;
    return list;
}

const Line* doopnick(std::string_view address, std::string_view channel) {
    for (const Line& l : AutoOpList()) {
        std::vector<std::string> parts = Split(l.text, ',');
        if (parts.empty() || !findmatch(address, FullMask(parts[0]))) continue;
        if (parts.size() == 1) return &l;
        for (size_t i = 1; i < parts.size(); ++i)
            if (EqualNoCase(parts[i], channel)) return &l;
    }
    return nullptr;
}

void pop(int delay, std::string_view channel, std::string_view nick) {
    if (delay <= 0) {
        SendLine("MODE " + std::string(channel) + " +o " + std::string(nick), true);
        return;
    }
    int spread = static_cast<int>(ScriptRandom(4));
    int wait = ScriptRandom(2) ? delay + spread : delay - spread;
    if (wait < 2) wait = 2;
    if (wait >= 16) wait = 8;
    LineList& pending = PendingOps();
    if (pending.size() >= kMaxPending) pending.pop_front();
    aline(pending, std::string(channel) + " " + std::string(nick), false, wait);
}

void AutoOpTick() {
    if (!ScriptConnected()) return;
    LineList& pending = PendingOps();
    for (auto it = pending.begin(); it != pending.end();) {
        if (it->value <= 0 || --it->value > 0) {
            ++it;
            continue;
        }
        size_t blank = it->text.find(' ');
        std::string channel = it->text.substr(0, blank);
        std::string nick = blank == std::string::npos ? std::string() : it->text.substr(blank + 1);
        WindowId w = ChannelWindowByName(channel);
        int slot = w ? findhwnd(w) : -1;
        int status = slot >= 0 ? user(nick, slot, 2, 0) : 0;
        if (status > 0 && status != kOperator) {
            SendLine("MODE " + channel + " +o " + nick, true);
            it = pending.erase(it);
            continue;
        }
        // Its moment passed without the nick there to op: it stays, inert, until the next
        // connection empties the queue.
        ++it;
    }
}

void checkopln(std::string_view channel) {
    for (Line& l : PendingOps())
        if (EqualNoCase(std::string_view(l.text).substr(0, l.text.find(' ')), channel)) l.value = 0;
}

void arauto(int mode, std::string_view mask_in, std::string_view channels, WindowId) {
    WindowId status = StatusWin();
    std::string mask(mask_in.substr(0, kMaxMask));
    LineList& list = AutoOpList();
    LineIter entry = FindEntry(mask);
    std::vector<std::string> wanted = Split(channels, ',');
    if (mode == 1) {
        if (entry == list.end()) {
            if (list.size() >= kMaxEntries) {
                Print(status, "Memory Allocation Error!", 3);
                return;
            }
            std::vector<std::string> parts{mask};
            parts.insert(parts.end(), wanted.begin(), wanted.end());
            aline(list, Join(parts).substr(0, kMaxEntry), false);
            Print(status, "*** Added " + mask + " to auto-op list", 2);
        } else {
            std::vector<std::string> parts = Split(entry->text, ',');
            for (const std::string& c : wanted) {
                bool have = false;
                for (size_t i = 1; i < parts.size(); ++i) have = have || EqualNoCase(parts[i], c);
                if (!have) parts.push_back(c);
            }
            entry->text = Join(parts).substr(0, kMaxEntry);
            Print(status, "*** Updated auto-op channels for " + mask, 2);
        }
        Options().doop = 1;
        saveoptions();
        saveop();
        return;
    }
    if (entry == list.end()) {
        Print(status, "*** " + mask + " isn't in auto-op list", 2);
        return;
    }
    std::vector<std::string> parts = Split(entry->text, ',');
    if (!wanted.empty() && parts.size() > 1) {
        std::vector<std::string> kept{parts[0]};
        for (size_t i = 1; i < parts.size(); ++i) {
            bool drop = false;
            for (const std::string& c : wanted) drop = drop || EqualNoCase(c, parts[i]);
            if (!drop) kept.push_back(parts[i]);
        }
        parts = std::move(kept);
    }
    if (wanted.empty() || parts.size() <= 1) {
        list.erase(entry);
        Print(status, "*** Removed " + mask + " from auto-op list", 2);
    } else {
        entry->text = Join(parts);
        Print(status, "*** Updated auto-op channels for " + mask, 2);
    }
    saveop();
}

void loadop() {
    LineList& list = AutoOpList();
    list = ReadSettingsList("AutoOp", "n", kMaxEntry + 1, kMaxEntries);
    std::string old = ReadSetting("Text", "op", "", 0);
    if (old.empty()) return;
    for (const std::string& mask : Split(old, ' '))
        if (FindEntry(mask) == list.end() && list.size() < kMaxEntries) aline(list, mask, false);
    if (saveop()) WriteSettings("Text", {{"op", ""}});
}

bool saveop() {
    if (Options().szINI.empty()) return false;
    return WriteSettingsList("AutoOp", "n", AutoOpList());
}

void InstallAutoOp() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    Hooks().auto_op = OnJoin;
    Hooks().cancel_auto_op = OnLeave;
    InstallCommand("/AUTO", doauto);
    InstallCommand("/POP", dopop);
    Frame().each_second.push_back(AutoOpTick);
    SettingsReaders().push_back(loadop);
}

}  // namespace chat
