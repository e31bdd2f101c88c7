// The ciphers an add may encrypt with, by the names the --encrypt switch and the settings file
// use: traditional zip encryption (the default) or AES with a 128, 192 or 256-bit key.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace shell {

/// Names in the order of the command record's codes (zip::kEncryptTraditional onward).
extern const char* const kEncryptionNames[4];

/// The code of a cipher name ("zipcrypto", "aes128", "aes192", "aes256"); nullopt for any
/// other text.
std::optional<int> ParseEncryptionName(std::string_view name);

/// The name of a code; "zipcrypto" for a code out of range.
const char* EncryptionName(int code);

/// The code a settings value asks for: traditional encryption when it is empty or unknown.
int EncryptionFromSetting(const std::string& value);

}  // namespace shell
