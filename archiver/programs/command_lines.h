// The command lines of the MS-DOS archivers (ARJ, LHA and the ARC extractors) as text, piece
// by piece, for the record of what an operation asks of them and for settings that still
// name those programs. What actually runs here is built by debian_commands.h.
#pragma once

#include <string>

namespace programs {

/// Add family modes.
enum class AddMode { kAdd = 0, kFreshen = 1, kMove = 2, kUpdate = 3 };

/// What the shell hands to a command-line builder.
struct CommandInputs {
    std::string program;    ///< the program's path
    std::string archive;    ///< the archive's name
    std::string file_list;  ///< members separated by blanks, or "@" and a list file
    AddMode mode = AddMode::kAdd;
    bool archive_has_rows = true;  ///< freshen on an empty archive adds
    bool recurse = false;
    bool full_paths = false;
    bool best_compression = false;
    std::string password;      ///< empty: none
    std::string temp_folder;   ///< empty: none used
    bool removable = false;    ///< the archive is on a removable drive
    std::string target;        ///< extraction folder
    bool folder_names = true;  ///< extract with folder names
    bool overwrite = false;
    bool any_folder = false;  ///< a row's name holds a folder
};

/// The command letter of an add mode ("a", "f", "u", "m"); freshening an archive without
/// rows adds.
const char* ModeLetter(AddMode mode, bool archive_has_rows);

/// The archive name as it goes on a command line: in quotes when it holds a blank.
std::string QuotedArchive(const std::string& archive);

/// ARJ: add, freshen, update or move.
std::string ArjAddCommand(const CommandInputs& in);
/// ARJ: delete the listed members.
std::string ArjDeleteCommand(const CommandInputs& in);
/// ARJ: extract into the target folder.
std::string ArjExtractCommand(const CommandInputs& in);
/// ARJ: make a self-extracting archive.
std::string ArjSelfExtractCommand(const CommandInputs& in);

/// LHA: add, freshen, update or move.
std::string LhaAddCommand(const CommandInputs& in);
/// LHA: delete the listed members.
std::string LhaDeleteCommand(const CommandInputs& in);
/// LHA: extract into the target folder.
std::string LhaExtractCommand(const CommandInputs& in);
/// LHA: make a self-extracting archive.
std::string LhaSelfExtractCommand(const CommandInputs& in);

/// An ARC extractor's command (it runs in the target folder); the syntax follows the
/// program's base name (arc, pkxarc, pkunpak, arce, arc-e).
std::string ArcExtractCommand(const CommandInputs& in);

/// The lower-case base name of a program path without its extension ("C:\\BIN\\ARJ.EXE":
/// "arj", "/usr/bin/nomarch": "nomarch").
std::string ProgramBaseName(const std::string& program);

}  // namespace programs
