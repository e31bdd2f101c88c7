// The one place where DCC requests from other users (CHAT, SEND, RESUME, ACCEPT) leave the
// CTCP handler. The DCC layer installs its negotiation here; until then an offer is reported
// and refused politely.
#pragma once

#include <functional>
#include <string_view>

namespace chat {

/// Handles one DCC request: the sender, its user@host (may be empty) and the CTCP text as it
/// came (beginning with \x01DCC).
using DccOfferHandler =
    std::function<void(std::string_view nick, std::string_view userhost, std::string_view text)>;

/// Installs the DCC negotiation.
void SetDccOfferHandler(DccOfferHandler handler);
/// Passes a DCC request on (or reports and refuses it when no negotiation is installed).
void HandleDccOffer(std::string_view nick, std::string_view userhost, std::string_view text);

}  // namespace chat
