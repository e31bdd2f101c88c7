#include "chat/terminal/setup_model.h"

#include <arpa/inet.h>

#include <cstdlib>
#include <utility>

#include "chat/core/connection/server_list.h"
#include "chat/core/options.h"
#include "chat/net/ident.h"
#include "chat/net/socks4.h"

namespace chat {
namespace {

size_t FindNoCase(std::string_view hay, std::string_view needle) {
    for (size_t i = 0; i + needle.size() <= hay.size(); ++i)
        if (EqualNoCase(hay.substr(i, needle.size()), needle)) return i;
    return std::string_view::npos;
}

std::string Trim(std::string_view s) {
    const size_t b = s.find_first_not_of(" \t");
    if (b == std::string_view::npos) return {};
    const size_t e = s.find_last_not_of(" \t");
    return std::string(s.substr(b, e - b + 1));
}

std::string FirstWord(std::string_view s, size_t limit) {
    std::string t = Trim(s);
    return t.substr(0, std::min(t.find_first_of(" \t"), limit));
}

bool AllDigits(std::string_view s) {
    if (s.empty()) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

// A port as typed: empty or not positive means 6667 (what the entry's reader makes of it);
// anything else must be a number from 1 to 65535.
bool PortOf(std::string_view typed, int& port) {
    std::string t = Trim(typed).substr(0, 10);
    if (t.empty()) {
        port = 6667;
        return true;
    }
    const bool negative = t[0] == '-';
    if (!AllDigits(std::string_view(t).substr(negative ? 1 : 0))) return false;
    const long p = std::strtol(t.c_str(), nullptr, 10);
    if (p > 65535) return false;
    port = p > 0 ? static_cast<int>(p) : 6667;
    return true;
}

constexpr const char* kPortMessage = "The port must be a number between 1 and 65535.";

std::string BuildEntry(const ServerFields& f, int port) {
    // An IPv6 address goes in brackets, so that its colons are not read as the port's.
    const bool v6 = f.host.find(':') != std::string::npos;
    std::string entry =
        f.description + "SERVER:" + (v6 ? "[" + f.host + "]" : f.host) + ":" + std::to_string(port);
    if (!f.password.empty()) entry += ":" + f.password;
    if (!f.group.empty()) entry += "GROUP:" + f.group;
    return entry;
}

bool SameTexts(const LineList& a, const LineList& b) {
    if (a.size() != b.size()) return false;
    for (auto i = a.begin(), j = b.begin(); i != a.end(); ++i, ++j)
        if (i->text != j->text) return false;
    return true;
}

// Indexes of the settings the checks below look at.
enum : size_t { kNickIndex = 2, kAltNickIndex = 3, kLocalIpIndex = 1 };
enum : size_t { kIdentActive = 0, kIdentUser = 2, kSocksEnabled = 0, kSocksHost = 1 };

bool ParseDotted(const std::string& text, uint32_t& out) {
    in_addr a{};
    if (::inet_pton(AF_INET, text.c_str(), &a) != 1) return false;
    out = ntohl(a.s_addr);
    return true;
}

}  // namespace

ServerFields FieldsOfEntry(std::string_view entry) {
    const ServerEntry e = ParseServerEntry(entry);
    ServerFields f;
    const size_t server = FindNoCase(entry, "SERVER:");
    if (server != std::string_view::npos) f.description = std::string(entry.substr(0, server));
    f.host = e.host;
    f.port = std::to_string(e.port);
    f.password = e.password;
    f.group = e.group;
    return f;
}

const Line* FindOtherServer(const LineList& servers, std::string_view description,
                            const std::string* editing) {
    for (const Line& l : servers) {
        if (editing && l.text == *editing) continue;
        if (EqualNoCase(ParseServerEntry(l.text).description, description)) return &l;
    }
    return nullptr;
}

ServerEntryResult MakeServerEntry(const ServerFields& typed, const LineList& servers,
                                  const std::string* editing) {
    ServerFields f;
    f.description = Trim(typed.description).substr(0, 100);
    f.host = FirstWord(typed.host, 100);
    f.password = Trim(typed.password).substr(0, 100);
    f.group = FirstWord(typed.group, 20);
    // The words that separate an entry's parts cannot stand inside one, or the entry would
    // read back differently.
    if (FindNoCase(f.description, "SERVER:") != std::string::npos ||
        FindNoCase(f.description, "GROUP:") != std::string::npos)
        return {{}, "A description cannot hold \"SERVER:\" or \"GROUP:\"."};
    if (f.host.empty()) return {{}, "Enter the server's host name."};
    // An IPv6 address is the one host with colons (kept in brackets in the entry).
    f.host = UnbracketHost(f.host);
    in6_addr v6{};
    const bool ipv6 = ::inet_pton(AF_INET6, f.host.c_str(), &v6) == 1;
    if ((!ipv6 && f.host.find(':') != std::string::npos) ||
        FindNoCase(f.host, "GROUP:") != std::string::npos)
        return {{}, "A host name cannot hold \":\"."};
    if (FindNoCase(f.password, "GROUP:") != std::string::npos)
        return {{}, "A password cannot hold \"GROUP:\"."};
    int port = 6667;
    if (!PortOf(typed.port, port)) return {{}, kPortMessage};
    const std::string description = f.description.empty() ? f.host : f.description;
    if (FindOtherServer(servers, description, editing))
        return {{}, "An entry with this description already exists!"};
    return {BuildEntry(f, port), {}};
}

std::string ServerRow(std::string_view entry) {
    const ServerEntry e = ParseServerEntry(entry);
    std::string row = e.description + "  (" + e.host + ":" + std::to_string(e.port) + ")";
    if (!e.group.empty()) row += "  [" + e.group + "]";
    return row;
}

std::string EntryWithPort(std::string_view entry, int port) {
    ServerFields f = FieldsOfEntry(entry);
    return BuildEntry(f, port);
}

const std::vector<SettingsPage>& SetupPages() {
    using O = ChatOptions;
    static const std::vector<SettingsPage> pages = [] {
        std::vector<SettingsPage> p(kSetupPages);
        p[0].title = "&Connect";
        p[0].settings = {
            KeyText("&Full name:", "Vesk", "user", 100, &O::szUser),
            KeyText("&E-mail:", "Vesk", "email", 100, &O::szEmail),
            KeyText("&Nickname:", "Vesk", "nick", 100, &O::szNickName),
            KeyText("&Alternate:", "Vesk", "anick", 100, &O::szAltNick),
            OptionCheck("Pop &up setup at start-up while no nickname is set", &O::pusd),
        };
        p[1].title = "&Local";
        p[1].settings = {
            KeyText("&Host name:", "Local", "local", 100, &O::szLocalHost),
            KeyText("A&ddress:", "Local", "localip", 100, &O::szsip),
            OptionCheck("Always ask the s&ystem for the host name", &O::aglh),
            OptionCheck("Always look the address up a&gain", &O::agip),
            OptionCheck("Find the address by the datagra&m method", &O::ipmethod),
        };
        p[2].title = "&Ident";
        p[2].settings = {
            KeyYesNo("Ident responder &on", "Ident", "active"),
            KeyNumber("Po&rt:", "Ident", "port", "113,0", 1, 65535),
            KeyText("&User ID:", "Ident", "userid", 99),
            KeyText("S&ystem:", "Ident", "system", 49, nullptr, "UNIX"),
            OptionCheck("S&how ident requests", &O::idisplay),
        };
        p[3].title = "&SOCKS";
        p[3].settings = {
            KeyYesNo("Connect through a SOCKS rela&y", "Socks", "Enabled"),
            KeyText("&Host:", "Socks", "HostName", 99),
            KeyNumber("Po&rt:", "Socks", "Port", "1080", 1, 65535),
            KeyNumber("Pr&otocol version (4 or 5):", "Socks", "Protocol", "4", 4, 5),
            KeyText("&User ID:", "Socks", "UserID", 99),
            KeyText("Pass&word:", "Socks", "Password", 99),
        };
        p[3].settings.back().kind = SettingKind::kPassword;
        p[3].settings.push_back(Note("Version 5 sends user ID and password if the relay asks."));
        return p;
    }();
    return pages;
}

SetupState LoadSetup() {
    const ChatOptions& o = Options();
    SetupState s;
    s.servers = o.szhost;
    sorthosts(s.servers);
    s.selected = o.szHostEntry;
    s.port = std::to_string(s.selected.empty() ? o.Port : ParseServerEntry(s.selected).port);
    s.before = LoadPages(SetupPages());
    s.values = s.before;
    return s;
}

SetupProblem CheckSetup(SetupState& s) {
    const std::vector<SettingsPage>& pages = SetupPages();
    SetupProblem problem = CheckPages(pages, s.values);
    if (problem.page) return problem;
    const PageValues& connect = s.values[kSetupConnect - 1];
    for (size_t i : {kNickIndex, kAltNickIndex})
        if (connect[i].find_first_of(" \t") != std::string::npos)
            return {kSetupConnect, i, "A nickname cannot hold blanks."};
    int port = 0;
    if (!s.selected.empty() && !PortOf(s.port, port))
        return {kSetupConnect, pages[0].settings.size(), kPortMessage};
    uint32_t address = 0;
    const std::string& ip = s.values[kSetupLocal - 1][kLocalIpIndex];
    if (!ip.empty() && !ParseDotted(ip, address))
        return {kSetupLocal, kLocalIpIndex,
                "The address must be four numbers from 0 to 255 separated by dots."};
    const PageValues& ident = s.values[kSetupIdent - 1];
    if (ident[kIdentActive] == "1" && ident[kIdentUser].empty())
        return {kSetupIdent, kIdentUser, "The ident responder needs a user ID."};
    const PageValues& socks = s.values[kSetupSocks - 1];
    const char* env = std::getenv("SOCKS_HOST");
    if (socks[kSocksEnabled] == "1" && socks[kSocksHost].empty() && !(env && *env))
        return {kSetupSocks, kSocksHost, "Enter the relay's host name."};
    return {};
}

bool SaveSetup(const SetupState& s) {
    ChatOptions& o = Options();
    bool ok = true;
    LineList servers = s.servers;
    std::string selected = s.selected;
    int port = 0;
    if (!selected.empty() && PortOf(s.port, port)) {
        const std::string moved = EntryWithPort(selected, port);
        for (Line& l : servers)
            if (l.text == selected) l.text = moved;
        selected = moved;
    }
    ok = SavePages(SetupPages(), s.before, s.values) && ok;
    if (!SameTexts(servers, o.szhost)) {
        ok = WriteSettingsList("Servers", "sv", servers) && ok;
        o.szhost = servers;
    }
    if (selected != o.szHostEntry) {
        ok = WriteSettings("Vesk", {{"host", selected}}) && ok;
        o.szHostEntry = selected;
        if (!selected.empty()) extractserv(selected);
    }
    if (s.values[kSetupLocal - 1] != s.before[kSetupLocal - 1]) {
        uint32_t address = 0;
        o.sip = ParseDotted(o.szsip, address) ? address : 0;
        ok = WriteSettings("Local", {{"longip", o.sip ? std::to_string(o.sip) : ""}}) && ok;
    }
    if (s.values[kSetupIdent - 1] != s.before[kSetupIdent - 1]) {
        // The responder starts afresh on its (perhaps new) port, or stays off.
        iwerr(0);
        ReadIdentSettings();
    }
    if (s.values[kSetupSocks - 1] != s.before[kSetupSocks - 1]) ReadSocksSettings();
    return ok;
}

}  // namespace chat
