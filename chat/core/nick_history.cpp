#include "chat/core/nick_history.h"

#include "chat/core/windows/window_table.h"

namespace chat {

// Nicknames are bounded as the rest of the client bounds them.
constexpr size_t kMaxNickText = 100;

LineList& LastNicks() {
    static LineList nicks;
    return nicks;
}

void addlastnick(std::string_view nick) {
    if (nick.empty()) return;
    nick = nick.substr(0, kMaxNickText);
    LineList& list = LastNicks();
    for (auto it = list.begin(); it != list.end(); ++it) {
        if (!EqualNoCase(it->text, nick)) continue;
        list.splice(list.end(), list, it);
        return;
    }
    aline(list, nick, false);
    while (list.size() > kLastNicks) rtopline(list);
}

std::optional<std::string> showlastnick() {
    LineList& list = LastNicks();
    if (list.empty()) return std::nullopt;
    auto current = list.end();
    for (auto it = list.begin(); it != list.end(); ++it)
        if (it->value == 1) current = it;
    auto next = std::prev(list.end());
    if (current != list.end()) {
        current->value = 0;
        next = current == list.begin() ? std::prev(list.end()) : std::prev(current);
    }
    next->value = 1;
    return next->text;
}

void ResetLastNicks() {
    for (Line& l : LastNicks()) l.value = 0;
}

void NextNickToInput(WindowId window) {
    std::optional<std::string> nick = showlastnick();
    if (!nick) {
        Beep();
        return;
    }
    Frontend& fe = CurrentFrontend();
    if (fe.set_input) fe.set_input(window, "/msg " + *nick + " ");
}

}  // namespace chat
