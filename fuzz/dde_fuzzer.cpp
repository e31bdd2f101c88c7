// The DDE server's request reader: one transaction line parsed, then answered or poked as the
// server does for a peer on its socket.
#include "chat/dde/dde_channel.h"
#include "chat/dde/dde_server.h"
#include "fuzz/chat_world.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The server reads one line of at most this many bytes.
    std::string_view line = fuzz::AsText(data, std::min(size, chat::kDdeRequestLimit));
    line = line.substr(0, line.find('\n'));
    auto t = chat::ParseDdeTransaction(line);
    if (!t) return 0;
    chat::FormatDdeTransaction(*t);
    fuzz::StartChatInput();
    if (t->poke)
        chat::DdePoke(t->topic, t->data);
    else
        chat::DdeAnswer(t->topic, t->item);
    fuzz::EndChatInput();
    return 0;
}
