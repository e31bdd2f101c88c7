// MIME messages (RFC 2045-2047, 2231): headers with folded lines, multipart bodies (nested,
// and messages inside messages), the attachment names from Content-Disposition filename= or
// Content-Type name=, encoded words and parameter continuations in those names.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mail {

/// One file found in a mail file, decoded.
struct Attachment {
    std::string name;  ///< as the mail gives it, UTF-8 (not yet checked as a path)
    std::string data;
};

/// True when the header block at the start of `text` names a MIME message (MIME-Version or
/// Content-Type among headers before the first empty line).
bool LooksLikeMimeMessage(std::string_view text);

/// A header's parameter value (RFC 2231 continuations joined, percent escapes and the
/// charset applied); empty when absent. `header` is the header's value.
std::string HeaderParameter(std::string_view header, std::string_view parameter);

/// Decodes RFC 2047 encoded words ("=?charset?B|Q?text?=") in a header value; ISO-8859-1
/// text becomes UTF-8, other charsets are kept as their bytes.
std::string DecodeEncodedWords(std::string_view value);

/// Decodes the message's parts that are files: parts with a name, or not text. Text parts
/// without a name are the message itself and are searched for uuencoded or BinHex blocks
/// instead. nullopt (reason in `error`) when a file part is damaged or nesting runs too deep.
std::optional<std::vector<Attachment>> DecodeMimeMessage(std::string_view text, std::string& error);

}  // namespace mail
