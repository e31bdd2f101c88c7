#include "archiver/shell/desktop_integration.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "archiver/programs/checkout.h"
#include "platform/profile.h"
#include "platform/xdg_places.h"

namespace shell {
namespace {

constexpr const char* kEntryName = "borvan32.desktop";
constexpr const char* kDefaults = "Default Applications";

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

std::string Base(const char* variable, const char* fallback) {
    std::string base = Env(variable);
    if (base.empty() || base[0] != '/') {
        std::string home = Env("HOME");
        base = (home.empty() ? std::string("/") : home) + "/" + fallback;
    }
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    return base;
}

std::string RecordPath(const IntegrationPlaces& p) {
    return p.data + "/borvan32/integration.list";
}
std::string MimeAppsPath(const IntegrationPlaces& p) {
    return p.data + "/applications/mimeapps.list";
}

std::string FolderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

// The record: one line per file written ("file PATH") and per default set ("default TYPE").
std::vector<std::string> ReadRecord(const IntegrationPlaces& p) {
    std::vector<std::string> lines;
    std::ifstream in(RecordPath(p));
    std::string line;
    // A real record is a few dozen lines; a damaged one is not read without end.
    while (lines.size() < 1000 && std::getline(in, line))
        if (!line.empty()) lines.push_back(line);
    return lines;
}

bool Listed(const std::vector<std::string>& record, const std::string& line) {
    for (const std::string& l : record)
        if (l == line) return true;
    return false;
}

bool WriteRecord(const IntegrationPlaces& p, const std::vector<std::string>& lines) {
    if (!platform::MakePrivateFolders(FolderOf(RecordPath(p)))) return false;
    std::string temp = RecordPath(p) + ".new";
    {
        std::ofstream out(temp, std::ios::trunc);
        for (const std::string& l : lines) out << l << '\n';
        if (!out.flush()) return false;
    }
    return ::rename(temp.c_str(), RecordPath(p).c_str()) == 0;
}

// Writes one file of the integration, unless a file of that name is there that an earlier
// integration did not write: that one is the user's or another program's.
bool WriteOwnFile(const std::string& path, const std::string& text, mode_t mode,
                  const std::vector<std::string>& record, IntegrationReport& report) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && !Listed(record, "file " + path)) {
        report.lines.push_back("Left alone (not written by borvan32): " + path);
        return false;
    }
    if (!platform::MakePrivateFolders(FolderOf(path))) {
        report.ok = false;
        report.lines.push_back("Cannot make the folder of " + path + ": " + std::strerror(errno));
        return false;
    }
    std::string temp = path + ".borvan32-new";
    {
        std::ofstream out(temp, std::ios::trunc | std::ios::binary);
        out << text;
        if (!out.flush()) {
            report.ok = false;
            report.lines.push_back("Cannot write " + path);
            ::unlink(temp.c_str());
            return false;
        }
    }
    if (::chmod(temp.c_str(), mode) != 0 || ::rename(temp.c_str(), path.c_str()) != 0) {
        report.ok = false;
        report.lines.push_back("Cannot write " + path + ": " + std::strerror(errno));
        ::unlink(temp.c_str());
        return false;
    }
    report.lines.push_back("Wrote " + path);
    return true;
}

std::string MimeList() {
    std::string list;
    for (const std::string& t : IntegrationMimeTypes()) list += t + ";";
    return list;
}

// The scripts every file manager's action runs: they take the selected paths as arguments.
std::string ExtractScript(const std::string& program) {
    return "#!/bin/sh\n"
           "# Extracts each archive given into the folder it is in (written by borvan32\n"
           "# --integrate; borvan32 --unintegrate removes it). Files already there are kept.\n"
           "status=0\n"
           "for f do\n"
           "    " +
           ShellQuoted(program) +
           " --headless -e \"$f\" \"$(dirname -- \"$f\")\" || status=1\n"
           "done\n"
           "exit $status\n";
}

