// Listing of the kinds that are not zip but that the unzip engine reads itself: tar, gzip or
// Unix compress, and Microsoft Compress. Fills the rows and what the unzip command record
// carries for them.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "archiver/engine/unzip/unzip.h"
#include "archiver/formats/archive_kind.h"
#include "archiver/shell/listing.h"

namespace shell {

/// What a listing of these kinds hands on to a test or extraction.
struct SingleFileFacts {
    uint16_t kind = 0;
    uint32_t kind_value = 0;    ///< tar: line-end conversion; gzip: MS-DOS time; MS: size
    uint64_t start_offset = 0;  ///< where the compressed data starts
    std::string output_name;    ///< the one file a gzip or Microsoft Compress file holds
    /// The file's format for a script: "tar", "tar+gzip", "tar+compress", "gzip", "compress",
    /// "szdd" or "kwaj".
    std::string format;
};

/// Asks for the name of the file inside: gets the question and a proposed answer; nullopt
/// when the user cancels.
using ContainedNameQuestion = std::function<std::optional<std::string>(
    const std::string& question, const std::string& proposal)>;

/// True for the kinds this reader lists.
bool IsSingleFileKind(formats::ArchiveKind kind);

/// Lists the archive at `path` of kind `kind` into a fresh listing; false with the message
/// in `error` (rows read before a tar error stay).
bool LoadSingleFileListing(formats::ArchiveKind kind, const std::string& path, SortOrder sort,
                           const ContainedNameQuestion& ask, Listing& listing,
                           SingleFileFacts& facts, std::string& error);

/// Fills the command record's kind fields from the facts.
void FillUnzipCommand(const SingleFileFacts& facts, engine::UnzipCommand& cmd);

}  // namespace shell
