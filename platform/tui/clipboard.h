// The clipboard: an internal copy that Paste reads back, and the terminal's OSC 52 sequence so
// that text copied here also reaches the desktop's clipboard where the terminal allows it.
#pragma once

#include <string>
#include <string_view>

namespace tui {

/// Keeps the text and, while the screen runs, sends it to the terminal with OSC 52.
void SetClipboard(std::string_view utf8);
/// Keeps the text without sending it to the terminal (text that came from the terminal's
/// clipboard, such as a paste, is already there).
void RememberClipboard(std::string_view utf8);
/// The text last set (the terminal's own clipboard cannot be read back safely).
const std::string& GetClipboard();
/// The OSC 52 sequence that sets the terminal's clipboard to the text (base64 inside);
/// texts above 100000 bytes give an empty string, as terminals refuse them anyway.
std::string ClipboardSequence(std::string_view utf8);
/// Standard base64 with padding.
std::string Base64(std::string_view bytes);

}  // namespace tui
