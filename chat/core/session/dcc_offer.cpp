#include "chat/core/session/dcc_offer.h"

#include <algorithm>
#include <string>
#include <utility>

#include "chat/core/connection/connection.h"
#include "chat/core/session/session_state.h"
#include "chat/core/windows/display_text.h"
#include "chat/core/windows/window_print.h"
#include "chat/core/windows/window_table.h"

namespace chat {
namespace {

DccOfferHandler& Handler() {
    static DccOfferHandler handler;
    return handler;
}

}  // namespace

void SetDccOfferHandler(DccOfferHandler handler) {
    Handler() = std::move(handler);
}

void HandleDccOffer(std::string_view nick, std::string_view userhost, std::string_view text) {
    if (Handler()) return Handler()(nick, userhost, text);
    // "\x01DCC SEND name ...": the kind is the word after DCC.
    std::string_view rest = text.substr(text.size() >= 5 ? 5 : text.size());
    std::string kind(rest.substr(0, std::min(rest.find(' '), rest.find('\x01'))));
    if (kind.size() > 20) kind.resize(20);
    Pp(Windows().statwin,
       "*** DCC " + DisplayText(kind) + " request from " + std::string(nick) +
           " refused (DCC is not available)",
       3);
    // The refusal must fit one line to the server whatever the sender's name.
    if (nick.size() <= 100 && AllowAutoReply(nick))
        SendToServer(
            "NOTICE " + std::string(nick) + " :DCC " + kind + " refused: DCC is not available",
            true);
}

}  // namespace chat
