#include "archiver/sfx/stub/extraction.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <vector>

#include "archiver/engine/unzip/extra_fields.h"
#include "archiver/engine/unzip/file_io.h"
#include "archiver/engine/unzip/output_path.h"
#include "archiver/sfx/stub/member_data.h"
#include "platform/dostime.h"

namespace sfx {

namespace {

// The temporary file being written, for RemovePartialFile.
char g_partial[PATH_MAX + 1];

class Runner {
public:
    Runner(int fd, const AppendedArchive& archive, const RunOptions& o, const Reporting& r)
        : fd_(fd), archive_(archive), o_(o), r_(r), ws_(engine::MakeInflateWorkspace()) {
        mode_t mask = ::umask(0);
        ::umask(mask);
        umask_ = mask;
    }

    int List();
    int Test();
    int Extract();

private:
    void Warn(const std::string& text) {
        std::fprintf(r_.err, "%s\n", text.c_str());
        if (status_ < kExitWarning) status_ = kExitWarning;
    }
    void Fail(const std::string& text) {
        std::fprintf(r_.err, "%s\n", text.c_str());
        status_ = kExitError;
    }
    std::optional<std::string> Password(const Member& m);
    DataStatus Decode(const Member& m, const DataSink& sink);
    bool MakeFolders(const std::vector<std::string>& parts, size_t count, const Member& m,
                     std::string& path);
    void ExtractMember(const Member& m);
    void WriteFile(const Member& m, const std::string& folder, const std::string& path);
    void WriteLink(const Member& m, const std::string& path, size_t depth);

    int fd_;
    const AppendedArchive& archive_;
    const RunOptions& o_;
    const Reporting& r_;
    engine::InflateWorkspacePtr ws_;
    mode_t umask_ = 022;
    std::string root_;  // the target folder, resolved
    std::optional<std::string> password_;
    bool password_asked_ = false;
    int wrong_answers_left_ = 3;
    int status_ = kExitOk;
};

// Renames the finished file onto its name. Without `replace` a file that appeared meanwhile is
// still kept (where the file system cannot promise that, a plain rename does).
bool MoveIntoPlace(const std::string& temp, const std::string& path, bool replace) {
    if (!replace) {
        if (::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) == 0)
            return true;
        if (errno != EINVAL && errno != ENOSYS) return false;
    }
    return ::rename(temp.c_str(), path.c_str()) == 0;
}

bool IsFolderEntry(const Member& m) {
    return engine::IsFolderName(
        std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(m.name.data()), m.name.size()));
}

// The password for encrypted members: asked when the first one needs it.
std::optional<std::string> Runner::Password(const Member& m) {
    if (!password_asked_ && r_.ask_password) {
        password_asked_ = true;
        password_ = r_.ask_password(m.name);
    }
    return password_;
}

DataStatus Runner::Decode(const Member& m, const DataSink& sink) {
    std::string password;
    if (IsEncrypted(m) && CanDecode(m)) {
        for (;;) {
            std::optional<std::string> p = Password(m);
            if (!p) return DataStatus::kWrongPassword;
            DataStatus s = DecodeMember(fd_, archive_.data_end, m, *p, *ws_, sink);
            if (s != DataStatus::kWrongPassword || !r_.ask_password || wrong_answers_left_ == 0)
                return s;
            // Nothing reached the sink: the header check comes before any data. A few wrong
            // answers in all, not per member, so that a forgotten password ends the questions.
            --wrong_answers_left_;
            std::fprintf(r_.err, "%s: wrong password\n", Printable(m.name).c_str());
            if (wrong_answers_left_ == 0) return s;
            password_ = r_.ask_password(m.name);
        }
    }
    return DecodeMember(fd_, archive_.data_end, m, password, *ws_, sink);
}

int Runner::List() {
    std::fprintf(r_.out, "   Length  Date       Time   Name\n");
    std::fprintf(r_.out, "---------  ---------- -----  ----\n");
    uint64_t total = 0;
    for (const Member& m : archive_.members) {
        platform::DosFields f = platform::SplitDos(m.header.DosDateTime());
        std::fprintf(r_.out, "%9llu  %04d-%02d-%02d %02d:%02d  %s\n",
                     static_cast<unsigned long long>(m.uncompressed), f.year, f.month, f.day,
                     f.hour, f.minute, Printable(m.name).c_str());
        total += m.uncompressed;
    }
    std::fprintf(r_.out, "---------                    ----\n");
    std::fprintf(r_.out, "%9llu                    %zu member%s\n",
                 static_cast<unsigned long long>(total), archive_.members.size(),
                 archive_.members.size() == 1 ? "" : "s");
    return status_;
}

