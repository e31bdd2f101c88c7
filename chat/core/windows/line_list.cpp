#include "chat/core/windows/line_list.h"

#include <cctype>

namespace chat {
namespace {

bool IsLetter(std::string_view s) {
    return !s.empty() && std::isalpha(static_cast<unsigned char>(s[0]));
}
bool IsUpper(std::string_view s) {
    return !s.empty() && std::isupper(static_cast<unsigned char>(s[0]));
}
bool IsLower(std::string_view s) {
    return !s.empty() && std::islower(static_cast<unsigned char>(s[0]));
}

// A new line goes in front of a node that begins with a letter when it is not a lower-case
// line passing an upper-case one, and it is either an upper-case line meeting a lower-case one
// or simply sorts below it.
bool GoesBefore(std::string_view fresh, std::string_view node) {
    if (!IsLetter(node)) return false;
    if (IsLower(fresh) && IsUpper(node)) return false;
    return (IsUpper(fresh) && IsLower(node)) || CompareNoCase(fresh, node) < 0;
}

}  // namespace

bool EqualNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && CompareNoCase(a, b) == 0;
}

int CompareNoCase(std::string_view a, std::string_view b) {
    size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i) {
        int ca = std::tolower(static_cast<unsigned char>(a[i]));
        int cb = std::tolower(static_cast<unsigned char>(b[i]));
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

LineIter aline(LineList& list, std::string_view text, bool sorted, int32_t value) {
    LineIter at = list.end();
    if (sorted) {
        for (LineIter it = list.begin(); it != list.end(); ++it) {
            if (GoesBefore(text, it->text)) {
                at = it;
                break;
            }
        }
    }
    return list.insert(at, Line{value, std::string(text)});
}

LineIter atopline(LineList& list, std::string_view text, bool unique) {
    if (unique) {
        for (LineIter it = list.begin(); it != list.end(); ++it) {
            if (EqualNoCase(it->text, text)) {
                list.erase(it);
                break;
            }
        }
    }
    return list.insert(list.begin(), Line{0, std::string(text)});
}

void rtopline(LineList& list) {
    if (!list.empty()) list.pop_front();
}

void rline(LineList& list, LineIter node) {
    if (node != list.end()) list.erase(node);
}

void iline(LineList& list, LineIter before, LineList&& other) {
    list.splice(before, other);
}

void movetotop(LineList& list, LineIter node) {
    if (node == list.end() || node == list.begin()) return;
    list.splice(list.begin(), list, node);
}

void freelines(LineList& list) {
    list.clear();
}

}  // namespace chat
