#include "chat/core/wildcard.h"

#include <string>

#include "chat/core/session/session_state.h"

namespace chat {

bool findmatch(std::string_view text_in, std::string_view pattern_in) {
    if (text_in.empty() || pattern_in.empty()) return false;
    const std::string text = FoldName(text_in);
    const std::string pattern = FoldName(pattern_in);
    // Greedy walk remembering the last "*": on a mismatch that star takes one more character.
    // Only the last star ever needs to be revisited (an earlier star can absorb whatever a
    // later one would), which keeps hostile patterns such as "*a*a*a*a*b" cheap.
    size_t t = 0, p = 0;
    size_t star = std::string::npos, resume = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = t;
        } else if (p < pattern.size() && pattern[p] == text[t]) {
            ++p;
            ++t;
        } else if (star != std::string::npos) {
            p = star + 1;
            t = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

bool IsNicknameMask(std::string_view mask) {
    return mask.find_first_of("!@") == std::string_view::npos;
}

std::string AddressMask(std::string_view mask) {
    std::string out(mask);
    if (IsNicknameMask(mask)) out += "!*@*";
    return out;
}

}  // namespace chat
