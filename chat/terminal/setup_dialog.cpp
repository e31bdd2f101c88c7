#include "chat/terminal/setup_dialog.h"

#include <algorithm>

#include "chat/core/connection/connection.h"
#include "chat/core/connection/server_list.h"
#include "chat/core/frame.h"
#include "chat/core/options.h"
#include "chat/terminal/options_dialog.h"
#include "chat/terminal/settings_dialog.h"
#include "platform/tui/text.h"
#include "platform/tui/widgets.h"

namespace chat {
namespace {

constexpr const char* kSetupTitle = "Vesk Setup";

enum SetupControl : int {
    kIdServers = 350,
    kIdNew = 351,
    kIdModify = 352,
    kIdDelete = 353,
    kIdPort = 354,
    kIdConnectNow = 355,
};
enum ServerControl : int { kIdDesc = 360, kIdHost, kIdServerPort, kIdPassword, kIdGroup };

std::vector<std::string> PageTitles() {
    std::vector<std::string> titles;
    for (const SettingsPage& p : SetupPages()) titles.push_back(p.title);
    return titles;
}

std::vector<std::string> Rows(const SetupState& s) {
    std::vector<std::string> rows;
    for (const Line& l : s.servers)
        rows.push_back((l.text == s.selected ? "* " : "  ") + ServerRow(l.text));
    return rows;
}

const Line* RowAt(const SetupState& s, size_t row) {
    if (row >= s.servers.size()) return nullptr;
    return &*std::next(s.servers.begin(), static_cast<long>(row));
}

size_t RowOf(const SetupState& s, const std::string& entry) {
    size_t i = 0;
    for (const Line& l : s.servers) {
        if (l.text == entry) return i;
        ++i;
    }
    return 0;
}

// The server list with its buttons, the chosen server and its port, below the identity.
void AddServerControls(tui::Dialog& d, const SetupState& s, size_t cursor, int row) {
    const int left = kPageLeft;
    d.Add(tui::ControlKind::kLabel, 0, "Ser&vers (Enter picks the one to connect to):", row, left,
          kPageWidth);
    tui::Control& list = d.Add(tui::ControlKind::kList, kIdServers, "", row + 1, left, 44, 7);
    list.items = Rows(s);
    list.list.SetCount(list.items.size());
    list.list.MoveTo(cursor);
    d.Add(tui::ControlKind::kButton, kIdNew, "Ne&w...", row + 1, left + 46, 13);
    d.Add(tui::ControlKind::kButton, kIdModify, "&Modify...", row + 3, left + 46, 13);
    d.Add(tui::ControlKind::kButton, kIdDelete, "&Delete", row + 5, left + 46, 13);
    const std::string chosen =
        s.selected.empty() ? "(none)" : ParseServerEntry(s.selected).description;
    std::string shown;
    for (char c : chosen) {
        if (c == '&') shown.push_back('&');
        shown.push_back(c);
    }
    d.Add(tui::ControlKind::kLabel, 0, "Connect to: " + shown, row + 8, left, 44);
    d.Add(tui::ControlKind::kLabel, 0, "Po&rt:", row + 8, left + 46, 6);
    tui::Control& port = d.Add(tui::ControlKind::kEdit, kIdPort, "", row + 8, left + 52, 8);
    port.edit.limit = 10;
    port.edit.SetText(tui::DecodeText(s.port));
    port.enabled = !s.selected.empty();
    d.Add(tui::ControlKind::kButton, kIdConnectNow, "Connec&t", kPagedRows - 1, left, 12);
}

// The connect button: what OK does, then a connect to the chosen server (after closing the
// connection there is, which takes a moment longer).
void ConnectNow() {
    Connection& c = Conn();
    const platform::HWND frame = Frame().hwndFrame;
    if (c.Connecting || c.Connected) {
        DoDisconnect();
        platform::SetTimer(frame, kTimerConnect, 1000);
    } else {
        platform::SetTimer(frame, kTimerConnect, 100);
    }
}

bool& SetupOpen() {
    static bool open = false;
    return open;
}

}  // namespace

std::optional<std::string> RunServerDialog(const LineList& servers, const std::string* editing,
                                           const ServerFields& fields) {
    ServerFields f = fields;
    for (;;) {
        tui::Dialog d;
        d.title = editing ? "Edit Server" : "Add Server";
        d.rows = 8;
        d.cols = 56;
        const struct {
            const char* label;
            int id;
            std::string* value;
            size_t limit;
        } rows[] = {{"&Description:", kIdDesc, &f.description, 100},
                    {"&Host:", kIdHost, &f.host, 100},
                    {"&Port:", kIdServerPort, &f.port, 10},
                    {"Pass&word:", kIdPassword, &f.password, 100},
                    {"&Group:", kIdGroup, &f.group, 20}};
        int row = 0;
        for (const auto& r : rows) {
            d.Add(tui::ControlKind::kLabel, 0, r.label, row, 1, 14);
            tui::Control& e = d.Add(tui::ControlKind::kEdit, r.id, "", row, 15, 39);
            e.edit.limit = r.limit;
            e.edit.SetText(tui::DecodeText(*r.value));
            e.password = r.id == kIdPassword;
            ++row;
        }
        d.Add(tui::ControlKind::kButton, tui::kIdOk, "OK", 6, 16, 10).is_default = true;
        d.Add(tui::ControlKind::kButton, tui::kIdCancel, "Cancel", 6, 30, 10).is_cancel = true;
        d.focus = 1;
        if (tui::RunDialog(d) != tui::kIdOk) return std::nullopt;
        for (const auto& r : rows) *r.value = FieldText(d, r.id);
        ServerEntryResult made = MakeServerEntry(f, servers, editing);
        if (made.error.empty()) return made.entry;
        tui::ShowMessageBox(d.title, made.error, tui::MessageButtons::kOk);
    }
}

void RunSetupDialog(int page) {
    if (SetupOpen()) return;
    SetupOpen() = true;
    struct Closer {
        ~Closer() { SetupOpen() = false; }
    } closer;
    SetupState s = LoadSetup();
    page = std::clamp(page, 1, kSetupPages);
    int focus = kIdFirstSetting;
    size_t cursor = RowOf(s, s.selected);
    for (;;) {
        tui::Dialog d = MakePagedDialog(kSetupTitle, PageTitles(), page);
        const SettingsPage& sp = SetupPages()[static_cast<size_t>(page) - 1];
        PageValues& values = s.values[static_cast<size_t>(page) - 1];
        const int row = AddSettings(d, sp, values, 2);
        if (page == kSetupConnect) AddServerControls(d, s, cursor, row);
        FocusControl(d, focus);
        const int result = tui::RunDialog(d);
        ReadSettings(d, sp, values);
        if (page == kSetupConnect) {
            s.port = FieldText(d, kIdPort);
            cursor = d.Find(kIdServers)->list.cursor;
        }
        focus = result;
        if (result >= kIdFirstPage && result < kIdFirstPage + kSetupPages) {
            // A new page starts at its first field, where Enter means OK.
            page = result - kIdFirstPage + 1;
            focus = kIdFirstSetting;
            continue;
        }
        const Line* at = RowAt(s, cursor);
        switch (result) {
            case kIdServers:
                if (at) {
                    s.selected = at->text;
                    s.port = std::to_string(ParseServerEntry(s.selected).port);
                }
                continue;
            case kIdNew:
            case kIdModify: {
                if (result == kIdModify && !at) {
                    tui::Beep();
                    continue;
                }
                const std::string old = at && result == kIdModify ? at->text : std::string();
                std::optional<std::string> entry =
                    RunServerDialog(s.servers, old.empty() ? nullptr : &old,
                                    old.empty() ? ServerFields{} : FieldsOfEntry(old));
                if (!entry) continue;
                if (old.empty()) {
                    aline(s.servers, *entry, false);
                } else {
                    for (Line& l : s.servers)
                        if (l.text == old) l.text = *entry;
                }
                if (s.selected.empty() || s.selected == old) {
                    s.selected = *entry;
                    s.port = std::to_string(ParseServerEntry(*entry).port);
                }
                sorthosts(s.servers);
                cursor = RowOf(s, *entry);
                continue;
            }
            case kIdDelete:
                if (!at) {
                    tui::Beep();
                    continue;
                }
                if (s.selected == at->text) s.selected.clear();
                s.servers.erase(std::next(s.servers.begin(), static_cast<long>(cursor)));
                cursor = std::min(cursor, s.servers.empty() ? 0 : s.servers.size() - 1);
                continue;
            case tui::kIdOk:
            case kIdConnectNow: {
                const SetupProblem problem = CheckSetup(s);
                if (problem.page) {
                    tui::ShowMessageBox(kSetupTitle, problem.message, tui::MessageButtons::kOk);
                    page = problem.page;
                    const auto& settings = SetupPages()[static_cast<size_t>(page) - 1].settings;
                    focus = problem.index < settings.size()
                                ? kIdFirstSetting + static_cast<int>(problem.index)
                                : kIdPort;
                    continue;
                }
                if (!SaveSetup(s))
                    tui::ShowMessageBox(kSetupTitle, "Unable to write " + Options().szINI,
                                        tui::MessageButtons::kOk);
                if (result == kIdConnectNow) ConnectNow();
                return;
            }
            default:
                return;
        }
    }
}

void InstallSettingsDialogs() {
    FrameState& f = Frame();
    f.more_commands = [earlier = std::move(f.more_commands)](int command) {
        switch (command) {
            case kCmdSetup: {
                const int page = Frame().setup_page;
                Frame().setup_page = 0;
                RunSetupDialog(page ? page : kSetupConnect);
                return true;
            }
            case kCmdOptions:
                RunOptionsDialog(0);
                return true;
            case kCmdDccOptions:
                RunOptionsDialog(kOptionsDcc);
                return true;
            default:
                return earlier ? earlier(command) : false;
        }
    };
}

void PopUpSetupAtStart() {
    // A user who has chosen a nickname has been through the setup once; the dialog then
    // waits for the menu (or for a connect that finds something missing).
    if (!Options().pusd || !Options().szNickName.empty()) return;
    platform::PostMessage(Frame().hwndFrame, platform::WM_COMMAND, kCmdSetup, 0);
}

}  // namespace chat
