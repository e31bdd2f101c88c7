#include "chat/script/remote_scripts.h"

#include <cctype>
#include <cstdlib>

#include "chat/core/options.h"
#include "chat/core/session/nick_list.h"
#include "chat/core/session/server_parser.h"
#include "chat/core/session/session_state.h"
#include "chat/core/wildcard.h"
#include "chat/core/windows/window_print.h"
#include "chat/core/windows/window_table.h"
#include "chat/script/commands.h"
#include "chat/script/input_parser.h"
#include "chat/script/messaging.h"
#include "chat/script/remote_users.h"
#include "chat/script/script_state.h"

namespace chat {
namespace {

// Commands the scripts may nest: an event command that causes another event on the spot
// (a message to oneself) is run at most this deep.
constexpr int kMaxNesting = 4;

std::vector<const RemoteEvent*>& Running() {
    static std::vector<const RemoteEvent*> running;
    return running;
}

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string_view Trim(std::string_view text) {
    size_t first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

bool IsTextEvent(std::string_view name) {
    return name == "text" || name == "action" || name == "notice" || name == "snotice" ||
           name == "chat" || name == "serv";
}

bool IsModeEvent(std::string_view name) {
    return name == "mode" || name == "servermode";
}

// The next ":"-separated field; the rest stays in `line`.
std::string_view Field(std::string_view& line) {
    size_t colon = line.find(':');
    std::string_view field = line.substr(0, colon);
    line = colon == std::string_view::npos ? std::string_view() : line.substr(colon + 1);
    return field;
}

// A group line: '#name start', '#name disabled' or '#name end'.
bool GroupLine(std::string_view line, std::string& name, std::string& word) {
    if (line.empty() || line[0] != '#') return false;
    size_t blank = line.find(' ');
    if (blank == std::string_view::npos) return false;
    name = Lower(line.substr(0, blank));
    std::string_view rest = line.substr(blank + 1);
    size_t end = rest.find(' ');
    word = Lower(rest.substr(0, end));
    return word == "start" || word == "disabled" || word == "end";
}

bool OperatorOn(std::string_view channel) {
    WindowId w = ChannelWindowByName(channel);
    int slot = w ? findhwnd(w) : -1;
    return slot >= 0 && user(CurrentNickname(), slot, 2, 0) == kOperator;
}

bool Compare(std::string_view signs, int acting, int subject) {
    if (signs.empty() || acting <= 0) return true;
    if (signs == ">=" || signs == "=>") return acting >= subject;
    if (signs == "<=" || signs == "=<") return acting <= subject;
    if (signs == "<>" || signs == "><") return acting != subject;
    if (signs == ">") return acting > subject;
    if (signs == "<") return acting < subject;
    if (signs == "=") return acting == subject;
    return true;
}

// The nick whose own-ness the "!" prefix and the level look-up concern.
const std::string& Concerned(const RemoteEvent& e) {
    if (e.name == "kick" || e.name == "op" || e.name == "serverop" || e.name == "deop" ||
        e.name == "nick")
        return e.subject.empty() ? e.nick : e.subject;
    return e.nick;
}

std::string JoinParams(const Args& params, size_t first, size_t last) {
    std::string out;
    for (size_t n = first; n < params.size() && n <= last; ++n) {
        if (params[n].empty()) break;
        if (!out.empty()) out += ' ';
        out += params[n];
    }
    return out;
}

void SetParams(RemoteEvent& e, std::string_view text) {
    e.params.assign(1, std::string());
    for (std::string& w : SplitWords(text, kMaxParams)) e.params.push_back(std::move(w));
}

// Runs a matched entry's command for the event, its parameters after the marker.
void RunEntry(const RemoteEvent& e, const std::string& command, const std::string& params) {
    if (command.empty()) return;
    std::string line = command;
    if (!params.empty()) line += ":$:" + params;
    Running().push_back(&e);
    parseinput(StatusWin(), line, kOriginRemote, e.code);
    Running().pop_back();
}

void StackExceeded() {
    Print(StatusWin(), "* Remote: stack exceeded! command halted!", 3);
}

// The requests named after ":>", in turn: each is matched in the commands script like a CTCP
// request of the same user (a name alone keeps the event's parameters) and its command run;
// the names a chained entry adds run before the rest.
void RunChain(const RemoteEvent& e, std::string stack) {
    if (stack.size() > kMaxChainStack) return StackExceeded();
    for (int runs = 0; !stack.empty();) {
        size_t sep = stack.find(":>");
        std::string request(Trim(std::string_view(stack).substr(0, sep)));
        stack = sep == std::string::npos
                    ? std::string()
                    : std::string(Trim(std::string_view(stack).substr(sep + 2)));
        if (request.empty()) continue;
        if (++runs > kMaxChainRuns) return StackExceeded();
        RemoteEvent chained = e;
        chained.code = 0;
        size_t blank = request.find(' ');
        chained.name = request.substr(0, blank);
        if (blank != std::string::npos) {
            chained.cd = std::string(Trim(std::string_view(request).substr(blank + 1)));
            SetParams(chained, chained.cd);
        }
        // A chained "DO" never runs what the request carried: the chain is not a request.
        ScriptMatch m = MatchScript(chained);
        if (!m.matched) continue;
        if (!m.chain.empty()) stack = stack.empty() ? m.chain : m.chain + " :> " + stack;
        if (stack.size() > kMaxChainStack) return StackExceeded();
        RunEntry(chained, m.command, m.params);
    }
}

void RunDo(const RemoteEvent& e) {
    std::string carried = e.cd.substr(0, kMaxCommandLine);
    if (carried.empty()) return;
    Running().push_back(&e);
    parseinput(StatusWin(), carried, kOriginRemote, 0);
    Running().pop_back();
}

// One group-name argument of /enable and /disable, in small letters with its "#".
std::string GroupName(std::string_view word) {
    std::string name = Lower(word);
    if (name.empty() || name[0] != '#') name.insert(name.begin(), '#');
    return name;
}

int doenable(WindowId w, const Args& a, bool) {
    bool enable = a[0] == "/ENABLE";
    std::vector<std::string> names;
    for (size_t i = 1; i < a.size() && !a[i].empty(); ++i) names.push_back(GroupName(a[i]));
    if (names.empty()) {
        Print(w, enable ? "*** Invalid /enable parameters" : "*** Invalid /disable parameters", 1);
        return 0;
    }
    if (SwitchGroups(names, enable) == 0)
        Print(w, "*** No groups needed to be changed", 1);
    else
        Print(w, enable ? "*** Group(s) enabled" : "*** Group(s) disabled", 1);
    return 1;
}

int dogroups(WindowId w, const Args& a, bool) {
    const std::string& option = Arg(a, 1);
    int only = EqualNoCase(option, "-e") ? 1 : EqualNoCase(option, "-d") ? 2 : 0;
    for (bool commands : {true, false}) {
        std::string what = commands ? "Commands:" : "Events:";
        Print(w,
              std::string(only == 1   ? "* Enabled "
                          : only == 2 ? "* Disabled "
                                      : "* In ") +
                  what,
              1);
        bool any = false;
        for (const auto& [name, enabled] : ScriptGroups(commands)) {
            if ((only == 1 && !enabled) || (only == 2 && enabled)) continue;
            Print(w, " " + name, 1);
            any = true;
        }
        if (!any) Print(w, " [none]", 1);
    }
    return 1;
}

// The key a channel has once the mode line being handled is applied: the modes last shown
// for the channel, changed by this line's letters and arguments.
std::string ChannelKey(const std::string& channel, const CurrentEvent& c) {
    WindowId w = ChannelWindowByName(channel);
    const WindowRecord* r = w ? RecordOf(w) : nullptr;
    std::vector<std::string> args;
    const TokenizedLine& line = Current().line;
    if (line.tk.size() > 4 && EqualNoCase(line.tk[1], "mode") && EqualNoCase(line.tk[2], channel) &&
        line.tk[3] == c.arg)
        args.assign(line.tk.begin() + 4, line.tk.end());
    return KeyAfterModes(r ? r->modes : std::string(), c.arg, args);
}

// The server parser's event as the scripts name it; false when it is not to be scripted.
bool FromServerEvent(const CurrentEvent& c, RemoteEvent& e) {
    e.code = c.code;
    e.nick = c.nick;
    e.userhost = c.userhost;
    const std::string& cmd = c.command;
    bool from_server = c.userhost.empty() && c.nick.find('.') != std::string::npos;
    std::string in_channel = IsChannelName(c.target) ? c.target : std::string();
    if (cmd == "privmsg") {
        e.chan = in_channel;
        e.text = c.text;
        std::string_view t = e.text;
        if (t.starts_with("\x01"
                          "ACTION")) {
            e.name = "action";
            t.remove_prefix(7);
            if (!t.empty() && t[0] == ' ') t.remove_prefix(1);
            if (!t.empty() && t.back() == '\x01') t.remove_suffix(1);
            e.text = std::string(t);
        } else {
            e.name = "text";
        }
    } else if (cmd == "notice") {
        e.name = from_server ? "snotice" : "notice";
        e.chan = in_channel;
        e.text = c.text;
    } else if (cmd == "kick") {
        e.name = "kick";
        e.chan = c.target;
        e.subject = c.arg;
        e.text = c.text;
        if (e.subject.empty()) return false;
    } else if (cmd == "mode") {
        e.name = from_server ? "servermode" : "mode";
        e.chan = in_channel;
        e.modes = c.arg;
        if (IsMe(c.nick)) return false;
        e.key = ChannelKey(e.chan, c);
    } else if (cmd == "nick") {
        e.name = "nick";
        e.subject = c.target.empty() ? c.text : c.target;
    } else if (cmd == "join") {
        e.name = "join";
        e.chan = c.target.empty() ? c.text : c.target;
    } else if (cmd == "invite") {
        e.name = "invite";
        e.chan = c.text.empty() ? c.arg : c.text;
    } else {
        e.name = cmd;
        e.chan = in_channel;
        e.text = c.text;
    }
    if (e.name != "snotice" && IsChannelName(e.nick)) return false;
    if (e.code < 9 && e.name != "snotice" && e.userhost.empty()) return false;
    SetParams(e, e.name == "kick" ? c.text : e.text);
    return true;
}

int PerformHook(const CurrentEvent& c) {
    if (!Options().lfe) return 1;
    RemoteEvent e;
    if (!FromServerEvent(c, e)) return 1;
    int suppress = 0;
    if (e.name == "mode" || e.name == "servermode") {
        // The mode event first, then the operator grants and removals of the same line.
        suppress |= dolfc(e);
        ChatSession& s = Session();
        for (bool given : {true, false}) {
            const std::vector<std::string> nicks = given ? s.op_nicks : s.deop_nicks;
            for (const std::string& nick : nicks) {
                RemoteEvent op = e;
                op.code = given ? kEventOp : kEventDeop;
                op.name = given ? (e.name == "servermode" ? "serverop" : "op") : "deop";
                op.subject = nick;
                suppress |= dolfc(op);
            }
        }
        return suppress ? 0 : 1;
    }
    return dolfc(e) ? 0 : 1;
}

bool CtcpHook(const CurrentEvent& c) {
    RemoteEvent e;
    e.code = 0;
    e.nick = c.nick;
    e.userhost = c.userhost;
    e.chan = IsChannelName(c.target) ? c.target : std::string();
    std::string_view inner = c.text;
    while (!inner.empty() && inner[0] == '\x01') inner.remove_prefix(1);
    size_t end = inner.find('\x01');
    if (end != std::string_view::npos) inner = inner.substr(0, end);
    size_t blank = inner.find(' ');
    e.name = std::string(inner.substr(0, blank));
    e.cd = blank == std::string_view::npos ? std::string() : std::string(inner.substr(blank + 1));
    SetParams(e, e.cd);
    if (e.name.empty()) return false;
    return dolfc(e) != 0;
}

}  // namespace

std::string KeyAfterModes(std::string_view known, std::string_view change,
                          const std::vector<std::string>& args) {
    std::string key;
    // Walks mode letters with their arguments; a "+k" takes its key, a "-k" drops it.
    auto apply = [&key](std::string_view letters, const std::vector<std::string>& values,
                        size_t next) {
        bool plus = true;
        for (char m : letters) {
            if (m == '+' || m == '-') {
                plus = m == '+';
                continue;
            }
            bool takes = ModeTakesArgument(m, plus);
            std::string value = takes && next < values.size() ? values[next] : std::string();
            if (takes) ++next;
            if (m == 'k') key = plus ? value : std::string();
        }
    };
    if (!known.empty() && known.front() == '[') known.remove_prefix(1);
    if (!known.empty() && known.back() == ']') known.remove_suffix(1);
    std::vector<std::string> shown = SplitWords(known, kMaxParams);
    if (!shown.empty()) apply(shown[0], shown, 1);
    apply(change, args, 0);
    return key.substr(0, kMaxCommandLine);
}

std::vector<std::string> ModeEntryLines(std::string_view channel, std::string_view modes,
                                        std::string_view key) {
    std::vector<std::string> words = SplitWords(modes, kMaxParams);
    std::vector<std::string> lines;
    if (words.empty()) return lines;
    std::vector<std::string> args(words.begin() + 1, words.end());
    size_t needed = 0;
    bool plus = true;
    for (char m : words[0]) {
        if (m == '+' || m == '-')
            plus = m == '+';
        else if (ModeTakesArgument(m, plus))
            ++needed;
    }
    // Removing a key needs the key itself, which an entry written for any channel leaves out.
    bool sets_key = false;
    size_t next = 0;
    plus = true;
    for (char m : words[0]) {
        if (m == '+' || m == '-') {
            plus = m == '+';
            continue;
        }
        if (m == 'k' && plus) sets_key = true;
        if (m == 'k' && !plus && args.size() < needed && !key.empty())
            args.insert(args.begin() + static_cast<std::ptrdiff_t>(std::min(next, args.size())),
                        std::string(key));
        if (ModeTakesArgument(m, plus)) ++next;
    }
    std::string prefix = "MODE " + std::string(channel) + " ";
    if (sets_key && !key.empty()) lines.push_back(prefix + "-k " + std::string(key));
    std::string line = prefix + words[0];
    for (const std::string& a : args) line += " " + a;
    lines.push_back(std::move(line));
    return lines;
}

ScriptMatch MatchScript(const RemoteEvent& e) {
    ScriptMatch best;
    const bool ctcp = e.code == 0;
    const LineList& script = ctcp ? Script().szcmds : Script().szevents;
    const bool operator_event =
        e.name == "kick" || e.name == "op" || e.name == "serverop" || e.name == "deop";
    const std::string& concerned = Concerned(e);
    std::vector<Level> levels = RequesterLevels(concerned, e.nick == concerned ? e.userhost : "");
    int acting = operator_event ? flevel(e.nick, e.userhost) : 0;
    int best_level = 0;
    bool in_group = false, group_on = true;
    std::string group, lowered_text = Lower(e.text);
    for (const Line& l : script) {
        std::string_view line = l.text;
        std::string name, word;
        if (GroupLine(line, name, word)) {
            if (!in_group && word != "end") {
                in_group = true;
                group = name;
                group_on = word == "start";
            } else if (in_group && word == "end" && name == group) {
                in_group = false;
                group_on = true;
            }
            continue;
        }
        if (IsRemoteComment(line) || (in_group && !group_on)) continue;
        if (line.size() >= 3 && EqualNoCase(line.substr(0, 3), "me:")) {
            if (!IsMe(e.nick)) continue;
            line.remove_prefix(3);
        }
        std::string_view level_field = Field(line);
        std::string signs;
        bool exact = false, not_me = false, need_op = false;
        int n = 0;
        for (size_t i = 0; i < level_field.size(); ++i) {
            char ch = level_field[i];
            if (ch == '+')
                exact = true;
            else if (ch == '!')
                not_me = true;
            else if (ch == '*')
                need_op = true;
            else if (ch == '<' || ch == '>' || ch == '=')
                signs += ch;
            else if (std::isdigit(static_cast<unsigned char>(ch))) {
                n = std::atoi(std::string(level_field.substr(i, 9)).c_str());
                break;
            }
        }
        if (n <= 0 || n <= best_level) continue;
        if (operator_event && !Compare(signs, acting, levels[0].number)) continue;
        if (!LevelFits(levels, n, exact)) continue;
        std::string_view entry_name = Field(line);
        if (entry_name.size() > 3 && EqualNoCase(entry_name.substr(0, 3), "on "))
            entry_name.remove_prefix(3);
        if (entry_name != "*" && !EqualNoCase(entry_name, e.name)) continue;
        std::string_view command;
        if (!ctcp) {
            if (not_me && IsMe(concerned)) continue;
            if (need_op && !OperatorOn(e.chan)) continue;
            std::string_view pattern;
            if (IsTextEvent(Lower(e.name))) pattern = Field(line);
            std::string_view where = Field(line);
            if (where == "#") {
                if (e.chan.empty()) continue;
            } else if (where != "*") {
                if (IsChannelName(where) ? !EqualNoCase(where, e.chan) : !e.chan.empty()) continue;
            }
            if (!pattern.empty() && pattern != "*" && !findmatch(lowered_text, pattern)) continue;
            if (IsModeEvent(Lower(e.name))) {
                std::string_view modes = Field(line);
                if (!modes.empty() && !e.chan.empty())
                    for (const std::string& out : ModeEntryLines(e.chan, modes, e.key))
                        SendLine(out, true);
                if (line.empty()) break;
            }
        }
        command = line;
        best_level = n;
        if (command == "=") {
            best = ScriptMatch{};
            continue;
        }
        best.matched = true;
        best.suppress = true;
        best.carried = false;
        best.params = JoinParams(e.params, 1, kMaxParams);
        if (!command.empty() && command[0] == '!') {
            best.command = std::string(command.substr(1));
            break;
        }
        best.command = std::string(command);
        best.carried = ctcp && EqualNoCase(e.name, "DO") && Options().ctcp_do;
    }
    if (!best.matched) return best;
    std::string& cmd = best.command;
    size_t cut = cmd.find('\x01');
    if (cut != std::string::npos) cmd.resize(cut);
    if (cmd.ends_with(":>")) {
        cmd.resize(cmd.size() - 2);
        best.suppress = false;
    } else if (cmd.ends_with(":!")) {
        cmd.resize(cmd.size() - 2);
    }
    size_t chain = cmd.find(":>");
    if (chain != std::string::npos) {
        best.chain = std::string(Trim(std::string_view(cmd).substr(chain + 2)));
        cmd.resize(chain);
        while (!cmd.empty() && cmd.back() == ' ') cmd.pop_back();
    }
    return best;
}

int dolfc(RemoteEvent e) {
    const ChatOptions& o = Options();
    if (e.code == 0 ? !o.lfc : !o.lfe) return 0;
    if (Running().size() >= kMaxNesting) return 0;
    ScriptMatch m = MatchScript(e);
    if (!m.matched) return 0;
    e.level = RequesterLevels(Concerned(e), e.userhost)[0].number;
    // What another user causes is answered within the automatic-reply limits, so a flood of
    // requests cannot make us flood the server.
    bool allowed = IsMe(e.nick) || AllowAutoReply(e.nick);
    if (allowed && m.carried) RunDo(e);
    if (allowed) {
        RunEntry(e, m.command, m.params);
        if (!m.chain.empty()) RunChain(e, m.chain);
    }
    return m.suppress ? 1 : 0;
}

const RemoteEvent* RunningEvent() {
    return Running().empty() ? nullptr : Running().back();
}

namespace {

// The event identifier at the start of `text` (which begins with "$"): its value goes to
// `value` and the characters it takes to `used`. False when none applies to the event.
bool EventIdentifier(const RemoteEvent& e, std::string_view text, std::string& value,
                     size_t& used) {
    auto is = [&](std::string_view name) {
        if (text.size() < name.size() || !EqualNoCase(text.substr(0, name.size()), name))
            return false;
        used = name.size();
        return true;
    };
    bool address_known = e.code <= 2 || e.code == 6;
    size_t at = e.userhost.find('@');
    std::string host = at == std::string::npos ? std::string() : e.userhost.substr(at + 1);
    if ((e.name == "nick" && is("$newnick")) || (e.name == "kick" && is("$knick")) ||
        ((e.code == kEventOp || e.code == kEventDeop) && is("$opnick"))) {
        value = e.subject;
    } else if (is("$nick")) {
        value = e.nick;
    } else if (is("$chan")) {
        value = e.chan;
    } else if (address_known && is("$site")) {
        value = host;
    } else if (address_known && is("$address")) {
        value = e.userhost;
    } else if (is("$level")) {
        value = std::to_string(e.level);
    } else if (is("$cd")) {
        value = e.cd;
    } else if (is("$parms")) {
        value = JoinParams(e.params, 1, kMaxParams);
    } else if (text.size() > 5 && EqualNoCase(text.substr(0, 5), "$parm") &&
               std::isdigit(static_cast<unsigned char>(text[5]))) {
        size_t pos = 5, first = 0, last = 0;
        while (pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos])) &&
               first < 100000)
            first = first * 10 + static_cast<size_t>(text[pos++] - '0');
        last = first;
        if (pos < text.size() && text[pos] == '*') {
            last = kMaxParams;
            ++pos;
        } else if (pos < text.size() && text[pos] == '-') {
            ++pos;
            last = 0;
            while (pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos])) &&
                   last < 100000)
                last = last * 10 + static_cast<size_t>(text[pos++] - '0');
            if (last == 0) last = kMaxParams;
        }
        value = JoinParams(e.params, first, last);
        used = pos;
    } else {
        return false;
    }
    return true;
}

}  // namespace

