#include "chat/script/commands_files.h"

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include "chat/core/options.h"
#include "chat/core/session/session_state.h"
#include "chat/core/windows/window_print.h"
#include "chat/core/windows/window_table.h"
#include "chat/script/commands.h"
#include "chat/script/messaging.h"
#include "chat/script/player.h"
#include "chat/script/script_state.h"
#include "chat/script/sounds.h"
#include "platform/profile.h"

namespace chat {
namespace {

// Characters of the start word of /write -s.
constexpr size_t kStartWordLimit = 90;

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

std::vector<std::string> SplitLines(std::string_view contents) {
    std::vector<std::string> lines;
    while (!contents.empty()) {
        size_t lf = contents.find('\n');
        lines.emplace_back(contents.substr(0, lf));
        if (lf == std::string_view::npos) break;
        contents.remove_prefix(lf + 1);
    }
    return lines;
}

bool StartsWithWord(std::string_view line, std::string_view word) {
    if (line.substr(0, word.size()) != word) return false;
    return line.size() == word.size() || line[word.size()] == ' ' || line[word.size()] == '\r';
}

}  // namespace

WriteOptions ParseWriteOptions(const Args& a, size_t& index) {
    WriteOptions o;
    while (Arg(a, index).size() > 1 && Arg(a, index)[0] == '-') {
        const std::string& word = Arg(a, index++);
        for (size_t i = 1; i < word.size(); ++i) {
            char c = static_cast<char>(std::tolower(static_cast<unsigned char>(word[i])));
            if (c == 'c') {
                o.clear = true;
            } else if (c == 'i') {
                o.insert = true;
            } else if (c == 'd') {
                o.remove = true;
            } else if (c == 'l') {
                size_t end = i + 1;
                while (end < word.size() && std::isdigit(static_cast<unsigned char>(word[end])))
                    ++end;
                long n = std::strtol(word.substr(i + 1, std::min<size_t>(end - i - 1, 9)).c_str(),
                                     nullptr, 10);
                o.line = n < 2 ? 1 : static_cast<int>(n);
                i = end - 1;
            } else if (c == 's') {
                o.by_start = true;
                o.start = word.substr(i + 1, kStartWordLimit);
                break;
            }
        }
    }
    return o;
}

std::string RewriteLines(std::string_view contents, const WriteOptions& o, std::string_view line) {
    std::vector<std::string> lines = SplitLines(contents);
    std::string newline(line);
    auto edit_at = [&](size_t at) {
        if (at >= lines.size()) {
            if (!o.remove) lines.push_back(newline);
        } else if (o.remove) {
            lines.erase(lines.begin() + static_cast<ptrdiff_t>(at));
        } else if (o.insert) {
            lines.insert(lines.begin() + static_cast<ptrdiff_t>(at), newline);
        } else {
            lines[at] = newline;
        }
    };
    if (o.line > 0) {
        edit_at(static_cast<size_t>(o.line - 1));
    } else if (o.by_start) {
        size_t at = 0;
        while (at < lines.size() && !StartsWithWord(lines[at], o.start)) ++at;
        edit_at(at);
    } else if (o.remove && !lines.empty()) {
        lines.pop_back();
    }
    std::string out;
    for (const std::string& l : lines) out += l + "\n";
    return out;
}

int dowrite(WindowId window, const Args& a, bool remote) {
    size_t index = 1;
    WriteOptions o = ParseWriteOptions(a, index);
    const std::string& name = Arg(a, index);
    if (name.empty()) {
        Print(window, "*** Invalid write parameters", 2);
        return 0;
    }
    // Another user's request names one plain file of the program folder, nothing else.
    if (remote && !PlainFileName(name)) {
        Print(window, "* Write unable to access " + name, 2);
        return 0;
    }
    std::string path = name.find('/') == std::string::npos ? Options().szPATH + name : name;
    std::string text = JoinFrom(a, index + 1);
    if (o.clear || !FileExists(path) || (!o.line && !o.by_start && !o.remove)) {
        std::string line = text + "\n";
        bool ok = false;
        if (o.clear) {
            ok = platform::WriteFileAtomically(path, line);
        } else {
            std::ofstream out(path, std::ios::binary | std::ios::app);
            ok = out && (out << line) && out.flush();
        }
        if (!ok) {
            Print(window, "* Write unable to access " + path, 2);
            return 0;
        }
        return 1;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        Print(window, "* Write unable to access " + path, 2);
        return 0;
    }
    std::ostringstream all;
    all << in.rdbuf();
    if (!platform::WriteFileAtomically(path, RewriteLines(all.str(), o, text))) {
        Print(window, "* Write error opening file", 2);
        return 0;
    }
    return 1;
}

int dobeep(WindowId, const Args& a, bool) {
    const ChatOptions& o = Options();
    if (Arg(a, 1).empty()) {
        StartBeeps(o.times, o.delay);
        return 1;
    }
    long count = std::strtol(Arg(a, 1).c_str(), nullptr, 10);
    long interval = std::strtol(Arg(a, 2).c_str(), nullptr, 10);
    if (count < 0) count = 1;
    if (count > 1000) count = 1000;
    if (interval <= 0) interval = 1;
    StartBeeps(static_cast<int>(count), static_cast<int>(std::min(interval, 600000L)));
    return 1;
}

int dowavplay(WindowId window, const Args& a, bool remote) {
    std::string name = Arg(a, 1);
    if (name.empty()) {
        Print(window, "*** No WAV file specified", 2);
        return 0;
    }
    size_t slash = name.rfind('/');
    if (name.find('.', slash == std::string::npos ? 0 : slash + 1) == std::string::npos)
        name += ".wav";
    if ((remote && !PlainFileName(name)) || !PlaySoundFile(WavePath(name))) {
        Print(window, "*** Unable to play " + name, 2);
        return 0;
    }
    return 1;
}

int dosound(WindowId window, const Args& a, bool remote) {
    if (Arg(a, 1).empty()) {
        Print(window, "*** Not enough parameters", 2);
        return 0;
    }
    std::string target, file;
    size_t text_from = 0;
    if (Arg(a, 1).find('.') != std::string::npos) {
        const WindowRecord* r = RecordOf(window);
        if (!r || (r->kind != kKindChannel && r->kind != kKindQuery)) {
            Print(window, "*** You are not on a channel", 2);
            return 0;
        }
        if (EqualNoCase(r->name, "Message Window")) {
            Print(window, "*** You must use /msg in this window", 2);
            return 0;
        }
        target = r->name;
        file = Arg(a, 1);
        text_from = 2;
    } else {
        target = Arg(a, 1);
        file = Arg(a, 2);
        text_from = 3;
    }
    if (file.find('.') == std::string::npos || (remote && !PlainFileName(file))) {
        Print(window, "*** Invalid /sound filename", 2);
        return 0;
    }
    if (!PlaySoundFile(WavePath(file))) {
        Print(window, "*** Unable to play " + file, 2);
        return 0;
    }
    std::string text = JoinFrom(a, text_from);
    std::string ctcp = "\x01SOUND " + file + (text.empty() ? "" : " " + text) + "\x01";
    if (target[0] == '=') {
        const ScriptHooks& h = Script().hooks;
        int sent = h.chat_send ? h.chat_send(window, target.substr(1), ctcp) : -1;
        if (sent < 0) {
            Print(window, "*** No such nick in DCC Chat", 2);
            return 0;
        }
        if (sent == 0) {
            Print(window, "*** DCC Chat is not active", 2);
            return 0;
        }
    } else {
        if (!ScriptConnected()) {
            Print(StatusWin(), "*** Not connected to server", 1);
            return 0;
        }
        SendLine("PRIVMSG " + target + " :" + ctcp, remote);
    }
    WindowId own = FindWindow(target[0] == '=' ? "Chat " + target.substr(1) : target);
    if (own) {
        Print(own, text.empty() ? "[SOUND]" : "* " + CurrentNickname() + " " + text, 3);
    } else {
        Print(window, text.empty() ? "-> [" + target + "] SOUND" : "-> *" + target + "* " + text,
              3);
    }
    return 1;
}

void InstallFileCommands() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    InstallCommand("/WRITE", dowrite);
    InstallCommand("/BEEP", dobeep);
    InstallCommand("/SOUND", dosound);
    InstallCommand("/WAVPLAY", dowavplay);
    InstallCommand("/PLAY", doplay);
    SettingsReaders().push_back(ReadSoundSettings);
}

}  // namespace chat
