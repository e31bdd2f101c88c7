// Connects the command language to the front end in use: the dialogs behind $?, $file, $dir,
// $hfile, $cb and $snicks, the help files, /font, and the function-key aliases.
#pragma once

#include <string>

#include "chat/core/frontend.h"

namespace chat {

/// Points the command language's dialog hooks at the front end in use (each asks whichever
/// front end is installed when it runs), makes `help_dir` the folder of the help files, and
/// installs /font. Without `can_prompt` (nobody at a screen) $?, $file, $dir and $hfile have
/// no dialog: they say "Unable to display dialog" and abandon their line.
void InstallFrontendHooks(const std::string& help_dir, bool can_prompt);

/// Runs the alias of a function key ("/F5 ", "/sF5 ", "/cF5 ") in a window; false when no
/// alias has that name.
bool RunFunctionKeyAlias(WindowId window, const std::string& alias);

}  // namespace chat
