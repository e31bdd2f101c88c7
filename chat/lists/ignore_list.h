// The ignore list: address masks whose messages of chosen kinds are dropped, with timed
// entries that lift themselves.
#pragma once

#include <string>
#include <string_view>

#include "chat/core/windows/line_list.h"

namespace chat {

/// The ignore list and its timings.
struct IgnoreState {
    /// Entries: the mask alone, or the mask followed by switches each preceded by ",".
    LineList entries;
    /// Timed ignores: the mask, with the seconds left as the line's value.
    LineList timed;
    /// Holds timed ignores at one second (the options dialog is open).
    bool hold = false;
};

/// The ignore state.
IgnoreState& Ignores();
/// A fresh state (tests).
void ResetIgnores();

/// The first entry whose mask matches the address (case ignored) and, when a kind is given
/// and the entry has switches, whose switches hold "all" or the kind; end() when none.
LineIter doignore(std::string_view address, std::string_view kind);
/// True when nick!userhost is ignored for a kind (the ignore switch must be on); a source
/// without an address (a server) never is.
bool IgnoringSource(std::string_view nick, std::string_view userhost, std::string_view kind);
/// Adds (type 1), removes (type 2) or toggles (type 0) a mask with switches (",ctcp,invite");
/// seconds > 0 makes an added ignore timed. Prints what was done.
void arignore(int type, std::string mask, std::string_view switches, int seconds);
/// One second of the timed ignores.
void IgnoreTick();
/// Removes every timed ignore from the list (at exit, before saving).
void unignoreall();
/// Reads section "Ignore" (converting the old "ignore" key of "Text").
void loadignore();
/// Writes section "Ignore".
void saveignore();

}  // namespace chat
