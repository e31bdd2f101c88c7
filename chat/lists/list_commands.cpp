#include "chat/lists/list_commands.h"

#include <cstdlib>
#include <string>

#include "chat/core/connection/connection.h"
#include "chat/core/events.h"
#include "chat/core/frame.h"
#include "chat/core/options.h"
#include "chat/core/session/address_cache.h"
#include "chat/core/session/session_state.h"
#include "chat/core/windows/window_print.h"
#include "chat/core/windows/window_table.h"
#include "chat/lists/channel_settings.h"
#include "chat/lists/channels_folder.h"
#include "chat/lists/ignore_list.h"
#include "chat/lists/list_options.h"
#include "chat/lists/notify_list.h"
#include "chat/lists/popup_editor.h"
#include "chat/lists/url_catcher.h"
#include "chat/script/commands.h"
#include "chat/script/messaging.h"
#include "chat/script/popup_menus.h"

namespace chat {
namespace {

// Seconds of a timed ignore given without a number, and the shortest one.
constexpr int kDefaultIgnoreSeconds = 60;
constexpr int kMinIgnoreSeconds = 2;

int OnOffWord(const std::string& word) {
    if (EqualNoCase(word, "on")) return 1;
    if (EqualNoCase(word, "off")) return 0;
    return -1;
}

// "on"/"off" switch a flag and say its state; true when the word was one of them.
bool SwitchWord(WindowId w, const std::string& word, int& flag, const char* on, const char* off,
                int colour) {
    const int v = OnOffWord(word);
    if (v < 0) return false;
    flag = v;
    saveoptions();
    Print(w, flag ? on : off, colour);
    return true;
}

bool LinkUp() {
    return Conn().Connected;
}

void ListNotify(WindowId w) {
    std::string line;
    for (const NotifyEntry& e : Notify().entries) {
        if (!line.empty()) line += ", ";
        line += (e.whois ? "+" : "") + e.nick;
        if (!e.note.empty()) line += " (" + e.note + ")";
    }
    Print(w, "*** Notify list: " + line, 1);
}

}  // namespace

int donotify(WindowId w, const Args& a, bool) {
    const std::string& first = Arg(a, 1);
    ChatOptions& o = Options();
    if (SwitchWord(w, first, o.notify, "*** Notify is ON", "*** Notify is OFF", 2)) {
        if (o.notify && LinkUp() && !Conn().FirstMOTD) NotifyAfterMotd();
        return 1;
    }
    if (first.empty()) {
        if (Notify().entries.empty()) {
            Print(w, "*** Your notify list is empty", 1);
            return 1;
        }
        if (!LinkUp()) {
            ListNotify(w);
            return 1;
        }
        // Everyone is announced afresh, so the report says who is on now.
        setnotify();
        sendnotify(true);
        return 1;
    }
    if (EqualNoCase(first, "-h")) {
        HideNotifywindow();
        return 1;
    }
    if (EqualNoCase(first, "-s")) {
        if (!LinkUp()) {
            Print(w, "*** Not connected to server", 1);
            return 1;
        }
        ShowNotifywindow();
        return 1;
    }
    const bool add = EqualNoCase(first, "-a");
    const bool remove = EqualNoCase(first, "-r");
    const size_t at = add || remove ? 2 : 1;
    const std::string& nick = Arg(a, at);
    if (nick.empty()) {
        Print(w, "*** Invalid notify parameters", 1);
        return 1;
    }
    const std::string shown(nick[0] == '+' ? nick.substr(1) : nick);
    const bool present = findnotifynick(nick) != nullptr;
    if (remove || (!add && present)) {
        if (!remnotifynick(nick)) {
            Print(w, "*** " + shown + " isn't in notify list", 1);
            return 1;
        }
        Print(w, "*** Removed " + shown + " from notify list", 1);
        savenotify();
        NotifyListChanged("", shown);
        return 1;
    }
    if (present) {
        Print(w, "*** " + shown + " is already in notify list", 1);
        return 1;
    }
    if (!addnotifynick(nick, JoinFrom(a, at + 1))) {
        Print(w, "*** Error adding " + shown + " to notify list", 1);
        return 1;
    }
    Print(w, "*** Added " + shown + " to notify list", 1);
    savenotify();
    NotifyListChanged(shown, "");
    return 1;
}

int doignorecommand(WindowId w, const Args& a, bool) {
    const std::string& first = Arg(a, 1);
    ChatOptions& o = Options();
    if (SwitchWord(w, first, o.ignore, "*** Ignore is ON", "*** Ignore is OFF", 2)) return 1;
    if (first.empty()) {
        if (Ignores().entries.empty()) {
            Print(w, "*** Your ignore list is empty", 1);
            return 1;
        }
        Print(w, o.ignore ? "*** Ignore is ON" : "*** Ignore is OFF", 2);
        for (const Line& l : Ignores().entries) Print(w, "*** " + l.text, 1);
        return 1;
    }
    size_t at = 1;
    int type = 1;
    int seconds = 0;
    std::string switches;
    if (first[0] == '-') {
        ++at;
        for (size_t i = 1; i < first.size(); ++i) {
            switch (first[i] | 0x20) {
                case 'r':
                    type = 2;
                    break;
                case 'a':
                    type = 1;
                    break;
                case 'p':
                    switches += ",private";
                    break;
                case 'c':
                    switches += ",channel";
                    break;
                case 'n':
                    switches += ",notice";
                    break;
                case 't':
                    switches += ",ctcp";
                    break;
                case 'i':
                    switches += ",invite";
                    break;
                case 'u': {
                    size_t end = i + 1;
                    while (end < first.size() && end < i + 8 && first[end] >= '0' &&
                           first[end] <= '9')
                        ++end;
                    seconds = end > i + 1 ? std::atoi(first.substr(i + 1, end - i - 1).c_str())
                                          : kDefaultIgnoreSeconds;
                    if (seconds < kMinIgnoreSeconds) seconds = kMinIgnoreSeconds;
                    i = end - 1;
                    break;
                }
                default:
                    break;
            }
        }
    }
    if (switches.empty()) switches = ",private,channel,notice,ctcp,invite";
    const std::string& target = Arg(a, at);
    if (target.empty()) {
        Print(w, "*** Invalid parameters", 1);
        return 1;
    }
    const std::string& type_word = Arg(a, at + 1);
    if (type_word.empty() || target.find('!') != std::string::npos ||
        target.find('@') != std::string::npos) {
        arignore(type, target, switches, seconds);
        return 1;
    }
    const int mask_type = std::atoi(type_word.c_str());
    if (type_word.size() != 1 || mask_type < 0 || mask_type > 4) {
        Print(w, "*** Invalid parameters", 1);
        return 1;
    }
    std::string address;
    if (findnick(target, address) && donickaddr(address, mask_type)) {
        arignore(type, address, switches, seconds);
        return 1;
    }
    if (!LinkUp()) {
        Print(w, "*** Not connected to server", 1);
        return 1;
    }
    checkwhois(target, [type, mask_type, switches, seconds](const std::string& found) {
        std::string mask = found;
        if (donickaddr(mask, mask_type)) arignore(type, mask, switches, seconds);
    });
    return 1;
}

int dourl(WindowId w, const Args& a, bool) {
    const std::string& first = Arg(a, 1);
    if (SwitchWord(w, first, Options().eurl, "*** URL Catcher is ON", "*** URL Catcher is OFF", 1))
        return 1;
    if (EqualNoCase(first, "hide")) {
        HideURLwindow();
        return 1;
    }
    if (EqualNoCase(first, "-d")) DeleteCaughtUrls();
    ShowURLwindow();
    return 1;
}

namespace {

void ReadListSettings() {
    loadnotify();
    loadignore();
    loadurls();
    loadjoin();
    loadcparms();
}

void EachSecond() {
    if (!Conn().Connected) Notify().monitor = false;
    NotifyTick();
    IgnoreTick();
}

void Isupport(std::string_view token) {
    if (token == "MONITOR" || token.rfind("MONITOR=", 0) == 0) Notify().monitor = true;
}

bool ListFrameCommand(int command) {
    switch (command) {
        case kCmdUrlWindow:
            ShowURLwindow();
            return true;
        case kCmdJoin:
            RunChannelsFolder();
            return true;
        case kCmdListParams:
            RunListOptions();
            return true;
        case kCmdPopups:
            RunPopupEditor();
            return true;
        case kCmdNotifyWindow:
            if (!Conn().Connected) {
                Beep();
                return true;
            }
            ShowNotifywindow();
            return true;
        default:
            return false;
    }
}

}  // namespace

void InstallLists() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    InstallCommand("/NOTIFY", donotify);
    InstallCommand("/IGNORE", doignorecommand);
    InstallCommand("/URL", dourl);
    InstallPopups();
    SettingsReaders().push_back(ReadListSettings);
    EventHooks& h = Hooks();
    h.ignoring = IgnoringSource;
    h.checknotify = checknotify_entry;
    h.ison_reply = NotifyIsonReply;
    h.monitor_reply = NotifyMonitorReply;
    h.isupport = Isupport;
    h.ban_entry = ChannelBanEntry;
    h.ban_end = ChannelBanEnd;
    h.printed = ExtractURL;
    h.first_motd = [earlier = std::move(h.first_motd)] {
        // The folder opens from the top of the event loop, ahead of the perform list. Without
        // a dialog to show (headless) nobody could answer it, so it is not asked for.
        if (Options().pfoc && ChannelsFolderDialog())
            platform::PostMessage(Frame().hwndFrame, platform::WM_COMMAND, kCmdJoin);
        if (earlier) earlier();
        NotifyAfterMotd();
    };
    FrameState& f = Frame();
    f.each_second.push_back(EachSecond);
    f.more_messages = [earlier = std::move(f.more_messages)](
                          platform::UINT msg, platform::WPARAM wparam, platform::LPARAM lparam) {
        if (msg == kMsgChannelDialog) {
            ShowChannelDialog();
            return true;
        }
        return earlier ? earlier(msg, wparam, lparam) : false;
    };
    f.more_commands = [earlier = std::move(f.more_commands)](int command) {
        if (ListFrameCommand(command)) return true;
        return earlier ? earlier(command) : false;
    };
}

}  // namespace chat
