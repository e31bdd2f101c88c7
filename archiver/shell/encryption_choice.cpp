#include "archiver/shell/encryption_choice.h"

#include <iterator>

#include "archiver/engine/zip/zip_run.h"

namespace shell {

const char* const kEncryptionNames[4] = {"zipcrypto", "aes128", "aes192", "aes256"};
static_assert(zip::kEncryptTraditional == 0 && zip::kEncryptAes256 == 3);

std::optional<int> ParseEncryptionName(std::string_view name) {
    for (size_t i = 0; i < std::size(kEncryptionNames); ++i)
        if (name == kEncryptionNames[i]) return static_cast<int>(i);
    return std::nullopt;
}

const char* EncryptionName(int code) {
    if (code < 0 || code >= static_cast<int>(std::size(kEncryptionNames))) code = 0;
    return kEncryptionNames[code];
}

int EncryptionFromSetting(const std::string& value) {
    return ParseEncryptionName(value).value_or(zip::kEncryptTraditional);
}

}  // namespace shell
