// View: one member extracted into the private view folder and shown, in the built-in text
// viewer or by the configured viewer program.
#include <sys/stat.h>

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

}  // namespace

// Extracts one member into the private view folder and shows it: in the built-in text viewer,
// or with the configured viewer program (an argument vector; never a shell).
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
        // The viewer gets the terminal for as long as it runs.
        tui::EndScreen();
        int status = platform::RunProcess({viewer, file});
        tui::InitScreen();
        tui::Redraw();
        if (status < 0) Say("Cannot start the viewer " + Shown(viewer));
        m.view.Remember(file);
        return;
    }
    if (!LooksLikeText(file)) {
        Say(Shown(row.name) +
            " is not a text file.  Name a viewer program under Options, Program Locations "
            "to view it.");
        return;
    }
    ShowTextFile(file, row.name);
}

}  // namespace window
