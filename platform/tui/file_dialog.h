// The file dialog: a name field over a folder listing, for opening, creating and choosing
// folders. Runs modally on the screen.
#pragma once

#include <string>
#include <string_view>

namespace tui {

/// Lets the user pick a file (or, with `choose_folder`, a folder) starting from `path` (a file
/// or folder). Enter on a folder goes into it, on a file chooses it; a typed name is taken
/// relative to the folder shown, or as it is when it starts with "/". True and the absolute
/// path on OK; false on Cancel.
bool RunFileDialog(const std::string& title, std::string& path, std::string_view patterns,
                   bool choose_folder = false);

}  // namespace tui
