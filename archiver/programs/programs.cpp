#include "archiver/programs/programs.h"

#include <sys/stat.h>
#include <unistd.h>

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

// Moves what an archiver extracted into `stage` to the same places below `target` where
// nothing is there yet; existing files, and places behind a link, are kept and named in
// `kept`. Only folders and plain files are moved.
void MoveNewFiles(const std::string& stage, const std::string& target,
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
                MoveNewFiles(it->path().string(), dst, kept, rel);
            else
                kept.push_back(rel + "/");
        } else if (S_ISREG(src_st.st_mode)) {
            if (exists || rename(it->path().c_str(), dst.c_str()) != 0) kept.push_back(rel);
        }
    }
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

OperationOutcome RunArchiveOperation(const OperationRequest& request,
                                     const ProgramLocations& locations) {
    OperationOutcome out;
    const std::string& program = ProgramFor(locations, request.kind);
    std::string display = ProgramDisplayName(request.kind);
    std::string found = FindOnPath(program);
    if (program.empty() || found.empty()) {
        out.message = display + " not installed in Options/Program Locations dialog box";
        return out;
    }
    if (request.kind == formats::kKindArj && !ArjNewEnough(found)) {
        out.message = "Aborting operation - Borvan requires ARJ version 2.3 or later";
        return out;
    }
    ArgvInputs args = request.args;
    args.program = program;
    args.archive = Absolute(args.archive);
    std::string folder = request.folder.empty() ? std::string(".") : request.folder;
    if (request.op == Operation::kExtract) {
        for (const std::string& name : request.member_names) {
            if (NameLeavesFolder(name)) {
                out.message =
                    "The archive holds a member whose name leads out of the target "
                    "folder (" +
                    name + "); nothing was extracted";
                return out;
            }
        }
        struct stat st {};
        if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            out.message = "Could not find the folder \"" + folder + "\"";
            return out;
        }
    }
    std::string refusal;
    std::vector<std::vector<std::string>> commands =
        ProgramCommands(request.kind, request.op, args, refusal);
    if (commands.empty()) {
        out.message = refusal;
        return out;
    }
    // lhasa and nomarch replace existing files without asking and arc asks again and again
    // when its input is closed: without overwriting, they extract into a private folder
    // beside the files and only what is new is moved over.
    std::string stage;
    if (request.op == Operation::kExtract && !args.overwrite && request.kind != formats::kKindArj) {
        stage = folder + "/.borvan-extract.XXXXXX";
        if (!mkdtemp(stage.data())) {
            out.message = "Could not make a folder in " + folder;
            return out;
        }
        args.overwrite = true;
        commands = ProgramCommands(request.kind, request.op, args, refusal);
    }
    std::string output;
    out.ok = true;
    for (const auto& argv : commands) {
        RunResult r = RunCaptured(argv, stage.empty() ? folder : stage);
        output += r.output;
        if (!r.started) {
            out.ok = false;
            out.message = "Could not run " + program + ": " + std::strerror(r.error);
            break;
        }
        out.ran = true;
        out.exit_code = r.exit_code;
        if (r.exit_code != 0) {
            out.ok = false;
            if (request.kind == formats::kKindArc)
                out.message = "Error extracting\n" + r.output;
            else
                out.message = ExitCodeMessage(
                    request.kind == formats::kKindArj ? ExitTable::kArj : ExitTable::kLha,
                    r.exit_code);
            break;
        }
    }
    if (!stage.empty()) {
        std::vector<std::string> kept;
        if (out.ok) MoveNewFiles(stage, folder, kept);
        RemoveTree(stage);
        if (!kept.empty()) {
            out.ok = false;
            out.exit_code = 1;
            std::string list;
            for (const std::string& k : kept) list += "\n" + k;
            out.message = request.kind == formats::kKindLzh
                              ? ExitCodeMessage(ExitTable::kLha, 1) + list
                              : "Error extracting" + list;
        }
    }
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
