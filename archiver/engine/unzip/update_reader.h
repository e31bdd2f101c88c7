// The update reader: reads a zip archive front to back before the zip engine changes it,
// checks every central header against its local header, and gives the member list that the
// writer copies or replaces member by member.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace engine {

/// One member as the update reader found it (central values, local flags kept apart).
struct ZipMember {
    uint16_t version_made = 0;
    uint16_t version_needed = 0;
    uint16_t flags = 0;
    uint16_t method = 0;
    uint16_t time = 0;
    uint16_t date = 0;
    uint32_t crc = 0;
    uint32_t compressed_size = 0;
    uint32_t uncompressed_size = 0;
    uint32_t name_length = 0;
    uint32_t local_extra_length = 0;
    uint32_t central_extra_length = 0;
    uint32_t comment_length = 0;
    uint16_t disk_start = 0;
    uint16_t internal_attr = 0;
    uint16_t local_flags = 0;  ///< the local header's flags as read
    uint32_t external_attr = 0;
    /// Offset of the local header from the start of the zip data (add the preamble for the
    /// file position), as the central directory counts it.
    uint64_t local_offset = 0;
    std::string fs_name;        ///< the stored name as a file-system name (UTF-8, `/`)
    std::string local_extra;    ///< local extra field bytes
    std::string central_extra;  ///< central extra field bytes (equal to local_extra when so)
    std::string comment;
    std::string stored_name;  ///< the name bytes as stored
    uint32_t mark = 0;        ///< the writer's own marks, zeroed by the reader
    uint32_t mark2 = 0;
};

/// What the update reader gives the zip engine.
struct UpdateArchive {
    std::vector<ZipMember> members;  ///< in the central directory's order
    uint64_t preamble = 0;           ///< bytes before the first local header
    uint64_t central_offset = 0;     ///< file offset of the central directory
    std::string comment;             ///< the archive comment
    std::vector<size_t> by_name;     ///< member indexes sorted with CompareStoredNames
};

/// Receives each warning ("Warning: ...") and error detail line as it is found.
using UpdateReport = std::function<void(const std::string& text)>;

/// Reads an archive for updating. Returns 0, or a ZIP result code: 2 (unexpected end),
/// 3 (structure invalid), 4 (out of memory), 11 (read failure) or 22 (a member needs an
/// unsupported scheme). `detail` names what failed. An archive of size 0 is deleted and a
/// name that cannot be opened gives an empty list, both with 0. The members read before a
/// failure stay in `out`.
int ReadZipForUpdate(const std::string& path, UpdateArchive& out, const UpdateReport& report,
                     std::string& detail);

/// The member-name order of the sorted index: A-Z folded to lower case, all else exact.
int CompareStoredNames(std::string_view a, std::string_view b);
/// Finds a member by stored name through the sorted index.
std::optional<size_t> FindMember(const UpdateArchive& archive, std::string_view stored_name);

}  // namespace engine
