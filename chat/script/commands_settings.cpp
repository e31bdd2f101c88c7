// Handlers of commands that change settings and local state: switches, /echo, clearing and
// logging windows, variables, help, removing files and starting programs.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "chat/core/connection/connection.h"
#include "chat/core/options.h"
#include "chat/core/windows/window_log.h"
#include "chat/core/windows/window_print.h"
#include "chat/core/windows/window_settings.h"
#include "chat/core/windows/window_table.h"
#include "chat/script/commands.h"
#include "chat/script/deferred_identifiers.h"
#include "chat/script/messaging.h"
#include "chat/script/script_state.h"
#include "chat/script/variables.h"
#include "platform/process.h"

namespace chat {
namespace {

// A switch word: 1 "on", 0 "off", -1 anything else.
int OnOff(const std::string& word) {
    if (EqualNoCase(word, "on")) return 1;
    if (EqualNoCase(word, "off")) return 0;
    return -1;
}

void SaveSettings() {
    if (!Options().szINI.empty()) saveoptions();
}

// Applies "on"/"off" to a flag (none keeps it); false for any other word.
bool Switch(const Args& a, int& flag) {
    if (Arg(a, 1).empty()) return true;
    int v = OnOff(a[1]);
    if (v < 0) return false;
    flag = v;
    SaveSettings();
    return true;
}

// A number with a sign, saturating far beyond what a variable needs.
int64_t SignedNumber(std::string_view text) {
    bool negative = !text.empty() && text[0] == '-';
    int64_t n = 0;
    for (char c : text.substr(negative ? 1 : 0)) {
        if (c < '0' || c > '9') break;
        if (n < 100000000000000000) n = n * 10 + (c - '0');
    }
    return negative ? -n : n;
}

}  // namespace

int dotoggle(WindowId w, const Args& a, bool) {
    ChatOptions& o = Options();
    const std::string& cmd = a[0];
    if (cmd == "/AUTO") {
        if (!Switch(a, o.doop)) {
            Print(w, "*** Auto-Op entries are not available", 1);
            return 0;
        }
        Print(w, o.doop ? "*** Auto-Op is ON" : "*** Auto-Op is OFF", 2);
        return 1;
    }
    if (cmd == "/REMOTE") {
        int v = OnOff(Arg(a, 1));
        if (v >= 0) {
            o.lfc = o.lfe = v;
            SaveSettings();
        } else if (!Arg(a, 1).empty()) {
            return 1;
        }
        Print(w,
              o.lfc && o.lfe ? "*** Remote is on"
              : o.lfc        ? "*** Commands are on"
              : o.lfe        ? "*** Events are on"
                             : "*** Remote is off",
              1);
        return 1;
    }
    struct Flag {
        const char* command;
        int* flag;
        const char* on;
        const char* off;
        bool status;
        int colour;
    };
    int debug = Script().dodebuglogging ? 1 : 0;
    const Flag flags[] = {
        {"/COMMANDS", &o.lfc, "*** Commands are on", "*** Commands are off", false, 1},
        {"/EVENTS", &o.lfe, "*** Events are on", "*** Events are off", false, 1},
        {"/TIMESTAMP", &o.tse, "*** Time-stamp is ON", "*** Time-stamp is OFF", false, 1},
        {"/FSEND", &o.fsend, "*** Fast Send is ON", "*** Fast Send is OFF", true, 1},
        {"/DEBUG", &debug, "*** Output to debug.log is ON", "*** Output to debug.log is OFF", true,
         1},
        {"/IGNORE", &o.ignore, "*** Ignore is ON", "*** Ignore is OFF", false, 2},
        {"/NOTIFY", &o.notify, "*** Notify is ON", "*** Notify is OFF", false, 2},
        {"/URL", &o.eurl, "*** URL Catcher is ON", "*** URL Catcher is OFF", false, 1},
    };
    for (const Flag& f : flags) {
        if (cmd != f.command) continue;
        if (!Switch(a, *f.flag)) return 1;
        Script().dodebuglogging = debug != 0;
        Print(f.status ? StatusWin() : w, *f.flag ? f.on : f.off, f.colour);
        return 1;
    }
    return 1;
}

int dolistswitch(WindowId w, const Args& a, bool remote) {
    if (Arg(a, 1).empty() || OnOff(a[1]) >= 0) return dotoggle(w, a, remote);
    // The list itself belongs to the layer that installs the full command.
    Print(w, "*** " + a[0].substr(1) + " is not available", 1);
    return 0;
}

int dodlevel(WindowId w, const Args& a, bool) {
    ChatOptions& o = Options();
    if (!Arg(a, 1).empty()) {
        int64_t level = SignedNumber(a[1]);
        o.rdl = static_cast<int>(level < 1 ? 1 : level > 999 ? 999 : level);
        SaveSettings();
    }
    Print(w, "* Remote default user level is set to " + std::to_string(o.rdl), 1);
    return 1;
}

int dorequests(WindowId w, const Args& a, bool) {
    ChatOptions& o = Options();
    bool chat = a[0] == "/CREQ";
    int& mode = chat ? o.das : o.sad;
    const std::string& word = Arg(a, 1);
    if (EqualNoCase(word, "ask"))
        mode = 0;
    else if (EqualNoCase(word, "auto"))
        mode = 1;
    else if (EqualNoCase(word, "ignore"))
        mode = 2;
    if (!word.empty()) SaveSettings();
    static const char* const kModes[] = {"popup a dialog", "are auto-accepted", "are ignored"};
    Print(w,
          std::string(chat ? "*** DCC Chat requests " : "*** DCC Send requests ") +
              kModes[mode >= 0 && mode <= 2 ? mode : 0],
          1);
    return 1;
}

int doecho(WindowId, const Args& a, bool) {
    if (Arg(a, 1).empty()) return 1;
    size_t i = 1;
    int colour = 1;
    const std::string& first = a[1];
    if (first.find_first_not_of("0123456789") == std::string::npos && first.size() < 9 &&
        std::atoi(first.c_str()) > 0) {
        int n = std::atoi(first.c_str());
        colour = n > 6 ? 0 : n - 1;
        ++i;
    }
    WindowId target = StatusWin();
    if (EqualNoCase(Arg(a, i), "-s")) {
        ++i;
    } else if (WindowId named = FindWindow(Arg(a, i)); named && !Arg(a, i + 1).empty()) {
        target = named;
        ++i;
    }
    std::string text = JoinFrom(a, i);
    if (text.empty()) {
        Print(StatusWin(), "* Invalid echo parameters", 1);
        return 0;
    }
    WindowTable& t = Windows();
    t.tab = 0;
    t.mw = 0;
    Print(target, text, colour);
    return 1;
}

int doclear(WindowId w, const Args&, bool) {
    clearbuf(w, true);
    return 1;
}

int doclearall(WindowId, const Args&, bool) {
    WindowTable& t = Windows();
    for (int slot = 0; slot < kMaxWindows; ++slot) {
        const WindowRecord& r = t.ch[slot];
        if (r.window && (r.kind == kKindStatus || r.kind == kKindChannel || r.kind == kKindQuery))
            clearbuf(r.window, true);
    }
    return 1;
}

int dolog(WindowId w, const Args& a, bool) {
    const WindowRecord* r = RecordOf(w);
    if (!r) return 1;
    int v = OnOff(Arg(a, 1));
    bool logging = r->log != nullptr;
    if (v < 0 || (v == 1) != logging) logwindow(w, true, true);
    return 1;
}

int doset(WindowId w, const Args& a, bool) {
    bool quiet = EqualNoCase(Arg(a, 1), "-q");
    size_t i = quiet ? 2 : 1;
    const std::string& name = Arg(a, i);
    if (name.size() < 2 || name[0] != '%') {
        Print(w, "*** Invalid parameters", 1);
        return 0;
    }
    return setvar(w, name, JoinFrom(a, i + 1), !quiet, 0) ? 1 : 0;
}

int dounset(WindowId w, const Args& a, bool) {
    bool quiet = EqualNoCase(Arg(a, 1), "-q");
    for (size_t i = quiet ? 2 : 1; i < a.size() && !a[i].empty(); ++i)
        if (a[i].size() > 1 && a[i][0] == '%') setvar(w, a[i], "", !quiet, 0);
    return 1;
}

int dounsetall(WindowId, const Args&, bool) {
    ScriptState& s = Script();
    s.szvars.clear();
    s.rchanged = true;
    return 1;
}

int doinc(WindowId w, const Args& a, bool) {
    bool quiet = EqualNoCase(Arg(a, 1), "-q");
    size_t i = quiet ? 2 : 1;
    const std::string& name = Arg(a, i);
    if (name.size() < 2 || name[0] != '%') {
        Print(w, "*** Invalid parameters", 1);
        return 0;
    }
    std::string current;
    bool exists = getvar(name, current);
    if (exists && !isnumber(current)) return 1;
    int64_t amount = Arg(a, i + 1).empty() ? 1 : SignedNumber(a[i + 1]);
    bool dec = a[0] == "/DEC";
    int64_t value = SignedNumber(current) + (dec ? -amount : amount);
    return setvar(w, name, std::to_string(value), !quiet, dec ? 2 : 1) ? 1 : 0;
}

int dohelp(WindowId, const Args& a, bool) {
    const ScriptHooks& h = Script().hooks;
    const std::string& dir = Script().help_dir.empty() ? Options().szPATH : Script().help_dir;
    if (h.show_help) h.show_help(dir + "vesk.hlp", Arg(a, 1));
    return 0;
}

int doremove(WindowId w, const Args& a, bool remote) {
    const std::string& name = Arg(a, 1);
    if (name.empty()) {
        Print(w, "*** No filename specified", 1);
        return 0;
    }
    std::string path = ScriptPath(name);
    if (std::remove(path.c_str()) != 0) {
        Print(w, "*** Unable to remove " + path, 1);
        return 0;
    }
    if (!remote) Print(w, "*** Removed " + path, 1);
    return 1;
}

bool StartProgram(const std::vector<std::string>& argv) {
    // The program's own output must not land on our screen.
    platform::ProcessOptions options;
    options.stdin_path = "/dev/null";
    options.stdout_path = "/dev/null";
    options.stderr_to_stdout = true;
    pid_t pid = platform::StartProcess(argv, options);
    if (pid <= 0) return false;
    std::thread([pid] { platform::WaitProcess(pid); }).detach();
    return true;
}

int dorun(WindowId w, const Args& a, bool) {
    if (Arg(a, 1).empty()) {
        Print(w, "* You must specify a program", 1);
        return 0;
    }
    std::vector<std::string> argv(a.begin() + 1, a.end());
    while (!argv.empty() && argv.back().empty()) argv.pop_back();
    const ScriptHooks& h = Script().hooks;
    bool started = h.run_program ? h.run_program(argv) : StartProgram(argv);
    if (!started) {
        Print(StatusWin(), "* Vesk was unable to run [" + a[1] + "]", 1);
        return 0;
    }
    return 1;
}

int dodcc(WindowId w, const Args& a, bool) {
    const std::string& sub = Arg(a, 1);
    if (sub.empty()) {
        Print(w, "* Format: /dcc <send | chat | packetsize> <parameters>", 1);
        return 0;
    }
    if (EqualNoCase(sub, "packetsize")) {
        ScriptState& s = Script();
        if (!Arg(a, 2).empty()) {
            int64_t n = SignedNumber(a[2]);
            s.packet_size = static_cast<int>(n < 512 ? 512 : n > 4096 ? 4096 : n);
            Options().psize = s.packet_size;
            SaveSettings();
        }
        Print(StatusWin(), "DCC Packet Size is " + std::to_string(s.packet_size), 3);
        return 1;
    }
    if (EqualNoCase(sub, "send") || EqualNoCase(sub, "chat")) {
        Print(w, "*** DCC is not available", 1);
        return 0;
    }
    Print(w, "*** Invalid DCC Command", 1);
    return 0;
}

}  // namespace chat
