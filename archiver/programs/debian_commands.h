// The argument vectors of the archivers that run here, chosen by the configured program's
// base name: the ARJ port ("arj"), lhasa's "lha" (list and extract only), and "nomarch" or
// "arc" for ARC archives. Every member name is one argument of its own; nothing passes
// through a shell.
#pragma once

#include <string>
#include <vector>

#include "archiver/formats/archive_kind.h"
#include "archiver/programs/command_lines.h"

namespace programs {

/// What an operation asks of an archiver.
enum class Operation { kAdd, kDelete, kExtract, kMakeSelfExtracting };

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
};

/// The commands to run, in order, each in the folder the operation works in (the target of
/// an extraction); empty with the reason in `refusal` when the program cannot do this
/// ("%s cannot add to or delete from archives").
std::vector<std::vector<std::string>> ProgramCommands(formats::ArchiveKind kind, Operation op,
                                                      const ArgvInputs& in, std::string& refusal);

}  // namespace programs