int Runner::Test() {
    size_t bad = 0;
    for (const Member& m : archive_.members) {
        if (IsFolderEntry(m)) continue;
        DataStatus s = Decode(m, [](const uint8_t*, size_t) { return true; });
        if (s == DataStatus::kOk) {
            std::fprintf(r_.out, "    testing: %s  OK\n", Printable(m.name).c_str());
        } else {
            ++bad;
            Fail(Printable(m.name) + ": " + DataStatusText(s));
        }
    }
    if (bad == 0)
        std::fprintf(r_.out, "No errors detected in %zu members.\n", archive_.members.size());
    else
        std::fprintf(r_.out, "Errors in %zu of %zu members.\n", bad, archive_.members.size());
    return status_;
}

// Creates the first `count` folders of a member's path below the target. A folder that is a
// symbolic link is never written through, whoever made it: the member is refused.
bool Runner::MakeFolders(const std::vector<std::string>& parts, size_t count, const Member& m,
                         std::string& path) {
    path = root_;
    for (size_t i = 0; i < count; ++i) {
        path += "/" + parts[i];
        if (::mkdir(path.c_str(), 0777) == 0) continue;
        struct stat st;
        if (errno != EEXIST || ::lstat(path.c_str(), &st) != 0) {
            Fail(Printable(m.name) + ": cannot create folder " + Printable(path) + ": " +
                 std::strerror(errno));
            return false;
        }
        if (S_ISLNK(st.st_mode)) {
            Warn(Printable(m.name) + ": " + Printable(path) +
                 " is a symbolic link; not extracted through it");
            return false;
        }
        if (!S_ISDIR(st.st_mode)) {
            Fail(Printable(m.name) + ": " + Printable(path) + " is a file, not a folder");
            return false;
        }
    }
    if (!engine::ResolvesInside(path, root_)) {
        Warn(Printable(m.name) + ": would be written outside the folder; not extracted");
        return false;
    }
    return true;
}

void Runner::WriteFile(const Member& m, const std::string& folder, const std::string& path) {
    std::string temp = folder + "/.sfx-XXXXXX";
    engine::UniqueFd out(::mkstemp(temp.data()));
    if (!out) {
        Fail(Printable(m.name) + ": cannot create a file in " + Printable(folder) + ": " +
             std::strerror(errno));
        return;
    }
    if (temp.size() < sizeof g_partial) std::memcpy(g_partial, temp.c_str(), temp.size() + 1);
    int write_errno = 0;
    DataStatus s = Decode(m, [&](const uint8_t* data, size_t n) {
        if (write_errno) return false;
        if (engine::WriteFull(out.get(), data, n)) return true;
        write_errno = errno ? errno : EIO;
        return false;
    });
    std::optional<uint32_t> unix_mode =
        engine::MemberUnixMode(m.header.version_made, m.header.external_attr);
    mode_t mode = unix_mode ? engine::PermissionsToRestore(*unix_mode, umask_)
                            : static_cast<mode_t>(0666 & ~umask_);
    bool ok = s == DataStatus::kOk && write_errno == 0;
    if (ok) {
        time_t t =
            m.mtime ? static_cast<time_t>(*m.mtime) : platform::DosToTime(m.header.DosDateTime());
        if (t != -1) {
            struct timespec times[2] = {{t, 0}, {t, 0}};
            ::futimens(out.get(), times);
        }
        if (::fchmod(out.get(), mode) != 0 || !out.reset()) write_errno = errno ? errno : EIO;
        ok = write_errno == 0 && MoveIntoPlace(temp, path, o_.overwrite);
        if (!ok && write_errno == 0) write_errno = errno;
    }
    if (!ok) {
        out.reset();
        ::unlink(temp.c_str());
        g_partial[0] = '\0';
        if (s != DataStatus::kOk)
            Fail(Printable(m.name) + ": " + DataStatusText(s) + "; not extracted");
        else
            Fail(Printable(m.name) + ": cannot write " + Printable(path) + ": " +
                 std::strerror(write_errno));
        return;
    }
    g_partial[0] = '\0';
    std::fprintf(r_.out, " extracting: %s\n", Printable(m.name).c_str());
}

