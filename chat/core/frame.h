// Start-up, the frame window with its messages and timers, the one-second main timer, and the
// orderly shutdown of the chat client.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "chat/core/command_line.h"
#include "platform/event_loop.h"

namespace chat {

/// The main timer and the frame's command that connects or disconnects.
constexpr platform::UINT kTimerMain = 120;
constexpr platform::UINT kCmdConnect = 101;
/// Frame message: the who-is reply for the user-information view is complete; show it.
constexpr platform::UINT kMsgShowWhois = 1030;

/// The process-wide frame state.
struct FrameState {
    platform::HWND hwndFrame = 0;
    bool InMainTimer = false;
    bool closing = false;
    /// Work of later layers for each second of the main timer.
    std::vector<std::function<void()>> each_second;
    /// Frame messages of later layers (DCC offers, finger, ident, ...); false when not theirs.
    std::function<bool(platform::UINT, platform::WPARAM, platform::LPARAM)> more_messages;
};

/// The frame state.
FrameState& Frame();

/// Everything from the settings to the start-up routines: reads the settings, makes the frame
/// and the status window, and posts the connect when the command line or the settings ask.
/// The front end must be installed first. False when the frame cannot be made.
bool StartChat(const CommandLine& command_line);
/// The frame's close: QUIT when connected, windows closed, settings saved, loop ended.
void ShutdownChat();
/// The frame window procedure.
platform::LRESULT FrameProc(platform::HWND hwnd, platform::UINT msg, platform::WPARAM wparam,
                            platform::LPARAM lparam);
/// One run of the main timer.
void MainTimer();

}  // namespace chat
