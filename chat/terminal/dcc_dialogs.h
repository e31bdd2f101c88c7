// The questions about DCC offers as terminal dialogs: a file offered to us, a file that is
// already there, and a chat offer. Each closes by itself (as a refusal) once the offer stops
// waiting, and sockets and timers go on while it is open.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace chat {

/// "%s wants to send you:" with the file, its size and an editable "Save &As:" name. The
/// name to save under, or nothing for Cancel.
std::optional<std::string> AskDccGet(const std::string& nick, const std::string& file,
                                     uint64_t size, const std::string& folder,
                                     const std::function<bool()>& waiting);
/// The file is already there: 0 Cancel, 1 Resume (offered only when `can_resume`), 2 Overwrite,
/// 3 Rename.
int AskExistingFile(const std::string& path, uint64_t size, bool can_resume,
                    const std::function<bool()>& waiting);
/// A chat offer: true to accept.
bool AskDccChat(const std::string& nick, const std::string& address,
                const std::function<bool()>& waiting);

}  // namespace chat
