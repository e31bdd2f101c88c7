// Sending the user's own messages: the connection test, splitting long texts into lines the
// server relays whole, echoing them as the user's own, and the debug log.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "chat/core/frontend.h"

namespace chat {

/// True when a server connection is up.
bool ScriptConnected();
/// True while the server connection is up with its socket open.
bool ServerConnectionOpen();
/// One line to the server (remote: caused by another user, so the flood guard counts it).
void SendLine(std::string_view line, bool remote);
/// Cuts text into pieces that fit a line beginning with `head` (e.g. "PRIVMSG #a :") plus
/// `tail_bytes` more, once the server puts our address in front when relaying it. Pieces end at
/// a blank where one is near and never split a UTF-8 character.
std::vector<std::string> SplitForWire(std::string_view head, std::string_view text,
                                      size_t tail_bytes);
/// Sends 'command target :text' as one or more lines; `action` wraps each piece as a CTCP
/// ACTION. `echo` is called with each piece as it is sent.
void SendSplit(std::string_view command, std::string_view target, std::string_view text,
               bool action, bool remote, const std::function<void(const std::string&)>& echo);
/// "<nick> ", or "> " when the own nick is not shown.
std::string OwnPrefix();
/// Prints the user's own text with the echo attributes (tab 2 in channels, 3 elsewhere; colour
/// 4 with own-message highlighting, else 0).
void EchoOwn(WindowId window, std::string_view text, bool channel);
/// As EchoOwn for an action: colour 5 with action highlighting in channels.
void EchoAction(WindowId window, std::string_view text, bool channel);
/// Appends a command line to the debug log.
void AppendDebugLog(std::string_view line);
/// The window of that name (case ignored), 0 when none.
WindowId FindWindow(std::string_view name);
/// The status window.
WindowId StatusWin();

}  // namespace chat
