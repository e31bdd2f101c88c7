#include "chat/core/windows/window_place.h"

#include <climits>
#include <cstdlib>

#include "chat/core/options.h"
#include "chat/core/windows/window_table.h"
#include "platform/profile.h"

namespace chat {
namespace {

constexpr const char* kSection = "Windows";

// A number of the list, or 0 when the text there is not one; hostile values stay in range.
int ReadNumber(std::string_view field) {
    std::string text(field);
    long long n = std::strtoll(text.c_str(), nullptr, 10);
    if (n > INT_MAX) return INT_MAX;
    if (n < INT_MIN) return INT_MIN;
    return static_cast<int>(n);
}

// The key a window keeps its own placement under.
std::string OwnKey(const WindowRecord& r, std::string_view key) {
    if (r.window == Windows().statwin) return "status";
    if (!key.empty()) return std::string(key);
    if (EqualNoCase(r.name, "Message Window")) return "wmessage";
    return r.name;
}

}  // namespace

Placement ParsePlacement(std::string_view value) {
    int numbers[5] = {};
    for (int& n : numbers) {
        if (value.empty()) break;
        size_t comma = value.find(',');
        n = ReadNumber(value.substr(0, comma));
        value = comma == std::string_view::npos ? std::string_view() : value.substr(comma + 1);
    }
    return Placement{numbers[0], numbers[1], numbers[2], numbers[3], numbers[4]};
}

std::string FormatPlacement(const Placement& p) {
    return std::to_string(p.left) + "," + std::to_string(p.width) + "," + std::to_string(p.top) +
           "," + std::to_string(p.height) + "," + std::to_string(p.state);
}

bool HasPlacement(const Placement& p) {
    return p != Placement{};
}

Placement CurrentPlacement(int slot) {
    const WindowRecord& r = Windows().ch[slot];
    Placement p;
    p.width = r.columns;
    p.height = r.rows;
    if (r.window == Windows().statwin) p.state = r.minimised ? 1 : 2;
    return p;
}

void savepos(WindowId window, std::string_view key) {
    int slot = findhwnd(window);
    if (slot < 0) return;
    const WindowRecord& r = Windows().ch[slot];
    const bool status = window == Windows().statwin;
    // Only the status window records a state; the others are kept only as normal windows.
    if (!status && r.minimised) return;
    Placement p = CurrentPlacement(slot);
    // A window the front end never measured (no screen) has nothing worth keeping.
    if (p.width <= 0 || p.height <= 0) return;
    platform::WritePrivateProfileString(kSection, OwnKey(r, key), FormatPlacement(p),
                                        Options().szINI);
}

bool getpos(std::string_view key, Placement& out) {
    out = Placement{};
    if (key.empty()) return false;
    out = ParsePlacement(platform::GetPrivateProfileString(kSection, std::string(key),
                                                           "0,0,0,0,0,#", 0, Options().szINI));
    return HasPlacement(out);
}

void forgetpos(WindowId window) {
    const WindowRecord* r = RecordOf(window);
    if (!r) return;
    platform::DeletePrivateProfileKey(kSection, OwnKey(*r, {}), Options().szINI);
}

std::string ClosingPlaceKey(int slot) {
    const WindowRecord& r = Windows().ch[slot];
    if (r.window == Windows().statwin) return "";
    switch (r.kind) {
        case kKindChannelList:
            return "wlist";
        case kKindNotifyList:
            return "wnotify";
        case kKindLinksList:
            return "wlinks";
        case kKindUrlList:
            return "wwwwlist";
        case kKindFinger:
            return "wfinger";
        case kKindTransfer:
            return "wdccsg";
        case kKindChannel: {
            Placement own;
            return getpos(r.name, own) ? "" : "wchannel";
        }
        default:
            if (IsChatWindowName(r.name)) return "wchat";
            return EqualNoCase(r.name, "Message Window") ? "wmessage" : "wquery";
    }
}

}  // namespace chat