std::string AddScript(const std::string& program) {
    return "#!/bin/sh\n"
           "# Packs the files and folders given into NAME.zip beside the first of them, NAME\n"
           "# being the first one's name (written by borvan32 --integrate).\n"
           "[ $# -gt 0 ] || exit 2\n"
           "cd \"$(dirname -- \"$1\")\" || exit 1\n"
           "first=$(basename -- \"$1\")\n"
           "n=$#\n"
           "for f do set -- \"$@\" \"$(basename -- \"$f\")\"; done\n"
           "shift $n\n"
           "exec " +
           ShellQuoted(program) + " --headless -a -r -p \"$first.zip\" -- \"$@\"\n";
}

}  // namespace

std::string ShellQuoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

IntegrationPlaces LoadIntegrationPlaces() {
    IntegrationPlaces p;
    p.data = Base("XDG_DATA_HOME", ".local/share");
    p.config = Base("XDG_CONFIG_HOME", ".config");
    std::string exe(4096, '\0');
    ssize_t n = ::readlink("/proc/self/exe", exe.data(), exe.size() - 1);
    p.program = n > 0 ? exe.substr(0, static_cast<size_t>(n)) : "borvan32";
    return p;
}

const std::vector<std::string>& IntegrationMimeTypes() {
    static const std::vector<std::string> types = {
        "application/zip",
        "application/x-zip-compressed",
        "application/x-tar",
        "application/gzip",
        "application/x-compressed-tar",
        "application/x-compress",
        "application/x-tarz",
        "application/x-arj",
        "application/x-lha",
        "application/x-lzh-compressed",
        "application/x-arc",
    };
    return types;
}

IntegrationReport Integrate(const IntegrationPlaces& p) {
    IntegrationReport report;
    const std::vector<std::string> record = ReadRecord(p);
    std::vector<std::string> written;
    auto write = [&](const std::string& path, const std::string& text, mode_t mode) {
        if (WriteOwnFile(path, text, mode, record, report)) written.push_back("file " + path);
    };
    const std::string actions = p.data + "/borvan32/actions/";
    const std::string extract = actions + "extract-here", add = actions + "add-to-archive";
    write(extract, ExtractScript(p.program), 0755);
    write(add, AddScript(p.program), 0755);

    const std::string open = programs::DesktopExec({p.program}) + " %f";
    write(p.data + "/applications/" + kEntryName,
          "[Desktop Entry]\nType=Application\nName=Borvan32\nGenericName=Archive Manager\n"
          "Comment=List, test, extract and create zip, tar, gzip, ARJ, LZH and ARC archives\n"
          "Exec=" +
              open + "\nTerminal=true\nCategories=Utility;Archiving;Compression;\nMimeType=" +
              MimeList() + "\nKeywords=zip;unzip;archive;tar;gzip;\n",
          0644);

    // Dolphin's service menus (they must be executable to be taken).
    const std::string run_extract = programs::DesktopExec({extract}) + " %F";
    const std::string run_add = programs::DesktopExec({add}) + " %F";
    write(p.data + "/kio/servicemenus/borvan32-extract.desktop",
          "[Desktop Entry]\nType=Service\nX-KDE-ServiceTypes=KonqPopupMenu/Plugin\nMimeType=" +
              MimeList() +
              "\nActions=borvan32Extract;\n\n[Desktop Action borvan32Extract]\n"
              "Name=Extract here (borvan32)\nIcon=archive-extract\nExec=" +
              run_extract + "\n",
          0755);
    write(p.data + "/kio/servicemenus/borvan32-add.desktop",
          "[Desktop Entry]\nType=Service\nX-KDE-ServiceTypes=KonqPopupMenu/Plugin\n"
          "MimeType=all/allfiles;inode/directory;\nActions=borvan32Add;\n\n"
          "[Desktop Action borvan32Add]\nName=Add to archive (borvan32)\nIcon=archive-insert\n"
          "Exec=" +
              run_add + "\n",
          0755);
    // Nemo's actions.
    write(p.data + "/nemo/actions/borvan32-extract-here.nemo_action",
          "[Nemo Action]\nName=Extract here (borvan32)\nComment=Extract into this folder\n"
          "Exec=" +
              run_extract + "\nSelection=notnone\nMimetypes=" + MimeList() + "\n",
          0644);
    write(p.data + "/nemo/actions/borvan32-add-to-archive.nemo_action",
          "[Nemo Action]\nName=Add to archive (borvan32)\nComment=Pack into a zip archive\n"
          "Exec=" +
              run_add + "\nSelection=notnone\nExtensions=any;\n",
          0644);
    // Nautilus's scripts take their menu names from the file names.
    write(p.data + "/nautilus/scripts/Extract here (borvan32)", ExtractScript(p.program), 0755);
    write(p.data + "/nautilus/scripts/Add to archive (borvan32)", AddScript(p.program), 0755);

    // The default application for each kind, where no earlier choice of the user's stands.
    const std::string mimeapps = MimeAppsPath(p);
    for (const std::string& type : IntegrationMimeTypes()) {
        std::string now = platform::GetPrivateProfileString(kDefaults, type, "", 0, mimeapps);
        if (!now.empty() && now != kEntryName && !Listed(record, "default " + type)) {
            report.lines.push_back("Left alone: " + type + " opens with " + now);
            continue;
        }
        if (!platform::WritePrivateProfileString(kDefaults, type, kEntryName, mimeapps)) {
            report.ok = false;
            report.lines.push_back("Cannot write " + mimeapps);
            break;
        }
        written.push_back("default " + type);
    }
    report.lines.push_back("Default application for " +
                           std::to_string(IntegrationMimeTypes().size()) + " archive kinds in " +
                           mimeapps);
    // A choice in the configuration folder comes before this one; say so rather than change it.
    const std::string user_choice = p.config + "/mimeapps.list";
    std::string zip =
        platform::GetPrivateProfileString(kDefaults, "application/zip", "", 0, user_choice);
    if (!zip.empty() && zip != kEntryName)
        report.lines.push_back("Note: " + user_choice + " opens zip archives with " + zip +
                               "; that choice comes first");

    // Keep what an earlier run wrote and this one did not rewrite, so removal finds it all.
    for (const std::string& l : record)
        if (!Listed(written, l)) written.push_back(l);
    if (!WriteRecord(p, written)) {
        report.ok = false;
        report.lines.push_back("Cannot write the record " + RecordPath(p));
    }
    return report;
}