// A symbolic link member: made only when its target stays inside the folder.
void Runner::WriteLink(const Member& m, const std::string& path, size_t depth) {
    std::string target;
    bool too_long = false;
    DataStatus s = Decode(m, [&](const uint8_t* data, size_t n) {
        if (n > engine::kMaxLinkTarget - std::min(target.size(), engine::kMaxLinkTarget)) {
            too_long = true;
            return false;
        }
        target.append(reinterpret_cast<const char*>(data), n);
        return true;
    });
    if (s != DataStatus::kOk) {
        Fail(Printable(m.name) + ": " + DataStatusText(s) + "; not extracted");
        return;
    }
    if (too_long || target.find('\0') != std::string::npos ||
        !engine::LinkTargetStaysInside(target, depth)) {
        Warn(Printable(m.name) + ": link to " + Printable(target) +
             " leads outside the folder; not extracted");
        return;
    }
    if (o_.overwrite) ::unlink(path.c_str());
    if (::symlink(target.c_str(), path.c_str()) != 0) {
        Fail(Printable(m.name) + ": cannot make the link: " + std::strerror(errno));
        return;
    }
    std::fprintf(r_.out, "    linking: %s -> %s\n", Printable(m.name).c_str(),
                 Printable(target).c_str());
}

void Runner::ExtractMember(const Member& m) {
    std::optional<std::vector<std::string>> parts = engine::SafeComponents(m.name);
    if (!parts || m.name.find('\0') != std::string::npos) {
        Warn(Printable(m.name) + ": unsafe name (absolute or with \"..\"); not extracted");
        return;
    }
    bool folder = IsFolderEntry(m);
    std::string path;
    if (folder) {
        MakeFolders(*parts, parts->size(), m, path);
        return;
    }
    if (!CanDecode(m)) {
        Fail(Printable(m.name) + ": compression method " + std::to_string(m.header.method) +
             " not supported; not extracted");
        return;
    }
    if (!MakeFolders(*parts, parts->size() - 1, m, path)) return;
    std::string folder_path = path;
    path += "/" + parts->back();
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            Fail(Printable(m.name) + ": a folder of that name is in the way; not extracted");
            return;
        }
        if (!o_.overwrite) {
            Warn(Printable(m.name) + ": already exists; not replaced (-o replaces it)");
            return;
        }
    }
    if (engine::IsLinkMode(engine::MemberUnixMode(m.header.version_made, m.header.external_attr)))
        WriteLink(m, path, parts->size() - 1);
    else
        WriteFile(m, folder_path, path);
}

int Runner::Extract() {
    // The folder named with -d is made when missing, with the folders above it.
    std::string folder = o_.folder.empty() ? std::string(".") : o_.folder;
    for (size_t i = 1; i <= folder.size(); ++i)
        if (i == folder.size() || folder[i] == '/') ::mkdir(folder.substr(0, i).c_str(), 0777);
    std::unique_ptr<char, decltype(&std::free)> real(::realpath(folder.c_str(), nullptr),
                                                     &std::free);
    struct stat st;
    if (!real || ::stat(real.get(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        Fail("Cannot use the folder " + Printable(folder));
        return status_;
    }
    root_ = real.get();
    for (const Member& m : archive_.members) ExtractMember(m);
    return status_;
}

}  // namespace

std::string Printable(const std::string& name) {
    std::string s = name;
    for (char& c : s)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    return s;
}

void RemovePartialFile() {
    if (g_partial[0]) ::unlink(g_partial);
}

int Run(int fd, const AppendedArchive& archive, const RunOptions& options,
        const Reporting& report) {
    Runner runner(fd, archive, options, report);
    switch (options.action) {
        case RunOptions::Action::kList:
            return runner.List();
        case RunOptions::Action::kTest:
            return runner.Test();
        case RunOptions::Action::kExtract:
            break;
    }
    return runner.Extract();
}

}  // namespace sfx
