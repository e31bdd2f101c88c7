// Server lines through the tokenizer and the dispatcher of every command and numeric reply,
// one line per input line, on a fresh session whose channel "#c" is joined.
#include "fuzz/chat_world.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::StartChatInput();
    chat::parseline(":me!u@h JOIN #c");
    std::string_view text = fuzz::AsText(data, size);
    size_t lines = 0;
    while (!text.empty() && lines++ < 64) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        chat::parseline(line);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
    chat::ParserTick();
    fuzz::EndChatInput();
    return 0;
}
