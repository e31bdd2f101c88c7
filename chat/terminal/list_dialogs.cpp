#include "chat/terminal/list_dialogs.h"

#include <algorithm>

#include "chat/core/windows/line_list.h"
#include "platform/tui/dialog_model.h"
#include "platform/tui/text.h"
#include "platform/tui/widgets.h"

namespace chat {
namespace {

enum FolderControl : int {
    kJoinButton = tui::kIdOk,
    kCancelButton = tui::kIdCancel,
    kField = 10,
    kRows = 11,
    kNamesButton = 12,
    kAddButton = 13,
    kDeleteButton = 14,
    kCloseButton = 15,
    kPopUpBox = 16,
};

std::string FieldText(tui::Dialog& d, int id = kField) {
    return tui::EncodeUtf8(d.Find(id)->edit.text);
}

enum OptionsControl : int {
    kMatch = 20,
    kRecent = 21,
    kClear = 22,
    kMatchTopics = 23,
    kExclude = 24,
    kExclusion = 25,
    kAlnum = 26,
    kCatchUrls = 27,
    kNoSort = 28,
    kMin = 29,
    kMax = 30,
    kListButton = 31,
    kLockButton = 32,
    kPassword = 40,
    kConfirm = 41,
    kLockPrompt = 42,
};

void SetText(tui::Control& c, const std::string& text) {
    c.edit.SetText(tui::DecodeText(text));
}

}  // namespace

std::optional<FolderChoice> RunFolderDialog(const std::vector<std::string>& channels,
                                            const std::string& field, bool pop_up) {
    tui::Dialog d;
    d.title = "Vesk Channels Folder    ";
    d.rows = 14;
    d.cols = 48;
    d.Add(tui::ControlKind::kLabel, 0, "&Channel:", 0, 0, 9);
    tui::Control& edit = d.Add(tui::ControlKind::kEdit, kField, "", 0, 10, 22);
    edit.edit.text = tui::DecodeText(field);
    edit.edit.cursor = edit.edit.text.size();
    tui::Control& rows = d.Add(tui::ControlKind::kList, kRows, "", 2, 0, 32, 10);
    rows.items = channels;
    rows.list.multiple = true;
    rows.list.SetCount(channels.size());
    d.Add(tui::ControlKind::kButton, kJoinButton, "&Join", 2, 34, 12).is_default = true;
    d.Add(tui::ControlKind::kButton, kNamesButton, "&Names", 4, 34, 12);
    d.Add(tui::ControlKind::kButton, kAddButton, "&Add", 6, 34, 12);
    d.Add(tui::ControlKind::kButton, kDeleteButton, "&Delete", 8, 34, 12);
    d.Add(tui::ControlKind::kButton, kCloseButton, "C&lose", 10, 34, 12);
    d.Add(tui::ControlKind::kButton, kCancelButton, "Cancel", 12, 34, 12).is_cancel = true;
    d.Add(tui::ControlKind::kCheck, kPopUpBox, "&Pop up folder on connect", 12, 0, 30).checked =
        pop_up;
    d.FocusFirst();
    d.on_command = [](tui::Dialog& dialog, int id) {
        tui::Control& list = *dialog.Find(kRows);
        if (id == kAddButton) {
            const std::string name = FolderName(FieldText(dialog));
            const bool present =
                std::any_of(list.items.begin(), list.items.end(),
                            [&name](const std::string& row) { return EqualNoCase(row, name); });
            if (name.empty() || present) {
                tui::Beep();
                return false;
            }
            list.items.push_back(name);
            list.list.SetCount(list.items.size());
            return false;
        }
        if (id == kDeleteButton) {
            const std::vector<size_t> chosen = list.list.Selection();
            if (list.items.empty() || chosen.empty()) {
                tui::Beep();
                return false;
            }
            for (auto it = chosen.rbegin(); it != chosen.rend(); ++it)
                list.items.erase(list.items.begin() + static_cast<std::ptrdiff_t>(*it));
            list.list.selected.assign(list.items.size(), false);
            list.list.SetCount(list.items.size());
            return false;
        }
        return id == kJoinButton || id == kRows || id == kNamesButton || id == kCloseButton ||
               id == kCancelButton;
    };
    const int result = tui::RunDialog(d);
    FolderChoice choice;
    switch (result) {
        case kJoinButton:
        case kRows:
            choice.action = FolderChoice::kJoin;
            break;
        case kNamesButton:
            choice.action = FolderChoice::kNames;
            break;
        case kCloseButton:
            choice.action = FolderChoice::kClose;
            break;
        default:
            return std::nullopt;
    }
    const tui::Control& list = *d.Find(kRows);
    choice.channels = list.items;
    for (size_t row : list.list.Selection())
        if (row < list.items.size()) choice.chosen.push_back(list.items[row]);
    choice.field = FieldText(d);
    choice.pop_up = d.Find(kPopUpBox)->checked;
    return choice;
}

tui::Dialog MakeListOptionsDialog(const ListOptions& shown, bool relist, bool locked) {
    using tui::ControlKind;
    tui::Dialog d;
    d.title = relist ? "Channel List Options" : "List Channels   ";
    d.rows = 17;
    d.cols = 60;
    d.Add(ControlKind::kLabel, 0, "&Match text:", 0, 0, 12);
    SetText(d.Add(ControlKind::kEdit, kMatch, "", 0, 13, 30), shown.match);
    d.Add(ControlKind::kButton, kClear, "Cl&ear", 0, 45, 13);
    d.Add(ControlKind::kLabel, 0, "Recent:", 1, 0, 12);
    tui::Control& recent = d.Add(ControlKind::kList, kRecent, "", 1, 13, 30, 3);
    recent.items = shown.recent;
    recent.list.SetCount(recent.items.size());
    d.Add(ControlKind::kCheck, kMatchTopics, "Match text in &topics", 5, 0, 40).checked =
        shown.matchtext;
    d.Add(ControlKind::kCheck, kExclude, "&Hide channels which match these criteria:", 6, 0, 46)
        .checked = shown.exclude;
    SetText(d.Add(ControlKind::kEdit, kExclusion, "", 7, 4, 40), shown.exclusion);
    d.Add(ControlKind::kCheck, kAlnum, "Hide non-&alphanumeric channels", 8, 0, 40).checked =
        shown.hnanc;
    d.Add(ControlKind::kCheck, kCatchUrls, "Catch &URLs in topics", 9, 0, 40).checked =
        shown.extracturls;
    d.Add(ControlKind::kCheck, kNoSort, "&Don't sort the list", 10, 0, 40).checked = shown.dscl;
    d.Add(ControlKind::kLabel, 0, "Mi&nimum users:", 12, 0, 15);
    SetText(d.Add(ControlKind::kEdit, kMin, "", 12, 16, 6), shown.min);
    d.Add(ControlKind::kLabel, 0, "Ma&ximum users:", 12, 26, 15);
    SetText(d.Add(ControlKind::kEdit, kMax, "", 12, 42, 6), shown.max);
    d.Add(ControlKind::kButton, tui::kIdOk, "OK", 15, 0, 12).is_default = true;
    d.Add(ControlKind::kButton, tui::kIdCancel, "Cancel", 15, 14, 12).is_cancel = true;
    d.Add(ControlKind::kButton, kListButton, relist ? "&Relist!" : "&List!", 15, 28, 12);
    d.Add(ControlKind::kButton, kLockButton, "Loc&k", 15, 42, 12);
    std::string exclusion;
    ApplyLockState(d, locked, exclusion);
    d.FocusFirst();
    return d;
}

void ApplyLockState(tui::Dialog& d, bool locked, std::string& exclusion) {
    tui::Control& words = *d.Find(kExclusion);
    if (locked && words.enabled) {
        // Hidden, not only frozen: the words are what the lock protects.
        exclusion = tui::EncodeUtf8(words.edit.text);
        words.edit.SetText(U"");
    } else if (!locked && !words.enabled) {
        SetText(words, exclusion);
    }
    for (int id : {kExclude, kExclusion, kAlnum}) d.Find(id)->enabled = !locked;
    d.Find(kLockButton)->text = locked ? "Unloc&k" : "Loc&k";
}

ListOptions ListOptionsOf(tui::Dialog& d, const std::string& hidden_exclusion) {
    ListOptions o;
    o.match = FieldText(d, kMatch);
    o.recent = d.Find(kRecent)->items;
    const tui::Control& words = *d.Find(kExclusion);
    o.exclusion = words.enabled ? tui::EncodeUtf8(words.edit.text) : hidden_exclusion;
    o.matchtext = d.Find(kMatchTopics)->checked;
    o.exclude = d.Find(kExclude)->checked;
    o.hnanc = d.Find(kAlnum)->checked;
    o.extracturls = d.Find(kCatchUrls)->checked;
    o.dscl = d.Find(kNoSort)->checked;
    o.min = FieldText(d, kMin);
    o.max = FieldText(d, kMax);
    return o;
}

std::optional<ListOptionsChoice> RunListOptionsDialog(const ListOptions& shown, bool relist) {
    tui::Dialog d = MakeListOptionsDialog(shown, relist, OptionsLocked());
    std::string exclusion = OptionsLocked() ? shown.exclusion : std::string();
    d.on_command = [&exclusion](tui::Dialog& dialog, int id) {
        switch (id) {
            case kRecent: {
                // Enter on a recent text takes it into the field.
                tui::Control& recent = *dialog.Find(kRecent);
                const size_t row = recent.list.cursor;
                if (row < recent.items.size()) SetText(*dialog.Find(kMatch), recent.items[row]);
                return false;
            }
            case kClear: {
                tui::Control& match = *dialog.Find(kMatch);
                ClearMatchText(match.edit.text.empty());
                if (match.edit.text.empty()) {
                    tui::Control& recent = *dialog.Find(kRecent);
                    recent.items.clear();
                    recent.list.SetCount(0);
                }
                match.edit.SetText(U"");
                return false;
            }
            case kLockButton:
                RunLockDialog();
                ApplyLockState(dialog, OptionsLocked(), exclusion);
                return false;
            default:
                return id == tui::kIdOk || id == tui::kIdCancel || id == kListButton;
        }
    };
    const int result = tui::RunDialog(d);
    if (result != tui::kIdOk && result != tui::kIdCancel && result != kListButton)
        return std::nullopt;
    ListOptionsChoice choice;
    choice.action =
        result == kListButton ? ListOptionsChoice::kListOrRelist : ListOptionsChoice::kStore;
    choice.options = ListOptionsOf(d, exclusion);
    return choice;
}

bool RunLockDialog() {
    using tui::ControlKind;
    const bool locked = OptionsLocked();
    tui::Dialog d;
    d.title = "Vesk Lock Options";
    d.rows = 7;
    d.cols = 54;
    d.Add(ControlKind::kLabel, kLockPrompt,
          locked ? "Enter a password to unlock options." : "Enter a password to lock options.", 0,
          0, 54);
    d.Add(ControlKind::kLabel, 0, "&Password:", 2, 0, 14);
    d.Add(ControlKind::kEdit, kPassword, "", 2, 14, 28).password = true;
    d.Add(ControlKind::kLabel, 0, "&Confirm:", 3, 0, 14);
    tui::Control& confirm = d.Add(ControlKind::kEdit, kConfirm, "", 3, 14, 28);
    confirm.password = true;
    confirm.enabled = !locked;
    d.Add(ControlKind::kButton, tui::kIdOk, "OK", 5, 12, 12).is_default = true;
    d.Add(ControlKind::kButton, tui::kIdCancel, "Cancel", 5, 28, 12).is_cancel = true;
    d.FocusFirst();
    d.on_command = [locked](tui::Dialog& dialog, int id) {
        if (id != tui::kIdOk) return id == tui::kIdCancel;
        tui::Control& password = *dialog.Find(kPassword);
        tui::Control& confirm = *dialog.Find(kConfirm);
        const std::string typed = tui::EncodeUtf8(password.edit.text);
        std::string refused;
        if (locked) {
            if (UnlockListOptions(typed)) return true;
        } else {
            refused = LockListOptions(typed, tui::EncodeUtf8(confirm.edit.text));
            if (refused.empty()) return true;
            // Say why, so that a password of the wrong characters is not refused in silence.
            dialog.Find(kLockPrompt)->text = refused.substr(refused.find_first_not_of("* "));
        }
        password.edit.SetText(U"");
        confirm.edit.SetText(U"");
        for (size_t i = 0; i < dialog.controls.size(); ++i)
            if (dialog.controls[i].id == kPassword) dialog.focus = i;
        tui::Beep();
        return false;
    };
    return tui::RunDialog(d) == tui::kIdOk;
}

}  // namespace chat
