#include "chat/core/windows/window_settings.h"

#include <cstdlib>

#include "chat/core/options.h"
#include "chat/core/windows/window_table.h"
#include "platform/profile.h"

namespace chat {
namespace {

void Apply(WindowRecord& r, const FontChoice& f) {
    r.font_name = f.face;
    r.font_size = -f.size;
    r.font_weight = f.weight;
}

}  // namespace

FontChoice ParseFontValue(std::string_view value) {
    FontChoice f;
    size_t comma = value.find(',');
    if (comma == std::string_view::npos) return f;
    f.face = std::string(value.substr(0, comma));
    if (f.face.empty()) f.face = "FixedSys";
    long n = std::strtol(std::string(value.substr(comma + 1)).c_str(), nullptr, 10);
    if (n > 100) {
        f.weight = static_cast<int>(n / 100) * 100;
        n %= 100;
    }
    f.size = n < 1 ? 12 : static_cast<int>(n);
    return f;
}

std::string FontKey(int slot) {
    const WindowRecord& r = Windows().ch[slot];
    if (r.window == Windows().statwin) return "fstatus";
    switch (r.kind) {
        case kKindChannel:
            return "f" + r.name;
        case kKindQuery:
            return EqualNoCase(r.name, "Message Window") ? "fmessage" : "fquery";
        case kKindTransfer:
            return "fdccsg";
        case kKindChannelList:
            return "flist";
        case kKindFinger:
            return "ffinger";
        case kKindUrlList:
            return "fwwwlist";
        case kKindNotifyList:
            return "fnotify";
        case kKindLinksList:
            return "flinks";
        default:
            return "";
    }
}

void getfont(int slot) {
    WindowRecord& r = Windows().ch[slot];
    const std::string& ini = Options().szINI;
    std::string key = FontKey(slot);
    std::string value;
    if (!key.empty()) value = platform::GetPrivateProfileString("Fonts", key, "", 0, ini);
    if (value.empty() && r.kind == kKindChannel)
        value = platform::GetPrivateProfileString("Fonts", "fchannel", "", 0, ini);
    Apply(r, ParseFontValue(value.empty() ? "FixedSys,12" : value));
}

bool sf(WindowId window, std::string_view face, int size_with_weight, bool kind_default) {
    int slot = findhwnd(window);
    if (slot < 0) return false;
    WindowRecord& r = Windows().ch[slot];
    std::string value = std::string(face) + "," + std::to_string(size_with_weight);
    Apply(r, ParseFontValue(value));
    if (CurrentFrontend().buffer_changed) CurrentFrontend().buffer_changed(window);
    const std::string& ini = Options().szINI;
    std::string key = FontKey(slot);
    if (r.kind == kKindChannel) {
        if (kind_default) {
            platform::DeletePrivateProfileKey("Fonts", key, ini);
            key = "fchannel";
        }
    } else if (r.kind == kKindQuery && key == "fquery" && !kind_default) {
        return true;  // this window alone
    }
    if (!key.empty()) platform::WritePrivateProfileString("Fonts", key, value, ini);
    return true;
}

void setbeep(WindowId window) {
    WindowRecord* r = RecordOf(window);
    if (!r) return;
    bool on = !r->beep;
    std::string key = BeepKey(r->name);
    const std::string& ini = Options().szINI;
    if (on) {
        platform::WritePrivateProfileString("Beeping", key, "on", ini);
    } else {
        platform::DeletePrivateProfileKey("Beeping", key, ini);
    }
    for (WindowRecord& other : Windows().ch)
        if (other.window && EqualNoCase(BeepKey(other.name), key)) other.beep = on;
}

void settitle(int slot) {
    const WindowRecord& r = Windows().ch[slot];
    std::string title = r.name;
    if (!r.modes.empty()) title += " " + r.modes;
    if (!r.topic.empty()) title += ": " + r.topic;
    if (CurrentFrontend().rename_window) CurrentFrontend().rename_window(r.window, r.name, title);
}

void clearbuf(WindowId window, bool quiet) {
    int slot = findhwnd(window);
    if (slot < 0) return;
    WindowRecord& r = Windows().ch[slot];
    if (!quiet) {
        const Frontend& fe = CurrentFrontend();
        if (!fe.ask || !fe.ask("Clear Buffer", "Clear the buffer of " + r.name + "?")) return;
        // The question ran the event loop: the window may have closed meanwhile.
        if (Windows().ch[slot].window != window) return;
    }
    r.buffer.clear();
    r.unwrapped.clear();
    r.top = r.position = 0;
    SetupScroll(slot, 1);
    if (CurrentFrontend().buffer_changed) CurrentFrontend().buffer_changed(window);
}

}  // namespace chat
