// Small helpers the offer code and the DCC commands share.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "chat/core/frontend.h"

namespace chat::dcc {

/// The status window.
WindowId Status();
/// Nicknames compared on their first 100 characters, case ignored.
bool SameNick(std::string_view a, std::string_view b);
/// A nickname that may go into a line to the server.
bool UsableNick(std::string_view nick);
/// An automatic notice to another user, within the automatic-reply limits.
void Notify(std::string_view nick, const std::string& body);
/// A refusal: the notice to the sender and the text in the status window.
void Refuse(std::string_view nick, const std::string& body, const std::string& text);
/// True for a regular file; its size when asked.
bool FileExists(const std::string& path, uint64_t* size = nullptr);
/// True when the local address is known, else says why nothing can be offered.
bool sipok(const char* kind);

}  // namespace chat::dcc
