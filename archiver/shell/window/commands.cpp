// The manager's command table: what each menu item, key and toolbar button does.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "archiver/formats/listed_member.h"
#include "archiver/sfx/embedded_stub.h"
#include "archiver/sfx/sfx_writer.h"
#include "archiver/shell/desktop_integration.h"
#include "archiver/shell/dialogs/dialogs.h"
#include "archiver/shell/encryption_choice.h"
#include "archiver/shell/handover.h"
#include "archiver/shell/terminal_text.h"
#include "archiver/shell/window/extras.h"
#include "archiver/shell/window/manager_state.h"
#include "archiver/shell/window/other_kinds.h"
#include "archiver/shell/window/wizard.h"
#include "platform/process.h"
#include "platform/profile.h"

namespace window {

namespace {

std::string Shown(std::string_view text) {
    return shell::TerminalSafe(text);
}

std::string CurrentFolder() {
    char buf[4096];
    return getcwd(buf, sizeof buf) ? std::string(buf) : std::string(".");
}

std::string FolderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return CurrentFolder();
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string Setting(const char* section, const char* key, const char* def = "") {
    return platform::GetPrivateProfileString(section, key, def, 0, App().settings_path);
}

void WriteSetting(const char* section, const char* key, const std::string& value) {
    if (!shell::WriteSetting(App().settings_path, section, key, value))
        Say("Cannot write the settings file " + Shown(App().settings_path));
}

void NotAvailable(const char* what) {
    Say(std::string(what) + " is not available in this version.");
}

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

// The desktop and file-manager integration, after the question: Yes adds it, No removes it.
void FileManagerIntegration() {
    const shell::IntegrationPlaces places = shell::LoadIntegrationPlaces();
    int answer =
        Say("Add borvan32 to the desktop: a menu entry, the default application for the archive "
            "kinds it opens, and \"Extract here\" / \"Add to archive\" in Dolphin, Nemo and "
            "Nautilus (under " +
                Shown(places.data) + ")?\n\nYes adds them, No removes what was added before.",
            tui::MessageButtons::kYesNoCancel);
    if (answer != tui::kIdYes && answer != tui::kIdNo) return;
    const shell::IntegrationReport r =
        answer == tui::kIdYes ? shell::Integrate(places) : shell::Unintegrate(places);
    std::string text;
    for (const std::string& line : r.lines) text += Shown(line) + "\n";
    Say(text.empty() ? std::string("Nothing was changed.") : text);
}

// The row count and size the meter of an extraction counts.
uint64_t SizeOf(const std::vector<size_t>& rows) {
    const shell::Listing& l = App().listing;
    if (rows.empty()) return l.total_uncompressed;
    uint64_t total = 0;
    for (size_t i : rows) {
        if (l.rows[i].uncompressed == shell::kUnknownSize) return shell::kUnknownSize;
        total += l.rows[i].uncompressed;
    }
    return total;
}

bool OptionFlag(shell::OptionField field) {
    return shell::GetOption(App().cfg.opts, field) != 0;
}

void Extract() {
    Manager& m = App();
    dialogs::ExtractDefaults d;
    d.archive = m.archive;
    d.target =
        m.cfg.use_extract_to && !m.cfg.extract_to.empty() ? m.cfg.extract_to : FolderOf(m.archive);
    d.has_selection = !m.list.model.Selection().empty();
    d.default_all = m.cfg.default_extract_all != 0;
    d.overwrite = OptionFlag(shell::kOptOverwrite);
    d.use_folder_names = OptionFlag(shell::kOptUseFolderNames);
    d.password = m.password;
    auto request = dialogs::RunExtractDialog(d);
    if (!request) return;
    if (!request->password.empty()) m.password = request->password;
    std::vector<std::string> selected = SelectedNames(false);
    if (formats::IsProgramKind(m.kind)) {
        programs::OperationRequest op;
        op.op = programs::Operation::kExtract;
        if (request->which == dialogs::ExtractWhich::kSelected) op.args.files = selected;
        if (request->which == dialogs::ExtractWhich::kPattern) op.args.files = request->patterns;
        op.args.folder_names = request->use_folder_names;
        op.args.overwrite = request->overwrite;
        op.folder = request->target;
        RunProgramOperation(op);
        return;
    }
    if (!EnsurePassword(false)) return;
    engine::UnzipCommand cmd = dialogs::MakeExtractCommand(*request, m.archive, m.kind, selected);
    engine::UnzipCommand base = BaseUnzipCommand();
    cmd.kind = base.kind;
    cmd.start_offset = base.start_offset;
    cmd.folders_by_attribute = base.folders_by_attribute;
    cmd.kind_value = base.kind_value;
    if (!cmd.password_given && base.password_given) {
        cmd.password_given = true;
        cmd.password = base.password;
    }
    m.output.clear();
    RunUnzip(cmd,
             SizeOf(request->which == dialogs::ExtractWhich::kSelected ? SelectedRows(false)
                                                                       : std::vector<size_t>{}));
}

void Test() {
    Manager& m = App();
    if (formats::IsProgramKind(m.kind)) {
        programs::OperationRequest op;
        op.op = programs::Operation::kTest;
        RunProgramOperation(op);
        return;
    }
    if (!EnsurePassword(false)) return;
    engine::UnzipCommand cmd = BaseUnzipCommand();
    cmd.has_target = false;
    if (RunUnzip(cmd, m.listing.total_uncompressed)) {
        if (cmd.result == engine::kUnzipOk)
            m.message = "Test of " + m.archive + " ended without errors";
        else if (cmd.result == engine::kUnzipStopped)
            m.message = "Test of " + m.archive + " stopped";
        else
            m.message = "Test of " + m.archive + " ended with errors (code " +
                        std::to_string(cmd.result) + ")";
    }
}

bool ArchiveChangeable() {
    Manager& m = App();
    // ARJ, LZH and ARC go to their programs, which say themselves what they cannot do.
    if (OpenFromMail()) {
        Say(Shown(m.decoded_from) + " is " + formats::KindDescription(formats::kKindEncodedMail) +
            "; this kind cannot be changed");
        return false;
    }
    if (m.kind == formats::kKindZip || formats::IsProgramKind(m.kind)) return true;
    Say(Shown(m.archive) + " is " + formats::KindDescription(m.kind) +
        "; this kind cannot be changed");
    return false;
}

void Add() {
    Manager& m = App();
    if (!ArchiveChangeable()) return;
    dialogs::AddDefaults d;
    d.archive = m.archive;
    d.start_folder = m.cfg.use_add_dir && !m.cfg.add_dir.empty() ? m.cfg.add_dir : CurrentFolder();
    d.choices.compression = static_cast<int>(shell::GetOption(m.cfg.opts, shell::kOptCompression));
    d.choices.action = static_cast<int>(shell::GetOption(m.cfg.opts, shell::kOptAddAction));
    d.choices.recurse = OptionFlag(shell::kOptRecurse);
    d.choices.save_folder_info = OptionFlag(shell::kOptSaveFolderInfo);
    d.choices.short_names = OptionFlag(shell::kOptShortNames);
    d.choices.encryption = shell::EncryptionFromSetting(m.cfg.encryption);
    d.password = m.password;
    d.password_mask = m.cfg.password_mask;
    d.kind = m.kind;
    auto request = dialogs::RunAddDialog(d);
    if (!request) return;
    m.password = request->password;
    m.cfg.password_mask = request->password_mask;
    // The cipher chosen is the next add's default, here and without a screen.
    if (request->choices.encryption != d.choices.encryption) {
        m.cfg.encryption = shell::EncryptionName(request->choices.encryption);
        WriteSetting("Borvan", "Encryption", m.cfg.encryption);
    }
    if (formats::IsProgramKind(m.kind)) {
        programs::OperationRequest op;
        op.op = programs::Operation::kAdd;
        op.args.files = request->names;
        op.args.mode = static_cast<programs::AddMode>(std::clamp(request->choices.action, 0, 3));
        op.args.archive_has_rows = !m.listing.rows.empty();
        op.args.recurse = request->choices.recurse;
        op.args.full_paths = request->choices.save_folder_info;
        op.args.best_compression = request->choices.compression == dialogs::kMaximum;
        op.folder = request->folder.empty() ? CurrentFolder() : request->folder;
        RunProgramOperation(op);
        ReloadArchive();
        return;
    }
    zip::ZipCommand cmd = dialogs::MakeAddCommand(*request, m.archive);
    // The names are relative to the folder the files were chosen in.
    std::string back = CurrentFolder();
    if (!request->folder.empty() && chdir(request->folder.c_str()) != 0) {
        Say("Cannot enter the folder " + Shown(request->folder));
        return;
    }
    RunZip(cmd);
    if (chdir(back.c_str()) != 0) Say("Cannot return to the folder " + Shown(back));
    ReloadArchive();
}

void Delete() {
    Manager& m = App();
    dialogs::DeleteDefaults d;
    d.archive = m.archive;
    d.has_selection = !m.list.model.Selection().empty();
    auto request = dialogs::RunDeleteDialog(d);
    if (!request) return;
    if (request->which == dialogs::DeleteWhich::kEntireArchive) {
        RunCommand(kCmdDeleteArchive);
        return;
    }
    if (!ArchiveChangeable()) return;
    if (formats::IsProgramKind(m.kind)) {
        programs::OperationRequest op;
        op.op = programs::Operation::kDelete;
        op.args.files = request->which == dialogs::DeleteWhich::kPattern ? request->patterns
                                                                         : SelectedNames(false);
        op.folder = FolderOf(m.archive);
        RunProgramOperation(op);
        ReloadArchive();
        return;
    }
    zip::ZipCommand cmd = dialogs::MakeDeleteCommand(*request, m.archive, SelectedNames(false));
    RunZip(cmd);
    ReloadArchive();
}

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

// Keeps the add and extract choices and the sort order in the option record.
void NoteChoices() {
    Manager& m = App();
    shell::SetOption(m.cfg.opts, shell::kOptSortOrder,
                     static_cast<uint32_t>(CommandForSort(m.sort)));
}

void SaveSettingsNow() {
    Manager& m = App();
    NoteChoices();
    const tui::Screen& s = tui::GetScreen();
    if (!shell::SaveSettings(m.cfg, m.settings_path, static_cast<unsigned>(s.cols),
                             static_cast<unsigned>(s.rows)))
        Say("Cannot write the settings file " + Shown(m.settings_path));
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

void Configuration() {
    Manager& m = App();
    auto edited = dialogs::RunConfigurationDialog(m.cfg.opts);
    if (!edited) return;
    m.cfg.opts = *edited;
    SetupColumns();
    tui::RequestRedraw();
}

void Folders() {
    shell::Settings& c = App().cfg;
    dialogs::FolderSettings f;
    f.use_open_folder = c.use_def_dir != 0;
    f.open_folder = c.def_dir;
    f.use_extract_folder = c.use_extract_to != 0;
    f.extract_folder = c.extract_to;
    f.use_add_folder = c.use_add_dir != 0;
    f.add_folder = c.add_dir;
    f.temp_folder = c.temp_dir;
    f.zip_temp_folder = c.zip_temp;
    f.zip_temp_removable_only = c.zip_temp_removable_only != 0;
    auto r = dialogs::RunFoldersDialog(f);
    if (!r) return;
    c.use_def_dir = r->use_open_folder;
    c.def_dir = r->open_folder;
    c.use_extract_to = r->use_extract_folder;
    c.extract_to = r->extract_folder;
    c.use_add_dir = r->use_add_folder;
    c.add_dir = r->add_folder;
    c.temp_dir = r->temp_folder;
    c.zip_temp = r->zip_temp_folder;
    c.zip_temp_removable_only = r->zip_temp_removable_only;
    // The dialog's keys are written at once, whether or not settings are saved on exit.
    WriteSetting("directories", "zDefDir", std::to_string(c.use_def_dir));
    WriteSetting("directories", "DefDir", c.def_dir);
    WriteSetting("directories", "gzExtractTo", std::to_string(c.use_extract_to));
    WriteSetting("directories", "ExtractTo", c.extract_to);
    WriteSetting("directories", "gzAddDir", std::to_string(c.use_add_dir));
    WriteSetting("directories", "AddDir", c.add_dir);
    WriteSetting("directories", "TempDir", c.temp_dir);
    WriteSetting("directories", "ZipTemp", c.zip_temp);
    WriteSetting("directories", "ZipTempRemovableOnly", std::to_string(c.zip_temp_removable_only));
}

void ProgramLocations() {
    shell::Settings& c = App().cfg;
    dialogs::ProgramLocations p{c.lha, c.arj, c.arc, c.scan, c.scanp, c.viewer, c.vviewer};
    auto r = dialogs::RunProgramLocationsDialog(p);
    if (!r) return;
    c.lha = r->lha;
    c.arj = r->arj;
    c.arc = r->arc;
    c.scan = r->scan;
    c.scanp = r->scan_parameters;
    c.viewer = r->viewer;
    c.vviewer = r->vviewer;
    WriteSetting("Programs", "lha", c.lha);
    WriteSetting("Programs", "arj", c.arj);
    WriteSetting("Programs", "arc", c.arc);
    WriteSetting("Programs", "scan", c.scan);
    WriteSetting("Programs", "scanp", c.scanp);
    WriteSetting("Programs", "viewer", c.viewer);
    WriteSetting("Programs", "vviewer", c.vviewer);
}

std::string OpenStartFolder() {
    Manager& m = App();
    if (m.cfg.use_def_dir && !m.cfg.def_dir.empty()) return m.cfg.def_dir;
    return m.open ? FolderOf(m.archive) : CurrentFolder();
}

}  // namespace

// Asks for the password before reading encrypted members, when none is set.
bool EnsurePassword(bool for_add) {
    Manager& m = App();
    if (!m.password.empty()) return true;
    if (!for_add && !m.listing.facts.encrypted) return true;
    if (for_add) return true;
    dialogs::PasswordDefaults d;
    d.mask = m.cfg.password_mask;
    d.kind = m.kind;
    auto r = dialogs::RunPasswordDialog(d);
    if (!r) return false;
    m.password = r->password;
    m.cfg.password_mask = r->mask;
    return true;
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
            NotAvailable("Install");
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
