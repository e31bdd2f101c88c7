#include "archiver/engine/zip/zip.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <new>
#include <system_error>

#include "archiver/engine/unzip/engine_frame.h"
#include "archiver/engine/unzip/file_io.h"
#include "archiver/engine/unzip/shown_name.h"
#include "archiver/engine/zip/parallel_compress.h"
#include "archiver/engine/zip/split_writer.h"
#include "archiver/engine/zip/zip_writer.h"

namespace zip {

namespace {

using engine::Format;

ZipRun MakeRun() {
    ZipRun r;
    // Not blocking: a file that became a pipe since the walk is refused after the open, not
    // waited on.
    r.open_file = [](const char* path) { return ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK); };
    r.read_file = [](int fd, void* buf, size_t n) -> ssize_t {
        for (;;) {
            ssize_t r = ::read(fd, buf, n);
            if (r >= 0 || errno != EINTR) return r;
        }
    };
    r.rename_file = [](const char* from, const char* to) { return std::rename(from, to); };
    r.header_random = DefaultHeaderRandom;
    return r;
}

ZipRun& RunStorage() {
    static ZipRun run = MakeRun();
    return run;
}

// Progress meter messages of the shell's progress window.
constexpr platform::UINT kMeterSetRange = platform::WM_USER + 0;
constexpr platform::UINT kMeterSetPosition = platform::WM_USER + 2;

// Reports a failure once, as "Error: text (detail)", and ends the run.
[[noreturn]] void End(int code, const std::string& detail) {
    if (code != kResultStopped) {
        const char* text = engine::ZipResultText(code);
        // The detail names a file or member: kept on the message's one line.
        std::string shown = engine::ShownName(detail);
        std::string message = *text ? Format("Error: %s (%s)", text, shown.c_str())
                                    : Format("Error: code %d (%s)", code, shown.c_str());
        engine::SendError(engine::ZipResultClass(code), message);
    }
    engine::EndRun(code);
}

void Warn(std::string_view text, std::string_view name) {
    engine::SendWarning("Warning: " + std::string(text) + engine::ShownName(name));
}

std::string_view LastComponent(std::string_view name) {
    size_t slash = name.find_last_of('/', name.size() > 1 ? name.size() - 2 : 0);
    return slash == std::string_view::npos ? name : name.substr(slash + 1);
}

// The old archive's members as selection sees them.
struct MemberList final : SelectionMembers {
    OldArchive* old = nullptr;
    bool short_names = false;
    Selection* selection = nullptr;
    /// A long name that two different files were both going to replace: the name, the file
    /// that took it first and the one that came second.
    std::string clash_name, clash_first, clash_second;

