// The address cache: nick!user@host of everyone seen in a channel, so that commands can ban,
// ignore or register a user by nickname without asking the server; and the five kinds of
// address masks built from such an address.
#pragma once

#include <string>
#include <string_view>

#include "chat/core/windows/line_list.h"

namespace chat {

/// The cache: entries in the order first seen. Change it through the functions below (or
/// clear it whole); its index notices a clear, not other edits.
LineList& AddressList();

/// Adds nick!address unless the nickname is cached; with `rename`, `nick` is an old name and
/// `address` the new one, and the cached entry changes its nickname in place.
void addnick(std::string_view nick, std::string_view address, bool rename);
/// Sets the user@host of a nickname (the server announced a new one): the cached entry
/// changes in place, or one is added.
void SetAddress(std::string_view nick, std::string_view address);
/// Removes the nickname unless an open channel window still lists it; `clean` first drops
/// every entry no channel lists.
void remnick(std::string_view nick, bool clean);
/// Drops every entry whose nickname no open channel window lists.
void cleanlist();
/// The cached nick!user@host of a nickname, or false.
bool findnick(std::string_view nick, std::string& out);
/// Turns nick!user@host into a mask of type 0-4 in place; false when "!" or "@" is missing.
bool donickaddr(std::string& address, int type);

}  // namespace chat
