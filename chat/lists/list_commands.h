// The commands of the notify, ignore and URL lists, and the one Install function that puts the
// lists into the running program: their commands, settings, timer work and the parser's hooks.
#pragma once

#include "chat/core/frontend.h"
#include "chat/script/tokens.h"

namespace chat {

/// /notify [on | off | -h | -s | -a nick [note] | -r nick | nick [note]]
int donotify(WindowId w, const Args& a, bool remote);
/// /ignore [on | off | [-rpcntiuN] nick-or-address [mask type]]
int doignorecommand(WindowId w, const Args& a, bool remote);
/// /url [on | off | hide | -d]
int dourl(WindowId w, const Args& a, bool remote);

/// Installs the lists: commands, settings readers, the main timer's work, the frame's
/// messages and commands, and the server parser's hooks (ignore, notify, bans, URLs).
void InstallLists();

}  // namespace chat
