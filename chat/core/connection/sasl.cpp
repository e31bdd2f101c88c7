#include "chat/core/connection/sasl.h"

#include <algorithm>
#include <cctype>

#include "chat/core/connection/capabilities.h"
#include "chat/core/connection/connection.h"
#include "chat/core/options.h"
#include "chat/core/process_wide.h"
#include "chat/core/windows/window_print.h"
#include "chat/core/windows/window_table.h"

namespace chat {
namespace {

// Longer names and passwords are not a real account's; refusing them keeps the exchange to a
// few lines.
constexpr size_t kMaxUser = 255;
constexpr size_t kMaxPassword = 510;

enum class Stage {
    kIdle,       ///< nothing asked yet
    kMechanism,  ///< "AUTHENTICATE MECH" sent, waiting for the server's "+"
    kAnswered,   ///< our response sent, waiting for 903 or a failure
    kOver,       ///< ended (either way) on this connection
};

struct SaslState {
    SaslSettings settings;
    Stage stage = Stage::kIdle;
    int seconds_left = 0;
    bool logged_in = false;
    bool gave_up = false;  ///< SaslNotAvailable has had its say
};

SaslState& State() {
    return ProcessWide<SaslState>();
}

void Status(std::string_view text, int colour) {
    Print(Windows().statwin, text, colour);
}

std::string Upper(std::string_view s) {
    std::string out(s);
    for (char& ch : out) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    return out;
}

// The exchange is over: negotiation may end. With required=1 and no login, the connection
// goes instead.
void Finish(bool success, std::string_view failure) {
    SaslState& s = State();
    if (s.stage == Stage::kOver) return;
    s.stage = Stage::kOver;
    s.seconds_left = 0;
    if (!success && s.settings.required) {
        Sendline("QUIT :SASL authentication failed", false);
        werr("*** " + std::string(failure) + "; disconnecting (required=1 in section [SASL])");
        return;
    }
    if (!success) Status("*** " + std::string(failure) + "; going on without logging in", 1);
    CapSaslFinished();
}

// The text of a reply: its trailing parameter, control bytes shown as blanks and cut to a
// line's worth.
std::string ReplyText(const std::vector<std::string>& tk) {
    std::string text = tk.size() > 3 ? tk.back() : std::string();
    if (text.size() > 300) text.resize(300);
    for (char& ch : text)
        if (static_cast<unsigned char>(ch) < 32) ch = ' ';
    return text;
}

}  // namespace

SaslSettings ReadSaslSettings() {
    SaslSettings s;
    s.mechanism = Upper(ReadSetting("SASL", "mechanism", "", 40));
    s.user = ReadSetting("SASL", "user");
    s.password = ReadSetting("SASL", "password");
    s.required = ReadSettingInt("SASL", "required", 0) == 1;
    long timeout = ReadSettingInt("SASL", "timeout", kSaslSeconds);
    s.timeout = timeout > 0 && timeout <= 600 ? static_cast<int>(timeout) : kSaslSeconds;
    return s;
}

std::string SaslBase64(std::string_view bytes) {
    static constexpr char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (size_t i = 0; i < bytes.size(); i += 3) {
        uint32_t n = static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])) << 16;
        if (i + 1 < bytes.size())
            n |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
        if (i + 2 < bytes.size()) n |= static_cast<unsigned char>(bytes[i + 2]);
        out += kDigits[(n >> 18) & 63];
        out += kDigits[(n >> 12) & 63];
        out += i + 1 < bytes.size() ? kDigits[(n >> 6) & 63] : '=';
        out += i + 2 < bytes.size() ? kDigits[n & 63] : '=';
    }
    return out;
}

std::vector<std::string> SaslResponseLines(std::string_view payload) {
    std::string encoded = SaslBase64(payload);
    std::vector<std::string> lines;
    for (size_t at = 0; at < encoded.size(); at += kSaslChunk)
        lines.push_back("AUTHENTICATE " + encoded.substr(at, kSaslChunk));
    if (encoded.empty() || encoded.size() % kSaslChunk == 0) lines.push_back("AUTHENTICATE +");
    return lines;
}

std::string MaskSaslLine(std::string_view line) {
    // "AUTHENTICATE x", "/quote AUTHENTICATE x", "/raw ..." alike: the word and what follows.
    std::string upper = Upper(line.substr(0, 40));
    size_t at = upper.find("AUTHENTICATE ");
    if (at == std::string::npos) return std::string(line);
    // Only the raw-line commands (and their -q) may stand before the word.
    std::string_view before = std::string_view(upper).substr(0, at);
    while (!before.empty()) {
        size_t blank = before.find(' ');
        std::string_view word = before.substr(0, blank);
        before = blank == std::string_view::npos ? std::string_view() : before.substr(blank + 1);
        if (!word.empty() && word.front() == '/') word.remove_prefix(1);
        if (!word.empty() && word != "QUOTE" && word != "RAW" && word != "-Q")
            return std::string(line);
    }
    std::string out(line.substr(0, at + 13));
    std::string_view rest = line.substr(at + 13);
    // The mechanism name, "+" and "*" hide nothing; anything else is a credential.
    if (rest == "+" || rest == "*" || rest == "PLAIN" || rest == "EXTERNAL")
        return out + std::string(rest);
    return out + "****";
}

