#include "chat/core/session/ctcp_incoming.h"

#include <sys/stat.h>

#include "chat/core/events.h"
#include "chat/core/options.h"
#include "chat/core/session/dcc_offer.h"
#include "chat/core/session/server_parser.h"
#include "chat/core/session/session_state.h"
#include "chat/core/windows/window_print.h"
#include "chat/core/windows/window_table.h"
#include "platform/process.h"

namespace chat {
namespace {

// A line to the server is at most 512 bytes with its CR LF.
constexpr size_t kMaxReplyLine = 510;
constexpr platform::UINT kMsgSoundDone = platform::WM_USER + 2;

bool PrefixNoCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && EqualNoCase(s.substr(0, prefix.size()), prefix);
}

// The request without its delimiters: "\x01PING 1\x01" gives "PING 1".
std::string_view Inner(std::string_view text) {
    if (!text.empty() && text.front() == '\x01') text.remove_prefix(1);
    size_t end = text.find('\x01');
    return text.substr(0, end);
}

void Report(std::string_view text) {
    Pp(StatusWindow(), timestamp(text), 3);
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DefaultPlay(const std::string& path) {
    static platform::HWND done = 0;
    if (done == 0 || !platform::IsWindow(done))
        done = platform::CreateWindow(
            [](platform::HWND, platform::UINT msg, platform::WPARAM, platform::LPARAM) {
                if (msg == kMsgSoundDone) Sounds().playing = false;
                return platform::LRESULT{0};
            });
    for (const char* player : {"paplay", "aplay"}) {
        pid_t pid = platform::StartProcess({player, path});
        if (pid > 0) {
            platform::WatchProcess(pid, done, kMsgSoundDone);
            return true;
        }
    }
    return false;
}

WindowId CheckCtcpMsg(WindowId window) {
    if (window) return window;
    const LineContext& c = Current();
    bool shared = false;
    if (Options().udmw || !IsChannelName(c.Tok(2))) return QueryWindowFor(c.Tok(0), false, shared);
    return 0;
}

void DoAction(WindowId window) {
    LineContext& c = Current();
    WindowId w = CheckCtcpMsg(window);
    if (!w) return;
    if (Options().lfe) c.event.code = kEventText;
    std::string text = doctcpaction(c.Tok(0), c.Tok(3));
    if (text.empty()) return;
    c.currwin = w;
    c.tab = 2;
    c.mw = 0;
    c.highlight = true;
    c.uc = Options().aap ? 5 : 0;
    AppendMsg(text);
}

void DoSound(WindowId window) {
    LineContext& c = Current();
    const std::string& text = c.Tok(3);
    if (text.size() <= 7) return;
    WindowId w = CheckCtcpMsg(window);
    if (!w) return;
    std::string_view rest = Inner(text).substr(6);
    while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
    size_t blank = rest.find(' ');
    std::string name(rest.substr(0, blank));
    if (name.empty()) return;
    std::string_view message =
        blank == std::string_view::npos ? std::string_view() : rest.substr(blank + 1);
    const ChatOptions& o = Options();
    SoundSettings& snd = Sounds();
    if (o.esounds && IsSafeSoundName(name)) {
        std::string folder = snd.folder.empty() ? o.szPATH + "sounds/" : snd.folder;
        std::string path = folder + name;
        bool played = false;
        if (FileExists(path) && !(o.insr == 1 && snd.playing)) {
            played = snd.play ? snd.play(path) : DefaultPlay(path);
            if (played) snd.playing = true;
        }
        if (!played && o.dwse && !FileExists(path))
            Print(w, "*** Requested sound [" + name + "] doesn't exist", 1);
    }
    c.currwin = w;
    c.tab = 2;
    c.mw = 0;
    if (!message.empty()) {
        c.highlight = true;
        c.uc = o.aap ? 5 : 0;
        AppendMsg("* " + c.Tok(0) + " " + std::string(message));
    } else {
        c.uc = 3;
        AppendMsg("[" + c.Tok(0) + " SOUND]");
    }
}

std::string IdentityReply(std::string_view word) {
    const ChatOptions& o = Options();
    int64_t last = Session().last_keypress_s;
    int64_t idle = last > 0 ? SessionWallSeconds() - last : 0;
    return std::string(word) + " " + o.szUser + " (" + o.szEmail + ") Idle " +
           std::to_string(idle < 0 ? 0 : idle) + " seconds" +
           (Session().finger_message.empty() ? "" : " (" + Session().finger_message + ")");
}

}  // namespace

SoundSettings& Sounds() {
    static SoundSettings settings;
    return settings;
}

bool IsSafeSoundName(std::string_view name) {
    if (name.empty() || name.size() > 255 || name[0] == '.' || name[0] == '-') return false;
    if (name.find("..") != std::string_view::npos) return false;
    for (unsigned char ch : name)
        if (ch == '/' || ch == '\\' || ch < 32 || ch == 127) return false;
    return true;
}

std::string doctcpaction(std::string_view nick, std::string_view text) {
    std::string_view inner = Inner(text);
    size_t blank = inner.find(' ');
    if (blank == std::string_view::npos) return std::string();
    return "* " + std::string(nick) + std::string(inner.substr(blank));
}

bool SendCtcpReply(std::string_view nick, std::string_view body) {
    if (!AllowAutoReply(nick)) return false;
    std::string clean;
    clean.reserve(body.size());
    for (char ch : body)
        if (ch != '\x01' && ch != '\r' && ch != '\n' && ch != '\0') clean += ch;
    std::string head = "NOTICE " + std::string(nick) + " :\x01";
    if (head.size() + 1 >= kMaxReplyLine) return false;
    size_t room = kMaxReplyLine - head.size() - 1;
    if (clean.size() > room) {
        // Never leave half a UTF-8 character at the cut.
        size_t cut = room;
        while (cut > 0 && (static_cast<unsigned char>(clean[cut]) & 0xC0) == 0x80) --cut;
        clean.resize(cut);
    }
    SendToServer(head + clean + "\x01", true);
    return true;
}

void doctcp(WindowId window) {
    LineContext& c = Current();
    const std::string nick = c.Tok(0);
    const std::string& text = c.Tok(3);
    const ChatOptions& o = Options();
    CurrentEvent request = c.event;
    request.code = 0;
    request.nick = nick;
    request.userhost = c.line.userhost;
    request.text = text;
    auto exact = [&](std::string_view word) {
        return text.size() == word.size() + 2 && text.back() == '\x01' &&
               EqualNoCase(std::string_view(text).substr(1, word.size()), word);
    };

    // "\x01ACTION\x01" is an action without text: it shows nothing, and is no unknown request.
    if (PrefixNoCase(text, std::string_view("\x01"
                                            "ACTION",
                                            7)) &&
        (text.size() == 7 || text[7] == ' ' || text[7] == '\x01'))
        return DoAction(window);
    if (exact("VERSION")) {
        SendCtcpReply(nick, "VERSION vesk32 v4.1 IRC Client");
        Report("[" + nick + " VERSION]");
        if (o.lfc) ctcpscripted(request);
        return;
    }
    if (o.lfc && ctcpscripted(request)) return;
    if (PrefixNoCase(text,
                     "\x01"
                     "SOUND "))
        return DoSound(window);
    if (exact("CLIENTINFO")) {
        SendCtcpReply(nick,
                      "CLIENTINFO ACCEPT ACTION CLIENTINFO DCC ECHO FINGER PING RESUME SOUND TIME "
                      "USERINFO VERSION");
        return Report("[" + nick + " CLIENTINFO]");
    }
    if (PrefixNoCase(text,
                     "\x01"
                     "PING ")) {
        SendCtcpReply(nick, "PING " + std::string(Inner(text).substr(5)));
        return Report("[" + nick + " PING]");
    }
    if (PrefixNoCase(text,
                     "\x01"
                     "ECHO ")) {
        SendCtcpReply(nick, Inner(text));
        return Report("[" + nick + " ECHO " + std::string(Inner(text).substr(5)) + "]");
    }
    if (exact("TROUT")) {
        SendCtcpReply(nick, "TROUT WHOP! THWACK! SLAP!");
        return Report("[" + nick + " TROUT]");
    }
    if (exact("HALIBUT")) {
        SendCtcpReply(nick, "Greetings to the #new2irc gang! Why? for the halibut ;)");
        return Report("[" + nick + " HALIBUT]");
    }
    if (exact("FINGER") || exact("USERINFO")) {
        std::string word = exact("FINGER") ? "FINGER" : "USERINFO";
        SendCtcpReply(nick, IdentityReply(word));
        return Report("[" + nick + " " + word + "]");
    }
    if (exact("TIME")) {
        SendCtcpReply(nick, "TIME " + extracttime(SessionWallSeconds()));
        return Report("[" + nick + " TIME]");
    }
    for (std::string_view dcc : {"\x01"
                                 "DCC CHAT ",
                                 "\x01"
                                 "DCC SEND ",
                                 "\x01"
                                 "DCC RESUME ",
                                 "\x01"
                                 "DCC ACCEPT "}) {
        if (PrefixNoCase(text, dcc)) return HandleDccOffer(nick, c.line.userhost, text);
    }
    Report("[" + nick + " " + std::string(Inner(text)) + "]");
}

}  // namespace chat
