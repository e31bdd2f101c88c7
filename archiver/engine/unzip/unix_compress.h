// Unix compress: decodes an LZW stream (magic 0x1F 0x9D, a flags byte, then codes of 9 up to
// 16 bits, least significant bit first) pulled from a byte source into an output sink.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace engine {

/// Where a stream comes from and where its output goes.
struct UnixCompressIo {
    /// Fills buf with up to cap bytes of input; 0 means the input has ended.
    std::function<size_t(uint8_t* buf, size_t cap)> read;
    /// Takes the next piece of output (may throw to abandon the stream).
    std::function<void(const uint8_t* data, size_t size)> write;
};

/// Decodes a whole stream, magic included. nullptr when it decoded to its end, otherwise the
/// message that names the fault ("unknown flags", "compressed with too many bits", "corrupt
/// input."); a failing read throws from the source. Output decoded before a fault has already been
/// written.
const char* DecodeUnixCompress(const UnixCompressIo& io);

}  // namespace engine
