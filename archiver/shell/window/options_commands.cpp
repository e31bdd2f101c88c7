// The Options menu's dialogs and the settings they write: the configuration, the folders,
// the program locations, the desktop integration, and saving the settings now.
#include "archiver/shell/window/options_commands.h"

#include "archiver/shell/desktop_integration.h"
#include "archiver/shell/dialogs/dialogs.h"
#include "archiver/shell/terminal_text.h"
#include "archiver/shell/window/commands.h"
#include "archiver/shell/window/manager_state.h"

namespace window {

namespace {

std::string Shown(std::string_view text) {
    return shell::TerminalSafe(text);
}

}  // namespace

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

void Configuration() {
    Manager& m = App();
    auto edited = dialogs::RunConfigurationDialog(m.cfg.opts);
    if (!edited) return;
    m.cfg.opts = *edited;
    SetupColumns();
    tui::RequestRedraw();
}

void InstallationDefaults() {
    Manager& m = App();
    if (Say("Set the Configuration dialog's options and the Add and Extract choices back to "
            "their defaults?",
            tui::MessageButtons::kYesNo) != tui::kIdYes)
        return;
    // The list keeps the order it is shown in; only the sort menu changes that.
    const uint32_t sort = shell::GetOption(m.cfg.opts, shell::kOptSortOrder);
    m.cfg.opts = shell::DefaultOptionRecord();
    shell::SetOption(m.cfg.opts, shell::kOptSortOrder, sort);
    SetupColumns();
    tui::RequestRedraw();
    m.message = "The options are at their defaults";
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

}  // namespace window
