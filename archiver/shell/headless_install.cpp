#include "archiver/shell/headless_install.h"

#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

#include "archiver/programs/private_folder.h"
#include "archiver/programs/setup_install.h"
#include "archiver/shell/terminal_text.h"
#include "platform/process.h"
#include "platform/xdg_places.h"

namespace shell {
namespace {

constexpr int kExitNotRun = 1;
constexpr int kExitFailed = 2;
// A prefix with more files than this is not watched: the record would not be trusted.
constexpr size_t kMostFiles = 500000;

void Say(FILE* to, const std::string& text) {
    std::fputs((TerminalSafe(text) + "\n").c_str(), to);
}

// Names of records are file names: the archive's name, nothing that leaves the folder.
bool SafeName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\n') == std::string::npos;
}

bool AskOnTerminal(const std::string& question) {
    FILE* tty = std::fopen("/dev/tty", "r+");
    if (!tty) return false;
    std::fputs((question + " [y/N] ").c_str(), tty);
    std::fflush(tty);
    char line[64] = {};
    bool yes = std::fgets(line, sizeof line, tty) && (line[0] == 'y' || line[0] == 'Y');
    std::fclose(tty);
    return yes;
}

// Removes the temporary folder however the install ends.
struct TempFolder {
    std::string path;
    ~TempFolder() {
        if (!path.empty()) programs::RemoveTree(path);
    }
};

}  // namespace

std::string InstallRecordFolder() {
    return platform::StateFolder("borvan32") + "installs/";
}

int InstallHeadless(const std::string& archive, const std::string& name, bool yes,
                    const std::string& given_prefix, const UnpackInto& unpack) {
    if (!SafeName(name)) {
        Say(stderr, "Cannot install under the name \"" + name + "\"");
        return kExitNotRun;
    }
    std::string prefix = given_prefix;
    if (prefix.empty()) {
        const char* home = std::getenv("HOME");
        prefix = std::string(home && *home ? home : "/") + "/.local";
    }
    if (prefix[0] != '/') {
        Say(stderr, "The install prefix must be an absolute path: " + prefix);
        return kExitNotRun;
    }
    while (prefix.size() > 1 && prefix.back() == '/') prefix.pop_back();
    TempFolder temp{programs::MakePrivateFolder("borvan-install.")};
    if (temp.path.empty()) {
        Say(stderr, "Cannot make a temporary folder for the install");
        return kExitNotRun;
    }
    std::string error;
    if (!unpack(temp.path, error)) {
        Say(stderr, error.empty() ? "Cannot unpack " + archive : error);
        return kExitFailed;
    }
    std::string why;
    std::string setup = programs::FindSetupProgram(temp.path, why);
    if (setup.empty()) {
        Say(stderr, "Nothing to install from " + archive + ": " + why);
        return kExitNotRun;
    }
    std::string command = "./" + setup.substr(setup.rfind('/') + 1);
    Say(stdout, "Setup program: " + command + " in " + temp.path + ", with PREFIX=" + prefix);
    bool run = yes || (isatty(STDIN_FILENO) && AskOnTerminal("Run " + command + "?"));
    if (!run) {
        Say(stderr, "Run " + command + "? (answered No" +
                        std::string(yes ? "" : "; --yes answers Yes") + ")");
        return kExitNotRun;
    }
    if (!platform::MakePrivateFolders(prefix)) {
        Say(stderr, "Cannot make the prefix " + prefix);
        return kExitNotRun;
    }
    std::map<std::string, programs::FileState> before, after;
    if (!programs::SnapshotTree(prefix, kMostFiles, before)) {
        Say(stderr, prefix + " holds too many files to record what the setup program writes");
        return kExitNotRun;
    }
    ::setenv("PREFIX", prefix.c_str(), 1);
    platform::ProcessOptions options;
    options.working_dir = temp.path;
    std::fflush(stdout);
    int status = platform::RunProcess({setup}, options);
    programs::SnapshotTree(prefix, kMostFiles, after);
    programs::InstallRecord record;
    record.prefix = prefix;
    record.files = programs::WrittenFiles(before, after);
    if (!record.files.empty()) {
        std::string folder = InstallRecordFolder();
        std::ofstream out;
        if (platform::MakePrivateFolders(folder))
            out.open(folder + name + ".list", std::ios::trunc);
        out << programs::InstallRecordText(record);
        if (!out.flush()) Say(stderr, "Cannot write the install record " + folder + name + ".list");
    }
    if (status < 0) {
        Say(stderr, "Cannot run " + command);
        return kExitFailed;
    }
    Say(stdout,
        std::to_string(record.files.size()) + " files written under " + prefix +
            (record.files.empty() ? "" : "; \"borvan32 --uninstall " + name + "\" removes them"));
    if (status != 0) {
        Say(stderr, command + " ended with status " + std::to_string(status));
        return kExitFailed;
    }
    return 0;
}

int UninstallHeadless(const std::string& name) {
    const std::string folder = InstallRecordFolder();
    if (name.empty()) {
        DIR* dir = ::opendir(folder.c_str());
        int count = 0;
        while (const dirent* e = dir ? ::readdir(dir) : nullptr) {
            std::string file = e->d_name;
            if (file.size() > 5 && file.ends_with(".list")) {
                Say(stdout, file.substr(0, file.size() - 5));
                ++count;
            }
        }
        if (dir) ::closedir(dir);
        if (count == 0) Say(stdout, "No installs are recorded in " + folder);
        return 0;
    }
    if (!SafeName(name)) {
        Say(stderr, "No install is recorded as \"" + name + "\"");
        return kExitNotRun;
    }
    std::ifstream in(folder + name + ".list");
    if (!in) {
        Say(stderr, "No install is recorded as \"" + name + "\" in " + folder);
        return kExitNotRun;
    }
    std::ostringstream text;
    text << in.rdbuf();
    programs::InstallRecord record;
    if (!programs::ParseInstallRecord(text.str(), record)) {
        Say(stderr, "The install record " + folder + name + ".list is damaged; nothing removed");
        return kExitFailed;
    }
    programs::UninstallReport r = programs::UninstallFiles(record);
    for (const std::string& path : r.removed) Say(stdout, "Removed " + path);
    for (const std::string& path : r.kept) Say(stderr, "Kept " + path);
    if (r.ok) std::remove((folder + name + ".list").c_str());
    return r.ok ? (r.kept.empty() ? 0 : kExitNotRun) : kExitFailed;
}

}  // namespace shell
