// uuencode and xxencode: "begin MODE NAME", lines of up to 45 bytes led by their length
// character, "end". The two differ only in the 64 characters that carry six bits each.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace mail {

/// The two alphabets.
enum class UuAlphabet { kUu, kXx };

/// One file decoded from a begin/end block.
struct UuFile {
    std::string name;  ///< as written on the begin line (not yet checked)
    unsigned mode = 0644;
    std::string data;
};

/// The whole block for `data`: begin line with `mode` and `name`, the lines, the closing
/// empty line and "end".
std::string UuEncode(std::string_view data, std::string_view name, unsigned mode,
                     UuAlphabet alphabet);

/// True when `line` is a begin line ("begin", an octal mode of 3 or 4 digits, a name).
bool IsUuBeginLine(std::string_view line);

/// Decodes the block whose begin line starts at `text[at]`; `next` is set past its end line.
/// The alphabet is the one the first data line fits (xxencode when only it fits). A block
/// without its end line, a character outside the alphabet or a line whose length character
/// promises more than it carries gives nullopt with the reason in `error`.
std::optional<UuFile> UuDecodeBlock(std::string_view text, size_t at, size_t& next,
                                    std::string& error);

}  // namespace mail
