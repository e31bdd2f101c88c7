// The manager's command table: what each menu item, key and toolbar button does, and the
// small routines the command files share.
#include "archiver/shell/window/commands.h"

#include <unistd.h>

#include <filesystem>

#include "archiver/shell/dialogs/dialogs.h"
#include "archiver/shell/handover.h"
#include "archiver/shell/terminal_text.h"
#include "archiver/shell/window/extras.h"
#include "archiver/shell/window/file_commands.h"
#include "archiver/shell/window/install_commands.h"
#include "archiver/shell/window/manager_state.h"
#include "archiver/shell/window/member_commands.h"
#include "archiver/shell/window/options_commands.h"
#include "archiver/shell/window/wizard.h"
#include "platform/profile.h"

namespace window {

namespace {

std::string Shown(std::string_view text) {
    return shell::TerminalSafe(text);
}

std::string Setting(const char* section, const char* key, const char* def = "") {
    return platform::GetPrivateProfileString(section, key, def, 0, App().settings_path);
}

void Help(int command) {
    std::vector<std::string> lines;
    if (command == kCmdAbout) {
        Say("Borvan 0.1\nThe archive manager for the terminal.");
        return;
    }
    lines = {"Borvan keeps archives: open one, select its files, and extract, view, test,",
             "add or delete them from the menus, the toolbar or these keys.", ""};
    for (const std::string& l : KeyHelpLines()) lines.push_back(l);
    if (command == kCmdHintsAndTips || command == kCmdTutorial) {
        lines.insert(lines.end(),
                     {"", "Hints:", "- Click a column title to sort by it.",
                      "- Options, Save Settings on Exit keeps the recent archives and choices.",
                      "- A member viewed and then changed can be put back when the archive "
                      "closes."});
    }
    tui::ShowTextViewer("Borvan Help", lines);
}

std::string OpenStartFolder() {
    Manager& m = App();
    if (m.cfg.use_def_dir && !m.cfg.def_dir.empty()) return m.cfg.def_dir;
    return m.open ? FolderOf(m.archive) : CurrentFolder();
}

}  // namespace

std::string CurrentFolder() {
    char buf[4096];
    return getcwd(buf, sizeof buf) ? std::string(buf) : std::string(".");
}

std::string FolderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return CurrentFolder();
    return slash == 0 ? "/" : path.substr(0, slash);
}

void WriteSetting(const char* section, const char* key, const std::string& value) {
    if (!shell::WriteSetting(App().settings_path, section, key, value))
        Say("Cannot write the settings file " + Shown(App().settings_path));
}

bool OptionFlag(shell::OptionField field) {
    return shell::GetOption(App().cfg.opts, field) != 0;
}

std::string OwnProgramPath() {
    std::error_code ec;
    std::filesystem::path p = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string("borvan32") : p.string();
}

void RunCommandNow(int command);

void RowAction() {
    Manager& m = App();
    if (!m.open || m.listing.order.empty()) return;
    // The settings choose what a double click does: view (the default) or extract.
    std::string action = Setting("Borvan", "DoubleClick", "view");
    RunCommand(action == "extract" || action == "Extract" ? kCmdExtract : kCmdView);
}

void RunCommand(int command) {
    // A later start waits (and is told so) while a command has a dialog open.
    shell::SetHandoverBusy(true);
    RunCommandNow(command);
    shell::SetHandoverBusy(App().busy);
}

