#include "chat/core/windows/window_log.h"

#include <dirent.h>
#include <stdio.h>
#include <sys/stat.h>

#include <cctype>
#include <ctime>

#include "chat/core/options.h"
#include "chat/core/windows/window_print.h"
#include "platform/profile.h"
#include "platform/xdg_places.h"

namespace chat {
namespace {

std::string Now() {
    char buf[64];
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    std::strftime(buf, sizeof buf, "%a %b %d %H:%M:%S %Y", &tm);
    return buf;
}

// A log name comes from a window name another user chose: it must stay inside the log folder.
bool SafeFileName(std::string_view name) {
    if (name.empty() || name == "." || name == "..") return false;
    for (char c : name)
        if (c == '/' || static_cast<unsigned char>(c) < 0x20 || c == '\x7f') return false;
    return true;
}

// True when the settings folder holds logs an older version wrote there.
bool HasLogsIn(const std::string& folder) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return false;
    bool found = false;
    while (const dirent* e = ::readdir(dir)) {
        std::string_view name = e->d_name;
        if (name.size() > 4 && name.ends_with(".log")) {
            found = true;
            break;
        }
    }
    ::closedir(dir);
    return found;
}

// The log folder is made on first use. When it is the default one and logs of an older
// version sit in the settings folder, they are left where they are and the user is told once
// where new ones go: nothing of theirs moves without them.
void EnsureLogFolder() {
    const ChatOptions& o = Options();
    struct stat st {};
    if (::stat(o.szLogDir.c_str(), &st) == 0) return;
    if (!platform::MakePrivateFolders(o.szLogDir)) return;  // opening the log reports it
    if (o.szLogDir == DefaultLogFolder() && o.szLogDir != o.szPATH && HasLogsIn(o.szPATH) &&
        Windows().statwin)
        Print(Windows().statwin,
              "* Logs are now written to [" + o.szLogDir + "]; earlier logs stay in [" + o.szPATH +
                  "]",
              1);
}

std::string StemOf(std::string_view file) {
    size_t dot = file.rfind('.');
    return std::string(dot == std::string_view::npos ? file : file.substr(0, dot));
}

}  // namespace

std::string legalize(std::string_view text) {
    std::string out(text);
    for (size_t i = 0; i < out.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(out[i]);
        if (i == 0 && (c == '#' || c == '&')) continue;
        if (!std::isalnum(c) || c >= 0x80) out[i] = '_';
    }
    return out;
}

std::string makefname(int slot, std::string_view extension) {
    const WindowTable& t = Windows();
    const WindowRecord& r = t.ch[slot];
    std::string base;
    if (r.window == t.statwin) {
        base = "status";
    } else if (EqualNoCase(r.name, "Message Window")) {
        base = "messages";
    } else if (EqualNoCase(r.name, "Finger Window")) {
        base = "finger";
    } else if (r.kind == kKindChannel) {
        base = r.name;
    } else {
        std::string_view n = r.name;
        while (!n.empty() && n.back() == ' ') n.remove_suffix(1);
        size_t blank = n.rfind(' ');
        base = std::string(blank == std::string_view::npos ? n : n.substr(blank + 1));
    }
    return legalize(base) + std::string(extension);
}

FilePtr openlog(std::string_view name, bool append, bool header) {
    EnsureLogFolder();
    std::string path = Options().szLogDir + std::string(name);
    std::FILE* opened = SafeFileName(name) ? std::fopen(path.c_str(), append ? "a" : "w") : nullptr;
    if (!opened) {
        if (Windows().statwin)
            Print(Windows().statwin, "*** Unable to open log file: [" + path + "]", 2);
        return nullptr;
    }
    // Lines are pushed to disk each second and at close; a large buffer keeps a flood cheap.
    // The C library ignores the size unless it is given the buffer, so the stream owns one.
    constexpr size_t kLogBuffer = 1 << 16;
    FilePtr f(opened, FileCloser{std::make_unique<char[]>(kLogBuffer)});
    std::setvbuf(f.get(), f.get_deleter().buffer.get(), _IOFBF, kLogBuffer);
    if (header && std::fprintf(f.get(), "Session Start: %s\n", Now().c_str()) < 0) return nullptr;
    return f;
}

