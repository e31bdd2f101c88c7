// The /dns look-up: a host name to its address or an address to its name, on the platform's
// look-up thread, with the result printed in the status window.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/event_loop.h"

namespace chat {

/// Frame message: the DNS look-up finished (wParam is the request id).
constexpr platform::UINT kMsgDnsDone = 1034;

/// The one DNS look-up that may run at a time.
struct DnsState {
    std::string target;       ///< what is being looked up (or the nick whose host is awaited)
    std::string nick;         ///< nickname whose address a who-is reply is to give, else empty
    uint32_t request = 0;     ///< pending platform look-up, 0 none
    bool by_address = false;  ///< the target is a numeric address (reverse look-up)
    int64_t asked_ms = 0;     ///< session clock when the look-up (or its who-is) began
};

/// How long a look-up may hold /dns back; a later /dns then starts afresh.
constexpr int64_t kDnsPatienceMs = 60000;

/// The DNS state.
DnsState& Dns();
/// True while a look-up or the who-is reply it waits for is pending (and not yet overdue).
bool DnsBusy();
/// Starts looking a host up: the part after "@" when there is one; a numeric address is looked
/// up by address. Prints "*** Looking up %s", or "*** Unable to resolve %s" when it can't start.
void DoResolveD(std::string_view target);
/// The frame's message 1034: prints the result of the look-up `request`.
void DoResolvedD(uint32_t request);
/// Forgets the pending look-up (disconnect, or a nick that turned out unknown).
void CancelDns();

}  // namespace chat
