#include "chat/dcc/file_server.h"

#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <memory>

#include "chat/core/windows/line_list.h"

namespace chat::dcc {
namespace {

struct DirCloser {
    void operator()(DIR* d) const {
        if (d) ::closedir(d);
    }
};

bool LessNoCase(const std::string& a, const std::string& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
        return lower(x) < lower(y);
    });
}

}  // namespace

bool IsOneComponent(std::string_view name) {
    if (name.empty() || name == "." || name == ".." || name.size() > NAME_MAX) return false;
    return std::none_of(name.begin(), name.end(), [](char c) {
        return c == '/' || c == '\\' || static_cast<unsigned char>(c) < 32 || c == 127;
    });
}

std::optional<std::string> InsideHome(const std::string& home, const std::string& current,
                                      std::string_view name) {
    std::string path = current;
    if (!name.empty()) {
        if (!IsOneComponent(name)) return std::nullopt;
        path += "/" + std::string(name);
    }
    if (path.size() >= PATH_MAX) return std::nullopt;
    char resolved[PATH_MAX];
    if (!::realpath(path.c_str(), resolved)) return std::nullopt;
    std::string real = resolved;
    if (real == home) return real;
    if (real.size() > home.size() && real.compare(0, home.size(), home) == 0 &&
        (home.back() == '/' || real[home.size()] == '/'))
        return real;
    return std::nullopt;
}

std::optional<std::string> FileNamedNoCase(const std::string& dir, std::string_view name) {
    if (!IsOneComponent(name)) return std::nullopt;
    struct stat st {};
    const std::string exact(name);
    if (::stat((dir + "/" + exact).c_str(), &st) == 0 && S_ISREG(st.st_mode)) return exact;
    std::unique_ptr<DIR, DirCloser> d(::opendir(dir.c_str()));
    std::optional<std::string> best;
    for (size_t seen = 0; d && seen < kMaxListing; ++seen) {
        const dirent* e = ::readdir(d.get());
        if (!e) break;
        const std::string entry = e->d_name;
        if (!EqualNoCase(entry, name) || (best && !(entry < *best))) continue;
        if (::fstatat(::dirfd(d.get()), entry.c_str(), &st, 0) == 0 && S_ISREG(st.st_mode))
            best = entry;
    }
    return best;
}

std::string ListingSize(uint64_t size, bool bytes) {
    if (bytes || size <= 1000) return std::to_string(size) + "b";
    return std::to_string(size / 1000) + "k";
}

std::vector<std::string> BuildDirList(const std::string& dir, const ListingOptions& o,
                                      bool at_home) {
    std::vector<std::string> out;
    out.push_back("[" + dir + "/" + o.pattern + "]\n");
    // "*.*" means every file, with or without an extension.
    std::string pattern = o.pattern == "*.*" ? "*" : o.pattern;
    std::vector<std::string> dirs;
    std::vector<std::pair<std::string, uint64_t>> files;
    std::unique_ptr<DIR, DirCloser> d(::opendir(dir.c_str()));
    size_t seen = 0;
    while (d && seen < kMaxListing) {
        dirent* e = ::readdir(d.get());
        if (!e) break;
        std::string name = e->d_name;
        if (name == "." || (name == ".." && at_home) || name == "..") continue;
        if (!IsOneComponent(name)) continue;
        struct stat st {};
        if (::fstatat(::dirfd(d.get()), name.c_str(), &st, 0) != 0) continue;
        ++seen;
        if (S_ISDIR(st.st_mode)) {
            dirs.push_back(name);
        } else if (S_ISREG(st.st_mode) && !EqualNoCase(name, "dirinfo.srv") &&
                   ::fnmatch(pattern.c_str(), name.c_str(), FNM_CASEFOLD) == 0) {
            files.emplace_back(name, static_cast<uint64_t>(st.st_size));
        }
    }
    std::sort(dirs.begin(), dirs.end(), LessNoCase);
    std::sort(files.begin(), files.end(),
              [](const auto& a, const auto& b) { return LessNoCase(a.first, b.first); });
    std::vector<std::string> entries;
    for (const std::string& name : dirs) entries.push_back(name + "/");
    for (const auto& [name, size] : files) {
        if (o.wide) {
            entries.push_back(name);
            continue;
        }
        std::string line = name + "  ";
        if (line.size() < 23) line.resize(23, ' ');
        entries.push_back(line + ListingSize(size, o.bytes));
    }
    if (o.wide) {
        int columns = std::clamp(o.columns, 1, 9);
        std::string line;
        int in_line = 0;
        for (std::string& e : entries) {
            if (e.size() < 15) e.resize(15, ' ');
            line += (in_line ? "  " : "") + e;
            if (++in_line == columns) {
                out.push_back(line + "\n");
                line.clear();
                in_line = 0;
            }
        }
        if (in_line) out.push_back(line + "\n");
    } else {
        for (const std::string& e : entries) out.push_back(e + "\n");
    }
    out.push_back("End of list.\n");
    return out;
}

}  // namespace chat::dcc
