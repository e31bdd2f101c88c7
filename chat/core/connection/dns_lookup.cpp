#include "chat/core/connection/dns_lookup.h"

#include "chat/core/frame.h"
#include "chat/core/session/session_state.h"
#include "chat/core/windows/window_print.h"
#include "chat/core/windows/window_table.h"
#include "platform/net.h"

namespace chat {
namespace {

namespace net = platform::net;

// Host names are at most 253 characters; anything longer is not worth asking about.
constexpr size_t kMaxHost = 255;

void Status(const std::string& text) {
    Print(Windows().statwin, text, 5);
}

}  // namespace

DnsState& Dns() {
    static DnsState state;
    return state;
}

bool DnsBusy() {
    const DnsState& d = Dns();
    return (d.request != 0 || !d.nick.empty()) && SessionNowMs() - d.asked_ms < kDnsPatienceMs;
}

void DoResolveD(std::string_view target) {
    DnsState& d = Dns();
    size_t at = target.rfind('@');
    if (at != std::string_view::npos) target.remove_prefix(at + 1);
    d = DnsState{};
    d.asked_ms = SessionNowMs();
    d.target = std::string(target.substr(0, kMaxHost));
    if (target.empty() || target.size() > kMaxHost) {
        Status("*** Unable to resolve " + d.target);
        d = DnsState{};
        return;
    }
    platform::HWND frame = Frame().hwndFrame;
    if (auto numeric = net::ParseAddress(d.target, 0)) {
        d.by_address = true;
        d.request = net::ReverseLookup(*numeric, frame, kMsgDnsDone);
    } else {
        d.request = net::Lookup(d.target, frame, kMsgDnsDone);
    }
    if (d.request == 0) {
        Status("*** Unable to resolve " + d.target);
        d = DnsState{};
        return;
    }
    Status("*** Looking up " + d.target);
}

void DoResolvedD(uint32_t request) {
    auto result = net::TakeLookup(request);
    DnsState& d = Dns();
    if (request == 0 || request != d.request) return;  // cancelled, or not ours
    DnsState done = std::move(d);
    d = DnsState{};
    if (!result || result->error != 0) {
        Status("*** Unable to resolve " + done.target);
        return;
    }
    std::string answer;
    if (done.by_address) {
        answer = result->canonical_name;
    } else if (!result->addresses.empty()) {
        answer = net::AddressHost(result->addresses.front());
    }
    if (answer.empty()) {
        Status("*** Unable to resolve " + done.target);
        return;
    }
    Status("*** Resolved " + done.target + " to " + answer);
}

void CancelDns() {
    DnsState& d = Dns();
    // A finished result still waiting is dropped with the request.
    if (d.request) net::TakeLookup(d.request);
    d = DnsState{};
}

}  // namespace chat
