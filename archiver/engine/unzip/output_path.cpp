#include "archiver/engine/unzip/output_path.h"

#include <sys/stat.h>

#include <cctype>
#include <climits>
#include <cstdlib>
#include <memory>

namespace engine {

std::optional<std::vector<std::string>> SafeComponents(std::string_view stored) {
    std::string name(stored);
    for (char& c : name)
        if (c == '\\') c = '/';
    std::string_view rest(name);
    // A drive prefix ("C:") and any leading slashes would anchor the path outside the target.
    if (rest.size() >= 2 && std::isalpha(static_cast<unsigned char>(rest[0])) && rest[1] == ':')
        rest.remove_prefix(2);
    std::vector<std::string> parts;
    bool last_was_dot = false;
    while (!rest.empty()) {
        size_t slash = rest.find('/');
        std::string_view part = rest.substr(0, slash);
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
        if (part == "..") return std::nullopt;
        last_was_dot = part == "." && rest.empty();
        if (part.empty() || part == ".") continue;
        parts.emplace_back(part);
    }
    if (parts.empty() || last_was_dot) return std::nullopt;
    return parts;
}

bool ResolvesInside(const std::string& path, const std::string& resolved_root) {
    std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
    if (!real) return false;
    std::string_view r(real.get());
    if (r == resolved_root) return true;
    std::string_view root(resolved_root);
    if (!root.empty() && root.back() == '/') root.remove_suffix(1);  // the root folder "/"
    return r.size() > root.size() && r.starts_with(root) && r[root.size()] == '/';
}

std::string ShortNameComponent(std::string_view component) {
    size_t dot = component.rfind('.');
    std::string_view base = component.substr(0, dot);
    std::string out;
    for (char c : base) {
        if (out.size() == 8) break;
        if (c != '.' && c != ' ') out += c;
    }
    if (dot != std::string_view::npos) {
        std::string ext;
        for (char c : component.substr(dot + 1)) {
            if (ext.size() == 3) break;
            if (c != ' ') ext += c;
        }
        if (!ext.empty()) out += "." + ext;
    }
    for (char& c : out) {
        if (std::string_view("+,;<=>[]|").find(c) != std::string_view::npos) c = '_';
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return out;
}

bool SelectionMatches(std::string_view stored, std::string_view selected) {
    if (stored.size() != selected.size()) return false;
    for (size_t i = 0; i < stored.size(); ++i) {
        char a = stored[i] == '\\' ? '/' : stored[i];
        char b = selected[i] == '\\' ? '/' : selected[i];
        if (std::tolower(static_cast<unsigned char>(a)) !=
            std::tolower(static_cast<unsigned char>(b)))
            return false;
    }
    return true;
}

std::string_view BaseName(std::string_view name) {
    size_t cut = name.find_last_of("/\\");
    return cut == std::string_view::npos ? name : name.substr(cut + 1);
}

std::string WithZipExtension(const std::string& path) {
    struct stat st;
    // A file that exists under the name as given is the archive, extension or not: a
    // self-extractor is often named without one.
    if (::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) return path;
    size_t slash = path.rfind('/');
    size_t start = slash == std::string::npos ? 0 : slash + 1;
    if (path.find('.', start) != std::string::npos) return path;
    std::string lower = path + ".zip", upper = path + ".ZIP";
    if (::stat(lower.c_str(), &st) != 0 && ::stat(upper.c_str(), &st) == 0) return upper;
    return lower;
}

}  // namespace engine