void RunCommandNow(int command) {
    Manager& m = App();
    if (m.busy) {
        Say("Another instance of Borvan is busy zipping or unzipping.  Please wait until this "
            "task is complete and re-try the operation");
        return;
    }
    if (command >= kCmdRecentFirst && command <= kCmdRecentLast) {
        size_t i = static_cast<size_t>(command - kCmdRecentFirst);
        if (i < m.cfg.recent_archives.size()) {
            std::string path = m.cfg.recent_archives[i];
            if (CloseArchive()) OpenArchive(path);
        }
        return;
    }
    if (NeedsArchive(command) && !m.open) {
        m.message = kNoArchiveText;
        tui::Beep();
        return;
    }
    if (ChecksArchiveExists(command)) {
        std::error_code ec;
        if (!std::filesystem::exists(m.archive, ec)) {
            Say(Shown(m.archive) + " no longer exists ... closing archive");
            RemoveRecent(m.cfg.recent_archives, m.archive);
            CloseArchive(false);
            return;
        }
    }
    shell::SortOrder order;
    if (SortForCommand(command, order)) {
        ApplySort(order);
        return;
    }
    switch (command) {
        case kCmdNew: {
            auto path = dialogs::RunNewArchiveDialog(OpenStartFolder());
            if (!path || !CloseArchive() || !OpenArchive(*path, true)) return;
            if (!std::filesystem::exists(*path) && OptionFlag(shell::kOptAddAfterNew)) Add();
            return;
        }
        case kCmdOpen: {
            auto path = dialogs::RunOpenDialog(OpenStartFolder());
            if (path && CloseArchive()) OpenArchive(*path);
            return;
        }
        case kCmdFavorites:
            Favorites();
            return;
        case kCmdClose:
            CloseArchive();
            return;
        case kCmdInformation:
            Information();
            return;
        case kCmdShortcut:
            Shortcut();
            return;
        case kCmdMoveArchive:
        case kCmdCopyArchive:
        case kCmdRenameArchive:
        case kCmdDeleteArchive:
            FileOperation(command);
            return;
        case kCmdWizard:
            RunWizard(false);
            return;
        case kCmdExit:
            Exit();
            return;
        case kCmdAdd:
            Add();
            return;
        case kCmdDelete:
            Delete();
            return;
        case kCmdExtract:
            Extract();
            return;
        case kCmdView:
            View();
            return;
        case kCmdSelectAll:
            m.list.model.SelectAll(true);
            return;
        case kCmdDeselectAll:
            m.list.model.SelectAll(false);
            return;
        case kCmdVirusScan:
            VirusScan();
            return;
        case kCmdMakeExe:
            MakeSelfExtracting();
            return;
        case kCmdUuencode: {
            std::string error;
            std::string out = WriteUuencodedArchive(m.archive, error);
            Say(out.empty() ? error : "UUencoded to " + Shown(out));
            return;
        }
        case kCmdTest:
            Test();
            return;
        case kCmdCheckOut:
            CheckOut();
            return;
        case kCmdInstall:
            InstallFromArchive();
            return;
        case kCmdInstallDefaults:
            InstallationDefaults();
            return;
        case kCmdConfiguration:
            Configuration();
            return;
        case kCmdFolders:
            Folders();
            return;
        case kCmdFileManager:
            FileManagerIntegration();
            return;
        case kCmdFont:
            Say("The terminal chooses the font; set it in the terminal's own settings.");
            return;
        case kCmdPassword: {
            dialogs::PasswordDefaults d;
            d.password = m.password;
            d.mask = m.cfg.password_mask;
            d.kind = m.kind;
            if (auto r = dialogs::RunPasswordDialog(d)) {
                m.password = r->password;
                m.cfg.password_mask = r->mask;
            }
            return;
        }
        case kCmdProgramLocations:
            ProgramLocations();
            return;
        case kCmdReuseWindows: {
            m.cfg.newinstance = m.cfg.newinstance == "1" ? "0" : "1";
            WriteSetting("Borvan", "newinstance", m.cfg.newinstance);
            RefreshChrome();
            return;
        }
        case kCmdSaveOnExit:
            m.cfg.save_settings = m.cfg.save_settings ? 0 : 1;
            WriteSetting("Borvan", "SaveSettings", std::to_string(m.cfg.save_settings));
            RefreshChrome();
            return;
        case kCmdSaveNow:
            SaveSettingsNow();
            return;
        case kCmdViewLastOutput: {
            std::string log;
            for (const std::string& l : m.output) log += l + "\n";
            dialogs::RunViewLastOutput(log);
            return;
        }
        case kCmdContents:
        case kCmdTutorial:
        case kCmdHintsAndTips:
        case kCmdSearchHelp:
        case kCmdHelpOnHelp:
        case kCmdFaq:
        case kCmdAbout:
            Help(command);
            return;
        case kCmdMail:
            Mail();
            return;
        case kCmdAlwaysOnTop:
            m.cfg.always_on_top = m.cfg.always_on_top ? 0 : 1;
            m.message = m.cfg.always_on_top ? "Always on top: on (the terminal keeps its own place)"
                                            : "Always on top: off";
            return;
        default:
            Say("This command is not available in this version.");
            return;
    }
}

}  // namespace window
