// The table of built-in commands and the handlers of those whose work lies in the session core;
// commands of later layers (DCC, timers, remote users, DDE, sounds, the player) are installed
// into the table by those layers.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "chat/core/frontend.h"
#include "chat/script/tokens.h"

namespace chat {

/// A handler: the window that runs the command, the arguments (slot 0 the command word in
/// capitals with its "/"), and the remote flag. Nonzero lets the rest of the line run.
using CommandHandler = std::function<int(WindowId window, const Args& args, bool remote)>;

/// Runs a command: looks it up (group 2 and unknown words need a connection) and calls its
/// handler, or sends an unknown word to the server.
int RunCommand(WindowId window, const Args& args, bool remote);
/// Installs (or replaces) the handler of a command of a later layer, e.g. "/DCC".
void InstallCommand(std::string_view name, CommandHandler handler);
/// True when the word names a built-in command.
bool IsBuiltinCommand(std::string_view word);

// Handlers, by the file that holds them.
int domsg(WindowId w, const Args& a, bool remote);
int doquery(WindowId w, const Args& a, bool remote);
int donotice(WindowId w, const Args& a, bool remote);
int dome(WindowId w, const Args& a, bool remote);
int dodescribe(WindowId w, const Args& a, bool remote);
int doame(WindowId w, const Args& a, bool remote);
int doamsg(WindowId w, const Args& a, bool remote);
int doctcp(WindowId w, const Args& a, bool remote);
int doomsg(WindowId w, const Args& a, bool remote);
int dosay(WindowId w, const Args& a, bool remote);
int doraw(WindowId w, const Args& a, bool remote);

int dojoincommand(WindowId w, const Args& a, bool remote);
int dopart(WindowId w, const Args& a, bool remote);
int dopartall(WindowId w, const Args& a, bool remote);
int doban(WindowId w, const Args& a, bool remote);
int dochannel(WindowId w, const Args& a, bool remote);
int dolist(WindowId w, const Args& a, bool remote);
int doclosemsg(WindowId w, const Args& a, bool remote);

int doserver(WindowId w, const Args& a, bool remote);
int donick(WindowId w, const Args& a, bool remote);
int doquit(WindowId w, const Args& a, bool remote);
int doaway(WindowId w, const Args& a, bool remote);
int dodisconnect(WindowId w, const Args& a, bool remote);
int doflood(WindowId w, const Args& a, bool remote);
int doexit(WindowId w, const Args& a, bool remote);
int douwho(WindowId w, const Args& a, bool remote);
int dodns(WindowId w, const Args& a, bool remote);

int doecho(WindowId w, const Args& a, bool remote);
int doclear(WindowId w, const Args& a, bool remote);
int doclearall(WindowId w, const Args& a, bool remote);
int dolog(WindowId w, const Args& a, bool remote);
int doset(WindowId w, const Args& a, bool remote);
int dounset(WindowId w, const Args& a, bool remote);
int dounsetall(WindowId w, const Args& a, bool remote);
int doinc(WindowId w, const Args& a, bool remote);
int dotoggle(WindowId w, const Args& a, bool remote);
int dolistswitch(WindowId w, const Args& a, bool remote);
int dodlevel(WindowId w, const Args& a, bool remote);
int dorequests(WindowId w, const Args& a, bool remote);
int dohelp(WindowId w, const Args& a, bool remote);
int doremove(WindowId w, const Args& a, bool remote);
int dorun(WindowId w, const Args& a, bool remote);
/// Starts a program with its output discarded; a thread waits for it. False when it could
/// not be started.
bool StartProgram(const std::vector<std::string>& argv);
int dodcc(WindowId w, const Args& a, bool remote);
int doloadsave(WindowId w, const Args& a, bool remote);

}  // namespace chat
