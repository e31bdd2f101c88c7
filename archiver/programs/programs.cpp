#include "archiver/programs/programs.h"

#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "archiver/formats/listed_member.h"
#include "archiver/programs/exit_codes.h"
#include "archiver/programs/private_folder.h"

namespace programs {

namespace {

struct OperationState {
    bool arj_checked = false;  // the ARJ program's date is checked once a session
};

OperationState& State() {
    static OperationState state;
    return state;
}

// ARJ before version 2.3 does not understand the switches used; its file date tells.
bool ArjNewEnough(const std::string& found) {
    if (State().arj_checked) return true;
    struct stat st {};
    if (stat(found.c_str(), &st) != 0) return false;
    std::tm first{};
    first.tm_year = 92;
    first.tm_mon = 0;
    first.tm_mday = 19;
    if (st.st_mtime < std::mktime(&first)) return false;
    State().arj_checked = true;
    return true;
}

// Moves what an archiver extracted into `stage` to the same places below `target`. Existing
// files are replaced when `replace` is set, otherwise kept; places behind a link, and files
// where a folder stands (or the reverse), are kept as well. What stayed is named in `kept`.
// Only folders and plain files are moved.
void MoveExtracted(const std::string& stage, const std::string& target, bool replace,
                   std::vector<std::string>& kept, const std::string& relative = {}) {
    std::error_code ec;
    for (std::filesystem::directory_iterator it(stage, ec), end; !ec && it != end;
         it.increment(ec)) {
        std::string name = it->path().filename().string();
        std::string rel = relative.empty() ? name : relative + "/" + name;
        std::string dst = target + "/" + name;
        struct stat src_st {
        }, dst_st{};
        if (lstat(it->path().c_str(), &src_st) != 0) continue;
        bool exists = lstat(dst.c_str(), &dst_st) == 0;
        if (S_ISDIR(src_st.st_mode)) {
            if (!exists && mkdir(dst.c_str(), 0755) == 0) exists = lstat(dst.c_str(), &dst_st) == 0;
            if (exists && S_ISDIR(dst_st.st_mode))
                MoveExtracted(it->path().string(), dst, replace, kept, rel);
            else
                kept.push_back(rel + "/");
        } else if (S_ISREG(src_st.st_mode)) {
            // rename() replaces a link itself, never what it points to.
            bool may = !exists || (replace && !S_ISDIR(dst_st.st_mode));
            if (!may || rename(it->path().c_str(), dst.c_str()) != 0) kept.push_back(rel);
        }
    }
}

// The LHA that a program path is, by the name it resolves to and, failing that, by what its
// file holds (jlha is a script starting Java).
LhaFlavour FlavourOf(const std::string& found) {
    std::error_code ec;
    std::string real = std::filesystem::canonical(found, ec).filename().string();
    if (ec) real = found.substr(found.rfind('/') + 1);
    if (real == "lhasa") return LhaFlavour::kLhasa;
    if (real == "jlha") return LhaFlavour::kJlha;
    std::string head(4096, '\0');
    if (FILE* f = std::fopen(found.c_str(), "rb")) {
        head.resize(std::fread(head.data(), 1, head.size(), f));
        std::fclose(f);
    }
    if (head.find("jlhafrontend") != std::string::npos) return LhaFlavour::kJlha;
    if (real == "lha" && head.compare(0, 4,
                                      "\x7f"
                                      "ELF") != 0)
        return LhaFlavour::kFull;
    return real == "lha" ? LhaFlavour::kLhasa : LhaFlavour::kFull;
}

// Debian's two LHAs do different halves of the work: lhasa reads correctly but cannot
// write, jlha writes but misses damage when it reads. Each operation goes to the one that
// does it well when both are installed.
std::string ChooseLha(const std::string& configured, Operation op, LhaFlavour& flavour) {
    flavour = FlavourOf(configured);
    bool writes = op == Operation::kAdd || op == Operation::kDelete;
    if (writes && flavour == LhaFlavour::kLhasa) {
        std::string jlha = FindOnPath("jlha");
        if (!jlha.empty()) {
            flavour = LhaFlavour::kJlha;
            return jlha;
        }
    }
    if (!writes && flavour == LhaFlavour::kJlha) {
        std::string lhasa = FindOnPath("lhasa");
        if (!lhasa.empty()) {
            flavour = LhaFlavour::kLhasa;
            return lhasa;
        }
    }
    return configured;
}

// jlha says "SEVERE", "Exception" or "Fatal error" on damage, yet ends with exit code 0.
bool JlhaReportsFailure(const std::string& output) {
    for (const char* mark : {"SEVERE", "Exception", "Fatal error", "rror:"})
        if (output.find(mark) != std::string::npos) return true;
    return false;
}

uint16_t Crc16(const std::string& path, bool& readable) {
    uint16_t crc = 0;
    readable = false;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return 0;
    unsigned char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
        for (size_t i = 0; i < n; ++i) {
            crc ^= buf[i];
            for (int b = 0; b < 8; ++b) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
        }
    }
    readable = !std::ferror(f);
    std::fclose(f);
    return crc;
}

// jlha extracts damaged members without a word: every listed plain member it was asked for
// must be there with its listed size and CRC-16. The names that fail are returned.
std::vector<std::string> VerifyLzhExtraction(const std::string& stage,
                                             const std::vector<formats::ListedMember>& members,
                                             const std::vector<std::string>& asked,
                                             bool folder_names) {
    std::vector<std::string> bad;
    for (const formats::ListedMember& m : members) {
        if (m.name.empty() || m.name.back() == '/') continue;
        if (!asked.empty() && std::find(asked.begin(), asked.end(), m.name) == asked.end())
            continue;
        std::string rel = folder_names ? m.name : m.name.substr(m.name.rfind('/') + 1);
        std::string path = stage + "/" + rel;
        struct stat st {};
        bool readable = false;
        if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
            static_cast<uint64_t>(st.st_size) != m.size || Crc16(path, readable) != m.crc ||
            !readable)
            bad.push_back(m.name);
    }
    return bad;
}

