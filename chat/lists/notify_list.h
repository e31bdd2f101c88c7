// The notify list: nicknames whose arrival on IRC and departure the user wants to hear about,
// checked with ISON on the main timer (or followed with MONITOR where the server offers it),
// with the "Notify List" window of who is on.
#pragma once

#include <list>
#include <string>
#include <string_view>

namespace chat {

/// Characters of a notify nickname and of its note.
constexpr size_t kMaxNotifyText = 90;
/// An ISON line is sent before it would reach this length.
constexpr size_t kMaxIsonLine = 550;
/// A WHOIS line for arrivals stays under this length.
constexpr size_t kMaxNotifyWhois = 650;
/// Seconds between notify checks.
constexpr int kNotifyInterval = 40;

/// One nickname of the notify list.
struct NotifyEntry {
    std::string nick;
    std::string note;
    int seen = 0;  ///< 0 not yet seen in this check, 1 handled, 2 announced in this check
    bool online = false;
    bool whois = false;  ///< WHOIS is sent on arrival
};

/// The notify list and the state of its checks.
struct NotifyState {
    std::list<NotifyEntry> entries;  ///< sorted by nickname, case ignored
    bool Notifying = false;
    int secs = 0;
    int notifiessent = 0;
    bool NotifyReport = false, FirstNotify = false, notifieson = false, notifiesoff = false;
    /// Replies still due to checks that a reset abandoned: they are taken without effect.
    int stale = 0;
    /// The server announced MONITOR: arrivals and departures come without polling.
    bool monitor = false;
    /// The toolbar's notify light (someone arrived while the window was not on top).
    bool light = false;
};

/// The notify state.
NotifyState& Notify();
/// A fresh state (tests).
void ResetNotify();

/// Adds a nickname (a leading "+" sets the WHOIS mark); false when present or empty.
bool addnotifynick(std::string_view nick, std::string_view note);
/// Removes a nickname; false when it is not on the list.
bool remnotifynick(std::string_view nick);
/// The entry of a nickname (a leading "+" is skipped), or null.
NotifyEntry* findnotifynick(std::string_view nick);
/// Reads section "Notify" (converting the old "notify" key of "Text").
void loadnotify();
/// Writes section "Notify".
void savenotify();
/// Clears every seen and online mark, empties the window and asks for a report next time.
void setnotify();
/// Starts a check (ISON lines); with `report` the outcome is reported even when nothing changed.
void sendnotify(bool report);
/// An ISON reply; false when no check runs (the reply is then printed as it stands).
bool NotifyIsonReply(std::string_view nicks);
/// A MONITOR reply: targets ("nick" or "nick!user@host") on IRC or gone.
void NotifyMonitorReply(bool online, std::string_view targets);
/// Activity of a nickname seen by the message handlers: marks it on or off line quietly.
void checknotify_entry(bool online, std::string_view nick);
/// One second of the main timer.
void NotifyTick();
/// The first end of the MOTD: the first check with a report (and MONITOR set up).
void NotifyAfterMotd();
/// A change of the list while connected: the server is told (MONITOR) and a check runs.
void NotifyListChanged(std::string_view added, std::string_view removed);
/// Shows the "Notify List" window (made and filled when missing); turns off the light.
void ShowNotifywindow();
/// Closes the notify window when open.
void HideNotifywindow();

}  // namespace chat
