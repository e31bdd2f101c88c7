// Asking for a password on the controlling terminal with echo off.
#pragma once

#include <optional>
#include <string>

namespace sfx {

/// Asks "Password for NAME: " on /dev/tty without echo and reads one line; nullopt when there
/// is no terminal or the input ends first.
std::optional<std::string> AskPasswordOnTerminal(const std::string& shown_member);

/// Gives the terminal its echo back when a question is being asked (from a signal handler:
/// only async-signal-safe calls).
void RestoreTerminal();

}  // namespace sfx
