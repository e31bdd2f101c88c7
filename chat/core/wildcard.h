// The one wildcard matcher for address masks, ban and ignore entries, auto-op lists, the remote
// scripts' text patterns and the links tree.
#pragma once

#include <string>
#include <string_view>

namespace chat {

/// Matches text against a pattern where "*" stands for any run of characters; "?" is an
/// ordinary character. Letters compare by the server's case mapping (so "[" equals "{" on an
/// rfc1459 server). Either argument empty: no match. Backtracks, so "*ab" matches "abab" and
/// "*!*@*.evil.net" matches "a!b@a.evil.net.evil.net"; the cost stays at most text length
/// times pattern length, whatever the pattern.
bool findmatch(std::string_view text, std::string_view pattern);

/// True for a mask that names a nickname alone: a bare word, without "!" or "@".
bool IsNicknameMask(std::string_view mask);
/// The pattern a user, ignore or auto-op mask is matched with against "nick!user@host": a bare
/// nickname gets "!*@*"; a mask that holds "!" or "@" is taken as written, so "*@host" and
/// "nick*@*" match the whole address.
std::string AddressMask(std::string_view mask);

}  // namespace chat
