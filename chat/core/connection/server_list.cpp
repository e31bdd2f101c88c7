#include "chat/core/connection/server_list.h"

#include <cstdlib>

#include "chat/core/options.h"

namespace chat {
namespace {

size_t FindNoCase(std::string_view hay, std::string_view needle) {
    if (needle.size() > hay.size()) return std::string_view::npos;
    for (size_t i = 0; i + needle.size() <= hay.size(); ++i)
        if (EqualNoCase(hay.substr(i, needle.size()), needle)) return i;
    return std::string_view::npos;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return s;
}

std::string FirstWord(std::string_view s, size_t limit) {
    s = Trim(s);
    size_t blank = s.find(' ');
    return std::string(s.substr(0, std::min(blank, limit)));
}

}  // namespace

int ParsePortText(std::string_view text, bool& tls) {
    text = Trim(text);
    tls = !text.empty() && text.front() == '+';
    if (tls) text.remove_prefix(1);
    if (tls && text.empty()) return kDefaultTlsPort;
    std::string digits(text.substr(0, 10));
    long p = std::strtol(digits.c_str(), nullptr, 10);
    return (p > 0 && p <= 65535) ? static_cast<int>(p) : 6667;
}

ServerEntry ParseServerEntry(std::string_view entry) {
    ServerEntry e;
    std::string_view rest = entry;
    size_t server = FindNoCase(entry, "SERVER:");
    if (server != std::string_view::npos) {
        e.description = std::string(entry.substr(0, std::min<size_t>(server, 100)));
        rest = entry.substr(server + 7);
    }
    size_t group = FindNoCase(rest, "GROUP:");
    if (group != std::string_view::npos) {
        e.group = FirstWord(rest.substr(group + 6), 20);
        rest = rest.substr(0, group);
    }
    // An IPv6 address is written in brackets, so that its colons are not the port's.
    rest = Trim(rest);
    size_t close = rest.starts_with('[') ? rest.find(']') : std::string_view::npos;
    size_t colon = rest.find(':', close == std::string_view::npos ? 0 : close);
    e.host = UnbracketHost(FirstWord(rest.substr(0, colon), 100));
    if (colon != std::string_view::npos) {
        std::string_view after = rest.substr(colon + 1);
        size_t colon2 = after.find(':');
        e.port = ParsePortText(after.substr(0, std::min<size_t>(colon2, 11)), e.tls);
        if (colon2 != std::string_view::npos)
            e.password = std::string(Trim(after.substr(colon2 + 1)).substr(0, 100));
    }
    if (e.description.empty()) e.description = e.host;
    return e;
}

std::string UnbracketHost(std::string_view host) {
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    return std::string(host);
}

void extractserv(std::string_view entry) {
    ServerEntry e = ParseServerEntry(entry);
    ChatOptions& o = Options();
    o.szDesc = e.description;
    o.szGroup = e.group;
    o.szHostName = e.host;
    o.szPassword = e.password;
    o.Port = e.port;
    o.UseTLS = e.tls;
}

bool buildconnectlist(const LineList& servers, std::string_view group, LineList& rotation) {
    freelines(rotation);
    for (const Line& l : servers)
        if (EqualNoCase(ParseServerEntry(l.text).group, group)) aline(rotation, l.text, false);
    return !rotation.empty();
}

void getnextserver(LineList& rotation) {
    if (rotation.empty()) return;
    extractserv(rotation.front().text);
    rotation.splice(rotation.end(), rotation, rotation.begin());
}

LineList::const_iterator findserv(const LineList& servers, std::string_view description) {
    for (auto it = servers.begin(); it != servers.end(); ++it)
        if (EqualNoCase(ParseServerEntry(it->text).description, description)) return it;
    return servers.end();
}

void sorthosts(LineList& servers) {
    auto before = [](const Line& a, const Line& b) {
        std::string ga = ParseServerEntry(a.text).group, gb = ParseServerEntry(b.text).group;
        if (ga.empty() != gb.empty()) return !ga.empty();
        if (!ga.empty()) {
            int c = CompareNoCase(ga, gb);
            if (c != 0) return c < 0;
        }
        return CompareNoCase(a.text, b.text) < 0;
    };
    servers.sort(before);  // stable, as the repeated exchange pass is
}

}  // namespace chat