// Copies `from` to `to` with its permission bits; false when that fails.
bool CopyArchive(const std::string& from, const std::string& to) {
    std::error_code ec;
    if (!std::filesystem::copy_file(from, to, ec) || ec) return false;
    struct stat st {};
    if (stat(from.c_str(), &st) == 0) chmod(to.c_str(), st.st_mode & 07777);
    return true;
}

std::string FolderOfPath(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string Absolute(const std::string& path) {
    std::error_code ec;
    std::filesystem::path p = std::filesystem::absolute(path, ec);
    return ec ? path : p.string();
}

}  // namespace

bool NameLeavesFolder(const std::string& name) {
    if (name.empty()) return false;
    if (name[0] == '/' || name[0] == '\\') return true;
    if (name.size() >= 2 && name[1] == ':') return true;
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find_first_of("/\\", start);
        if (end == std::string::npos) end = name.size();
        if (name.compare(start, end - start, "..") == 0) return true;
        start = end + 1;
    }
    return false;
}

namespace {

// The most output one byte of an archive's data can become: ARJ and LHA methods code a match
// of at most 256 bytes in no less than one bit; ARC's crunching nests 12-bit LZW strings of
// up to 4,096 bytes inside run-length repeats of up to 255.
constexpr uint64_t kLzMostExpansion = 1 << 12;
constexpr uint64_t kArcMostExpansion = 1 << 18;

// The message for a run that did not end with exit code 0 on its own.
std::string FailureMessage(formats::ArchiveKind kind, Operation op, const std::string& program,
                           const RunResult& r, const RunLimits& limits) {
    std::string display = ProgramDisplayName(kind);
    if (r.stopped) return display + " was stopped; what it had written was removed";
    if (r.over_limit)
        return display + " was stopped: its output passed the " +
               std::to_string(limits.max_folder_bytes) +
               " bytes that the archive's listing allows; what it had written was removed";
    if (r.signal != 0) return CrashMessage(program, r.signal);
    if (kind == formats::kKindArc)
        return (op == Operation::kTest ? "Error testing\n" : "Error extracting\n") + r.output;
    return ExitCodeMessage(kind == formats::kKindArj ? ExitTable::kArj : ExitTable::kLha,
                           r.exit_code);
}

// Runs the commands in `folder`; the outcome's fields are set from the first that fails.
void RunCommands(const std::vector<std::vector<std::string>>& commands, const std::string& folder,
                 const RunLimits& limits, formats::ArchiveKind kind, Operation op,
                 LhaFlavour flavour, OperationOutcome& out, std::string& output) {
    out.ok = true;
    for (const auto& argv : commands) {
        RunResult r = RunCaptured(argv, folder, limits);
        output += r.output;
        if (!r.started) {
            out.ok = false;
            out.message = "Could not run " + argv[0] + ": " + std::strerror(r.error);
            return;
        }
        out.ran = true;
        out.exit_code = r.exit_code;
        out.stopped = r.stopped;
        bool jlha_failed = kind == formats::kKindLzh && flavour == LhaFlavour::kJlha &&
                           JlhaReportsFailure(r.output);
        if (r.exit_code != 0 || r.stopped || r.over_limit || jlha_failed) {
            out.ok = false;
            if (r.exit_code == 0) out.exit_code = r.stopped || r.over_limit ? 1 : 2;
            out.message = jlha_failed && r.exit_code == 0 && !r.stopped && !r.over_limit
                              ? ExitCodeMessage(ExitTable::kLha, 2) + "\n" + r.output
                              : FailureMessage(kind, op, argv[0], r, limits);
            return;
        }
    }
}

std::string Kept(const std::vector<std::string>& kept) {
    std::string list;
    for (const std::string& k : kept) list += "\n" + k;
    return list;
}

// Extraction and test: the program writes into a new folder of its own (inside the target,
// so that moving is a rename; a private one for a test). What it wrote is moved over only
// when it ended well, and the folder goes however it ended, so a stopped, crashed or runaway
// program leaves nothing behind.
void Extract(const OperationRequest& request, ArgvInputs args, const std::string& folder,
             OperationOutcome& out, std::string& output) {
    bool test = request.op == Operation::kTest;
    std::vector<formats::ListedMember> members;
    std::string list_error;
    formats::ReadProgramKindListing(request.kind, request.args.archive, members, list_error);
    uint64_t declared = 0;
    for (const formats::ListedMember& m : members) declared += m.size;
    for (const std::string& name : request.member_names) {
        if (NameLeavesFolder(name)) {
            out.message =
                "The archive holds a member whose name leads out of the target "
                "folder (" +
                name + "); nothing was extracted";
            return;
        }
    }
    for (const formats::ListedMember& m : members) {
        if (NameLeavesFolder(m.name)) {
            out.message =
                "The archive holds a member whose name leads out of the target "
                "folder (" +
                m.name + "); nothing was extracted";
            return;
        }
    }
    struct stat st {};
    if (!test && (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))) {
        out.message = "Could not find the folder \"" +
                      (request.folder.empty() ? std::string(".") : request.folder) + "\"";
        return;
    }
    // jlha misses damage: it is tested by extracting into a private folder and checking
    // every member against the listing.
    bool jlha = request.kind == formats::kKindLzh && args.lha == LhaFlavour::kJlha;
    Operation op = test && jlha ? Operation::kExtract : request.op;
    std::string stage;
    if (test) {
        stage = MakePrivateFolder("borvan-test.");
    } else {
        stage = folder + "/.borvan-extract.XXXXXX";
        if (!mkdtemp(stage.data())) stage.clear();
    }
    if (stage.empty()) {
        out.message =
            "Could not make a folder in " + (test ? std::string("the temporary folder") : folder);
        return;
    }
    bool replace = args.overwrite;
    args.overwrite = true;  // the folder is new: nothing there to ask about
    if (test && jlha) args.folder_names = true;
    std::string refusal;
    std::vector<std::vector<std::string>> commands =
        ProgramCommands(request.kind, op, args, refusal);
    if (commands.empty()) {
        out.message = refusal;
        RemoveTree(stage);
        return;
    }
    RunLimits limits;
    if (op == Operation::kExtract) {
        // What the listing declares, but never more than the archive's bytes can expand to
        // (a header may declare gigabytes for a few hundred bytes of data), with a little
        // room for text-mode line ends.
        std::error_code ec;
        uint64_t bytes = std::filesystem::file_size(request.args.archive, ec);
        uint64_t factor = request.kind == formats::kKindArc ? kArcMostExpansion : kLzMostExpansion;
        uint64_t plausible = ec || bytes > UINT64_MAX / factor ? UINT64_MAX : bytes * factor;
        uint64_t allowed = std::min(declared, plausible);
        limits.watch_folder = stage;
        limits.max_folder_bytes = allowed + allowed / 8 + 65536;
    }
    RunCommands(commands, stage, limits, request.kind, op, args.lha, out, output);
    if (out.ok && jlha) {
        std::vector<std::string> bad = VerifyLzhExtraction(
            stage, members, test ? std::vector<std::string>{} : args.files, args.folder_names);
        if (!bad.empty()) {
            out.ok = false;
            out.exit_code = 1;
            out.message = ExitCodeMessage(ExitTable::kLha, 1) +
                          "\nMissing or damaged after extracting:" + Kept(bad);
        }
    }
    if (out.ok && !test) {
        std::vector<std::string> kept;
        MoveExtracted(stage, folder, replace, kept);
        if (!kept.empty()) {
            out.ok = false;
            out.kept = true;
            out.exit_code = 1;
            out.message = request.kind == formats::kKindArc
                              ? "Error extracting" + Kept(kept)
                              : ExitCodeMessage(request.kind == formats::kKindArj ? ExitTable::kArj
                                                                                  : ExitTable::kLha,
                                                1) +
                                    Kept(kept);
        }
    }
    RemoveTree(stage);
}