bool ParseEventWord(std::string_view word, int, std::string& out) {
    const RemoteEvent* e = RunningEvent();
    if (!e) {
        out += word;
        return true;
    }
    // A "#" or "&" in front, as for parameters, is kept only when the value lacks one; "$$"
    // makes the identifier required, which the caller checks on the value.
    size_t pos = 0;
    char prefix = 0;
    if (word.size() > 1 && (word[0] == '#' || word[0] == '&') && word[1] == '$') {
        prefix = word[0];
        pos = 1;
    }
    if (word.substr(pos).starts_with("$$")) ++pos;
    std::string value;
    size_t used = 0;
    if (prefix || pos > 0) {
        if (!EventIdentifier(*e, word.substr(pos), value, used)) {
            out += word;
            return true;
        }
        if (prefix && !value.empty() && value[0] != '#' && value[0] != '&') out += prefix;
        out += value;
        pos += used;
    }
    // Identifiers glued after other text (":$parms", "=$nick", "$nick!$address") are found
    // wherever they start in the word; a value is never searched again.
    while (pos < word.size()) {
        size_t dollar = word.find('$', pos);
        if (dollar == std::string_view::npos) {
            out += word.substr(pos);
            break;
        }
        out += word.substr(pos, dollar - pos);
        if (EventIdentifier(*e, word.substr(dollar), value, used)) {
            out += value;
            pos = dollar + used;
        } else {
            out += '$';
            pos = dollar + 1;
        }
    }
    return true;
}

