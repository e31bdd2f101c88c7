#include "chat/script/script_editors.h"

#include <cctype>

#include "chat/core/frame.h"
#include "chat/core/windows/window_print.h"
#include "chat/core/windows/window_table.h"
#include "chat/script/messaging.h"
#include "chat/script/script_settings.h"
#include "chat/script/script_state.h"

namespace chat {
namespace {

struct Section {
    const char* name;
    LineList ScriptState::*list;
};

constexpr Section kSections[] = {
    {"[Users]", &ScriptState::szusers},
    {"[Variables]", &ScriptState::szvars},
    {"[Commands]", &ScriptState::szcmds},
    {"[Events]", &ScriptState::szevents},
};

bool TooLong(const std::vector<std::string>& lines, std::string& error) {
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].size() > kMaxListLine) {
            error = "Line " + std::to_string(i + 1) + " is longer than " +
                    std::to_string(kMaxListLine) + " characters; nothing was changed.";
            return true;
        }
    }
    return false;
}

std::string Trimmed(const std::string& line) {
    size_t first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos) return {};
    size_t last = line.find_last_not_of(" \t\r");
    return line.substr(first, last - first + 1);
}

void Report(const std::string& text) {
    if (CurrentFrontend().message_box)
        CurrentFrontend().message_box("Vesk32", text);
    else
        Print(StatusWin(), "*** " + text, 3);
}

bool NoEditor() {
    Print(StatusWin(),
          "*** The script editors need a terminal; use /alias, /auser, /load and /save", 1);
    return false;
}

}  // namespace

std::vector<std::string> RemoteText() {
    std::vector<std::string> out;
    for (const Section& s : kSections) {
        out.emplace_back(s.name);
        for (const Line& l : Script().*(s.list)) out.push_back(l.text);
        out.emplace_back();
    }
    return out;
}

bool ApplyRemoteText(const std::vector<std::string>& lines, std::string& error) {
    if (TooLong(lines, error)) return false;
    LineList lists[std::size(kSections)];
    int current = -1;
    for (size_t i = 0; i < lines.size(); ++i) {
        std::string t = Trimmed(lines[i]);
        if (t.empty()) continue;
        bool header = false;
        for (size_t k = 0; k < std::size(kSections); ++k) {
            if (EqualNoCase(t, kSections[k].name)) {
                current = static_cast<int>(k);
                header = true;
            }
        }
        if (header) continue;
        if (t[0] == '[' && t.back() == ']') {
            error =
                "Line " + std::to_string(i + 1) + ": unknown list " + t + "; nothing was changed.";
            return false;
        }
        if (current < 0) {
            error = "Line " + std::to_string(i + 1) +
                    " comes before the first list header; nothing was changed.";
            return false;
        }
        aline(lists[current], lines[i], false);
    }
    ScriptState& s = Script();
    for (size_t k = 0; k < std::size(kSections); ++k) s.*(kSections[k].list) = std::move(lists[k]);
    s.rchanged = true;
    return true;
}

bool ApplyAliasText(const std::vector<std::string>& lines, std::string& error) {
    if (TooLong(lines, error)) return false;
    LineList list;
    for (const std::string& l : lines)
        if (!Trimmed(l).empty()) aline(list, l, false);
    Script().szals = std::move(list);
    return true;
}

bool EditAliases() {
    ScriptState& s = Script();
    if (!s.hooks.edit_lines) return NoEditor();
    std::vector<std::string> lines;
    for (const Line& l : s.szals) lines.push_back(l.text);
    auto edited =
        s.hooks.edit_lines("Vesk Aliases: " + std::to_string(lines.size()) + " entries", lines);
    if (!edited) return false;
    std::string error;
    if (!ApplyAliasText(*edited, error)) {
        Report(error);
        return false;
    }
    if (!savealiases()) Report("Unable to save the aliases to " + s.afile);
    return true;
}

bool EditRemote() {
    ScriptState& s = Script();
    if (!s.hooks.edit_lines) return NoEditor();
    auto edited = s.hooks.edit_lines("Vesk Remote", RemoteText());
    if (!edited) return false;
    std::string error;
    if (!ApplyRemoteText(*edited, error)) {
        Report(error);
        return false;
    }
    if (!saveremote(0)) Report("Unable to save the remote lists");
    return true;
}

void InstallScriptEditors() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    FrameState& f = Frame();
    f.more_commands = [earlier = std::move(f.more_commands)](int command) {
        if (command == kCmdAliases) {
            EditAliases();
            return true;
        }
        if (command == kCmdRemote) {
            EditRemote();
            return true;
        }
        return earlier ? earlier(command) : false;
    };
}

}  // namespace chat
