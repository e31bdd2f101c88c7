// The /dcc and /fserve commands.
#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstdlib>

#include "chat/core/options.h"
#include "chat/core/session/session_state.h"
#include "chat/core/windows/display_text.h"
#include "chat/core/windows/window_print.h"
#include "chat/dcc/dcc_common.h"
#include "chat/dcc/dcc_state.h"
#include "chat/script/script_state.h"
#include "platform/profile.h"

namespace chat::dcc {
namespace {

std::string JoinFrom(const std::vector<std::string>& a, size_t from) {
    std::string out;
    for (size_t i = from; i < a.size() && !a[i].empty(); ++i)
        out += (out.empty() ? "" : " ") + a[i];
    return out;
}

const std::string& At(const std::vector<std::string>& a, size_t i) {
    static const std::string empty;
    return i < a.size() ? a[i] : empty;
}

int PendingGetFrom(const std::string& nick, const std::string& file) {
    auto& g = Dcc().gets;
    for (int i = 0; i < kSlots; ++i)
        if (g[i].state == 1 && (nick.empty() || SameNick(g[i].nick, nick)) &&
            (file.empty() || g[i].name == file))
            return i;
    return -1;
}

int DccGet(WindowId w, const std::vector<std::string>& a) {
    size_t i = 2;
    int answer = 0;
    if (At(a, i) == "-r" || At(a, i) == "-o") answer = At(a, i++) == "-r" ? 1 : 2;
    const std::string& nick = At(a, i);
    std::string file = JoinFrom(a, i + 1);
    int slot = PendingGetFrom(nick, Dcc().asking >= 0 && file.empty() ? "" : file);
    if (Dcc().asking >= 0 && (nick.empty() || SameNick(Dcc().gets[Dcc().asking].nick, nick)))
        slot = Dcc().asking;
    if (slot < 0 || Dcc().gets[slot].state != 1) {
        Print(w, "*** No DCC Send offer is waiting" + (nick.empty() ? "" : " from " + nick), 1);
        return 0;
    }
    // A name given that is not the offered one saves the file under that name.
    std::string rename = file.empty() || file == Dcc().gets[slot].name ? "" : file;
    AcceptGet(slot, answer, rename);
    return 1;
}

int DccChatCommand(WindowId w, const std::vector<std::string>& a) {
    std::string nick = At(a, 2);
    auto& chats = Dcc().chats;
    for (int i = 0; i < kSlots; ++i)
        if (chats[i].asked && (nick.empty() || SameNick(chats[i].nick, nick))) {
            AnswerChat(i, true);
            return 1;
        }
    if (!sipok("DCC Chat")) return 0;
    if (nick.empty()) {
        auto asked =
            CurrentFrontend().prompt ? CurrentFrontend().prompt("DCC Chat with") : std::nullopt;
        if (!asked || asked->empty()) {
            Print(w, "*** No nick specified", 1);
            return 0;
        }
        nick = *asked;
    }
    return StartChat(nick, false) ? 1 : 0;
}

int DccSend(WindowId w, const std::vector<std::string>& a, bool remote) {
    if (!sipok("DCC Send")) return 0;
    // "-p": a passive offer, for a sender that cannot be reached (behind NAT).
    const bool passive = EqualNoCase(At(a, 2), "-p");
    const size_t at = passive ? 3 : 2;
    std::string nick = At(a, at);
    if (remote) {
        int running = 0;
        for (const SendSlot& s : Dcc().sends) running += s.state > 0 && s.state != 5;
        if (running >= Options().msgs) {
            Pp(Status(), "*** File request by " + nick + " rejected due to busy state", 3);
            Notify(nick, "System is currently busy, try again later.");
            return 0;
        }
    }
    const Frontend& fe = CurrentFrontend();
    if (nick.empty()) {
        auto asked = !remote && fe.prompt ? fe.prompt("DCC Send to") : std::nullopt;
        if (!asked || asked->empty()) {
            Print(w, "*** No nick specified", 1);
            return 0;
        }
        nick = *asked;
    }
    auto files = SplitQuoted(JoinFrom(a, at + 1), 64);
    if (!files) {
        Print(w, "*** Invalid Filename specified", 1);
        return 0;
    }
    if (files->empty()) {
        auto chosen =
            !remote && fe.select_file ? fe.select_file("file", "Vesk DCC Send", "*") : std::nullopt;
        if (!chosen || chosen->empty()) return 0;
        files->push_back(*chosen);
    }
    bool any = false;
    for (const std::string& f : *files) any |= StartSend(nick, f, remote, passive);
    return any ? 1 : 0;
}

int DccClose(WindowId w, const std::vector<std::string>& a) {
    const std::string& nick = At(a, 2);
    std::vector<WindowId> doomed;
    if (nick.empty()) {
        const WindowRecord* r = RecordOf(w);
        if (r && (r->kind == kKindTransfer || IsChatWindowName(r->name))) doomed.push_back(w);
    } else {
        for (const GetSlot& g : Dcc().gets)
            if (g.window && SameNick(g.nick, nick)) doomed.push_back(g.window);
        for (const SendSlot& s : Dcc().sends)
            if (s.window && SameNick(s.nick, nick)) doomed.push_back(s.window);
        for (const ChatSlot& c : Dcc().chats)
            if (c.window && SameNick(c.nick, nick)) doomed.push_back(c.window);
        for (int i = 0; i < kSlots; ++i) {
            if (Dcc().gets[i].state == 1 && SameNick(Dcc().gets[i].nick, nick)) RefuseGet(i);
            if (Dcc().chats[i].asked && SameNick(Dcc().chats[i].nick, nick)) AnswerChat(i, false);
        }
    }
    if (doomed.empty() && nick.empty()) {
        Print(w, "*** Not a DCC window", 1);
        return 0;
    }
    for (WindowId id : doomed) closewindow(id);
    return 1;
}

}  // namespace

int DoDccCommand(WindowId w, const std::vector<std::string>& a, bool remote) {
    const std::string& sub = At(a, 1);
    if (sub.empty()) {
        Print(w, "* Format: /dcc <send | chat | get | close | packetsize> <parameters>", 1);
        return 0;
    }
    if (EqualNoCase(sub, "packetsize")) {
        ScriptState& s = Script();
        if (!At(a, 2).empty()) {
            long long n = std::atoll(a[2].c_str());
            s.packet_size = static_cast<int>(std::clamp<long long>(n, kMinPacket, kMaxPacket));
            Options().psize = s.packet_size;
            saveoptions();
        }
        Print(Status(), "DCC Packet Size is " + std::to_string(ClampPacket(Options().psize)), 3);
        return 1;
    }
    if (EqualNoCase(sub, "send")) return DccSend(w, a, remote);
    if (EqualNoCase(sub, "chat") && !remote) return DccChatCommand(w, a);
    if (EqualNoCase(sub, "get") && !remote) return DccGet(w, a);
    if (EqualNoCase(sub, "close") && !remote) return DccClose(w, a);
    Print(w, "*** Invalid DCC Command", 1);
    return 0;
}

int DoFserveCommand(WindowId w, const std::vector<std::string>& a, bool remote) {
    const std::string& nick = At(a, 1);
    if (!sipok("Fileserver")) return 0;
    if (remote) {
        int mine = 0, all = 0;
        for (const ChatSlot& c : Dcc().chats) {
            if (!c.server || (c.state == 0 && !c.window)) continue;
            ++all;
            mine += SameNick(c.nick, nick);
        }
        if (mine || all >= Options().mfs) {
            Pp(Status(),
               "*** FileServer request by " + nick + " rejected due to " +
                   (mine ? "existing session" : "busy state"),
               3);
            Notify(nick, "Fileserver is currently busy, try again later.");
            return 0;
        }
    }
    if (nick.empty()) {
        Print(w, "*** No nick specified", 1);
        return 0;
    }
    long gets = std::atol(At(a, 2).c_str());
    if (gets <= 0) {
        Print(w, "*** Must specify Max. number of DCC Gets", 1);
        return 0;
    }
    std::string dir = At(a, 3);
    if (dir.empty()) {
        Print(w, "*** No directory specified", 1);
        return 0;
    }
    char resolved[PATH_MAX];
    struct stat st {};
    if (!::realpath(dir.c_str(), resolved) || ::stat(resolved, &st) != 0 || !S_ISDIR(st.st_mode)) {
        Print(w, "*** Invalid directory", 1);
        return 0;
    }
    dir = resolved;
    std::string welcome = At(a, 4);
    if (!welcome.empty() && !FileExists(welcome)) {
        Print(w, "*** Invalid welcome file", 1);
        return 0;
    }
    const std::string& ini = Options().szINI;
    std::string warn =
        ini.empty() ? "On"
                    : platform::GetPrivateProfileString("FileServer", "Warning", "On", 10, ini);
    if (EqualNoCase(warn, "On")) {
        const Frontend& fe = CurrentFrontend();
        bool yes = fe.ask && fe.ask("Vesk FileServer Warning!",
                                    "WARNING!\nYou are about to initiate a FileServer session "
                                    "which will allow\n" +
                                        nick +
                                        "\nto access information on your computer and hard "
                                        "disk!\n" +
                                        dir + "\nAre you 100% sure you want to do this?");
        if (!yes) {
            Print(w, "*** Fileserver session cancelled", 2);
            return 0;
        }
    }
    return StartChat(nick, true, dir, welcome, static_cast<int>(std::min(gets, 20L))) ? 1 : 0;
}

}  // namespace chat::dcc
