// CTCP requests from another user: the input is the text between the \x01 marks of a PRIVMSG
// to us (the first byte picks a private or a channel target, and PRIVMSG or NOTICE).
#include "chat/core/session/ctcp_incoming.h"
#include "fuzz/chat_world.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    fuzz::StartChatInput();
    chat::parseline(":me!u@h JOIN #c");
    const char* target = data[0] & 1 ? "#c" : "me";
    const char* command = data[0] & 2 ? "NOTICE" : "PRIVMSG";
    std::string_view body = fuzz::AsText(data + 1, size - 1);
    body = body.substr(0, body.find_first_of("\r\n"));
    std::string line = ":nick!user@host " + std::string(command) + " " + target + " :\x01" +
                       std::string(body) + "\x01";
    chat::parseline(line);
    chat::doctcpaction("nick", "\x01" + std::string(body) + "\x01");
    fuzz::EndChatInput();
    return 0;
}
