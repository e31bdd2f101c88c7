#include "archiver/shell/mail_attachments.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "archiver/engine/unzip/output_path.h"
#include "archiver/engine/unzip/shown_name.h"
#include "platform/profile.h"

namespace shell {

namespace {

bool ReadWhole(const std::string& path, size_t limit, std::string& out, std::string& error) {
    engine::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st;
    if (!fd || ::fstat(fd.get(), &st) != 0) {
        error = "Can't open input file: " + path;
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        error = "Can't open input file: " + path;
        return false;
    }
    if (static_cast<uint64_t>(st.st_size) > limit) {
        error = path + " is too large to decode";
        return false;
    }
    out.resize(static_cast<size_t>(st.st_size));
    ssize_t got = engine::PreadFull(fd.get(), out.data(), out.size(), 0);
    if (got < 0) {
        error = "Cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    out.resize(static_cast<size_t>(got));
    return true;
}

// The file's name without its directory and last extension: what bare base64 carries.
std::string StemOf(const std::string& path) {
    std::string base(engine::BaseName(path));
    size_t dot = base.rfind('.');
    if (dot != std::string::npos && dot > 0) base.resize(dot);
    return base.empty() ? "attachment" : base;
}

uint32_t DosDateTime(int64_t t) {
    time_t tt = static_cast<time_t>(t);
    struct tm tm {};
    if (!localtime_r(&tt, &tm) || tm.tm_year < 80) return (1 << 5 | 1) << 16;  // 1980-01-01
    return static_cast<uint32_t>((tm.tm_year - 80) << 25 | (tm.tm_mon + 1) << 21 |
                                 tm.tm_mday << 16 | tm.tm_hour << 11 | tm.tm_min << 5 |
                                 tm.tm_sec / 2);
}

bool HasControl(std::string_view name) {
    for (char c : name)
        if (static_cast<uint8_t>(c) < 0x20 || c == 0x7F) return true;
    return false;
}

// Makes each folder of `relative` below `root` (already resolved), refusing to go through
// anything but a real folder.
bool MakeFolders(const std::string& root, const std::vector<std::string>& folders,
                 std::string& path) {
    path = root;
    for (const std::string& f : folders) {
        path += "/" + f;
        struct stat st;
        if (::lstat(path.c_str(), &st) == 0) {
            if (!S_ISDIR(st.st_mode)) return false;
        } else if (::mkdir(path.c_str(), 0777) != 0) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool ReadMailFile(const std::string& path, std::vector<mail::Attachment>& files,
                  std::string& error) {
    std::string text;
    if (!ReadWhole(path, mail::kMaxMailFileSize, text, error)) return false;
    std::optional<std::vector<mail::Attachment>> got =
        mail::DecodeMailFile(text, StemOf(path), error);
    if (!got) {
        error = engine::ShownName(path) + ": " + error;
        return false;
    }
    files = std::move(*got);
    return true;
}

formats::ArchiveKind SingleArchiveKind(const std::vector<mail::Attachment>& files) {
    if (files.size() != 1) return formats::kKindUnknown;
    const std::string& data = files[0].data;
    formats::ArchiveKind kind = formats::KindByExtension(files[0].name);
    if (kind == formats::kKindUnknown) {
        auto bytes = std::span(reinterpret_cast<const uint8_t*>(data.data()), data.size());
        kind = formats::KindByContent(bytes.first(std::min(bytes.size(), formats::kKindHeadSize)),
                                      bytes.last(std::min(bytes.size(), formats::kKindTailSize)));
    }
    // A mail file inside a mail file is listed as a file, not opened in turn.
    return kind == formats::kKindEncodedMail ? formats::kKindUnknown : kind;
}

std::optional<DecodedArchive> WriteDecodedArchive(std::string_view data, std::string& error) {
    const char* tmp = std::getenv("TMPDIR");
    std::string folder = tmp && *tmp ? tmp : "/tmp";
    DecodedArchive out;
    out.fd = engine::UniqueFd(::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
    if (!out.fd) {
        // A file system without O_TMPFILE: a named file, unlinked at once.
        std::string name = folder + "/borvan32-mail-XXXXXX";
        out.fd = engine::UniqueFd(::mkostemp(name.data(), O_CLOEXEC));
        if (out.fd) ::unlink(name.c_str());
    }
    if (!out.fd) {
        error = "Cannot make a temporary file in " + folder + ": " + std::strerror(errno);
        return std::nullopt;
    }
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(out.fd.get(), data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = std::string("Cannot write the decoded archive: ") + std::strerror(errno);
            return std::nullopt;
        }
        done += static_cast<size_t>(n);
    }
    out.path = "/proc/self/fd/" + std::to_string(out.fd.get());
    return out;
}

std::optional<std::string> AttachmentOutputPath(std::string_view name, bool junk_paths) {
    if (name.empty() || HasControl(name)) return std::nullopt;
    std::optional<std::vector<std::string>> parts = engine::SafeComponents(name);
    if (!parts || parts->empty()) return std::nullopt;
    if (junk_paths) return parts->back();
    std::string path;
    for (const std::string& p : *parts) path += (path.empty() ? "" : "/") + p;
    return path;
}

void FillMailListing(const std::vector<mail::Attachment>& files, int64_t mtime, SortOrder sort,
                     Listing& listing) {
    ResetListing(listing, sort);
    std::string error;
    for (const mail::Attachment& f : files) {
        MemberRecord record;
        record.name = f.name;
        record.uncompressed = f.data.size();
        record.compressed = f.data.size();
        record.crc_bits = 0;
        record.method = "Stored";
        record.dos_datetime = DosDateTime(mtime);
        record.unix_time = mtime;
        if (!AddMember(listing, record, error)) {
            listing.cut_short = true;
            break;
        }
    }
    FinishListing(listing);
}

int ExtractAttachments(const std::vector<mail::Attachment>& files, const std::string& folder,
                       bool overwrite, bool junk_paths, const MailSay& say) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    std::string root = std::filesystem::canonical(folder, ec).string();
    if (ec) {
        say(true, "Cannot make the folder " + engine::ShownName(folder));
        return 1;
    }
    mode_t mask = ::umask(0);
    ::umask(mask);
    int status = 0;
    for (const mail::Attachment& f : files) {
        std::string shown = engine::ShownName(f.name);
        std::optional<std::string> relative = AttachmentOutputPath(f.name, junk_paths);
        if (!relative) {
            say(true, "Skipped " + shown + ": the name is not safe to write");
            status = 1;
            continue;
        }
        auto parts = *engine::SafeComponents(*relative);
        std::string base = parts.back();
        parts.pop_back();
        std::string dir;
        if (!MakeFolders(root, parts, dir) || !engine::ResolvesInside(dir, root)) {
            say(true, "Skipped " + shown + ": its folder is not a folder inside the target");
            status = 1;
            continue;
        }
        std::string path = dir + "/" + base;
        struct stat st;
        if (::lstat(path.c_str(), &st) == 0) {
            if (!overwrite || !S_ISREG(st.st_mode)) {
                say(true, "Replace the existing file " + engine::ShownName(path) +
                              "? (answered No; -o or --yes answers Yes)");
                status = 1;
                continue;
            }
        }
        // Written beside and renamed over, so that a failed write leaves no half file.
        std::string temp = dir + "/.borvan32-XXXXXX";
        engine::UniqueFd fd(::mkostemp(temp.data(), O_CLOEXEC));
        bool ok = static_cast<bool>(fd);
        size_t done = 0;
        while (ok && done < f.data.size()) {
            ssize_t n = ::write(fd.get(), f.data.data() + done, f.data.size() - done);
            if (n < 0 && errno == EINTR) continue;
            ok = n > 0;
            if (ok) done += static_cast<size_t>(n);
        }
        ok = ok && ::fchmod(fd.get(), 0666 & ~mask) == 0 &&
             ::rename(temp.c_str(), path.c_str()) == 0;
        if (!ok) {
            if (fd) ::unlink(temp.c_str());
            say(true, "Cannot write " + engine::ShownName(path) + ": " + std::strerror(errno));
            status = 1;
            continue;
        }
        say(false, "   decoding: " + engine::ShownName(path));
    }
    return status;
}

const char* ArchiveMediaType(formats::ArchiveKind kind) {
    switch (kind) {
        case formats::kKindZip:
            return "application/zip";
        case formats::kKindTar:
            return "application/x-tar";
        case formats::kKindGzip:
            return "application/gzip";
        case formats::kKindArj:
            return "application/x-arj";
        case formats::kKindLzh:
            return "application/x-lzh-compressed";
        case formats::kKindArc:
            return "application/x-arc";
        default:
            return "application/octet-stream";
    }
}

std::string WriteArchiveForMail(const std::string& archive, mail::MailForm form,
                                formats::ArchiveKind kind, std::string& error) {
    std::string data;
    // Encoded text is a third larger than the archive; both are held at once.
    if (!ReadWhole(archive, mail::kMaxMailFileSize / 4 * 3, data, error)) return "";
    std::string out = archive + mail::MailFormExtension(form);
    std::string text =
        mail::EncodeForMail(form, data, engine::BaseName(archive), ArchiveMediaType(kind));
    if (!platform::WriteFileAtomically(out, text)) {
        error = "Cannot write " + out + ": " + std::strerror(errno);
        return "";
    }
    return out;
}

}  // namespace shell
