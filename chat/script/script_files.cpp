#include "chat/script/script_files.h"

#include <sys/stat.h>

#include <cstdio>
#include <utility>
#include <vector>

#include "chat/core/options.h"
#include "chat/core/windows/window_print.h"
#include "chat/script/commands.h"
#include "chat/script/deferred_identifiers.h"
#include "chat/script/messaging.h"
#include "chat/script/script_settings.h"
#include "chat/script/script_state.h"
#include "platform/profile.h"

namespace chat {
namespace {

// Characters of a script file name.
constexpr size_t kMaxFileName = 256;

struct ScriptList {
    char option;
    const char* section;
    const char* prefix;
    const char* noun;
    LineList ScriptState::*list;
    std::string ScriptState::*file;
};

// Popups are not here: their file holds menus that the popup layer builds and installs.
constexpr ScriptList kLists[] = {
    {'a', "Aliases", "alias", "aliases", &ScriptState::szals, &ScriptState::afile},
    {'u', "Users", "u", "users", &ScriptState::szusers, &ScriptState::ufile},
    {'v', "Variables", "v", "variables", &ScriptState::szvars, &ScriptState::vfile},
    {'c', "Commands", "c", "commands", &ScriptState::szcmds, &ScriptState::cfile},
    {'e', "Events", "e", "events", &ScriptState::szevents, &ScriptState::efile},
};

bool IsFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

bool loadsection(std::string_view section, LineList& list, const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "r");
    if (!f) return false;
    std::fclose(f);
    list.clear();
    for (auto& [key, value] : platform::ReadProfileSection(std::string(section), path)) {
        if (value.empty()) continue;
        if (value.size() > kMaxCommandLine) value.resize(kMaxCommandLine);
        aline(list, value, false);
    }
    return true;
}

bool savesection(std::string_view section, std::string_view prefix, const LineList& list,
                 const std::string& path) {
    std::vector<std::pair<std::string, std::string>> lines;
    int index = 0;
    for (const Line& l : list) {
        if (l.text.empty()) continue;
        lines.emplace_back(std::string(prefix) + std::to_string(index++), l.text);
    }
    // The settings file may be the user's first: its folder is made on the first write.
    if (path == Options().szINI && !EnsureSettingsFolder()) return false;
    return platform::WriteProfileSection(std::string(section), lines, path);
}

int doloadsave(WindowId w, const Args& a, bool) {
    bool load = a[0] == "/LOAD";
    const std::string& option = Arg(a, 1);
    const ScriptList* kind = nullptr;
    if (option.size() == 2 && option[0] == '-')
        for (const ScriptList& l : kLists)
            if (l.option == (option[1] | 0x20)) kind = &l;
    if (!kind || Arg(a, 2).empty()) {
        Print(w, "*** Invalid parameters", 1);
        return 0;
    }
    std::string name;
    if (!extractquotes(a, 2, name, kMaxFileName) || name.empty()) {
        Print(
            w,
            load ? "*** Invalid /load filename specified" : "*** Invalid /save filename specified",
            1);
        return 0;
    }
    std::string path = ScriptPath(name);
    ScriptState& s = Script();
    if (load) {
        if (!IsFile(path) || !loadsection(kind->section, s.*(kind->list), path)) {
            Print(w, "*** Unable to /load " + path, 1);
            return 0;
        }
        s.*(kind->file) = path;
        SaveScriptFileNames();
        Print(w, "*** Loaded " + std::string(kind->noun) + " from " + path, 1);
        return 1;
    }
    // The section is replaced and the rest of the file kept: by default every script section
    // shares the settings file, which emptying would destroy.
    if (!savesection(kind->section, kind->prefix, s.*(kind->list), path)) {
        Print(w, "*** Unable to /save to " + path, 1);
        return 0;
    }
    s.*(kind->file) = path;
    SaveScriptFileNames();
    Print(w, "*** Saved " + std::string(kind->noun) + " to " + path, 1);
    return 1;
}

}  // namespace chat
