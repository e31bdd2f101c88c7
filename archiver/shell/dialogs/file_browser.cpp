#include "archiver/shell/dialogs/file_browser.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>

#include "archiver/shell/terminal_text.h"
#include "platform/tui/folder_listing.h"
#include "platform/tui/text.h"

namespace dialogs {

bool IsFolder(const std::string& path) {
    struct stat st;
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

formats::ArchiveKind FileKind(const std::string& path) {
    formats::ArchiveKind kind = formats::KindByExtension(path);
    if (kind != formats::kKindUnknown) return kind;
    // Non-blocking, so that a fifo in the folder cannot hold the listing.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return formats::kKindUnknown;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0) {
        ::close(fd);
        return formats::kKindUnknown;
    }
    const uint64_t size = static_cast<uint64_t>(st.st_size);
    std::vector<uint8_t> head(std::min<uint64_t>(size, formats::kKindHeadSize));
    std::vector<uint8_t> tail(std::min<uint64_t>(size, formats::kKindTailSize));
    const ssize_t h = ::pread(fd, head.data(), head.size(), 0);
    const ssize_t t = ::pread(fd, tail.data(), tail.size(), static_cast<off_t>(size - tail.size()));
    ::close(fd);
    if (h < 0 || t < 0) return formats::kKindUnknown;
    head.resize(static_cast<size_t>(h));
    tail.resize(static_cast<size_t>(t));
    kind = formats::KindByContent(head, tail);
    // A tar file without its extension shows the ustar magic in its first header.
    if (kind == formats::kKindUnknown && head.size() >= 262 &&
        std::equal(head.begin() + 257, head.begin() + 262, "ustar"))
        kind = formats::kKindTar;
    return kind;
}

const char* KindShortName(formats::ArchiveKind kind) {
    switch (kind) {
        case formats::kKindZip:
            return "zip";
        case formats::kKindLzh:
            return "LZH";
        case formats::kKindArj:
            return "ARJ";
        case formats::kKindArc:
            return "ARC";
        case formats::kKindTar:
            return "tar";
        case formats::kKindGzip:
            return "gzip";
        case formats::kKindMsCompress:
            return "MS Compress";
        case formats::kKindEncodedMail:
            return "encoded";
        default:
            return "";
    }
}

std::vector<BrowserEntry> BrowseFolder(const std::string& folder, bool archives_only) {
    std::vector<BrowserEntry> out;
    for (const tui::FolderEntry& e : tui::ListFolder(folder, "")) {
        BrowserEntry b{e.name, e.folder, formats::kKindUnknown};
        if (!e.folder) {
            b.kind = FileKind(JoinPath(folder, e.name));
            if (archives_only && b.kind == formats::kKindUnknown) continue;
        }
        out.push_back(std::move(b));
    }
    return out;
}

std::string BrowserRowText(const BrowserEntry& entry, int name_width) {
    std::string name = shell::TerminalSafe(entry.folder ? entry.name + "/" : entry.name);
    const char* kind = KindShortName(entry.kind);
    if (entry.folder || *kind == '\0') return name;
    const int width = tui::TextWidth(tui::DecodeText(name));
    if (width < name_width) name.append(static_cast<size_t>(name_width - width), ' ');
    return name + " " + kind;
}

std::string StartFolder(const std::string& wanted) {
    if (IsFolder(wanted) && !wanted.empty() && wanted[0] == '/') return wanted;
    std::string cwd;
    char buf[PATH_MAX];
    if (::getcwd(buf, sizeof buf)) cwd = buf;
    if (cwd.empty()) cwd = "/";
    if (IsFolder(wanted)) return tui::EnterFolder(cwd, wanted);
    const size_t slash = wanted.rfind('/');
    if (slash != std::string::npos) {
        const std::string part = slash == 0 ? "/" : wanted.substr(0, slash);
        if (IsFolder(part)) return part[0] == '/' ? part : tui::EnterFolder(cwd, part);
    }
    return cwd;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
    if (!name.empty() && name[0] == '/') return name;
    if (folder.empty()) return name;
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

}  // namespace dialogs
