#include "archiver/engine/unzip/member_steps.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <memory>

#include "archiver/engine/unzip/extra_fields.h"
#include "archiver/engine/unzip/extract.h"
#include "archiver/engine/unzip/output_path.h"
#include "archiver/engine/unzip/shown_name.h"
#include "archiver/engine/unzip/zip_directory.h"
#include "platform/codepage.h"
#include "platform/dostime.h"

namespace engine {

namespace {
// Creates a file only where nothing (not even a dangling link) is in its place.
constexpr int kFreshFlags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;

// Times for futimens and utimensat that set the modification time and leave the access time.
std::array<struct timespec, 2> ModificationOnly(time_t mtime) {
    std::array<struct timespec, 2> times{};
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = mtime;
    return times;
}

// The process's umask, read without changing it (other threads may be creating files).
mode_t CurrentUmask() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("Umask:", 0) == 0)
            return static_cast<mode_t>(std::stoul(line.substr(6), nullptr, 8));
    mode_t old = ::umask(022);
    ::umask(old);
    return old;
}
}  // namespace

MemberSteps::MemberSteps(const UnzipCommand& cmd, bool short_names)
    : cmd_(cmd), short_names_(short_names), umask_(CurrentUmask()) {}

mode_t MemberSteps::Permissions(uint32_t mode) const {
    return PermissionsToRestore(mode, umask_);
}

OutputFile::~OutputFile() {
    if (fd && !keep) {
        fd.reset();
        ::unlink(path.c_str());
    }
}

void MemberSteps::Refuse(const std::string& text) {
    SendWarning(text);
    refused_ = true;
}

std::optional<std::string> MemberSteps::Prepare(const std::string& name, const MemberFacts& facts,
                                                bool check_selection) {
    existing_ = false;
    if (check_selection && !cmd_.selection.empty() &&
        std::none_of(cmd_.selection.begin(), cmd_.selection.end(),
                     [&](const std::string& s) { return SelectionMatches(name, s); }))
        return std::nullopt;
    if (platform::Utf8Length(name) > kMaxStoredName) {
        // No fixed buffer limits the name, but an output path built from it could not be
        // created either.
        Refuse(Format(kMsgNameTooLong, static_cast<unsigned>(kMaxStoredName)));
        return std::nullopt;
    }
    auto parts = SafeComponents(name);
    if (!parts) {
        Refuse(Format(kMsgUnsafePath, ShownName(name).c_str()));
        return std::nullopt;
    }
    if (!cmd_.use_folder_names) parts->erase(parts->begin(), parts->end() - 1);
    if (short_names_)
        for (std::string& p : *parts) p = ShortNameComponent(p);
    std::string target = cmd_.target;
    if (target.empty() || target.back() != '/') target += '/';
    if (target != made_target_) {
        MakeTargetFolders(target);
        made_target_ = target;
    }
    std::string folder_path = target;
    for (size_t i = 0; i + 1 < parts->size(); ++i) folder_path += (*parts)[i] + "/";
    std::string out_path = folder_path + parts->back();
    if (!MakeMemberFolders(target, *parts, name)) return std::nullopt;
    if (!Overwrite(out_path, facts)) return std::nullopt;
    return out_path;
}

void MemberSteps::FileInTheWay(const std::string& path) {
    Fail(kClassIo,
         Format("Could not create directory %s\n\rA file with same name already "
                "exists\n\rAborting extract operation",
                ShownName(path).c_str()),
         kUnzipFolderFailed);
}

// Creates one folder unless it exists.
void MemberSteps::MakeFolder(const std::string& path) {
    if (::mkdir(path.c_str(), 0777) == 0) {
        if (created_) created_->push_back(path);
        return;
    }
    if (errno != EEXIST)
        Fail(kClassIo,
             Format("Could not create %s - aborting extract operation", ShownName(path).c_str()),
             kUnzipFolderFailed);
}

// Creates every missing folder of the target the user named (links there are followed).
void MemberSteps::MakeTargetFolders(const std::string& path) {
    size_t i = 0;
    while (i < path.size()) {
        size_t slash = path.find('/', i);
        if (slash == std::string::npos) slash = path.size();
        std::string so_far = path.substr(0, slash);
        i = slash + 1;
        if (so_far.empty()) continue;  // the root of an absolute target
        struct stat st;
        if (::stat(so_far.c_str(), &st) == 0) {
            if (!S_ISDIR(st.st_mode)) FileInTheWay(so_far);
            continue;
        }
        MakeFolder(so_far);
    }
}

