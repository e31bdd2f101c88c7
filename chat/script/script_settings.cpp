#include "chat/script/script_settings.h"

#include <sys/stat.h>

#include "chat/core/options.h"
#include "chat/core/windows/window_print.h"
#include "chat/script/commands.h"
#include "chat/script/deferred_identifiers.h"
#include "chat/script/script_files.h"
#include "chat/script/script_state.h"

namespace chat {
namespace {

// Characters of a script file name as stored.
constexpr size_t kMaxFileName = 360;
// Aliases one list may hold: plenty for any script, and a bound for a runaway /alias loop.
constexpr size_t kMaxAliases = 5000;

struct ScriptFile {
    const char* key;  ///< key of section "Files"
    char which;
    const char* section;
    const char* prefix;
    LineList ScriptState::*list;
    std::string ScriptState::*file;
};

// The popups file is named here too; its menus are read by the popup layer.
constexpr ScriptFile kFiles[] = {
    {"aliases", 'a', "Aliases", "alias", &ScriptState::szals, &ScriptState::afile},
    {"popups", 'p', nullptr, nullptr, nullptr, &ScriptState::pfile},
    {"users", 'u', "Users", "u", &ScriptState::szusers, &ScriptState::ufile},
    {"variables", 'v', "Variables", "v", &ScriptState::szvars, &ScriptState::vfile},
    {"commands", 'c', "Commands", "c", &ScriptState::szcmds, &ScriptState::cfile},
    {"events", 'e', "Events", "e", &ScriptState::szevents, &ScriptState::efile},
};

bool IsFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

void WriteOnExit() {
    if (Script().rchanged) saveremote(0);
}

}  // namespace

std::string ScriptFileFor(std::string_view name) {
    if (name.empty()) return Options().szINI;
    std::string path = ScriptPath(name);
    return IsFile(path) ? path : Options().szINI;
}

void ReadScriptFiles() {
    ScriptState& s = Script();
    for (const ScriptFile& f : kFiles) {
        s.*(f.file) = ScriptFileFor(ReadSetting("Files", f.key, "", kMaxFileName));
        if (!f.list) continue;
        LineList& list = s.*(f.list);
        list.clear();
        loadsection(f.section, list, s.*(f.file));
    }
    s.rchanged = false;
}

bool SaveScriptFileNames() {
    const ScriptState& s = Script();
    std::vector<std::pair<std::string, std::string>> keys;
    for (const ScriptFile& f : kFiles) {
        // The settings file itself is the default and needs no key.
        const std::string& name = s.*(f.file);
        keys.emplace_back(f.key, name == Options().szINI ? std::string() : name);
    }
    return WriteSettings("Files", keys);
}

bool savealiases() {
    ScriptState& s = Script();
    if (s.afile.empty()) s.afile = Options().szINI;
    return !s.afile.empty() && savesection("Aliases", "alias", s.szals, s.afile);
}

bool saveremote(char which) {
    ScriptState& s = Script();
    bool ok = true;
    for (const ScriptFile& f : kFiles) {
        if (!f.list || f.which == 'a' || (which && which != f.which)) continue;
        std::string& path = s.*(f.file);
        if (path.empty()) path = Options().szINI;
        if (path.empty()) continue;
        ok = savesection(f.section, f.prefix, s.*(f.list), path) && ok;
    }
    if (ok && !which) s.rchanged = false;
    return ok;
}

int doalias(WindowId w, const Args& a, bool) {
    ScriptState& s = Script();
    std::string name = Arg(a, 1);
    if (name.empty()) {
        if (s.szals.empty()) {
            Print(w, "* No aliases defined", 1);
            return 1;
        }
        Print(w, "* Aliases:", 1);
        for (const Line& l : s.szals) Print(w, l.text, 1);
        return 1;
    }
    if (name[0] != '/') name.insert(name.begin(), '/');
    std::string head = name + " ";
    std::string body = JoinFrom(a, 2);
    auto old = s.szals.begin();
    while (old != s.szals.end() && !StartsNoCase(old->text, head)) ++old;
    if (body.empty()) {
        if (old == s.szals.end()) {
            Print(w, "* No such alias " + name, 1);
            return 1;
        }
        s.szals.erase(old);
        savealiases();
        Print(w, "* Removed alias " + name, 1);
        return 1;
    }
    std::string definition = (head + body).substr(0, kMaxCommandLine);
    if (old != s.szals.end()) {
        old->text = definition;
    } else if (s.szals.size() >= kMaxAliases) {
        Print(w, "Aliases Memory Allocation Error!", 3);
        return 0;
    } else {
        aline(s.szals, definition, false);
    }
    savealiases();
    Print(w, "* Alias " + name + " set", 1);
    return 1;
}

void InstallScriptSettings() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    SettingsReaders().push_back(ReadScriptFiles);
    SettingsWriters().push_back(WriteOnExit);
    InstallCommand("/ALIAS", doalias);
}

}  // namespace chat
