// tui_demo: every widget of the terminal toolkit on one screen, for trying it out and for the
// end-to-end test that drives it through tmux.
#include <cstdio>
#include <string>
#include <vector>

#include "platform/event_loop.h"
#include "platform/tui/file_dialog.h"
#include "platform/tui/screen.h"
#include "platform/tui/widgets.h"

namespace {

using namespace tui;

enum Command {
    kOpenDialog = 1,
    kMessage,
    kStep,
    kExit,
    kSelectAll,
    kSortName,
    kSortSize,
    kAbout,
    kRename,
    kNew,
    kAdd,
    kContents,
    kOpenFile,
};

struct Demo {
    MenuBar menu;
    Toolbar tools;
    std::string name = "untitled";
    ListView list;
    TextView log;
    LineEditor input;
    std::vector<std::pair<std::string, int>> rows;
    uint32_t meter = 0;
    bool list_focused = false;
    std::string status = "Ready";

    Rect ListRect() const {
        const Screen& s = GetScreen();
        const int body = std::max(0, s.rows - 5);
        return {2, 0, body / 2, s.cols};
    }
    Rect LogRect() const {
        const Screen& s = GetScreen();
        const Rect l = ListRect();
        return {l.y + l.height, 0, std::max(0, s.rows - 3 - (l.y + l.height)), s.cols};
    }
    void Log(const std::string& text) {
        log.Append(MakeLine(std::string_view(text)), GetScreen().cols);
        RequestRedraw();
    }
};

Demo& App() {
    static Demo demo;
    return demo;
}

void Sort(bool by_size) {
    Demo& d = App();
    auto order = SortedOrder(d.rows.size(), [&](size_t a, size_t b) {
        return by_size ? d.rows[a].second < d.rows[b].second : d.rows[a].first < d.rows[b].first;
    });
    std::vector<std::pair<std::string, int>> sorted;
    for (size_t i : order) sorted.push_back(d.rows[i]);
    d.rows = std::move(sorted);
    d.list.model.Reorder(order);
    d.list.sort_column = by_size ? 1 : 0;
}

void OpenDialog() {
    Dialog dlg;
    dlg.title = "Sample Dialog";
    dlg.cols = 40;
    dlg.rows = 9;
    dlg.Add(ControlKind::kLabel, -1, "&Name:", 0, 1, 6);
    dlg.Add(ControlKind::kEdit, 10, "", 0, 8, 30);
    dlg.Add(ControlKind::kCheck, 11, "&Remember", 1, 1, 14);
    dlg.Add(ControlKind::kRadio, 12, "&Fast", 2, 1, 10).group = 1;
    dlg.Add(ControlKind::kRadio, 13, "&Slow", 2, 14, 10).group = 1;
    Control& list = dlg.Add(ControlKind::kList, 14, "", 3, 1, 20, 3);
    list.items = {"alpha", "beta", "gamma", "delta"};
    list.list.SetCount(list.items.size());
    dlg.Add(ControlKind::kButton, kIdOk, "OK", 7, 8, 8).is_default = true;
    dlg.Add(ControlKind::kButton, kIdCancel, "Cancel", 7, 20, 10).is_cancel = true;
    dlg.controls[3].checked = true;
    const int r = RunDialog(dlg);
    Control* name = dlg.Find(10);
    App().Log("dialog " + std::to_string(r) + " name=" + EncodeUtf8(name->edit.text) +
              " remember=" + (dlg.Find(11)->checked ? "1" : "0") +
              " radio=" + std::to_string(dlg.CheckedRadio(1)) +
              " list=" + std::to_string(dlg.Find(14)->list.cursor));
}

void RunCommand(int command) {
    Demo& d = App();
    switch (command) {
        case kOpenDialog:
            OpenDialog();
            break;
        case kMessage: {
            const int r =
                ShowMessageBox("Question", "Keep the changes?", MessageButtons::kYesNoCancel,
                               [] { App().Log("help shown"); });
            d.Log("message " + std::to_string(r));
            break;
        }
        case kStep:
            d.meter = (d.meter + 25) % 125;
            break;
        case kExit:
            platform::PostQuitMessage(0);
            break;
        case kSelectAll:
            d.list.model.SelectAll(true);
            break;
        case kSortName:
            Sort(false);
            break;
        case kSortSize:
            Sort(true);
            break;
        case kRename:
            if (InputBox("Rename", "New name for R&D:", d.name)) d.Log("renamed " + d.name);
            break;
        case kContents: {
            std::vector<std::string> lines;
            for (int i = 1; i <= 100; ++i) lines.push_back("topic line " + std::to_string(i));
            ShowTextViewer("Contents", lines);
            break;
        }
        case kOpenFile: {
            std::string path;
            if (RunFileDialog("Open", path, "*.txt")) d.Log("opened " + path);
            break;
        }
        case kAbout:
            ShowMessageBox("About", "Terminal toolkit demo", MessageButtons::kOk);
            break;
        default:
            break;
    }
    d.Log("command " + std::to_string(command));
}

void Draw() {
    Demo& d = App();
    const Screen& s = GetScreen();
    DrawMenuBar(d.menu, s.cols);
    d.tools.row = 1;
    DrawToolbar(d.tools, s.cols);
    DrawListView(d.list, d.ListRect(), d.list_focused);
    DrawTextView(d.log, d.LogRect());
    DrawMeter({s.rows - 3, 0, 1, s.cols}, 100, d.meter, "");
    DrawEditor(d.input, {s.rows - 2, 0, 1, s.cols}, !d.list_focused);
    PutText(s.rows - 1, 0, s.cols,
            d.status + " | sel=" + std::to_string(d.list.model.Selection().size()) + " " +
                std::to_string(s.cols) + "x" + std::to_string(s.rows),
            GetTheme().bar);
    DrawMenuPopups(d.menu);
}

bool OnKey(const Key& key) {
    Demo& d = App();
    if (MenuBarKey(d.menu, key)) return true;
    if (key.code == kKeyResize) {
        d.status = "Resized";
        return true;
    }
    if (key.Is(U'q', false, true)) {
        platform::PostQuitMessage(0);
        return true;
    }
    if (key.Is(kKeyF1 + 1)) {
        RunCommand(kOpenDialog);
        return true;
    }
    if (key.Is(kKeyTab)) {
        d.list_focused = !d.list_focused;
        return true;
    }
    if (const int command = ToolbarClick(d.tools, key)) {
        RunCommand(command);
        return true;
    }
    if (key.code == kKeyMouse) {
        d.status = "mouse " + std::to_string(key.x) + "," + std::to_string(key.y) + " b" +
                   std::to_string(key.button) + (key.double_click ? " double" : "");
        int header = -1;
        const ListResult r = ListViewClick(d.list, d.ListRect(), key, &header);
        if (header >= 0) Sort(header == 1);
        if (r == ListResult::kActivate) d.Log("activate " + d.rows[d.list.model.cursor].first);
        if (r != ListResult::kUnhandled) d.list_focused = true;
        return true;
    }
    if (d.list_focused) {
        const ListResult r = d.list.model.HandleKey(key);
        if (r == ListResult::kActivate) d.Log("activate " + d.rows[d.list.model.cursor].first);
        return r != ListResult::kUnhandled;
    }
    const Rect lr = d.LogRect();
    if (d.log.HandleKey(key, lr.width, lr.height)) return true;
    switch (d.input.HandleKey(key)) {
        case EditResult::kEnter: {
            const std::u32string line = d.input.Take();
            d.input.history.Add(line);
            d.Log("typed: " + EncodeUtf8(line));
            return true;
        }
        case EditResult::kPasteLines: {
            const std::u32string text = d.input.Take();
            size_t start = 0;
            while (start <= text.size()) {
                size_t nl = text.find(U'\n', start);
                if (nl == std::u32string::npos) nl = text.size();
                d.Log("pasted: " + EncodeUtf8(text.substr(start, nl - start)));
                start = nl + 1;
            }
            return true;
        }
        case EditResult::kBeep:
            Beep();
            return true;
        case EditResult::kUnhandled:
            return false;
        default:
            return true;
    }
}

MenuItem Item(const char* text, int command) {
    MenuItem m;
    m.text = text;
    m.command = command;
    return m;
}

MenuItem Popup(const char* text, std::vector<MenuItem> items) {
    MenuItem m;
    m.text = text;
    m.items = std::move(items);
    return m;
}

}  // namespace

