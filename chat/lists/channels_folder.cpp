#include "chat/lists/channels_folder.h"

#include <utility>

#include "chat/core/options.h"
#include "chat/core/session/session_state.h"
#include "chat/core/windows/window_table.h"
#include "chat/lists/channel_settings.h"
#include "platform/profile.h"

#include "chat/lists/list_text.h"

namespace chat {
namespace {

// Characters of a match or exclusion text.
constexpr size_t kMaxListText = 256;

}  // namespace

ChannelsFolderState& Folder() {
    static ChannelsFolderState state;
    return state;
}

void ResetFolder() {
    Folder() = ChannelsFolderState{};
}

std::string FolderName(std::string_view name) {
    if (name.empty()) return {};
    if (name[0] == '#' || name[0] == '&') return std::string(name);
    return "#" + std::string(name);
}

bool FindItem(std::string_view name) {
    for (const Line& l : Folder().szjoin)
        if (EqualNoCase(l.text, name)) return true;
    return false;
}

bool AddChanItem(std::string_view name) {
    const std::string stored = FolderName(name);
    if (stored.empty() || FindItem(stored)) return false;
    aline(Folder().szjoin, stored, false);
    return true;
}

bool RemoveChanItem(std::string_view name) {
    LineList& list = Folder().szjoin;
    const std::string stored = FolderName(name);
    for (auto it = list.begin(); it != list.end(); ++it) {
        if (!EqualNoCase(it->text, stored)) continue;
        list.erase(it);
        return true;
    }
    return false;
}

std::vector<std::string> FolderCommandLines(std::string_view word,
                                            const std::vector<std::string>& chosen) {
    std::vector<std::string> lines;
    const std::string head = std::string(word) + " ";
    std::string line;
    for (auto it = chosen.rbegin(); it != chosen.rend(); ++it) {
        if (it->empty()) continue;
        if (!line.empty() && line.size() + 1 + it->size() > kMaxFolderLine) {
            lines.push_back(line);
            line.clear();
        }
        line += line.empty() ? head + *it : "," + *it;
    }
    if (!line.empty()) lines.push_back(line);
    return lines;
}

void loadjoin() {
    const std::string& ini = Options().szINI;
    Folder().szjoin.clear();
    if (ini.empty()) return;
    for (auto& [key, value] : platform::ReadProfileSection("Channels", ini))
        if (!value.empty()) AddChanItem(value.substr(0, 90));
}

void savejoin() {
    const std::string& ini = Options().szINI;
    if (ini.empty()) return;
    std::vector<std::pair<std::string, std::string>> lines;
    for (const Line& l : Folder().szjoin)
        lines.emplace_back("ch" + std::to_string(lines.size()), l.text);
    platform::WriteProfileSection("Channels", lines, ini);
}

FolderDialog& ChannelsFolderDialog() {
    static FolderDialog dialog;
    return dialog;
}

void RunChannelsFolder() {
    const FolderDialog& dialog = ChannelsFolderDialog();
    if (!dialog) {
        const Frontend& fe = CurrentFrontend();
        if (fe.message_box) fe.message_box("System Error", "Unable to display dialog");
        return;
    }
    // The folder asked for on connect finds it open already when the user opened it first.
    static bool open = false;
    if (open) return;
    open = true;
    struct Closing {
        ~Closing() { open = false; }
    } closing;
    std::vector<std::string> rows;
    for (const Line& l : Folder().szjoin) rows.push_back(l.text);
    std::string field;
    bool pop_up = Options().pfoc != 0;
    for (;;) {
        std::optional<FolderChoice> choice = dialog(rows, field, pop_up);
        if (!choice || choice->action == FolderChoice::kCancel) return;
        rows = choice->channels;
        field = choice->field;
        pop_up = choice->pop_up;
        if (choice->action != FolderChoice::kNames) {
            Folder().szjoin.clear();
            for (const std::string& name : rows) AddChanItem(name);
            savejoin();
            Options().pfoc = pop_up ? 1 : 0;
            saveoptions();
        }
        if (choice->action == FolderChoice::kClose) return;
        std::vector<std::string> names = choice->chosen;
        if (names.empty() && !FolderName(field).empty()) names.push_back(FolderName(field));
        const std::vector<std::string> lines =
            FolderCommandLines(choice->action == FolderChoice::kJoin ? "JOIN" : "NAMES", names);
        if (lines.empty()) Beep();
        for (const std::string& line : lines) SendToServer(line, false);
        if (choice->action == FolderChoice::kJoin && !lines.empty()) return;
    }
}

void checkminmax(int& listmin, int& listmax) {
    if (listmin < 0) listmin = 0;
    if (listmin >= 1000) listmin = 999;
    if (listmax < 0) listmax = 999;
    if (listmax < listmin) listmax = listmin;
    if (listmax >= 1000) listmax = 999;
}

std::vector<std::string> parseck(std::string_view text) {
    std::vector<std::string> words;
    size_t at = 0;
    while (at < text.size() && words.size() < kMaxListWords) {
        size_t end = text.find(' ', at);
        if (end == std::string_view::npos) end = text.size();
        if (end > at) words.push_back(LowerAscii(text.substr(at, end - at)));
        at = end + 1;
    }
    return words;
}

void RememberMatch(std::string_view text) {
    ChannelsFolderState& f = Folder();
    f.liststr = LowerAscii(text.substr(0, kMaxListText));
    if (f.liststr.empty()) return;
    atopline(f.szcparms, f.liststr, true);
    while (f.szcparms.size() > kMaxRecentMatches) f.szcparms.pop_back();
}

void loadcparms() {
    const std::string& ini = Options().szINI;
    ChannelsFolderState& f = Folder();
    f.szcparms.clear();
    if (ini.empty()) return;
    for (size_t i = 0; i < kMaxRecentMatches; ++i) {
        std::string text = platform::GetPrivateProfileString(
            "ChannelsList", "c" + std::to_string(i), "", kMaxListText, ini);
        if (!text.empty()) aline(f.szcparms, LowerAscii(text), false);
    }
    f.xliststr = LowerAscii(decrypt(
        platform::GetPrivateProfileString("ChannelsList", "hide", "", kMaxListText, ini), false));
    f.szlock =
        decrypt(platform::GetPrivateProfileString("ChannelsList", "lock", "", 64, ini), false)
            .substr(0, kMaxLockPassword);
    if (!Scramblable(f.xliststr)) f.xliststr.clear();
    if (!Scramblable(f.szlock)) f.szlock.clear();
}

void savecparms() {
    const std::string& ini = Options().szINI;
    if (ini.empty()) return;
    const ChannelsFolderState& f = Folder();
    std::vector<std::pair<std::string, std::string>> lines;
    for (const Line& l : f.szcparms) {
        if (lines.size() >= kMaxRecentMatches) break;
        lines.emplace_back("c" + std::to_string(lines.size()), l.text);
    }
    if (!f.xliststr.empty() && Scramblable(f.xliststr))
        lines.emplace_back("hide", encrypt(f.xliststr, false));
    if (!f.szlock.empty() && Scramblable(f.szlock))
        lines.emplace_back("lock", encrypt(f.szlock, false));
    platform::WriteProfileSection("ChannelsList", lines, ini);
}

}  // namespace chat
