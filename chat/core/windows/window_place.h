// Window placements kept in the settings file's "Windows" section: the status window under
// "status", every other window under a key its caller names or else its own name.
//
// In the terminal every window fills the screen, so the placement a window has is the text
// area the front end last reported (`columns` and `rows` of its record), as cells: left and
// top 0, width and height the area's size. The status window is stored as maximised (state 2);
// the others count as normal windows so that "Remember" can keep them.
#pragma once

#include <string>
#include <string_view>

#include "chat/core/frontend.h"

namespace chat {

/// A stored placement: left, width, top, height and state (0 normal, 1 minimised,
/// 2 maximised).
struct Placement {
    int left = 0, width = 0, top = 0, height = 0, state = 0;
    bool operator==(const Placement&) const = default;
};

/// Reads "left,width,top,height,state": missing or unreadable numbers read as 0, numbers
/// beyond the int range are clamped.
Placement ParsePlacement(std::string_view value);
/// The text a placement is stored as ("%d,%d,%d,%d,%d").
std::string FormatPlacement(const Placement& p);
/// False for the all-zero placement, which stands for none.
bool HasPlacement(const Placement& p);
/// The placement a window has now (see the file comment).
Placement CurrentPlacement(int slot);

/// Stores a window's placement: the status window under "status" with its state, any other
/// window (not while minimised) under `key`, or else its name ("wmessage" for the "Message
/// Window"). Nothing is stored while the window's size is not known yet.
void savepos(WindowId window, std::string_view key = {});
/// Reads the placement stored under `key`; false (and `out` all zeros) when there is none.
bool getpos(std::string_view key, Placement& out);
/// Deletes the window's own key (the one savepos uses without a caller's key).
void forgetpos(WindowId window);
/// The key a window's placement is saved under when it closes ("wlist", "wchannel", ...);
/// empty for a channel with a place of its own and for the status window.
std::string ClosingPlaceKey(int slot);

}  // namespace chat