    size_t mark_matching(std::string_view pattern) override {
        size_t n = 0;
        for (Member& m : old->members) {
            if (!names_match(pattern, m.name, true)) continue;
            m.marked = true;
            ++n;
        }
        return n;
    }
    bool take_file(std::string_view name, const std::string& path, bool short_name) override {
        // Names on disk are compared exactly; only 8.3 names, which are upper case, fold.
        auto it = std::lower_bound(old->sorted.begin(), old->sorted.end(), name,
                                   [&](size_t i, std::string_view n) {
                                       return CompareNames(old->members[i].name, n) < 0;
                                   });
        for (; it != old->sorted.end() && CompareNames(old->members[*it].name, name) == 0; ++it) {
            Member& m = old->members[*it];
            if (!short_names && m.name != name) continue;
            // Another file already replaces this member in this run: the second never
            // overwrites the first unseen.
            if (m.marked && !m.file_path.empty() && m.file_path != path) {
                if (short_names) {
                    refuse_short_clash(*selection, m.name, m.file_path, path);
                } else if (clash_name.empty()) {
                    clash_name = m.name;
                    clash_first = m.file_path;
                    clash_second = path;
                }
                return true;
            }
            m.file_path = path;
            m.marked = true;
            m.short_name = short_name;
            return true;
        }
        return false;
    }
};

mode_t CurrentUmask() {
    mode_t mask = ::umask(022);
    ::umask(mask);
    return mask;
}

// Checks that the archive can be written at all before anything is built; returns the
// permission the new archive gets, and whether a file of that name is there to be replaced.
mode_t CheckWritable(const std::string& archive, bool& exists) {
    struct stat st;
    exists = ::stat(archive.c_str(), &st) == 0;
    if (exists) {
        if (!S_ISREG(st.st_mode)) End(kResultCreate, archive);
        engine::UniqueFd fd(::open(archive.c_str(), O_RDWR | O_CLOEXEC));
        if (!fd) End(kResultCreate, archive);
        return st.st_mode & 07777;
    }
    engine::UniqueFd fd(::open(archive.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (!fd) End(kResultCreate, archive);
    fd.reset();
    ::unlink(archive.c_str());
    return 0666 & ~CurrentUmask();
}

// Which marked members are really rewritten, which found files are added.
void FilterSelection(ZipRun& run) {
    const ZipCommand& s = run.settings;
    if (s.action != kActionDelete) {
        for (Member& m : run.old.members) {
            if (!m.marked) continue;
            platform::DosDateTime t = m.file_path.empty() ? 0 : file_time(m.file_path, 0, 0);
            bool newer = s.action == kActionAdd || t > m.DosDateTime();
            if (t != 0 && newer) continue;
            m.marked = false;
            m.up_to_date = t != 0;
        }
    }
    std::vector<FoundFile>& found = run.selection.found;
    if (s.action == kActionDelete || s.action == kActionFreshen) {
        found.clear();
        return;
    }
    std::vector<FoundFile> kept;
    for (FoundFile& f : found) {
        // The walk looked at each file a moment ago; its writing looks again at the open file.
        if (!f.regular || f.path == s.archive) continue;
        // The 64-bit records hold a member of any size an archive can hold.
        if (f.size >= run.max_file_size) {
            Warn("The file is too big to be stored in a zip file and will be skipped: ", f.path);
            continue;
        }
        kept.push_back(std::move(f));
    }
    found = std::move(kept);
}

struct RunFiles {
    OutArchive out;
    engine::UniqueFd old_fd;
    bool keep_temp = false;
    /// Worker threads compressing ahead of the writer; none with one thread. Last, so that
    /// the workers stop before the files close.
    std::unique_ptr<ParallelCompressor> parallel;

    int Write(Member& m, std::string& detail) {
        return parallel ? parallel->WriteNext(m, out, detail) : WriteMember(m, out, detail);
    }
};

// Members written from files, in the order the writer takes them: the rewritten old members,
// then the new files.
std::vector<Member> MembersToCompress(const ZipRun& run) {
    std::vector<Member> list;
    if (run.settings.action == kActionDelete) return list;
    for (const Member& m : run.old.members)
        if (m.marked) list.push_back(m);
    for (const FoundFile& f : run.selection.found) {
        Member m;
        m.file_path = f.path;
        m.name = f.stored_name;
        m.short_name = f.short_name;
        m.marked = true;
        list.push_back(std::move(m));
    }
    return list;
}

void StartWorkers(ZipRun& run, RunFiles& files) {
    // Storing without a cipher is reading and writing only: workers would add copies and
    // hand-overs without taking any work off this thread.
    if (run.settings.method == 0 && !run.settings.password_given) return;
    std::vector<Member> list = MembersToCompress(run);
    unsigned threads = CompressThreads(run.settings.threads, list.size());
    if (threads <= 1) return;
    try {
        files.parallel =
            std::make_unique<ParallelCompressor>(CurrentMemberSettings(), std::move(list), threads,
                                                 run.settings.temp_folder, run.pending_memory);
    } catch (const std::system_error&) {
        // No thread could be started: this thread compresses every member itself.
    }
}

void Select(ZipRun& run, MemberList& list) {
    Selection& sel = run.selection;
    sel.delete_action = run.settings.action == kActionDelete;
    sel.recurse = run.settings.recurse;
    sel.store_folders = run.settings.store_folder_names;
    sel.follow_links = run.settings.follow_links;
    sel.short_names = run.settings.short_names;
    sel.archive_path = run.settings.archive;
    sel.members = &list;
    sel.stop_requested = [] {
        engine::CheckStop();
        return false;
    };
    sel.warn = [](std::string_view text, std::string_view name) { Warn(text, name); };
    SelectOutcome outcome = select_names(sel, run.settings.names);
    if (outcome.result != 0) End(outcome.result, outcome.name);
    if (!list.clash_name.empty()) {
        // As for two new files under one name: said with both paths, and nothing is written.
        Warn("name in zip file repeated: ", list.clash_name);
        Warn("  first full name: ", list.clash_first);
        Warn(" second full name: ", list.clash_second);
        End(kResultBadRequest, "cannot repeat names in zip file");
    }
    int d = check_duplicates(sel);
    if (d == kResultBadRequest) End(d, "cannot repeat names in zip file");
    if (d != 0) End(d, "was processing list of files");
}

// Every old member is copied, rewritten from its file, or left out.
void WriteOldMembers(ZipRun& run, RunFiles& files, std::vector<Member>& written) {
    const ZipCommand& s = run.settings;
    for (Member& m : run.old.members) {
        if (written.size() >= files.out.max_members) End(kResultTooBig, s.archive);
        if (m.marked && s.action == kActionDelete) {
            engine::SendStatus("deleting " + engine::ShownName(m.name));
            continue;
        }
        if (m.marked) {
            engine::SendStatus("updating " + engine::ShownName(LastComponent(m.name)),
                               engine::kStatusLineOnly);
            engine::SendStatus("updating " + engine::ShownName(m.name), engine::kStatusOutputOnly);
            Member fresh = m;
            std::string detail;
            int r = files.Write(fresh, detail);
            if (r == 0) {
                written.push_back(std::move(fresh));
                continue;
            }
            if (r != kResultNotRead) End(r, detail.empty() ? "was zipping " + m.file_path : detail);
            run.some_not_read = true;
            Warn("could not open for reading: ", m.file_path);
            Warn("will just copy entry over: ", m.name);
            m.marked = false;
        }
        Member copy = m;
        if (int r = CopyMember(copy, files.old_fd.get(), files.out))
            End(r, "was copying " + m.name);
        written.push_back(std::move(copy));
    }
}

// The files found on disk become new members.
void WriteNewMembers(ZipRun& run, RunFiles& files, std::vector<Member>& written) {
    for (FoundFile& f : run.selection.found) {
        if (written.size() >= files.out.max_members) End(kResultTooBig, run.settings.archive);
        Member m;
        m.file_path = f.path;
        m.name = f.stored_name;
        m.short_name = f.short_name;
        m.marked = true;
        engine::SendStatus("  Adding " + engine::ShownName(LastComponent(m.name)),
                           engine::kStatusLineOnly);
        engine::SendStatus("  Adding " + engine::ShownName(m.name), engine::kStatusOutputOnly);
        std::string detail;
        int r = files.Write(m, detail);
        if (r == kResultNotRead) {
            run.some_not_read = true;
            Warn("could not open for reading: ", f.path);
            continue;
        }
        if (r != 0) End(r, detail.empty() ? "was zipping " + f.path : detail);
        written.push_back(std::move(m));
    }
}

// Replacing failed: the new archive stays on disk under the archive's name in the temporary
// folder when that name is free, else under its temporary name.
[[noreturn]] void KeepNewArchive(RunFiles& files, int result) {
    const std::string& archive = Run().settings.archive;
    std::string kept = files.out.path;
    size_t slash = kept.rfind('/');
    std::string beside = (slash == std::string::npos ? "" : kept.substr(0, slash + 1)) +
                         std::string(LastComponent(archive));
    if (::link(kept.c_str(), beside.c_str()) == 0) {
        ::unlink(kept.c_str());
        kept = beside;
    }
    files.keep_temp = true;
    engine::SendError(
        engine::kClassReplaceFailed,
        Format("Could NOT create/update ZIP file.\nProbable cause: disk full.\nNew ZIP file "
               "left on disk as %s",
               engine::ShownName(kept).c_str()));
    engine::EndRun(result);
}

// After the archive took its place: the files moved into it are deleted, and the status says
// when something asked for is missing from it.
void DeleteMoved(ZipRun& run, const std::vector<Member>& written) {
    if (run.settings.move) {
        std::vector<MovedEntry> moved;
        for (const Member& m : written)
            if ((m.marked || m.up_to_date) && !m.file_path.empty())
                moved.push_back({m.name, m.file_path});
        if (int d = delete_moved(moved, run.selection.entered_folders))
            End(d, "was deleting moved files and directories");
    }
    if (run.selection.refused > 0) engine::EndRun(kResultBadRequest);
    if (run.some_not_read) engine::EndRun(kResultNotRead);
}

void Execute(ZipRun& run, RunFiles& files) {
    ZipCommand& s = run.settings;
    files.out.max_size = run.max_archive_size;
    files.out.max_members = run.max_members;
    if (s.split_size != 0 && s.split_size < kMinVolumeSize)
        End(kResultBadRequest, "volumes must hold at least 64 KiB");
    // A split archive's volumes would each need rewriting: it is refused whole.
    if (IsSplitArchive(s.archive)) {
        engine::SendError(engine::kClassInvalidRequest, kMsgUpdateSplit);
        engine::EndRun(kResultBadRequest);
    }
    if (int r = ReadForUpdate(s.archive, run.old)) End(r, s.archive);
    if (s.split_size != 0 && run.old.preamble != 0)
        End(kResultBadRequest, "an archive with a program in front is not split");
    if (s.action == kActionDelete) s.store_folder_names = true;
    MemberList list;
    list.old = &run.old;
    list.short_names = s.short_names;
    list.selection = &run.selection;
    Select(run, list);
    if (run.old.members.empty() && s.action != kActionAdd) Warn(s.archive, " not found or empty");
    if (s.temp_folder.empty()) {
        size_t slash = s.archive.rfind('/');
        if (slash != std::string::npos) s.temp_folder = s.archive.substr(0, slash + 1);
    }
    FilterSelection(run);
    bool any_marked = std::any_of(run.old.members.begin(), run.old.members.end(),
                                  [](const Member& m) { return m.marked; });
    if (!any_marked && run.selection.found.empty()) End(kResultNothingToDo, s.archive);
    bool replacing = false;
    mode_t mode = CheckWritable(s.archive, replacing);
    bool had_content = !run.old.members.empty() || run.old.preamble != 0;
    if (had_content) {
        files.old_fd.reset(::open(s.archive.c_str(), O_RDONLY | O_CLOEXEC));
        if (!files.old_fd) End(kResultMissingZip, s.archive);
    }
    if (CreateTemp(s.temp_folder, files.out) != 0)
        End(kResultTempFile, TempTemplate(s.temp_folder));
    bool sync_at_end = replacing || s.move;
    files.out.write_behind = sync_at_end;
    if (run.old.preamble != 0) {
        int r = CopyBytes(files.old_fd.get(), 0, run.old.preamble, files.out);
        if (r != 0) End(r, r == kResultTempFile ? files.out.path : s.archive);
    }
    uint64_t total = 0;
    if (s.action != kActionDelete) {
        total = run.selection.progress_total;
        for (const Member& m : run.old.members)
            if (!m.marked) total += m.compressed_size;
        engine::Frame().progress_expected = total;
        // The range goes in the first parameter, where the meter reads it: sent in the second,
        // the meter kept a range of 0 and stood at 0% however far the run got.
        platform::SendMessage(s.progress_window, kMeterSetRange, engine::ProgressUnits(total), 0);
        platform::SendMessage(s.progress_window, kMeterSetPosition, 0, 0);
    }
    std::vector<Member> written;
    StartWorkers(run, files);
    WriteOldMembers(run, files, written);
    if (s.action != kActionDelete) WriteNewMembers(run, files, written);
    files.parallel.reset();
    std::fill(s.password.begin(), s.password.end(), '\0');
    if (s.action != kActionDelete)
        platform::SendMessage(s.progress_window, kMeterSetPosition, engine::ProgressUnits(total),
                              0);
    uint64_t directory_start = files.out.pos;
    int r = WriteDirectory(written, run.old.comment, files.out);
    if (r != 0) End(r, r == kResultTooBig ? s.archive : files.out.path);
    if (s.split_size != 0 && files.out.pos > s.split_size) {
        // Laid out again as volumes; an archive that fits one volume stays one plain file.
        std::string detail;
        engine::CheckStop();
        r = WriteSplitArchive(files.out.fd.get(), written, directory_start, run.old.comment,
                              s.archive, s.split_size, mode, sync_at_end, detail);
        if (r != 0) End(r, detail);
        DeleteMoved(run, written);
        return;
    }
    // On disk before it takes the old archive's place, or before moved files are deleted, so
    // that a crash cannot trade what was safe for a hollow archive. A new archive replaces
    // nothing: waiting for the disk would only slow the run down.
    if (sync_at_end && ::fsync(files.out.fd.get()) != 0) End(kResultTempFile, files.out.path);
    if (!files.out.fd.reset()) End(kResultTempFile, files.out.path);
    // The last moment a stop can keep the old archive: after this the new one is in place.
    engine::CheckStop();
    files.old_fd.reset();
    r = ReplaceArchive(s.archive, files.out.path, mode);
    if (r != 0) KeepNewArchive(files, r);
    files.keep_temp = true;  // it is the archive now
    DeleteMoved(run, written);
}

}  // namespace

ZipRun& Run() {
    return RunStorage();
}
void ResetRun() {
    RunStorage() = MakeRun();
}

int ZIP(ZipCommand& cmd) {
    engine::BusyGuard busy;
    if (!busy.acquired) return 0;
    engine::EngineFrame& frame = engine::Frame();
    platform::HWND saved_report = frame.report_window;
    frame.report_window = cmd.report_window;
    engine::ResetProgress();
    ZipRun& run = Run();
    int result = 0;
    RunFiles files;
    try {
        run.settings = cmd;
        run.old = OldArchive{};
        run.selection = Selection{};
        run.some_not_read = false;
        Execute(run, files);
    } catch (const engine::EarlyEnd& e) {
        result = e.result;
    } catch (const std::bad_alloc&) {
        try {
            engine::SendError(engine::kClassMemory, "Error: Out of memory (was zipping)");
        } catch (...) {
        }
        result = kResultMemory;
    } catch (...) {
        result = kResultInternal;
    }
    // An early end leaves no temporary archive behind; the old archive was never touched.
    files.parallel.reset();
    files.out.fd.reset();
    if (!files.keep_temp && !files.out.path.empty()) ::unlink(files.out.path.c_str());
    std::fill(run.settings.password.begin(), run.settings.password.end(), '\0');
    run.settings.password.clear();
    run.old = OldArchive{};
    run.selection = Selection{};
    cmd.result = result;
    frame.report_window = saved_report;
    return 1;
}

}  // namespace zip
