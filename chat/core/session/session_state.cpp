#include "chat/core/session/session_state.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>

#include "chat/core/connection/capabilities.h"
#include "chat/core/connection/connection.h"
#include "chat/core/options.h"
#include "chat/core/process_wide.h"
#include "platform/event_loop.h"

namespace chat {
namespace {

ChatSession& Storage() {
    return ProcessWide<ChatSession>();
}

constexpr int64_t kPerSenderWindowMs = 5000;
constexpr int kPerSenderLimit = 3;
constexpr int64_t kAllWindowMs = 10000;
constexpr int kAllLimit = 6;

char FoldChar(char c, int casemapping) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u >= 'A' && u <= 'Z') return static_cast<char>(u + 32);
    if (casemapping == 1) return c;
    // rfc1459 folds []\~ onto {}|^; strict-rfc1459 leaves ~ and ^ apart.
    if (c == '[') return '{';
    if (c == ']') return '}';
    if (c == '\\') return '|';
    if (c == '~' && casemapping == 0) return '^';
    return c;
}

void Resort() {
    for (auto& [id, data] : Storage().channels) ResortMembers(data.nicks);
}

}  // namespace

ChatSession& Session() {
    return Storage();
}

bool MayCloseWindow(const WindowRecord& r) {
    return !(r.kind == kKindChannelList && Session().InListing);
}

void ResetSession() {
    Storage() = ChatSession{};
}

void SessionConnected() {
    ChatSession& s = Storage();
    s.away = false;
    s.InWho = s.InWhois = s.InStats = s.InInfo = s.InListing = s.Linking = s.LWTopic = false;
    s.lastch.clear();
    s.umodes.clear();
    s.szlinks.clear();
    s.uwho = WhoisRecord{};
    s.prefix_modes = "qaohv";
    s.prefix_chars = "~&@%+";
    s.prefix_known = false;
    s.chanmodes_known = false;
    s.casemapping = 0;
    s.rejoins.clear();
    s.lookups.clear();
    Resort();
}

void SendToServer(std::string_view line, bool remote) {
    if (Storage().send) return Storage().send(line, remote);
    Sendline(line, remote);
}

int64_t SessionNowMs() {
    const ChatSession& s = Storage();
    return s.clock ? s.clock() : static_cast<int64_t>(platform::MonotonicMs());
}

int64_t SessionWallSeconds() {
    const ChatSession& s = Storage();
    return s.wall_clock ? s.wall_clock() : static_cast<int64_t>(std::time(nullptr));
}

const std::string& CurrentNickname() {
    return Storage().nick;
}

std::string FoldName(std::string_view name) {
    int casemapping = Storage().casemapping;
    std::string out(name);
    for (char& c : out) c = FoldChar(c, casemapping);
    return out;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    if (a == b) return true;  // the usual case, without folding byte by byte
    int casemapping = Storage().casemapping;
    for (size_t i = 0; i < a.size(); ++i)
        if (FoldChar(a[i], casemapping) != FoldChar(b[i], casemapping)) return false;
    return true;
}

bool IsMe(std::string_view nick) {
    return !Storage().nick.empty() && SameName(nick, Storage().nick);
}

bool IsChannelName(std::string_view name) {
    return !name.empty() && (name[0] == '#' || name[0] == '&');
}

bool IsValidChannelName(std::string_view name) {
    if (!IsChannelName(name) || name.size() < 2 || name.size() > kMaxChannelName) return false;
    for (unsigned char c : name)
        if (c == ',' || c == ' ' || c < 32 || c == 127) return false;
    return true;
}

void checkwhois(std::string_view nick, std::function<void(const std::string& address)> done,
                std::function<void()> failed) {
    ChatSession& s = Storage();
    // One user typing many commands is fine; the list still has a bound.
    if (nick.empty() || s.lookups.size() >= 50) {
        if (failed) failed();
        return;
    }
    s.lookups.push_back(
        AddressLookup{std::string(nick.substr(0, 100)), std::move(done), std::move(failed), false});
    SendToServer("WHOIS " + std::string(nick.substr(0, 100)), false);
}

AddressLookup* FindLookup(std::string_view nick) {
    for (AddressLookup& l : Storage().lookups)
        if (SameName(l.nick, nick)) return &l;
    return nullptr;
}

ChannelData& ChannelOf(WindowId window) {
    return Storage().channels[window];
}

ChannelData* FindChannel(WindowId window) {
    auto& channels = Storage().channels;
    auto it = channels.find(window);
    return it == channels.end() ? nullptr : &it->second;
}

void DropChannel(WindowId window) {
    Storage().channels.erase(window);
}

int MarkRank(char mark) {
    if (mark == 0) return -1;
    size_t at = Storage().prefix_chars.find(mark);
    return at == std::string::npos ? -1 : static_cast<int>(at);
}

char MarkForMode(char mode) {
    const ChatSession& s = Storage();
    size_t at = s.prefix_modes.find(mode);
    if (at == std::string::npos || at >= s.prefix_chars.size()) return 0;
    return s.prefix_chars[at];
}

bool IsOperatorMark(char mark) {
    return mark == '~' || mark == '&' || mark == '@';
}

