// The wizard's screen: a page of its own over the manager window, one dialog per step with
// Back, Next (Go on the last), Cancel and Full Manager, the run with its meter on the page,
// and a summary. The work goes through the window's own open, extract and add paths, so the
// engines, their questions and their safety rules are the manager's.
#include "archiver/shell/window/wizard.h"

#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "archiver/engine/unzip/engine_frame.h"
#include "archiver/formats/listed_member.h"
#include "archiver/shell/dialogs/dialog_parts.h"
#include "archiver/shell/dialogs/dialogs.h"
#include "archiver/shell/handover.h"
#include "archiver/shell/terminal_text.h"
#include "archiver/shell/window/manager_state.h"
#include "archiver/shell/window/other_kinds.h"
#include "archiver/shell/window/wizard_flow.h"
#include "platform/tui/file_dialog.h"
#include "platform/tui/text.h"

namespace window {

namespace {

namespace fs = std::filesystem;
using tui::ControlKind;

// Control ids of the step dialogs (the buttons that end a step share kIdOk and kIdCancel).
constexpr int kIdBack = 400;
constexpr int kIdFullManager = 401;
constexpr int kIdBrowse = 402;
constexpr int kIdPath = 403;
constexpr int kIdUnpack = 404;
constexpr int kIdPack = 405;
constexpr int kIdStartWith = 406;
constexpr int kIdItems = 407;
constexpr int kIdAddTyped = 408;
constexpr int kIdAddFile = 409;
constexpr int kIdAddFolder = 410;
constexpr int kIdRemove = 411;
constexpr int kIdOverwrite = 412;
constexpr int kIdLevel0 = 420;  // + compression choice
constexpr int kIdShowFiles = 430;
constexpr int kIdShowMessages = 431;
constexpr int kIdStartOver = 432;

constexpr int kDialogCols = 68;
// The summary is wider, for its row of five buttons (its frame still fits 80 columns).
constexpr int kSummaryCols = 76;
// Entries the summary's folder listing shows at most.
constexpr size_t kListingLimit = 10000;

const char* const kLevelTexts[kWizardCompressionChoices] = {
    "Ma&ximum (slowest)", "N&ormal", "F&ast", "S&uper Fast", "Non&e (store only)"};

std::string Shown(std::string_view text) {
    return shell::TerminalSafe(text);
}

// The wizard on screen: its page, the steps and what the last run did.
struct WizardPage {
    tui::Layer layer;
    WizardFlow flow;
    // The run: what it does (shown over the meter) and its outcome for the summary.
    std::string heading;
    std::vector<std::string> summary;
    bool have_messages = false;
};

WizardPage& Page() {
    static WizardPage page;
    return page;
}

// Where the Stop button sits on the page while a run is in progress.
tui::Rect StopRect() {
    return {10, 2, 1, 8};
}

void DrawPage() {
    const tui::Screen& s = tui::GetScreen();
    if (s.rows <= 0 || s.cols <= 0) return;
    const tui::Theme& theme = tui::GetTheme();
    Manager& m = App();
    WizardPage& p = Page();
    tui::FillRect({0, 0, s.rows, s.cols}, theme.dialog);
    tui::PutText(0, 0, s.cols, "Borvan Wizard", theme.bar);
    std::string task = p.flow.step == WizardStep::kTask ? "Unpack an archive, or pack files"
                       : p.flow.choices.task == WizardTask::kUnpack
                           ? "Unpack an archive into a folder"
                           : "Pack files and folders into a zip archive";
    if (s.rows > 2) tui::PutText(2, 2, s.cols - 4, task, theme.selected);
    if (m.busy && s.rows > StopRect().y) {
        tui::PutText(4, 2, s.cols - 4, Shown(p.heading));
        tui::DrawMeter({6, 2, 1, std::max(10, s.cols - 4)}, m.meter_range, m.meter_position, "");
        tui::PutText(8, 2, s.cols - 4, Shown(m.run_status));
        tui::PutText(StopRect().y, StopRect().x, StopRect().width, "[ Stop ]",
                     theme.focused_button);
    }
    if (s.rows > 3)
        tui::PutText(s.rows - 1, 0, s.cols,
                     m.busy ? "Esc, S or a click on Stop: stop the run"
                            : "Alt+B Back  Alt+N Next  Esc Cancel  Alt+F Full manager",
                     theme.bar);
}

// While the engine works the page takes the keys: Escape, S or a click on Stop asks to stop;
// other keys do nothing, so a stray key does not end the run.
bool PageKey(const tui::Key& key) {
    if (!App().busy) return true;
    bool stop = key.Is(tui::kKeyEscape) || key.Is(U's') || key.Is(U'S');
    if (key.code == tui::kKeyMouse && key.button == tui::kMouseLeft) {
        tui::Rect r = StopRect();
        stop = key.y == r.y && key.x >= r.x && key.x < r.x + r.width;
    }
    if (stop && AskStop()) engine::Frame().stop_requested = true;
    return true;
}

tui::Control& AddButton(tui::Dialog& d, int id, const std::string& text, int row, int col) {
    return d.Add(ControlKind::kButton, id, text, row, col, dialogs::ButtonWidth(text));
}

tui::Control& AddEdit(tui::Dialog& d, int id, const std::string& text, int row, int col,
                      int width) {
    tui::Control& e = d.Add(ControlKind::kEdit, id, "", row, col, width);
    e.edit.limit = 4095;
    e.edit.SetText(tui::DecodeText(text));
    return e;
}

// A step's dialog: its title with the step number, and the row of Back, Next (or Go),
// Cancel and Full Manager at the bottom. `rows` is the height of the step's own controls.
tui::Dialog StepDialog(const WizardFlow& f, const std::string& heading, int rows) {
    tui::Dialog d;
    std::string task = f.step == WizardStep::kTask             ? ""
                       : f.choices.task == WizardTask::kUnpack ? "Unpack - "
                                                               : "Pack - ";
    d.title = "Borvan Wizard - " + task + "Step " + std::to_string(f.StepNumber()) +
              (f.step == WizardStep::kTask ? "" : " of " + std::to_string(f.StepCount()));
    d.rows = rows + 3;
    d.cols = kDialogCols;
    d.Add(ControlKind::kLabel, -1, dialogs::Literal(heading), 0, 1, kDialogCols - 2);
    int row = d.rows - 1;
    int col = 1;
    AddButton(d, kIdBack, "&Back", row, col).enabled = f.step != WizardStep::kTask;
    col += dialogs::ButtonWidth("&Back") + 1;
    std::string next = f.AtGo() ? "&Go" : "&Next";
    AddButton(d, tui::kIdOk, next, row, col).is_default = true;
    col += dialogs::ButtonWidth(next) + 1;
    AddButton(d, tui::kIdCancel, "Cancel", row, col).is_cancel = true;
    col += dialogs::ButtonWidth("Cancel") + 1;
    AddButton(d, kIdFullManager, "&Full Manager", row, col);
    // Buttons end the step; a list row's Enter is Next.
    d.on_command = [](tui::Dialog& dlg, int id) {
        if (id == kIdItems) {
            dlg.result = tui::kIdOk;
            return false;
        }
        return dialogs::ButtonsEnd(dlg, id);
    };
    return d;
}

// Puts the focus on a control (the step's path field, where typing goes first).
void FocusOn(tui::Dialog& d, int id) {
    d.FocusFirst();
    for (size_t i = 0; i < d.controls.size(); ++i)
        if (d.controls[i].id == id) d.focus = i;
}

int Rerun(tui::Dialog& d) {
    d.result = -1;
    return tui::RunDialog(d);
}

std::string FolderToBrowse(const std::string& typed) {
    std::string path = WizardPath(typed);
    std::error_code ec;
    while (!path.empty() && !fs::is_directory(path, ec)) {
        std::string parent = fs::path(path).parent_path().string();
        if (parent == path) break;
        path = parent;
    }
    return path.empty() ? fs::current_path(ec).string() : path;
}

// ---- The steps: each shows its dialog until a button that leaves the step is pressed,
// keeping what was typed in the choices whichever way the step is left. ----

int TaskStep(WizardFlow& f) {
    tui::Dialog d = StepDialog(f, "What would you like to do?", 6);
    bool unpack = f.choices.task == WizardTask::kUnpack;
    tui::Control& a =
        d.Add(ControlKind::kRadio, kIdUnpack, "&Unpack an archive into a folder", 2, 3, 50);
    a.group = 1;
    a.checked = unpack;
    tui::Control& b =
        d.Add(ControlKind::kRadio, kIdPack, "&Pack files and folders into a zip archive", 3, 3, 50);
    b.group = 1;
    b.checked = !unpack;
    d.Add(ControlKind::kCheck, kIdStartWith, "&Start with the wizard", 5, 3, 40).checked =
        f.choices.start_with_wizard;
    FocusOn(d, unpack ? kIdUnpack : kIdPack);
    int r = tui::RunDialog(d);
    f.choices.task = d.CheckedRadio(1) == kIdPack ? WizardTask::kPack : WizardTask::kUnpack;
    f.choices.start_with_wizard = dialogs::Checked(d, kIdStartWith);
    return r;
}

int UnpackArchiveStep(WizardFlow& f) {
    tui::Dialog d = StepDialog(f, "Which archive do you want to unpack?", 5);
    d.Add(ControlKind::kLabel, -1, "&Archive:", 2, 1, 9);
    AddEdit(d, kIdPath, f.choices.archive, 2, 11, 40);
    AddButton(d, kIdBrowse, "B&rowse...", 2, 52);
    d.Add(ControlKind::kLabel, -1,
          "Zip, tar, gzip, compress, ARJ, LZH, ARC and mail-encoded archives.", 4, 1,
          kDialogCols - 2);
    FocusOn(d, kIdPath);
    for (int r = tui::RunDialog(d);; r = Rerun(d)) {
        f.choices.archive = dialogs::EditText(d, kIdPath);
        if (r != kIdBrowse) return r;
        if (auto path = dialogs::RunOpenDialog(FolderToBrowse(f.choices.archive)))
            dialogs::SetEditText(d, kIdPath, *path);
    }
}

int UnpackTargetStep(WizardFlow& f) {
    Manager& m = App();
    tui::Dialog d = StepDialog(f, "Where do you want the files?", 7);
    d.Add(ControlKind::kLabel, -1, "&Folder:", 2, 1, 9);
    AddEdit(d, kIdPath, f.choices.target, 2, 11, 40);
    AddButton(d, kIdBrowse, "B&rowse...", 2, 52);
    std::string facts = Shown(fs::path(f.choices.archive).filename().string()) + " holds " +
                        std::to_string(m.listing.rows.size()) +
                        (m.listing.rows.size() == 1 ? " file" : " files");
    if (m.listing.total_uncompressed != shell::kUnknownSize)
        facts += ", " + shell::SizeText(m.listing.total_uncompressed, m.intl) + " bytes";
    d.Add(ControlKind::kLabel, -1, dialogs::Literal(facts + "."), 4, 1, kDialogCols - 2);
    d.Add(ControlKind::kCheck, kIdOverwrite, "&Overwrite files already in the folder", 6, 1, 44)
        .checked = f.choices.overwrite;
    FocusOn(d, kIdPath);
    for (int r = tui::RunDialog(d);; r = Rerun(d)) {
        f.choices.target = dialogs::EditText(d, kIdPath);
        f.choices.overwrite = dialogs::Checked(d, kIdOverwrite);
        if (r != kIdBrowse) return r;
        std::string folder = FolderToBrowse(f.choices.target);
        if (tui::RunFileDialog("Unpack Into", folder, "", true))
            dialogs::SetEditText(d, kIdPath, folder);
    }
}

void FillItems(tui::Dialog& d, const std::vector<std::string>& items) {
    tui::Control* list = d.Find(kIdItems);
    if (!list) return;
    list->items.clear();
    std::error_code ec;
    for (const std::string& item : items)
        list->items.push_back(Shown(item) + (fs::is_directory(item, ec) ? "/" : ""));
    list->list.SetCount(list->items.size());
}

// Takes a typed path into the list (once).
void AddItem(std::vector<std::string>& items, const std::string& typed) {
    std::string path = WizardPath(typed);
    if (!path.empty() && std::find(items.begin(), items.end(), path) == items.end())
        items.push_back(path);
}

int PackFilesStep(WizardFlow& f) {
    tui::Dialog d =
        StepDialog(f, "Which files and folders? (A folder is packed with all it holds.)", 11);
    tui::Control& list = d.Add(ControlKind::kList, kIdItems, "", 1, 1, kDialogCols - 2, 6);
    list.list.multiple = false;
    d.Add(ControlKind::kLabel, -1, "&Path:", 8, 1, 6);
    AddEdit(d, kIdPath, "", 8, 8, 46);
    AddButton(d, kIdAddTyped, "&Add", 8, 55);
    AddButton(d, kIdAddFile, "Add Fil&e...", 10, 1);
    AddButton(d, kIdAddFolder, "Add F&older...", 10, 18);
    AddButton(d, kIdRemove, "Re&move", 10, 37);
    FillItems(d, f.choices.items);
    FocusOn(d, kIdPath);
    std::string last_folder;
    for (int r = tui::RunDialog(d);; r = Rerun(d)) {
        // A path typed and not yet added counts as chosen, whichever button leaves the step.
        std::string typed = dialogs::EditText(d, kIdPath);
        if (!typed.empty() && r != kIdRemove && r != kIdAddFile && r != kIdAddFolder) {
            AddItem(f.choices.items, typed);
            dialogs::SetEditText(d, kIdPath, "");
        }
        if (r == kIdAddFile || r == kIdAddFolder) {
            std::string path = last_folder.empty() ? FolderToBrowse(typed) : last_folder;
            if (tui::RunFileDialog(r == kIdAddFile ? "Add File" : "Add Folder", path, "",
                                   r == kIdAddFolder)) {
                AddItem(f.choices.items, path);
                last_folder = fs::path(path).parent_path().string();
            }
        } else if (r == kIdRemove) {
            size_t at = d.Find(kIdItems)->list.cursor;
            if (at < f.choices.items.size())
                f.choices.items.erase(f.choices.items.begin() + static_cast<long>(at));
        } else if (r != kIdAddTyped) {
            return r;
        }
        FillItems(d, f.choices.items);
    }
}

int PackArchiveStep(WizardFlow& f) {
    tui::Dialog d = StepDialog(f, "What is the new archive to be called?", 5);
    d.Add(ControlKind::kLabel, -1, "&Archive:", 2, 1, 9);
    AddEdit(d, kIdPath, f.choices.pack_archive, 2, 11, 40);
    AddButton(d, kIdBrowse, "B&rowse...", 2, 52);
    d.Add(ControlKind::kLabel, -1, "An archive that is already there gets the files added.", 4, 1,
          kDialogCols - 2);
    FocusOn(d, kIdPath);
    for (int r = tui::RunDialog(d);; r = Rerun(d)) {
        f.choices.pack_archive = dialogs::EditText(d, kIdPath);
        if (r != kIdBrowse) return r;
        std::string path = f.choices.pack_archive.empty() ? FolderToBrowse("")
                                                          : WizardPath(f.choices.pack_archive);
        if (tui::RunFileDialog("Archive To Make", path, "*.zip", false))
            dialogs::SetEditText(d, kIdPath, path);
    }
}

int PackOptionsStep(WizardFlow& f) {
    tui::Dialog d = StepDialog(f, "How much compression?", 8);
    for (int i = 0; i < kWizardCompressionChoices; ++i) {
        tui::Control& c = d.Add(ControlKind::kRadio, kIdLevel0 + i, kLevelTexts[i], 1 + i, 3, 30);
        c.group = 1;
        c.checked = f.choices.compression == i;
    }
    std::string what = std::to_string(f.choices.items.size()) +
                       (f.choices.items.size() == 1 ? " item" : " items") + " into " +
                       Shown(fs::path(f.choices.pack_archive).filename().string());
    d.Add(ControlKind::kLabel, -1, dialogs::Literal("Go packs " + what + "."), 7, 1,
          kDialogCols - 2);
    FocusOn(d, kIdLevel0 + std::clamp(f.choices.compression, 0, kWizardCompressionChoices - 1));
    int r = tui::RunDialog(d);
    f.choices.compression = std::max(0, d.CheckedRadio(1) - kIdLevel0);
    return r;
}

// ---- The run and the summary ----

// Regular files below a folder (up to the listing's limit) as paths relative to it.
std::vector<std::string> FilesBelow(const std::string& folder) {
    std::vector<std::string> out;
    std::error_code ec;
    fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec);
    for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (out.size() >= kListingLimit) break;
        std::error_code type_ec;
        if (it->is_regular_file(type_ec))
            out.push_back(fs::relative(it->path(), folder, type_ec).string());
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::string OpenName() {
    Manager& m = App();
    return OpenFromMail() ? m.decoded_from : m.archive;
}

void Unpack(WizardPage& p) {
    Manager& m = App();
    const WizardChoices& c = p.flow.choices;
    p.summary.clear();
    p.heading = "Unpacking " + c.archive + " into " + c.target;
    std::error_code ec;
    fs::create_directories(c.target, ec);
    if (ec || !fs::is_directory(c.target)) {
        p.summary = {"The folder " + Shown(c.target) + " could not be made: " +
                         (ec ? ec.message() : std::string("not a folder")) + ".",
                     "Nothing was unpacked."};
        return;
    }
    if (m.cfg.wiz_overwrite != (c.overwrite ? 1 : 0)) {
        m.cfg.wiz_overwrite = c.overwrite ? 1 : 0;
        shell::WriteSetting(m.settings_path, "WIZARD", "Overwrite",
                            std::to_string(m.cfg.wiz_overwrite));
    }
    int result = 0;
    bool ran = true;
    bool stopped = false;
    if (formats::IsProgramKind(m.kind)) {
        // The program reports no progress: the meter stays empty while it runs.
        m.meter_range = 1;
        m.meter_position = 0;
        programs::OperationRequest op;
        op.op = programs::Operation::kExtract;
        op.args.folder_names = true;
        op.args.overwrite = c.overwrite;
        op.folder = c.target;
        programs::OperationOutcome out = RunProgramOperation(op);
        ran = out.ran;
        stopped = out.stopped;
        result = out.ok ? 0 : (out.kept ? 1 : std::max(2, out.exit_code));
    } else {
        if (!EnsurePassword(false)) {
            p.summary = {"No password was given; nothing was unpacked."};
            return;
        }
        engine::UnzipCommand cmd = BaseUnzipCommand();
        cmd.has_target = true;
        cmd.target = c.target;
        cmd.overwrite_all = c.overwrite;
        cmd.use_folder_names = true;
        ran = RunUnzip(cmd, m.listing.total_uncompressed);
        result = cmd.result;
        stopped = result == engine::kUnzipStopped;
    }
    p.have_messages = !m.output.empty();
    size_t files = FilesBelow(c.target).size();
    std::string folder = Shown(c.target);
    if (!ran) {
        p.summary = {"The archive was not unpacked: the engine was busy."};
    } else if (stopped) {
        p.summary = {"The unpacking was stopped.",
                     "What was unpacked before the stop is in " + folder + "."};
    } else if (result == 0) {
        p.summary = {"Unpacked " + Shown(OpenName()), "into " + folder + ".", "",
                     "Files in the folder: " + std::to_string(files), "Errors: none"};
    } else {
        p.summary = {
            "Unpacked " + Shown(OpenName()), "into " + folder + " with errors.", "",
            "Files in the folder: " + std::to_string(files),
            "Errors: yes (code " + std::to_string(result) + "); Show Messages lists them."};
    }
}

void Pack(WizardPage& p) {
    Manager& m = App();
    const WizardChoices& c = p.flow.choices;
    p.summary.clear();
    p.heading = "Packing into " + c.pack_archive;
    std::string common = CommonFolder(c.items);
    if (common.empty()) common = "/";
    dialogs::AddRequest request;
    request.choices.compression = c.compression;
    request.choices.recurse = true;
    request.choices.save_folder_info = true;
    request.choices.action = dialogs::kAddReplace;
    request.password = m.password;
    // Names are stored from the items' common folder: a folder keeps its own name above
    // everything it holds.
    for (const std::string& item : c.items) {
        std::string rel = fs::path(item).lexically_relative(common).string();
        request.names.push_back(rel.empty() || rel == "." ? fs::path(item).filename().string()
                                                          : rel);
    }
    zip::ZipCommand cmd = dialogs::MakeAddCommand(request, c.pack_archive);
    char here[4096];
    bool have_here = getcwd(here, sizeof here) != nullptr;
    if (chdir(common.c_str()) != 0) {
        p.summary = {"Cannot enter the folder " + Shown(common) + "; nothing was packed."};
        return;
    }
    bool ran = RunZip(cmd);
    if (have_here && chdir(here) != 0) Say("Cannot return to the folder " + Shown(here));
    p.have_messages = !m.output.empty();
    std::error_code ec;
    shell::Listing listing;
    std::string error;
    bool readable =
        fs::exists(c.pack_archive, ec) &&
        shell::LoadZipListing(c.pack_archive, shell::SortOrder::kOriginal, listing, error);
    size_t files = 0;
    for (const shell::Row& row : listing.rows)
        if (!row.folder && (row.name.empty() || row.name.back() != '/')) ++files;
    std::string archive = Shown(c.pack_archive);
    if (!ran) {
        p.summary = {"Nothing was packed: the engine was busy."};
    } else if (cmd.result == 99) {
        p.summary = {"The packing was stopped; " + archive + " was left as it was before."};
    } else if (!readable) {
        p.summary = {"Packing failed: " + archive + " was not made (code " +
                         std::to_string(cmd.result) + ").",
                     "Show Messages lists what went wrong."};
    } else {
        p.summary = {
            "Packed into " + archive + ".", "", "Files in the archive: " + std::to_string(files),
            "Size of the archive: " + shell::SizeText(fs::file_size(c.pack_archive, ec), m.intl) +
                " bytes",
            cmd.result == 0 ? std::string("Errors: none")
                            : "Errors: yes (code " + std::to_string(cmd.result) +
                                  "); Show Messages lists them."};
    }
}

void Go(WizardPage& p) {
    p.have_messages = false;
    if (p.flow.choices.task == WizardTask::kUnpack)
        Unpack(p);
    else
        Pack(p);
    tui::RequestRedraw();
}

int SummaryStep(WizardPage& p) {
    const bool unpack = p.flow.choices.task == WizardTask::kUnpack;
    tui::Dialog d;
    d.title = unpack ? "Borvan Wizard - Unpacked" : "Borvan Wizard - Packed";
    d.cols = kSummaryCols;
    int row = 0;
    for (const std::string& line : p.summary)
        d.Add(ControlKind::kLabel, -1, dialogs::Literal(line), row++, 1, kSummaryCols - 2);
    d.rows = row + 2;
    int col = 1;
    auto button = [&](int id, const std::string& text) -> tui::Control& {
        tui::Control& b = AddButton(d, id, text, d.rows - 1, col);
        col += dialogs::ButtonWidth(text) + 1;
        return b;
    };
    if (unpack) button(kIdShowFiles, "&Show Files");
    if (p.have_messages) button(kIdShowMessages, "Show &Messages");
    button(kIdStartOver, "Start &Over");
    button(kIdFullManager, "&Full Manager");
    tui::Control& close = button(tui::kIdCancel, "&Close");
    close.is_cancel = true;
    close.is_default = true;
    d.on_command = [](tui::Dialog& dlg, int id) { return dialogs::ButtonsEnd(dlg, id); };
    FocusOn(d, tui::kIdCancel);
    for (int r = tui::RunDialog(d);; r = Rerun(d)) {
        if (r == kIdShowFiles) {
            std::vector<std::string> lines;
            for (const std::string& f : FilesBelow(p.flow.choices.target))
                lines.push_back(Shown(f));
            if (lines.empty()) lines.push_back("The folder holds no files.");
            if (lines.size() >= kListingLimit) lines.push_back("(only the first files are listed)");
            tui::ShowTextViewer("Files in " + Shown(p.flow.choices.target), lines);
            continue;
        }
        if (r == kIdShowMessages) {
            std::vector<std::string> lines;
            for (const std::string& l : App().output) lines.push_back(Shown(l));
            tui::ShowTextViewer("Messages", lines);
            continue;
        }
        return r;
    }
}

// The archive chosen to unpack opens in the window (the manager's reader decides its kind
// and says what is wrong with it); false when it could not be opened.
bool OpenForUnpack(const std::string& archive) {
    Manager& m = App();
    if (m.open && OpenName() == archive) return true;
    return CloseArchive() && OpenArchive(archive);
}

enum class Leave { kManager, kClose };

Leave RunSteps(WizardPage& p) {
    Manager& m = App();
    WizardFlow& f = p.flow;
    for (;;) {
        int r = tui::kIdCancel;
        switch (f.step) {
            case WizardStep::kTask:
                r = TaskStep(f);
                // The start-up choice is kept when the first step is left forward.
                if ((r == tui::kIdOk || r == kIdFullManager) &&
                    m.cfg.wizard != (f.choices.start_with_wizard ? 1 : 0)) {
                    m.cfg.wizard = f.choices.start_with_wizard ? 1 : 0;
                    if (!shell::WriteSetting(m.settings_path, "Borvan", "Wizard",
                                             std::to_string(m.cfg.wizard)))
                        Say("Cannot write the settings file " + Shown(m.settings_path));
                }
                break;
            case WizardStep::kUnpackArchive:
                r = UnpackArchiveStep(f);
                break;
            case WizardStep::kUnpackTarget:
                r = UnpackTargetStep(f);
                break;
            case WizardStep::kPackFiles:
                r = PackFilesStep(f);
                break;
            case WizardStep::kPackArchive:
                r = PackArchiveStep(f);
                break;
            case WizardStep::kPackOptions:
                r = PackOptionsStep(f);
                break;
            case WizardStep::kRun:
                Go(p);
                f.Finish();
                continue;
            case WizardStep::kSummary:
                r = SummaryStep(p);
                if (r == kIdStartOver) {
                    f.StartOver();
                    continue;
                }
                if (r == kIdFullManager && f.choices.task == WizardTask::kPack) {
                    std::error_code ec;
                    if (fs::exists(f.choices.pack_archive, ec) && CloseArchive())
                        OpenArchive(f.choices.pack_archive);
                }
                if (r == kIdFullManager) return Leave::kManager;
                f.StartOver();
                return Leave::kClose;
        }
        if (r == kIdFullManager) return Leave::kManager;
        if (r == kIdBack) {
            f.Back();
            continue;
        }
        if (r != tui::kIdOk) return Leave::kClose;
        WizardStep was = f.step;
        if (std::string problem = f.Next(); !problem.empty()) {
            Say(problem);
            continue;
        }
        if (was == WizardStep::kUnpackArchive && !OpenForUnpack(f.choices.archive)) f.Back();
        // A pack that adds to an archive already there is said before Go.
        if (was == WizardStep::kPackArchive) {
            std::error_code ec;
            if (fs::exists(f.choices.pack_archive, ec) &&
                Say(Shown(f.choices.pack_archive) + " already exists.\n\nAdd the files to it?",
                    tui::MessageButtons::kYesNo) != tui::kIdYes)
                f.Back();
        }
    }
}

}  // namespace

void RunWizard(bool at_start) {
    Manager& m = App();
    WizardPage& p = Page();
    if (p.layer.draw) return;  // already on screen
    p.flow.step = WizardStep::kTask;
    p.flow.choices.start_with_wizard = m.cfg.wizard == 1;
    if (p.flow.choices.archive.empty() && m.open) p.flow.choices.archive = OpenName();
    if (p.flow.choices.items.empty() && p.flow.choices.pack_archive.empty())
        p.flow.choices.compression =
            std::clamp(static_cast<int>(shell::GetOption(m.cfg.opts, shell::kOptCompression)), 0,
                       kWizardCompressionChoices - 1);
    p.flow.choices.overwrite = m.cfg.wiz_overwrite != 0;
    p.layer.draw = DrawPage;
    p.layer.on_key = PageKey;
    m.wizard = true;
    tui::PushLayer(&p.layer);
    tui::Redraw();
    Leave leave = RunSteps(p);
    tui::RemoveLayer(&p.layer);
    p.layer = tui::Layer{};
    m.wizard = false;
    RefreshChrome();
    tui::Redraw();
    if (leave == Leave::kClose && at_start) RunCommand(kCmdExit);
}

}  // namespace window
