// The run for a gzip or Unix-compress file (one compressed file each): every gzip member is
// inflated and checked against its trailer; a Unix-compress stream is decoded to its end.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "archiver/engine/unzip/unzip.h"

namespace engine {

/// Tests or extracts the file open on `fd`; ends early through EndRun.
void ExtractGzipOrCompress(const UnzipCommand& cmd, int fd, const std::string& archive_name,
                           bool short_names);

/// Where a gzip member's compressed data starts, from its header at `offset`; nullopt when the
/// bytes there are not a gzip header this reader accepts (or end too early). A header CRC
/// (flag 0x02) is stepped over.
std::optional<uint64_t> GzipDataStart(int fd, uint64_t offset, uint64_t file_size);

}  // namespace engine
