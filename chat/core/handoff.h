// Where entered lines and server lines leave the core: the input parser and the server
// message parser plug in here. Until they do, the stand-ins below keep a session usable.
#pragma once

#include <functional>
#include <string_view>

#include "chat/core/frontend.h"

namespace chat {

/// Runs one entered line in a window's context (the input parser installs itself here).
using InputHandler = std::function<void(WindowId window, std::string_view line)>;
void SetInputHandler(InputHandler handler);
/// Hands an entered line on to the installed input handler.
void parseinput(WindowId window, std::string_view line);

/// Stand-in for the input parser: "/command args" is sent raw as "COMMAND args"; plain text
/// goes as PRIVMSG to the window's channel or query; in other windows an error is printed.
void RawInput(WindowId window, std::string_view line);
/// Stand-in for the server message parser: PING is answered with PONG, the welcome and the
/// end of the MOTD are noted, and every other line is shown as it came in the status window.
void RawServerLine(std::string_view line);

}  // namespace chat
