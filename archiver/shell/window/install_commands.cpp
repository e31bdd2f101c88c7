// The actions that hand the whole archive to another program: Install runs its setup
// program, Make .EXE File writes a self-extractor, and Virus Scan runs the scanner over it.
#include "archiver/shell/window/install_commands.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "archiver/formats/listed_member.h"
#include "archiver/sfx/embedded_stub.h"
#include "archiver/sfx/sfx_writer.h"
#include "archiver/shell/terminal_text.h"
#include "archiver/shell/window/manager_state.h"
#include "archiver/shell/window/other_kinds.h"
#include "platform/process.h"

namespace window {

namespace {

std::string Shown(std::string_view text) {
    return shell::TerminalSafe(text);
}

}  // namespace

// Install: the headless install runs on the terminal, handed over for as long as it takes,
// so that its question, the setup program's own output and any question of its own are the
// user's to see and answer; then the window comes back.
void InstallFromArchive() {
    Manager& m = App();
    if (m.archive.empty()) {
        Say("Open an archive to install from first");
        return;
    }
    std::string self(4096, '\0');
    ssize_t n = ::readlink("/proc/self/exe", self.data(), self.size() - 1);
    if (n <= 0) {
        Say("Cannot find this program to run the install");
        return;
    }
    self.resize(static_cast<size_t>(n));
    tui::EndScreen();
    int status = platform::RunProcess({self, "--install", "--", m.archive});
    if (FILE* tty = std::fopen("/dev/tty", "r+")) {
        std::fputs("\nPress Enter to return to borvan32. ", tty);
        std::fflush(tty);
        char line[16];
        if (!std::fgets(line, sizeof line, tty)) {
            // End of input: return at once.
        }
        std::fclose(tty);
    }
    tui::InitScreen();
    tui::Redraw();
    Say(status == 0   ? std::string("The install ended without errors.")
        : status == 1 ? std::string("Nothing was installed.")
                      : "The install failed (status " + std::to_string(status) + ").");
}

// Make .EXE File: a program for Linux that extracts the open zip archive, written after the
// output's name is asked (and a file already there is replaced only after a second question).
void MakeSelfExtracting() {
    Manager& m = App();
    if (m.archive.empty()) {
        Say("Open an archive to make self-extracting first");
        return;
    }
    if (m.kind != formats::kKindZip) {
        Say("Only zip archives can be made self-extracting");
        return;
    }
    std::string output = sfx::DefaultSfxName(m.archive);
    if (!tui::InputBox("Make .EXE File", "Self-extracting program to write:", output) ||
        output.empty())
        return;
    sfx::SfxRequest request;
    request.archive = m.archive;
    request.output = output;
    request.stub = sfx::EmbeddedStub();
    struct stat st;
    if (::stat(output.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) {
        if (Say(Shown(output) + " already exists.  Replace it?", tui::MessageButtons::kYesNo) !=
            tui::kIdYes)
            return;
        request.replace = true;
    }
    sfx::SfxResult r = sfx::MakeSelfExtractor(request);
    if (!r.ok) {
        Say(Shown(r.message));
        return;
    }
    Say(Shown(r.message) +
        ".\n\nRun it to extract the files into the current folder, or with -d FOLDER, -l to "
        "list, -t to test and -o to replace existing files.");
}

// Extracts every member into the scanner's private folder and runs the scanner over it.
void VirusScan() {
    Manager& m = App();
    programs::ProgramLocations locations = programs::LoadProgramLocations(m.settings_path);
    auto extract = [&m, &locations](const std::string& folder, std::string& error) {
        if (formats::IsProgramKind(m.kind))
            return programs::ExtractAllWithProgram(m.kind, m.archive, folder, locations, error);
        if (!EnsurePassword(false)) {
            error = "No password was given";
            return false;
        }
        engine::UnzipCommand cmd = BaseUnzipCommand();
        cmd.has_target = true;
        cmd.target = folder;
        cmd.overwrite_all = true;
        bool ran = RunUnzip(cmd, m.listing.total_uncompressed);
        m.busy = true;  // the scanner runs next
        if (!ran) {
            error = "The archive could not be extracted for scanning";
            return false;
        }
        if (cmd.result != engine::kUnzipOk) error = "The archive could not be extracted completely";
        return cmd.result == engine::kUnzipOk;
    };
    m.message = "Scanning ...";
    m.busy = true;
    tui::Redraw();
    programs::ScanOutcome outcome;
    {
        ProgramStopScope stop;
        outcome = programs::RunVirusScan(locations, extract);
    }
    m.busy = false;
    m.message.clear();
    if (!outcome.output.empty()) SetOutputText(outcome.output);
    if (!outcome.message.empty()) Say(Shown(outcome.message));
}

}  // namespace window
