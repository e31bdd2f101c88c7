// What the command language adds to the running program: its settings (the command
// character, the click commands, the perform list), the handlers the session core calls (the
// nick history for Tab, the perform list at the end of the MOTD) and the frame messages it
// answers (the user-information view, Tab, the perform list).
#pragma once

#include <string_view>

#include "platform/event_loop.h"

namespace chat {

/// Frame message: run the perform list in the status window.
constexpr platform::UINT kMsgPerform = 1064;

/// The command character of a settings value: its first character, unless that is a blank,
/// a control character or a letter or digit (which would turn words into commands); "/" then.
char CommandCharFrom(std::string_view value);
/// Reads section "Text" key "commandchar", section "Clicks" and section "Perform".
void ReadScriptSettings();
/// The frame messages of the command language; false when not one of them.
bool ScriptFrameMessage(platform::UINT msg, platform::WPARAM wparam, platform::LPARAM lparam);
/// Installs the settings reader, the core's hooks and the frame handler (once).
void InstallProgramHooks();

}  // namespace chat
