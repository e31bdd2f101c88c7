#include "chat/script/address_requests.h"

#include <vector>

#include "chat/core/session/address_cache.h"
#include "chat/core/session/session_state.h"
#include "chat/core/windows/line_list.h"
#include "chat/core/windows/window_print.h"
#include "chat/script/messaging.h"
#include "chat/script/script_state.h"

namespace chat {
namespace {

// Requests kept while their WHOIS replies are outstanding; the oldest go first.
constexpr size_t kMaxWaiting = 20;

std::vector<AddressRequest>& Waiting() {
    static std::vector<AddressRequest> waiting;
    return waiting;
}

void CarryOut(const AddressRequest& r, std::string address) {
    if (!donickaddr(address, r.type)) return;
    if (r.kind == AddressRequest::kBan) {
        SendLine("MODE " + r.channel + " +b " + address, r.remote);
        if (r.delay > 0) aline(Script().unbans, r.channel + " " + address, false, r.delay);
    }
}

}  // namespace

void RequestAddress(AddressRequest request) {
    std::string address;
    if (findnick(request.nick, address)) return CarryOut(request, address);
    if (!ScriptConnected()) {
        Print(StatusWin(), "*** Not connected to server", 1);
        return;
    }
    std::string nick = request.nick;
    std::vector<AddressRequest>& w = Waiting();
    if (w.size() >= kMaxWaiting) w.erase(w.begin());
    w.push_back(std::move(request));
    // The core's look-up sends the WHOIS and takes its reply off the screen.
    checkwhois(nick, [nick](const std::string& address) {
        size_t bang = address.find('!');
        size_t at = address.find('@', bang == std::string::npos ? 0 : bang);
        if (bang == std::string::npos || at == std::string::npos) return;
        CompleteAddressRequests(nick, std::string_view(address).substr(bang + 1, at - bang - 1),
                                std::string_view(address).substr(at + 1));
    });
}

bool CompleteAddressRequests(std::string_view nick, std::string_view user, std::string_view host) {
    std::vector<AddressRequest>& w = Waiting();
    bool any = false;
    for (size_t i = 0; i < w.size();) {
        if (!SameName(w[i].nick, nick)) {
            ++i;
            continue;
        }
        AddressRequest r = std::move(w[i]);
        w.erase(w.begin() + i);
        CarryOut(r, std::string(nick) + "!" + std::string(user) + "@" + std::string(host));
        any = true;
    }
    return any;
}

void DropAddressRequests() {
    Waiting().clear();
}

void UnbanTick() {
    LineList& unbans = Script().unbans;
    for (LineIter it = unbans.begin(); it != unbans.end();) {
        LineIter next = std::next(it);
        if (--it->value <= 0) {
            size_t blank = it->text.find(' ');
            if (blank != std::string::npos && ScriptConnected())
                SendLine("MODE " + it->text.substr(0, blank) + " -b " + it->text.substr(blank + 1),
                         false);
            unbans.erase(it);
        }
        it = next;
    }
}

}  // namespace chat
