// Commands that need a nickname's address (ban, and later ignore and the user list): taken
// from the address cache when known, else asked with WHOIS and completed when the reply
// arrives. Also the automatic unbans that timed bans leave behind.
#pragma once

#include <string>
#include <string_view>

namespace chat {

/// One command waiting for an address.
struct AddressRequest {
    enum Kind { kBan };
    Kind kind = kBan;
    std::string nick, channel;
    int type = 2;   ///< mask type 0-4
    int delay = 0;  ///< seconds until the automatic unban, 0 none
    bool remote = false;
};

/// Carries the request out now when the address is cached, else sends WHOIS and keeps it.
void RequestAddress(AddressRequest request);
/// The WHOIS reply for a nickname: carries out every request waiting for it. True when one was
/// waiting (the reply is then not shown).
bool CompleteAddressRequests(std::string_view nick, std::string_view user, std::string_view host);
/// Drops every waiting request (a new connection).
void DropAddressRequests();
/// One second of the automatic unbans: each that is due sends its "MODE -b".
void UnbanTick();

}  // namespace chat