IntegrationReport Unintegrate(const IntegrationPlaces& p) {
    IntegrationReport report;
    const std::vector<std::string> record = ReadRecord(p);
    if (record.empty()) {
        report.lines.push_back("Nothing to remove: no integration is recorded in " + RecordPath(p));
        return report;
    }
    const std::string mimeapps = MimeAppsPath(p);
    std::vector<std::string> kept;
    for (const std::string& line : record) {
        if (line.rfind("file ", 0) == 0) {
            std::string path = line.substr(5);
            // Only files inside the data folder: a damaged record cannot aim anywhere else.
            if (path.rfind(p.data + "/", 0) != 0 || path.find("/../") != std::string::npos) {
                report.lines.push_back("Skipped (outside " + p.data + "): " + path);
                continue;
            }
            if (::unlink(path.c_str()) == 0 || errno == ENOENT) {
                report.lines.push_back("Removed " + path);
                // Folders left empty go too (one the user keeps files in is not empty).
                for (std::string dir = FolderOf(path);
                     dir.size() > p.data.size() && ::rmdir(dir.c_str()) == 0;)
                    dir = FolderOf(dir);
            } else {
                report.ok = false;
                report.lines.push_back("Cannot remove " + path + ": " + std::strerror(errno));
                kept.push_back(line);
            }
        } else if (line.rfind("default ", 0) == 0) {
            std::string type = line.substr(8);
            if (platform::GetPrivateProfileString(kDefaults, type, "", 0, mimeapps) == kEntryName)
                platform::DeletePrivateProfileKey(kDefaults, type, mimeapps);
        }
    }
    if (platform::GetPrivateProfileKeys(kDefaults, mimeapps).empty())
        platform::DeletePrivateProfileSection(kDefaults, mimeapps);
    // A mimeapps.list that held only our lines goes too.
    if (platform::GetPrivateProfileSections(mimeapps).empty()) ::unlink(mimeapps.c_str());
    if (kept.empty()) {
        ::unlink(RecordPath(p).c_str());
        ::rmdir((p.data + "/borvan32").c_str());
        ::rmdir((p.data + "/applications").c_str());
    } else {
        WriteRecord(p, kept);
    }
    return report;
}

}  // namespace shell
