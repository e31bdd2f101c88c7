// The terminal's dialogs for the user's lists: the channels folder, the channel-list options
// and their lock.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "chat/lists/channels_folder.h"
#include "chat/lists/list_options.h"
#include "platform/tui/dialog_model.h"

namespace chat {

/// The channels folder dialog: the folder's rows (several may be chosen), the name field with
/// Add and Delete, Join, Names, Close, Cancel and the "Pop up folder on connect" box.
std::optional<FolderChoice> RunFolderDialog(const std::vector<std::string>& channels,
                                            const std::string& field, bool pop_up);

/// The channel-list options dialog: the match text with the recent ones to choose from and
/// Clear, the exclusion words, the flags, the user-count bounds, OK, Cancel, List!/Relist! and
/// the lock button. While locked the exclusion box, words and the non-alphanumeric box are
/// disabled and the words hidden. Nothing when the close box ended it.
std::optional<ListOptionsChoice> RunListOptionsDialog(const ListOptions& shown, bool relist);
/// The options dialog's controls (`locked` as the lock stands).
tui::Dialog MakeListOptionsDialog(const ListOptions& shown, bool relist, bool locked);
/// The options dialog's choices as they stand (`hidden_exclusion`: the words while hidden).
ListOptions ListOptionsOf(tui::Dialog& d, const std::string& hidden_exclusion);
/// Shows the options dialog locked or unlocked; `exclusion` keeps the words while hidden.
void ApplyLockState(tui::Dialog& d, bool locked, std::string& exclusion);
/// The lock dialog: with a password set it asks for it to unlock, otherwise for a new one and
/// its confirmation. True when the lock changed.
bool RunLockDialog();

}  // namespace chat
