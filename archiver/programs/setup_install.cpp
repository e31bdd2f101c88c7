#include "archiver/programs/setup_install.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <set>
#include <sstream>

namespace programs {
namespace {

int64_t MtimeNs(const struct stat& st) {
    return static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

// A relative path from a record must stay below the prefix.
bool SafeRelative(const std::string& rel) {
    if (rel.empty() || rel[0] == '/') return false;
    std::istringstream parts(rel);
    std::string part;
    while (std::getline(parts, part, '/'))
        if (part.empty() || part == "." || part == "..") return false;
    return rel.find('\n') == std::string::npos;
}

bool Walk(const std::string& root, const std::string& rel, size_t limit,
          std::map<std::string, FileState>& out) {
    std::string dir_path = rel.empty() ? root : root + "/" + rel;
    DIR* dir = ::opendir(dir_path.c_str());
    if (!dir) return true;  // unreadable folders hold nothing a setup program wrote for us
    bool ok = true;
    while (const dirent* e = ::readdir(dir)) {
        std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        std::string child = rel.empty() ? name : rel + "/" + name;
        struct stat st {};
        if (::lstat((root + "/" + child).c_str(), &st) != 0) continue;
        if (S_ISDIR(st.st_mode)) {
            if (!(ok = Walk(root, child, limit, out))) break;
            continue;
        }
        if (out.size() >= limit) {
            ok = false;
            break;
        }
        out[child] = FileState{static_cast<uint64_t>(st.st_size), MtimeNs(st), S_ISLNK(st.st_mode)};
    }
    ::closedir(dir);
    return ok;
}

}  // namespace

std::string FindSetupProgram(const std::string& folder, std::string& why) {
    why.clear();
    for (const char* name : kSetupNames) {
        std::string path = folder + "/" + name;
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0) continue;
        if (!S_ISREG(st.st_mode)) {
            if (why.empty()) why = std::string(name) + " is not a regular file";
            continue;
        }
        if ((st.st_mode & S_IXUSR) == 0) {
            if (why.empty()) why = std::string(name) + " is not executable";
            continue;
        }
        return path;
    }
    if (why.empty()) why = "there is no setup, install.sh or install at its top";
    return {};
}

bool SnapshotTree(const std::string& root, size_t limit, std::map<std::string, FileState>& out) {
    out.clear();
    return Walk(root, "", limit, out);
}

std::map<std::string, FileState> WrittenFiles(const std::map<std::string, FileState>& before,
                                              const std::map<std::string, FileState>& after) {
    std::map<std::string, FileState> written;
    for (const auto& [path, now] : after) {
        auto was = before.find(path);
        if (was == before.end() || was->second.size != now.size ||
            was->second.mtime_ns != now.mtime_ns || was->second.link != now.link)
            written.emplace(path, now);
    }
    return written;
}

std::string InstallRecordText(const InstallRecord& record) {
    std::string text = "prefix\t" + record.prefix + "\n";
    for (const auto& [path, f] : record.files)
        text += std::string(f.link ? "link" : "file") + "\t" + std::to_string(f.size) + "\t" +
                std::to_string(f.mtime_ns) + "\t" + path + "\n";
    return text;
}

bool ParseInstallRecord(const std::string& text, InstallRecord& record) {
    record = InstallRecord{};
    std::istringstream lines(text);
    std::string line;
    if (!std::getline(lines, line) || line.rfind("prefix\t", 0) != 0) return false;
    record.prefix = line.substr(7);
    if (record.prefix.empty() || record.prefix[0] != '/') return false;
    while (std::getline(lines, line)) {
        if (line.empty()) continue;
        std::istringstream fields(line);
        std::string kind, size, mtime, path;
        if (!std::getline(fields, kind, '\t') || !std::getline(fields, size, '\t') ||
            !std::getline(fields, mtime, '\t') || !std::getline(fields, path))
            return false;
        if ((kind != "file" && kind != "link") || !SafeRelative(path)) return false;
        char* end = nullptr;
        FileState f;
        f.size = std::strtoull(size.c_str(), &end, 10);
        if (size.empty() || *end) return false;
        f.mtime_ns = std::strtoll(mtime.c_str(), &end, 10);
        if (mtime.empty() || *end) return false;
        f.link = kind == "link";
        record.files[path] = f;
    }
    return true;
}

UninstallReport UninstallFiles(const InstallRecord& record) {
    UninstallReport report;
    std::set<std::string> folders;
    for (const auto& [rel, was] : record.files) {
        std::string path = record.prefix + "/" + rel;
        if (!SafeRelative(rel)) {
            report.kept.push_back(path + " (outside " + record.prefix + ")");
            continue;
        }
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0) continue;  // already gone
        if (static_cast<uint64_t>(st.st_size) != was.size || MtimeNs(st) != was.mtime_ns ||
            S_ISLNK(st.st_mode) != was.link || S_ISDIR(st.st_mode)) {
            report.kept.push_back(path + " (changed since the install)");
            continue;
        }
        if (::unlink(path.c_str()) != 0) {
            report.ok = false;
            report.kept.push_back(path + " (" + std::string(std::strerror(errno)) + ")");
            continue;
        }
        report.removed.push_back(path);
        for (size_t slash = rel.rfind('/'); slash != std::string::npos && slash > 0;
             slash = rel.rfind('/', slash - 1))
            folders.insert(rel.substr(0, slash));
    }
    // Deepest first; a folder something else still uses is not empty and stays.
    for (auto it = folders.rbegin(); it != folders.rend(); ++it)
        ::rmdir((record.prefix + "/" + *it).c_str());
    return report;
}

}  // namespace programs
