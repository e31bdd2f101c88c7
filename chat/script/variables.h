// The user variables: '%name value' lines kept in one list, looked up ignoring case.
#pragma once

#include <string>
#include <string_view>

#include "chat/core/frontend.h"

namespace chat {

/// Appends the value of a variable (name with its "%") to out; false when it does not exist or
/// its value is empty or blank.
bool getvar(std::string_view name, std::string& out);
/// Sets (or with an empty value removes) a variable; `show` prints the confirmation with the
/// word of `kind` (0 "Set", 1 "Inc", 2 "Dec"). Further lines of the same name are removed.
bool setvar(WindowId window, std::string_view name, std::string_view value, bool show, int kind);
/// True when every character is a decimal digit or "-" (the empty text counts as a number).
bool isnumber(std::string_view text);

}  // namespace chat
