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

/// Frame command numbers (the menu and accelerator commands of the frame).
enum FrameCommand : int {
    kCmdConnectToggle = 101,
    kCmdSetup = 102,
    kCmdOptions = 103,
    kCmdExit = 104,
    kCmdJoin = 105,
    kCmdListParams = 106,
    kCmdAliases = 107,
    kCmdPopups = 108,
    kCmdRemote = 109,
    kCmdFinger = 111,
    kCmdTimer = 112,
    kCmdDccSend = 113,
    kCmdDccChat = 114,
    kCmdDccOptions = 115,
    kCmdUrlWindow = 116,
    kCmdNotifyWindow = 117,
    kCmdTile = 118,
    kCmdCascade = 119,
    kCmdArrange = 120,
    kCmdHelpContents = 121,
    kCmdAbout = 122,
    kCmdPaste = 123,
    kCmdPageUp = 124,
    kCmdPageDown = 125,
    kCmdHistoryPrev = 126,
    kCmdHistoryNext = 127,
    kCmdLineUp = 128,
    kCmdLineDown = 129,
    kCmdTop = 130,
    kCmdBottom = 131,
    kCmdEscape = 132,
    kCmdNickCycle = 133,
    /// Window menu entries: the first window is this number, the next one more, and so on
    /// (up to 50 windows: 184 at most).
    kCmdFirstWindow = 135,
};

/// The process-wide frame state.
struct FrameState {
    platform::HWND hwndFrame = 0;
    bool InMainTimer = false;
    bool closing = false;
    /// Work of later layers for each second of the main timer.
    std::vector<std::function<void()>> each_second;
    /// Frame messages of later layers (DCC offers, finger, ident, ...); false when not theirs.
    std::function<bool(platform::UINT, platform::WPARAM, platform::LPARAM)> more_messages;
    /// Frame commands that later layers carry out (their windows and dialogs); false when not
    /// theirs.
    std::function<bool(int command)> more_commands;
    /// Asked in turn before the program closes at the user's request (work that quitting would
    /// break off, such as DCC transfers); the first false keeps the program running.
    std::vector<std::function<bool()>> may_exit;
    /// The program is to end without asking anything (a termination signal).
    bool exit_unasked = false;
    /// Runs for every window about to close, after the core's own handling (later layers free
    /// what belongs to the window).
    std::vector<std::function<void(platform::HWND window)>> window_closing;
    /// The page the Setup command being run opens on: the high word of its WM_COMMAND, which
    /// the program sets when it asks for the dialog itself (4: the SOCKS relay); 0 when the
    /// user asked.
    int setup_page = 0;
    /// Folder of the help files, with a trailing "/" (Help Contents opens "vesk.hlp" there).
    std::string help_dir;
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
/// A command of the frame's menus and accelerators (the WM_COMMAND of the frame window).
/// Commands whose dialog or window is not built say so.
void RunFrameCommand(int command);

}  // namespace chat
