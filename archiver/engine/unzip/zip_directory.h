// The listing reader: finds the end record near the end of a zip archive, reads the whole
// central directory, corrects for a preamble and notes the facts that decide how the archive
// is extracted.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "archiver/engine/unzip/aes_field.h"
#include "archiver/engine/unzip/zip_records.h"

namespace engine {

/// One central directory entry.
struct DirectoryEntry {
    CentralHeader header;
    std::string name;           ///< stored name bytes as in the archive
    uint64_t local_offset = 0;  ///< file offset of its local header (preamble included)
    /// Sizes with the 0x0001 extra field applied (the header keeps the 32-bit fields).
    uint64_t compressed = 0;
    uint64_t uncompressed = 0;
    /// Modification time (UTC seconds) from its extended-time or NTFS extra field, if any.
    std::optional<int64_t> mtime;
    /// What the AES extra field of an AES-encrypted member says, when it has a sound one.
    std::optional<AesField> aes;
    /// True when the listing shows it as a row (no folder attribute).
    bool IsRow() const { return (header.external_attr & kAttrFolder) == 0; }
};

/// Facts about the archive that the shell keeps with it.
struct DirectoryFacts {
    uint64_t first_local_offset = 0;   ///< smallest local header offset plus the preamble
    int64_t preamble = 0;              ///< bytes in front of the zip data
    bool encrypted = false;            ///< some member has flag bit 0
    bool unsupported_methods = false;  ///< method 7, or above 9 and none of 12, 14 and 93
    bool needs_newer = false;          ///< method above 6
    bool folders_without_slash = false;
    bool spans_disks = false;
};

/// How reading ended.
enum class DirectoryStatus {
    kOk,
    kEmpty,      ///< a file of size 0: an archive without members
    kNotZip,     ///< no end record; message tells the user why
    kNotZipExe,  ///< no end record in a ".exe": the shell may offer to run it
    kError,      ///< damaged or unreadable; message says so
    kBadVolume,  ///< a volume of a split archive is missing or belongs elsewhere; message names it
};

/// A read central directory.
struct ZipDirectory {
    DirectoryStatus status = DirectoryStatus::kOk;
    std::string message;  ///< the failure's text
    std::vector<DirectoryEntry> entries;
    DirectoryFacts facts;
    std::string comment;  ///< the archive comment's stored bytes (cut at the end of the file)
};

/// Largest stored name a member may have (the extractor's name buffer less its terminator).
constexpr size_t kMaxStoredName = 303;

/// Reads the directory of an open archive file; `name` is its path (messages depend on its
/// extension); `removable` adds the backup-set hint to the "not an archive" message.
ZipDirectory ReadZipDirectory(int fd, const std::string& name, bool removable = false);
/// Opens and reads an archive by path ("Can't open input file: " and the path when it
/// cannot be opened); a split archive is read from all its volumes (volume_set.h).
ZipDirectory ReadZipDirectory(const std::string& path);

/// An end record and where it lies.
struct FoundEnd {
    EndRecord record;
    uint64_t at = 0;    ///< the signature's offset
    uint32_t disk = 0;  ///< this disk's number (from the 64-bit end record when it defers to it)
};

/// Finds the end record in the last bytes of an open file (the longest comment's reach) as the
/// directory reader does; nullopt when there is none.
std::optional<FoundEnd> LocateEndRecord(int fd);

/// The target a member that is a symbolic link stores: read from its data when stored
/// unencrypted (the way links are written); empty otherwise, or when it cannot be read.
std::string ReadLinkTarget(int fd, const DirectoryEntry& entry);

/// Message texts of the listing reader.
extern const char* const kMsgInvalidDirectory;
extern const char* const kMsgInvalidDirectoryFix;
extern const char* const kMsgIoError;
/// Start of the message for an archive that cannot be opened; the path follows.
extern const char* const kMsgCantOpen;

}  // namespace engine