void ApplyIsupport(std::string_view token) {
    ChatSession& s = Storage();
    size_t eq = token.find('=');
    std::string key(token.substr(0, eq));
    for (char& c : key) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    std::string_view value =
        eq == std::string_view::npos ? std::string_view() : token.substr(eq + 1);
    if (key == "PREFIX") {
        // "(ov)@+": letters in brackets, then their marks in the same order.
        size_t close = value.find(')');
        if (value.size() < 2 || value[0] != '(' || close == std::string_view::npos) return;
        std::string_view modes = value.substr(1, close - 1);
        std::string_view marks = value.substr(close + 1);
        if (modes.size() != marks.size() || modes.size() > 16) return;
        s.prefix_modes = std::string(modes);
        s.prefix_chars = std::string(marks);
        s.prefix_known = true;
        Resort();
    } else if (key == "CHANMODES") {
        std::string parts[4];
        int n = 0;
        for (char c : value) {
            if (c == ',') {
                if (++n > 3) break;
            } else if (parts[n].size() < 64) {
                parts[n] += c;
            }
        }
        s.chanmodes_a = parts[0];
        s.chanmodes_b = parts[1];
        s.chanmodes_c = parts[2];
        s.chanmodes_d = parts[3];
        s.chanmodes_known = true;
    } else if (key == "CASEMAPPING") {
        int mapping = value == "ascii" ? 1 : value == "strict-rfc1459" ? 2 : 0;
        if (mapping != s.casemapping) {
            s.casemapping = mapping;
            // The lists are keyed by folded names: fold them again.
            for (auto& [id, data] : s.channels) {
                NickList old = std::move(data.nicks);
                data.nicks = NickList{};
                for (auto& [key2, m] : old.by_name) SetMember(data.nicks, m.nick, m.mark);
                data.nicks.dirty = true;
            }
        }
    }
}

bool ModeTakesArgument(char letter, bool plus) {
    const ChatSession& s = Storage();
    if (s.prefix_modes.find(letter) != std::string::npos) return true;
    if (s.chanmodes_known) {
        if (s.chanmodes_a.find(letter) != std::string::npos) return true;
        if (s.chanmodes_b.find(letter) != std::string::npos) return true;
        if (s.chanmodes_c.find(letter) != std::string::npos) return plus;
        return false;
    }
    if (std::string_view("beIkovhqa").find(letter) != std::string_view::npos) return true;
    return letter == 'l' && plus;
}

bool AllowAutoReply(std::string_view sender) {
    ChatSession& s = Storage();
    int64_t now = SessionNowMs();
    while (!s.auto_replies.empty() && now - s.auto_replies.front().first >= kAllWindowMs)
        s.auto_replies.pop_front();
    if (static_cast<int>(s.auto_replies.size()) >= kAllLimit) return false;
    std::string folded = FoldName(sender);
    int mine = 0;
    for (const auto& [when, who] : s.auto_replies)
        if (now - when < kPerSenderWindowMs && who == folded) ++mine;
    if (mine >= kPerSenderLimit) return false;
    s.auto_replies.emplace_back(now, std::move(folded));
    return true;
}

std::string timestamp(std::string_view text) {
    if (!Options().tse) return std::string(text);
    // A flood stamps many lines in the same second: the stamp is made once per second.
    static int64_t stamped_second = 0;
    static bool stamped = false;
    static char stamp[32];
    static size_t stamp_length = 0;
    // A line with a server-time tag shows when the server says it happened.
    const int64_t tagged = LineServerTime();
    const int64_t second = tagged != 0 ? tagged : SessionWallSeconds();
    if (!stamped || second != stamped_second) {
        std::time_t now = static_cast<std::time_t>(second);
        std::tm tm{};
        localtime_r(&now, &tm);
        int n = std::snprintf(stamp, sizeof stamp, "[%d:%02d] ", tm.tm_hour, tm.tm_min);
        stamp_length = n > 0 ? std::min(static_cast<size_t>(n), sizeof stamp - 1) : 0;
        stamped_second = second;
        stamped = true;
    }
    std::string out;
    out.reserve(stamp_length + text.size());
    out.append(stamp, stamp_length);
    out.append(text);
    return out;
}

std::string convertseconds(int64_t seconds) {
    if (seconds < 0) seconds = 0;
    uint64_t total = static_cast<uint64_t>(seconds);
    uint64_t hours = total / 3600, mins = total / 60 % 60, secs = total % 60;
    std::string out;
    char buf[48];
    if (hours) {
        std::snprintf(buf, sizeof buf, hours == 1 ? "%luhr " : "%luhrs ",
                      static_cast<unsigned long>(hours));
        out += buf;
    }
    if (mins) {
        std::snprintf(buf, sizeof buf, mins == 1 ? "%lumin " : "%lumins ",
                      static_cast<unsigned long>(mins));
        out += buf;
    }
    if (secs || out.empty()) {
        std::snprintf(buf, sizeof buf, out.empty() ? "%lu second" : "%lusec",
                      static_cast<unsigned long>(secs));
        out += buf;
        if (secs != 1) out += 's';
    } else {
        out.pop_back();  // the trailing blank of the last unit
    }
    return out;
}

std::string extracttime(int64_t seconds) {
    std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    if (!localtime_r(&t, &tm)) return std::string();
    char buf[64];
    if (std::strftime(buf, sizeof buf, "%a %b %e %H:%M:%S %Y", &tm) == 0) return std::string();
    return buf;
}

}  // namespace chat
