#include "archiver/shell/dialogs/password_model.h"

#include "archiver/shell/dialogs/messages.h"

namespace dialogs {

std::optional<std::string> PasswordRefusal(const std::string& password, formats::ArchiveKind kind) {
    if (kind == formats::kKindArj && password.find(' ') != std::string::npos)
        return kMsgArjPasswordSpace;
    for (unsigned char ch : password)
        if (ch >= 128) return kMsgPasswordHighChars;
    return std::nullopt;
}

bool NeedsConfirmation(bool for_add, bool masked, const std::string& password) {
    return for_add && masked && !password.empty();
}

}  // namespace dialogs
