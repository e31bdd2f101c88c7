// Where the writer needs the 64-bit records: a new member's local header whose data may pass
// 4 GiB - 1, central headers whose sizes or offset do, and the end of an archive whose member
// count, directory size or directory offset does not fit the end record. Archives that need
// none of them are written exactly as without.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "archiver/engine/unzip/zip_records.h"
#include "archiver/engine/zip/update_reader.h"

namespace zip {

/// True when a new member of this file size gets 64-bit sizes in its local header. The header
/// is written before the data, so it must hold room for whatever the data becomes: deflated
/// data can be a little longer than the file, and an encryption header adds 12 bytes.
bool ReserveZip64(uint64_t file_size);

/// The 0x0001 block of a local header written with 64-bit sizes (both, as they stand now);
/// empty for a member without them.
std::vector<uint8_t> LocalZip64Block(const Member& m);

/// A central header's 32-bit sizes and offset, and its extra field: the member's own blocks
/// behind a 0x0001 block (made afresh) holding each value that does not fit.
struct CentralFields {
    uint32_t uncompressed = 0;
    uint32_t compressed = 0;
    uint32_t local_offset = 0;
    uint16_t disk_start = 0;
    uint16_t version_needed = 0;
    std::vector<uint8_t> extra;
};
/// `disk`, in a split archive, is the volume the member starts on (else its own disk_start).
CentralFields CentralFieldsOf(const Member& m, std::optional<uint32_t> disk = std::nullopt);

/// The whole central header of a member (signature, fields, name, extra field, comment), or
/// nothing when its extra field would pass 64 KiB.
std::optional<std::vector<uint8_t>> CentralRecord(const Member& m,
                                                  std::optional<uint32_t> disk = std::nullopt);

/// The records after the central directory: the 64-bit end record and its locator when the
/// count, the directory's size or its offset needs them (`at` is where they start), then the
/// end record with the comment.
std::vector<uint8_t> EndRecords(uint64_t entries, uint64_t directory_size,
                                uint64_t directory_offset, uint64_t at, const std::string& comment);

/// Appends the end record `e` (its comment length set from `comment`) and the comment.
void AppendEndRecord(engine::EndRecord e, const std::string& comment, std::vector<uint8_t>& b);

}  // namespace zip
