#include "archiver/shell/program_kinds.h"

#include <strings.h>

#include <algorithm>
#include <filesystem>

#include "archiver/engine/unzip/zip_directory.h"
#include "archiver/formats/listed_member.h"
#include "archiver/programs/programs.h"
#include "archiver/shell/settings.h"
#include "archiver/shell/terminal_text.h"

namespace shell {

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitError = 2;

bool EndsWithExe(const std::string& path) {
    return path.size() >= 4 && strcasecmp(path.c_str() + path.size() - 4, ".exe") == 0;
}

// "*.*", the headless default of "every file here", as the names in the current folder:
// neither archiver reads the pattern that way.
std::vector<std::string> ExpandAll(const std::vector<std::string>& names,
                                   const std::string& archive) {
    std::vector<std::string> out;
    std::error_code ec;
    std::filesystem::path own = std::filesystem::absolute(archive, ec);
    for (const std::string& n : names) {
        if (n != "*.*") {
            out.push_back(n);
            continue;
        }
        std::vector<std::string> here;
        for (std::filesystem::directory_iterator it(".", ec), end; !ec && it != end;
             it.increment(ec)) {
            std::string name = it->path().filename().string();
            if (name.empty() || name[0] == '.') continue;
            if (std::filesystem::equivalent(it->path(), own, ec)) continue;
            here.push_back(name);
        }
        std::sort(here.begin(), here.end());
        out.insert(out.end(), here.begin(), here.end());
    }
    return out;
}

}  // namespace

formats::ArchiveKind ProgramKindBehindExe(const std::string& path, std::string& question) {
    if (!EndsWithExe(path)) return formats::kKindUnknown;
    engine::ZipDirectory dir = engine::ReadZipDirectory(path);
    if (dir.status != engine::DirectoryStatus::kNotZipExe) return formats::kKindUnknown;
    for (formats::ArchiveKind kind : {formats::kKindArj, formats::kKindLzh}) {
        std::vector<formats::ListedMember> members;
        std::string error;
        if (formats::ReadProgramKindListing(kind, path, members, error) && !members.empty()) {
            question = dir.message;
            return kind;
        }
    }
    return formats::kKindUnknown;
}

std::optional<int> RunProgramKindChange(const zip::ZipCommand& cmd) {
    formats::ArchiveKind kind = formats::kKindUnknown;
    std::error_code ec;
    if (std::filesystem::exists(cmd.archive, ec)) {
        if (!formats::DetectFileKind(cmd.archive, DefaultArchiveKind(SettingsPath()), kind))
            return std::nullopt;
    } else {
        kind = formats::KindByExtension(cmd.archive);
    }
    if (!formats::IsProgramKind(kind)) return std::nullopt;
    programs::OperationRequest request;
    request.kind = kind;
    request.args.archive = cmd.archive;
    request.args.password = cmd.password_given ? cmd.password : "";
    request.folder = ".";
    std::vector<formats::ListedMember> members;
    std::string error;
    if (std::filesystem::exists(cmd.archive, ec) &&
        !formats::ReadProgramKindListing(kind, cmd.archive, members, error)) {
        PrintLine(stderr, error);
        return kExitFailed;
    }
    for (const formats::ListedMember& m : members) request.member_names.push_back(m.name);
    if (cmd.action == zip::kActionDelete) {
        request.op = programs::Operation::kDelete;
        request.args.files = cmd.names;
    } else {
        request.op = programs::Operation::kAdd;
        request.args.files = ExpandAll(cmd.names, cmd.archive);
        request.args.mode = cmd.move                            ? programs::AddMode::kMove
                            : cmd.action == zip::kActionFreshen ? programs::AddMode::kFreshen
                            : cmd.action == zip::kActionUpdate  ? programs::AddMode::kUpdate
                                                                : programs::AddMode::kAdd;
        request.args.archive_has_rows = !members.empty();
        request.args.recurse = cmd.recurse;
        request.args.full_paths = cmd.store_folder_names;
        request.args.best_compression = cmd.level >= 9;
    }
    return RunProgramOperationHeadless(request);
}

int RunProgramOperationHeadless(const programs::OperationRequest& request) {
    programs::OperationOutcome out =
        programs::RunArchiveOperation(request, programs::LoadProgramLocations(SettingsPath()));
    // The archiver's own output, names and all: no control sequence reaches the terminal.
    std::fputs(TerminalSafe(programs::LastOutput()).c_str(), stdout);
    if (!out.message.empty()) PrintLine(out.ok ? stdout : stderr, out.message);
    if (out.ok) return 0;
    // Every kind ends with the statuses of the zip engine: 1 for a warning or an archive that
    // could not be handled at all, 2 for an error such as a damaged member. The archiver's own
    // code, which means different things to different archivers, stays in the message.
    if (!out.ran || out.stopped || out.kept) return kExitFailed;
    if (request.kind == formats::kKindArj && out.exit_code == 1) return kExitFailed;  // warning
    return kExitError;
}

}  // namespace shell
