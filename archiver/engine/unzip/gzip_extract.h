// The run for a gzip or Unix-compress file (one compressed file each): every gzip member is
// inflated and checked against its header CRC and its trailer; a Unix-compress stream is
// decoded to its end and refused when it was cut short.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "archiver/engine/unzip/file_io.h"
#include "archiver/engine/unzip/unzip.h"

namespace engine {

/// Tests or extracts the file open on `fd`; ends early through EndRun.
void ExtractGzipOrCompress(const UnzipCommand& cmd, int fd, const std::string& archive_name,
                           bool short_names);

/// Where a gzip member's compressed data starts, from its header at `offset`; nullopt when the
/// bytes there are not a gzip header this reader accepts (or end too early), with the reason
/// in `fault` when one is given. A header CRC (flag 0x02) is checked.
std::optional<uint64_t> GzipDataStart(int fd, uint64_t offset, uint64_t file_size,
                                      std::string* fault = nullptr);

/// True when the file open on `fd` begins with the magic of gzip or Unix compress.
bool IsCompressedFile(int fd);

/// What went wrong in a compressed file.
enum class CompressedFault {
    kNone,
    kRead,     ///< the file could not be read
    kDamaged,  ///< a gzip header, deflate stream or trailer is wrong
    kLzw,      ///< the Unix-compress decoder's own message
};

/// Where the decoded bytes of a compressed file go and how the bytes read are counted.
struct CompressedFileIo {
    std::function<void(const uint8_t* data, size_t size)> write;  ///< may end the run
    std::function<void(size_t bytes)> progress;                   ///< input read; may be empty
    std::function<void(const std::string& text)> warn;            ///< data after the last member
};

/// Decodes the whole gzip (every member in turn) or Unix-compress file open on `fd`;
/// kNone when it decoded completely, otherwise the fault with its text in `text`.
CompressedFault DecodeCompressedFile(int fd, const CompressedFileIo& io, std::string& text);

/// Unpacks the gzip or Unix-compress file open on `fd` into a private temporary file (already
/// unlinked: it goes when `out` closes); false with the message in `error`. `archive_name`
/// names the file in messages; `progress` counts the bytes read when given.
bool UnpackToTempFile(int fd, const std::string& archive_name, UniqueFd& out, std::string& error,
                      const std::function<void(size_t)>& progress = {});

}  // namespace engine
