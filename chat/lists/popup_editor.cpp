#include "chat/lists/popup_editor.h"

#include <cstdio>

#include "chat/core/options.h"
#include "chat/core/windows/window_print.h"
#include "chat/core/windows/window_table.h"
#include "chat/script/script_state.h"
#include "platform/profile.h"

namespace chat {
namespace {

int& SwitchOf(PopupKind kind) {
    ChatOptions& o = Options();
    switch (kind) {
        case PopupKind::kQuery:
            return o.qp;
        case PopupKind::kNickList:
            return o.lp;
        case PopupKind::kBar:
            return o.bp;
        default:
            return o.mp;
    }
}

const char* TitleOf(PopupKind kind) {
    switch (kind) {
        case PopupKind::kQuery:
            return "Vesk Popups: query";
        case PopupKind::kNickList:
            return "Vesk Popups: nick list";
        case PopupKind::kBar:
            return "Vesk Popups: menu bar";
        default:
            return "Vesk Popups: status and channel";
    }
}

void Tell(const std::string& text) {
    const Frontend& fe = CurrentFrontend();
    if (fe.message_box) {
        fe.message_box("Vesk32", text);
    } else {
        Print(Windows().statwin, "*** " + text, 1);
    }
}

void RememberFile(const std::string& path) {
    Script().pfile = path;
    if (!Options().szINI.empty())
        platform::WritePrivateProfileString("Files", "popups", path, Options().szINI);
}

constexpr PopupKind kKinds[] = {PopupKind::kStatus, PopupKind::kQuery, PopupKind::kNickList,
                                PopupKind::kBar};

}  // namespace

std::vector<std::string> PopupLines(PopupKind kind) {
    std::vector<std::string> lines;
    for (const Line& l : PopupList(kind)) lines.push_back(l.text);
    return lines;
}

size_t TakePopupLines(PopupKind kind, const std::vector<std::string>& lines) {
    LineList taken;
    size_t left_out = 0;
    for (const std::string& line : lines) {
        if (line.find_first_not_of(' ') == std::string::npos) continue;
        if (taken.size() >= kMaxPopupLines) {
            ++left_out;
            continue;
        }
        aline(taken, line, false);
    }
    PopupList(kind) = std::move(taken);
    return left_out;
}

bool PopupSwitch(PopupKind kind) {
    return SwitchOf(kind) != 0;
}

void SetPopupSwitch(PopupKind kind, bool on) {
    SwitchOf(kind) = on ? 1 : 0;
}

bool EditPopupList(PopupKind kind) {
    const auto& edit = Script().hooks.edit_lines;
    if (!edit) {
        Tell("Unable to display dialog");
        return false;
    }
    std::optional<std::vector<std::string>> edited = edit(TitleOf(kind), PopupLines(kind));
    if (!edited) return false;
    const size_t left_out = TakePopupLines(kind, *edited);
    if (left_out)
        Tell("A popup menu keeps " + std::to_string(kMaxPopupLines) + " lines: the last " +
             std::to_string(left_out) + (left_out == 1 ? " line was" : " lines were") +
             " left out");
    return true;
}

bool LoadPopupsFrom(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "r");
    if (!f) return false;
    std::fclose(f);
    if (!readpopups(path, Windows().statwin)) return false;
    RememberFile(path);
    return true;
}

bool SavePopupsTo(const std::string& path) {
    if (!savepopups(path)) return false;
    RememberFile(path);
    return true;
}

PopupDialogFn& PopupEditorDialog() {
    static PopupDialogFn dialog;
    return dialog;
}

void RunPopupEditor() {
    const PopupDialogFn& dialog = PopupEditorDialog();
    if (!dialog) {
        Tell("Unable to display dialog");
        return;
    }
    const PopupState lists = Popups();
    bool switches[4];
    for (size_t i = 0; i < 4; ++i) switches[i] = PopupSwitch(kKinds[i]);
    const std::string file = Script().pfile;
    if (dialog()) {
        if (!savepopups(PopupsFile())) Tell("Unable to save the popups to " + PopupsFile());
        saveoptions();
        return;
    }
    Popups() = lists;
    for (size_t i = 0; i < 4; ++i) SetPopupSwitch(kKinds[i], switches[i]);
    if (Script().pfile != file) RememberFile(file);
}

}  // namespace chat
