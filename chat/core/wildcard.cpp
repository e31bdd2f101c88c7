#include "chat/core/wildcard.h"

#include <cctype>

namespace chat {
namespace {

char Lower(char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

}  // namespace

bool findmatch(std::string_view text, std::string_view pattern) {
    if (text.empty() || pattern.empty()) return false;
    // Greedy walk remembering the last "*": on a mismatch the star takes one more character.
    // Only the last star ever needs to be revisited, which keeps hostile patterns cheap.
    size_t t = 0, p = 0;
    size_t star = std::string_view::npos, resume = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = t;
        } else if (p < pattern.size() && Lower(pattern[p]) == Lower(text[t])) {
            ++p;
            ++t;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            t = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

}  // namespace chat
