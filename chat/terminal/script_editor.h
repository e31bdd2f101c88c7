// The script editors on a terminal: the built-in multi-line editor, or, when the settings ask
// for it, the user's own editor ($VISUAL, $EDITOR, else vi) on a private temporary file. The
// lines come back whole or not at all.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace chat {

/// Bounds of the list being edited (0: none). Lines past them are refused with a message
/// while the user can still fix them, never cut.
struct ScriptTextLimits {
    size_t max_lines = 0;        ///< non-empty lines the list holds
    size_t max_line_length = 0;  ///< bytes one line may have
};

/// A further check of the lines' meaning: empty when they are right, else why not.
using ScriptTextCheck = std::function<std::string(const std::vector<std::string>& lines)>;

/// Why the lines do not fit the limits (or the check), or empty when they do.
std::string ScriptTextProblem(const std::vector<std::string>& lines, const ScriptTextLimits& limits,
                              const ScriptTextCheck& check = {});
/// Edits script lines under a title: the built-in editor, or the external one when the
/// "editor" key of section "Remote" is 1. The edited lines, or nothing when the user left
/// without keeping or the editor could not run.
std::optional<std::vector<std::string>> EditScriptText(const std::string& title,
                                                       const std::vector<std::string>& lines,
                                                       const ScriptTextLimits& limits = {},
                                                       const ScriptTextCheck& check = {});

/// Runs the editor on the lines; the edited lines, or nothing when the editor could not run,
/// failed, or the file could not be read back. The screen is given up meanwhile and redrawn
/// afterwards.
std::optional<std::vector<std::string>> EditLinesExternally(const std::string& title,
                                                            const std::vector<std::string>& lines);
/// The editor command: $VISUAL, else $EDITOR, else "vi".
std::string EditorCommand();

}  // namespace chat
