#include "platform/tui/file_dialog.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "platform/tui/folder_listing.h"
#include "platform/tui/widgets.h"

namespace tui {

namespace fs = std::filesystem;

namespace {

constexpr int kNameId = 100;
constexpr int kFolderId = 101;
constexpr int kListId = 102;

std::string Literal(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c == '&') out.push_back('&');
        out.push_back(c);
    }
    return out;
}

bool IsFolder(const std::string& path) {
    std::error_code ec;
    return fs::is_directory(path, ec);
}

struct FileDialogState {
    std::string folder;
    std::string chosen;
    std::vector<FolderEntry> entries;
    std::string patterns;
    bool choose_folder = false;

    void Fill(Dialog& d) {
        entries = ListFolder(folder, patterns);
        Control* list = d.Find(kListId);
        list->items.clear();
        for (const FolderEntry& e : entries) list->items.push_back(e.name + (e.folder ? "/" : ""));
        list->list = ListModel{};
        list->list.SetPage(static_cast<size_t>(std::max(list->height, 1)));
        list->list.SetCount(list->items.size());
        d.Find(kFolderId)->text = Literal("Folder: " + folder);
    }

    // Returns true when the dialog may end with a choice.
    bool Choose(Dialog& d, const std::string& name) {
        const std::string target = !name.empty() && name[0] == '/'
                                       ? fs::path(name).lexically_normal().string()
                                       : EnterFolder(folder, name);
        if (IsFolder(target) && !(choose_folder && name.empty())) {
            folder = target;
            d.Find(kNameId)->edit.Take();
            Fill(d);
            return false;
        }
        chosen = name.empty() ? folder : target;
        return true;
    }
};

}  // namespace

bool RunFileDialog(const std::string& title, std::string& path, std::string_view patterns,
                   bool choose_folder) {
    const Screen& screen = GetScreen();
    FileDialogState st;
    st.patterns = patterns;
    st.choose_folder = choose_folder;
    std::string start_name;
    if (path.empty()) {
        std::error_code ec;
        st.folder = fs::current_path(ec).string();
        if (ec) st.folder = "/";
    } else if (IsFolder(path)) {
        st.folder = EnterFolder(path, ".");
    } else {
        const fs::path p = fs::path(path);
        st.folder = EnterFolder(p.has_parent_path() ? p.parent_path().string() : ".", ".");
        start_name = p.filename().string();
    }

    Dialog d;
    d.title = title;
    d.cols = std::max(30, std::min(70, screen.cols - 4));
    d.rows = std::max(8, std::min(20, screen.rows - 4));
    d.Add(ControlKind::kLabel, -1, choose_folder ? "&Name:" : "File &name:", 0, 1, 11);
    Control& name = d.Add(ControlKind::kEdit, kNameId, "", 0, 13, d.cols - 14);
    name.edit.limit = 4096;
    name.edit.SetText(DecodeText(start_name));
    d.Add(ControlKind::kLabel, kFolderId, "", 1, 1, d.cols - 2);
    d.Add(ControlKind::kList, kListId, "", 2, 1, d.cols - 2, d.rows - 4);
    const int x = (d.cols - 20) / 2;
    d.Add(ControlKind::kButton, kIdOk, "OK", d.rows - 1, x, 8).is_default = true;
    d.Add(ControlKind::kButton, kIdCancel, "Cancel", d.rows - 1, x + 10, 10).is_cancel = true;
    st.Fill(d);
    d.on_command = [&st](Dialog& dlg, int id) {
        if (id == kIdCancel) return true;
        if (id == kListId) {
            const size_t row = dlg.Find(kListId)->list.cursor;
            if (row >= st.entries.size()) return false;
            if (!st.Choose(dlg, st.entries[row].name)) return false;
            dlg.result = kIdOk;
            return false;
        }
        if (id == kIdOk) return st.Choose(dlg, EncodeUtf8(dlg.Find(kNameId)->edit.text));
        return false;
    };
    d.focus = 1;
    if (RunDialog(d) != kIdOk) return false;
    path = st.chosen;
    return true;
}

}  // namespace tui
