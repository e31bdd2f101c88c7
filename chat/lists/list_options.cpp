#include "chat/lists/list_options.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "chat/core/connection/connection.h"
#include "chat/core/options.h"
#include "chat/core/session/server_parser.h"
#include "chat/core/session/session_state.h"
#include "chat/core/windows/window_print.h"
#include "chat/core/windows/window_settings.h"
#include "chat/core/windows/window_table.h"
#include "chat/lists/channel_settings.h"
#include "chat/lists/channels_folder.h"
#include "chat/lists/list_text.h"
#include "chat/lists/url_catcher.h"

namespace chat {
namespace {

constexpr size_t kMaxListText = 256;
// Lines filtered between two updates of the window title.
constexpr int kTitleEvery = 50;

int Bound(const std::string& text, int otherwise) {
    if (text.empty()) return otherwise;
    // Digits only (with a sign): anything longer than the bounds could hold is clamped anyway.
    const std::string cut = text.substr(0, 9);
    char* end = nullptr;
    const long value = std::strtol(cut.c_str(), &end, 10);
    return end == cut.c_str() ? otherwise : static_cast<int>(value);
}

bool ContainsWord(const std::vector<std::string>& words, const std::string& text) {
    for (const std::string& w : words)
        if (!w.empty() && text.find(w) != std::string::npos) return true;
    return false;
}

void SetTitle(WindowId window, size_t shown, size_t total) {
    WindowRecord* r = RecordOf(window);
    if (!r) return;
    r->topic = std::to_string(shown) + "/" + std::to_string(total) + " Channels";
    Retitle(window);
}

}  // namespace

ListOptions CurrentListOptions() {
    const ChatOptions& o = Options();
    const ChannelsFolderState& f = Folder();
    ListOptions shown;
    shown.match = f.liststr;
    for (const Line& l : f.szcparms) shown.recent.push_back(l.text);
    shown.exclusion = f.xliststr;
    shown.matchtext = o.matchtext != 0;
    shown.exclude = o.exclude != 0;
    shown.extracturls = o.extracturls != 0;
    shown.hnanc = o.hnanc != 0;
    shown.dscl = o.dscl != 0;
    int lo = o.listmin, hi = o.listmax;
    checkminmax(lo, hi);
    shown.min = std::to_string(lo);
    shown.max = std::to_string(hi);
    return shown;
}

void StoreListOptions(const ListOptions& chosen) {
    ChatOptions& o = Options();
    ChannelsFolderState& f = Folder();
    RememberMatch(chosen.match);
    // The exclusion text is stored scrambled; text that cannot be is refused, not mangled.
    const std::string exclusion = LowerAscii(chosen.exclusion.substr(0, kMaxListText));
    if (Scramblable(exclusion)) {
        f.xliststr = exclusion;
    } else {
        Print(Windows().statwin, "*** The exclusion words may hold only printable ASCII", 1);
    }
    o.matchtext = chosen.matchtext;
    o.exclude = chosen.exclude;
    o.extracturls = chosen.extracturls;
    o.hnanc = chosen.hnanc;
    o.dscl = chosen.dscl;
    o.listmin = Bound(chosen.min, 0);
    o.listmax = Bound(chosen.max, 999);
    checkminmax(o.listmin, o.listmax);
    savecparms();
    saveoptions();
}

void ClearMatchText(bool field_empty) {
    ChannelsFolderState& f = Folder();
    f.liststr.clear();
    if (!field_empty) return;
    f.szcparms.clear();
    savecparms();
}

void StartChannelListing() {
    ChatSession& s = Session();
    if (s.InListing) {
        Print(Windows().statwin, "*** Listing in progress...", 1);
        Beep();
        return;
    }
    s.list_match = parseck(Folder().liststr);
    s.list_exclude = Options().exclude ? parseck(Folder().xliststr) : std::vector<std::string>{};
    SendToServer("LIST", false);
}

bool RelistChannels() {
    const WindowId window = WindowNamed("Channels List");
    WindowRecord* r = RecordOf(window);
    if (!r || r->kind != kKindChannelList) {
        Beep();
        return false;
    }
    const ChatOptions& o = Options();
    const std::vector<std::string> match = parseck(Folder().liststr);
    const std::vector<std::string> exclude =
        o.exclude ? parseck(Folder().xliststr) : std::vector<std::string>{};
    std::vector<std::string> lines;
    for (const Line& l : r->lines) lines.push_back(l.text);
    clearbuf(window, true);
    std::vector<std::string> shown;
    size_t total = 0;
    for (const std::string& line : lines) {
        ++total;
        // " channel<tab>users[<tab>topic]"
        const size_t tab = line.find('\t');
        const std::string channel =
            tab == std::string::npos ? line.substr(1) : line.substr(1, tab - 1);
        const std::string rest = tab == std::string::npos ? std::string() : line.substr(tab + 1);
        const long users = std::strtol(rest.c_str(), nullptr, 10);
        const std::string examined = LowerAscii(o.matchtext ? line : line.substr(0, tab));
        bool keep = users >= o.listmin && users <= o.listmax && !ContainsWord(exclude, examined) &&
                    (match.empty() || ContainsWord(match, examined));
        if (keep && o.hnanc)
            keep = channel.size() > 1 && std::isalnum(static_cast<unsigned char>(channel[1]));
        if (keep) {
            shown.push_back(line);
            if (o.extracturls) ExtractURL(line);
            if (o.dscl) Print(window, line, 0);
        }
        if (total % kTitleEvery == 0) SetTitle(window, shown.size(), total);
    }
    if (!o.dscl) {
        std::stable_sort(
            shown.begin(), shown.end(), [](const std::string& a, const std::string& b) {
                return CompareNoCase(a.substr(0, a.find('\t')), b.substr(0, b.find('\t'))) < 0;
            });
        for (const std::string& line : shown) Print(window, line, 0);
    }
    SetTitle(window, shown.size(), total);
    return true;
}

bool OptionsLocked() {
    return !Folder().szlock.empty();
}

std::string LockListOptions(std::string_view password, std::string_view confirm) {
    std::string reason = CheckNewLock(password, confirm);
    if (!reason.empty()) return reason;
    Folder().szlock = std::string(password);
    savecparms();
    return {};
}

bool UnlockListOptions(std::string_view password) {
    ChannelsFolderState& f = Folder();
    if (f.szlock.empty() || password != f.szlock) return false;
    f.szlock.clear();
    savecparms();
    return true;
}

ListOptionsDialogFn& ListOptionsDialog() {
    static ListOptionsDialogFn dialog;
    return dialog;
}

void RunListOptions() {
    const WindowRecord* active = RecordOf(Windows().CActive);
    const bool relist = active && active->kind == kKindChannelList;
    if (!relist && !Conn().Connected) {
        Beep();
        return;
    }
    const ListOptionsDialogFn& dialog = ListOptionsDialog();
    if (!dialog) {
        const Frontend& fe = CurrentFrontend();
        if (fe.message_box) fe.message_box("System Error", "Unable to display dialog");
        return;
    }
    std::optional<ListOptionsChoice> choice = dialog(CurrentListOptions(), relist);
    if (!choice) return;
    StoreListOptions(choice->options);
    if (choice->action != ListOptionsChoice::kListOrRelist) return;
    if (relist) {
        RelistChannels();
    } else {
        StartChannelListing();
    }
}

}  // namespace chat
