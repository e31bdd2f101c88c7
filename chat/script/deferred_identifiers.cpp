#include "chat/script/deferred_identifiers.h"

#include <cstdlib>
#include <memory>

#include "chat/core/frontend.h"
#include "chat/core/options.h"
#include "chat/core/windows/window_print.h"
#include "chat/core/windows/window_table.h"
#include "chat/script/script_state.h"

namespace chat {
namespace {

struct FileClose {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileClose>;

// Characters of a $read -s search text.
constexpr size_t kMaxSearch = 90;

void Remove(TokenList& tokens, size_t from, size_t count, size_t& end) {
    if (from >= tokens.size()) return;
    count = std::min(count, tokens.size() - from);
    tokens.erase(tokens.begin() + from, tokens.begin() + from + count);
    end -= std::min(end, count);
}

// Line N (1-based) among the lines after the count line that are longer than one character.
bool NthLine(std::FILE* f, int64_t n, std::string& out) {
    std::string line;
    int64_t seen = 0;
    while (ReadBoundedLine(f, line, kLineLimit)) {
        if (line.size() <= 1) continue;
        if (++seen == n) {
            out = line;
            return true;
        }
    }
    return false;
}

bool SearchLine(std::FILE* f, std::string_view key, std::string first, std::string& out) {
    std::string line = std::move(first);
    do {
        if (StartsNoCase(line, key) && (line.size() == key.size() || line[key.size()] == ' ')) {
            size_t blank = line.find(' ');
            out = blank == std::string::npos ? std::string() : line.substr(blank + 1);
            // A found line with nothing after its key still counts as found.
            if (out.empty()) out = " ";
            return true;
        }
    } while (ReadBoundedLine(f, line, kLineLimit));
    return false;
}

EvalResult ReadError(WindowId window, const std::string& text) {
    Print(window, text, 1);
    return EvalResult::kAbandon;
}

EvalResult Read(EvalContext& ctx, TokenList& tokens, size_t i, size_t& end, bool& expanded) {
    ScriptState& s = Script();
    if (s.read_depth >= kMaxReadNesting) return ReadError(ctx.window, "* $read: nesting too deep");
    if (i + 1 >= end) return ReadError(ctx.window, "* $read: no filename specified");
    int64_t line_no = 0;
    bool search = false;
    std::string key;
    std::string option(Word(tokens[i + 1]));
    // Only "-l" and "-s" are options, so a file name that merely contains "-" stays a name.
    if (StartsNoCase(option, "-l") || StartsNoCase(option, "-s")) {
        if (option[1] == 'l' || option[1] == 'L') {
            line_no = std::atoll(option.c_str() + 2);
            if (line_no < 0) line_no = 0;
        } else {
            search = true;
            key = option.substr(2, kMaxSearch);
        }
        Remove(tokens, i + 1, 1, end);
        if (i + 1 >= end) return ReadError(ctx.window, "* $read: no filename specified");
    }
    std::string name(Word(tokens[i + 1]));
    File f(std::fopen(ScriptPath(name).c_str(), "r"));
    if (!f) return ReadError(ctx.window, "* $read: error opening file");
    std::string first;
    if (!ReadBoundedLine(f.get(), first, kLineLimit))
        return ReadError(ctx.window, "* $read: error reading file " + name);
    std::string found;
    bool ok;
    if (search) {
        ok = SearchLine(f.get(), key, first, found);
    } else {
        int64_t total = std::atoll(first.c_str());
        if (line_no == 0) line_no = total > 0 ? 1 + ScriptRandom(total) : 1;
        if (total < line_no) line_no = 1;
        ok = NthLine(f.get(), line_no, found);
    }
    if (!ok || found.empty())
        return ReadError(ctx.window, "* $read: no match for \"" + key + "\" in " + name);
    ++s.read_depth;
    TokenList read = tokenize(found);
    // Under the remote flag another user may have chosen the file or the line: its words
    // stand as they are and are never evaluated.
    if (ctx.remote)
        for (Token& t : read)
            if (t.state == kTokenRaw) {
                t.text.insert(t.text.begin(), ' ');
                t.state = kTokenValue;
            }
    Remove(tokens, i, 2, end);
    // The line's tokens stand in for $read and its arguments, within the command's token limit.
    size_t room = kMaxTokens360 > tokens.size() ? kMaxTokens360 - tokens.size() : 0;
    if (read.size() > room) read.resize(room);
    tokens.insert(tokens.begin() + i, read.begin(), read.end());
    end += read.size();
    expanded = true;
    return EvalResult::kValue;
}

EvalResult Dde(TokenList& tokens, size_t i, size_t& end, std::string& value) {
    size_t have = end > i + 1 ? std::min<size_t>(3, end - i - 1) : 0;
    std::string service, topic, item;
    if (have == 3) {
        service = Word(tokens[i + 1]);
        topic = Word(tokens[i + 2]);
        item = Word(tokens[i + 3]);
    }
    Remove(tokens, i + 1, have, end);
    const ScriptHooks& h = Script().hooks;
    if (have == 3 && h.dde_request) value = h.dde_request(service, topic, item);
    return EvalResult::kValue;
}

EvalResult SelectFile(TokenList& tokens, size_t i, size_t& end, std::string_view name,
                      std::string& value) {
    std::string kind = StartsNoCase(name, "hfile") ? "hfile"
                       : StartsNoCase(name, "dir") ? "dir"
                                                   : "file";
    std::string title = "Vesk Select file";
    std::string_view rest = name.substr(kind.size());
    if (rest.size() > 1 && rest[0] == '=' && rest[1] == '"') {
        int last = extractquotesfl(tokens, i, title);
        if (last < 0) return EvalResult::kValue;
        Remove(tokens, i + 1, static_cast<size_t>(last) - i, end);
    }
    std::string pattern = Options().szPATH + "*";
    if (i + 1 < end) {
        std::string quoted;
        int last = extractquotesfl(tokens, i + 1, quoted);
        if (last < 0) return EvalResult::kValue;
        pattern = quoted.empty() ? std::string(Word(tokens[i + 1])) : quoted;
        Remove(tokens, i + 1, static_cast<size_t>(last) - i, end);
    }
    const ScriptHooks& h = Script().hooks;
    if (!h.select_file) {
        // No screen to pick on: said as for the prompt, and the line is not run half-filled.
        if (CurrentFrontend().message_box)
            CurrentFrontend().message_box("System Error", "Unable to display dialog");
        return EvalResult::kAbandon;
    }
    // The chosen path keeps its case: names on this system are case-sensitive.
    std::optional<std::string> chosen = h.select_file(kind, title, pattern);
    if (chosen) value = *chosen;
    return EvalResult::kValue;
}

}  // namespace

bool ReadBoundedLine(std::FILE* file, std::string& line, size_t limit) {
    line.clear();
    int c;
    bool any = false;
    while ((c = std::fgetc(file)) != EOF) {
        any = true;
        if (c == '\n') break;
        if (line.size() < limit) line += static_cast<char>(c);
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return any;
}

std::string ScriptPath(std::string_view name) {
    if (name.find('/') != std::string_view::npos) return std::string(name);
    return Options().szPATH + std::string(name);
}

EvalResult EvaluateDeferred(EvalContext& ctx, TokenList& tokens, size_t i, size_t& end,
                            std::string_view name, std::string& value, bool& expanded) {
    if (StartsNoCase(name, "read")) return Read(ctx, tokens, i, end, expanded);
    if (StartsNoCase(name, "dde")) return Dde(tokens, i, end, value);
    return SelectFile(tokens, i, end, name, value);
}

}  // namespace chat
