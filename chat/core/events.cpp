#include "chat/core/events.h"

#include "chat/core/windows/window_table.h"

namespace chat {

EventHooks& Hooks() {
    static EventHooks hooks;
    return hooks;
}

int performevent(const CurrentEvent& event) {
    return Hooks().perform ? Hooks().perform(event) : 1;
}

bool ctcpscripted(const CurrentEvent& event) {
    return Hooks().ctcp ? Hooks().ctcp(event) : false;
}

bool ignoring(std::string_view nick, std::string_view userhost, std::string_view kind) {
    return Hooks().ignoring ? Hooks().ignoring(nick, userhost, kind) : false;
}

void checknotify(bool online, std::string_view nick) {
    if (Hooks().checknotify) Hooks().checknotify(online, nick);
}

void SoundAlarm(int setting, std::string_view alarm) {
    if (setting == 0) return;
    if (setting == 2 && Hooks().play_alarm && Hooks().play_alarm(alarm)) return;
    Beep();
}

}  // namespace chat
