// The one wildcard matcher for address masks, ban and ignore entries, auto-op lists and the
// links tree.
#pragma once

#include <string_view>

namespace chat {

/// Matches text against a pattern where "*" stands for any run of characters (case ignored,
/// ASCII). Either argument empty: no match. Backtracks, so "*!*@*.evil.net" matches
/// "a!b@a.evil.net.evil.net"; the cost stays linear in text times pattern.
bool findmatch(std::string_view text, std::string_view pattern);

}  // namespace chat
