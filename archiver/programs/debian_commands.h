// The argument vectors of the archivers that run here, chosen by the configured program's
// base name: the ARJ port ("arj"); for LZH lhasa (list, test and extract only), jlha-utils'
// jlha (adds and deletes too) or another full LHA; and "nomarch" or "arc" for ARC archives. Every
// member name is one argument of its own; nothing passes through a shell.
#pragma once

#include <string>
#include <vector>

#include "archiver/formats/archive_kind.h"
#include "archiver/programs/command_lines.h"

namespace programs {

/// What an operation asks of an archiver.
enum class Operation { kAdd, kDelete, kExtract, kMakeSelfExtracting, kTest };

/// Which LHA a program is: Debian has two behind the name "lha".
enum class LhaFlavour {
    kLhasa,  ///< lhasa: lists, tests and extracts only
    kJlha,   ///< jlha-utils (Java): adds and deletes too, exits 0 on damage, cannot freshen
    kFull,   ///< another LHA with the usual commands
};

/// The Debian package whose LHA adds to and deletes from archives.
inline constexpr const char* kLhaWriterPackage = "jlha-utils";

/// One operation's inputs in the form the programs here take.
struct ArgvInputs {
    std::string program;             ///< configured path or name
    std::string archive;             ///< absolute path (the program runs in another folder)
    std::vector<std::string> files;  ///< members (extract, delete) or paths (add); empty: all
    AddMode mode = AddMode::kAdd;
    bool archive_has_rows = true;
    bool recurse = false;
    bool full_paths = false;
    bool best_compression = false;
    std::string password;
    std::string temp_folder;
    bool folder_names = true;
    bool overwrite = false;
    LhaFlavour lha = LhaFlavour::kLhasa;  ///< which LHA `program` is (LZH only)
};

/// The commands to run, in order, each in the folder the operation works in (the target of
/// an extraction); empty with the reason in `refusal` when the program cannot do this.
std::vector<std::vector<std::string>> ProgramCommands(formats::ArchiveKind kind, Operation op,
                                                      const ArgvInputs& in, std::string& refusal);

}  // namespace programs
