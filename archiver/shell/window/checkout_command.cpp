// CheckOut from the window: the CheckOut dialog, the whole archive extracted into a folder of
// its own, the optional virus scan, and the group of launchers.
#include <algorithm>
#include <string>

#include "archiver/formats/listed_member.h"
#include "archiver/shell/terminal_text.h"
#include "archiver/shell/window/manager_state.h"
#include "archiver/shell/window/other_kinds.h"

namespace window {

namespace {

constexpr int kIdFolder = 10, kIdGroup = 11, kIdMaximum = 12, kIdIconsOnly = 13, kIdScan = 14;

std::string BaseNameWithoutExtension(const std::string& path) {
    size_t slash = path.rfind('/');
    std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    size_t dot = base.rfind('.');
    return dot == std::string::npos || dot == 0 ? base : base.substr(0, dot);
}

std::string Text(tui::Dialog& d, int id) {
    return tui::EncodeUtf8(d.Find(id)->edit.text);
}

// Runs the dialog until its choices pass the checks; false when cancelled.
bool AskChoices(programs::CheckOutChoices& choices, const programs::CheckOutPlaces& places) {
    tui::Dialog d;
    d.title = "CheckOut";
    d.cols = 64;
    d.rows = 11;
    d.Add(tui::ControlKind::kLabel, -1,
          "All files will be extracted to the specified folder, and a program group will be "
          "built.",
          0, 1, 62, 2);
    d.Add(tui::ControlKind::kLabel, -1, "&Folder:", 2, 1, 16);
    d.Add(tui::ControlKind::kEdit, kIdFolder, "", 2, 18, 44)
        .edit.SetText(tui::DecodeText(choices.folder));
    d.Add(tui::ControlKind::kLabel, -1, "&Group Name:", 3, 1, 16);
    d.Add(tui::ControlKind::kEdit, kIdGroup, "", 3, 18, 44)
        .edit.SetText(tui::DecodeText(choices.group));
    d.Add(tui::ControlKind::kLabel, -1, "&Maximum Icons:", 4, 1, 16);
    d.Add(tui::ControlKind::kEdit, kIdMaximum, "", 4, 18, 6)
        .edit.SetText(tui::DecodeText(std::to_string(choices.max_icons)));
    d.Add(tui::ControlKind::kCheck, kIdIconsOnly, "&Create Icons For Programs And Documents Only",
          5, 1, 60)
        .checked = choices.icons_only;
    d.Add(tui::ControlKind::kCheck, kIdScan, "&Run Virus Scanner", 6, 1, 30).checked =
        choices.run_scan;
    d.Add(tui::ControlKind::kButton, tui::kIdOk, "OK", 8, 16, 8).is_default = true;
    d.Add(tui::ControlKind::kButton, tui::kIdCancel, "Cancel", 8, 34, 10).is_cancel = true;
    d.on_command = [&choices, &places](tui::Dialog& dlg, int id) {
        if (id == tui::kIdCancel) return true;
        if (id != tui::kIdOk) return false;
        std::string maximum = Text(dlg, kIdMaximum);
        int n = 0;
        bool number = !maximum.empty() && maximum.size() <= 3 &&
                      std::all_of(maximum.begin(), maximum.end(),
                                  [](char c) { return c >= '0' && c <= '9'; });
        if (number) n = std::stoi(maximum);
        if (!number || n < 1 || n > programs::kMaxCheckOutIcons) {
            Say("Icon maximum is 50");
            return false;
        }
        programs::CheckOutChoices c = choices;
        c.folder = Text(dlg, kIdFolder);
        c.group = Text(dlg, kIdGroup);
        c.max_icons = n;
        c.icons_only = dlg.Find(kIdIconsOnly)->checked;
        c.run_scan = dlg.Find(kIdScan)->checked;
        std::string error, question;
        if (!programs::CheckCheckOutChoices(c, places, error, question)) {
            Say(shell::TerminalSafe(error));
            return false;
        }
        if (!question.empty() &&
            Say(shell::TerminalSafe(question), tui::MessageButtons::kOkCancel) != tui::kIdOk)
            return false;
        if (!programs::PrepareCheckOutFolder(c, places, error)) {
            Say(shell::TerminalSafe(error));
            return false;
        }
        choices = c;
        return true;
    };
    d.FocusFirst();
    return tui::RunDialog(d) == tui::kIdOk;
}

}  // namespace

void CheckOut() {
    Manager& m = App();
    programs::CheckOutPlaces places = programs::LoadCheckOutPlaces(m.settings_path);
    programs::CheckOutChoices choices;
    choices.group = BaseNameWithoutExtension(m.archive);
    choices.folder = places.base + "/" + choices.group;
    choices.icons_only = programs::LoadCheckOutIconOnly(m.settings_path);
    if (!AskChoices(choices, places)) return;
    programs::ProgramLocations locations = programs::LoadProgramLocations(m.settings_path);
    std::string error;
    if (formats::IsProgramKind(m.kind)) {
        m.busy = true;
        bool extracted;
        {
            ProgramStopScope stop;
            extracted = programs::ExtractAllWithProgram(m.kind, m.archive, choices.folder,
                                                        locations, error);
        }
        m.busy = false;
        if (!extracted) {
            Say(shell::TerminalSafe(error));
            return;
        }
    } else {
        engine::UnzipCommand cmd = BaseUnzipCommand();
        cmd.has_target = true;
        cmd.target = choices.folder;
        cmd.overwrite_all = true;
        if (!RunUnzip(cmd, m.listing.total_uncompressed) || cmd.result != engine::kUnzipOk) return;
    }
    // The scanner works on its own private copy of the same members.
    if (choices.run_scan) VirusScan();
    std::vector<programs::CheckOutMember> members;
    for (size_t i : m.listing.order)
        members.push_back({m.listing.rows[i].name, m.listing.rows[i].type_class});
    programs::GroupOutcome outcome =
        programs::BuildCheckOutGroup(choices, places, members, OwnProgramPath());
    Say(outcome.message.empty() ? std::to_string(outcome.icons) + " launchers made in " +
                                      shell::TerminalSafe(outcome.group_folder)
                                : shell::TerminalSafe(outcome.message));
}

}  // namespace window
