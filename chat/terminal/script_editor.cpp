#include "chat/terminal/script_editor.h"

#include <curses.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "chat/core/options.h"
#include "platform/tui/screen.h"
#include "platform/tui/text_editor.h"
#include "platform/tui/widgets.h"

namespace chat {
namespace {

// Bytes read back from the edited file: far beyond any script, and a bound on a mistake.
constexpr size_t kMaxEditedBytes = size_t{16} << 20;

// Removes the temporary file however the edit ends.
struct TempFile {
    std::string path;
    ~TempFile() {
        if (!path.empty()) ::unlink(path.c_str());
    }
};

bool WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

int RunEditor(const std::string& path) {
    pid_t pid = ::fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        // The command may hold arguments ("emacs -nw"); the file name goes as "$1", so no
        // character of it is ever read by the shell.
        std::string script = EditorCommand() + " \"$1\"";
        ::execl("/bin/sh", "sh", "-c", script.c_str(), "sh", path.c_str(),
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

std::string ScriptTextProblem(const std::vector<std::string>& lines, const ScriptTextLimits& limits,
                              const ScriptTextCheck& check) {
    size_t used = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (limits.max_line_length && lines[i].size() > limits.max_line_length)
            return "Line " + std::to_string(i + 1) + " is longer than " +
                   std::to_string(limits.max_line_length) + " characters: shorten or split it";
        if (!lines[i].empty()) ++used;
    }
    if (limits.max_lines && used > limits.max_lines)
        return "This list holds at most " + std::to_string(limits.max_lines) + " lines; it has " +
               std::to_string(used) + ": remove " + std::to_string(used - limits.max_lines);
    return check ? check(lines) : std::string();
}

std::optional<std::vector<std::string>> EditScriptText(const std::string& title,
                                                       const std::vector<std::string>& lines,
                                                       const ScriptTextLimits& limits,
                                                       const ScriptTextCheck& check) {
    if (!Options().external_editor)
        return tui::RunTextEditor(title, lines, [&](const std::vector<std::string>& l) {
            return ScriptTextProblem(l, limits, check);
        });
    std::vector<std::string> current = lines;
    for (;;) {
        auto edited = EditLinesExternally(title, current);
        if (!edited) return std::nullopt;
        const std::string problem = ScriptTextProblem(*edited, limits, check);
        if (problem.empty()) return edited;
        // The user's work is not thrown away for one long line: back to the editor with it.
        if (tui::ShowMessageBox(title, problem + "\n\nEdit the text again?",
                                tui::MessageButtons::kYesNo) != tui::kIdYes)
            return std::nullopt;
        current = std::move(*edited);
    }
}

std::string EditorCommand() {
    for (const char* name : {"VISUAL", "EDITOR"}) {
        const char* value = std::getenv(name);
        if (value && *value) return value;
    }
    return "vi";
}

std::optional<std::vector<std::string>> EditLinesExternally(const std::string&,
                                                            const std::vector<std::string>& lines) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/vesk-edit-XXXXXX";
    TempFile file;
    int fd = ::mkstemp(pattern.data());  // private: mode 0600, a name nobody else has
    if (fd < 0) return std::nullopt;
    file.path = pattern;
    std::string text;
    for (const std::string& l : lines) text += l + "\n";
    bool written = WriteAll(fd, text);
    ::close(fd);
    if (!written) return std::nullopt;

    bool screen = tui::GetScreen().active;
    if (screen) {
        def_prog_mode();
        endwin();
    }
    int code = RunEditor(file.path);
    if (screen) {
        reset_prog_mode();
        clearok(curscr, TRUE);
        refresh();
        tui::RequestRedraw();
    }
    if (code != 0) return std::nullopt;

    std::FILE* in = std::fopen(file.path.c_str(), "rb");
    if (!in) return std::nullopt;
    std::vector<std::string> out;
    std::string line;
    size_t total = 0;
    int c;
    bool ok = true;
    while ((c = std::fgetc(in)) != EOF) {
        if (++total > kMaxEditedBytes) {
            ok = false;
            break;
        }
        if (c == '\n') {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            out.push_back(std::move(line));
            line.clear();
        } else {
            line += static_cast<char>(c);
        }
    }
    if (!line.empty()) out.push_back(std::move(line));
    std::fclose(in);
    if (!ok) return std::nullopt;
    return out;
}

}  // namespace chat
