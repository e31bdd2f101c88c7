#include "archiver/programs/checkout.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>

#include "archiver/programs/programs.h"
#include "platform/profile.h"

namespace programs {

namespace fs = std::filesystem;

namespace {

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string Normal(const std::string& path) {
    std::string p = fs::path(path).lexically_normal().string();
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    return p;
}

// The real place of a path whose last parts may not exist yet.
std::string Real(const std::string& path) {
    std::error_code ec;
    fs::path p = fs::weakly_canonical(path, ec);
    return ec ? Normal(path) : Normal(p.string());
}

bool IsBelow(const std::string& path, const std::string& folder) {
    return folder.size() > 0 && path.size() > folder.size() + 1 &&
           path.compare(0, folder.size(), folder) == 0 &&
           (folder == "/" || path[folder.size()] == '/');
}

bool IsAtOrBelow(const std::string& path, const std::string& folder) {
    return path == folder || IsBelow(path, folder);
}

// Folders of the system: nothing of CheckOut's goes into them or below them.
constexpr const char* kSystemTrees[] = {"/bin",   "/boot",   "/dev",  "/etc", "/lib",  "/lib32",
                                        "/lib64", "/libx32", "/proc", "/run", "/sbin", "/srv",
                                        "/sys",   "/usr",    "/var",  "/opt", "/snap"};
// Folders that hold other people's or the system's folders: refused themselves only.
constexpr const char* kSystemFolders[] = {"/home", "/mnt", "/media", "/tmp", "/root"};

// Why a folder may not take a CheckOut; empty when it may. Links are resolved first, so a
// link cannot lead into a refused place.
std::string RefusedBecause(const std::string& folder, const CheckOutPlaces& p) {
    std::string real = Real(folder);
    auto same = [&real](const std::string& other) { return !other.empty() && real == Real(other); };
    if (real == "/") return "Cannot specify the root folder";
    if (same(p.current)) return "Cannot specify the current folder (" + real + ")";
    if (same(p.home)) return "Cannot specify the home folder (" + real + ")";
    if (same(p.temp)) return "Cannot specify the temporary folder (" + real + ")";
    // Inside home or the temporary folder is the user's own, wherever those are.
    std::string home = p.home.empty() ? "" : Real(p.home);
    std::string temp = p.temp.empty() ? "" : Real(p.temp);
    if ((!home.empty() && home != "/" && IsBelow(real, home)) ||
        (!temp.empty() && temp != "/" && IsBelow(real, temp)))
        return {};
    for (const char* tree : kSystemTrees)
        if (IsAtOrBelow(real, tree)) return "Cannot specify a system folder (" + real + ")";
    for (const char* system : kSystemFolders)
        if (real == system) return "Cannot specify a system folder (" + real + ")";
    return {};
}

std::string InvalidFolder(const std::string& reason) {
    return "Invalid CheckOut folder.  " + reason;
}

// A relative folder is taken from the current folder.
std::string FromCurrent(const std::string& folder, const CheckOutPlaces& p) {
    if (folder.empty() || folder[0] == '/') return Normal(folder);
    return Normal((p.current.empty() ? std::string(".") : p.current) + "/" + folder);
}

bool ValidGroup(const std::string& group) {
    if (group.empty() || group.size() > 260 || group == "." || group == "..") return false;
    for (char c : group)
        if (c == '/' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
    return true;
}

bool HasEntries(const std::string& folder) {
    std::error_code ec;
    return fs::directory_iterator(folder, ec) != fs::directory_iterator();
}

bool IsMarked(const std::string& folder) {
    struct stat st {};
    return lstat((folder + "/" + kCheckOutMark).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Unlinks the plain files below `folder` (links, devices and the like stay) and removes the
// folders left empty; links to folders are never entered.
void RemovePlainFiles(const std::string& folder, bool keep_mark) {
    std::error_code ec;
    std::vector<fs::path> folders;
    for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        fs::file_status st = it->symlink_status(ec);
        if (ec) break;
        if (fs::is_directory(st)) {
            folders.push_back(it->path());
        } else if (fs::is_regular_file(st)) {
            if (keep_mark && it->path() == fs::path(folder) / kCheckOutMark) continue;
            fs::remove(it->path(), ec);
        }
    }
    for (auto f = folders.rbegin(); f != folders.rend(); ++f) rmdir(f->c_str());
}

void DeleteGroupFolder(const std::string& group_folder) {
    std::error_code ec;
    for (fs::directory_iterator it(group_folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->path().extension() == ".desktop" && fs::is_regular_file(it->symlink_status(ec)))
            fs::remove(it->path(), ec);
    }
    rmdir(group_folder.c_str());
}

bool IsArchiveName(const std::string& name) {
    size_t dot = name.rfind('.');
    if (dot == std::string::npos) return false;
    std::string ext = Lower(name.substr(dot + 1));
    return ext == "zip" || ext == "arj" || ext == "lzh" || ext == "arc";
}

// Programs, documents, archives (opened by this program), descriptions and read-me files.
bool Qualifies(const CheckOutMember& m) {
    if (m.type_class == 1 || m.type_class == 2 || IsArchiveName(m.name)) return true;
    std::string base = Lower(m.name.substr(m.name.rfind('/') + 1));
    size_t dot = base.rfind('.');
    std::string stem = dot == std::string::npos ? base : base.substr(0, dot);
    std::string ext = dot == std::string::npos ? "" : base.substr(dot + 1);
    return ext == "diz" || stem == "read" || stem == "readme";
}

bool HasControl(std::string_view s) {
    for (char c : s)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return true;
    return false;
}

// The command that opens an extracted file; empty when there is none.
std::vector<std::string> OpenCommand(const std::string& path, const std::string& self) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return {};
    if (IsArchiveName(path)) return {self, "/ni", path};
    if (access(path.c_str(), X_OK) == 0) return {path};
    if (!FindOnPath("xdg-open").empty()) return {"xdg-open", path};
    return {};
}

}  // namespace

std::string DesktopString(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\t')
            out += "\\t";
        else if (c == '\r')
            out += "\\r";
        else if (c == ' ' && i == 0)
            out += "\\s";
        else
            out += c;
    }
    return out;
}

std::string DesktopExec(const std::vector<std::string>& args) {
    std::string exec;
    for (const std::string& a : args) {
        if (!exec.empty()) exec += ' ';
        bool quote = a.empty() || a.find_first_of(" \t\n\"'\\><~|&;$*?#()`") != std::string::npos;
        std::string arg;
        for (char c : a) {
            if (quote && (c == '"' || c == '`' || c == '$' || c == '\\')) arg += '\\';
            arg += c;
            if (c == '%') arg += '%';
        }
        exec += quote ? "\"" + arg + "\"" : arg;
    }
    return DesktopString(exec);
}

CheckOutPlaces LoadCheckOutPlaces(const std::string& settings_path) {
    CheckOutPlaces p;
    p.home = Env("HOME");
    p.base =
        platform::GetPrivateProfileString("directories", "CheckOutBase", "", 4096, settings_path);
    if (p.base.empty() && !p.home.empty()) p.base = p.home + "/CheckOut";
    std::error_code ec;
    p.current = fs::current_path(ec).string();
    p.temp = Env("TMPDIR").empty() ? "/tmp" : Env("TMPDIR");
    std::string data = Env("XDG_DATA_HOME");
    if (data.empty() && !p.home.empty()) data = p.home + "/.local/share";
    if (!data.empty()) p.launchers = data + "/applications/borvan-checkout";
    return p;
}

bool LoadCheckOutIconOnly(const std::string& settings_path) {
    return platform::GetPrivateProfileInt("Borvan", "CheckOutIconOnly", 1, settings_path) != 0;
}

bool CheckCheckOutChoices(CheckOutChoices& c, const CheckOutPlaces& p, std::string& error,
                          std::string& question) {
    question.clear();
    if (c.max_icons < 1 || c.max_icons > kMaxCheckOutIcons) {
        error = "Icon maximum is 50";
        return false;
    }
    if (c.folder.empty()) {
        error = "No folder specified";
        return false;
    }
    c.folder = FromCurrent(c.folder, p);
    if (std::string why = RefusedBecause(c.folder, p); !why.empty()) {
        error = InvalidFolder(why);
        return false;
    }
    if (!ValidGroup(c.group) || p.launchers.empty()) {
        error = "Invalid group name";
        return false;
    }
    std::error_code ec;
    if (fs::is_directory(c.folder, ec) && HasEntries(c.folder))
        question += "Folder " + c.folder +
                    " already exists.  If you continue all files in this folder will be "
                    "deleted.\n";
    if (fs::is_directory(p.launchers + "/" + c.group, ec))
        question += "Group " + c.group +
                    " already exists.  If you continue all icons in this group will be "
                    "deleted.\n";
    if (!question.empty()) question += "Do you want to continue?";
    return true;
}

bool PrepareCheckOutFolder(const CheckOutChoices& c, const CheckOutPlaces& p, std::string& error) {
    if (c.folder.empty()) {
        error = "No folder specified";
        return false;
    }
    if (std::string why = RefusedBecause(c.folder, p); !why.empty()) {
        error = InvalidFolder(why);
        return false;
    }
    struct stat st {};
    if (lstat(c.folder.c_str(), &st) == 0) {
        if (!S_ISDIR(st.st_mode)) {
            error =
                "Could not create folder " + c.folder + "\nA file with same name already exists";
            return false;
        }
        if (HasEntries(c.folder) && !IsMarked(c.folder)) {
            error = "Folder " + c.folder +
                    " was not made by CheckOut and is not empty; its files are left as they are";
            return false;
        }
        RemovePlainFiles(c.folder, true);
    } else {
        std::error_code ec;
        fs::create_directories(c.folder, ec);
        if (ec) {
            error = "Could not create folder " + c.folder;
            return false;
        }
    }
    int fd = open((c.folder + "/" + kCheckOutMark).c_str(),
                  O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = "Could not create folder " + c.folder;
        return false;
    }
    close(fd);
    return true;
}

GroupOutcome BuildCheckOutGroup(const CheckOutChoices& c, const CheckOutPlaces& p,
                                const std::vector<CheckOutMember>& members,
                                const std::string& self) {
    GroupOutcome out;
    out.group_folder = p.launchers + "/" + c.group;
    DeleteGroupFolder(out.group_folder);
    std::error_code ec;
    fs::create_directories(out.group_folder, ec);
    if (ec) {
        out.message = "Could not create folder " + out.group_folder;
        return out;
    }
    for (const CheckOutMember& m : members) {
        if (out.icons >= c.max_icons) break;
        if (m.name.empty() || m.name.back() == '/' || NameLeavesFolder(m.name) ||
            HasControl(m.name))
            continue;
        if (c.icons_only && !Qualifies(m)) continue;
        std::string path = c.folder + "/" + m.name;
        std::vector<std::string> command = OpenCommand(path, self);
        if (command.empty()) continue;
        // An archive opens in this program's window, which needs a terminal: the desktop
        // gives it one.
        bool in_terminal = command.size() > 1 && command[0] == self && command[1] == "/ni";
        std::string entry = "[Desktop Entry]\nType=Application\nName=" + DesktopString(m.name) +
                            "\nExec=" + DesktopExec(command) + "\nPath=" + DesktopString(c.folder) +
                            "\nTerminal=" + (in_terminal ? "true" : "false") + "\n";
        char file[32];
        std::snprintf(file, sizeof file, "/item%02d.desktop", out.icons + 1);
        if (!platform::WriteFileAtomically(out.group_folder + file, entry)) {
            out.message = "Could not write " + out.group_folder + file;
            return out;
        }
        ++out.icons;
    }
    if (out.icons == 0 && c.icons_only) {
        DeleteGroupFolder(out.group_folder);
        out.message = "No programs, documents, or special files; no icons created";
    }
    return out;
}

bool DeleteCheckOut(const std::string& folder, const std::string& group, const CheckOutPlaces& p,
                    std::string& error) {
    std::string f = FromCurrent(folder, p);
    if (!ValidGroup(group) || p.launchers.empty()) {
        error = "Invalid group name";
        return false;
    }
    if (std::string why = RefusedBecause(f, p); !why.empty()) {
        error = InvalidFolder(why);
        return false;
    }
    struct stat st {};
    if (lstat(f.c_str(), &st) == 0) {
        if (!S_ISDIR(st.st_mode) || (HasEntries(f) && !IsMarked(f))) {
            error = "Folder " + f + " was not made by CheckOut; it is left as it is";
            return false;
        }
        RemovePlainFiles(f, false);
        rmdir(f.c_str());
    }
    DeleteGroupFolder(p.launchers + "/" + group);
    return true;
}

}  // namespace programs
