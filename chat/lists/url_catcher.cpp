#include "chat/lists/url_catcher.h"

#include <utility>

#include "chat/core/options.h"
#include "chat/core/window_print.h"
#include "chat/core/window_settings.h"
#include "chat/core/window_table.h"
#include "chat/script/commands.h"
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
    std::string_view description =
        entry.size() > 2 ? entry.substr(2, at >= 6 ? at - 6 : 0) : std::string_view();
    return std::string(" ") + marker + "\t" + std::string(description) +
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
    return false;
}

std::optional<PopupMenu> UrlWindowPopup(WindowId window) {
    const WindowRecord* r = RecordOf(window);
    if (!r || r->kind != kKindUrlList) return std::nullopt;
    PopupMenu menu;
    PopupEntry open;
    open.text = "&Open";
    size_t index = 0;
    for (const Line& l : Urls().szurl) {
        if (index >= kMaxUrlPopupEntries) break;
        PopupEntry item;
        item.text = UrlAddress(l.text).substr(0, 70);
        item.id = kUrlPopupFirstOpen + static_cast<int>(index++);
        open.items.push_back(std::move(item));
    }
    if (!open.items.empty()) menu.items.push_back(std::move(open));
    PopupEntry remove;
    remove.text = "&Delete the caught addresses";
    remove.id = kUrlPopupDelete;
    menu.items.push_back(std::move(remove));
    return menu;
}

bool ProcessUrlPopup(int id) {
    if (id == kUrlPopupDelete) {
        DeleteCaughtUrls();
        return true;
    }
    if (id < kUrlPopupFirstOpen || id >= kUrlPopupFirstOpen + static_cast<int>(kMaxUrlPopupEntries))
        return false;
    size_t index = static_cast<size_t>(id - kUrlPopupFirstOpen);
    for (const Line& l : Urls().szurl) {
        if (index-- == 0) {
            OpenURL(UrlAddress(l.text));
            return true;
        }
    }
    Beep();  // the list changed under the menu
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
