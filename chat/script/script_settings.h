// Where the script lists live and how they come and go: the script file names of section
// "Files", reading every list at start-up, writing changed lists back, and /alias.
#pragma once

#include <string>
#include <string_view>

#include "chat/core/frontend.h"
#include "chat/script/tokens.h"

namespace chat {

/// The file a script file name stands for: an empty name, or one that names no existing
/// file, is the settings file itself (a bare name lives in the settings folder).
std::string ScriptFileFor(std::string_view name);
/// Reads section "Files" and every script list from its file.
void ReadScriptFiles();
/// Writes the script file names to section "Files".
bool SaveScriptFileNames();
/// Writes the alias list to its file.
bool savealiases();
/// Writes the remote lists to their files: 0 all four, else 'u', 'v', 'c' or 'e'.
bool saveremote(char which);
/// /alias: no argument lists the aliases; '/alias /name body' defines or replaces one;
/// '/alias /name' removes it.
int doalias(WindowId window, const Args& args, bool remote);
/// Installs the readers and writers of the script lists and /alias.
void InstallScriptSettings();

}  // namespace chat
