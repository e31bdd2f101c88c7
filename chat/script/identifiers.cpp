#include "chat/script/identifiers.h"

#include <ctime>
#include <optional>

#include "chat/core/connection/connection.h"
#include "chat/core/options.h"
#include "chat/core/session/session_state.h"
#include "chat/core/windows/window_table.h"
#include "chat/script/deferred_identifiers.h"
#include "chat/script/script_state.h"
#include "chat/script/variables.h"

namespace chat {
namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Reads a decimal number at the start of text, saturating; `used` gets the digits read.
int64_t LeadingNumber(std::string_view text, size_t& used) {
    int64_t n = 0;
    used = 0;
    while (used < text.size() && IsDigit(text[used])) {
        if (n < 100000000) n = n * 10 + (text[used] - '0');
        ++used;
    }
    return n;
}

std::tm LocalNow() {
    std::time_t now = static_cast<std::time_t>(SessionWallSeconds());
    std::tm tm{};
    localtime_r(&now, &tm);
    return tm;
}

std::string WithPrefix(std::string value, char prefix) {
    if (prefix && !value.empty() && value[0] != '#' && value[0] != '&')
        value.insert(value.begin(), prefix);
    return value;
}

// $r(a,b): a whole number or a letter between the bounds; text after ")" is lost.
std::string RandomValue(std::string_view args) {
    size_t close = args.find(')');
    if (close != std::string_view::npos) args = args.substr(0, close);
    size_t comma = args.find(',');
    if (comma == std::string_view::npos) return {};
    std::string_view a = args.substr(0, comma), b = args.substr(comma + 1);
    if (a.empty() || b.empty()) return {};
    if (IsDigit(a[0]) && IsDigit(b[0])) {
        size_t used = 0;
        int64_t lo = LeadingNumber(a, used), hi = LeadingNumber(b, used);
        if (hi < lo) return std::to_string(lo);
        return std::to_string(lo + ScriptRandom(hi - lo + 1));
    }
    bool upper = a[0] >= 'A' && a[0] <= 'Z' && b[0] >= 'A' && b[0] <= 'Z';
    bool lower = a[0] >= 'a' && a[0] <= 'z' && b[0] >= 'a' && b[0] <= 'z';
    if ((!upper && !lower) || b[0] < a[0]) return {};
    return std::string(1, static_cast<char>(a[0] + ScriptRandom(b[0] - a[0] + 1)));
}

std::string SelectedNicks(WindowId window) {
    const WindowRecord* r = RecordOf(window);
    const ScriptHooks& h = Script().hooks;
    if (!r || r->kind != kKindChannel || !h.selected_nicks) return {};
    std::string out;
    int n = 0;
    for (std::string nick : h.selected_nicks(window)) {
        if (n++ == 50) break;
        if (!nick.empty() && (nick[0] == '@' || nick[0] == '+')) nick.erase(0, 1);
        if (nick.empty()) continue;
        if (!out.empty()) out += ',';
        out += nick;
    }
    return out;
}

// The address a web browser shows, asked over DDE; the service that answered is tried first.
std::string BrowserUrl() {
    static const char* const kServices[] = {"NETSCAPE", "MOSAIC", "IEXPLORE"};
    static int last = 0;
    const ScriptHooks& h = Script().hooks;
    if (!h.dde_request) return {};
    for (int attempt = 0; attempt < 3; ++attempt) {
        int k = (last + attempt) % 3;
        std::string reply = h.dde_request(kServices[k], "WWW_GetWindowInfo", "0xFFFFFFFF");
        if (reply.empty()) continue;
        last = k;
        size_t cut = reply.find("\",\"");
        if (cut != std::string::npos) reply.resize(cut);
        if (!reply.empty() && reply[0] == '"') reply.erase(0, 1);
        return reply;
    }
    return {};
}

std::string Known(const std::string& text) {
    return text.empty() ? std::string("[unknown]") : text;
}

// The prompt identifier; `rest` is the text after "?". Tokens of a quoted title are removed.
EvalResult Prompt(EvalContext& ctx, TokenList& tokens, size_t i, size_t& end, std::string_view rest,
                  char prefix, std::string& value) {
    std::string title;
    std::optional<std::string> found;
    size_t used = 0;
    int64_t n = LeadingNumber(rest, used);
    if (used > 0 && n > 0) {
        if (static_cast<size_t>(n) < ctx.count() && !ctx.params[n].empty()) found = ctx.params[n];
        rest.remove_prefix(used);
    } else if (!rest.empty() && rest[0] == '#') {
        const WindowRecord* r = RecordOf(ctx.window);
        if (r && r->kind == kKindChannel)
            found = r->name;
        else
            title = "Enter channel name:";
        rest.remove_prefix(1);
    }
    size_t eq = rest.find('=');
    if (eq != std::string_view::npos && eq + 1 < rest.size() && rest[eq + 1] == '"') {
        int last = extractquotesfl(tokens, i, title);
        if (last < 0) return EvalResult::kValue;  // broken title: no value
        size_t drop = static_cast<size_t>(last) - i;
        tokens.erase(tokens.begin() + i + 1, tokens.begin() + i + 1 + drop);
        end -= drop;
        if (title.empty()) return EvalResult::kValue;
    }
    if (!found) {
        const ScriptHooks& h = Script().hooks;
        if (!h.prompt) {
            if (CurrentFrontend().message_box)
                CurrentFrontend().message_box("System Error", "Unable to display dialog");
            return EvalResult::kAbandon;
        }
        found = h.prompt(title);
        if (!found || found->empty()) return EvalResult::kValue;
    }
    value = WithPrefix(*found, prefix);
    if (value.size() > kLineLimit) value.resize(kLineLimit);
    Script().lastprompt = value;
    return EvalResult::kValue;
}

// A $-identifier; `s` is the whole token.
EvalResult Identifier(EvalContext& ctx, TokenList& tokens, size_t i, size_t& end, bool second_pass,
                      std::string& value, bool& expanded) {
    const std::string s = tokens[i].text;
    char prefix = 0;
    size_t p = 0;
    if (s[0] == '#' || s[0] == '&') {
        prefix = s[0];
        p = 1;
    }
    if (prefix && s.size() == 2) return EvalResult::kValue;  // "#$" and "&$" give nothing
    if (s == "$" || s == "$$") {
        value = s;
        return EvalResult::kValue;
    }
    bool required = p + 1 < s.size() && s[p + 1] == '$';
    std::string_view name = std::string_view(s).substr(p + (required ? 2 : 1));
    auto is = [&](std::string_view id) { return StartsNoCase(name, id); };
    auto then_rest = [&](std::string v, size_t len) {
        value = std::move(v) + std::string(name.substr(len));
    };
    bool deferred = is("read") || is("dde") || is("file") || is("hfile") || is("dir");

    if (is("!")) {
        value = name.size() == 1 ? Script().lastprompt
                                 : std::string(required ? "$$" : "$") + std::string(name.substr(1));
    } else if (is("cb")) {
        std::string clip = Script().hooks.clipboard ? Script().hooks.clipboard() : std::string();
        clip = clip.substr(0, clip.find_first_of("\r\n"));
        if (clip.size() > 256) clip.resize(256);
        if (!clip.empty()) then_rest(clip, 2);
    } else if (is("r(")) {
        value = RandomValue(name.substr(2));
    } else if (is("snicks")) {
        value = SelectedNicks(ctx.window);
    } else if (is("pnick")) {
        value = Script().pnick;
    } else if (is("url")) {
        value = BrowserUrl();
    } else if (is("ip")) {
        then_rest(Known(Options().szsip), 2);
    } else if (is("host")) {
        then_rest(Known(Options().szLocalHost), 4);
    } else if (is("server")) {
        const Connection& c = Conn();
        then_rest(Known(c.Connected || c.Connecting ? c.szCHN : std::string()), 6);
    } else if (is("day")) {
        then_rest(rday(), 3);
    } else if (is("date")) {
        then_rest(rdate(0), 4);
    } else if (is("adate")) {
        then_rest(rdate(1), 5);
    } else if (is("fulldate")) {
        then_rest(rfulldate(), 8);
    } else if (is("time")) {
        then_rest(rtime(), 4);
    } else if (is("me")) {
        // Before the server has welcomed us, the nickname we log on with.
        std::string me = CurrentNickname().empty() ? LogonNickname() : CurrentNickname();
        if (!me.empty()) then_rest(me, 2);
    } else if (is("*")) {
        value = std::string(kMultiMarker) + std::string(name.substr(1));
        ctx.multi = true;
    } else if (is("?")) {
        EvalResult r = Prompt(ctx, tokens, i, end, name.substr(1), prefix, value);
        if (r != EvalResult::kValue) return r;
    } else if (!name.empty() && IsDigit(name[0])) {
        evaluate(name, value, ctx.params, prefix);
    } else if (deferred) {
        if (!second_pass) return EvalResult::kDeferred;
        EvalResult r = EvaluateDeferred(ctx, tokens, i, end, name, value, expanded);
        if (r != EvalResult::kValue || expanded) return r;
    } else if (ctx.remote && Script().hooks.parse) {
        if (!Script().hooks.parse(s, ctx.event, value)) return EvalResult::kAbandon;
    } else {
        value = s;
    }
    if (required && value.empty()) return EvalResult::kAbandon;
    return EvalResult::kValue;
}

}  // namespace

