// The one entry of the command language: splits an input line into commands, replaces an
// alias by its body, evaluates the tokens and hands each command to its built-in handler or
// sends it to the server.
#pragma once

#include <string>
#include <string_view>

#include "chat/core/frontend.h"
#include "chat/script/tokens.h"

namespace chat {

/// Runs one input line in a window's context with an origin code (see Origin) and the event
/// code of the remote event that runs it (0 otherwise).
void parseinput(WindowId window, std::string_view line, int origin, int event);
/// Runs one command (or a separator-delimited sequence); 1 when the line may go on, 0 to stop.
int parseinput2(WindowId window, std::string_view line, int origin, int event);
/// Sends a command that is not built in to the server as it stands.
int donormalcommand(const Args& args, bool remote);
/// Sends text typed into a window to its channel, query or chat; 1 on success.
int donormalmessage(WindowId window, std::string_view text, bool remote);
/// A line entered in a window's input line: "/" alone brings back the window's previous entry
/// and "/!" the last line entered anywhere (neither is recorded or run); any other line is
/// recorded in the window's history, becomes the last line and runs with origin 0.
void EnteredLine(WindowId window, std::string_view line);
/// Installs the parser as the core's input handler (entered lines go to EnteredLine).
void InstallScript();

}  // namespace chat
