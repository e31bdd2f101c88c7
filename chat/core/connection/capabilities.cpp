#include "chat/core/connection/capabilities.h"

#include <algorithm>
#include <cctype>
#include <ctime>
#include <map>
#include <set>

#include "chat/core/connection/connection.h"
#include "chat/core/connection/sasl.h"
#include "chat/core/process_wide.h"
#include "chat/core/session/ircv3_events.h"
#include "chat/core/windows/window_print.h"
#include "chat/core/windows/window_table.h"

namespace chat {
namespace {

// What is asked for when offered: each has its effect built in. "sasl" is asked for only
// before registration and only when section [SASL] sets a mechanism.
constexpr std::string_view kWanted[] = {
    "multi-prefix",  "server-time",    "message-tags",  "echo-message", "batch",
    "away-notify",   "account-notify", "extended-join", "chghost",      "userhost-in-names",
    "invite-notify", "setname",        "account-tag",   "sasl"};
// Longest batch reference or account name taken from a tag.
constexpr size_t kMaxTagValue = 100;
// A capability list longer than this (over all LS lines) is not a real server's.
constexpr size_t kMaxListBytes = 16384;
constexpr size_t kMaxCapName = 100;

struct CapState {
    bool negotiating = false;  ///< CAP END not sent yet
    int seconds_left = 0;
    size_t listed_bytes = 0;
    size_t malformed = 0;  ///< words of the server's lists that are no capability names
    std::map<std::string, std::string> offered;  ///< name and value ("sasl=PLAIN,EXTERNAL")
    std::set<std::string> requested, enabled;
    int64_t line_time = 0;
    std::string line_batch, line_account;
};

CapState& State() {
    return ProcessWide<CapState>();
}

void Status(std::string_view text, int colour) {
    Print(Windows().statwin, text, colour);
}

bool ValidName(std::string_view name) {
    if (name.empty() || name.size() > kMaxCapName) return false;
    return std::all_of(name.begin(), name.end(), [](char ch) {
        return (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9') ||
               ch == '-' || ch == '.' || ch == '/' || ch == '_';
    });
}

// Each word of a list, "name" or "name=value", as name and value; words whose name is not
// a capability name are skipped (and counted in `skipped` when given).
std::vector<std::pair<std::string, std::string>> Entries(std::string_view list,
                                                         size_t* skipped = nullptr) {
    std::vector<std::pair<std::string, std::string>> out;
    while (!list.empty()) {
        size_t blank = list.find(' ');
        std::string_view word = list.substr(0, blank);
        list = blank == std::string_view::npos ? std::string_view() : list.substr(blank + 1);
        size_t eq = word.find('=');
        std::string_view name = word.substr(0, eq);
        std::string_view value =
            eq == std::string_view::npos ? std::string_view() : word.substr(eq + 1, 400);
        if (ValidName(name)) {
            out.emplace_back(name, value);
        } else if (skipped && !word.empty()) {
            ++*skipped;
        }
    }
    return out;
}

std::vector<std::string> Names(std::string_view list) {
    std::vector<std::string> out;
    for (auto& [name, value] : Entries(list)) out.push_back(std::move(name));
    return out;
}

bool Disconnected() {
    return Conn().Sock == platform::net::kNoSocket;
}

void End() {
    CapState& s = State();
    if (!s.negotiating) return;
    s.negotiating = false;
    s.seconds_left = 0;
    Sendline("CAP END", false);
}

void Request() {
    CapState& s = State();
    std::string want;
    for (std::string_view name : kWanted) {
        std::string n(name);
        auto offer = s.offered.find(n);
        if (name == "sasl") {
            if (!s.negotiating || !SaslWanted() || s.enabled.count(n) || s.requested.count(n))
                continue;
            if (offer == s.offered.end()) {
                SaslNotAvailable("the server does not offer it");
                if (Disconnected()) return;
                continue;
            }
            if (!SaslMechanismOffered(offer->second)) {
                if (Disconnected()) return;
                continue;
            }
        }
        if (offer != s.offered.end() && !s.enabled.count(n) && !s.requested.count(n)) {
            if (!want.empty()) want += ' ';
            want += n;
            s.requested.insert(n);
        }
    }
    if (!want.empty()) {
        Sendline("CAP REQ :" + want, false);
    } else if (s.requested.empty() && !SaslBusy()) {
        End();
    }
}

}  // namespace

void CapReset() {
    State() = CapState{};
}

void CapBegin() {
    CapReset();
    Ircv3Reset();
    SaslPrepare();
    CapState& s = State();
    s.negotiating = true;
    s.seconds_left = kCapSeconds;
    Sendline("CAP LS 302", false);
}

void HandleCap(const std::vector<std::string>& tk) {
    CapState& s = State();
    if (tk.size() < 5) return;
    std::string sub = tk[3];
    for (char& ch : sub) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    bool more = tk.size() >= 6 && tk[4] == "*";
    const std::string& list = more ? tk[5] : tk[4];
    if (sub == "LS" || sub == "NEW") {
        s.listed_bytes += list.size();
        if (s.listed_bytes > kMaxListBytes) {
            if (s.negotiating) {
                Status("*** The server's capability list is too long; going on without it", 1);
                s.requested.clear();
                End();
            }
            return;
        }
        for (auto& [name, value] : Entries(list, &s.malformed)) s.offered[name] = value;
        if (!more && s.malformed > 0) {
            Status("*** Skipped " + std::to_string(s.malformed) +
                       " malformed capability names from the server",
                   1);
            s.malformed = 0;
        }
        if (!more && (sub == "NEW" || s.negotiating)) Request();
    } else if (sub == "ACK") {
        // "-name" in an ACK takes a capability away.
        std::string_view rest = list;
        while (!rest.empty()) {
            size_t blank = rest.find(' ');
            std::string_view word = rest.substr(0, blank);
            rest = blank == std::string_view::npos ? std::string_view() : rest.substr(blank + 1);
            bool off = !word.empty() && word.front() == '-';
            if (off) word.remove_prefix(1);
            std::string name(word.substr(0, word.find('=')));
            if (!ValidName(name) || !s.requested.count(name)) continue;
            s.requested.erase(name);
            if (off) {
                s.enabled.erase(name);
            } else {
                s.enabled.insert(name);
            }
        }
        if (!s.enabled.empty())
            Status(
                "*** Capabilities enabled: " +
                    [&] {
                        std::string t;
                        for (const std::string& n : s.enabled) t += (t.empty() ? "" : " ") + n;
                        return t;
                    }(),
                2);
        if (s.negotiating && s.enabled.count("sasl")) SaslStart();
        if (Disconnected()) return;
        if (s.requested.empty() && !SaslBusy()) End();
    } else if (sub == "NAK") {
        for (std::string& name : Names(list)) {
            if (name == "sasl" && s.requested.count(name)) {
                s.requested.erase(name);
                SaslNotAvailable("the server refused the sasl capability");
                if (Disconnected()) return;
            }
            s.requested.erase(name);
        }
        if (s.requested.empty() && !SaslBusy()) End();
    } else if (sub == "DEL") {
        for (std::string& name : Names(list)) {
            s.offered.erase(name);
            s.enabled.erase(name);
        }
    }
}

void CapTick() {
    CapState& s = State();
    // A SASL exchange has a time limit of its own.
    SaslTick();
    if (Disconnected() || SaslBusy()) return;
    if (!s.negotiating || s.seconds_left <= 0) return;
    if (--s.seconds_left == 0) {
        Status("*** Capability negotiation did not finish; going on without it", 1);
        s.requested.clear();
        SaslNotAvailable("capability negotiation did not finish");
        if (Disconnected()) return;
        End();
    }
}

void CapSaslFinished() {
    CapState& s = State();
    if (s.requested.empty()) End();
}

void CapWelcomed() {
    CapState& s = State();
    s.negotiating = false;
    s.seconds_left = 0;
    SaslNotAvailable("the server registered us without it");
}

bool CapEnabled(std::string_view name) {
    return State().enabled.count(std::string(name)) > 0;
}

std::string UnescapeTagValue(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    for (size_t i = 0; i < value.size(); ++i) {
        char ch = value[i];
        if (ch != '\\') {
            out += ch;
            continue;
        }
        if (++i >= value.size()) break;
        switch (value[i]) {
            case ':':
                out += ';';
                break;
            case 's':
                out += ' ';
                break;
            case 'r':
                out += '\r';
                break;
            case 'n':
                out += '\n';
                break;
            default:
                out += value[i];
        }
    }
    return out;
}

int64_t ParseServerTime(std::string_view text) {
    // 2026-12-09T10:20:30.123Z
    if (text.size() < 20 || text.size() > 40 || text.back() != 'Z') return 0;
    auto digits = [&](size_t at, size_t count, int& value) {
        value = 0;
        for (size_t i = at; i < at + count; ++i) {
            if (text[i] < '0' || text[i] > '9') return false;
            value = value * 10 + (text[i] - '0');
        }
        return true;
    };
    std::tm tm{};
    int year = 0, month = 0;
    if (!digits(0, 4, year) || text[4] != '-' || !digits(5, 2, month) || text[7] != '-' ||
        !digits(8, 2, tm.tm_mday) || text[10] != 'T' || !digits(11, 2, tm.tm_hour) ||
        text[13] != ':' || !digits(14, 2, tm.tm_min) || text[16] != ':' ||
        !digits(17, 2, tm.tm_sec))
        return 0;
    if (year < 1970 || month < 1 || month > 12 || tm.tm_mday < 1 || tm.tm_mday > 31 ||
        tm.tm_hour > 23 || tm.tm_min > 59 || tm.tm_sec > 60)
        return 0;
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    std::time_t t = timegm(&tm);
    return t > 0 ? static_cast<int64_t>(t) : 0;
}

void TakeLineTags(std::string_view line) {
    CapState& s = State();
    s.line_time = 0;
    s.line_batch.clear();
    s.line_account.clear();
    if (line.empty() || line.front() != '@') return;
    line.remove_prefix(1);
    line = line.substr(0, std::min({line.find(' '), kMaxTagBytes}));
    while (!line.empty()) {
        size_t semi = line.find(';');
        std::string_view tag = line.substr(0, semi);
        line = semi == std::string_view::npos ? std::string_view() : line.substr(semi + 1);
        size_t eq = tag.find('=');
        if (eq == std::string_view::npos) continue;
        std::string_view name = tag.substr(0, eq);
        std::string_view value = tag.substr(eq + 1);
        if (name == "time") {
            s.line_time = ParseServerTime(UnescapeTagValue(value));
        } else if (name == "batch") {
            s.line_batch = UnescapeTagValue(value.substr(0, kMaxTagValue));
        } else if (name == "account") {
            s.line_account = UnescapeTagValue(value.substr(0, kMaxTagValue));
        }
    }
}

int64_t LineServerTime() {
    return State().line_time;
}

const std::string& LineBatch() {
    return State().line_batch;
}

const std::string& LineAccount() {
    return State().line_account;
}

}  // namespace chat
