// Puts DCC into the program: everything the core and the command language reach it through.
#include "chat/core/frame.h"
#include "chat/core/frontend.h"
#include "chat/core/session/dcc_offer.h"
#include "chat/core/session/server_parser.h"
#include "chat/core/session/session_state.h"
#include "chat/core/windows/window_print.h"
#include "chat/dcc/dcc_state.h"
#include "chat/script/commands.h"
#include "chat/script/script_state.h"

namespace chat::dcc {

bool MayQuit() {
    if (!TransfersRunning()) return true;
    if (Dcc().dialogs.quit)
        return Dcc().dialogs.quit("Vesk DCC Warning!",
                                  "There are DCC transfers in progress!\n\n"
                                  "Are you sure you want to quit?");
    Pp(Windows().statwin, "*** There are DCC transfers in progress! Quitting breaks them off.", 3);
    return true;
}

void InstallDcc() {
    SetDccOfferHandler([](std::string_view nick, std::string_view, std::string_view text) {
        // An offer sent to a channel (or a server's "$" broadcast) is meant for nobody in
        // particular: it is not taken. Any other target is us, also while the server has not
        // yet confirmed our nickname.
        const LineContext& line = Current();
        const std::string& target = line.Tok(2);
        if (IsChannelName(target) || target.starts_with('$')) {
            Pp(Windows().statwin,
               "*** DCC request from " + std::string(nick) + " to " + line.Tok(2) + " ignored", 3);
            return;
        }
        HandleRequest(nick, text);
    });
    InstallCommand(
        "/DCC", [](WindowId w, const Args& a, bool remote) { return DoDccCommand(w, a, remote); });
    InstallCommand("/FSERVE", [](WindowId w, const Args& a, bool remote) {
        return DoFserveCommand(w, a, remote);
    });
    Script().hooks.chat_send = [](WindowId w, const std::string& nick, const std::string& text) {
        return SendChat(w, nick, text);
    };
    Windows().child_messages = [](WindowId w, platform::UINT msg, platform::WPARAM wp,
                                  platform::LPARAM lp) -> platform::LRESULT {
        if (msg >= kMsgGetConnect && msg <= kMsgSendConnect)
            TransferMessage(w, msg, wp, lp);
        else if (msg >= kMsgChatConnect && msg <= kMsgChatAccept)
            ChatMessage(w, msg, wp, lp);
        return 0;
    };
    // The frame's lists are the process's: filled once however often DCC is put in.
    static bool framed = false;
    if (framed) return;
    framed = true;
    // The DCC menu: Send and Chat ask for what they need; the options live in commands.
    auto more = Frame().more_commands;
    Frame().more_commands = [more](int command) {
        WindowId w = ActiveWindow() ? ActiveWindow() : Windows().statwin;
        switch (command) {
            case kCmdDccSend:
                DoDccCommand(w, {"/DCC", "send"}, false);
                return true;
            case kCmdDccChat:
                DoDccCommand(w, {"/DCC", "chat"}, false);
                return true;
            case kCmdDccOptions:
                Print(w,
                      "*** DCC options: /sreq and /creq (ask, auto or ignore), /fsend, "
                      "/dcc packetsize; the get folder is \"getdir\" in section \"Dirs\"",
                      2);
                return true;
            default:
                return more ? more(command) : false;
        }
    };
    Frame().may_exit.push_back(MayQuit);
    Frame().window_closing.push_back(WindowClosing);
    Frame().each_second.push_back([] {
        TransferTick();
        ChatTick();
    });
}

}  // namespace chat::dcc
