// Base64 and quoted-printable, the two content transfer encodings of MIME (RFC 2045).
// Decoding is strict: a damaged body is an error, never a silently shortened file.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace mail {

/// Base64 text in lines of 76 characters, each ended by `eol`.
std::string EncodeBase64(std::string_view data, std::string_view eol = "\n");

/// Decodes base64 text: white space is skipped; a character outside the alphabet, padding
/// anywhere but at the end or a length that is not a whole number of groups (a body cut short)
/// gives nullopt with the reason in `error`.
std::optional<std::string> DecodeBase64(std::string_view text, std::string& error);

/// True when `text` holds base64 characters and white space only, and at least one group.
bool LooksLikeBase64(std::string_view text);

/// Decodes quoted-printable text: "=XX" escapes, soft line breaks ("=" at a line's end) and
/// trailing blanks dropped; line ends become "\n". A "=" followed by anything else is an error.
std::optional<std::string> DecodeQuotedPrintable(std::string_view text, std::string& error);

}  // namespace mail
