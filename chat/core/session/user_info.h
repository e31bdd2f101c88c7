// The user-information view: the fields a who-is reply gathered for /uwho, shown once the
// reply has ended.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "chat/core/session/session_state.h"

namespace chat {

/// Labelled fields of the view in order ("Nick:", "Name:", "Machine:", "Server:", "Away:",
/// "Idle:", "Chans:"), with the texts shown when a reply left a field empty.
std::vector<std::pair<std::string, std::string>> UserInfoFields(const WhoisRecord& record);
/// Shows the gathered record through the front end (the frame's message 1030).
void ShowUserInfo();

}  // namespace chat
