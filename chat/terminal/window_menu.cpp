#include "chat/terminal/window_menu.h"

#include <string>

#include "chat/core/windows/window_log.h"
#include "chat/core/windows/window_place.h"
#include "chat/core/windows/window_settings.h"
#include "chat/core/windows/window_table.h"
#include "platform/tui/text.h"
#include "platform/tui/widgets.h"

namespace chat {
namespace {

enum FontControl : int { kFontFace = 100, kFontSize, kFontBold, kFontForKind };

}  // namespace

bool FontSizeAllowed(std::string_view text, int& points) {
    if (text.empty() || text.size() > 2) return false;
    points = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        points = points * 10 + (c - '0');
    }
    return points >= kFontSizeMin && points <= kFontSizeMax;
}

// The font of a window: face, size, bold, and for channels and queries whether it becomes
// the font of every window of that kind. The terminal shows the weight as bold text; face
// and size are kept in the settings for the windows that can use them.
void ShowFontDialog(WindowId window) {
    const WindowRecord* r = RecordOf(window);
    if (!r) return;
    const bool channel = r->kind == kKindChannel;
    const bool query = r->kind == kKindQuery && !EqualNoCase(r->name, "Message Window");
    tui::Dialog d;
    d.title = "Font";
    d.cols = 40;
    d.rows = 6;
    d.Add(tui::ControlKind::kLabel, -1, "F&ace:", 0, 1, 6);
    tui::Control& face = d.Add(tui::ControlKind::kEdit, kFontFace, "", 0, 8, 30);
    face.edit.limit = 90;
    face.edit.SetText(tui::DecodeText(r->font_name));
    d.Add(tui::ControlKind::kLabel, -1, "&Size:", 1, 1, 6);
    tui::Control& size = d.Add(tui::ControlKind::kEdit, kFontSize, "", 1, 8, 4);
    size.edit.limit = 2;
    size.edit.SetText(tui::DecodeText(std::to_string(std::abs(r->font_size))));
    d.Add(tui::ControlKind::kCheck, kFontBold, "&Bold", 2, 8, 10).checked = r->font_weight >= 700;
    if (channel || query) {
        d.Add(tui::ControlKind::kCheck, kFontForKind,
              channel ? "&Channel font" : "&Query/chat font", 3, 8, 24);
    }
    d.Add(tui::ControlKind::kButton, tui::kIdOk, "OK", 5, 9, 8).is_default = true;
    d.Add(tui::ControlKind::kButton, tui::kIdCancel, "Cancel", 5, 20, 10).is_cancel = true;
    d.focus = 1;
    // A size outside the range keeps the dialog open, as the user would expect of a chooser.
    d.on_command = [](tui::Dialog& dlg, int id) {
        if (id != tui::kIdOk) return id == tui::kIdCancel;
        int size = 0;
        if (FontSizeAllowed(tui::EncodeUtf8(dlg.Find(kFontSize)->edit.text), size)) return true;
        tui::ShowMessageBox("Font", "Size must be between 5 and 30 points.",
                            tui::MessageButtons::kOk);
        return false;
    };
    if (tui::RunDialog(d) != tui::kIdOk) return;
    const std::string face_text = tui::EncodeUtf8(d.Find(kFontFace)->edit.text);
    int points = 12;
    FontSizeAllowed(tui::EncodeUtf8(d.Find(kFontSize)->edit.text), points);
    const int weight = d.Find(kFontBold)->checked ? 700 : 0;
    const tui::Control* for_kind = d.Find(kFontForKind);
    sf(window, face_text.empty() ? "FixedSys" : face_text, weight + points,
       for_kind && for_kind->checked);
}

bool WindowMenuFactsOf(WindowId window, WindowMenuFacts& facts) {
    const WindowRecord* r = RecordOf(window);
    if (!r) return false;
    facts.kind = r->kind;
    facts.logging = r->log != nullptr;
    facts.beeping = r->beep;
    return true;
}

bool RunWindowMenuCommand(WindowId window, int command) {
    switch (command) {
        case kCmdPlaceReset:
            // The window keeps filling the screen; it only loses its remembered place.
            forgetpos(window);
            if (CurrentFrontend().buffer_changed) CurrentFrontend().buffer_changed(window);
            return true;
        case kCmdPlaceRemember:
            savepos(window);
            return true;
        case kCmdPlaceForget:
            forgetpos(window);
            return true;
        case kCmdBufferClear:
            clearbuf(window, false);
            return true;
        case kCmdBufferSave:
            savebuf(window);
            return true;
        case kCmdFont:
            ShowFontDialog(window);
            return true;
        case kCmdLogging:
            logwindow(window, true, true);
            return true;
        case kCmdBeeping:
            setbeep(window);
            return true;
        case kCmdCloseWindow:
            RequestCloseWindow(window);
            return true;
        default:
            return false;
    }
}

}  // namespace chat
