#include "chat/lists/ignore_list.h"

#include <utility>
#include <vector>

#include "chat/core/options.h"
#include "chat/core/wildcard.h"
#include "chat/core/windows/window_print.h"
#include "chat/core/windows/window_table.h"
#include "platform/profile.h"

#include "chat/lists/list_text.h"

namespace chat {
namespace {

// Masks the older single-line form may hold.
constexpr int kMaxOldIgnores = 55;

std::string_view MaskOf(std::string_view entry) {
    return entry.substr(0, entry.find(','));
}

std::string_view SwitchesOf(std::string_view entry) {
    size_t comma = entry.find(',');
    return comma == std::string_view::npos ? std::string_view() : entry.substr(comma);
}

std::vector<std::string> SplitSwitches(std::string_view switches) {
    std::vector<std::string> out;
    size_t at = 0;
    while (at < switches.size()) {
        size_t end = switches.find(',', at);
        if (end == std::string_view::npos) end = switches.size();
        if (end > at) out.push_back(LowerAscii(switches.substr(at, end - at)));
        at = end + 1;
    }
    return out;
}

bool HasSwitch(const std::vector<std::string>& list, std::string_view word) {
    for (const std::string& s : list)
        if (s == word) return true;
    return false;
}

// The entry a mask names: the one with exactly that mask first, so that lifting a timed
// ignore never takes a wider entry added later; else the first whose mask matches it.
LineIter FindEntry(std::string_view mask) {
    LineList& list = Ignores().entries;
    for (auto it = list.begin(); it != list.end(); ++it)
        if (EqualNoCase(MaskOf(it->text), mask)) return it;
    return doignore(mask, "");
}

void Say(const std::string& text) {
    WindowId w = ActiveWindow();
    Print(w ? w : Windows().statwin, text, 2);
}

}  // namespace

IgnoreState& Ignores() {
    static IgnoreState state;
    return state;
}

void ResetIgnores() {
    Ignores() = IgnoreState{};
}

LineIter doignore(std::string_view address, std::string_view kind) {
    LineList& list = Ignores().entries;
    for (auto it = list.begin(); it != list.end(); ++it) {
        if (!findmatch(address, MaskOf(it->text))) continue;
        const std::string switches = LowerAscii(SwitchesOf(it->text));
        if (switches.empty() || kind.empty()) return it;
        if (switches.find("all") != std::string::npos ||
            switches.find(LowerAscii(kind)) != std::string::npos)
            return it;
    }
    return list.end();
}

bool IgnoringSource(std::string_view nick, std::string_view userhost, std::string_view kind) {
    if (!Options().ignore || userhost.empty() || nick.empty()) return false;
    std::string address = LowerAscii(nick) + "!" + LowerAscii(userhost);
    return doignore(address, kind) != Ignores().entries.end();
}

void arignore(int type, std::string mask, std::string_view switches, int seconds) {
    if (mask.empty()) return;
    mask = AddressMask(mask);
    IgnoreState& st = Ignores();
    LineIter found = FindEntry(mask);
    const bool exists = found != st.entries.end();
    if (type == 0) type = exists ? 2 : 1;
    const std::vector<std::string> given = SplitSwitches(switches);
    if (type == 1) {
        std::string text = mask;
        std::vector<std::string> old =
            exists ? SplitSwitches(SwitchesOf(found->text)) : std::vector<std::string>();
        if (!old.empty()) {
            for (const std::string& s : old) text += "," + s;
            for (const std::string& s : given)
                if (!HasSwitch(old, s)) text += "," + s;
        } else {
            for (const std::string& s : given) text += "," + s;
        }
        if (exists) st.entries.erase(found);
        aline(st.entries, text, false);
        Say(exists ? "*** Updated ignore switches for " + mask
                   : "*** Added " + mask + " to ignore list");
        if (seconds > 0) {
            for (auto it = st.timed.begin(); it != st.timed.end(); ++it) {
                if (EqualNoCase(it->text, mask)) {
                    st.timed.erase(it);
                    break;
                }
            }
            aline(st.timed, mask, false, seconds);
        }
        Options().ignore = 1;
        saveignore();
        return;
    }
    if (!exists) {
        Say("*** " + mask + " isn't in ignore list");
        return;
    }
    std::vector<std::string> old = SplitSwitches(SwitchesOf(found->text));
    if (!given.empty() && !old.empty()) {
        std::string text(MaskOf(found->text));
        bool kept = false;
        for (const std::string& s : old) {
            if (HasSwitch(given, s)) continue;
            text += "," + s;
            kept = true;
        }
        if (kept) {
            found->text = text;
            Say("*** Updated ignore switches for " + mask);
            saveignore();
            return;
        }
    }
    st.entries.erase(found);
    Say("*** Removed " + mask + " from ignore list");
    saveignore();
}

void IgnoreTick() {
    IgnoreState& st = Ignores();
    std::vector<std::string> due;
    for (auto it = st.timed.begin(); it != st.timed.end();) {
        if (st.hold) {
            if (it->value < 1) it->value = 1;
            ++it;
            continue;
        }
        if (--it->value > 0) {
            ++it;
            continue;
        }
        due.push_back(it->text);
        it = st.timed.erase(it);
    }
    for (const std::string& mask : due) arignore(2, mask, "", 0);
}

void unignoreall() {
    IgnoreState& st = Ignores();
    for (const Line& t : st.timed) {
        for (auto it = st.entries.begin(); it != st.entries.end(); ++it) {
            if (EqualNoCase(MaskOf(it->text), t.text)) {
                st.entries.erase(it);
                break;
            }
        }
    }
    st.timed.clear();
}

void loadignore() {
    const std::string& ini = Options().szINI;
    IgnoreState& st = Ignores();
    st.entries.clear();
    if (ini.empty()) return;
    for (int i = 0;; ++i) {
        std::string value =
            platform::GetPrivateProfileString("Ignore", "n" + std::to_string(i), "", 512, ini);
        if (value.empty()) break;
        aline(st.entries, value, false);
    }
    std::string old = platform::GetPrivateProfileString("Text", "ignore", "", 4096, ini);
    if (old.empty()) return;
    size_t at = 0;
    int count = 0;
    while (at < old.size() && count < kMaxOldIgnores) {
        size_t end = old.find(' ', at);
        if (end == std::string::npos) end = old.size();
        if (end > at) {
            std::string mask = old.substr(at, end - at);
            mask = AddressMask(mask);
            aline(st.entries, mask, false);
            ++count;
        }
        at = end + 1;
    }
    saveignore();
    platform::DeletePrivateProfileKey("Text", "ignore", ini);
}

void saveignore() {
    const std::string& ini = Options().szINI;
    if (ini.empty()) return;
    std::vector<std::pair<std::string, std::string>> lines;
    // Timed ignores lift themselves; they are never stored.
    for (const Line& l : Ignores().entries) {
        bool timed = false;
        for (const Line& t : Ignores().timed) timed = timed || EqualNoCase(MaskOf(l.text), t.text);
        if (!timed) lines.emplace_back("n" + std::to_string(lines.size()), l.text);
    }
    platform::WriteProfileSection("Ignore", lines, ini);
}

}  // namespace chat
