// Small text helpers the lists share.
#pragma once

#include <string>
#include <string_view>

namespace chat {

/// The text with ASCII capitals made small (other bytes as they are).
inline std::string LowerAscii(std::string_view text) {
    std::string out(text);
    for (char& ch : out)
        if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
    return out;
}

}  // namespace chat
