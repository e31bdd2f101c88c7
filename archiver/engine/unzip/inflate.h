// Inflate: decodes a Deflate stream (RFC 1951) pulled from a byte source into an output sink.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

namespace engine {

/// How a stream ended.
enum class InflateStatus {
    kOk = 0,            ///< the last block ended
    kBadData = 1,       ///< invalid code, table, stored length or distance
    kBadBlockType = 2,  ///< block type 3
    kTruncated = 3,     ///< the input ended before the last block did
};

/// Text for a status, for the driver's messages.
const char* InflateStatusText(InflateStatus status);

/// Where a stream comes from and where its output goes.
struct InflateIo {
    /// Fills buf with up to cap bytes of compressed input; 0 means the input has ended.
    std::function<size_t(uint8_t* buf, size_t cap)> read;
    /// Takes the next piece of output (may throw to abandon the stream).
    std::function<void(const uint8_t* data, size_t size)> write;
};

/// Outcome of one stream.
struct InflateResult {
    InflateStatus status = InflateStatus::kOk;
    uint64_t in_used = 0;   ///< compressed bytes that belong to the stream (whole bytes)
    uint64_t out_size = 0;  ///< bytes handed to write
};

/// Buffers and tables of the decoder, allocated once and reused for every member.
struct InflateWorkspace;
/// Frees a workspace (lets callers hold it in a unique_ptr with the type kept opaque).
struct InflateWorkspaceDeleter {
    void operator()(InflateWorkspace* ws) const;
};
/// Owning handle of a workspace.
using InflateWorkspacePtr = std::unique_ptr<InflateWorkspace, InflateWorkspaceDeleter>;
/// Makes a workspace (a few hundred KiB).
InflateWorkspacePtr MakeInflateWorkspace();

/// Decodes one stream. Each stream starts with no history: a distance reaching back before
/// its first byte is invalid data.
InflateResult Inflate(const InflateIo& io, InflateWorkspace& ws);

/// Decodes one Deflate64 stream: Deflate with a 64 KiB window, length code 285 taking 16 extra
/// bits (lengths 3 to 65,538), and distance codes 30 and 31 reaching 64 KiB back.
InflateResult Inflate64(const InflateIo& io, InflateWorkspace& ws);

}  // namespace engine