// Creates the member's own folders below the target. A folder that already exists as a
// symbolic link is never written through, whether the archive made it or someone left it: the
// member is refused, so that no link can steer output elsewhere, now or after it is changed.
// False when the member is skipped.
bool MemberSteps::MakeMemberFolders(const std::string& target,
                                    const std::vector<std::string>& parts,
                                    const std::string& name) {
    std::string so_far = target;
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
        so_far += parts[i];
        if (known_folders_.count(so_far)) {
            so_far += '/';
            continue;
        }
        // Most folders are new: making one at once spares looking first. mkdir never follows
        // a link at its place, so whatever is there is looked at as before.
        if (::mkdir(so_far.c_str(), 0777) == 0) {
            if (created_) created_->push_back(so_far);
            known_folders_.insert(so_far);
            so_far += '/';
            continue;
        }
        struct stat st;
        if (errno != EEXIST || ::lstat(so_far.c_str(), &st) != 0) {
            MakeFolder(so_far);
            known_folders_.insert(so_far);
        } else if (S_ISLNK(st.st_mode)) {
            if (resolved_target_.empty()) {
                std::unique_ptr<char, decltype(&std::free)> real(
                    ::realpath(target.c_str(), nullptr), &std::free);
                resolved_target_ = real ? real.get() : target;
            }
            const char* why =
                ResolvesInside(so_far, resolved_target_) ? kMsgLinkFolder : kMsgLinkedFolder;
            Refuse(Format(why, ShownName(name).c_str(), ShownName(so_far).c_str()));
            return false;
        } else if (!S_ISDIR(st.st_mode)) {
            FileInTheWay(so_far);
        } else {
            known_folders_.insert(so_far);
        }
        so_far += '/';
    }
    return true;
}

void MemberSteps::DropFresh() {
    if (!fresh_.fd) return;
    fresh_.fd.reset();
    ::unlink(fresh_.path.c_str());
}

// Asks before replacing an existing file (a symbolic link counts as existing); false skips.
bool MemberSteps::Overwrite(const std::string& out_path, const MemberFacts& facts) {
    DropFresh();
    // Most outputs are new: creating the file here, only where nothing is in its place, answers
    // the question of what is there without a look-up. OpenOutput takes it over; a run that
    // ends first removes it again (DropFresh, or fresh_'s end), since nothing was written.
    fresh_.fd.reset(::open(out_path.c_str(), kFreshFlags, 0666));
    if (fresh_.fd) {
        fresh_.path = out_path;
        existing_ = false;
        return true;
    }
    struct stat& st = existing_stat_;
    existing_ = ::lstat(out_path.c_str(), &st) == 0;
    if (!existing_) return true;
    if (cmd_.overwrite_all || Unzip().replace_all) return true;
    BeforeQuestion();
    OverwriteQuery q;
    q.output_path = out_path;
    q.existing_dos_time = platform::TimeToDos(st.st_mtime);
    q.existing_size = static_cast<uint64_t>(st.st_size);
    q.stored_name = facts.stored;
    q.member_dos_time = facts.dos_time;
    q.member_size = facts.size;
    LRESULT reply = platform::SendMessage(Frame().report_window, kMsgOverwrite, 0,
                                          reinterpret_cast<LPARAM>(&q));
    if (reply == kReplace) return true;
    if (reply == kReplaceAll) {
        Unzip().replace_all = true;
        return true;
    }
    if (reply == kSkip) return false;
    EndRun(kUnzipError);
}

void MemberSteps::OpenOutput(OutputFile& out, const std::string& path) {
    if (fresh_.fd && fresh_.path == path) {
        out.path = std::move(fresh_.path);
        out.replaces.clear();
        out.fd = std::move(fresh_.fd);
        return;
    }
    DropFresh();
    // What is in the way keeps its content until the member is complete and checked: the
    // data is written beside it and renamed over it at the end. A file that could not be
    // opened for writing, or a folder, is refused now, before anything is decoded.
    struct stat st;
    bool exists = ::lstat(path.c_str(), &st) == 0;
    if (exists &&
        (S_ISDIR(st.st_mode) ||
         (S_ISREG(st.st_mode) && ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0)))
        Fail(kClassIo, Format("Can't create output file: %s", path.c_str()), kUnzipError);
    size_t slash = path.rfind('/');
    std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    // A short name: the member's own may already be as long as a name can be (and a volume
    // of short names takes no more than 8.3).
    static std::atomic<unsigned> serial{0};
    for (int attempt = 0; attempt < 100 && !out.fd; ++attempt) {
        unsigned n = serial.fetch_add(1);
        out.path = short_names_ ? Format("%sBV%06u.TMP", folder.c_str(), n % 1000000)
                                : Format("%s.borvan32-%ld-%u.tmp", folder.c_str(),
                                         static_cast<long>(::getpid()), n);
        out.fd.reset(::open(out.path.c_str(), kFreshFlags, 0666));
        if (!out.fd && errno != EEXIST) break;
    }
    if (!out.fd)
        Fail(kClassIo, Format("Can't create output file: %s", ShownName(path).c_str()),
             kUnzipError);
    out.replaces = path;
    // A file replaced in place kept its permissions; the new one takes them over.
    if (exists && S_ISREG(st.st_mode)) ::fchmod(out.fd.get(), st.st_mode & 07777);
}

