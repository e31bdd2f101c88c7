#include "chat/script/variables.h"

#include "chat/core/windows/window_print.h"
#include "chat/script/script_state.h"

namespace chat {
namespace {

// The name word of a variable line: from its first "%" to the next blank.
std::string_view NameOf(std::string_view line) {
    size_t start = line.find('%');
    if (start == std::string_view::npos) return {};
    size_t end = line.find(' ', start);
    return line.substr(start, end == std::string_view::npos ? end : end - start);
}

// The value of a variable line: after its name, leading blanks skipped.
std::string_view ValueOf(std::string_view line) {
    size_t start = line.find('%');
    size_t blank = start == std::string_view::npos ? start : line.find(' ', start);
    if (blank == std::string_view::npos) return {};
    std::string_view value = line.substr(blank);
    size_t first = value.find_first_not_of(' ');
    return first == std::string_view::npos ? std::string_view() : value.substr(first);
}

}  // namespace

bool getvar(std::string_view name, std::string& out) {
    for (const Line& l : Script().szvars) {
        if (!EqualNoCase(NameOf(l.text), name)) continue;
        std::string_view value = ValueOf(l.text);
        if (value.empty()) return false;
        out += value;
        return true;
    }
    return false;
}

bool setvar(WindowId window, std::string_view name, std::string_view value, bool show, int kind) {
    ScriptState& s = Script();
    LineList& vars = s.szvars;
    LineIter first = vars.end();
    for (LineIter it = vars.begin(); it != vars.end();) {
        LineIter next = std::next(it);
        if (EqualNoCase(NameOf(it->text), name)) {
            if (first == vars.end())
                first = it;
            else
                vars.erase(it);
        }
        it = next;
    }
    s.rchanged = true;
    std::string shown_name(name);
    if (value.empty()) {
        if (first != vars.end()) vars.erase(first);
        if (show) Print(window, "*** Unset " + shown_name, 1);
        return true;
    }
    std::string line = shown_name + " " + std::string(value);
    if (first != vars.end())
        first->text = line;
    else
        aline(vars, line, false);
    if (show) {
        static const char* const kWords[] = {"Set", "Inc", "Dec"};
        const char* word = kWords[kind >= 0 && kind <= 2 ? kind : 0];
        Print(window, "*** " + std::string(word) + " " + shown_name + " to " + std::string(value),
              1);
    }
    return true;
}

bool isnumber(std::string_view text) {
    for (char c : text)
        if ((c < '0' || c > '9') && c != '-') return false;
    return true;
}

}  // namespace chat
