// The zip methods whose decoders come from libraries: bzip2 (12, libbz2), LZMA (14, liblzma,
// behind the zip LZMA header) and zstd (93, libzstd). Each decodes one member through the
// same pull/push seam as inflate, with bounded buffers whatever the member's size.
#pragma once

#include <cstdint>
#include <memory>

#include "archiver/engine/unzip/inflate.h"

namespace engine {

/// Method numbers of the library-decoded methods.
constexpr uint16_t kMethodBzip2 = 12;
constexpr uint16_t kMethodLzma = 14;
constexpr uint16_t kMethodZstd = 93;

/// How a library-decoded member ended.
enum class CodecStatus {
    kOk = 0,
    kBadData,    ///< the library refused the data
    kTruncated,  ///< the input ended before the stream did
    kTooLarge,   ///< the stream asks for more memory than a member may take
};

/// Text for a status, for the driver's messages.
const char* CodecStatusText(CodecStatus status);

/// Outcome of one member.
struct CodecResult {
    CodecStatus status = CodecStatus::kOk;
    uint64_t out_size = 0;  ///< bytes handed to write
};

/// The input and output blocks of a library decoder: bounded whatever the member's size.
struct CodecBlocks {
    static constexpr size_t kBlock = 64 * 1024;
    std::unique_ptr<uint8_t[]> in = std::make_unique_for_overwrite<uint8_t[]>(kBlock);
    std::unique_ptr<uint8_t[]> out = std::make_unique_for_overwrite<uint8_t[]>(kBlock);
    bool input_ended = false;
    /// Reads the next input block into `in`; its size, 0 (and input_ended) at the end.
    size_t Refill(const InflateIo& io);
    /// Hands the first `n` bytes of `out` to the writer, counting them into `result`.
    void Emit(const InflateIo& io, size_t n, CodecResult& result);
};

/// True for 12, 14 and 93.
bool IsLibraryMethod(uint16_t method);

/// Decodes one member of a library-decoded method. `flags` are its general-purpose flags and
/// `size` its declared uncompressed size (LZMA needs both: bit 1 marks an end marker).
CodecResult DecodeLibraryMethod(const InflateIo& io, uint16_t method, uint16_t flags,
                                uint64_t size);

/// The decoders behind DecodeLibraryMethod.
CodecResult DecodeBzip2(const InflateIo& io);
CodecResult DecodeLzma(const InflateIo& io, uint64_t size);
CodecResult DecodeZstd(const InflateIo& io);

/// Largest LZMA dictionary a member may ask for (what the largest settings of the common
/// writers use); a member never needs one larger than itself.
constexpr uint64_t kMaxLzmaDictionary = uint64_t{1536} << 20;

}  // namespace engine
