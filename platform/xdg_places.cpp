#include "platform/xdg_places.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace platform {
namespace {

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

std::string Home() {
    std::string home = Env("HOME");
    return home.empty() ? "/" : home;
}

std::string WithSlash(std::string path) {
    if (path.empty() || path.back() != '/') path.push_back('/');
    return path;
}

// The base folders must be absolute; a relative value is ignored, as the desktop's own
// tools do, so that files never land relative to whatever folder the program started in.
std::string BaseFolder(const char* variable, const char* fallback) {
    std::string base = Env(variable);
    if (base.empty() || base[0] != '/') base = WithSlash(Home()) + fallback;
    return WithSlash(base);
}

}  // namespace

std::string StateFolder(const std::string& program) {
    return BaseFolder("XDG_STATE_HOME", ".local/state") + program + "/";
}

std::string UserDirFromText(const std::string& text, const std::string& key,
                            const std::string& home) {
    std::istringstream lines(text);
    std::string line, found;
    while (std::getline(lines, line)) {
        size_t at = line.find_first_not_of(" \t");
        if (at == std::string::npos || line[at] == '#') continue;
        if (line.compare(at, key.size(), key) != 0) continue;
        at += key.size();
        if (at >= line.size() || line[at] != '=') continue;
        std::string value = line.substr(at + 1);
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        if (value.rfind("$HOME", 0) == 0) value = home + value.substr(5);
        // The last assignment wins, as when the shell sources the file.
        found = !value.empty() && value[0] == '/' ? value : "";
    }
    return found;
}

std::string DownloadFolder() {
    std::string dir = Env("XDG_DOWNLOAD_DIR");
    if (!dir.empty() && dir[0] == '/') return WithSlash(dir);
    std::ifstream in(BaseFolder("XDG_CONFIG_HOME", ".config") + "user-dirs.dirs");
    if (in) {
        std::ostringstream text;
        // A real file is a few hundred bytes; a hostile one is not read past this.
        constexpr std::streamsize kLimit = 64 * 1024;
        std::string buffer(kLimit, '\0');
        in.read(buffer.data(), kLimit);
        buffer.resize(static_cast<size_t>(in.gcount()));
        dir = UserDirFromText(buffer, "XDG_DOWNLOAD_DIR", Home());
        if (!dir.empty()) return WithSlash(dir);
    }
    return WithSlash(Home()) + "Downloads/";
}

bool MakePrivateFolders(const std::string& folder) {
    std::string path = folder;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    if (path.empty()) return false;
    for (size_t at = path.find('/', 1);; at = path.find('/', at + 1)) {
        std::string part = at == std::string::npos ? path : path.substr(0, at);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
        if (at == std::string::npos) break;
    }
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace platform
