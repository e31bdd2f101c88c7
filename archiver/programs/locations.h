// Program Locations: the archivers and the virus scanner this program runs, from the
// [Programs] section of the settings, with the Debian programs as defaults when installed.
#pragma once

#include <string>

#include "archiver/formats/archive_kind.h"

namespace programs {

/// The configured programs.
struct ProgramLocations {
    std::string arj;            ///< "arj"
    std::string lha;            ///< "lha"
    std::string arc;            ///< "arc": the ARC extractor
    std::string scan;           ///< "scan": the virus scanner
    std::string scan_template;  ///< "scanp": the scanner's parameters
};

/// The default template of the scanner installed by default.
inline constexpr const char* kClamscanTemplate = "-r %d";

/// Reads [Programs] of the settings file; a key that is missing gets its default: the Debian
/// program when it is on the PATH (arj; lha; nomarch, else arc; clamscan with "-r %d"),
/// otherwise empty (not installed).
ProgramLocations LoadProgramLocations(const std::string& settings_path);

/// The program configured for an archive kind (empty for a kind without one).
const std::string& ProgramFor(const ProgramLocations& locations, formats::ArchiveKind kind);

/// The name in messages: "ARJ", "LHA" or "ARC extraction".
const char* ProgramDisplayName(formats::ArchiveKind kind);

}  // namespace programs
