#include "chat/script/sounds.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <map>

#include "chat/core/events.h"
#include "chat/core/options.h"
#include "chat/core/session/ctcp_incoming.h"
#include "chat/core/windows/line_list.h"
#include "chat/core/windows/window_table.h"
#include "chat/script/commands.h"
#include "chat/script/script_state.h"
#include "platform/process.h"
#include "platform/profile.h"

namespace chat {
namespace {

platform::HWND BeepWindow();

platform::LRESULT BeepProc(platform::HWND hwnd, platform::UINT msg, platform::WPARAM wparam,
                           platform::LPARAM) {
    if (msg != platform::WM_TIMER || wparam != kTimerBeep) return 0;
    ScriptState& s = Script();
    if (s.nbeeps <= 0) {
        platform::KillTimer(hwnd, kTimerBeep);
        return 0;
    }
    Beep();
    if (--s.nbeeps <= 0) platform::KillTimer(hwnd, kTimerBeep);
    return 0;
}

platform::HWND BeepWindow() {
    static platform::HWND window = 0;
    if (!platform::IsWindow(window)) window = platform::CreateWindow(BeepProc);
    return window;
}

// The player's end, so that a sound may again be played over another user's request.
constexpr platform::UINT kMsgPlayerDone = platform::WM_USER + 0x3A0;

platform::HWND PlayerWindow() {
    static platform::HWND window = 0;
    if (!platform::IsWindow(window))
        window = platform::CreateWindow(
            [](platform::HWND, platform::UINT msg, platform::WPARAM, platform::LPARAM) {
                if (msg == kMsgPlayerDone) Sounds().playing = false;
                return platform::LRESULT{0};
            });
    return window;
}

platform::ProcessOptions QuietProcess() {
    platform::ProcessOptions options;
    options.stdin_path = "/dev/null";
    options.stdout_path = "/dev/null";
    options.stderr_to_stdout = true;
    return options;
}

bool OnPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::string_view rest = path ? path : "/usr/bin:/bin";
    while (true) {
        size_t colon = rest.find(':');
        std::string folder(rest.substr(0, colon));
        if (!folder.empty() && ::access((folder + "/" + program).c_str(), X_OK) == 0) return true;
        if (colon == std::string_view::npos) return false;
        rest.remove_prefix(colon + 1);
    }
}

std::map<std::string, std::string>& AlarmSounds() {
    static std::map<std::string, std::string> sounds;
    return sounds;
}

}  // namespace

std::string& SoundPlayerSetting() {
    static std::string player;
    return player;
}

void ReadSoundSettings() {
    const std::string& ini = Options().szINI;
    std::string folder = platform::GetPrivateProfileString("Dirs", "waves", "", 256, ini);
    if (!folder.empty() && folder.back() != '/') folder += '/';
    Sounds().folder = folder;
    Sounds().play = StartPlayer;
    SoundPlayerSetting() = platform::GetPrivateProfileString("Sound", "player", "", 256, ini);
    for (const char* alarm : kAlarmNames)
        AlarmSounds()[alarm] = platform::GetPrivateProfileString("Waves", alarm, "", 360, ini);
    Hooks().play_alarm = PlayAlarm;
}

std::string AlarmSound(std::string_view alarm) {
    const auto it = AlarmSounds().find(std::string(alarm));
    return it == AlarmSounds().end() ? std::string() : it->second;
}

bool PlayAlarm(std::string_view alarm) {
    const std::string name = AlarmSound(alarm);
    return !name.empty() && PlaySoundFile(WavePath(name));
}

std::string WavePath(std::string_view name) {
    if (name.find('/') != std::string_view::npos) return std::string(name);
    const std::string& folder = Sounds().folder;
    return (folder.empty() ? Options().szPATH + "sounds/" : folder) + std::string(name);
}

bool PlainFileName(std::string_view name) {
    if (name.empty() || name == "." || name == "..") return false;
    if (name[0] == '.' || name[0] == '-') return false;
    for (char c : name)
        if (c == '/' || c == '\\' || static_cast<unsigned char>(c) < ' ') return false;
    return true;
}

std::string SoundPlayer() {
    const std::string& configured = SoundPlayerSetting();
    if (EqualNoCase(configured, "none")) return {};
    if (!configured.empty()) return configured;
    for (const char* candidate : {"paplay", "aplay"})
        if (OnPath(candidate)) return candidate;
    return {};
}

bool StartPlayer(const std::string& path) {
    std::string player = SoundPlayer();
    if (player.empty()) {
        Beep();
        return true;
    }
    // The file is one argument of its own: nothing in its name reaches a shell.
    pid_t pid = platform::StartProcess({player, path}, QuietProcess());
    if (pid <= 0) return false;
    Sounds().playing = true;
    platform::WatchProcess(pid, PlayerWindow(), kMsgPlayerDone);
    return true;
}

bool PlaySoundFile(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    return StartPlayer(path);
}

void StartBeeps(int count, int interval_ms) {
    ScriptState& s = Script();
    s.nbeeps = count;
    s.beep_interval = interval_ms > 0 ? interval_ms : 1;
    platform::KillTimer(BeepWindow(), kTimerBeep);
    if (s.nbeeps <= 0) return;
    Beep();
    if (--s.nbeeps > 0)
        platform::SetTimer(BeepWindow(), kTimerBeep, static_cast<uint32_t>(s.beep_interval));
}

}  // namespace chat
