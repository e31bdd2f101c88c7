#include "chat/core/handoff.h"

#include <cctype>
#include <string>
#include <utility>

#include "chat/core/connection/connection.h"
#include "chat/core/windows/window_print.h"
#include "chat/core/windows/window_table.h"

namespace chat {
namespace {

InputHandler& Handler() {
    static InputHandler handler = RawInput;
    return handler;
}

// Splits off the first blank-separated word.
std::string_view NextWord(std::string_view& rest) {
    while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
    size_t blank = rest.find(' ');
    std::string_view word = rest.substr(0, blank);
    rest = blank == std::string_view::npos ? std::string_view() : rest.substr(blank + 1);
    return word;
}

}  // namespace

void SetInputHandler(InputHandler handler) {
    Handler() = std::move(handler);
}

void parseinput(WindowId window, std::string_view line) {
    if (Handler()) Handler()(window, line);
}

void EnterLine(WindowId id, const std::string& line) {
    if (findhwnd(id) < 0) id = Windows().CActive;
    int slot = findhwnd(id);
    if (slot < 0) return;
    if (!line.empty()) addtolbuf(slot, line);
    parseinput(id, line);
}

void RawInput(WindowId window, std::string_view line) {
    if (line.empty()) return;
    if (line[0] == '/') {
        std::string command(line.substr(1));
        size_t blank = command.find(' ');
        for (size_t i = 0; i < command.size() && i < blank; ++i)
            command[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(command[i])));
        if (!command.empty()) Sendline(command, false);
        return;
    }
    const WindowRecord* r = RecordOf(window);
    if (!r || (r->kind != kKindChannel && r->kind != kKindQuery)) {
        Print(Windows().statwin, "*** You are not on a channel or in a query", 3);
        return;
    }
    if (!Conn().Connected) {
        Print(window, "*** Not connected to IRC server", 3);
        return;
    }
    Sendline("PRIVMSG " + r->name + " :" + std::string(line), false);
}

void RawServerLine(std::string_view line) {
    if (line.empty()) return;
    std::string_view rest = line;
    if (rest.front() == ':') NextWord(rest);
    std::string_view command = NextWord(rest);
    if (command == "PING" || command == "ping") {
        while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
        if (!rest.empty() && rest.front() == ':') rest.remove_prefix(1);
        Sendline(rest.empty() ? std::string("PONG") : "PONG :" + std::string(rest), false);
        Print(Windows().statwin, "PING? PONG!", 2);
        return;
    }
    Connection& c = Conn();
    if (command == "001") {
        c.LoggingNick = false;
        ConnectionWelcomed();
    } else if ((command == "376" || command == "422") && c.FirstMOTD) {
        c.FirstMOTD = false;
        if (!c.joinstr.empty()) Sendline("JOIN " + c.joinstr, false);
    }
    Print(Windows().statwin, line, 0);
}

}  // namespace chat
