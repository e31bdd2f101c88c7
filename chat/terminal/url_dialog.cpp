#include "chat/terminal/url_dialog.h"

#include "platform/tui/text.h"
#include "platform/tui/widgets.h"

namespace chat {
namespace {

enum UrlControl : int { kDescription = 10, kAddress = 11, kMarker = 12, kBrowserPage = 13 };

std::string FieldText(tui::Dialog& d, int id) {
    return tui::EncodeUtf8(d.Find(id)->edit.text);
}

UrlEdit EditOf(tui::Dialog& d, const UrlEdit& start) {
    UrlEdit e = start;
    if (!start.marker_only) {
        e.description = FieldText(d, kDescription);
        e.address = FieldText(d, kAddress);
    }
    e.marker = FieldText(d, kMarker);
    return e;
}

void FocusOn(tui::Dialog& d, int id) {
    for (size_t i = 0; i < d.controls.size(); ++i)
        if (d.controls[i].id == id) d.focus = i;
}

}  // namespace

tui::Dialog MakeUrlDialog(const UrlEdit& start) {
    using tui::ControlKind;
    tui::Dialog d;
    d.title = start.title;
    d.rows = 9;
    d.cols = 60;
    auto field = [&d](int id, const char* label, int row, int col, int width,
                      const std::string& text, size_t limit, bool enabled) {
        d.Add(ControlKind::kLabel, 0, label, row, 0, col);
        tui::Control& c = d.Add(ControlKind::kEdit, id, "", row, col, width);
        c.edit.limit = limit;
        c.edit.SetText(tui::DecodeText(text));
        c.enabled = enabled;
    };
    field(kDescription, "&Description:", 0, 14, 46, start.description, kMaxUrl, !start.marker_only);
    field(kAddress, "&Address:", 2, 14, 46, start.address, kMaxUrl, !start.marker_only);
    field(kMarker, "&Marker:", 4, 14, 3, start.marker, 1, true);
    d.Add(ControlKind::kButton, tui::kIdOk, "OK", 7, 0, 12).is_default = true;
    d.Add(ControlKind::kButton, tui::kIdCancel, "Cancel", 7, 14, 12).is_cancel = true;
    d.Add(ControlKind::kButton, kBrowserPage, "&Browser page", 7, 28, 17).enabled =
        !start.marker_only;
    d.FocusFirst();
    return d;
}

std::optional<UrlEdit> RunUrlEntryDialog(const UrlEdit& start) {
    tui::Dialog d = MakeUrlDialog(start);
    d.on_command = [&start](tui::Dialog& dialog, int id) {
        if (id == kBrowserPage) {
            auto page = BrowserPage();
            if (!page) {
                tui::Beep();
                return false;
            }
            dialog.Find(kAddress)->edit.SetText(tui::DecodeText(page->first));
            dialog.Find(kDescription)->edit.SetText(tui::DecodeText(page->second));
            return false;
        }
        if (id != tui::kIdOk) return id == tui::kIdCancel;
        static constexpr int kFieldOf[] = {0, kDescription, kAddress, kMarker};
        const int problem = UrlEditProblem(EditOf(dialog, start));
        if (problem == 0) return true;
        tui::Beep();
        FocusOn(dialog, kFieldOf[problem]);
        return false;
    };
    if (tui::RunDialog(d) != tui::kIdOk) return std::nullopt;
    return EditOf(d, start);
}

}  // namespace chat
