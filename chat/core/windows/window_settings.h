// Per-window display settings kept in the settings file: the font choice (face, size and
// weight, which the terminal shows as attributes) and the beep flag, plus titles and clearing.
#pragma once

#include <string>
#include <string_view>

#include "chat/core/frontend.h"

namespace chat {

/// A stored font choice.
struct FontChoice {
    std::string face = "FixedSys";
    int size = 12;
    int weight = 0;
};

/// Reads "face,number": a number above 100 carries the weight in its hundreds; a size below 1
/// reads as 12; a value without "," is "FixedSys" at 12.
FontChoice ParseFontValue(std::string_view value);
/// The "Fonts" key of a slot's window kind ("fstatus", "f#chan", "fquery", ...), empty when
/// the kind keeps none; for a channel its own key.
std::string FontKey(int slot);
/// Reads the window's font from its key (a channel: its own key, then "fchannel").
void getfont(int slot);
/// Applies a font to a window and stores it; `kind_default` is the dialog's check box
/// ("channel font", "query/chat font"). False for an unknown window.
bool sf(WindowId window, std::string_view face, int size_with_weight, bool kind_default);
/// Toggles a window's beeping and stores it under the last word of its name; every other
/// window whose name ends in that word follows.
void setbeep(WindowId window);
/// Tells the front end a window's title (name, modes, topic) changed.
void settitle(int slot);
/// Empties a window's buffer; unless `quiet`, only after the front end's question was
/// answered yes.
void clearbuf(WindowId window, bool quiet);

}  // namespace chat
