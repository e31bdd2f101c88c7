// The settings dialogs, the Open dialog and the information text as data.
#include <cinttypes>
#include <cstdio>

#include "archiver/shell/dialogs/configuration.h"
#include "archiver/shell/dialogs/dialog_parts.h"
#include "archiver/shell/listing.h"
#include "platform/tui/folder_listing.h"
#include "platform/tui/text.h"

namespace dialogs {

using tui::ControlKind;

namespace {

void AddOkCancel(tui::Dialog& d, int row, const char* ok = "OK") {
    tui::Control& b =
        d.Add(ControlKind::kButton, tui::kIdOk, ok, row, d.cols / 2 - 14, ButtonWidth(ok));
    b.is_default = true;
    d.Add(ControlKind::kButton, tui::kIdCancel, "Cancel", row, d.cols / 2 + 4,
          ButtonWidth("Cancel"))
        .is_cancel = true;
    d.on_command = [](tui::Dialog& dlg, int id) { return ButtonsEnd(dlg, id); };
}

tui::Control& AddField(tui::Dialog& d, int index, const std::string& text, int row, int col,
                       int width) {
    tui::Control& e = d.Add(ControlKind::kEdit, kIdField0 + index, "", row, col, width);
    e.edit.limit = 4095;
    e.edit.SetText(tui::DecodeText(text));
    return e;
}

// "1,234,567": digits grouped by threes.
std::string Grouped(uint64_t n) {
    std::string digits = std::to_string(n), out;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out;
}

constexpr formats::ArchiveKind kFormats[] = {formats::kKindZip, formats::kKindLzh,
                                             formats::kKindArj, formats::kKindArc};

}  // namespace

// ---- Configuration ----

tui::Dialog MakeConfigurationDialog(const shell::OptionRecord& record) {
    tui::Dialog d;
    d.title = "Configuration";
    d.cols = 66;
    const auto switches = ConfigurationSwitches();
    int row = 0;
    for (size_t i = 0; i < switches.size(); ++i) {
        tui::Control& c = d.Add(ControlKind::kCheck, kIdSwitch0 + static_cast<int>(i),
                                switches[i].text, row++, 0, 44);
        c.checked = ReadField(record, switches[i].offset, switches[i].width) != 0;
    }
    d.Add(ControlKind::kLabel, -1, "Default Archive &Format:", 0, 46, 19);
    const uint32_t format = ReadField(record, kOptDefaultFormat, 2);
    for (size_t i = 0; i < std::size(kFormats); ++i) {
        static const char* const kTexts[] = {"Zip", "LZH", "ARJ", "ARC"};
        tui::Control& r = d.Add(ControlKind::kRadio, kIdFormat0 + kFormats[i], kTexts[i],
                                1 + static_cast<int>(i), 48, 16);
        r.group = 1;
        r.checked = format == kFormats[i];
    }
    if (d.CheckedRadio(1) == 0) d.Find(kIdFormat0 + formats::kKindZip)->checked = true;
    d.rows = row + 2;
    AddOkCancel(d, row + 1);
    d.FocusFirst();
    return d;
}

shell::OptionRecord ReadConfiguration(tui::Dialog& d, const shell::OptionRecord& record) {
    shell::OptionRecord out = record;
    const auto switches = ConfigurationSwitches();
    for (size_t i = 0; i < switches.size(); ++i) {
        const bool on = Checked(d, kIdSwitch0 + static_cast<int>(i));
        const bool was = ReadField(record, switches[i].offset, switches[i].width) != 0;
        // An unchanged switch keeps its stored value, whatever non-zero value it had.
        if (on != was) WriteField(out, switches[i].offset, switches[i].width, on ? 1 : 0);
    }
    const int format = d.CheckedRadio(1);
    if (format > 0) {
        const uint32_t kind = static_cast<uint32_t>(format - kIdFormat0);
        if (kind != ReadField(record, kOptDefaultFormat, 2))
            WriteField(out, kOptDefaultFormat, 2, kind);
    }
    return out;
}

// ---- Folders ----

tui::Dialog MakeFoldersDialog(const FolderSettings& f) {
    tui::Dialog d = NewDialog("Folders", 10, 74);
    const struct {
        const char* text;
        bool use;
        const std::string& value;
    } rows[] = {{"Start &Open Dialog In:", f.use_open_folder, f.open_folder},
                {"Default E&xtract Folder:", f.use_extract_folder, f.extract_folder},
                {"Default &Add Folder:", f.use_add_folder, f.add_folder}};
    for (int i = 0; i < 3; ++i) {
        tui::Control& c = d.Add(ControlKind::kCheck, kIdUse0 + i, rows[i].text, i, 0, 30);
        c.checked = rows[i].use;
        AddField(d, i, rows[i].value, i, 31, 42);
    }
    d.Add(ControlKind::kLabel, -1, "&Temporary Folder:", 4, 4, 26);
    AddField(d, 3, f.temp_folder, 4, 31, 42);
    d.Add(ControlKind::kLabel, -1, "&Zip Temporary Folder:", 5, 4, 26);
    AddField(d, 4, f.zip_temp_folder, 5, 31, 42);
    d.Add(ControlKind::kCheck, kIdUse0 + 4, "Zip Temporary Folder For &Removable Media Only", 6, 4,
          50)
        .checked = f.zip_temp_removable_only;
    AddOkCancel(d, 8);
    d.FocusFirst();
    return d;
}

FolderSettings ReadFolders(tui::Dialog& d) {
    FolderSettings f;
    f.use_open_folder = Checked(d, kIdUse0);
    f.open_folder = EditText(d, kIdField0);
    f.use_extract_folder = Checked(d, kIdUse0 + 1);
    f.extract_folder = EditText(d, kIdField0 + 1);
    f.use_add_folder = Checked(d, kIdUse0 + 2);
    f.add_folder = EditText(d, kIdField0 + 2);
    f.temp_folder = EditText(d, kIdField0 + 3);
    f.zip_temp_folder = EditText(d, kIdField0 + 4);
    f.zip_temp_removable_only = Checked(d, kIdUse0 + 4);
    return f;
}

std::string MissingFolder(const FolderSettings& f) {
    const std::pair<bool, const std::string*> checks[] = {
        {f.use_open_folder, &f.open_folder},
        {f.use_extract_folder, &f.extract_folder},
        {f.use_add_folder, &f.add_folder},
        {!f.temp_folder.empty(), &f.temp_folder},
        {!f.zip_temp_folder.empty(), &f.zip_temp_folder}};
    for (const auto& [used, path] : checks) {
        if (used && !IsFolder(*path)) return path->empty() ? std::string("(none)") : *path;
    }
    return {};
}

// ---- Program locations ----

namespace {
struct ProgramField {
    const char* label;
    std::string ProgramLocations::*member;
};
constexpr ProgramField kPrograms[] = {
    {"&LHA:", &ProgramLocations::lha},
    {"&ARJ:", &ProgramLocations::arj},
    {"AR&C (or compatible):", &ProgramLocations::arc},
    {"Virus &Scanner:", &ProgramLocations::scan},
    {"Scanner &Parameters:", &ProgramLocations::scan_parameters},
    {"&Text Viewer:", &ProgramLocations::viewer},
    {"&View Command Program:", &ProgramLocations::vviewer},
};
}  // namespace

tui::Dialog MakeProgramsDialog(const ProgramLocations& programs) {
    tui::Dialog d;
    d.title = "Program Locations";
    d.cols = 74;
    int row = 0;
    for (size_t i = 0; i < std::size(kPrograms); ++i, ++row) {
        d.Add(ControlKind::kLabel, -1, kPrograms[i].label, row, 0, 23);
        AddField(d, static_cast<int>(i), programs.*kPrograms[i].member, row, 24, 48);
    }
    d.rows = row + 2;
    AddOkCancel(d, row + 1);
    d.FocusFirst();
    return d;
}

ProgramLocations ReadPrograms(tui::Dialog& d) {
    ProgramLocations p;
    for (size_t i = 0; i < std::size(kPrograms); ++i)
        p.*kPrograms[i].member = EditText(d, kIdField0 + static_cast<int>(i));
    return p;
}

// ---- Open ----

tui::Dialog MakeOpenDialog(const std::string& title, const std::shared_ptr<BrowseState>& state) {
    tui::Dialog d = NewDialog(title.c_str(), 17, 70);
    d.Add(ControlKind::kLabel, -1, "File &name:", 0, 0, 11);
    tui::Control& e = d.Add(ControlKind::kEdit, kIdNames, "", 0, 12, 56);
    e.edit.limit = 4095;
    d.Add(ControlKind::kLabel, kIdFolder, "", 1, 0, 68);
    d.Add(ControlKind::kList, kIdList, "", 2, 0, 68, 12);
    d.Add(ControlKind::kCheck, kIdShowAll, "Show a&ll files", 14, 0, 30).checked =
        !state->archives_only;
    AddOkCancel(d, 16, title == "New Archive" ? "&Create" : "&Open");
    RefreshBrowser(d, *state);
    std::weak_ptr<BrowseState> weak = state;
    d.on_command = [weak](tui::Dialog& dlg, int id) {
        auto s = weak.lock();
        if (!s) return true;
        if (id == kIdShowAll) {
            s->archives_only = !Checked(dlg, kIdShowAll);
            RefreshBrowser(dlg, *s);
            return false;
        }
        if (id != kIdList) return ButtonsEnd(dlg, id);
        tui::Control* l = dlg.Find(kIdList);
        if (!l || l->list.cursor >= s->entries.size()) return false;
        const BrowserEntry& entry = s->entries[l->list.cursor];
        if (!entry.folder) return true;
        s->folder = tui::EnterFolder(s->folder, entry.name);
        RefreshBrowser(dlg, *s);
        return false;
    };
    d.FocusFirst();
    return d;
}

std::optional<std::string> ReadOpenPath(tui::Dialog& d, const BrowseState& state) {
    const std::string typed = EditText(d, kIdNames);
    if (!typed.empty()) return JoinPath(state.folder, typed);
    const tui::Control* l = d.Find(kIdList);
    if (!l || l->list.cursor >= state.entries.size()) return std::nullopt;
    const BrowserEntry& e = state.entries[l->list.cursor];
    if (e.folder) return std::nullopt;
    return JoinPath(state.folder, e.name);
}

// ---- Information ----

std::string InformationText(const ArchiveInformation& info) {
    std::string t = "Archive: " + info.path + "\n";
    t += std::string("Kind: ") + formats::KindDescription(info.kind) + "\n";
    t += "Archive size: " + Grouped(info.file_size) + " bytes\n";
    t += "Files: " + Grouped(info.members) + "\n";
    const bool known = info.total_uncompressed != shell::kUnknownSize;
    t += "Total size: " + (known ? Grouped(info.total_uncompressed) + " bytes" : "?") + "\n";
    t += "Packed size: " + Grouped(info.total_compressed) + " bytes\n";
    if (known)
        t += "Saved: " +
             std::to_string(shell::Ratio(info.total_uncompressed, info.total_compressed)) + "%\n";
    t += std::string("Encrypted files: ") + (info.encrypted ? "yes" : "no");
    if (!info.comment.empty()) t += "\nComment: " + info.comment;
    return t;
}

}  // namespace dialogs
