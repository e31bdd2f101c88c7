// View: one member extracted into the private view folder and shown: by the configured viewer
// program, else by the user's pager for text or the desktop's program for its type, else in the
// built-in text viewer.
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>

#include "archiver/formats/listed_member.h"
#include "archiver/shell/terminal_text.h"
#include "archiver/shell/window/extras.h"
#include "archiver/shell/window/manager_state.h"
#include "archiver/shell/window/other_kinds.h"
#include "platform/process.h"

namespace window {

namespace {

std::string Shown(std::string_view text) {
    return shell::TerminalSafe(text);
}

bool LooksLikeText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    char buf[4096];
    in.read(buf, sizeof buf);
    std::streamsize n = in.gcount();
    for (std::streamsize i = 0; i < n; ++i)
        if (buf[i] == '\0') return false;
    return true;
}

void ShowTextFile(const std::string& path, const std::string& title) {
    // The viewer holds what it shows: a huge member is shown up to a bound.
    constexpr size_t kMostBytes = size_t{16} << 20;
    std::ifstream in(path, std::ios::binary);
    std::string data(kMostBytes + 1, '\0');
    in.read(data.data(), static_cast<std::streamsize>(data.size()));
    data.resize(static_cast<size_t>(in.gcount()));
    bool cut = data.size() > kMostBytes;
    if (cut) data.resize(kMostBytes);
    std::vector<std::string> lines;
    for (std::string& line : ViewerLines(data)) lines.push_back(Shown(line));
    if (cut) lines.push_back("(the rest of the file is not shown)");
    tui::ShowTextViewer(title, lines);
}

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

// Hands the terminal to a program for as long as it runs; false when it could not start.
bool RunWithTerminal(const std::vector<std::string>& argv) {
    tui::EndScreen();
    int status = platform::RunProcess(argv);
    tui::InitScreen();
    tui::Redraw();
    return status >= 0;
}

// The program the user's environment shows a file with, when no viewer is configured: $PAGER
// for text (it may carry switches, so the user's own shell reads it; the file name goes as an
// argument, never into the command text), and for anything else the desktop's program for the
// file's type when there is a desktop to show it on.
std::vector<std::string> DesktopViewer(const std::string& file, bool text) {
    if (text) {
        if (Env("PAGER").empty()) return {};
        return {"/bin/sh", "-c", "exec $PAGER \"$1\"", "sh", file};
    }
    if (Env("DISPLAY").empty() && Env("WAYLAND_DISPLAY").empty()) return {};
    return {"xdg-open", file};
}

}  // namespace

// Extracts one member into the private view folder and shows it: with the configured viewer
// program (an argument vector; never a shell), else the environment's (see DesktopViewer), else
// in the built-in text viewer.
void View() {
    Manager& m = App();
    std::vector<size_t> rows = SelectedRows(true);
    if (rows.empty()) {
        Say("No file is selected");
        return;
    }
    const shell::Row& row = m.listing.rows[rows.front()];
    std::string error;
    if (!m.view.Ensure(error)) {
        Say(error);
        return;
    }
    if (formats::IsProgramKind(m.kind)) {
        programs::OperationRequest op;
        op.op = programs::Operation::kExtract;
        op.args.files = {row.name};
        op.args.overwrite = true;
        op.folder = m.view.Path();
        if (!RunProgramOperation(op).ok) return;
    } else {
        if (!EnsurePassword(false)) return;
        engine::UnzipCommand cmd = BaseUnzipCommand();
        cmd.has_target = true;
        cmd.target = m.view.Path();
        cmd.use_folder_names = true;
        cmd.overwrite_all = true;
        if (!shell::IsSingleFileKind(m.kind)) cmd.selection = {row.name};
        if (!RunUnzip(cmd, row.uncompressed) || cmd.result != engine::kUnzipOk) return;
    }
    std::string file =
        m.view.Path() + "/" +
        (shell::IsSingleFileKind(m.kind) && !m.facts.output_name.empty() ? m.facts.output_name
                                                                         : row.name);
    struct stat st;
    if (lstat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        Say("The extracted file " + Shown(file) + " was not found");
        return;
    }
    m.view.Remember(file);
    std::string viewer = m.cfg.vviewer.empty() ? m.cfg.viewer : m.cfg.vviewer;
    if (!viewer.empty()) {
        if (!RunWithTerminal({viewer, file})) Say("Cannot start the viewer " + Shown(viewer));
        m.view.Remember(file);
        return;
    }
    // The copy stays in the private view folder until the manager ends: a desktop program may
    // still be reading it after the opener has returned.
    const bool text = LooksLikeText(file);
    const std::vector<std::string> desktop = DesktopViewer(file, text);
    if (!desktop.empty()) {
        if (RunWithTerminal(desktop)) return;
        if (!text) {
            Say("Cannot start " + Shown(desktop.front()) + " to view " + Shown(row.name) +
                " (install xdg-utils, or name a viewer under Options, Program Locations)");
            return;
        }
    }
    if (!text) {
        Say(Shown(row.name) +
            " is not a text file.  Name a viewer program under Options, Program Locations "
            "to view it.");
        return;
    }
    ShowTextFile(file, row.name);
}

}  // namespace window
