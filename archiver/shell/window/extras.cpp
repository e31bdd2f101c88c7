#include "archiver/shell/window/extras.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

#include "archiver/mail/uu_codec.h"
#include "archiver/programs/checkout.h"
#include "platform/profile.h"

namespace window {

namespace {

std::string BaseName(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::string WriteUuencodedArchive(const std::string& archive, std::string& error) {
    std::ifstream in(archive, std::ios::binary);
    if (!in) {
        error = "Cannot read " + archive + ": " + std::strerror(errno);
        return "";
    }
    std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        error = "Cannot read " + archive;
        return "";
    }
    std::string out = archive + ".uue";
    if (!platform::WriteFileAtomically(
            out, mail::UuEncode(data, BaseName(archive), 0644, mail::UuAlphabet::kUu))) {
        error = "Cannot write " + out + ": " + std::strerror(errno);
        return "";
    }
    return out;
}

std::string DesktopEntry(const std::string& archive, const std::string& program) {
    return "[Desktop Entry]\nType=Application\nName=" + programs::DesktopString(BaseName(archive)) +
           "\nComment=" + programs::DesktopString("Open " + archive + " in Borvan") +
           "\nExec=" + programs::DesktopExec({program, archive}) +
           "\nTerminal=true\nCategories=Utility;Archiving;\n";
}

std::string WriteShortcut(const std::string& archive, const std::string& program,
                          const std::string& folder, std::string& error) {
    std::string name = BaseName(archive);
    std::string out =
        folder + (folder.empty() || folder.back() == '/' ? "" : "/") + name + ".desktop";
    if (!platform::WriteFileAtomically(out, DesktopEntry(archive, program))) {
        error = "Cannot write " + out + ": " + std::strerror(errno);
        return "";
    }
    chmod(out.c_str(), 0755);
    return out;
}

std::vector<std::string> ViewerLines(std::string_view data, size_t longest) {
    std::vector<std::string> lines;
    std::string line;
    bool open = false;  // a line has begun and not ended
    for (size_t i = 0; i < data.size(); ++i) {
        char c = data[i];
        if (c == '\n' || (c == '\r' && i + 1 < data.size() && data[i + 1] == '\n')) {
            if (c == '\r') ++i;
            lines.push_back(std::move(line));
            line.clear();
            open = false;
            continue;
        }
        open = true;
        if (line.size() >= longest) {
            lines.push_back(std::move(line));
            line.clear();
        }
        if (c == '\t') {
            line.append(8 - line.size() % 8, ' ');
        } else {
            line += c;
        }
    }
    if (open && !line.empty()) lines.push_back(std::move(line));
    return lines;
}

std::vector<std::string> MailArguments(const std::string& archive) {
    return {"xdg-email", "--attach", archive, "--subject", BaseName(archive)};
}

}  // namespace window
