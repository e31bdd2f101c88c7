// DCC requests (CHAT, SEND, RESUME, ACCEPT): the request parser and the checks on what it
// gives, then the negotiation the CTCP handler hands the request to. A SEND of ours waits on
// a port first, so RESUME and ACCEPT for it reach the transfer tables.
#include "chat/dcc/dcc_parse.h"
#include "fuzz/chat_world.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text = fuzz::AsText(data, size);
    text = text.substr(0, text.find_first_of("\r\n"));
    std::string request =
        "\x01"
        "DCC " +
        std::string(text);
    if (auto r = chat::dcc::ParseRequest(request)) {
        chat::dcc::CheckHostReach(r->host, r->port);
        chat::dcc::CheckReach(r->address, r->port);
        chat::dcc::SafeReceivedName(r->name, {"vesk32.ini"});
        chat::dcc::OfferedName(r->name, true);
    }
    chat::dcc::SplitQuoted(text, 8);

    fuzz::StartChatInput();
    chat::parseline(":nick!user@host PRIVMSG me :" + request + "\x01");
    fuzz::EndChatInput();
    return 0;
}