void MemberSteps::Write(OutputFile& out, std::span<const uint8_t> data, bool count_progress) {
    if (out.fd && !WriteFull(out.fd.get(), data.data(), data.size()))
        Fail(kClassIo,
             Format("Error writing to %s.  Possible cause: disk full",
                    ShownName(out.shown()).c_str()),
             kUnzipError);
    if (count_progress) AddProgress(data.size());
}

void MemberSteps::Finish(OutputFile& out, std::optional<time_t> mtime,
                         std::optional<mode_t> permissions) {
    if (!out.fd) return;
    if (permissions) ::fchmod(out.fd.get(), *permissions);
    if (mtime && *mtime != static_cast<time_t>(-1)) {
        auto times = ModificationOnly(*mtime);
        ::futimens(out.fd.get(), times.data());
    }
    if (out.replaces.empty()) {
        out.keep = true;
        if (!out.fd.reset())
            Fail(kClassIo,
                 Format("Error writing to %s.  Possible cause: disk full",
                        ShownName(out.path).c_str()),
                 kUnzipError);
        return;
    }
    // The old file goes only for a new one that is whole on disk.
    if (!out.fd.reset() || ::rename(out.path.c_str(), out.replaces.c_str()) != 0) {
        ::unlink(out.path.c_str());
        out.keep = true;  // nothing left to take away
        Fail(kClassIo,
             Format("Error writing to %s.  Possible cause: disk full",
                    ShownName(out.replaces).c_str()),
             kUnzipError);
    }
    out.path = std::move(out.replaces);
    out.replaces.clear();
    out.keep = true;
    out.replaced = true;
}

void MemberSteps::MakeLink(const std::string& path, const std::string& target, size_t depth,
                           const std::string& name, std::optional<time_t> mtime) {
    DropFresh();
    if (target.size() > kMaxLinkTarget || target.find('\0') != std::string::npos ||
        !LinkTargetStaysInside(target, depth)) {
        Refuse(Format(kMsgLinkLeaves, ShownName(name).c_str(), ShownName(target).c_str()));
        return;
    }
    // Links already on disk along the way (left there, not made by this archive: those were
    // checked as they were made) must not lead out either.
    if (resolved_target_.empty()) {
        std::unique_ptr<char, decltype(&std::free)> real(::realpath(cmd_.target.c_str(), nullptr),
                                                         &std::free);
        resolved_target_ = real ? real.get() : cmd_.target;
    }
    std::string folder = path.substr(0, path.rfind('/') + 1);
    std::string so_far = folder;
    for (size_t i = 0; i <= target.size();) {
        size_t slash = std::min(target.find('/', i), target.size());
        so_far += target.substr(i, slash - i);
        i = slash + 1;
        struct stat st;
        if (::lstat(so_far.c_str(), &st) != 0) break;
        if (S_ISLNK(st.st_mode) && !ResolvesInside(so_far, resolved_target_)) {
            Refuse(Format(kMsgLinkLeaves, ShownName(name).c_str(), ShownName(target).c_str()));
            return;
        }
        so_far += '/';
    }
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) ::unlink(path.c_str());
    if (::symlink(target.c_str(), path.c_str()) != 0) {
        Refuse(Format(kMsgLinkNotMade, ShownName(name).c_str()));
        return;
    }
    if (mtime && *mtime != static_cast<time_t>(-1)) {
        auto times = ModificationOnly(*mtime);
        ::utimensat(AT_FDCWD, path.c_str(), times.data(), AT_SYMLINK_NOFOLLOW);
    }
}

void MemberSteps::StatusLine(const std::string& name) {
    std::string base(BaseName(name));
    SendStatusLine(
        Format("%s %s", cmd_.has_target ? "Extracting" : "Testing", ShownName(base).c_str()));
    ProgressNow();
}

}  // namespace engine
