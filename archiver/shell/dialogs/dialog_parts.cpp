#include "archiver/shell/dialogs/dialog_parts.h"

#include "archiver/engine/zip/split_writer.h"
#include "archiver/shell/dialogs/messages.h"
#include "archiver/shell/dialogs/password_model.h"
#include "archiver/shell/terminal_text.h"
#include "platform/tui/folder_listing.h"
#include "platform/tui/menu_model.h"
#include "platform/tui/text.h"

namespace dialogs {

using tui::ControlKind;

namespace {

// Lines of at most `width` bytes, broken at blanks.
std::vector<std::string> Wrap(const std::string& text, size_t width) {
    std::vector<std::string> lines;
    std::string line;
    for (const std::string& word : SplitQuoted(text, " ")) {
        if (!line.empty() && line.size() + 1 + word.size() > width) {
            lines.push_back(std::move(line));
            line.clear();
        }
        if (!line.empty()) line += ' ';
        line += word;
    }
    if (!line.empty()) lines.push_back(std::move(line));
    return lines;
}

tui::Control& AddButton(tui::Dialog& d, int id, const std::string& text, int row, int col,
                        bool is_default = false, bool is_cancel = false) {
    tui::Control& b = d.Add(ControlKind::kButton, id, text, row, col, ButtonWidth(text));
    b.is_default = is_default;
    b.is_cancel = is_cancel;
    return b;
}

tui::Control& AddEdit(tui::Dialog& d, int id, const std::string& text, int row, int col, int width,
                      size_t limit = 1023) {
    tui::Control& e = d.Add(ControlKind::kEdit, id, "", row, col, width);
    e.edit.limit = limit;
    e.edit.SetText(tui::DecodeText(text));
    return e;
}

tui::Control& AddCheck(tui::Dialog& d, int id, const std::string& text, int row, int col,
                       bool checked, int width = 40) {
    tui::Control& c = d.Add(ControlKind::kCheck, id, text, row, col, width);
    c.checked = checked;
    return c;
}

tui::Control& AddRadio(tui::Dialog& d, int id, const std::string& text, int row, int col, int group,
                       bool checked, int width = 34) {
    tui::Control& c = d.Add(ControlKind::kRadio, id, text, row, col, width);
    c.group = group;
    c.checked = checked;
    return c;
}

}  // namespace

std::vector<std::string> SplitQuoted(const std::string& text, std::string_view separators) {
    std::vector<std::string> out;
    std::string current;
    bool quoted = false;
    for (char ch : text) {
        if (ch == '"') {
            quoted = !quoted;
        } else if (!quoted && separators.find(ch) != std::string_view::npos) {
            if (!current.empty()) out.push_back(std::move(current));
            current.clear();
        } else {
            current += ch;
        }
    }
    if (!current.empty()) out.push_back(std::move(current));
    return out;
}

bool ButtonsEnd(tui::Dialog& d, int id) {
    const tui::Control* c = d.Find(id);
    return c && c->kind == ControlKind::kButton;
}

int ButtonWidth(const std::string& text) {
    return static_cast<int>(tui::DecodeText(tui::MenuLabel(text)).size()) + 4;
}

tui::Dialog NewDialog(const char* title, int rows, int cols) {
    tui::Dialog d;
    d.title = title;
    d.rows = rows;
    d.cols = cols;
    return d;
}

std::string Literal(const std::string& text) {
    std::string out;
    for (char ch : shell::TerminalSafe(text)) {
        if (ch == '&') out += '&';
        if (ch == '\n' || ch == '\t') ch = ' ';
        out += ch;
    }
    return out;
}

std::string EditText(tui::Dialog& d, int id) {
    const tui::Control* c = d.Find(id);
    return c && c->kind == ControlKind::kEdit ? tui::EncodeUtf8(c->edit.text) : std::string();
}

void SetEditText(tui::Dialog& d, int id, const std::string& text) {
    if (tui::Control* c = d.Find(id); c && c->kind == ControlKind::kEdit)
        c->edit.SetText(tui::DecodeText(text));
}

bool Checked(tui::Dialog& d, int id) {
    const tui::Control* c = d.Find(id);
    return c && c->checked;
}

void RefreshBrowser(tui::Dialog& d, BrowseState& state) {
    state.entries = BrowseFolder(state.folder, state.archives_only);
    if (tui::Control* label = d.Find(kIdFolder)) label->text = Literal("Folder: " + state.folder);
    tui::Control* list = d.Find(kIdList);
    if (!list) return;
    list->items.clear();
    const int name_width = std::max(10, list->width - 14);
    for (const BrowserEntry& e : state.entries)
        list->items.push_back(BrowserRowText(e, name_width));
    list->list.SetCount(0);  // a new folder: no selection carried over
    list->list.SetCount(list->items.size());
    list->list.MoveTo(0);
    list->list.top = 0;
}

// ---- Add ----

tui::Dialog MakeAddDialog(const AddDefaults& defaults, const std::shared_ptr<AddState>& state) {
    state->browse.folder = StartFolder(defaults.start_folder);
    state->browse.archives_only = false;
    state->password = defaults.password;
    state->mask = defaults.password_mask;
    state->kind = defaults.kind;
    const AddChoices& c = defaults.choices;

    tui::Dialog d = NewDialog("Add", 18, 76);
    d.Add(ControlKind::kLabel, -1, Literal("Add to: " + defaults.archive), 0, 0, 74);
    d.Add(ControlKind::kLabel, -1, "File &name:", 1, 0, 11);
    AddEdit(d, kIdNames, "", 1, 12, 62, 1999);
    d.Add(ControlKind::kLabel, kIdFolder, "", 2, 0, 74);
    tui::Control& list = d.Add(ControlKind::kList, kIdList, "", 3, 0, 36, 11);
    list.list.multiple = true;
    d.Add(ControlKind::kLabel, -1, "Ac&tion:", 3, 38, 20);
    for (int i = 0; i < 4; ++i)
        AddRadio(d, kIdAction0 + i, kActionTexts[i], 4 + i, 38, 1, c.action == i);
    d.Add(ControlKind::kLabel, -1, "Co&mpression:", 8, 38, 20);
    for (int i = 0; i < 5; ++i)
        AddRadio(d, kIdCompression0 + i, kCompressionTexts[i], 9 + i, 38, 2, c.compression == i);
    if (d.CheckedRadio(1) == 0) d.Find(kIdAction0)->checked = true;
    if (d.CheckedRadio(2) == 0) d.Find(kIdCompression0 + kNormal)->checked = true;
    AddCheck(d, kIdRecurse, "&Recurse Folders", 14, 0, c.recurse, 34);
    AddCheck(d, kIdSaveInfo, "&Save Extra Folder Info", 14, 38, c.save_folder_info, 34);
    AddCheck(d, kIdShortNames, "Store Filenames In DOS &8.3 Format", 15, 0, c.short_names, 40);
    // Empty writes one file; a size such as 100m writes NAME.z01, NAME.z02, ..., NAME.zip.
    d.Add(ControlKind::kLabel, -1, "Split into &volumes of:", 15, 42, 23);
    AddEdit(d, kIdVolumeSize, "", 15, 65, 10, 20);
    // The cipher counts only when a password is set (the Password... button).
    d.Add(ControlKind::kLabel, -1, "Encr&yption:", 16, 0, 12);
    for (int i = 0; i < 4; ++i)
        AddRadio(d, kIdEncryption0 + i, kEncryptionTexts[i], 16, 12 + 15 * i, 3, c.encryption == i,
                 15);
    if (d.CheckedRadio(3) == 0) d.Find(kIdEncryption0)->checked = true;
    AddButton(d, tui::kIdOk, "&Add", 17, 14, true);
    AddButton(d, kIdPasswordButton, "&Password...", 17, 28);
    AddButton(d, tui::kIdCancel, "Cancel", 17, 49, false, true);
    RefreshBrowser(d, state->browse);

    std::weak_ptr<AddState> weak = state;
    d.on_command = [weak](tui::Dialog& dlg, int id) {
        if (id != kIdList) return ButtonsEnd(dlg, id);
        auto s = weak.lock();
        tui::Control* l = dlg.Find(kIdList);
        if (!s || !l || l->list.cursor >= s->browse.entries.size()) return false;
        const BrowserEntry& e = s->browse.entries[l->list.cursor];
        if (!e.folder) return true;  // Enter on a file adds it with the rest
        s->browse.folder = tui::EnterFolder(s->browse.folder, e.name);
        RefreshBrowser(dlg, s->browse);
        return false;
    };
    d.FocusFirst();
    return d;
}

std::optional<AddRequest> ReadAddRequest(tui::Dialog& d, const AddState& state,
                                         std::string& error) {
    AddRequest r;
    r.folder = state.browse.folder;
    r.names = SplitQuoted(EditText(d, kIdNames), " \t;");
    if (const tui::Control* l = d.Find(kIdList)) {
        std::vector<size_t> rows = l->list.Selection();
        // Enter on a file that was not marked takes that file too.
        if (d.result == kIdList && !l->list.IsSelected(l->list.cursor))
            rows.push_back(l->list.cursor);
        for (size_t row : rows) {
            if (row < state.browse.entries.size() && state.browse.entries[row].name != "..")
                r.names.push_back(state.browse.entries[row].name);
        }
    }
    if (r.names.empty()) {
        error = "Type the names of the files to add, or mark them in the list.";
        return std::nullopt;
    }
    r.choices.action = std::max(0, d.CheckedRadio(1) - kIdAction0);
    r.choices.compression = std::max(0, d.CheckedRadio(2) - kIdCompression0);
    r.choices.recurse = Checked(d, kIdRecurse);
    r.choices.save_folder_info = Checked(d, kIdSaveInfo);
    r.choices.short_names = Checked(d, kIdShortNames);
    r.choices.encryption = std::max(0, d.CheckedRadio(3) - kIdEncryption0);
    const std::string volume = EditText(d, kIdVolumeSize);
    if (volume.find_first_not_of(' ') != std::string::npos) {
        const size_t from = volume.find_first_not_of(' ');
        const std::string typed = volume.substr(from, volume.find_last_not_of(' ') + 1 - from);
        std::optional<uint64_t> size = zip::ParseVolumeSize(typed);
        if (!size) {
            error = "\"" + typed + "\" is not a size (bytes, or a number with k, m or g)";
            return std::nullopt;
        }
        if (*size < zip::kMinVolumeSize) {
            error = "A volume must hold at least 64k (65536 bytes)";
            return std::nullopt;
        }
        r.split_size = *size;
    }
    r.password = state.password;
    r.password_mask = state.mask;
    return r;
}

// ---- Extract ----

tui::Dialog MakeExtractDialog(const ExtractDefaults& defaults) {
    tui::Dialog d = NewDialog("Extract", 11, 66);
    d.Add(ControlKind::kLabel, -1, "E&xtract To:", 0, 0, 12);
    AddEdit(d, kIdTarget, defaults.target, 0, 13, 38);
    AddButton(d, kIdBrowse, "&Browse...", 0, 52);
    d.Add(ControlKind::kLabel, -1, "Files", 2, 0, 10);
    const bool selected = defaults.has_selection && !defaults.default_all;
    AddRadio(d, kIdSelected, "&Selected Files", 3, 2, 1, selected).enabled = defaults.has_selection;
    AddRadio(d, kIdAll, "&All Files", 4, 2, 1, !selected);
    AddRadio(d, kIdFiles, "F&iles:", 5, 2, 1, false, 10);
    AddEdit(d, kIdPattern, "", 5, 13, 38);
    AddCheck(d, kIdOverwrite, "&Overwrite Existing Files", 7, 0, defaults.overwrite);
    AddCheck(d, kIdUseFolders, "&Use Folder Names", 8, 0, defaults.use_folder_names);
    AddButton(d, tui::kIdOk, "&Extract", 10, 8, true);
    AddButton(d, kIdPasswordButton, "&Password...", 10, 24);
    AddButton(d, tui::kIdCancel, "Cancel", 10, 44, false, true);
    d.on_command = [](tui::Dialog& dlg, int id) { return ButtonsEnd(dlg, id); };
    d.FocusFirst();
    return d;
}

std::optional<ExtractRequest> ReadExtractRequest(tui::Dialog& d, std::string& error) {
    ExtractRequest r;
    r.target = EditText(d, kIdTarget);
    while (r.target.size() > 1 && r.target.back() == '/') r.target.pop_back();
    if (r.target.empty()) {
        error = "Type the folder to extract to.";
        return std::nullopt;
    }
    const int which = d.CheckedRadio(1);
    r.which = which == kIdSelected ? ExtractWhich::kSelected
              : which == kIdFiles  ? ExtractWhich::kPattern
                                   : ExtractWhich::kAll;
    // Typing a pattern is choosing it, even when its radio was not pressed.
    const std::string pattern = EditText(d, kIdPattern);
    if (r.which == ExtractWhich::kPattern || (which != kIdSelected && !pattern.empty())) {
        r.which = ExtractWhich::kPattern;
        r.patterns = SplitPatterns(pattern);
        if (r.patterns.empty()) {
            error = "Type the names or wildcards of the files to extract.";
            return std::nullopt;
        }
    }
    r.overwrite = Checked(d, kIdOverwrite);
    r.use_folder_names = Checked(d, kIdUseFolders);
    return r;
}

// ---- Delete ----

tui::Dialog MakeDeleteDialog(const DeleteDefaults& defaults) {
    tui::Dialog d = NewDialog("Delete", 5, 52);
    AddRadio(d, kIdSelected, "&Selected Files", 0, 0, 1, defaults.has_selection).enabled =
        defaults.has_selection;
    AddRadio(d, kIdFiles, "&Files:", 1, 0, 1, !defaults.has_selection, 10);
    AddEdit(d, kIdPattern, "", 1, 11, 40);
    // Last and never the default: removing the archive file is always chosen on purpose.
    AddRadio(d, kIdEntire, "&Entire Archive", 2, 0, 1, false);
    AddButton(d, tui::kIdOk, "&Delete", 4, 10, true);
    AddButton(d, tui::kIdCancel, "Cancel", 4, 28, false, true);
    d.on_command = [](tui::Dialog& dlg, int id) { return ButtonsEnd(dlg, id); };
    // Typing names means deleting those names, whatever was chosen before.
    d.on_edit = [](tui::Dialog& dlg, int id) {
        if (id != kIdPattern || EditText(dlg, kIdPattern).empty()) return;
        for (tui::Control& c : dlg.controls)
            if (c.kind == ControlKind::kRadio && c.group == 1) c.checked = c.id == kIdFiles;
    };
    // The focus starts in the name field, so typed letters are names and never pick an option.
    for (size_t i = 0; i < d.controls.size(); ++i)
        if (d.controls[i].id == kIdPattern) d.focus = i;
    return d;
}

std::optional<DeleteRequest> ReadDeleteRequest(tui::Dialog& d, std::string& error) {
    DeleteRequest r;
    const int which = d.CheckedRadio(1);
    const std::string pattern = EditText(d, kIdPattern);
    if (which == kIdEntire) {
        r.which = DeleteWhich::kEntireArchive;
    } else if (which == kIdSelected) {
        r.which = DeleteWhich::kSelected;
    } else {
        r.which = DeleteWhich::kPattern;
        r.patterns = SplitPatterns(pattern);
        if (r.patterns.empty()) {
            error = "Type the names or wildcards of the files to delete.";
            return std::nullopt;
        }
    }
    return r;
}

// ---- Password ----

tui::Dialog MakePasswordDialog(const PasswordDefaults& defaults) {
    tui::Dialog d;
    d.title = "Password";
    d.cols = 62;
    d.Add(ControlKind::kLabel, -1, "&Password:", 0, 0, 11);
    AddEdit(d, kIdPassword, defaults.password, 0, 12, 48, kMaxPassword).password = defaults.mask;
    AddCheck(d, kIdMask, "&Mask Password", 1, 12, defaults.mask, 30);
    int row = 3;
    for (const std::string& line : Wrap(kPasswordVisibilityNote, 60))
        d.Add(ControlKind::kLabel, -1, Literal(line), row++, 0, 60);
    AddButton(d, tui::kIdOk, "OK", row + 1, 16, true);
    AddButton(d, tui::kIdCancel, "Cancel", row + 1, 34, false, true);
    d.rows = row + 2;
    d.on_command = [](tui::Dialog& dlg, int id) {
        if (id == kIdMask) {
            dlg.Find(kIdPassword)->password = Checked(dlg, kIdMask);
            return false;
        }
        return ButtonsEnd(dlg, id);
    };
    d.FocusFirst();
    return d;
}

tui::Dialog MakeConfirmDialog() {
    tui::Dialog d;
    d.title = "Password";
    d.rows = 4;
    d.cols = 50;
    d.Add(ControlKind::kLabel, -1, kLabelReenterPassword, 0, 0, 48);
    AddEdit(d, kIdPassword, "", 1, 0, 48, kMaxPassword).password = true;
    AddButton(d, tui::kIdOk, "OK", 3, 12, true);
    AddButton(d, tui::kIdCancel, "Cancel", 3, 28, false, true);
    d.on_command = [](tui::Dialog& dlg, int id) { return ButtonsEnd(dlg, id); };
    d.FocusFirst();
    return d;
}

}  // namespace dialogs
