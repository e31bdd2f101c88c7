// The Setup dialog of the terminal (File > Setup, Alt+E): identity and server list, local
// address, ident responder and SOCKS relay, with the button that connects; and the putting of
// the Setup and Options dialogs on the frame's commands.
#pragma once

#include <optional>
#include <string>

#include "chat/terminal/setup_model.h"

namespace chat {

/// Runs the Setup dialog on a page (SetupPage); a second call while it is open does nothing.
void RunSetupDialog(int page);
/// The add or edit server dialog, starting from `fields`: the new entry, or nothing for
/// Cancel. `editing` is the entry being edited (null when adding).
std::optional<std::string> RunServerDialog(const LineList& servers, const std::string* editing,
                                           const ServerFields& fields);

/// Makes the frame's Setup, Options and DCC Options commands open the dialogs; the page the
/// program asked for (Frame().setup_page) is taken once.
void InstallSettingsDialogs();
/// At start-up: asks for Setup when the settings want it and no nickname is set yet (the
/// first run).
void PopUpSetupAtStart();

}  // namespace chat