std::vector<std::pair<std::string, bool>> ScriptGroups(bool commands) {
    std::vector<std::pair<std::string, bool>> out;
    bool open = false;
    std::string current;
    for (const Line& l : commands ? Script().szcmds : Script().szevents) {
        std::string name, word;
        if (!GroupLine(l.text, name, word)) continue;
        if (!open && word != "end") {
            open = true;
            current = name;
            out.emplace_back(name, word == "start");
        } else if (open && word == "end" && name == current) {
            open = false;
        }
    }
    return out;
}

int SwitchGroups(const std::vector<std::string>& names, bool enable) {
    int changed = 0;
    for (LineList* list : {&Script().szcmds, &Script().szevents}) {
        for (Line& l : *list) {
            std::string name, word;
            if (!GroupLine(l.text, name, word) || word == "end") continue;
            bool wanted = false;
            for (const std::string& n : names) wanted = wanted || n == name;
            if (!wanted || (word == "start") == enable) continue;
            l.text = l.text.substr(0, l.text.find(' ')) + (enable ? " start" : " disabled");
            ++changed;
        }
    }
    if (changed) Script().rchanged = true;
    return changed;
}

void InstallRemoteScripts() {
    EventHooks& h = Hooks();
    h.perform = PerformHook;
    h.ctcp = CtcpHook;
    Script().hooks.parse = ParseEventWord;
    InstallCommand("/ENABLE", doenable);
    InstallCommand("/DISABLE", doenable);
    InstallCommand("/GROUPS", dogroups);
}

}  // namespace chat
