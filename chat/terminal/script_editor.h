// The script editors on a terminal: the lines go to the user's own editor ($VISUAL, $EDITOR,
// else vi) in a private temporary file, and come back whole once it exits.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace chat {

/// Runs the editor on the lines; the edited lines, or nothing when the editor could not run,
/// failed, or the file could not be read back. The screen is given up meanwhile and redrawn
/// afterwards.
std::optional<std::vector<std::string>> EditLinesExternally(const std::string& title,
                                                            const std::vector<std::string>& lines);
/// The editor command: $VISUAL, else $EDITOR, else "vi".
std::string EditorCommand();

}  // namespace chat
