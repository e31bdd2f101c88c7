#include "chat/script/input_parser.h"

#include <cctype>
#include <deque>

#include "chat/core/frame.h"
#include "chat/core/handoff.h"
#include "chat/core/nick_history.h"
#include "chat/core/session/session_state.h"
#include "chat/core/windows/window_log.h"
#include "chat/core/windows/window_print.h"
#include "chat/core/windows/window_table.h"
#include "chat/script/address_requests.h"
#include "chat/script/auto_op.h"
#include "chat/script/commands.h"
#include "chat/script/identifiers.h"
#include "chat/script/messaging.h"
#include "chat/script/program_hooks.h"
#include "chat/script/remote_scripts.h"
#include "chat/script/remote_users.h"
#include "chat/script/script_editors.h"
#include "chat/script/script_settings.h"
#include "chat/script/script_state.h"
#include "chat/script/timers.h"

namespace chat {
namespace {

// The separator between commands on lines that may hold several.
constexpr std::string_view kSeparator = " | ";
// The marker in front of the parameter text of a line.
constexpr std::string_view kParamMarker = ":$:";
// Longest token text a chain of join markers may build: one more than fits any line, so that
// the join drops it instead of the chain growing without bound.
constexpr size_t kMaxJoinedToken = kMaxCommandLine + 2;

std::string_view SkipBlanks(std::string_view text) {
    size_t first = text.find_first_not_of(' ');
    return first == std::string_view::npos ? std::string_view() : text.substr(first);
}

void Upper(std::string& word) {
    for (char& c : word) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
}

// Stores the value of token i; a join marker before it glues the value to the token before the
// marker, which becomes the current token.
void Store(TokenList& t, size_t& i, size_t& end, std::string value) {
    bool joinable = i >= 2 && t[i - 1].state == kTokenJoin &&
                    (t[i - 2].state == kTokenValue || t[i - 2].state == kTokenEmpty);
    if (!joinable) {
        t[i].state = value.empty() ? kTokenEmpty : kTokenValue;
        t[i].text = value.empty() ? std::string() : " " + value;
        return;
    }
    Token& prev = t[i - 2];
    if (prev.state == kTokenEmpty && !value.empty()) {
        prev.state = kTokenValue;
        prev.text = " ";
    }
    size_t room = prev.text.size() < kMaxJoinedToken ? kMaxJoinedToken - prev.text.size() : 0;
    prev.text.append(value, 0, std::min(room, value.size()));
    t.erase(t.begin() + (i - 1), t.begin() + (i + 1));
    end -= 2;
    i -= 2;
}

// Both evaluation passes over the command that starts at the head; `end` receives the index
// of its separator (or the list size). False abandons the line.
bool EvaluateCommand(EvalContext& ctx, TokenList& t, size_t& end) {
    for (;;) {
        end = t.size();
        for (size_t i = 0; i < end; ++i) {
            if (t[i].state != kTokenRaw) continue;
            if (t[i].text == "|") {
                end = i;
                break;
            }
            if (t[i].text.starts_with("$+")) {
                if (i > 0 && t[i - 1].state == kTokenJoin) {
                    t.erase(t.begin() + i);
                    --i;
                    --end;
                } else {
                    t[i].state = kTokenJoin;
                }
                continue;
            }
            std::string value;
            bool expanded = false;
            EvalResult r = EvaluateToken(ctx, t, i, end, false, value, expanded);
            if (r == EvalResult::kAbandon) return false;
            if (r == EvalResult::kValue) Store(t, i, end, std::move(value));
        }
        bool expanded = false;
        for (size_t i = 0; i < end && !expanded; ++i) {
            if (t[i].state != kTokenRaw) continue;
            std::string value;
            EvalResult r = EvaluateToken(ctx, t, i, end, true, value, expanded);
            if (r == EvalResult::kAbandon) return false;
            if (r == EvalResult::kValue && !expanded) Store(t, i, end, std::move(value));
        }
        if (!expanded) return true;
    }
}

// Joins the values of the command before `end` and removes it (and its separator) from the
// list. A value that would make the line too long is dropped with every later one.
std::string JoinCommand(TokenList& t, size_t end) {
    std::string line;
    bool full = false;
    for (size_t i = 0; i < end; ++i) {
        if (t[i].state != kTokenValue) continue;
        if (!full && line.size() + t[i].text.size() <= kMaxCommandLine)
            line += t[i].text;
        else
            full = true;
    }
    t.erase(t.begin(), t.begin() + std::min(t.size(), end + 1));
    return std::string(SkipBlanks(line));
}

// Opens the help file that shadows a command, when there is one. Only names of letters and
// digits are looked up, so a command word never reaches outside the help folder.
bool IsHelpItem(const Args& args) {
    std::string_view word = args[0];
    if (!word.empty() && word[0] == '/') word.remove_prefix(1);
    if (word.empty()) return false;
    for (char c : word)
        if (!std::isalnum(static_cast<unsigned char>(c))) return false;
    const ScriptState& s = Script();
    if (s.help_dir.empty()) return false;
    std::string name(word);
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::string path = s.help_dir + name + ".hlp";
    std::FILE* f = std::fopen(path.c_str(), "r");
    if (!f) return false;
    std::fclose(f);
    if (s.hooks.show_help) s.hooks.show_help(path, Arg(args, 1));
    return true;
}

Args MakeArgs(std::string_view line) {
    Args args = SplitWords(line, kMaxTokens360);
    if (!args.empty()) Upper(args[0]);
    return args;
}

// Runs the evaluated command line; with the multi-command marker once per parameter.
int Dispatch(WindowId window, const std::string& line, EvalContext& ctx) {
    bool multi = ctx.multi;
    ctx.multi = false;
    Args args = MakeArgs(line);
    if (args.empty()) return 0;
    if (IsHelpItem(args)) return 1;
    if (!multi) return RunCommand(window, args, ctx.remote);
    for (size_t n = 1;; ++n) {
        if (n >= ctx.count() || ctx.params[n].empty()) return 0;
        Args repeated = MakeArgs(line);
        for (std::string& word : repeated)
            if (word.starts_with(kMultiMarker)) word = ctx.params[n];
        if (!RunCommand(window, repeated, ctx.remote)) return 0;
    }
}

// A line run while another waits (a timer or an event during a prompt) starts with its own
// prompt value and $read count, and the waiting line gets its own back afterwards.
struct LineScope {
    ScriptState& s;
    std::string prompt;
    int depth;
    explicit LineScope(ScriptState& state)
        : s(state), prompt(std::move(state.lastprompt)), depth(state.read_depth) {
        s.lastprompt.clear();
        s.read_depth = 0;
    }
    ~LineScope() {
        s.lastprompt = std::move(prompt);
        s.read_depth = depth;
    }
};

}  // namespace

void parseinput(WindowId window, std::string_view line, int origin, int event) {
    ScriptState& s = Script();
    LineScope scope(s);
    if (line.size() > kLineLimit - 1) line = line.substr(0, kLineLimit - 1);
    std::string_view text = SkipBlanks(line);
    if (text.empty()) return;
    bool sequence =
        (origin == kOriginPerform || origin == kOriginParams || origin == kOriginRemote) &&
        (text[0] == '/' || text[0] == s.xCOMMANDCHAR);
    if (!sequence) {
        parseinput2(window, line, origin, event);
        return;
    }
    std::string_view params;
    if (origin != kOriginPerform) {
        size_t marker = text.find(kParamMarker);
        if (marker != std::string_view::npos) {
            params = text.substr(marker + kParamMarker.size());
            text = text.substr(0, marker);
        }
    }
    while (!text.empty()) {
        size_t bar = text.find(kSeparator);
        std::string piece(text.substr(0, bar));
        text = bar == std::string_view::npos ? std::string_view() : text.substr(bar + 3);
        if (!params.empty()) {
            piece += kParamMarker;
            piece += params;
        }
        if (!parseinput2(window, piece, origin, event)) return;
    }
}

int parseinput2(WindowId window, std::string_view input, int origin, int event) {
    ScriptState& s = Script();
    std::string_view text = SkipBlanks(input);
    if (text.empty()) return 1;
    std::string lead(input.substr(0, input.size() - text.size()));
    std::string line(text.substr(0, kLineLimit));
    if (s.dodebuglogging) AppendDebugLog(line);
    bool remote = origin == kOriginRemote || origin == kOriginFileServer;
    if (origin == kOriginRemote) origin = kOriginParams;
    if (origin == kOriginFileServer) origin = kOriginTyped;
    if (line[0] == s.xCOMMANDCHAR) line[0] = '/';
    if (origin == kOriginPlay || (line[0] != '/' && !StartsNoCase(line, "$read"))) {
        if (lead.size() > 100) lead.resize(100);
        return donormalmessage(window, lead + line, remote);
    }
    std::string params;
    if (origin == kOriginParams) {
        size_t marker = line.find(kParamMarker);
        if (marker != std::string::npos) {
            params = line.substr(marker + kParamMarker.size(), kLineLimit);
            line.resize(marker);
        }
    }
    // Alias look-up: the first definition that begins with the command word and a blank.
    std::string head = line.substr(0, line.find(' ')) + " ";
    bool alias = false;
    for (const Line& def : s.szals) {
        if (!StartsNoCase(def.text, head)) continue;
        std::string_view words = SkipBlanks(std::string_view(line).substr(head.size() - 1));
        if (!words.empty()) {
            if (!params.empty()) params += ' ';
            params += words;
        }
        size_t blank = def.text.find(' ');
        line = blank == std::string::npos ? def.text : def.text.substr(blank + 1);
        alias = true;
        break;
    }
    EvalContext ctx;
    ctx.window = window;
    ctx.remote = remote;
    ctx.event = event;
    if (!alias && origin == kOriginTyped) {
        Args args = MakeArgs(line);
        if (args.empty()) return 0;
        if (IsHelpItem(args)) return 1;
        return RunCommand(window, args, remote);
    }
    ctx.params.push_back(std::string());
    for (std::string& p : SplitWords(params, kMaxParams)) ctx.params.push_back(std::move(p));
    struct ParamsScope {
        std::string& slot;
        std::string saved;
        ParamsScope(std::string& s, std::string now) : slot(s), saved(std::move(s)) {
            slot = std::move(now);
        }
        ~ParamsScope() { slot = std::move(saved); }
    } params_scope(s.current_params, JoinFrom(ctx.params, 1));
    TokenList tokens = tokenize(line);
    while (!tokens.empty()) {
        size_t end = 0;
        if (!EvaluateCommand(ctx, tokens, end)) return 0;
        std::string command = JoinCommand(tokens, end);
        if (command.empty()) continue;
        if (!Dispatch(window, command, ctx)) return 0;
    }
    return 1;
}

void EnteredLine(WindowId window, std::string_view line) {
    ScriptState& s = Script();
    int slot = findhwnd(window);
    if (line == "/" || line == "/!") {
        // These recall earlier entries; the history keeps neither of them.
        if (slot >= 0) {
            std::deque<std::string>& h = Windows().ch[slot].history;
            std::erase_if(h, [](const std::string& e) { return e == "/" || e == "/!"; });
        }
        if (line == "/") {
            if (slot >= 0) showprevbuf(slot);
        } else if (s.lastline.empty()) {
            Beep();
        } else if (CurrentFrontend().set_input) {
            CurrentFrontend().set_input(window, s.lastline);
        }
        return;
    }
    if (line.empty()) return;
    ResetLastNicks();
    s.lastline = std::string(line.substr(0, kLineLimit - 1));
    Session().last_keypress_s = SessionWallSeconds();
    if (slot >= 0) {
        addtolbuf(slot, line);
        if (StartsNoCase(Windows().ch[slot].name, "Message Window") && CurrentFrontend().set_input)
            CurrentFrontend().set_input(window, "/msg ");
    }
    parseinput(window, line, kOriginTyped, 0);
}

void InstallScript() {
    static bool ticking = false;
    if (!ticking) Frame().each_second.push_back(UnbanTick);
    ticking = true;
    SetInputHandler(EnteredLine);
    InstallProgramHooks();
    InstallUserCommands();
    InstallRemoteScripts();
    InstallTimers();
    InstallAutoOp();
    InstallScriptSettings();
    InstallScriptEditors();
}

}  // namespace chat
