// The terminal's dialogs for the user's lists: the channels folder.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "chat/lists/channels_folder.h"

namespace chat {

/// The channels folder dialog: the folder's rows (several may be chosen), the name field with
/// Add and Delete, Join, Names, Close, Cancel and the "Pop up folder on connect" box.
std::optional<FolderChoice> RunFolderDialog(const std::vector<std::string>& channels,
                                            const std::string& field, bool pop_up);

}  // namespace chat
