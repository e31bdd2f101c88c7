// Files encoded for mail, as a whole: which encoding a file holds and the files it carries,
// and the encodings the manager writes an archive in.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "archiver/mail/mime_message.h"

namespace mail {

/// Largest encoded file read into memory.
constexpr size_t kMaxMailFileSize = size_t{1} << 30;

/// Decodes every file a mail file carries: a MIME message, uuencoded or xxencoded blocks,
/// BinHex text or bare base64 (named after `fallback_name`, the mail file's name without its
/// extension). nullopt with the reason in `error` when an encoding is damaged or nothing
/// encoded is found.
std::optional<std::vector<Attachment>> DecodeMailFile(std::string_view text,
                                                      const std::string& fallback_name,
                                                      std::string& error);

/// Decodes the uuencoded, xxencoded and BinHex blocks in plain text into `out`; false
/// (reason in `error`) when one is damaged.
bool DecodeBlocksInText(std::string_view text, std::vector<Attachment>& out, std::string& error);

/// The encodings written for an archive.
enum class MailForm { kUu, kXx, kBase64, kMime };

/// Parses "uu", "xx", "base64" or "mime".
std::optional<MailForm> ParseMailForm(std::string_view text);

/// The extension of the written file: ".uue", ".xxe", ".b64" or ".eml".
const char* MailFormExtension(MailForm form);

/// `data` (a file called `name`, of MIME type `content_type`) encoded in `form`; the MIME
/// form is a message with a short text part and the file as a base64 attachment.
std::string EncodeForMail(MailForm form, std::string_view data, std::string_view name,
                          std::string_view content_type);

}  // namespace mail
