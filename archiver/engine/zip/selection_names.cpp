#include "archiver/engine/zip/selection_names.h"

#include <vector>

namespace zip {
namespace {

char upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}
char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool is_continuation(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

bool chars_equal(char a, char b, bool fold) {
    return fold ? upper(a) == upper(b) : a == b;
}

/// `*`, `?` and `\` matching of one part, with backtracking to the last `*`.
bool wild_match(std::string_view p, std::string_view n, bool fold) {
    size_t pi = 0;
    size_t ni = 0;
    size_t star = std::string_view::npos;
    size_t mark = 0;
    while (ni < n.size()) {
        if (pi < p.size() && p[pi] == '*') {
            star = pi++;
            mark = ni;
            continue;
        }
        if (pi < p.size()) {
            bool quoted = p[pi] == '\\' && pi + 1 < p.size();
            char pc = quoted ? p[pi + 1] : p[pi];
            if (!quoted && pc == '?') {
                // One character, however many bytes UTF-8 gives it.
                ++ni;
                while (ni < n.size() && is_continuation(n[ni])) ++ni;
                ++pi;
                continue;
            }
            if (chars_equal(pc, n[ni], fold)) {
                pi += quoted ? 2 : 1;
                ++ni;
                continue;
            }
        }
        if (star == std::string_view::npos) return false;
        pi = star + 1;
        ni = ++mark;
    }
    while (pi < p.size() && p[pi] == '*') ++pi;
    return pi == p.size();
}

std::pair<std::string_view, std::string_view> split_extension(std::string_view name) {
    size_t dot = name.rfind('.');
    if (dot == std::string_view::npos) return {name, {}};
    return {name.substr(0, dot), name.substr(dot + 1)};
}

/// Appends at most `max_chars` UTF-8 characters of `from`, skipping the bytes in `drop`.
void append_cut(std::string& to, std::string_view from, size_t max_chars, std::string_view drop) {
    size_t chars = 0;
    for (size_t i = 0; i < from.size(); ++i) {
        char c = from[i];
        if (drop.find(c) != std::string_view::npos) continue;
        if (!is_continuation(c)) {
            if (chars == max_chars) break;
            ++chars;
        }
        to.push_back(c);
    }
}

std::string short_component(std::string_view comp) {
    if (comp == "." || comp == "..") return std::string(comp);
    size_t dot = comp.rfind('.');
    std::string out;
    append_cut(out, comp.substr(0, dot), 8, ". ");
    if (dot != std::string_view::npos && dot + 1 < comp.size()) {
        out.push_back('.');
        append_cut(out, comp.substr(dot + 1), 3, " ");
    }
    for (char& c : out) {
        if (std::string_view("+,;<=>[]|").find(c) != std::string_view::npos) c = '_';
        c = upper(c);
    }
    return out;
}

/// Joins the pieces of a disk name component between `\` again, without the empty, `.` and
/// `..` ones.
std::string clean_backslash_pieces(std::string_view comp) {
    std::string out;
    size_t start = 0;
    while (start <= comp.size()) {
        size_t cut = comp.find('\\', start);
        if (cut == std::string_view::npos) cut = comp.size();
        std::string_view piece = comp.substr(start, cut - start);
        if (!piece.empty() && piece != "." && piece != "..") {
            if (!out.empty()) out.push_back('\\');
            out.append(piece);
        }
        start = cut + 1;
    }
    return out;
}

}  // namespace

bool has_wildcard(std::string_view name) {
    return name.find_first_of("*?") != name.npos;
}

bool names_match(std::string_view pattern, std::string_view name, bool fold_case) {
    bool dot_end =
        (!pattern.empty() && pattern.back() == '.') || (!name.empty() && name.back() == '.');
    if (!has_wildcard(pattern) && !dot_end) {
        if (pattern.size() != name.size()) return false;
        for (size_t i = 0; i < name.size(); ++i) {
            if (!chars_equal(pattern[i], name[i], fold_case)) return false;
        }
        return true;
    }
    auto [pbase, pext] = split_extension(pattern);
    auto [nbase, next] = split_extension(name);
    return wild_match(pext, next, fold_case) && wild_match(pbase, nbase, fold_case);
}

int compare_folded(std::string_view a, std::string_view b) {
    size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i) {
        unsigned char x = static_cast<unsigned char>(lower(a[i]));
        unsigned char y = static_cast<unsigned char>(lower(b[i]));
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
}

std::string stored_name(const StoredNameRules& rules, std::string_view path, bool is_folder,
                        bool* short_flag) {
    if (short_flag) *short_flag = rules.short_names;
    std::string_view p = path;
    // Below the folder of the pattern being expanded, names are stored relative to it.
    if (rules.recurse && !rules.store_folders && rules.base_set && !rules.base_folder.empty()) {
        std::string_view base = rules.base_folder;
        if (base.back() == '/') base.remove_suffix(1);
        if (p.size() > base.size() && p.substr(0, base.size()) == base && p[base.size()] == '/') {
            p.remove_prefix(base.size() + 1);
        }
    }

    // Leading slashes, empty, `.` and `..` components all go: a stored name is relative and
    // never climbs out of the folder it is extracted into. A `\` on disk is part of a file
    // name, but readers of the archive take it for a separator, so the pieces it parts are
    // cleaned the same way.
    std::vector<std::string> parts;
    size_t start = 0;
    std::string_view u = p;
    while (start <= u.size()) {
        size_t slash = u.find('/', start);
        if (slash == std::string_view::npos) slash = u.size();
        std::string comp = clean_backslash_pieces(u.substr(start, slash - start));
        if (!comp.empty()) parts.push_back(std::move(comp));
        start = slash + 1;
    }
    if (parts.empty()) return {};
    bool folder = is_folder || u.back() == '/';

    if (!rules.store_folders && !rules.recurse) {
        // Only the last component; a folder has none of its own then.
        if (folder) return {};
        parts.erase(parts.begin(), parts.end() - 1);
    }
    std::string name;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i) name.push_back('/');
        name.append(parts[i]);
    }
    if (!folder && name.back() == '.') name.pop_back();
    if (name.empty()) return {};
    if (rules.short_names) name = short_form(name);
    if (folder) name.push_back('/');
    return name;
}

std::string short_form(std::string_view name) {
    std::string out;
    size_t start = 0;
    while (start <= name.size()) {
        size_t slash = name.find('/', start);
        if (slash == std::string_view::npos) slash = name.size();
        if (start) out.push_back('/');
        out += short_component(name.substr(start, slash - start));
        start = slash + 1;
    }
    return out;
}

}  // namespace zip