int main() {
    Demo& d = App();
    d.menu.items = {
        Popup("&File", {Item("&Dialog...\tF2", kOpenDialog), Item("&Message...", kMessage),
                        Item("&Progress step", kStep), Item("&Rename...", kRename),
                        Item("&Open...", kOpenFile), MenuItem::Separator(), Item("E&xit", kExit)}),
        Popup("&Edit",
              {Item("Select &All", kSelectAll),
               Popup("&Sort", {Item("By &Name", kSortName), Item("By Si&ze", kSortSize)})}),
        Popup("&Help", {Item("&Contents", kContents), Item("&About...", kAbout)}),
    };
    d.menu.on_command = RunCommand;
    d.tools.buttons = {
        {"new", kNew}, {"open", kOpenDialog}, {"hidden", kStep, true, true}, {"add", kAdd, false}};
    d.input.multiline_paste = true;
    d.list.columns = {{"Name", 0, false, true}, {"Size", 8, true, false}};
    const char* names[] = {"delta.txt", "alpha.c", "\u4E2D\u6587.txt", "charlie.h", "bravo.md"};
    for (int i = 0; i < 40; ++i) {
        d.rows.emplace_back(std::to_string(i / 5) + "-" + names[i % 5], (i * 7919) % 1000);
    }
    d.list.model.multiple = true;
    d.list.model.SetCount(d.rows.size());
    d.list.cell = [](size_t row, size_t col) {
        const auto& r = App().rows[row];
        return col == 0 ? r.first : std::to_string(r.second);
    };
    if (!InitScreen()) {
        std::fputs("tui_demo: needs a terminal\n", stderr);
        return 1;
    }
    Layer base;
    base.draw = Draw;
    base.on_key = OnKey;
    PushLayer(&base);
    d.Log("ready");
    const int code = platform::RunMessageLoop();
    RemoveLayer(&base);
    EndScreen();
    return code;
}