// Add and delete: the program works on a copy in a new folder beside the archive, which
// replaces the archive only when the program ended well; a stopped or failed run leaves the
// archive as it was and its temporary files go with the folder.
void Change(const OperationRequest& request, ArgvInputs args, const std::string& folder,
            OperationOutcome& out, std::string& output) {
    std::string archive = args.archive;
    std::string work = FolderOfPath(archive) + "/.borvan-work.XXXXXX";
    if (!mkdtemp(work.data())) {
        out.message = "Could not make a folder in " + FolderOfPath(archive);
        return;
    }
    std::string copy = work + "/" + archive.substr(archive.rfind('/') + 1);
    struct stat st {};
    bool existed = stat(archive.c_str(), &st) == 0;
    if (existed && !CopyArchive(archive, copy)) {
        out.message = "I/O error for file " + copy +
                      ".  Possible causes include disk full and a read-only or locked disk";
        RemoveTree(work);
        return;
    }
    args.archive = copy;
    std::string refusal;
    std::vector<std::vector<std::string>> commands =
        ProgramCommands(request.kind, request.op, args, refusal);
    if (commands.empty()) {
        out.message = refusal;
        RemoveTree(work);
        return;
    }
    if (request.op == Operation::kDelete) {
        // jlha rewrites the archive even when nothing matched: a delete that names no member
        // stops here, for every archiver alike.
        std::vector<formats::ListedMember> members;
        std::string error;
        formats::ReadProgramKindListing(request.kind, archive, members, error);
        bool any = false;
        for (const std::string& pattern : args.files)
            for (const formats::ListedMember& m : members)
                any = any || fnmatch(pattern.c_str(), m.name.c_str(), FNM_CASEFOLD) == 0;
        if (!any) {
            out.exit_code = 1;
            out.message = error.empty() ? "No files found for specified action" : error;
            RemoveTree(work);
            return;
        }
    }
    RunCommands(commands, request.op == Operation::kAdd ? folder : work, {}, request.kind,
                request.op, args.lha, out, output);
    if (out.ok) {
        struct stat made {};
        if (stat(copy.c_str(), &made) == 0) {
            if (rename(copy.c_str(), archive.c_str()) != 0) {
                out.ok = false;
                out.message = "Could not replace " + archive + ": " + std::strerror(errno);
            }
        } else if (existed) {
            unlink(archive.c_str());  // the program removed an archive left without members
        }
    }
    RemoveTree(work);
}

}  // namespace

