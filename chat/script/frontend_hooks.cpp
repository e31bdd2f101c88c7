#include "chat/script/frontend_hooks.h"

#include "chat/core/windows/window_print.h"
#include "chat/core/windows/window_table.h"
#include "chat/script/commands.h"
#include "chat/script/input_parser.h"
#include "chat/script/script_state.h"

namespace chat {

void InstallFrontendHooks(const std::string& help_dir, bool can_prompt) {
    ScriptState& s = Script();
    ScriptHooks& h = s.hooks;
    if (can_prompt) {
        h.prompt = [](const std::string& title) -> std::optional<std::string> {
            const Frontend& f = CurrentFrontend();
            if (!f.prompt) return std::nullopt;
            return f.prompt(title);
        };
        h.select_file = [](const std::string& kind, const std::string& title,
                           const std::string& pattern) -> std::optional<std::string> {
            const Frontend& f = CurrentFrontend();
            if (!f.select_file) return std::nullopt;
            return f.select_file(kind, title, pattern);
        };
    } else {
        // Without a screen no dialog can be answered: the identifiers say so.
        h.prompt = nullptr;
        h.select_file = nullptr;
    }
    h.clipboard = []() -> std::string {
        const Frontend& f = CurrentFrontend();
        return f.clipboard ? f.clipboard() : std::string();
    };
    h.selected_nicks = [](WindowId window) -> std::vector<std::string> {
        const Frontend& f = CurrentFrontend();
        return f.selected_nicks ? f.selected_nicks(window) : std::vector<std::string>();
    };
    h.show_help = [](const std::string& path, const std::string& key) {
        const Frontend& f = CurrentFrontend();
        if (f.show_help) f.show_help(path, key);
    };
    s.help_dir = help_dir;
    InstallCommand("/FONT", [](WindowId window, const Args&, bool) {
        const Frontend& f = CurrentFrontend();
        if (f.font_dialog) f.font_dialog(window);
        return 1;
    });
}

bool RunFunctionKeyAlias(WindowId window, const std::string& alias) {
    bool found = false;
    for (const Line& l : Script().szals) {
        if (StartsNoCase(l.text, alias)) {
            found = true;
            break;
        }
    }
    if (!found) return false;
    // The alias runs like its name typed with the window's nicks after it, so that they
    // become $1, $2 ...: the nicks selected in a channel's list, a query's partner.
    std::string name = alias;
    while (!name.empty() && name.back() == ' ') name.pop_back();
    const WindowRecord* r = RecordOf(window);
    if (r && r->kind == kKindChannel && Script().hooks.selected_nicks) {
        int n = 0;
        for (std::string nick : Script().hooks.selected_nicks(window)) {
            if (n++ == 100) break;
            if (!nick.empty() && (nick[0] == '@' || nick[0] == '+')) nick.erase(0, 1);
            if (!nick.empty()) name += " " + nick;
        }
    } else if (r && r->kind == kKindQuery) {
        if (StartsNoCase(r->name, "Message Window")) {
            Beep();
            return true;
        }
        size_t blank = r->name.rfind(' ');
        name += " " + (blank == std::string::npos ? r->name : r->name.substr(blank + 1));
    }
    parseinput(window, name, kOriginTyped, 0);
    return true;
}

}  // namespace chat
