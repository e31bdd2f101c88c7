// The commands script (CTCP replies) and the events script: which entry an event or request
// fires, the identifiers its command sees ($nick, $chan, $parms ...), groups of entries that
// can be switched off, and the handlers the server parser calls.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "chat/core/events.h"
#include "chat/core/frontend.h"
#include "chat/script/tokens.h"

namespace chat {

/// Event codes the scripts know beyond those of the server parser.
constexpr int kEventNotify = 19;
constexpr int kEventChat = 50;
constexpr int kEventServ = 51;

/// The event being scripted, as its command's identifiers see it.
struct RemoteEvent {
    int code = 0;
    std::string name;      ///< event name ("text", "join") or the CTCP word
    std::string nick;      ///< who caused it
    std::string userhost;  ///< user@host, empty when unknown
    std::string chan;      ///< the channel, empty for private events
    std::string text;      ///< the message text (without "\x01ACTION"), the chat line
    std::string subject;   ///< kicked nick, nick whose operator status changed, new nick
    std::string cd;        ///< CTCP command data
    std::string modes;     ///< the mode string of a mode event
    std::string key;       ///< a mode event's channel key as the change leaves it, or empty
    int level = 0;         ///< the requester's level
    Args params;           ///< slot 0 empty; $parm1 ... (message words, CTCP parameters)
};

/// What a scan of a script decided.
struct ScriptMatch {
    bool matched = false;
    bool suppress = false;  ///< the default handling is not to happen
    std::string command;    ///< the command to run (without "!" and ":>")
    std::string params;     ///< its parameters ($1 ...)
    bool carried = false;   ///< a "DO" request: the requester's own command
    std::string chain;      ///< the names after a ":>" inside the command, run after it
};

/// Characters the names still to be chained may take; more halts the chain.
constexpr size_t kMaxChainStack = 246;
/// Entries one event may chain in all, so that entries naming each other cannot loop.
constexpr int kMaxChainRuns = 64;

/// Scans the commands script (code 0) or the events script for the event. A mode entry sends
/// its mode string to the channel as it is passed.
ScriptMatch MatchScript(const RemoteEvent& event);
/// The lines a mode entry sends to a channel whose key is `key` (empty when none): a "-k"
/// gets that key as its argument, and a "+k" while a key is set first removes the old one.
std::vector<std::string> ModeEntryLines(std::string_view channel, std::string_view modes,
                                        std::string_view key);
/// The key a channel has after a mode change: `known` is the channel's modes as last shown
/// ("[+tnk secret]" or "+tnk secret"), `change` the change's mode letters and `args` its
/// arguments in order.
std::string KeyAfterModes(std::string_view known, std::string_view change,
                          const std::vector<std::string>& args);
/// Runs the scripts for an event: the matching entry's command runs with the remote flag.
/// Returns 1 when the default handling is to be suppressed.
int dolfc(RemoteEvent event);
/// The event identifiers: appends the value of `word` for the event being run (an identifier
/// that does not apply is copied unchanged). Always true.
bool ParseEventWord(std::string_view word, int event, std::string& out);
/// The event being run, or null.
const RemoteEvent* RunningEvent();

/// The groups of both scripts as "name" with enabled (true) or not.
std::vector<std::pair<std::string, bool>> ScriptGroups(bool commands);
/// Switches groups: '#name disabled' becomes '#name start' (enable) or back. Number changed.
int SwitchGroups(const std::vector<std::string>& names, bool enable);

/// Installs performevent, the CTCP hook, the identifier resolver and /enable, /disable,
/// /groups.
void InstallRemoteScripts();

}  // namespace chat
