// The remote user list: lines 'levels:mask' that give other users access levels, the level
// arithmetic of the scripts, and the commands that edit the list.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "chat/core/frontend.h"
#include "chat/core/windows/line_list.h"

namespace chat {

/// One level of a level list: its number, and whether it was written "=N" (exact).
struct Level {
    int number = 0;
    bool exact = false;
};

/// True for a comment line of a remote list (";" or "rem" in front, any case).
bool IsRemoteComment(std::string_view line);
/// The levels of a comma-separated list ("5,10,=3"); items that are not numbers are skipped.
std::vector<Level> ParseLevels(std::string_view field);
/// The user-list entry for a nick: the first entry (not a comment) whose mask equals the nick
/// or matches 'nick!user@host'; with `skip_own` entries written with a leading "=" are passed
/// over. Null when none.
const Line* FindUser(std::string_view nick, std::string_view userhost, bool skip_own = false);
/// The access level of a nick: its entry's first level when positive, else the default level.
int flevel(std::string_view nick, std::string_view userhost);
/// The levels of a nick for matching script entries (the default level when not listed).
std::vector<Level> RequesterLevels(std::string_view nick, std::string_view userhost);
/// True when an entry of level `wanted` (exact with "+") applies to a user with `levels`:
/// the first level fits from `wanted` up (only equal when exact), any later level only equal.
bool LevelFits(const std::vector<Level>& levels, int wanted, bool exact);

/// Merges `add` into the level list `old` (mode 1) or removes the levels of `add` (mode 0).
std::string level(std::string_view old, std::string_view add, int mode);
/// Adds a user; replace mode builds the entry anew. Prints what it did in `window`.
void doauser(std::string_view shown, std::string_view levels, bool replace, WindowId window,
             std::string_view mask);
/// Removes a user (a mask ending in "!" removes every mask that begins with the text before
/// it) or some of its levels.
void doruser(std::string_view mask, std::string_view levels, WindowId window);

/// Installs /auser, /guser, /ruser, /rlevel, /ulist and /flush.
void InstallUserCommands();

}  // namespace chat
