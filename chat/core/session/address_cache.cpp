#include "chat/core/session/address_cache.h"

#include <unordered_map>

#include "chat/core/session/nick_list.h"
#include "chat/core/session/session_state.h"
#include "chat/core/windows/window_table.h"

namespace chat {
namespace {

std::string_view NickPart(std::string_view entry) {
    return entry.substr(0, entry.find('!'));
}

// An index by folded nickname beside the list, so joins and messages in a large channel do
// not walk the cache. It is rebuilt when the list was changed from outside (cleared) or the
// server's case mapping changed.
struct Index {
    std::unordered_map<std::string, LineIter> by_nick;
    int casemapping = -1;
};

Index& TheIndex() {
    static Index index;
    return index;
}

Index& Fresh() {
    Index& x = TheIndex();
    LineList& list = AddressList();
    if (x.by_nick.size() != list.size() || x.casemapping != Session().casemapping) {
        x.by_nick.clear();
        x.casemapping = Session().casemapping;
        for (auto it = list.begin(); it != list.end(); ++it)
            x.by_nick.emplace(FoldName(NickPart(it->text)), it);
    }
    return x;
}

LineIter Find(std::string_view nick) {
    Index& x = Fresh();
    auto hit = x.by_nick.find(FoldName(nick));
    return hit == x.by_nick.end() ? AddressList().end() : hit->second;
}

void Forget(LineIter it) {
    TheIndex().by_nick.erase(FoldName(NickPart(it->text)));
    AddressList().erase(it);
}

bool ListedAnywhere(std::string_view nick) {
    for (const auto& [id, data] : Session().channels)
        if (findhwnd(id) >= 0 && FindMember(data.nicks, nick)) return true;
    return false;
}

bool AllDigitsAndDots(std::string_view s) {
    for (char c : s)
        if (c != '.' && (c < '0' || c > '9')) return false;
    return true;
}

std::string DomainForm(std::string_view host) {
    if (AllDigitsAndDots(host)) {
        size_t dot = host.rfind('.');
        if (dot == std::string_view::npos) return std::string(host);
        return std::string(host.substr(0, dot)) + ".*";
    }
    size_t dot = host.find('.');
    if (dot == std::string_view::npos) return std::string(host);
    std::string out(1, '*');
    out.append(host.substr(dot));
    return out;
}

}  // namespace

LineList& AddressList() {
    static LineList adl;
    return adl;
}

void addnick(std::string_view nick, std::string_view address, bool rename) {
    if (nick.empty() || address.empty()) return;
    LineIter it = Find(nick);
    if (!rename) {
        if (it == AddressList().end()) {
            LineIter added =
                aline(AddressList(), std::string(nick) + "!" + std::string(address), false);
            TheIndex().by_nick.emplace(FoldName(nick), added);
        }
        return;
    }
    if (it == AddressList().end()) return;
    size_t bang = it->text.find('!');
    std::string rest = bang == std::string::npos ? std::string() : it->text.substr(bang);
    Index& x = TheIndex();
    x.by_nick.erase(FoldName(nick));
    it->text = std::string(address) + rest;
    // A rename onto a name already cached keeps one entry.
    auto [slot, inserted] = x.by_nick.emplace(FoldName(address), it);
    if (!inserted) {
        AddressList().erase(slot->second);
        slot->second = it;
    }
}

void SetAddress(std::string_view nick, std::string_view address) {
    if (nick.empty() || address.empty()) return;
    LineIter it = Find(nick);
    if (it == AddressList().end()) return addnick(nick, address, false);
    it->text = std::string(NickPart(it->text)) + "!" + std::string(address);
}

void remnick(std::string_view nick, bool clean) {
    if (clean) cleanlist();
    if (ListedAnywhere(nick)) return;
    LineIter it = Find(nick);
    if (it != AddressList().end()) Forget(it);
}

void cleanlist() {
    LineList& list = AddressList();
    for (auto it = list.begin(); it != list.end();) {
        auto next = std::next(it);
        if (!ListedAnywhere(NickPart(it->text))) Forget(it);
        it = next;
    }
}

bool findnick(std::string_view nick, std::string& out) {
    LineIter it = Find(nick);
    if (it == AddressList().end()) return false;
    out = it->text;
    return true;
}

bool donickaddr(std::string& address, int type) {
    size_t bang = address.find('!');
    size_t at = address.find('@', bang == std::string::npos ? 0 : bang);
    if (bang == std::string::npos || at == std::string::npos) return false;
    std::string nick = address.substr(0, bang);
    std::string userpart = address.substr(bang + 1, at - bang - 1);
    std::string host = address.substr(at + 1);
    if (!userpart.empty() && userpart[0] == '~') userpart.erase(0, 1);
    if (type != 2 && type != 4 && userpart.size() > 9)
        userpart = userpart.substr(userpart.size() - 9);
    switch (type) {
        case 0:
            address = nick + "!*" + userpart + "@" + host;
            break;
        case 1:
            address = "*!*" + userpart + "@" + host;
            break;
        case 2:
            address = "*!*@" + host;
            break;
        case 3:
            address = "*!*" + userpart + "@" + DomainForm(host);
            break;
        default:
            address = "*!*@" + DomainForm(host);
            break;
    }
    return true;
}

}  // namespace chat
