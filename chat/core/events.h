// Where the server message parser meets the user's event and CTCP scripts, the notify list and
// the ignore list. The layers above install their handlers here; until they do, nothing is
// handled, nobody is ignored and notify marks go nowhere.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace chat {

/// Event codes of the server message parser.
enum EventCode : int {
    kEventText = 1,  ///< PRIVMSG, NOTICE, ACTION
    kEventInvite = 2,
    kEventKick = 3,
    kEventNick = 5,
    kEventQuit = 6,
    kEventTopic = 7,
    kEventOp = 9,
    kEventDeop = 10,
    kEventMode = 13,
};

/// The event as the handlers see it.
struct CurrentEvent {
    int code = 0;
    std::string nick;      ///< who caused it
    std::string userhost;  ///< user@host, empty when unknown
    std::string command;   ///< server command word in small letters ("privmsg", "join")
    std::string target;    ///< first parameter (channel or our nick)
    std::string text;      ///< the trailing text
    std::string arg;       ///< the second parameter (the kicked nick, the mode string)
};

/// Handlers installed by the scripting layer.
struct EventHooks {
    /// Runs the event scripts; returns 0 when a handler asked to suppress the default
    /// handling, 1 otherwise.
    std::function<int(const CurrentEvent&)> perform;
    /// A CTCP request offered to the CTCP script; true when a script took it over.
    std::function<bool(const CurrentEvent&)> ctcp;
    /// True when nick!user@host is ignored for that kind ("private", "channel", "notice",
    /// "ctcp", "invite").
    std::function<bool(std::string_view nick, std::string_view userhost, std::string_view kind)>
        ignoring;
    /// A nickname seen on line (online) or gone (!online), for the notify list.
    std::function<void(bool online, std::string_view nick)> checknotify;
    /// The first end of the MOTD of a connection: perform lines, notify check, join dialog.
    std::function<void()> first_motd;
    /// Someone wrote to us privately (the nick history of the input line).
    std::function<void(std::string_view nick)> nick_wrote;
    /// Someone joined a channel where we are an operator and auto-op is on: the auto-op list
    /// decides (and delays) the grant.
    std::function<void(std::string_view channel, std::string_view nick, std::string_view userhost)>
        auto_op;
    /// Someone left a channel or IRC: pending auto-op grants for the nick are dropped.
    std::function<void(std::string_view nick)> cancel_auto_op;
    /// The ISON reply's nicknames; true when a running notify check took it (not printed).
    std::function<bool(std::string_view nicks)> ison_reply;
    /// MONITOR replies: the targets now on IRC (730) or gone (731), separated by ",".
    std::function<void(bool online, std::string_view targets)> monitor_reply;
    /// One parameter of the server's 005 reply, for features the layers above use (MONITOR).
    std::function<void(std::string_view token)> isupport;
    /// A ban-list entry (367); true when a channel-information request took it.
    std::function<bool(std::string_view channel, std::string_view mask)> ban_entry;
    /// The end of a ban list (368); true when a channel-information request took it.
    std::function<bool(std::string_view channel)> ban_end;
    /// A line as printed (display text), and the channel URL reply: the URL catcher's input.
    std::function<void(std::string_view text)> printed;
    /// Plays the sound set for an alarm ("query", "notice", "invite", "disconnect", "send");
    /// false when none is set or it cannot play.
    std::function<bool(std::string_view alarm)> play_alarm;
};

/// The installed handlers.
EventHooks& Hooks();

/// Runs the event handlers for an event; 1 = not handled (default handling goes on).
int performevent(const CurrentEvent& event);
/// Offers a CTCP request to the scripts; true when taken over.
bool ctcpscripted(const CurrentEvent& event);
/// True when the source is ignored for that kind.
bool ignoring(std::string_view nick, std::string_view userhost, std::string_view kind);
/// Notify mark for a nickname.
void checknotify(bool online, std::string_view nick);
/// Sounds an alarm as its setting says: 0 nothing, 2 its sound (a beep when that cannot
/// play), anything else a beep.
void SoundAlarm(int setting, std::string_view alarm);

}  // namespace chat