bool evaluate(std::string_view token, std::string& out, const Args& params, char prefix) {
    size_t used = 0;
    int64_t n = LeadingNumber(token, used);
    if (used == 0 || n < 1 || static_cast<size_t>(n) >= params.size() || params[n].empty())
        return false;
    out += WithPrefix(params[n], prefix);
    size_t last = token.find_last_of("0123456789");
    out += token.substr(last + 1);
    return true;
}

bool evaluaterange(std::string_view token, std::string& out, const Args& params) {
    if (token == "*") {
        out += '*';
        return true;
    }
    std::string_view range_text = token.substr(1);
    if (range_text.find_first_not_of("0123456789-") != std::string_view::npos) {
        out += token;
        return true;
    }
    size_t used = 0;
    int64_t first = LeadingNumber(range_text, used);
    if (first <= 0) return false;
    int64_t last = 0;
    size_t dash = range_text.find('-');
    if (dash != std::string_view::npos) last = LeadingNumber(range_text.substr(dash + 1), used);
    bool any = false;
    for (int64_t n = first; static_cast<size_t>(n) < params.size() && !params[n].empty(); ++n) {
        if (last > 0 && n > last) break;
        if (any) out += ' ';
        out += params[n];
        any = true;
    }
    return any;
}

EvalResult EvaluateToken(EvalContext& ctx, TokenList& tokens, size_t i, size_t& end,
                         bool second_pass, std::string& value, bool& expanded) {
    value.clear();
    expanded = false;
    const std::string& s = tokens[i].text;
    if (s == "#") {
        const WindowRecord* r = RecordOf(ctx.window);
        if (!r || r->kind != kKindChannel) return EvalResult::kAbandon;
        value = r->name;
        return EvalResult::kValue;
    }
    bool identifier = s[0] == '$' || ((s[0] == '#' || s[0] == '&') && s.size() > 1 && s[1] == '$');
    if (identifier) return Identifier(ctx, tokens, i, end, second_pass, value, expanded);
    if (s[0] == '%' && s.size() > 1) {
        size_t prev = i;
        if (prev > 0 && EqualNoCase(Word(tokens[prev - 1]), "-q")) --prev;
        if (prev > 0) {
            std::string_view before = Word(tokens[prev - 1]);
            if (EqualNoCase(before, "/set") || EqualNoCase(before, "/unset") ||
                EqualNoCase(before, "/inc") || EqualNoCase(before, "/dec")) {
                value = s;
                return EvalResult::kValue;
            }
        }
        return getvar(s, value) ? EvalResult::kValue : EvalResult::kAbandon;
    }
    if (s[0] == '*') {
        evaluaterange(s, value, ctx.params);
        return EvalResult::kValue;
    }
    if (ctx.remote && Script().hooks.parse)
        return Script().hooks.parse(s, ctx.event, value) ? EvalResult::kValue
                                                         : EvalResult::kAbandon;
    value = s;
    return EvalResult::kValue;
}

std::string rday() {
    static const char* const kDays[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                        "Thursday", "Friday", "Saturday"};
    return kDays[LocalNow().tm_wday % 7];
}

std::string rdate(int form) {
    std::tm tm = LocalNow();
    char buf[48];
    if (form == 0)
        std::snprintf(buf, sizeof buf, "%d/%02d/%02d", tm.tm_mday, tm.tm_mon + 1, tm.tm_year);
    else
        std::snprintf(buf, sizeof buf, "%d/%02d/%02d", tm.tm_mon + 1, tm.tm_mday, tm.tm_year);
    return buf;
}

std::string rtime() {
    std::tm tm = LocalNow();
    char buf[32];
    std::snprintf(buf, sizeof buf, "%d:%02d:%02d", tm.tm_hour, tm.tm_min, tm.tm_sec);
    return buf;
}

std::string rfulldate() {
    std::tm tm = LocalNow();
    char buf[64];
    std::strftime(buf, sizeof buf, "%a %b %e %H:%M:%S %Y", &tm);
    return buf;
}

}  // namespace chat
