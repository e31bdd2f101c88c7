// The manager window: drawing, keys and mouse, opening archives and running the engines.
#include "archiver/shell/window/manager.h"

#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "archiver/engine/unzip/engine_frame.h"
#include "archiver/engine/unzip/shown_name.h"
#include "archiver/engine/zip/zip.h"
#include "archiver/formats/listed_member.h"
#include "archiver/shell/dialogs/dialogs.h"
#include "archiver/shell/handover.h"
#include "archiver/shell/program_kinds.h"
#include "archiver/shell/terminal_text.h"
#include "archiver/shell/window/manager_state.h"
#include "archiver/shell/window/other_kinds.h"
#include "archiver/shell/window/wizard.h"
#include "platform/profile.h"

namespace window {

namespace {

constexpr const char* kBusyText =
    "Another instance of Borvan is busy zipping or unzipping.  Please wait until this task is "
    "complete and re-try the operation";
// Messages of the meter window, as the zip engine sends them to its progress window.
constexpr platform::UINT kMeterSetRange = platform::WM_USER + 0;
constexpr platform::UINT kMeterGetRange = platform::WM_USER + 1;
constexpr platform::UINT kMeterSetPosition = platform::WM_USER + 2;
constexpr platform::UINT kMeterGetPosition = platform::WM_USER + 3;
// Posted to the main window once it is drawn: run the start-up request.
constexpr platform::UINT kMsgStartRequest = platform::WM_USER + 1;
// Exit statuses of a command-line request, as the headless front end gives them.
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// Screen rows: title, menu bar, toolbar, listing, status line.
constexpr int kTitleRow = 0;
constexpr int kMenuRow = 1;
constexpr int kToolbarRow = 2;
constexpr int kListTop = 3;

tui::Rect ListRect() {
    const tui::Screen& s = tui::GetScreen();
    return {kListTop, 0, std::max(0, s.rows - kListTop - 1), s.cols};
}

std::string Shown(std::string_view text) {
    return shell::TerminalSafe(text);
}

void Draw() {
    Manager& m = App();
    const tui::Screen& s = tui::GetScreen();
    if (s.rows <= 0 || s.cols <= 0 || m.wizard) return;
    std::string title = "Borvan";
    if (m.open) title += " - " + Shown(OpenFromMail() ? m.decoded_from : m.archive);
    tui::PutText(kTitleRow, 0, s.cols, title, tui::GetTheme().bar);
    if (s.rows > kMenuRow) {
        m.menu.row = kMenuRow;
        tui::DrawMenuBar(m.menu, s.cols);
    }
    if (s.rows > kToolbarRow) {
        m.tools.row = kToolbarRow;
        // The wizard's button, which has Ctrl+W and a menu item as well, gives way on narrow
        // screens so that the others stay whole.
        if (m.tools.buttons.size() == 8) m.tools.buttons[7].hidden = s.cols < 84;
        tui::DrawToolbar(m.tools, s.cols);
    }
    tui::Rect lr = ListRect();
    if (lr.height >= 1) {
        m.list.model.SetCount(m.open ? m.listing.order.size() : 0);
        tui::DrawListView(m.list, lr, true);
    }
    if (s.rows > kListTop) {
        std::string status;
        if (!m.message.empty()) {
            status = m.message;
        } else if (m.busy) {
            status = m.run_status;
        } else {
            status = StatusText(m.open, m.listing, SelectedRows(false), m.intl);
        }
        int meter_width = m.meter_visible ? std::min(20, s.cols / 3) : 0;
        tui::PutText(s.rows - 1, 0, s.cols - meter_width, Shown(status), tui::GetTheme().bar);
        if (meter_width > 0)
            tui::DrawMeter({s.rows - 1, s.cols - meter_width, 1, meter_width}, m.meter_range,
                           m.meter_position, "");
    }
    tui::DrawMenuPopups(m.menu);
}

// Column headers that sort: Name, Date, Time (by date), Size, Ratio, Packed, Path.
void SortByHeader(int column) {
    static const shell::SortOrder kByColumn[] = {
        shell::SortOrder::kName, shell::SortOrder::kDate,  shell::SortOrder::kDate,
        shell::SortOrder::kSize, shell::SortOrder::kRatio, shell::SortOrder::kPacked,
        shell::SortOrder::kPath};
    if (column >= 0 && column < 7) ApplySort(kByColumn[column]);
}

bool OnKey(const tui::Key& key) {
    Manager& m = App();
    if (key.code == tui::kKeyResize) return true;
    if (m.busy) {
        // A key or a click on the window while the engine works asks whether to stop it.
        if (AskStop()) engine::Frame().stop_requested = true;
        return true;
    }
    m.message.clear();
    if (tui::MenuBarKey(m.menu, key)) return true;
    if (key.code == tui::kKeyMouse) {
        if (int command = tui::ToolbarClick(m.tools, key)) {
            RunCommand(command);
            return true;
        }
        int header = -1;
        tui::ListResult r = tui::ListViewClick(m.list, ListRect(), key, &header);
        if (header >= 0) SortByHeader(header);
        if (r == tui::ListResult::kActivate) RowAction();
        return true;
    }
    if (int command = CommandForKey(key)) {
        RunCommand(command);
        return true;
    }
    if (key.Is(tui::kKeyInsert)) {
        m.list.model.Toggle(m.list.model.cursor);
        m.list.model.MoveTo(m.list.model.cursor + 1);
        return true;
    }
    tui::ListResult r = m.list.model.HandleKey(key);
    if (r == tui::ListResult::kActivate) RowAction();
    return r != tui::ListResult::kUnhandled;
}

// Progress comes every 10 KB: the meter is drawn only when its percentage moves.
void MoveMeter(platform::WPARAM position) {
    Manager& m = App();
    uint64_t range = std::max<uint32_t>(m.meter_range, 1);
    uint64_t before = uint64_t{m.meter_position} * 100 / range;
    m.meter_position = static_cast<uint32_t>(std::min<platform::WPARAM>(position, UINT32_MAX));
    if (uint64_t{m.meter_position} * 100 / range != before) tui::Redraw();
}

platform::LRESULT MeterProc(platform::HWND, platform::UINT msg, platform::WPARAM wp,
                            platform::LPARAM) {
    Manager& m = App();
    switch (msg) {
        case kMeterSetRange:
            m.meter_range = static_cast<uint32_t>(std::min<platform::WPARAM>(wp, UINT32_MAX));
            tui::Redraw();
            return 0;
        case kMeterGetRange:
            return m.meter_range;
        case kMeterSetPosition:
            MoveMeter(wp);
            return 0;
        case kMeterGetPosition:
            return m.meter_position;
        default:
            return 0;
    }
}

// The overwrite question: Yes, Yes to All, No (skip) or Cancel (end the run).
platform::LRESULT AskOverwrite(const engine::OverwriteQuery& q) {
    std::string text = "Replace " + engine::ShownName(q.output_path) + " (" +
                       shell::SizeText(q.existing_size, App().intl) + " bytes, " +
                       shell::DateText(q.existing_dos_time, App().intl) + " " +
                       shell::TimeText(q.existing_dos_time, App().intl) + ")\nwith " +
                       engine::ShownName(q.stored_name) + " (" +
                       shell::SizeText(q.member_size, App().intl) + " bytes, " +
                       shell::DateText(q.member_dos_time, App().intl) + " " +
                       shell::TimeText(q.member_dos_time, App().intl) + ")?";
    tui::Dialog d =
        tui::MakeMessageBox("Confirm File Replace", text, tui::MessageButtons::kYesNoCancel, false,
                            tui::GetScreen().cols);
    // A fourth button between Yes and No: replace this and every later file.
    constexpr int kIdYesToAll = 100;
    tui::Control* yes = d.Find(tui::kIdYes);
    int row = yes ? yes->row : d.rows - 1;
    d.controls.erase(
        std::remove_if(d.controls.begin(), d.controls.end(),
                       [](const tui::Control& c) { return c.kind == tui::ControlKind::kButton; }),
        d.controls.end());
    d.cols = std::max(d.cols, 48);
    int col = (d.cols - 46) / 2;
    d.Add(tui::ControlKind::kButton, tui::kIdYes, "&Yes", row, col, 8).is_default = true;
    d.Add(tui::ControlKind::kButton, kIdYesToAll, "Yes to &All", row, col + 9, 13);
    d.Add(tui::ControlKind::kButton, tui::kIdNo, "&No", row, col + 23, 8);
    d.Add(tui::ControlKind::kButton, tui::kIdCancel, "Cancel", row, col + 32, 10).is_cancel = true;
    d.FocusFirst();
    switch (tui::RunDialog(d)) {
        case tui::kIdYes:
            return engine::kReplace;
        case kIdYesToAll:
            return engine::kReplaceAll;
        case tui::kIdNo:
            return engine::kSkip;
        default:
            return 0;
    }
}

void AddOutput(std::string_view text) {
    Manager& m = App();
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    m.output.emplace_back(text);
}

platform::LRESULT MainProc(platform::HWND, platform::UINT msg, platform::WPARAM wp,
                           platform::LPARAM lp) {
    Manager& m = App();
    const char* text = reinterpret_cast<const char*>(lp);
    std::string_view t(text ? text : "");
    switch (msg) {
        case engine::kMsgStatusText:
            while (!t.empty() && t.front() == ' ') t.remove_prefix(1);
            if (wp != engine::kStatusOutputOnly) m.run_status = std::string(t);
            if (wp != engine::kStatusLineOnly) AddOutput(t);
            tui::Redraw();
            return 0;
        case engine::kMsgStatusLine:
            m.run_status = std::string(t);
            AddOutput(t);
            tui::Redraw();
            return 0;
        case engine::kMsgWarning:
            m.warnings = true;
            m.run_status = std::string(t);
            AddOutput(t);
            tui::Redraw();
            return 0;
        case engine::kMsgError:
            AddOutput(t);
            Say(Shown(t));
            return 0;
        case engine::kMsgOverwrite:
            return AskOverwrite(*reinterpret_cast<const engine::OverwriteQuery*>(lp));
        case engine::kMsgStopQuestion:
            return AskStop() ? 1 : 0;
        case engine::kMsgProgress:
            MoveMeter(wp);
            return 0;
        case engine::kMsgFileInUse:
            return 1;
        case engine::kMsgDirLookup:
            return m.open ? shell::LookUpRow(m.listing, t, static_cast<int>(wp)) : 0;
        default:
            return 0;
    }
}

void ClearListing() {
    Manager& m = App();
    m.listing = shell::Listing{};
    m.facts = shell::SingleFileFacts{};
    m.list.model = tui::ListModel{};
    m.list.model.multiple = true;
}

// Asks for the name of the one file inside a gzip or Microsoft Compress file.
std::optional<std::string> AskContainedName(const std::string& question,
                                            const std::string& proposal) {
    std::string value = proposal;
    if (tui::InputBox("Borvan", question, value)) return value;
    return std::nullopt;
}

void LoadWindowSettings() {
    Manager& m = App();
    const tui::Screen& screen = tui::GetScreen();
    m.cfg = shell::LoadSettings(m.settings_path, static_cast<unsigned>(screen.cols),
                                static_cast<unsigned>(screen.rows));
    m.intl = shell::LoadIntlFormat(m.settings_path);
    shell::SortOrder order;
    if (SortForCommand(static_cast<int>(shell::GetOption(m.cfg.opts, shell::kOptSortOrder)), order))
        m.sort = order;
}

}  // namespace

Manager& App() {
    static Manager manager;
    return manager;
}

void SetupColumns() {
    Manager& m = App();
    // Ratio and Packed show only while the option to display compressed sizes is on.
    bool compressed = shell::GetOption(m.cfg.opts, shell::kOptCompressedSizes) != 0;
    m.list.columns = {{"Name", 20, false, false},
                      {"Date", 8, false, false},
                      {"Time", 5, false, false},
                      {"Size", 11, true, false}};
    if (compressed) {
        m.list.columns.push_back({"Ratio", 5, true, false});
        m.list.columns.push_back({"Packed", 11, true, false});
    }
    m.list.columns.push_back({"Path", 10, false, true});
    m.list.cell = [compressed](size_t row, size_t column) -> std::string {
        Manager& a = App();
        if (row >= a.listing.order.size()) return "";
        const shell::Row& r = a.listing.rows[a.listing.order[row]];
        if (!compressed && column >= 4) column += 2;
        switch (column) {
            case 0:
                return Shown(shell::NameText(r));
            case 1:
                return shell::DateText(r.dos_datetime, a.intl);
            case 2:
                return shell::TimeText(r.dos_datetime, a.intl);
            case 3:
                return shell::SizeText(r.uncompressed, a.intl);
            case 4:
                return shell::RatioText(r);
            case 5:
                return shell::SizeText(r.compressed, a.intl);
            default:
                return Shown(shell::PathText(r));
        }
    };
}

void RefreshChrome() {
    Manager& m = App();
    MenuFlags f;
    f.archive_open = m.open;
    f.save_on_exit = m.cfg.save_settings != 0;
    f.reuse_windows = m.cfg.newinstance != "1";
    f.sort_command = CommandForSort(m.sort);
    f.recent = m.cfg.recent_archives;
    // The open menu path stays valid: the bar keeps its shape, only texts and marks change.
    m.menu_items = BuildMenus(f);
    m.menu.items = m.menu_items;
    if (m.menu.state.IsOpen()) m.menu.state.bar = &m.menu.items;
    m.tools.buttons = BuildToolbar(m.open);
    tui::RequestRedraw();
}

int Say(const std::string& text, tui::MessageButtons buttons) {
    return tui::ShowMessageBox("Borvan", text, buttons);
}

bool OpenFromMail() {
    Manager& m = App();
    return m.open && m.decoded && m.archive == m.decoded->path;
}

namespace {

// A file encoded for mail: the one archive it carries opens, decoded to a temporary file that
// lives while it is open; other files are offered for extraction into a folder beside it.
bool OpenMailFile(const std::string& path) {
    Manager& m = App();
    std::vector<mail::Attachment> files;
    std::string error;
    if (!shell::ReadMailFile(path, files, error)) {
        Say(Shown(error));
        return false;
    }
    if (shell::SingleArchiveKind(files) != formats::kKindUnknown) {
        std::optional<shell::DecodedArchive> decoded =
            shell::WriteDecodedArchive(files[0].data, error);
        if (!decoded) {
            Say(Shown(error));
            return false;
        }
        files.clear();
        std::string inner = decoded->path;
        std::optional<shell::DecodedArchive> previous = std::move(m.decoded);
        std::string previous_from = std::move(m.decoded_from);
        m.decoded = std::move(decoded);
        m.decoded_from = path;
        if (!OpenArchive(inner)) {
            m.decoded = std::move(previous);
            m.decoded_from = std::move(previous_from);
            return false;
        }
        AddRecent(m.cfg.recent_archives, path);
        RefreshChrome();
        return true;
    }
    if (files.empty()) {
        Say(Shown(path) + " carries no files");
        return false;
    }
    std::filesystem::path p(path);
    std::string folder = (p.parent_path() / p.stem()).string();
    std::string names;
    for (size_t i = 0; i < files.size() && i < 10; ++i)
        names += "\n  " + files[i].name + " (" + std::to_string(files[i].data.size()) + " bytes)";
    if (files.size() > 10) names += "\n  ...";
    if (Say(Shown(path + " carries " + std::to_string(files.size()) + " files:" + names +
                  "\n\nExtract them into " + folder + "?"),
            tui::MessageButtons::kYesNo) != tui::kIdYes)
        return false;
    std::string report;
    int status = shell::ExtractAttachments(files, folder, false, false,
                                           [&](bool problem, const std::string& line) {
                                               if (problem) report += "\n" + line;
                                           });
    Say(Shown((status == 0 ? "Extracted into " : "Extracted with problems into ") + folder +
              report));
    return false;
}

}  // namespace

bool OpenArchive(const std::string& given, bool may_be_new) {
    Manager& m = App();
    std::error_code ec;
    // Runs change the current folder (adding from the folder the files were chosen in), so
    // the archive is kept by its full path.
    std::filesystem::path full = std::filesystem::absolute(given, ec);
    const std::string path = ec ? given : full.lexically_normal().string();
    bool exists = std::filesystem::exists(path, ec);
    if (!exists && !may_be_new) {
        Say(Shown(path) + " does not exist");
        RemoveRecent(m.cfg.recent_archives, path);
        RefreshChrome();
        return false;
    }
    if (std::filesystem::is_directory(path, ec)) {
        Say("Can't open input file: " + Shown(path));
        return false;
    }
    formats::ArchiveKind kind = formats::kKindZip;
    if (exists && !formats::DetectFileKind(path, shell::DefaultArchiveKind(m.settings_path), kind))
        kind = formats::kKindZip;
    if (!exists)
        kind = formats::KindByExtension(path) ? formats::KindByExtension(path) : formats::kKindZip;
    if (exists && kind == formats::kKindZip) {
        // A self-extracting ARJ or LZH archive: asked whether to run it, No opens the archive.
        std::string question;
        formats::ArchiveKind behind = shell::ProgramKindBehindExe(path, question);
        if (behind != formats::kKindUnknown) {
            if (Say(Shown(question), tui::MessageButtons::kYesNo) == tui::kIdYes) {
                Say("Running programs is not available in this version.");
                return false;
            }
            kind = behind;
        }
    }
    if (exists && kind == formats::kKindEncodedMail) return OpenMailFile(path);
    if (kind != formats::kKindZip && !shell::IsSingleFileKind(kind) &&
        !formats::IsProgramKind(kind)) {
        Say(Shown(path) + " is " + formats::KindDescription(kind) +
            "; this kind is not supported yet");
        return false;
    }
    shell::Listing listing;
    shell::SingleFileFacts facts;
    std::string error;
    bool ok = true;
    if (exists && std::filesystem::file_size(path, ec) > 0) {
        if (shell::IsSingleFileKind(kind))
            ok = shell::LoadSingleFileListing(kind, path, m.sort, AskContainedName, listing, facts,
                                              error);
        else if (formats::IsProgramKind(kind))
            ok = LoadProgramKindListing(kind, path, m.sort, listing, error);
        else
            ok = shell::LoadZipListing(path, m.sort, listing, error);
    } else {
        shell::FinishListing(listing);
    }
    if (!ok && listing.rows.empty() && !listing.cut_short) {
        Say(error.empty() ? "Cannot read " + Shown(path) : Shown(error));
        return false;
    }
    if (!ok && !error.empty()) Say(Shown(error));
    bool same = m.open && m.archive == path;
    std::vector<std::string> selected;
    if (same) selected = SelectedNames(false);
    ClearListing();
    if (m.decoded && m.decoded->path != path) {
        m.decoded.reset();  // another archive replaces the one a mail file carried
        m.decoded_from.clear();
    }
    m.open = true;
    m.archive = path;
    m.kind = kind;
    m.listing = std::move(listing);
    m.facts = facts;
    m.list.model.SetCount(m.listing.order.size());
    // A re-read keeps the selection on the members that are still there.
    if (!selected.empty()) {
        for (size_t i = 0; i < m.listing.order.size(); ++i) {
            const std::string& name = m.listing.rows[m.listing.order[i]].name;
            if (std::find(selected.begin(), selected.end(), name) != selected.end())
                m.list.model.Toggle(i);
        }
    }
    if (exists && !OpenFromMail()) AddRecent(m.cfg.recent_archives, path);
    RefreshChrome();
    return true;
}

void ReloadArchive() {
    Manager& m = App();
    if (!m.open) return;
    std::error_code ec;
    if (!std::filesystem::exists(m.archive, ec)) {
        // A delete that took the last member leaves no archive behind: the window goes on
        // with it as a new, empty archive.
        ClearListing();
        RefreshChrome();
        return;
    }
    OpenArchive(m.archive);
}

bool CloseArchive(bool ask) {
    Manager& m = App();
    if (!m.open) return true;
    if (ask) {
        std::vector<std::string> changed = m.view.Changed();
        for (const std::string& file : changed) {
            // The view folder holds the member under its stored path.
            std::string rel = file.substr(m.view.Path().size() + 1);
            if ((m.kind != formats::kKindZip && !formats::IsProgramKind(m.kind)) ||
                OpenFromMail()) {
                // These kinds cannot be changed: say what is lost and let the user keep it.
                if (Say(Shown(rel) + " was changed after it was extracted for viewing, but " +
                            formats::KindDescription(m.kind) +
                            " cannot be changed.  Close it and lose the change?",
                        tui::MessageButtons::kOkCancel) != tui::kIdOk)
                    return false;
                continue;
            }
            int r = Say(Shown(rel) +
                            " was changed after it was extracted for viewing.\n\nUpdate the "
                            "archive with the changed file?",
                        tui::MessageButtons::kYesNoCancel);
            if (r == tui::kIdCancel) return false;
            if (r != tui::kIdYes) continue;
            if (formats::IsProgramKind(m.kind)) {
                programs::OperationRequest op;
                op.op = programs::Operation::kAdd;
                op.args.files = {rel};
                op.args.full_paths = true;
                op.folder = m.view.Path();
                RunProgramOperation(op);
                continue;
            }
            zip::ZipCommand cmd;
            cmd.action = zip::kActionAdd;
            cmd.archive = m.archive;
            cmd.level = 5;
            cmd.store_folder_names = true;
            cmd.names = {rel};
            char cwd[4096];
            bool have_cwd = getcwd(cwd, sizeof cwd) != nullptr;
            if (chdir(m.view.Path().c_str()) == 0) {
                RunZip(cmd);
                if (have_cwd && chdir(cwd) != 0) Say("Cannot return to the folder " + Shown(cwd));
            }
        }
    }
    m.view.Remove();
    m.open = false;
    m.archive.clear();
    m.decoded.reset();
    m.decoded_from.clear();
    ClearListing();
    RefreshChrome();
    return true;
}

std::vector<size_t> SelectedRows(bool cursor_when_none) {
    Manager& m = App();
    std::vector<size_t> rows;
    if (!m.open) return rows;
    for (size_t i : m.list.model.Selection())
        if (i < m.listing.order.size()) rows.push_back(m.listing.order[i]);
    if (rows.empty() && cursor_when_none && m.list.model.cursor < m.listing.order.size())
        rows.push_back(m.listing.order[m.list.model.cursor]);
    return rows;
}

std::vector<std::string> SelectedNames(bool cursor_when_none) {
    std::vector<std::string> names;
    for (size_t i : SelectedRows(cursor_when_none)) names.push_back(App().listing.rows[i].name);
    return names;
}

void ApplySort(shell::SortOrder order) {
    Manager& m = App();
    m.sort = order;
    if (m.open) {
        std::vector<size_t> old = m.listing.order;
        m.listing.sort = order;
        shell::FinishListing(m.listing);
        // Reorder wants, for each new position, the old position of its row.
        std::vector<size_t> old_position(m.listing.rows.size());
        for (size_t i = 0; i < old.size(); ++i) old_position[old[i]] = i;
        std::vector<size_t> moves;
        for (size_t row : m.listing.order) moves.push_back(old_position[row]);
        m.list.model.Reorder(moves);
    }
    RefreshChrome();
}

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

namespace shell {

int RunManager(const ManagerStart& start) {
    using namespace window;
    if (!isatty(STDIN_FILENO) || !isatty(STDOUT_FILENO)) return -1;
    Manager& m = App();
    m.settings_path = start.settings_path.empty() ? SettingsPath() : start.settings_path;
    if (!tui::InitScreen()) return -1;
    LoadWindowSettings();
    m.list.model.multiple = true;
    SetupColumns();
    m.menu.on_command = [](int command) { RunCommand(command); };
    m.hwnd = platform::CreateWindow(MainProc);
    m.meter_hwnd = platform::CreateWindow(MeterProc);
    m.layer.draw = Draw;
    m.layer.on_key = OnKey;
    // With the wizard to start, the window stays blank until the wizard's page covers it.
    const bool wizard = StartsInWizard(start.request, m.cfg.wizard);
    m.wizard = wizard;
    tui::PushLayer(&m.layer);
    RefreshChrome();
    tui::Redraw();
    if (start.handover_fd >= 0 && start.accept_handover) {
        auto accept = start.accept_handover;
        platform::WatchFd(start.handover_fd, POLLIN, [accept](int, short) {
            std::vector<std::string> args = accept();
            if (args.empty()) return;
            if (App().busy) {
                Say("Borvan is busy; the request from another start was not taken.");
                return;
            }
            CommandRequest request = ParseCommandLine(args);
            if (request.inichange) {
                // Another start changed the settings file: read it again.
                LoadWindowSettings();
                SetupColumns();
                RefreshChrome();
                return;
            }
            RunRequest(request, "");
            tui::RequestRedraw();
        });
    }
    CommandRequest request = start.request;
    std::string archive = start.archive;
    // The first request runs once the window has been drawn, from the message loop.
    platform::HWND starter = platform::CreateWindow(
        [request, archive, wizard](platform::HWND self, platform::UINT msg, platform::WPARAM,
                                   platform::LPARAM) -> platform::LRESULT {
            if (msg != kMsgStartRequest) return 0;
            // The program's own command line ends the program with its status, as it would
            // headless; what the user does afterwards in the window does not change it.
            App().exit_status = RunRequest(request, archive);
            if (wizard) {
                App().wizard = false;
                // A later start waits while the wizard has a step open.
                shell::SetHandoverBusy(true);
                RunWizard(true);
                shell::SetHandoverBusy(App().busy);
            } else if (!App().open && shell::GetOption(App().cfg.opts, shell::kOptAutoOpenDialog)) {
                RunCommand(kCmdOpen);
            }
            platform::DestroyWindow(self);
            return 0;
        });
    platform::PostMessage(starter, kMsgStartRequest);
    int code = platform::RunMessageLoop();
    if (code == 0) code = m.exit_status;
    tui::RemoveLayer(&m.layer);
    if (start.handover_fd >= 0) platform::UnwatchFd(start.handover_fd);
    tui::EndScreen();
    m.view.Remove();
    platform::DestroyWindow(m.hwnd);
    platform::DestroyWindow(m.meter_hwnd);
    return code;
}

}  // namespace shell
