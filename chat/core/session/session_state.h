// What the chat session knows between server lines: the nickname in use, modes, the server's
// announced features, multi-line reply brackets, per-channel data and the guards that bound
// what other users can make the client do.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "chat/core/frontend.h"
#include "chat/core/session/nick_list.h"
#include "chat/core/windows/line_list.h"
#include "chat/core/windows/window_table.h"

namespace chat {

/// Longest channel name the client joins or keeps a window for.
constexpr size_t kMaxChannelName = 90;
/// Characters of a topic kept.
constexpr size_t kMaxTopic = 246;
/// Free window slots kept back from query windows that other users open.
constexpr int kQuerySlotReserve = 10;

/// Data the who-is dialog gathers for one nickname.
struct WhoisRecord {
    std::string nick, address, realname, server, oper, away, idle, channels;
    bool open = false;     ///< a /uwho request is gathering replies (until the 318)
    int64_t asked_ms = 0;  ///< session clock when the request went out
};

/// Per channel window: its members.
struct ChannelData {
    NickList nicks;
};

/// Kicks of us in one channel, for the rejoin guard.
struct KickHistory {
    std::deque<int64_t> times_ms;
};

/// A command waiting for a user's address from a who-is reply (ban, ignore, user list, DNS,
/// finger by nickname). `done` gets "nick!user@host", or nothing when the nick is unknown.
struct AddressLookup {
    std::string nick;
    std::function<void(const std::string& address)> done;
    std::function<void()> failed;
    bool answered = false;
};

/// A rejoin waiting for its delay.
struct PendingRejoin {
    std::string channel;
    int64_t due_ms = 0;
};

/// The process-wide session state of the server message parser.
struct ChatSession {
    std::string nick;  ///< the nickname the server knows us by (never written to the settings)
    bool away = false;
    bool InWho = false, InWhois = false, InStats = false, InInfo = false, InListing = false,
         Linking = false, LWTopic = false;
    std::string lastch;  ///< channel whose NAMES reply is being collected
    std::string chinv;   ///< channel of the last invite followed
    std::string umodes;  ///< user-mode letters currently set
    LineList szlinks;    ///< LINKS entries "server,uplink,hops info"
    WhoisRecord uwho;
    // Channels list counters.
    int list_total = 0, list_shown = 0, list_since_title = 0;
    WindowId list_window = 0;
    std::vector<std::string> list_sorted;  ///< shown entries held back to be shown sorted
    std::vector<std::string> list_exclude, list_match;  ///< channels-list filter words, lowered
    int64_t last_keypress_s = 0;  ///< wall time of the user's last key press, 0 unknown
    std::string finger_message;   ///< added to FINGER and USERINFO replies when set

    // What the server announced in 005.
    std::string prefix_modes = "qaohv";  ///< mode letters that give a nick-list mark
    std::string prefix_chars = "~&@%+";  ///< the marks, highest first
    bool prefix_known = false;
    std::string chanmodes_a, chanmodes_b, chanmodes_c, chanmodes_d;
    bool chanmodes_known = false;
    int casemapping = 0;  ///< 0 rfc1459, 1 ascii, 2 strict-rfc1459

    // Op and deop collections of the last MODE line (first five kept each).
    std::vector<std::string> op_nicks, deop_nicks;
    std::string pending_mode_request;  ///< channel to ask "MODE" for after the event handlers

    std::map<WindowId, ChannelData> channels;
    std::vector<AddressLookup> lookups;  ///< pending address look-ups, oldest first

    // Guards against what others can make us do.
    std::deque<std::pair<int64_t, std::string>> auto_replies;  ///< time, folded sender
    int64_t last_invite_join_ms = -1;
    std::map<std::string, KickHistory> kicks;  ///< by folded channel name
    std::vector<PendingRejoin> rejoins;

    /// Test clock in milliseconds; empty uses the monotonic clock.
    std::function<int64_t()> clock;
    /// Test wall clock in seconds since 1970; empty uses time().
    std::function<int64_t()> wall_clock;
    /// Test sink for lines to the server; empty sends them on the connection.
    std::function<void(std::string_view line, bool remote)> send;
};

/// The session.
ChatSession& Session();
/// Ends a channels listing: held-back entries are shown sorted, the title gets its final
/// counts, and the window may close again (the end reply, or a disconnect).
void EndChannelListing();
/// Whether a window may close now: the channels list stays while a listing arrives into it.
bool MayCloseWindow(const WindowRecord& r);
/// A fresh session (tests, a new connection keeps only what the server will tell again).
void ResetSession();
/// Clears what a new connection starts without (reply brackets, features, guards).
void SessionConnected();

/// Sends one line to the server (remote: caused by another user, the flood guard may drop it).
void SendToServer(std::string_view line, bool remote);
/// Milliseconds of the session clock.
int64_t SessionNowMs();
/// Seconds since 1970 of the session's wall clock.
int64_t SessionWallSeconds();

/// The nickname in use.
const std::string& CurrentNickname();
/// True when `nick` is ours under the server's case mapping.
bool IsMe(std::string_view nick);
/// A nickname or channel folded by the server's case mapping, for comparing and indexing.
std::string FoldName(std::string_view name);
/// True when both names are equal under the server's case mapping.
bool SameName(std::string_view a, std::string_view b);
/// A name that begins with "#" or "&".
bool IsChannelName(std::string_view name);
/// One joinable channel name: a channel prefix, at most 90 characters, no ",", blank or
/// control character.
bool IsValidChannelName(std::string_view name);

/// Asks the server for a nickname's address (sends WHOIS); the reply is not shown.
void checkwhois(std::string_view nick, std::function<void(const std::string& address)> done,
                std::function<void()> failed = nullptr);
/// The pending look-up of a nickname, or null.
AddressLookup* FindLookup(std::string_view nick);

/// The channel data of a channel window, made on first use.
ChannelData& ChannelOf(WindowId window);
/// The channel data when there is some, else null.
ChannelData* FindChannel(WindowId window);
/// Forgets the data of a closed window.
void DropChannel(WindowId window);
/// The rank of a nick-list mark character in the announced order, -1 when not a mark.
int MarkRank(char mark);
/// The mark character of a prefix mode letter, 0 when the letter gives none.
char MarkForMode(char mode);
/// True when a mark counts as channel operator (~, & and @).
bool IsOperatorMark(char mark);

/// Applies one 005 parameter (PREFIX, CHANMODES, CASEMAPPING); others are ignored.
void ApplyIsupport(std::string_view token);
/// True when a channel mode letter with this sign takes an argument.
bool ModeTakesArgument(char letter, bool plus);

/// True when an automatic reply that `sender` caused may go out now (3 per sender in 5
/// seconds, 6 in all in 10 seconds); records it when it may.
bool AllowAutoReply(std::string_view sender);

/// "[h:mm] " in front of the text when time stamps are on.
std::string timestamp(std::string_view text);
/// A count of seconds as "1hr 2mins 5secs".
std::string convertseconds(int64_t seconds);
/// Seconds since 1970 as "Mon Jan  2 15:04:05 2006" in local time.
std::string extracttime(int64_t seconds);

}  // namespace chat