void closelog(FilePtr& log) {
    if (!log) return;
    std::fprintf(log.get(), "Session Close: %s\n", Now().c_str());
    log.reset();
}

void WriteLogLine(int slot, std::string_view raw) {
    WindowRecord& r = Windows().ch[slot];
    if (!r.log) return;
    // Only this thread writes logs: the unlocked calls spare a lock per line in a flood.
    bool ok = ::fwrite_unlocked(raw.data(), 1, raw.size(), r.log.get()) == raw.size() &&
              ::fputc_unlocked('\n', r.log.get()) != EOF;
    if (ok) return;
    // Report once and stop logging: the text is still shown.
    r.log.reset();
    std::string path = r.log_path;
    Print(Windows().statwin, "*** Unable to write log file: [" + path + "] - logging stopped", 2);
}

void FlushLogs() {
    WindowTable& t = Windows();
    for (int i = 0; i < kMaxWindows; ++i) {
        WindowRecord& r = t.ch[i];
        if (r.log && std::fflush(r.log.get()) != 0) {
            r.log.reset();
            Print(t.statwin, "*** Unable to write log file: [" + r.log_path + "] - logging stopped",
                  2);
        }
    }
}

void logwindow(WindowId window, bool announce, bool remember) {
    int slot = findhwnd(window);
    if (slot < 0) return;
    WindowRecord& r = Windows().ch[slot];
    std::string file = makefname(slot, ".log");
    const std::string& ini = Options().szINI;
    if (!r.log) {
        r.log = openlog(file, true, true);
        if (r.log) {
            r.log_path = Options().szLogDir + file;
            if (announce)
                Print(Windows().statwin, "* Logging " + r.name + " to: [" + file + "]", 1);
            if (remember) platform::WritePrivateProfileString("Logging", StemOf(file), "on", ini);
        } else if (remember) {
            platform::DeletePrivateProfileKey("Logging", StemOf(file), ini);
        }
        return;
    }
    if (remember) platform::DeletePrivateProfileKey("Logging", StemOf(file), ini);
    closelog(r.log);
    Print(Windows().statwin, "* Logging for " + r.name + " halted", 1);
}

void AutoStartLog(int slot) {
    const WindowRecord& r = Windows().ch[slot];
    const ChatOptions& o = Options();
    if (r.kind != kKindStatus && r.kind != kKindChannel && r.kind != kKindQuery) return;
    std::string stem = StemOf(makefname(slot, ".log"));
    bool listed = !platform::GetPrivateProfileString("Logging", stem, "", 10, o.szINI).empty();
    if (listed || (r.kind == kKindChannel && o.autolc) || (r.kind == kKindQuery && o.autolqc))
        logwindow(r.window, false, false);
}

void savebuf(WindowId window) {
    int slot = findhwnd(window);
    if (slot < 0) return;
    WindowRecord& r = Windows().ch[slot];
    WrapPending(r);
    if (r.buffer.empty()) return Beep();
    std::string file = makefname(slot, ".log");
    EnsureLogFolder();
    std::string path = Options().szLogDir + file;
    FilePtr f(std::fopen(path.c_str(), "a"));
    bool ok = f != nullptr;
    if (ok) {
        std::string now = Now();
        ok = std::fprintf(f.get(), "\n%s buffer saved on %s\n", r.name.c_str(), now.c_str()) >= 0;
        for (const BufferLine& l : r.buffer) {
            if (!ok) break;
            ok = std::fprintf(f.get(), "%s\n", l.text.c_str()) >= 0;
        }
        ok = ok &&
             std::fprintf(f.get(), "End of %s buffer   %s\n", r.name.c_str(), now.c_str()) >= 0;
        ok = std::fclose(f.release()) == 0 && ok;
    }
    if (ok) {
        Print(Windows().statwin, "*** " + r.name + " buffer saved to file [" + path + "]", 2);
    } else {
        Print(Windows().statwin, "*** Error opening/writing to file [" + path + "]", 2);
    }
}

}  // namespace chat