void SaslPrepare() {
    SaslState& s = State();
    s = SaslState{};
    s.settings = ReadSaslSettings();
}

bool SaslWanted() {
    return !State().settings.mechanism.empty();
}

bool SaslMechanismOffered(std::string_view list) {
    SaslState& s = State();
    if (list.empty()) return true;
    std::string upper = Upper(list.substr(0, 400));
    size_t at = 0;
    while (at <= upper.size()) {
        size_t comma = upper.find(',', at);
        if (comma == std::string::npos) comma = upper.size();
        if (std::string_view(upper).substr(at, comma - at) == s.settings.mechanism) return true;
        at = comma + 1;
    }
    std::string shown(list.substr(0, 200));
    for (char& ch : shown)
        if (static_cast<unsigned char>(ch) < 32) ch = ' ';
    SaslNotAvailable("the server offers SASL " + shown + ", not " + s.settings.mechanism);
    return false;
}

void SaslStart() {
    SaslState& s = State();
    if (s.stage != Stage::kIdle || !SaslWanted()) return;
    const SaslSettings& set = s.settings;
    std::string problem;
    if (set.mechanism != "PLAIN" && set.mechanism != "EXTERNAL") {
        problem = "SASL mechanism " + set.mechanism + " is not supported (PLAIN or EXTERNAL)";
    } else if (set.mechanism == "PLAIN" && (set.user.empty() || set.password.empty())) {
        problem = "SASL PLAIN needs user= and password= in section [SASL]";
    } else if (set.user.size() > kMaxUser || set.password.size() > kMaxPassword) {
        problem = "SASL user= or password= is too long";
    }
    if (!problem.empty()) {
        s.stage = Stage::kMechanism;  // so that Finish reports it
        Finish(false, problem);
        return;
    }
    s.stage = Stage::kMechanism;
    s.seconds_left = set.timeout;
    Status("*** SASL: logging in with " + set.mechanism + "...", 2);
    Sendline("AUTHENTICATE " + set.mechanism, false);
}

bool SaslBusy() {
    Stage stage = State().stage;
    return stage == Stage::kMechanism || stage == Stage::kAnswered;
}

void HandleAuthenticate(const std::vector<std::string>& tk) {
    SaslState& s = State();
    // "AUTHENTICATE +" with or without a source in front.
    std::string_view data = tk.empty() ? std::string_view() : std::string_view(tk.back());
    if (s.stage == Stage::kMechanism && data == "+") {
        s.stage = Stage::kAnswered;
        std::string payload;
        if (s.settings.mechanism == "PLAIN") {
            payload = s.settings.user;
            payload += '\0';
            payload += s.settings.user;
            payload += '\0';
            payload += s.settings.password;
        }
        for (const std::string& line : SaslResponseLines(payload)) Sendline(line, false);
        return;
    }
    if (!SaslBusy()) return;
    // Neither mechanism has a second step: a further challenge is a server that will not end.
    Sendline("AUTHENTICATE *", false);
    Finish(false,
           "SASL authentication aborted: the server's exchange did not follow the mechanism");
}

bool HandleSaslNumeric(int code, const std::vector<std::string>& tk) {
    SaslState& s = State();
    switch (code) {
        case 900: {  // <nick> <nick!user@host> <account> :You are now logged in as <account>
            // Services send it for later logins too (NickServ IDENTIFY): only an exchange's
            // is the SASL login.
            std::string account = tk.size() > 5 ? tk[4].substr(0, 100) : ReplyText(tk);
            for (char& ch : account)
                if (static_cast<unsigned char>(ch) < 32) ch = ' ';
            if (SaslBusy()) {
                s.logged_in = true;
                Status("*** SASL: logged in as " + account, 2);
            } else {
                Status("*** Logged in as " + account, 2);
            }
            return true;
        }
        case 901:
        case 907:
            Status("*** SASL: " + ReplyText(tk), 1);
            return true;
        case 903:
            if (!s.logged_in) Status("*** SASL: " + ReplyText(tk), 2);
            s.stage = Stage::kAnswered;
            Finish(true, "");
            return true;
        case 902:
        case 904:
        case 905:
        case 906:
            if (!SaslBusy()) {
                Status("*** SASL: " + ReplyText(tk), 1);
                return true;
            }
            Finish(false, "SASL authentication failed: " + ReplyText(tk));
            return true;
        case 908:
            if (tk.size() > 4)
                Status("*** SASL mechanisms the server offers: " + tk[3].substr(0, 200), 1);
            return true;
        default:
            return false;
    }
}

void SaslTick() {
    SaslState& s = State();
    if (!SaslBusy() || s.seconds_left <= 0) return;
    if (--s.seconds_left == 0) {
        Sendline("AUTHENTICATE *", false);
        Finish(false, "SASL authentication did not finish in " +
                          std::to_string(s.settings.timeout) + " seconds");
    }
}

void SaslNotAvailable(std::string_view why) {
    SaslState& s = State();
    if (!SaslWanted() || s.gave_up || s.logged_in || s.stage == Stage::kOver) return;
    s.gave_up = true;
    s.stage = Stage::kMechanism;
    Finish(false, "SASL not possible: " + std::string(why));
}

}  // namespace chat
