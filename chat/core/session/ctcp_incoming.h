// CTCP requests from other users: the replies this client gives, the reports in the status
// window, ACTION and SOUND as lines of the conversation, and DCC requests passed on.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "chat/core/frontend.h"

namespace chat {

/// Where requested sounds come from and how they are played.
struct SoundSettings {
    std::string
        folder;  ///< sounds folder with a trailing "/"; empty: "sounds/" in the settings folder
    /// Plays a file without waiting; false when it could not start. Empty: the default player.
    std::function<bool(const std::string& path)> play;
    bool playing = false;  ///< a sound is playing (the default player clears it when done)
};

/// The sound settings.
SoundSettings& Sounds();

/// Handles one CTCP request (the current line's text) sent to `window` (0 when no window is
/// open for the target). Leaves in the line context a text to show, or an empty one.
void doctcp(WindowId window);
/// Formats an ACTION ("\x01ACTION text\x01") as "* nick text"; empty when it has no blank.
std::string doctcpaction(std::string_view nick, std::string_view text);
/// True when a sound name from another user is one plain file name for the sounds folder.
bool IsSafeSoundName(std::string_view name);
/// Sends one CTCP reply "NOTICE nick :\x01body\x01" cut to fit a 512-byte line; respects the
/// automatic-reply limit. False when the limit dropped it.
bool SendCtcpReply(std::string_view nick, std::string_view body);

}  // namespace chat
