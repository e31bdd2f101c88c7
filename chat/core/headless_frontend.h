// The front end without a screen: standard input lines are typed into the active window,
// every printed line goes to standard output as "window<TAB>text".
#pragma once

#include <string>
#include <string_view>

#include "chat/core/frontend.h"

namespace chat {

/// The callbacks of the headless front end (output to stdout, message boxes to stderr).
Frontend MakeHeadlessFrontend();
/// Starts reading standard input (fd 0) through the event loop; end of input asks to exit.
bool StartHeadlessInput();

/// Handles one input line: "@@NAME" picks the window for the next line, "@@NAME<TAB>TEXT"
/// types TEXT there, "@@@..." types a literal "@@..."; anything else goes to the chosen or
/// active window. Returns false when the named window does not exist.
bool HeadlessInputLine(std::string_view line);

}  // namespace chat
