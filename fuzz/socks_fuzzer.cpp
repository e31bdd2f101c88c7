// The SOCKS relay's replies: the input is what the relay sends. The version 5 handshake takes
// it in the pieces it asks for (with and without a user name); a version 4 reply is its first
// eight bytes.
#include "chat/net/socks4.h"
#include "chat/net/socks5.h"
#include "fuzz/fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view in = fuzz::AsText(data, size);
    if (in.size() >= chat::kSocksReplySize) chat::SocksReplyText(static_cast<unsigned char>(in[1]));
    for (bool with_user : {false, true}) {
        chat::Socks5Handshake h("irc.example.net", 6667, with_user ? "user" : "",
                                with_user ? "secret" : "");
        h.Greeting();
        std::string_view rest = in;
        while (!rest.empty()) {
            size_t want = h.Wanted();
            if (want == 0 || want > chat::kSocks5FieldLimit + 2) __builtin_trap();
            size_t n = std::min(want, rest.size());
            chat::Socks5Handshake::Step step = h.Feed(rest.substr(0, n));
            rest.remove_prefix(n);
            if (!step.error.empty() || step.done) break;
        }
    }
    return 0;
}
