// Double-clicks in a window's text area and in a channel's nick list run the user's click
// commands, with the clicked name as their first parameter.
#pragma once

#include <string_view>

#include "chat/core/frontend.h"

namespace chat {

/// Runs a click command in a window: with a parameter as "command:$:parameter" (so that it
/// becomes $1), without one as it is; both with origin 2. An empty command does nothing.
void RunClickCommand(WindowId window, std::string_view command, std::string_view parameter);
/// A double-click in a window's text area: the channel, status or query click command.
void ProcessWindowDoubleClick(WindowId window);
/// A double-click on a nick-list row (marks such as "@" and "+" are not part of the name).
void ProcessNickListDoubleClick(WindowId active, std::string_view row);

}  // namespace chat
