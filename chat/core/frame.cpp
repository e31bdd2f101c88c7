#include "chat/core/frame.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "chat/core/connection/connection.h"
#include "chat/core/handoff.h"
#include "chat/core/nick_history.h"
#include "chat/core/options.h"
#include "chat/core/session/server_parser.h"
#include "chat/core/session/session_state.h"
#include "chat/core/session/user_info.h"
#include "chat/core/windows/window_log.h"
#include "chat/core/windows/window_print.h"
#include "chat/core/windows/window_table.h"
#include "platform/net.h"

namespace chat {
namespace {

FrameState& Storage() {
    static FrameState frame;
    return frame;
}

std::string LoginName() {
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_name && *pw->pw_name)
        return pw->pw_name;
    return "user";
}

// Without a desktop there is no setup dialog to ask for the identity: a missing full name or
// e-mail address is taken from the login name (only the part before "@" is ever sent).
void FillIdentity() {
    ChatOptions& o = Options();
    if (o.szEmail.empty()) o.szEmail = LoginName();
    if (o.szUser.empty()) o.szUser = LoginName();
}

void PartOnClose(const WindowRecord& r) {
    if (r.kind == kKindChannel && Conn().Connected && !r.closed_by_server)
        Sendline("PART " + r.name, false);
}

// A dialog that this program does not have yet: said the way every dialog that fails to open
// is reported.
void NoDialog() {
    const Frontend& fe = CurrentFrontend();
    if (fe.message_box) fe.message_box("System Error", "Unable to display dialog");
}

void Say(const std::string& text) {
    const WindowId active = ActiveWindow();
    Print(active ? active : StatusWindow(), text, 1);
}

// The window before the active one, the status window's predecessor being the last window.
WindowId PreviousWindow() {
    const std::vector<WindowSummary> windows = ListWindows();
    const WindowId active = ActiveWindow();
    for (size_t i = 0; i < windows.size(); ++i) {
        if (windows[i].id == active && windows.size() > 1)
            return windows[(i + windows.size() - 1) % windows.size()].id;
    }
    return 0;
}

}  // namespace

FrameState& Frame() {
    return Storage();
}

void MainTimer() {
    FrameState& f = Storage();
    if (f.InMainTimer) return;
    f.InMainTimer = true;
    ConnectionTick();
    for (auto& work : f.each_second) work();
    FlushLogs();
    f.InMainTimer = false;
}

platform::LRESULT FrameProc(platform::HWND, platform::UINT msg, platform::WPARAM wparam,
                            platform::LPARAM lparam) {
    switch (msg) {
        case platform::WM_TIMER:
            if (wparam == kTimerMain) {
                MainTimer();
            } else {
                ConnectionTimer(static_cast<platform::UINT>(wparam));
            }
            return 0;
        case platform::WM_COMMAND:
            // The program asks for a page of the setup dialog in the high word.
            if (platform::LOWORD(wparam) == kCmdSetup)
                Storage().setup_page = platform::HIWORD(wparam);
            RunFrameCommand(platform::LOWORD(wparam));
            return 0;
        case kMsgShowWhois:
            ShowUserInfo();
            return 0;
        case platform::WM_CLOSE:
            ShutdownChat();
            return 0;
        default:
            break;
    }
    if (ConnectionMessage(msg, wparam, lparam)) return 0;
    FrameState& f = Storage();
    if (f.more_messages) f.more_messages(msg, wparam, lparam);
    return 0;
}

