// The command-language harnesses' one body: each input line runs in a channel window with the
// given origin, through alias replacement, identifier evaluation and the built-in commands.
// An alias "/a" and a variable "%v" exist so that the replacement paths have something to
// replace; the input's length decides whether remote text may reach files.
#pragma once

#include "fuzz/chat_world.h"

namespace fuzz {

inline void RunScriptInput(const uint8_t* data, size_t size, int origin) {
    StartChatInput();
    chat::WindowId channel = chat::MakeNewWindow("#c", false);
    chat::parseinput(channel, "/alias /a /echo $1- # $2 $nick", chat::kOriginTyped, 0);
    chat::parseinput(channel, "/set %v 7", chat::kOriginTyped, 0);
    chat::Options().remote_files = (size & 1) != 0;
    std::string_view text = AsText(data, size);
    size_t lines = 0;
    while (!text.empty() && lines++ < 16) {
        size_t end = text.find('\n');
        chat::parseinput(channel, text.substr(0, end), origin, 0);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
    EndChatInput();
}

}  // namespace fuzz
