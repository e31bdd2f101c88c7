// A zip archive that may have a program in front of it: the end record found at the end, the
// central directory read whole, and where each member's data lies with the program counted.
// The self-extractor reads its own file with it, and the writer of self-extractors the
// archive it appends.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "archiver/engine/unzip/zip_records.h"

namespace sfx {

/// One member as the central directory describes it.
struct Member {
    engine::CentralHeader header;
    std::string name;              ///< stored name bytes
    uint64_t compressed = 0;       ///< with the 0x0001 field applied
    uint64_t uncompressed = 0;     ///< with the 0x0001 field applied
    uint64_t local_offset = 0;     ///< file position of its local header
    std::optional<int64_t> mtime;  ///< UTC time from an extended-time or NTFS field
};

/// The members of the archive behind the program.
struct AppendedArchive {
    std::vector<Member> members;
    int64_t preamble = 0;   ///< what was added to the stored offsets (0 when they were adjusted)
    uint64_t data_end = 0;  ///< where the central directory starts: no member data lies past it
    uint64_t directory_size = 0;
    uint64_t end_at = 0;                 ///< where the end record lies
    std::optional<uint64_t> end64_at;    ///< where the 64-bit end record lies, when there is one
    std::optional<uint64_t> locator_at;  ///< where its locator lies
};

/// Bytes searched from the end for the end record: the record and the longest comment.
constexpr size_t kEndSearch = 65535 + engine::kEndSize;

/// Reads the archive at the end of the open file `fd`; false with `why` when
/// there is none or its directory is damaged.
bool ReadAppendedArchive(int fd, AppendedArchive& out, std::string& why);

}  // namespace sfx