void RunFrameCommand(int command) {
    if (Storage().more_commands && Storage().more_commands(command)) return;
    const Connection& c = Conn();
    const WindowId active = ActiveWindow();
    switch (command) {
        case kCmdConnectToggle:
            if (c.Connecting || c.Connected) {
                DoDisconnect();
            } else {
                DoInitConnect(true);
            }
            return;
        case kCmdExit:
            RequestExit();
            return;
        case kCmdListParams:  // only when a listing can be asked for
            if (!c.Connected) return Beep();
            return NoDialog();
        case kCmdSetup:
            // Where the program asked for the dialog itself, it has said why already.
            if (Storage().setup_page) {
                Storage().setup_page = 0;
                return;
            }
            return NoDialog();
        case kCmdOptions:
        case kCmdJoin:
        case kCmdAliases:
        case kCmdPopups:
        case kCmdRemote:
        case kCmdFinger:
        case kCmdTimer:
        case kCmdDccSend:
        case kCmdDccChat:
        case kCmdDccOptions:
            return NoDialog();
        case kCmdUrlWindow:
            return Say("*** The URL list window is not available");
        case kCmdNotifyWindow:
            if (!c.Connected) return Beep();
            return Say("*** The notify list window is not available");
        case kCmdTile:
        case kCmdCascade:
        case kCmdArrange:
            // Windows fill the screen one at a time: there is nothing to lay out.
            return Say(
                "*** Windows fill the screen one at a time: Alt+1-9, Ctrl+N and "
                "Ctrl+P switch between them");
        case kCmdHelpContents: {
            const Frontend& fe = CurrentFrontend();
            if (fe.show_help) fe.show_help(Storage().help_dir + "vesk.hlp", "");
            return;
        }
        case kCmdAbout: {
            const Frontend& fe = CurrentFrontend();
            if (fe.message_box)
                fe.message_box("About vesk32", "vesk32 0.1\nInternet Relay Chat client");
            return;
        }
        case kCmdPaste:
            return Say("*** There is nothing to paste");
        case kCmdPageUp:
        case kCmdPageDown:
            return ScrollWindow(active, ScrollBy::kPage, command == kCmdPageUp ? -1 : 1);
        case kCmdHistoryPrev:
        case kCmdHistoryNext:
            return BrowseHistory(active, command == kCmdHistoryPrev);
        case kCmdLineUp:
        case kCmdLineDown:
            return ScrollWindow(active, ScrollBy::kLine, command == kCmdLineUp ? -1 : 1);
        case kCmdTop:
        case kCmdBottom:
            return ScrollWindow(active, command == kCmdTop ? ScrollBy::kTop : ScrollBy::kBottom, 0);
        case kCmdEscape:
            // A window "minimised" by Esc leaves the screen to the one before it.
            if (Options().ekmw) {
                if (const WindowId previous = PreviousWindow()) SetActiveWindow(previous);
            }
            return;
        case kCmdNickCycle:
            return NextNickToInput(active);
        default:
            break;
    }
    if (command >= kCmdFirstWindow && command < kCmdFirstWindow + kMaxWindows) {
        const std::vector<WindowSummary> windows = ListWindows();
        const size_t index = static_cast<size_t>(command - kCmdFirstWindow);
        if (index < windows.size()) SetActiveWindow(windows[index].id);
    }
}

bool StartChat(const CommandLine& cl) {
    ChatOptions& o = Options();
    o.szINI = SettingsPathFor(cl.settings);
    if (!cl.nick.empty()) {
        o.szNickName = cl.nick;
        o.szAltNick = cl.anick;
        o.nick_from_command_line = true;
    }
    loadini();
    FillIdentity();

    FrameState& f = Storage();
    f.hwndFrame = platform::CreateWindow(FrameProc);
    if (f.hwndFrame == 0) return false;
    Connection& c = Conn();
    c.frame = f.hwndFrame;
    if (!c.parseline) InstallServerParser();
    Windows().on_close = [](const WindowRecord& r) {
        PartOnClose(r);
        for (const auto& closing : Storage().window_closing) closing(r.window);
    };
    Windows().may_close = MayCloseWindow;
    if (MakeNewWindow("Status Window", false) == 0) return false;
    platform::SetTimer(f.hwndFrame, kTimerMain, 1000);
    showstatusinfo();

    c.joinstr = cl.channels;
    if (!cl.server.empty()) {
        c.IsServer = true;
        c.szCHN = cl.server;
    }
    // The About box and the setup dialog are not shown here; the start-up routines run at once.
    if (o.cosu || cl.connect)
        platform::PostMessage(f.hwndFrame, platform::WM_COMMAND, kCmdConnect, 0);
    return true;
}

void ShutdownChat() {
    FrameState& f = Storage();
    static bool asking = false;
    if (f.closing || (asking && !f.exit_unasked)) return;
    if (!f.exit_unasked) {
        // A question runs the event loop: a second close meanwhile is the same request.
        asking = true;
        bool go = std::all_of(f.may_exit.begin(), f.may_exit.end(),
                              [](const auto& ask) { return !ask || ask(); });
        asking = false;
        if (!go || f.closing) return;
    }
    f.closing = true;
    SendQuitAndFlush(2000);
    Connection& c = Conn();
    platform::KillTimer(f.hwndFrame, kTimerConnect);
    platform::KillTimer(f.hwndFrame, kTimerRetry);
    platform::KillTimer(f.hwndFrame, kTimerMain);
    c.connectretries = 0;
    c.connecttimeout = 0;
    c.SentQuit = true;
    werr("");
    WindowTable& t = Windows();
    for (int i = 1; i < kMaxWindows; ++i)
        if (t.ch[i].window) closewindow(t.ch[i].window);
    FlushLogs();
    for (int i = 0; i < kMaxWindows; ++i) chinit(i);
    // Saved whether or not the settings file exists yet: the first exit creates it.
    saveini();
    platform::DestroyWindow(f.hwndFrame);
    platform::PostQuitMessage(0);
}

void RequestExit() {
    FrameState& f = Storage();
    if (f.hwndFrame) platform::PostMessage(f.hwndFrame, platform::WM_CLOSE);
}

}  // namespace chat
