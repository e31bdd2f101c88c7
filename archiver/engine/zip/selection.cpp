#include "archiver/engine/zip/selection.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <numeric>
#include <tuple>

namespace zip {
namespace {

constexpr unsigned kStopCheckEvery = 1000;

struct DirCloser {
    void operator()(DIR* d) const { closedir(d); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

StoredNameRules rules_of(const Selection& sel) {
    StoredNameRules r;
    r.recurse = sel.recurse;
    r.store_folders = sel.store_folders;
    r.short_names = sel.short_names;
    r.base_set = sel.base_set;
    r.base_folder = sel.base_folder;
    return r;
}

std::string join(std::string_view folder, std::string_view entry) {
    std::string p(folder);
    if (!p.empty() && p.back() != '/') p.push_back('/');
    p.append(entry);
    return p;
}

/// Counts one file or folder entry; every 1,000 the user may stop the run.
int tick(Selection& sel) {
    if (++sel.counter <= kStopCheckEvery) return 0;
    sel.counter = 0;
    return sel.stop_requested && sel.stop_requested() ? 99 : 0;
}

/// The same file as the archive being written (it must never add itself); `st` is the file's.
bool is_archive(Selection& sel, const struct stat& st) {
    if (sel.archive_path.empty()) return false;
    if (sel.archive_looked_up != sel.archive_path) {
        struct stat a;
        sel.archive_looked_up = sel.archive_path;
        sel.archive_exists = stat(sel.archive_path.c_str(), &a) == 0;
        sel.archive_device = sel.archive_exists ? static_cast<uint64_t>(a.st_dev) : 0;
        sel.archive_inode = sel.archive_exists ? static_cast<uint64_t>(a.st_ino) : 0;
    }
    return sel.archive_exists && static_cast<uint64_t>(st.st_dev) == sel.archive_device &&
           static_cast<uint64_t>(st.st_ino) == sel.archive_inode;
}

platform::DosDateTime dos_time_of(const struct stat& st, uint32_t* attributes, uint64_t* size) {
    if (!S_ISREG(st.st_mode)) return 0;
    if (attributes) {
        *attributes = (static_cast<uint32_t>(st.st_mode) << 16) | ((st.st_mode & S_IWUSR) ? 0 : 1);
    }
    if (size) *size = static_cast<uint64_t>(st.st_size);
    return platform::TimeToDos(st.st_mtime);
}

int add_file(Selection& sel, const std::string& path, bool is_folder, const struct stat& st) {
    if (int r = tick(sel)) return r;
    bool short_flag = false;
    std::string name = stored_name(rules_of(sel), path, is_folder, &short_flag);
    if (name.empty()) {
        // A folder may leave nothing ("/", "../"); a file always keeps its own name.
        return sel.store_folders && !is_folder ? 5 : 0;
    }
    if (sel.members && sel.members->take_file(name, path, short_flag)) return 0;
    if (is_archive(sel, st)) return 0;
    bool written = S_ISREG(st.st_mode) || S_ISLNK(st.st_mode);
    sel.found.push_back(
        FoundFile{path, std::move(name), short_flag, written, static_cast<uint64_t>(st.st_size)});
    return 0;
}

/// Folder entry type without following symbolic links.
bool entry_is_folder(const std::string& path, const dirent* e) {
    if (e->d_type == DT_DIR) return true;
    if (e->d_type != DT_UNKNOWN) return false;
    struct stat st;
    return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int select_path(Selection& sel, const std::string& path, bool named) {
    struct stat st;
    if (!sel.delete_action && !sel.follow_links && lstat(path.c_str(), &st) == 0 &&
        S_ISLNK(st.st_mode)) {
        // Stored as a link: what it points to is not read, folder or not.
        if (int r = add_file(sel, path, false, st)) return r;
        sel.progress_total += static_cast<uint64_t>(st.st_size);
        return 0;
    }
    if (sel.delete_action || stat(path.c_str(), &st) != 0) {
        std::string name = stored_name(rules_of(sel), path, false, nullptr);
        if (name.empty()) return -1;
        return sel.members && sel.members->mark_matching(name) > 0 ? 0 : -1;
    }
    if (!S_ISDIR(st.st_mode)) {
        if (int r = add_file(sel, path, false, st)) return r;
        sel.progress_total += static_cast<uint64_t>(st.st_size);
        return 0;
    }
    if (!sel.recurse) return 0;
    // A link to a folder is followed only when the user named it: links met on the way
    // could lead back up the tree.
    struct stat lst;
    if (!named && lstat(path.c_str(), &lst) == 0 && S_ISLNK(lst.st_mode)) return 0;
    if (path != ".") {
        if (int r = add_file(sel, path.back() == '/' ? path : path + "/", true, st)) return r;
        sel.entered_folders.push_back(path);
    }
    DirHandle dir(opendir(path.c_str()));
    if (!dir) return 0;
    while (const dirent* e = readdir(dir.get())) {
        std::string_view entry = e->d_name;
        if (entry == "." || entry == "..") continue;
        if (int r = tick(sel)) return r;
        int r = select_path(sel, join(path, entry), false);
        if (r != 0 && r != -1) return r;
    }
    return 0;
}

}  // namespace

int select_name(Selection& sel, std::string_view name) {
    return select_path(sel, std::string(name), true);
}

int expand_pattern(Selection& sel, std::string_view name, bool wild) {
    std::string n(name);
    size_t slash = n.rfind('/');
    if (slash != std::string::npos && has_wildcard(std::string_view(n).substr(0, slash))) {
        return 16;
    }
    std::string folder;
    std::string pattern = n;
    if (slash != std::string::npos) {
        folder = slash == 0 ? "/" : n.substr(0, slash);
        pattern = n.substr(slash + 1);
    }
    DirHandle dir(opendir(folder.empty() ? "." : folder.c_str()));
    if (!dir) return -1;
    bool own_base = !sel.base_set;
    if (own_base) {
        sel.base_folder = folder;
        sel.base_set = true;
    }
    int successes = 0;
    int result = 0;
    if (!wild) {
        int r = select_path(sel, n, true);
        if (r == 0) ++successes;
        if (r != 0 && r != -1) result = r;
    }
    while (result == 0) {
        const dirent* e = readdir(dir.get());
        if (!e) break;
        std::string_view entry = e->d_name;
        // Like a shell, expansion passes over names that begin with a dot.
        if (entry.empty() || entry[0] == '.') continue;
        if ((result = tick(sel))) break;
        std::string path = join(folder, entry);
        int r = -1;
        if (sel.recurse && entry_is_folder(path, e)) {
            r = expand_pattern(sel, join(path, pattern), wild);
        } else if (wild && names_match(pattern, entry, false)) {
            r = select_path(sel, path, false);
        }
        if (r == 0) ++successes;
        if (r != 0 && r != -1) result = r;
    }
    if (own_base) {
        sel.base_set = false;
        sel.base_folder.clear();
    }
    if (result) return result;
    return successes ? 0 : -1;
}

SelectOutcome select_names(Selection& sel, std::span<const std::string> names) {
    for (const std::string& name : names) {
        bool wild = has_wildcard(name);
        int r;
        if (!sel.delete_action && (wild || sel.recurse)) {
            r = expand_pattern(sel, name, wild);
        } else {
            r = select_name(sel, name);
        }
        if (r == -1) {
            if (sel.warn) sel.warn("name not matched: ", name);
        } else if (r != 0) {
            return SelectOutcome{r, name};
        }
    }
    return {};
}

int check_duplicates(Selection& sel) {
    std::vector<FoundFile>& f = sel.found;
    std::vector<size_t> order(f.size());
    std::iota(order.begin(), order.end(), size_t{0});
    // The same file reached twice under the same name is simply kept once.
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        return std::tie(f[a].path, f[a].stored_name, a) < std::tie(f[b].path, f[b].stored_name, b);
    });
    std::vector<bool> drop(f.size(), false);
    for (size_t i = 1; i < order.size(); ++i) {
        const FoundFile& a = f[order[i - 1]];
        const FoundFile& b = f[order[i]];
        if (a.path == b.path && a.stored_name == b.stored_name) drop[order[i]] = true;
    }
    std::vector<FoundFile> kept;
    kept.reserve(f.size());
    for (size_t i = 0; i < f.size(); ++i) {
        if (!drop[i]) kept.push_back(std::move(f[i]));
    }
    f = std::move(kept);

