// Script files: a list kept as one section of numbered keys ("[Aliases]" with "alias0=...")
// in a file of its own or in the settings file, and the /load and /save commands.
#pragma once

#include <string>
#include <string_view>

#include "chat/core/windows/line_list.h"

namespace chat {

/// Replaces `list` by the non-empty values of the section (each cut to 699 characters). False
/// when the file cannot be read.
bool loadsection(std::string_view section, LineList& list, const std::string& path);
/// Writes the list as the section with keys prefix0, prefix1 ... (the section is removed when
/// the list is empty); every other section of the file stays. False when it cannot be written.
bool savesection(std::string_view section, std::string_view prefix, const LineList& list,
                 const std::string& path);

}  // namespace chat
