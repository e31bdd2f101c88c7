#include "chat/script/frontend_hooks.h"

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
    } else {
        h.prompt = nullptr;
    }
    h.select_file = [](const std::string& kind, const std::string& title,
                       const std::string& pattern) -> std::optional<std::string> {
        const Frontend& f = CurrentFrontend();
        if (!f.select_file) return std::nullopt;
        return f.select_file(kind, title, pattern);
    };
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
    // The alias runs like its name typed on its own: the parser finds it by "/F5 ".
    std::string name = alias;
    while (!name.empty() && name.back() == ' ') name.pop_back();
    parseinput(window, name, kOriginTyped, 0);
    return true;
}

}  // namespace chat