    order.resize(f.size());
    std::iota(order.begin(), order.end(), size_t{0});
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return f[a].stored_name < f[b].stored_name; });
    if (sel.short_names) {
        // The stable order puts the file found first at the head of each run of equal names.
        drop.assign(f.size(), false);
        size_t refused_before = sel.refused;
        for (size_t i = 1, head = 0; i < order.size(); ++i) {
            if (f[order[i]].stored_name != f[order[head]].stored_name) {
                head = i;
                continue;
            }
            refuse_short_clash(sel, f[order[i]].stored_name, f[order[head]].path, f[order[i]].path);
            drop[order[i]] = true;
        }
        if (sel.refused == refused_before) return 0;
        kept.clear();
        for (size_t i = 0; i < f.size(); ++i) {
            if (!drop[i]) kept.push_back(std::move(f[i]));
        }
        f = std::move(kept);
        return 0;
    }
    for (size_t i = 1; i < order.size(); ++i) {
        const FoundFile& a = f[order[i - 1]];
        const FoundFile& b = f[order[i]];
        if (a.stored_name != b.stored_name) continue;
        if (sel.warn) {
            sel.warn("name in zip file repeated: ", a.stored_name);
            sel.warn("  first full name: ", a.path);
            sel.warn(" second full name: ", b.path);
        }
        return 16;
    }
    return 0;
}

void refuse_short_clash(Selection& sel, std::string_view name, std::string_view first,
                        std::string_view second) {
    ++sel.refused;
    if (!sel.warn) return;
    sel.warn("not added: ", std::string(second) + " (its 8.3 name " + std::string(name) +
                                " is already taken by " + std::string(first) + ")");
}

platform::DosDateTime file_time(const std::string& path, uint32_t* attributes, uint64_t* size) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return 0;
    return dos_time_of(st, attributes, size);
}

platform::DosDateTime file_time_fd(int fd, uint32_t* attributes, uint64_t* size) {
    struct stat st;
    if (fstat(fd, &st) != 0) return 0;
    return dos_time_of(st, attributes, size);
}

int delete_moved(std::span<const MovedEntry> moved, std::span<const std::string> entered) {
    std::vector<std::string> folders(entered.begin(), entered.end());
    for (const MovedEntry& m : moved) {
        if (!m.stored.empty() && m.stored.back() == '/') {
            folders.push_back(m.path);
        } else {
            unlink(m.path.c_str());
        }
    }
    for (std::string& f : folders) {
        while (f.size() > 1 && f.back() == '/') f.pop_back();
    }
    // Descending order puts every folder before the folders that contain it.
    std::sort(folders.begin(), folders.end(), std::greater<>());
    folders.erase(std::unique(folders.begin(), folders.end()), folders.end());
    for (const std::string& f : folders) rmdir(f.c_str());
    return 0;
}

}  // namespace zip
