// The engines run from the window, with the busy flag, the meter and the operation log around
// each run, and the request of a command line (or a hand-over) run inside the window.
#include <algorithm>

#include "archiver/engine/unzip/engine_frame.h"
#include "archiver/engine/zip/zip.h"
#include "archiver/shell/handover.h"
#include "archiver/shell/terminal_text.h"
#include "archiver/shell/window/manager_state.h"

namespace window {

namespace {

constexpr const char* kBusyText =
    "Another instance of Borvan is busy zipping or unzipping.  Please wait until this task is "
    "complete and re-try the operation";
// Exit statuses of a command-line request, as the headless front end gives them.
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

std::string Shown(std::string_view text) {
    return shell::TerminalSafe(text);
}

}  // namespace

engine::UnzipCommand BaseUnzipCommand() {
    Manager& m = App();
    engine::UnzipCommand cmd;
    cmd.kind = static_cast<uint16_t>(m.kind);
    cmd.archive = m.archive;
    cmd.start_offset = m.listing.facts.first_local_offset;
    cmd.folders_by_attribute = m.listing.facts.folders_without_slash;
    cmd.threads = m.cfg.threads;
    if (shell::IsSingleFileKind(m.kind)) shell::FillUnzipCommand(m.facts, cmd);
    if (!m.password.empty()) {
        cmd.password_given = true;
        cmd.password = m.password;
    }
    return cmd;
}

void SetOutputText(const std::string& text) {
    Manager& m = App();
    m.output.clear();
    size_t start = 0;
    while (start < text.size()) {
        size_t nl = text.find('\n', start);
        if (nl == std::string::npos) nl = text.size();
        m.output.push_back(text.substr(start, nl - start));
        start = nl + 1;
    }
}

bool AskStop() {
    return Say("Stop the current operation?", tui::MessageButtons::kYesNo) == tui::kIdYes;
}

namespace {

// Work common to both engines around a run: busy flag, meter, log, and the question about
// warnings at the end.
template <typename Call>
bool AroundRun(Call call) {
    Manager& m = App();
    m.busy = true;
    m.meter_visible = true;
    m.meter_position = 0;
    m.output.clear();
    m.warnings = false;
    m.message.clear();
    engine::Frame().stop_requested = false;
    engine::Frame().main_window = m.hwnd;
    shell::SetHandoverBusy(true);
    tui::Redraw();
    int called = call();
    shell::SetHandoverBusy(false);
    engine::Frame().stop_requested = false;
    m.busy = false;
    m.meter_visible = false;
    m.run_status.clear();
    tui::RequestRedraw();
    if (!called) {
        Say(kBusyText);
        return false;
    }
    if (m.warnings && Say("Warnings were issued.  View warnings and other messages?",
                          tui::MessageButtons::kYesNo) == tui::kIdYes)
        tui::ShowTextViewer("View Last Output", m.output);
    return true;
}

}  // namespace

bool RunUnzip(engine::UnzipCommand& cmd, uint64_t total) {
    Manager& m = App();
    cmd.report_window = m.hwnd;
    m.meter_range = static_cast<uint32_t>(std::clamp<uint64_t>(
        total == shell::kUnknownSize ? 1 : total / engine::kProgressUnit, 1, UINT32_MAX));
    return AroundRun([&cmd] { return engine::UNZIP(cmd); });
}

bool RunZip(zip::ZipCommand& cmd) {
    Manager& m = App();
    cmd.report_window = m.hwnd;
    cmd.progress_window = m.meter_hwnd;
    cmd.threads = m.cfg.threads;
    m.meter_range = 100;
    return AroundRun([&cmd] { return zip::ZIP(cmd); });
}

int RunRequest(const shell::CommandRequest& request, const std::string& archive) {
    Manager& m = App();
    // A line that did not parse is said so; what it asked for is not guessed at.
    if (!request.error.empty()) {
        Say(Shown(request.error), tui::MessageButtons::kOk);
        return kExitUsage;
    }
    std::string path = archive.empty() ? request.archive : archive;
    bool adding = request.action != shell::CommandAction::kNone &&
                  request.action != shell::CommandAction::kExtract;
    bool command = adding || request.extract_without_dialog || request.extract_dialog;
    if (!path.empty() && !(m.open && m.archive == path)) {
        if (!CloseArchive() || !OpenArchive(path, adding)) return command ? kExitFailed : 0;
    }
    if (adding) {
        zip::ZipCommand cmd;
        cmd.archive = m.archive;
        cmd.recurse = request.recurse;
        cmd.follow_links = request.follow_links;
        cmd.store_folder_names = request.save_folder_info;
        static const int kLevels[] = {9, 5, 3, 1, 0};
        int c = std::clamp(request.compression, 0, 4);
        cmd.level = kLevels[c];
        cmd.method = c == shell::kCompressNone ? 0 : -1;
        cmd.action = request.action == shell::CommandAction::kFreshen  ? zip::kActionFreshen
                     : request.action == shell::CommandAction::kUpdate ? zip::kActionUpdate
                                                                       : zip::kActionAdd;
        cmd.move = request.action == shell::CommandAction::kMove;
        cmd.names = request.file_names;
        if (!m.password.empty()) {
            cmd.password_given = true;
            cmd.password = m.password;
        }
        bool ran = RunZip(cmd);
        ReloadArchive();
        return ran ? cmd.result : kExitFailed;
    }
    if (!m.open) return command ? kExitFailed : 0;
    if (request.extract_without_dialog) {
        engine::UnzipCommand cmd = BaseUnzipCommand();
        cmd.has_target = true;
        cmd.target = request.extract_folder.empty() ? "." : request.extract_folder;
        cmd.overwrite_all = request.overwrite;
        cmd.use_folder_names = !request.no_folder_names;
        if (!RunUnzip(cmd, m.listing.total_uncompressed)) return kExitFailed;
        return cmd.result;
    } else if (request.extract_dialog) {
        RunCommand(kCmdExtract);
    }
    return 0;
}

}  // namespace window
