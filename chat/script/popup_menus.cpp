#include "chat/script/popup_menus.h"

#include <cstdio>

#include "chat/core/options.h"
#include "chat/core/session/session_state.h"
#include "chat/core/windows/window_print.h"
#include "chat/core/windows/window_table.h"
#include "chat/script/commands.h"
#include "chat/script/deferred_identifiers.h"
#include "chat/script/input_parser.h"
#include "chat/script/script_files.h"
#include "chat/script/script_state.h"
#include "chat/script/tokens.h"
#include "platform/profile.h"

namespace chat {
namespace {

struct PopupSlot {
    PopupKind kind;
    LineList PopupState::*list;
    int ChatOptions::*option;
    const char* section;
    const char* prefix;
    int first;
};

constexpr PopupSlot kSlots[] = {
    {PopupKind::kStatus, &PopupState::szmp, &ChatOptions::mp, "mPopup", "mp", kPopupStatusFirst},
    {PopupKind::kQuery, &PopupState::szqp, &ChatOptions::qp, "qPopup", "qp", kPopupQueryFirst},
    {PopupKind::kNickList, &PopupState::szlp, &ChatOptions::lp, "lPopup", "lp", kPopupNickFirst},
    {PopupKind::kBar, &PopupState::szbp, &ChatOptions::bp, "bPopup", "bp", kPopupBarFirst},
};

const PopupSlot& SlotOf(PopupKind kind) {
    for (const PopupSlot& s : kSlots)
        if (s.kind == kind) return s;
    return kSlots[0];
}

size_t DepthOf(std::string_view line) {
    size_t depth = 0;
    while (depth < line.size() && line[depth] == '.') ++depth;
    return depth;
}

bool DotAt(std::string_view line, size_t at) {
    return at < line.size() && line[at] == '.';
}

std::string_view AfterDots(std::string_view line) {
    line.remove_prefix(DepthOf(line));
    while (!line.empty() && line[0] == ' ') line.remove_prefix(1);
    return line;
}

bool HasItems(const std::vector<PopupEntry>& items) {
    for (const PopupEntry& e : items)
        if (!e.separator) return true;
    return false;
}

// One menu level from line i on; i is left on the last line the level consumed.
std::vector<PopupEntry> newpop(const std::vector<std::string>& lines, size_t& i, size_t depth,
                               int first) {
    std::vector<PopupEntry> menu;
    const size_t n = lines.size();
    while (i < n && !lines[i].empty()) {
        const std::string& line = lines[i];
        bool has_next = i + 1 < n && i < kMaxPopupLines - 1;
        bool ends = depth >= 1 && !(has_next && DotAt(lines[i + 1], depth - 1));
        if (has_next && DotAt(lines[i + 1], depth)) {
            PopupEntry sub;
            sub.text = std::string(AfterDots(line));
            ++i;
            sub.items = newpop(lines, i, depth + 1, first);
            if (HasItems(sub.items)) menu.push_back(std::move(sub));
            has_next = i + 1 < n && i < kMaxPopupLines - 1;
            ends = !has_next || (depth >= 1 && !DotAt(lines[i + 1], depth - 1));
        } else if (const size_t own = DepthOf(line); own < line.size() && line[own] == '-') {
            PopupEntry sep;
            sep.separator = true;
            menu.push_back(std::move(sep));
        } else if (std::string_view body = AfterDots(line); body.find(':') != std::string::npos) {
            std::string_view text = body.substr(0, body.find(':'));
            if (!text.empty()) {
                PopupEntry item;
                item.text = std::string(text);
                item.id = first + static_cast<int>(i);
                menu.push_back(std::move(item));
            }
        }
        if (ends) return menu;
        ++i;
    }
    return menu;
}

// The menu-bar list has a title line when its first line has no ":" and the second does not
// begin with ".".
bool BarHasTitle(const LineList& list) {
    if (list.size() < 2) return false;
    auto it = list.begin();
    const std::string& first = it->text;
    const std::string& second = (++it)->text;
    return first.find(':') == std::string::npos && !second.empty() && second[0] != '.';
}

WindowId Status() {
    return Windows().statwin;
}

void RunWithParameters(WindowId window, const std::string& command, const std::string& params) {
    parseinput(window, command + ":$:" + params, kOriginParams, 0);
}

void RunAsQuery(WindowId window, const std::string& command) {
    const WindowRecord* r = RecordOf(window);
    if (!r || EqualNoCase(r->name, "Message Window") || r->kind == kKindNotifyList) {
        // There is no list to choose an entry from in these windows.
        Beep();
        return;
    }
    size_t blank = r->name.rfind(' ');
    RunWithParameters(window, command,
                      blank == std::string::npos ? r->name : r->name.substr(blank + 1));
}

void RunAsNickList(WindowId window, const std::string& command) {
    const Frontend& fe = CurrentFrontend();
    if (!fe.selected_nicks) return;
    std::string params;
    size_t count = 0;
    for (std::string nick : fe.selected_nicks(window)) {
        if (count++ >= kMaxPopupNicks) break;
        if (!nick.empty() && MarkRank(nick[0]) >= 0) nick.erase(0, 1);
        if (!nick.empty()) params += nick + " ";
    }
    if (params.empty()) return;
    RunWithParameters(window, command, params);
}

}  // namespace

PopupState& Popups() {
    static PopupState state;
    return state;
}

void ResetPopups() {
    Popups() = PopupState{};
}

LineList& PopupList(PopupKind kind) {
    return Popups().*(SlotOf(kind).list);
}

std::optional<PopupMenu> BuildPopup(const LineList& lines, int first) {
    std::vector<std::string> text;
    for (const Line& l : lines) {
        if (text.size() >= kMaxPopupLines) break;
        text.push_back(l.text);
    }
    size_t i = 0;
    PopupMenu menu;
    menu.items = newpop(text, i, 0, first);
    if (!HasItems(menu.items)) return std::nullopt;
    return menu;
}

std::optional<PopupMenu> MakePopup(PopupKind kind) {
    const PopupSlot& slot = SlotOf(kind);
    const LineList& list = Popups().*(slot.list);
    if (!(Options().*(slot.option))) return std::nullopt;
    if (kind != PopupKind::kBar) return BuildPopup(list, slot.first);
    if (list.size() < 2) return std::nullopt;
    std::string title = "User";
    LineList items = list;
    if (BarHasTitle(list)) {
        title = list.front().text;
        items.pop_front();
    }
    std::optional<PopupMenu> menu = BuildPopup(items, slot.first);
    if (menu) menu->title = title;
    return menu;
}

std::optional<PopupMenu> PopupForWindow(WindowId window, bool nick_list) {
    const WindowRecord* r = RecordOf(window);
    if (!r) return std::nullopt;
    switch (r->kind) {
        case kKindStatus:
            return MakePopup(PopupKind::kStatus);
        case kKindChannel:
            return MakePopup(nick_list ? PopupKind::kNickList : PopupKind::kStatus);
        case kKindQuery:
        case kKindNotifyList:
            return MakePopup(PopupKind::kQuery);
        default:
            return std::nullopt;
    }
}

std::string ExtractPopupAlias(const LineList& list, int first, int id) {
    if (id < first) return {};
    size_t index = static_cast<size_t>(id - first);
    if (index >= list.size() || index >= kMaxPopupLines) return {};
    auto it = list.begin();
    std::advance(it, static_cast<std::ptrdiff_t>(index));
    size_t colon = it->text.find(':');
    if (colon == std::string::npos) return {};
    std::string command = it->text.substr(colon + 1);
    command.erase(0, command.find_first_not_of(' '));
    return command;
}

bool ProcessPopupMenu(WindowId window, int id, bool nick_list_focused) {
    for (const PopupSlot& slot : kSlots) {
        if (id < slot.first || id >= slot.first + static_cast<int>(kMaxPopupLines)) continue;
        const LineList& stored = Popups().*(slot.list);
        LineList items = stored;
        if (slot.kind == PopupKind::kBar && BarHasTitle(stored)) items.pop_front();
        const std::string command = ExtractPopupAlias(items, slot.first, id);
        if (command.empty()) return true;
        const WindowRecord* r = RecordOf(window);
        PopupKind as = slot.kind;
        if (as == PopupKind::kBar) {
            as = r && r->kind == kKindQuery                          ? PopupKind::kQuery
                 : r && r->kind == kKindChannel && nick_list_focused ? PopupKind::kNickList
                                                                     : PopupKind::kStatus;
        }
        switch (as) {
            case PopupKind::kQuery:
                RunAsQuery(window, command);
                break;
            case PopupKind::kNickList:
                RunAsNickList(window, command);
                break;
            default:
                parseinput(window ? window : Status(), command, kOriginPerform, 0);
                break;
        }
        return true;
    }
    return false;
}

bool readpopups(const std::string& path, WindowId report) {
    for (const PopupSlot& slot : kSlots) {
        LineList read;
        if (!loadsection(slot.section, read, path)) return false;
        if (read.size() > kMaxPopupLines) {
            Print(report ? report : Status(),
                  "*** " + std::string(slot.section) + " holds " + std::to_string(read.size()) +
                      " lines: popup menus keep the first 300",
                  1);
            read.resize(kMaxPopupLines);
        }
        Popups().*(slot.list) = std::move(read);
    }
    return true;
}

bool savepopups(const std::string& path) {
    bool ok = true;
    for (const PopupSlot& slot : kSlots)
        ok = savesection(slot.section, slot.prefix, Popups().*(slot.list), path) && ok;
    return ok;
}

std::string PopupsFile() {
    const std::string& file = Script().pfile;
    return file.empty() ? Options().szINI : file;
}

namespace {

int doloadsavepopups(WindowId w, const Args& a, bool remote) {
    if (!EqualNoCase(Arg(a, 1), "-p")) return doloadsave(w, a, remote);
    const bool load = a[0] == "/LOAD";
    std::string name;
    if (Arg(a, 2).empty()) {
        Print(w, "*** Invalid parameters", 1);
        return 0;
    }
    if (!extractquotes(a, 2, name, 256) || name.empty()) {
        Print(
            w,
            load ? "*** Invalid /load filename specified" : "*** Invalid /save filename specified",
            1);
        return 0;
    }
    const std::string path = ScriptPath(name);
    if (load) {
        std::FILE* f = std::fopen(path.c_str(), "r");
        if (f) std::fclose(f);
        if (!f || !readpopups(path, w)) {
            Print(w, "*** Unable to /load " + path, 1);
            return 0;
        }
        Script().pfile = path;
        if (!Options().szINI.empty())
            platform::WritePrivateProfileString("Files", "popups", path, Options().szINI);
        Print(w, "*** Loaded popups from " + path, 1);
        return 1;
    }
    if (!savepopups(path)) {
        Print(w, "*** Unable to /save to " + path, 1);
        return 0;
    }
    Script().pfile = path;
    if (!Options().szINI.empty())
        platform::WritePrivateProfileString("Files", "popups", path, Options().szINI);
    Print(w, "*** Saved popups to " + path, 1);
    return 1;
}

void ReadPopupSettings() {
    const std::string& ini = Options().szINI;
    if (Script().pfile.empty() && !ini.empty())
        Script().pfile = platform::GetPrivateProfileString("Files", "popups", "", 256, ini);
    readpopups(PopupsFile(), 0);
}

}  // namespace

void InstallPopups() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    InstallCommand("/LOAD", doloadsavepopups);
    InstallCommand("/SAVE", doloadsavepopups);
    SettingsReaders().push_back(ReadPopupSettings);
}

}  // namespace chat
