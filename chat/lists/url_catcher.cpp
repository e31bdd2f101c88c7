#include "chat/lists/url_catcher.h"

#include <algorithm>
#include <utility>

#include "chat/core/options.h"
#include "chat/core/windows/window_print.h"
#include "chat/core/windows/window_settings.h"
#include "chat/core/windows/window_table.h"
#include "chat/script/commands.h"
#include "chat/script/script_state.h"
#include "platform/profile.h"

#include "chat/lists/list_text.h"

namespace chat {
namespace {

constexpr const char* kUrlWindow = "URL List";
// The prefixes searched for, in the order they are tried.
constexpr std::string_view kPrefixes[] = {"http://", "ftp://", "gopher://", "www.", "ftp."};
constexpr std::string_view kEndChars = " ,\"'^()[]{}<>;";

WindowId UrlWindow() {
    int slot = exists(kUrlWindow);
    return slot < 0 ? 0 : Windows().ch[slot].window;
}

size_t AddressAt(std::string_view entry) {
    size_t at = entry.find("URL:", 2);
    return at == std::string_view::npos ? entry.size() : at + 4;
}

std::string_view DescriptionOf(std::string_view entry) {
    const size_t at = AddressAt(entry);
    return entry.size() > 2 ? entry.substr(2, at >= 6 ? at - 6 : 0) : std::string_view();
}

bool HasControlChar(std::string_view text) {
    return std::any_of(text.begin(), text.end(),
                       [](char ch) { return static_cast<unsigned char>(ch) < 0x20 || ch == 0x7f; });
}

std::string_view AfterScheme(std::string_view address) {
    size_t at = address.find("://");
    return at == std::string_view::npos ? address : address.substr(at + 3);
}

// Where a row goes among the rows already placed: the index, or rows.size() for the end.
size_t InsertURL(const std::vector<std::string>& rows, const std::string& row) {
    const bool anqu = Options().anqu != 0;
    const bool caught = row.size() > 1 && row[1] == '?';
    if (caught) return anqu ? 0 : rows.size();
    for (size_t i = 0; i < rows.size(); ++i) {
        const bool other_caught = rows[i].size() > 1 && rows[i][1] == '?';
        const bool above = CompareNoCase(rows[i], row) > 0;
        if (anqu ? (!other_caught && above) : (other_caught || above)) return i;
    }
    return rows.size();
}

}  // namespace

UrlState& Urls() {
    static UrlState state;
    return state;
}

void ResetUrls() {
    Urls() = UrlState{};
}

std::string UrlAddress(std::string_view entry) {
    return std::string(entry.substr(AddressAt(entry)));
}

std::string UrlRow(std::string_view entry) {
    const size_t at = AddressAt(entry);
    const char marker = entry.empty() ? '?' : entry[0];
    return std::string(" ") + marker + "\t" + std::string(DescriptionOf(entry)) +
           "\tURL:" + std::string(entry.substr(at));
}

LineIter FindURL(std::string_view address, bool whole) {
    LineList& list = Urls().szurl;
    for (auto it = list.begin(); it != list.end(); ++it) {
        const size_t at = AddressAt(it->text);
        if (whole) {
            if (at >= 4 && EqualNoCase(std::string_view(it->text).substr(at - 4), address))
                return it;
            continue;
        }
        std::string_view own = std::string_view(it->text).substr(at);
        if (EqualNoCase(own, address) || EqualNoCase(AfterScheme(own), address)) return it;
    }
    return list.end();
}

void ExtractURL(std::string_view text) {
    if (!Options().eurl) return;
    const std::string lower = LowerAscii(text);
    size_t pos = 0;
    bool added = false;
    while (pos < lower.size()) {
        size_t start = std::string::npos;
        size_t prefix = 0;
        for (std::string_view p : kPrefixes) {
            start = lower.find(p, pos);
            if (start != std::string::npos) {
                prefix = p.size();
                break;
            }
        }
        if (start == std::string::npos) break;
        size_t end = lower.find_first_of(kEndChars, start);
        if (end == std::string::npos) end = lower.size();
        pos = end < lower.size() ? end + 1 : lower.size();
        const size_t length = end - start;
        if (length >= kMaxUrl || length <= prefix) break;
        std::string address(text.substr(start, length));
        if (FindURL(address, false) != Urls().szurl.end()) continue;
        aline(Urls().szurl, "?:" + address + "URL:" + address, false);
        added = true;
    }
    if (!added) return;
    saveurls();
    const WindowId w = UrlWindow();
    if (w) FillURLwindow();
    const WindowRecord* r = RecordOf(w);
    if (!w || ActiveWindow() != w || (r && r->minimised)) Urls().mark = true;
}

std::vector<std::string> UrlRows() {
    std::vector<std::string> rows;
    for (const Line& l : Urls().szurl) {
        std::string row = UrlRow(l.text);
        const size_t at = InsertURL(rows, row);
        rows.insert(rows.begin() + static_cast<std::ptrdiff_t>(at), std::move(row));
    }
    return rows;
}

void FillURLwindow() {
    const WindowId w = UrlWindow();
    if (!w) return;
    clearbuf(w, true);
    for (const std::string& row : UrlRows()) Print(w, row, 0);
}

void ShowURLwindow() {
    Urls().mark = false;
    if (WindowId w = UrlWindow()) {
        if (WindowRecord* r = RecordOf(w)) r->minimised = false;
        SetActiveWindow(w);
        return;
    }
    if (!MakeNewWindow(kUrlWindow, false)) return;
    FillURLwindow();
}

void HideURLwindow() {
    if (WindowId w = UrlWindow()) closewindow(w);
}

void DeleteCaughtUrls() {
    Urls().szurl.remove_if([](const Line& l) { return !l.text.empty() && l.text[0] == '?'; });
    saveurls();
    FillURLwindow();
}

bool OpenableUrl(std::string_view address) {
    for (char ch : address)
        if (static_cast<unsigned char>(ch) < 0x21 || ch == 0x7f) return false;
    const std::string lower = LowerAscii(address);
    for (std::string_view p : {"http://", "https://", "ftp://", "gopher://", "www."})
        if (lower.size() > p.size() && lower.compare(0, p.size(), p) == 0) return true;
    return false;
}

bool OpenURL(std::string_view address) {
    const WindowId status = Windows().statwin;
    if (!OpenableUrl(address)) {
        Beep();
        Print(status, "*** Only http, https, ftp, gopher and www. addresses are opened", 1);
        return false;
    }
    UrlState& u = Urls();
    const bool configured = !u.szWWWL.empty() && u.szWWWL != "unknown";
    std::vector<std::string> argv = {configured ? u.szWWWL : "xdg-open", std::string(address)};
    const bool started = u.start ? u.start(argv) : StartProgram(argv);
    if (started) return true;
    u.szWWWL = "unknown";
    Beep();
    Print(status, "*** Unable to start the web browser " + argv[0], 3);
    if (AskBrowserPath()) return OpenURL(address);
    return false;
}

bool AskBrowserPath() {
    const Frontend& fe = CurrentFrontend();
    if (!fe.ask || !fe.prompt) return false;
    if (!fe.ask("Vesk URL",
                "The web browser could not be started.\n\nSet the web browser "
                "program now?"))
        return false;
    std::optional<std::string> path = fe.prompt("Web browser program:");
    if (!path) return false;
    std::string_view chosen = *path;
    while (!chosen.empty() && chosen.front() == ' ') chosen.remove_prefix(1);
    while (!chosen.empty() && chosen.back() == ' ') chosen.remove_suffix(1);
    if (chosen.empty() || HasControlChar(chosen)) return false;
    UrlState& u = Urls();
    u.szWWWL = std::string(chosen.substr(0, 255));
    if (!Options().szINI.empty())
        platform::WritePrivateProfileString("Files", "browser", u.szWWWL, Options().szINI);
    Print(Windows().statwin, "*** Web browser set to " + u.szWWWL, 2);
    return true;
}

int UrlEditProblem(const UrlEdit& e) {
    if (!e.marker_only) {
        if (e.description.empty() || e.description.size() > kMaxUrl ||
            e.description.find("URL:") != std::string::npos || HasControlChar(e.description))
            return 1;
        if (e.address.empty() || e.address.size() > kMaxUrl ||
            e.address.find(' ') != std::string::npos || HasControlChar(e.address))
            return 2;
    }
    if (e.marker.size() != 1 || HasControlChar(e.marker)) return 3;
    return 0;
}

std::optional<std::pair<std::string, std::string>> BrowserPage() {
    const ScriptHooks& h = Script().hooks;
    if (!h.dde_request) return std::nullopt;
    for (const char* service : {"NETSCAPE", "MOSAIC", "IEXPLORE"}) {
        const std::string reply = h.dde_request(service, "WWW_GetWindowInfo", "0xFFFFFFFF");
        // "address","title",...: the first two quoted texts.
        std::vector<std::string> quoted;
        for (size_t at = 0; quoted.size() < 2;) {
            size_t open = reply.find('"', at);
            size_t close = open == std::string::npos ? open : reply.find('"', open + 1);
            if (close == std::string::npos) break;
            quoted.push_back(reply.substr(open + 1, close - open - 1).substr(0, kMaxUrl));
            at = close + 1;
        }
        if (quoted.empty() || quoted[0].empty()) continue;
        std::string title = quoted.size() > 1 ? quoted[1] : std::string();
        if (title.starts_with("Netscape - [") && title.find(']') != std::string::npos)
            title = title.substr(12, title.find(']') - 12);
        return std::make_pair(quoted[0], title);
    }
    return std::nullopt;
}

UrlDialogFn& UrlEntryDialog() {
    static UrlDialogFn dialog;
    return dialog;
}

namespace {

std::optional<UrlEdit> AskUrl(const UrlEdit& start) {
    const UrlDialogFn& dialog = UrlEntryDialog();
    if (!dialog) {
        const Frontend& fe = CurrentFrontend();
        if (fe.message_box) fe.message_box("System Error", "Unable to display dialog");
        return std::nullopt;
    }
    std::optional<UrlEdit> done = dialog(start);
    // The dialog insists on every field; a value that still fails is not stored.
    if (done && UrlEditProblem(*done) != 0) return std::nullopt;
    return done;
}

std::string EntryText(const UrlEdit& e) {
    return e.marker + ":" + e.description + "URL:" + e.address;
}

LineIter EntryAt(size_t index) {
    LineList& list = Urls().szurl;
    auto it = list.begin();
    while (it != list.end() && index-- > 0) ++it;
    return it;
}

void UrlsChanged() {
    saveurls();
    FillURLwindow();
}

}  // namespace

void AddUrlEntry() {
    UrlEdit start;
    start.title = "Vesk Add URL";
    std::optional<UrlEdit> done = AskUrl(start);
    if (!done) return;
    aline(Urls().szurl, EntryText(*done), false);
    UrlsChanged();
}

void EditUrlEntry(size_t index) {
    LineIter it = EntryAt(index);
    if (it == Urls().szurl.end()) return Beep();  // the list changed under the menu
    UrlEdit start;
    start.title = "Vesk Edit URL";
    start.marker = it->text.empty() ? "?" : it->text.substr(0, 1);
    start.address = UrlAddress(it->text);
    start.description = std::string(DescriptionOf(it->text));
    std::optional<UrlEdit> done = AskUrl(start);
    if (!done) return;
    it = EntryAt(index);  // the list may have caught addresses while the dialog was open
    if (it == Urls().szurl.end()) return Beep();
    it->text = EntryText(*done);
    UrlsChanged();
}

void ChangeUrlMarkers(const std::vector<size_t>& indices) {
    if (indices.empty()) return Beep();
    UrlEdit start;
    start.title = "Vesk Change URL Marker";
    start.marker_only = true;
    LineIter first = EntryAt(indices.front());
    if (first == Urls().szurl.end()) return Beep();
    if (indices.size() == 1) {
        start.description = std::string(DescriptionOf(first->text));
        start.address = UrlAddress(first->text);
    } else {
        start.description = start.address = "<multiple selections>";
    }
    start.marker = first->text.empty() ? "?" : first->text.substr(0, 1);
    std::optional<UrlEdit> done = AskUrl(start);
    if (!done) return;
    for (size_t index : indices) {
        LineIter it = EntryAt(index);
        if (it != Urls().szurl.end() && !it->text.empty()) it->text[0] = done->marker[0];
    }
    UrlsChanged();
}

std::optional<PopupMenu> UrlWindowPopup(WindowId window) {
    const WindowRecord* r = RecordOf(window);
    if (!r || r->kind != kKindUrlList) return std::nullopt;
    PopupMenu menu;
    // One submenu per operation on a single entry, its items the entries in list order.
    auto per_entry = [](const char* text, int first_id) {
        PopupEntry sub;
        sub.text = text;
        size_t index = 0;
        for (const Line& l : Urls().szurl) {
            if (index >= kMaxUrlPopupEntries) break;
            PopupEntry item;
            item.text = UrlAddress(l.text).substr(0, 70);
            item.id = first_id + static_cast<int>(index++);
            sub.items.push_back(std::move(item));
        }
        return sub;
    };
    PopupEntry open = per_entry("&Open", kUrlPopupFirstOpen);
    const bool any = !open.items.empty();
    if (any) menu.items.push_back(std::move(open));
    PopupEntry add;
    add.text = "&Add...";
    add.id = kUrlPopupAdd;
    menu.items.push_back(std::move(add));
    if (any) {
        menu.items.push_back(per_entry("&Edit", kUrlPopupFirstEdit));
        PopupEntry marker = per_entry("Change &marker", kUrlPopupFirstMarker);
        PopupEntry gap;
        gap.separator = true;
        marker.items.push_back(std::move(gap));
        PopupEntry all;
        all.text = "All entries";
        all.id = kUrlPopupMarkAll;
        marker.items.push_back(std::move(all));
        menu.items.push_back(std::move(marker));
    }
    PopupEntry remove;
    remove.text = "&Delete the caught addresses";
    remove.id = kUrlPopupDelete;
    menu.items.push_back(std::move(remove));
    return menu;
}

bool ProcessUrlPopup(int id) {
    constexpr int kEntries = static_cast<int>(kMaxUrlPopupEntries);
    auto in = [id](int first) { return id >= first && id < first + kEntries; };
    if (id == kUrlPopupDelete) {
        DeleteCaughtUrls();
    } else if (id == kUrlPopupAdd) {
        AddUrlEntry();
    } else if (id == kUrlPopupMarkAll) {
        std::vector<size_t> all(std::min(Urls().szurl.size(), kMaxUrlPopupEntries));
        for (size_t i = 0; i < all.size(); ++i) all[i] = i;
        ChangeUrlMarkers(all);
    } else if (in(kUrlPopupFirstEdit)) {
        EditUrlEntry(static_cast<size_t>(id - kUrlPopupFirstEdit));
    } else if (in(kUrlPopupFirstMarker)) {
        ChangeUrlMarkers({static_cast<size_t>(id - kUrlPopupFirstMarker)});
    } else if (in(kUrlPopupFirstOpen)) {
        size_t index = static_cast<size_t>(id - kUrlPopupFirstOpen);
        for (const Line& l : Urls().szurl) {
            if (index-- == 0) {
                OpenURL(UrlAddress(l.text));
                return true;
            }
        }
        Beep();  // the list changed under the menu
    } else {
        return false;
    }
    return true;
}

void loadurls() {
    const std::string& ini = Options().szINI;
    UrlState& u = Urls();
    u.szurl.clear();
    if (ini.empty()) return;
    for (auto& [key, value] : platform::ReadProfileSection("WWW", ini)) {
        if (value.find("URL:") == std::string::npos || value.size() < 2 || value[1] != ':')
            continue;
        aline(u.szurl, value.substr(0, 2 * kMaxUrl + 8), false);
    }
    std::string browser = platform::GetPrivateProfileString("Files", "browser", "", 256, ini);
    if (!browser.empty()) u.szWWWL = browser;
}

void saveurls() {
    const std::string& ini = Options().szINI;
    if (ini.empty()) return;
    std::vector<std::pair<std::string, std::string>> lines;
    for (const Line& l : Urls().szurl)
        lines.emplace_back("w" + std::to_string(lines.size()), l.text);
    platform::WriteProfileSection("WWW", lines, ini);
}

}  // namespace chat
