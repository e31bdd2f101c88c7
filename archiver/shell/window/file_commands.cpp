// The File menu's commands on the archive as a file: favorite folders, a desktop shortcut,
// mailing it, moving, copying, renaming and deleting it, its information, and Exit.
#include "archiver/shell/window/file_commands.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "archiver/shell/dialogs/dialogs.h"
#include "archiver/shell/terminal_text.h"
#include "archiver/shell/window/commands.h"
#include "archiver/shell/window/extras.h"
#include "archiver/shell/window/manager_state.h"
#include "archiver/shell/window/options_commands.h"
#include "platform/process.h"

namespace window {

namespace {

std::string Shown(std::string_view text) {
    return shell::TerminalSafe(text);
}

bool ProgramOnPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    if (!path) return false;
    std::string all = path;
    size_t start = 0;
    while (start <= all.size()) {
        size_t colon = all.find(':', start);
        if (colon == std::string::npos) colon = all.size();
        std::string dir = all.substr(start, colon - start);
        if (!dir.empty() && access((dir + "/" + name).c_str(), X_OK) == 0) return true;
        start = colon + 1;
    }
    return false;
}

}  // namespace

void Favorites() {
    Manager& m = App();
    std::vector<std::string> folders = m.cfg.favorite_folders;
    tui::Dialog d;
    d.title = "Favorite Zip Folders";
    d.cols = 60;
    d.rows = 12;
    constexpr int kList = 10, kOpen = 11, kAddCurrent = 12, kRemove = 13;
    d.Add(tui::ControlKind::kLabel, -1, "&Folders:", 0, 1, 20);
    tui::Control& list = d.Add(tui::ControlKind::kList, kList, "", 1, 1, 56, 7);
    for (const std::string& f : folders) list.items.push_back(Shown(f));
    list.list.SetCount(list.items.size());
    d.Add(tui::ControlKind::kButton, kOpen, "&Open", 9, 1, 8).is_default = true;
    d.Add(tui::ControlKind::kButton, kAddCurrent, "&Add Current Folder", 9, 10, 21);
    d.Add(tui::ControlKind::kButton, kRemove, "&Remove", 9, 32, 10);
    d.Add(tui::ControlKind::kButton, tui::kIdCancel, "Cancel", 9, 43, 10).is_cancel = true;
    // Enter or a double click on a folder opens it, as the Open button does.
    d.on_command = [](tui::Dialog&, int) { return true; };
    int r = tui::RunDialog(d);
    size_t cursor = d.Find(kList)->list.cursor;
    std::vector<std::string> changed = folders;
    if (r == kAddCurrent) {
        std::string here = m.open ? FolderOf(m.archive) : CurrentFolder();
        if (std::find(changed.begin(), changed.end(), here) == changed.end())
            changed.push_back(here);
    } else if (r == kRemove && cursor < changed.size()) {
        changed.erase(changed.begin() + static_cast<long>(cursor));
    } else if ((r == kOpen || r == kList) && cursor < folders.size()) {
        auto path = dialogs::RunOpenDialog(folders[cursor]);
        if (path && CloseArchive()) OpenArchive(*path);
        return;
    } else {
        return;
    }
    m.cfg.favorite_folders = changed;
    if (!shell::WriteSettingList(m.settings_path, "WizDir", "WizDir", changed))
        Say("Cannot write the settings file " + Shown(m.settings_path));
}

void Shortcut() {
    Manager& m = App();
    const char* home = std::getenv("HOME");
    std::string folder;
    std::error_code ec;
    if (home && std::filesystem::is_directory(std::string(home) + "/Desktop", ec)) {
        folder = std::string(home) + "/Desktop";
    } else {
        const char* data = std::getenv("XDG_DATA_HOME");
        folder =
            data && *data ? std::string(data) : std::string(home ? home : "/tmp") + "/.local/share";
        folder += "/applications";
        std::filesystem::create_directories(folder, ec);
    }
    std::string error;
    std::string path = WriteShortcut(std::filesystem::absolute(m.archive, ec).string(),
                                     OwnProgramPath(), folder, error);
    Say(path.empty() ? error : "Shortcut created: " + Shown(path));
}

void Mail() {
    Manager& m = App();
    if (!ProgramOnPath("xdg-email")) {
        Say("Mailing needs the program xdg-email, which was not found.");
        return;
    }
    m.message = "Mailing ...";
    tui::Redraw();
    std::error_code ec;
    std::vector<std::string> argv =
        MailArguments(std::filesystem::absolute(m.archive, ec).string());
    pid_t pid = platform::StartProcess(argv);
    if (pid < 0) {
        Say("Cannot start xdg-email");
        return;
    }
    // The mail program is left to the desktop; its exit is collected in the background.
    platform::WatchProcess(pid, 0, 0);
}

void Exit() {
    Manager& m = App();
    if (!CloseArchive()) return;
    NoteChoices();
    const tui::Screen& s = tui::GetScreen();
    if (!shell::SaveSettingsOnExit(m.cfg, m.settings_path, static_cast<unsigned>(s.cols),
                                   static_cast<unsigned>(s.rows)))
        Say("Cannot write the settings file " + Shown(m.settings_path));
    platform::PostQuitMessage(0);
}

void FileOperation(int command) {
    Manager& m = App();
    std::optional<std::string> moved;
    switch (command) {
        case kCmdMoveArchive:
            moved = dialogs::RunMoveArchiveDialog(m.archive);
            break;
        case kCmdCopyArchive:
            if (auto copy = dialogs::RunCopyArchiveDialog(m.archive))
                m.message = "Copied to " + *copy;
            return;
        case kCmdRenameArchive:
            moved = dialogs::RunRenameArchiveDialog(m.archive);
            break;
        case kCmdDeleteArchive:
            if (dialogs::RunDeleteArchiveDialog(m.archive)) {
                RemoveRecent(m.cfg.recent_archives, m.archive);
                CloseArchive(false);
            }
            return;
        default:
            return;
    }
    if (moved) {
        RemoveRecent(m.cfg.recent_archives, m.archive);
        m.archive = *moved;
        AddRecent(m.cfg.recent_archives, m.archive);
        RefreshChrome();
    }
}

void Information() {
    Manager& m = App();
    dialogs::ArchiveInformation info;
    info.path = m.archive;
    info.kind = m.kind;
    std::error_code ec;
    info.file_size = std::filesystem::file_size(m.archive, ec);
    info.members = m.listing.rows.size();
    info.total_uncompressed = m.listing.total_uncompressed;
    info.total_compressed = m.listing.total_compressed;
    info.encrypted = m.listing.facts.encrypted;
    dialogs::RunInformationDialog(info);
}

}  // namespace window
