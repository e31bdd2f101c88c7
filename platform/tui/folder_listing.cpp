#include "platform/tui/folder_listing.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace tui {

namespace fs = std::filesystem;

namespace {

bool MatchOne(std::string_view name, std::string_view pat) {
    // Iterative glob with one back-tracking point per "*": linear in practice, never recursive.
    size_t n = 0, p = 0, star = std::string_view::npos, mark = 0;
    while (n < name.size()) {
        if (p < pat.size() && (pat[p] == '?' || pat[p] == name[n])) {
            ++n;
            ++p;
        } else if (p < pat.size() && pat[p] == '*') {
            star = p++;
            mark = n;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            n = ++mark;
        } else {
            return false;
        }
    }
    while (p < pat.size() && pat[p] == '*') ++p;
    return p == pat.size();
}

}  // namespace

bool MatchesPattern(std::string_view name, std::string_view patterns) {
    if (patterns.empty()) return true;
    size_t start = 0;
    while (start <= patterns.size()) {
        size_t end = patterns.find(';', start);
        if (end == std::string_view::npos) end = patterns.size();
        const std::string_view one = patterns.substr(start, end - start);
        if (!one.empty() && MatchOne(name, one)) return true;
        start = end + 1;
    }
    return false;
}

std::vector<FolderEntry> ListFolder(const std::string& folder, std::string_view patterns,
                                    bool hidden) {
    std::vector<FolderEntry> folders, files;
    std::error_code ec;
    for (fs::directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec), end;
         !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (!hidden && !name.empty() && name[0] == '.') continue;
        std::error_code type_ec;
        const bool is_folder = it->is_directory(type_ec);
        if (is_folder) {
            folders.push_back({name, true});
        } else if (MatchesPattern(name, patterns)) {
            files.push_back({name, false});
        }
    }
    auto by_name = [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; };
    std::sort(folders.begin(), folders.end(), by_name);
    std::sort(files.begin(), files.end(), by_name);
    std::vector<FolderEntry> out;
    if (fs::path(folder).lexically_normal() != fs::path("/")) out.push_back({"..", true});
    out.insert(out.end(), folders.begin(), folders.end());
    out.insert(out.end(), files.begin(), files.end());
    return out;
}

std::string EnterFolder(const std::string& folder, const std::string& entry) {
    fs::path p = fs::path(folder);
    if (p.is_relative()) {
        std::error_code ec;
        p = fs::current_path(ec) / p;
    }
    p = (entry == ".." ? p.lexically_normal().parent_path() : p / entry).lexically_normal();
    std::string out = p.string();
    while (out.size() > 1 && out.back() == '/') out.pop_back();
    return out.empty() ? "/" : out;
}

}  // namespace tui
