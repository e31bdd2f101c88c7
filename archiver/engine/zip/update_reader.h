// The update reader: reads an archive that is about to be changed from front to back (local
// headers, then the central directory), checks every central header against its local header,
// and gives the zip engine its member list.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zip {

/// One member of the archive being updated, or a new member made from a file.
struct Member {
    uint16_t version_made = 0;
    uint16_t version_needed = 0;
    uint16_t flags = 0;
    uint16_t method = 0;
    uint16_t time = 0;
    uint16_t date = 0;
    uint32_t crc = 0;
    uint64_t compressed_size = 0;
    uint64_t uncompressed_size = 0;
    uint16_t disk_start = 0;
    uint16_t internal_attr = 0;
    uint16_t local_flags = 0;  ///< the local header's flags as read (bit 3: descriptor follows)
    uint32_t external_attr = 0;
    uint64_t local_offset = 0;  ///< file offset of the local header
    /// A member written by this run whose local header holds its sizes in a 0x0001 block.
    bool local_zip64 = false;

    std::string raw_name;  ///< the stored name's bytes as in the archive
    std::string name;      ///< the stored name as UTF-8 (CP437 read unless flag bit 11)
    std::vector<uint8_t> local_extra;
    std::vector<uint8_t> central_extra;
    std::string comment;

    // The writer's marks.
    bool marked = false;      ///< selected for this run (to be replaced or deleted)
    bool up_to_date = false;  ///< its file exists and is not newer (move deletes it too)
    bool short_name = false;  ///< the short-name setting was in force when its file was found
    std::string file_path;    ///< the file on disk that matched it

    /// MS-DOS date in the high 16 bits, time in the low.
    uint32_t DosDateTime() const { return (uint32_t{date} << 16) | time; }
};

/// What the update reader found.
struct OldArchive {
    std::vector<Member> members;  ///< in central directory order
    uint64_t preamble = 0;        ///< bytes in front of the first local header
    uint64_t central_offset = 0;  ///< file offset of the central directory
    std::string comment;          ///< the archive comment's bytes
    /// Indices into `members`, sorted by name as NameLess orders them.
    std::vector<size_t> sorted;
};

/// Result codes the reader returns besides 0.
constexpr int kResultEof = 2;
constexpr int kResultFormat = 3;
constexpr int kResultMemory = 4;
constexpr int kResultRead = 11;
constexpr int kResultUnsupported = 22;

/// Reads the archive at `path` into `out`. A missing or unreadable file gives an empty archive
/// and 0; an existing regular file of size 0 is deleted first. Warnings go to the report window
/// (engine_frame.h) as "Warning: %s%s"; returns 0 or 2, 3, 4, 11, 22, keeping the members read
/// so far.
int ReadForUpdate(const std::string& path, OldArchive& out);

/// The engine's name order: A-Z folded to lower case, every other byte exact.
int CompareNames(std::string_view a, std::string_view b);
/// Rebuilds `sorted` after members were added or removed.
void SortMembers(OldArchive& archive);
/// Index of the member whose UTF-8 name equals `name` under CompareNames, or -1.
long FindMember(const OldArchive& archive, std::string_view name);

}  // namespace zip
