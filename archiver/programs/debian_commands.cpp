#include "archiver/programs/debian_commands.h"

namespace programs {

namespace {

bool HasWildcard(const std::vector<std::string>& files) {
    for (const std::string& f : files)
        if (f.find_first_of("*?") != std::string::npos) return true;
    return false;
}

void Append(std::vector<std::string>& argv, const std::vector<std::string>& more) {
    argv.insert(argv.end(), more.begin(), more.end());
}

// The ARJ port: switches first, "--" so that a member named like a switch stays a name, then
// the archive and the members. Queries are answered by switches: the program never waits
// for an answer on its input.
std::vector<std::string> ArjArgv(Operation op, const ArgvInputs& in) {
    std::vector<std::string> argv{in.program};
    switch (op) {
        case Operation::kAdd:
            argv.push_back(ModeLetter(in.mode, in.archive_has_rows));
            argv.push_back("-i");
            argv.push_back("-y");
            if (in.recurse) argv.push_back("-r");
            if (!in.full_paths) argv.push_back(in.recurse ? "-e1" : "-e");
            argv.push_back(in.best_compression ? "-jm1" : "-m3");
            break;
        case Operation::kDelete:
            argv.push_back("d");
            argv.push_back("-i");
            argv.push_back("-y");
            if (!HasWildcard(in.files)) argv.push_back("-p");
            break;
        case Operation::kExtract:
            argv.push_back(in.folder_names ? "x" : "e");
            argv.push_back("-i");
            // Folders are made without asking; existing files are replaced or kept.
            argv.push_back(in.overwrite ? "-jyco" : "-jyc");
            if (!in.overwrite) argv.push_back("-n");
            if (!HasWildcard(in.files) && !in.files.empty()) argv.push_back("-p");
            break;
        case Operation::kTest:
            argv.push_back("t");
            argv.push_back("-i");
            argv.push_back("-y");
            break;
        case Operation::kMakeSelfExtracting:
            argv.push_back("y");
            argv.push_back("-je1");
            argv.push_back("-y");
            break;
    }
    if (!in.password.empty() && op != Operation::kMakeSelfExtracting)
        argv.push_back("-g" + in.password);
    if (!in.temp_folder.empty() && (op == Operation::kAdd || op == Operation::kDelete))
        argv.push_back("-w" + in.temp_folder);
    argv.push_back("--");
    argv.push_back(in.archive);
    if (op != Operation::kMakeSelfExtracting && op != Operation::kTest) Append(argv, in.files);
    return argv;
}

// LHA: one command word with its options, the extraction in the current folder. lhasa only
// lists, tests and extracts; jlha has no freshen.
std::vector<std::string> LhaArgv(Operation op, const ArgvInputs& in, std::string& refusal) {
    std::string word;
    switch (op) {
        case Operation::kExtract:
            word = "-xq";
            if (in.overwrite) word += "f";
            if (!in.folder_names) word += "i";
            break;
        case Operation::kTest:
            word = "-tq";
            break;
        case Operation::kAdd:
        case Operation::kDelete:
            if (in.lha == LhaFlavour::kLhasa) {
                refusal =
                    "lhasa's lha can only list, test and extract LZH archives; adding and "
                    "deleting needs the " +
                    std::string(kLhaWriterPackage) + " package (its jlha)";
                return {};
            }
            if (op == Operation::kDelete) {
                word = "d";
            } else {
                word = ModeLetter(in.mode, in.archive_has_rows);
                if (word == "f" && in.lha == LhaFlavour::kJlha) {
                    refusal = "jlha cannot freshen archives; use Update";
                    return {};
                }
            }
            break;
        case Operation::kMakeSelfExtracting:
            refusal = "Making self-extracting files is not available for LZH archives";
            return {};
    }
    std::vector<std::string> argv{in.program, word, in.archive};
    if (op != Operation::kTest) Append(argv, in.files);
    return argv;
}

}  // namespace

std::vector<std::vector<std::string>> ProgramCommands(formats::ArchiveKind kind, Operation op,
                                                      const ArgvInputs& in, std::string& refusal) {
    std::string base = ProgramBaseName(in.program);
    if (kind == formats::kKindArj) return {ArjArgv(op, in)};
    if (kind == formats::kKindLzh) {
        std::vector<std::string> argv = LhaArgv(op, in, refusal);
        if (argv.empty()) return {};
        return {argv};
    }
    if (kind == formats::kKindArc) {
        if (op == Operation::kTest) {
            if (base == "nomarch") return {{in.program, "-t", in.archive}};
            return {{in.program, "t", in.archive}};
        }
        if (op != Operation::kExtract) {
            refusal = "ARC archives can only be extracted";
            return {};
        }
        if (base == "nomarch") {
            // nomarch takes one name to match; one run per member, or one for all.
            if (in.files.empty()) return {{in.program, in.archive}};
            std::vector<std::vector<std::string>> runs;
            for (const std::string& f : in.files) runs.push_back({in.program, in.archive, f});
            return runs;
        }
        std::vector<std::string> argv{in.program, in.overwrite ? "xo" : "x", in.archive};
        Append(argv, in.files);
        return {argv};
    }
    refusal = "Unknown archive type";
    return {};
}

}  // namespace programs
