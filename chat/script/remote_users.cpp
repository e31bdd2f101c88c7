#include "chat/script/remote_users.h"

#include <cctype>
#include <cstdlib>

#include "chat/core/options.h"
#include "chat/core/session/address_cache.h"
#include "chat/core/session/nick_list.h"
#include "chat/core/session/session_state.h"
#include "chat/core/wildcard.h"
#include "chat/core/windows/window_print.h"
#include "chat/core/windows/window_table.h"
#include "chat/script/commands.h"
#include "chat/script/messaging.h"
#include "chat/script/script_state.h"

namespace chat {
namespace {

// Characters of a user-list entry and of a mask.
constexpr size_t kMaxEntry = 699;
constexpr size_t kMaxMask = 200;
// Entries the list may hold; a script that adds users for every join cannot grow it forever.
constexpr size_t kMaxUsers = 5000;

std::vector<std::string> Items(std::string_view list) {
    std::vector<std::string> out;
    size_t pos = 0;
    while (pos <= list.size()) {
        size_t comma = list.find(',', pos);
        std::string_view item = list.substr(
            pos, comma == std::string_view::npos ? std::string_view::npos : comma - pos);
        if (!item.empty()) out.emplace_back(item);
        if (comma == std::string_view::npos) break;
        pos = comma + 1;
    }
    return out;
}

std::string_view Bare(std::string_view item) {
    if (!item.empty() && item[0] == '=') item.remove_prefix(1);
    return item;
}

bool Contains(const std::vector<std::string>& items, std::string_view item) {
    for (const std::string& i : items)
        if (Bare(i) == Bare(item)) return true;
    return false;
}

std::string_view MaskOf(std::string_view entry) {
    size_t colon = entry.find(':');
    return colon == std::string_view::npos ? std::string_view() : entry.substr(colon + 1);
}

std::string_view LevelsOf(std::string_view entry) {
    size_t colon = entry.find(':');
    std::string_view field = colon == std::string_view::npos ? entry : entry.substr(0, colon);
    if (!field.empty() && field[0] == '=') field.remove_prefix(1);
    return field;
}

LineIter FindMask(std::string_view mask) {
    LineList& users = Script().szusers;
    for (auto it = users.begin(); it != users.end(); ++it)
        if (!IsRemoteComment(it->text) && EqualNoCase(MaskOf(it->text), mask)) return it;
    return users.end();
}

// A nick or address made into the mask the command asked for: a nick with a mask type takes
// its cached address (false when unknown), anything else stands as given.
bool MaskFor(const std::string& who, const std::string& type, std::string& mask) {
    mask = who.substr(0, kMaxMask);
    if (type.empty() || who.find_first_of("!@*") != std::string::npos) return true;
    std::string address;
    if (!findnick(who, address)) return false;
    if (!donickaddr(address, std::atoi(type.c_str()))) return false;
    mask = address.substr(0, kMaxMask);
    return true;
}

// /auser [-a] levels nick-or-address [type]; /guser the same with the nick's address.
int doausercommand(WindowId w, const Args& a, bool) {
    bool guser = a[0] == "/GUSER";
    size_t i = 1;
    bool add = EqualNoCase(Arg(a, 1), "-a");
    if (add) ++i;
    const std::string& levels = Arg(a, i);
    const std::string& who = Arg(a, i + 1);
    if (levels.empty() || who.empty() || ParseLevels(levels).empty()) {
        Print(w, guser ? "*** Invalid /guser parameters" : "*** Invalid /auser parameters", 1);
        return 0;
    }
    std::string type = Arg(a, i + 2);
    if (guser && type.empty()) type = "2";
    std::string mask;
    if (MaskFor(who, type, mask)) {
        doauser(who, levels, !add, w, mask);
        return 1;
    }
    if (!ScriptConnected()) {
        Print(StatusWin(), "*** Not connected to server", 1);
        return 0;
    }
    int mask_type = std::atoi(type.c_str());
    std::string levels_copy = levels, who_copy = who;
    checkwhois(who, [=](const std::string& address) {
        std::string m = address;
        if (donickaddr(m, mask_type))
            doauser(who_copy, levels_copy, !add, w, m.substr(0, kMaxMask));
    });
    return 1;
}

int doruserCommand(WindowId w, const Args& a, bool) {
    // The first word is a level list when it begins with a digit or "=".
    size_t i = 1;
    std::string levels;
    const std::string& first = Arg(a, 1);
    if (!first.empty() && (std::isdigit(static_cast<unsigned char>(first[0])) || first[0] == '=') &&
        !Arg(a, 2).empty()) {
        levels = first;
        ++i;
    }
    const std::string& who = Arg(a, i);
    if (who.empty()) {
        Print(w, "*** Invalid /ruser parameters", 1);
        return 0;
    }
    std::string mask;
    if (!MaskFor(who, Arg(a, i + 1), mask)) mask = who;
    doruser(mask, levels, w);
    return 1;
}

int dorlevel(WindowId w, const Args& a, bool) {
    bool keep = EqualNoCase(Arg(a, 1), "-r");
    const std::string& wanted = Arg(a, keep ? 2 : 1);
    if (wanted.empty()) {
        Print(w, "*** Invalid /rlevel parameters", 1);
        return 0;
    }
    LineList& users = Script().szusers;
    int changed = 0;
    for (auto it = users.begin(); it != users.end();) {
        if (IsRemoteComment(it->text)) {
            ++it;
            continue;
        }
        std::vector<std::string> items = Items(LevelsOf(it->text));
        if (!keep) {
            if (!items.empty() && Bare(items[0]) == Bare(wanted)) {
                it = users.erase(it);
                ++changed;
                continue;
            }
        } else if (Contains(items, wanted)) {
            std::string rest = level(LevelsOf(it->text), wanted, 0);
            ++changed;
            if (rest.empty()) {
                it = users.erase(it);
                continue;
            }
            it->text = rest + ":" + std::string(MaskOf(it->text));
        }
        ++it;
    }
    if (changed) {
        Script().rchanged = true;
        Print(w, "*** Removed level(s) from " + std::to_string(changed) + " users", 1);
    } else {
        Print(w, "*** No users in user list matched/removed", 1);
    }
    return 1;
}

int doulist(WindowId w, const Args& a, bool) {
    std::string arg = Arg(a, 1);
    char sign = '=';
    if (!arg.empty() && (arg[0] == '<' || arg[0] == '>' || arg[0] == '=')) {
        sign = arg[0];
        arg.erase(0, 1);
        if (arg.empty()) arg = Arg(a, 2);
    }
    if (arg.empty() || !std::isdigit(static_cast<unsigned char>(arg[0]))) {
        Print(w, "*** Must specify user level", 1);
        return 0;
    }
    int n = std::atoi(arg.c_str());
    Print(w, "* Remote users list:", 1);
    for (const Line& l : Script().szusers) {
        if (IsRemoteComment(l.text)) continue;
        std::vector<Level> levels = ParseLevels(LevelsOf(l.text));
        if (levels.empty()) continue;
        int first = levels[0].number;
        bool show = sign == '<' ? first <= n : sign == '>' ? first >= n : first == n;
        if (show) Print(w, l.text, 1);
    }
    Print(w, "* End of users list", 1);
    return 1;
}

bool OnAnyChannel(std::string_view nick) {
    WindowTable& t = Windows();
    for (int slot = 0; slot < kMaxWindows; ++slot) {
        const WindowRecord& r = t.ch[slot];
        if (!r.window || r.kind != kKindChannel) continue;
        if (user(nick, slot, 2, 0) > 0) return true;
    }
    return false;
}

int doflush(WindowId w, const Args& a, bool) {
    const std::string& wanted = Arg(a, 1);
    LineList& users = Script().szusers;
    int removed = 0;
    for (auto it = users.begin(); it != users.end();) {
        std::string_view mask = MaskOf(it->text);
        bool plain = !IsRemoteComment(it->text) && !mask.empty() && IsNicknameMask(mask);
        if (plain && (wanted.empty() || Contains(Items(LevelsOf(it->text)), wanted)) &&
            !OnAnyChannel(mask)) {
            it = users.erase(it);
            ++removed;
            continue;
        }
        ++it;
    }
    if (removed) Script().rchanged = true;
    Print(w, "*** Flushed " + std::to_string(removed) + " users from user list", 1);
    return 1;
}

}  // namespace

bool IsRemoteComment(std::string_view line) {
    size_t first = line.find_first_not_of(' ');
    if (first == std::string_view::npos) return true;
    line.remove_prefix(first);
    return line[0] == ';' || (line.size() >= 3 && EqualNoCase(line.substr(0, 3), "rem"));
}

std::vector<Level> ParseLevels(std::string_view field) {
    std::vector<Level> out;
    for (const std::string& item : Items(field)) {
        Level l;
        std::string_view digits = item;
        if (digits[0] == '=') {
            l.exact = true;
            digits.remove_prefix(1);
        }
        if (digits.empty() || !std::isdigit(static_cast<unsigned char>(digits[0]))) continue;
        long n = std::strtol(std::string(digits.substr(0, 9)).c_str(), nullptr, 10);
        l.number = static_cast<int>(n);
        out.push_back(l);
    }
    return out;
}

const Line* FindUser(std::string_view nick, std::string_view userhost, bool skip_own) {
    if (nick.empty()) return nullptr;
    std::string address = std::string(nick) + "!" + std::string(userhost);
    for (const Line& l : Script().szusers) {
        if (IsRemoteComment(l.text) || l.text.find(':') == std::string::npos) continue;
        if (skip_own && l.text[0] == '=') continue;
        std::string_view mask = MaskOf(l.text);
        if (SameName(mask, nick)) return &l;
        if (!userhost.empty() && !IsNicknameMask(mask) && findmatch(address, mask)) return &l;
    }
    return nullptr;
}

int flevel(std::string_view nick, std::string_view userhost) {
    const Line* l = FindUser(nick, userhost, true);
    if (l) {
        std::vector<Level> levels = ParseLevels(LevelsOf(l->text));
        if (!levels.empty() && levels[0].number > 0) return levels[0].number;
    }
    return Options().rdl;
}

std::vector<Level> RequesterLevels(std::string_view nick, std::string_view userhost) {
    const Line* l = FindUser(nick, userhost);
    if (l) {
        std::vector<Level> levels = ParseLevels(LevelsOf(l->text));
        if (!levels.empty()) return levels;
    }
    return {Level{Options().rdl, false}};
}

bool LevelFits(const std::vector<Level>& levels, int wanted, bool exact) {
    for (size_t i = 0; i < levels.size(); ++i) {
        const Level& l = levels[i];
        if (i == 0 && !exact && !l.exact ? l.number >= wanted : l.number == wanted) return true;
    }
    return false;
}

std::string level(std::string_view old, std::string_view add, int mode) {
    std::vector<std::string> before = Items(old), change = Items(add);
    std::vector<std::string> out;
    if (mode == 0) {
        for (const std::string& item : before)
            if (!Contains(change, item)) out.push_back(item);
    } else {
        bool replace_first = false;
        if (!change.empty()) {
            int n = std::atoi(std::string(Bare(change[0])).c_str());
            replace_first = n > 0 && (before.empty() || Bare(before[0]) != Bare(change[0]));
        }
        if (replace_first) out.push_back(change[0]);
        for (size_t i = replace_first ? 1 : 0; i < before.size(); ++i)
            if (!Contains(out, before[i])) out.push_back(before[i]);
        for (const std::string& item : change)
            if (!Contains(out, item)) out.push_back(item);
    }
    std::string joined;
    for (const std::string& item : out) {
        if (!joined.empty()) joined += ',';
        joined += item;
    }
    return joined.substr(0, kMaxEntry / 2);
}

void doauser(std::string_view shown, std::string_view levels, bool replace, WindowId window,
             std::string_view mask) {
    ScriptState& s = Script();
    LineIter old = FindMask(mask);
    std::string name(shown), m(mask);
    if (old == s.szusers.end() || replace) {
        if (old == s.szusers.end() && s.szusers.size() >= kMaxUsers) {
            Print(window, "Memory allocation error while adding user!", 3);
            return;
        }
        std::string entry = level("", levels, 1) + ":" + m;
        aline(s.szusers, entry.substr(0, kMaxEntry), false);
        if (old != s.szusers.end()) s.szusers.erase(old);
        s.rchanged = true;
        std::string who = EqualNoCase(name, m) ? name : name + " (" + m + ")";
        Print(window, "* Added " + who + " to user list", 1);
        return;
    }
    std::string merged = level(LevelsOf(old->text), levels, 1);
    old->text = (merged + ":" + m).substr(0, kMaxEntry);
    s.rchanged = true;
    Print(window, "* Added level(s) to user " + name + (EqualNoCase(name, m) ? "" : " (" + m + ")"),
          1);
}

void doruser(std::string_view mask, std::string_view levels, WindowId window) {
    ScriptState& s = Script();
    bool prefix = !mask.empty() && mask.back() == '!';
    std::string_view stem = prefix ? mask.substr(0, mask.size() - 1) : mask;
    bool any = false, partly = false;
    for (auto it = s.szusers.begin(); it != s.szusers.end();) {
        std::string_view m = MaskOf(it->text);
        bool hit = !IsRemoteComment(it->text) &&
                   (prefix ? m.size() >= stem.size() && EqualNoCase(m.substr(0, stem.size()), stem)
                           : EqualNoCase(m, mask));
        if (!hit) {
            ++it;
            continue;
        }
        any = true;
        if (!levels.empty()) {
            std::string rest = level(LevelsOf(it->text), levels, 0);
            if (!rest.empty()) {
                it->text = rest + ":" + std::string(m);
                partly = true;
                ++it;
                continue;
            }
        }
        it = s.szusers.erase(it);
    }
    if (!any) {
        Print(window, "* No such user in user list", 1);
        return;
    }
    s.rchanged = true;
    if (partly)
        Print(window, "* Removed level(s) from user " + std::string(mask), 1);
    else
        Print(window, "* Removed " + std::string(mask) + " from user list", 1);
}

void InstallUserCommands() {
    InstallCommand("/AUSER", doausercommand);
    InstallCommand("/GUSER", doausercommand);
    InstallCommand("/RUSER", doruserCommand);
    InstallCommand("/RLEVEL", dorlevel);
    InstallCommand("/ULIST", doulist);
    InstallCommand("/FLUSH", doflush);
}

}  // namespace chat
