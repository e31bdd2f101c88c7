// "Channel Central" on a terminal: a channel's topic, modes, key, limit and ban list, with
// Unban for the chosen masks and Apply for the changes.
#pragma once

#include "chat/lists/channel_settings.h"
#include "platform/tui/dialog_model.h"

namespace chat {

/// The dialog's controls for a channel as the server described it; disabled where we are not
/// an operator (and the topic too when only operators may change it).
tui::Dialog MakeChannelCentral(const ChannelDialog& d);
/// The dialog's contents as edited: topic, mode boxes, key and limit.
ChannelDialog EditedChannelDialog(const ChannelDialog& shown, tui::Dialog& dialog);
/// The masks chosen in the ban list.
std::vector<std::string> ChosenBans(tui::Dialog& dialog);
/// Shows the dialog until it closes; Unban and Apply send their lines from it.
void RunChannelCentral(const ChannelDialog& d);

}  // namespace chat
