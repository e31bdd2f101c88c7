// The password prompt's rules: its length, the characters it refuses and when a second,
// confirming entry is asked for.
#pragma once

#include <optional>
#include <string>

#include "archiver/formats/archive_kind.h"

namespace dialogs {

/// Longest password the prompt takes, in characters.
constexpr size_t kMaxPassword = 99;

/// The refusal text for a password, or nothing when it is acceptable: a blank is refused for
/// ARJ archives, any character beyond ASCII always.
std::optional<std::string> PasswordRefusal(const std::string& password, formats::ArchiveKind kind);

/// True when the password must be typed a second time: adding files, masked and not empty.
bool NeedsConfirmation(bool for_add, bool masked, const std::string& password);

}  // namespace dialogs
