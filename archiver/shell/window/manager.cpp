// The manager window: drawing, keys and mouse, the engines' reports and the meter, and the run
// of the window from start to end.
#include "archiver/shell/window/manager.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>

#include "archiver/engine/unzip/engine_frame.h"
#include "archiver/engine/unzip/shown_name.h"
#include "archiver/shell/handover.h"
#include "archiver/shell/terminal_text.h"
#include "archiver/shell/window/manager_state.h"
#include "archiver/shell/window/wizard.h"

namespace window {

namespace {

// Messages of the meter window, as the zip engine sends them to its progress window.
constexpr platform::UINT kMeterSetRange = platform::WM_USER + 0;
constexpr platform::UINT kMeterGetRange = platform::WM_USER + 1;
constexpr platform::UINT kMeterSetPosition = platform::WM_USER + 2;
constexpr platform::UINT kMeterGetPosition = platform::WM_USER + 3;
// Posted to the main window once it is drawn: run the start-up request.
constexpr platform::UINT kMsgStartRequest = platform::WM_USER + 1;

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