OperationOutcome RunArchiveOperation(const OperationRequest& request,
                                     const ProgramLocations& locations) {
    OperationOutcome out;
    const std::string& configured = ProgramFor(locations, request.kind);
    std::string display = ProgramDisplayName(request.kind);
    std::string found = FindOnPath(configured);
    if (configured.empty() || found.empty()) {
        out.message = display + " not installed in Options/Program Locations dialog box";
        return out;
    }
    if (request.kind == formats::kKindArj && !ArjNewEnough(found)) {
        out.message = "Aborting operation - Borvan requires ARJ version 2.3 or later";
        return out;
    }
    ArgvInputs args = request.args;
    args.program = configured;
    if (request.kind == formats::kKindLzh) args.program = ChooseLha(found, request.op, args.lha);
    args.archive = Absolute(args.archive);
    std::string folder = Absolute(request.folder.empty() ? std::string(".") : request.folder);
    std::string output;
    if (request.op == Operation::kExtract || request.op == Operation::kTest) {
        OperationRequest absolute = request;
        absolute.args.archive = args.archive;
        Extract(absolute, args, folder, out, output);
    } else if (request.op == Operation::kAdd || request.op == Operation::kDelete) {
        Change(request, args, folder, out, output);
    } else {
        std::string refusal;
        std::vector<std::vector<std::string>> commands =
            ProgramCommands(request.kind, request.op, args, refusal);
        if (commands.empty())
            out.message = refusal;
        else
            RunCommands(commands, folder, {}, request.kind, request.op, args.lha, out, output);
    }
    if (out.ok && request.op == Operation::kTest)
        out.message = "Test of " + request.args.archive + " ended without errors";
    SetLastOutput(std::move(output));
    return out;
}

bool ExtractAllWithProgram(formats::ArchiveKind kind, const std::string& archive,
                           const std::string& folder, const ProgramLocations& locations,
                           std::string& error) {
    OperationRequest request;
    request.kind = kind;
    request.op = Operation::kExtract;
    request.args.archive = archive;
    request.args.overwrite = true;
    request.folder = folder;
    std::vector<formats::ListedMember> members;
    if (!formats::ReadProgramKindListing(kind, archive, members, error)) return false;
    for (const auto& m : members) request.member_names.push_back(m.name);
    OperationOutcome out = RunArchiveOperation(request, locations);
    if (!out.ok) error = out.message.empty() ? "Error extracting" : out.message;
    return out.ok;
}

}  // namespace programs
