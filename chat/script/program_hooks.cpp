#include "chat/script/program_hooks.h"

#include <cctype>

#include "chat/core/events.h"
#include "chat/core/frame.h"
#include "chat/core/nick_history.h"
#include "chat/core/options.h"
#include "chat/core/windows/window_table.h"
#include "chat/script/auto_op.h"
#include "chat/script/commands.h"
#include "chat/script/input_parser.h"
#include "chat/script/messaging.h"
#include "chat/script/script_state.h"
#include "chat/script/timers.h"
#include "platform/profile.h"

namespace chat {
namespace {

// Characters of a click command and of a perform line.
constexpr size_t kMaxClick = 256;
constexpr size_t kMaxPerformLine = 700;
// Perform lines read; the list is meant for a handful of commands.
constexpr int kMaxPerform = 1000;

std::string Read(const char* section, const std::string& key, const std::string& def,
                 size_t limit) {
    return platform::GetPrivateProfileString(section, key, def, limit, Options().szINI);
}

void RunPerformList() {
    // A copy: a perform line may load or change the list itself.
    LineList lines = Script().szperform;
    for (const Line& l : lines) parseinput(Windows().statwin, l.text, kOriginPerform, 0);
}

void FirstMotd() {
    // A new connection starts without the timers and pending grants of the last one.
    freetimers();
    freelines(PendingOps());
    if (Options().perform && !Script().szperform.empty())
        platform::PostMessage(Frame().hwndFrame, kMsgPerform);
}

}  // namespace

char CommandCharFrom(std::string_view value) {
    if (value.empty()) return '/';
    unsigned char c = static_cast<unsigned char>(value[0]);
    if (c <= ' ' || c >= 0x7f || std::isalnum(c)) return '/';
    return static_cast<char>(c);
}

void ReadScriptSettings() {
    ScriptState& s = Script();
    s.xCOMMANDCHAR = CommandCharFrom(Read("Text", "commandchar", "/", 10));
    ClickCommands defaults;
    s.clicks.status = Read("Clicks", "status", defaults.status, kMaxClick);
    s.clicks.query = Read("Clicks", "query", defaults.query, kMaxClick);
    s.clicks.channel = Read("Clicks", "channel", defaults.channel, kMaxClick);
    s.clicks.nicklist = Read("Clicks", "nicklist", defaults.nicklist, kMaxClick);
    freelines(s.szperform);
    for (int i = 0; i < kMaxPerform; ++i) {
        std::string line = Read("Perform", "p" + std::to_string(i), "", kMaxPerformLine);
        if (line.empty()) break;
        aline(s.szperform, line, false);
    }
    // The old single perform line of section "Text" stands in for an empty list (when the
    // settings file could not take its new form).
    if (s.szperform.empty()) {
        std::string old = Read("Text", "perform", "", kMaxPerformLine);
        if (!old.empty()) aline(s.szperform, old, false);
    }
    if (s.szperform.empty()) Options().perform = 0;
}

bool ScriptFrameMessage(platform::UINT msg, platform::WPARAM, platform::LPARAM) {
    if (msg != kMsgPerform) return false;
    RunPerformList();
    return true;
}

void InstallProgramHooks() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    SettingsReaders().push_back(ReadScriptSettings);
    EventHooks& h = Hooks();
    h.nick_wrote = [](std::string_view nick) { addlastnick(nick); };
    h.first_motd = FirstMotd;
    ScriptHooks& script = Script().hooks;
    script.connected = ServerConnectionOpen;
    script.run_program = StartProgram;
    FrameState& f = Frame();
    // Layers installed earlier keep their messages; ours are tried first.
    f.more_messages = [earlier = std::move(f.more_messages)](
                          platform::UINT msg, platform::WPARAM wparam, platform::LPARAM lparam) {
        if (ScriptFrameMessage(msg, wparam, lparam)) return true;
        return earlier ? earlier(msg, wparam, lparam) : false;
    };
}

}  // namespace chat
