#include "archiver/engine/unzip/library_codecs.h"

#include <algorithm>

namespace engine {

const char* CodecStatusText(CodecStatus status) {
    switch (status) {
        case CodecStatus::kOk:
            return "ok";
        case CodecStatus::kBadData:
            return "invalid compressed data";
        case CodecStatus::kTruncated:
            return "compressed data ends early";
        case CodecStatus::kTooLarge:
            return "its window is larger than a member may use";
    }
    return "invalid compressed data";
}

size_t CodecBlocks::Refill(const InflateIo& io) {
    size_t n = input_ended ? 0 : std::min(io.read(in.get(), kBlock), kBlock);
    input_ended = n == 0;
    return n;
}

void CodecBlocks::Emit(const InflateIo& io, size_t n, CodecResult& result) {
    if (n == 0) return;
    io.write(out.get(), n);
    result.out_size += n;
}

bool IsLibraryMethod(uint16_t method) {
    return method == kMethodBzip2 || method == kMethodLzma || method == kMethodZstd;
}

CodecResult DecodeLibraryMethod(const InflateIo& io, uint16_t method, uint16_t /*flags*/,
                                uint64_t size) {
    switch (method) {
        case kMethodBzip2:
            return DecodeBzip2(io);
        case kMethodLzma:
            // Bit 1 of the flags says an end marker follows the data; the decoder accepts
            // one there either way, and nowhere else.
            return DecodeLzma(io, size);
        case kMethodZstd:
            return DecodeZstd(io);
        default:
            return {CodecStatus::kBadData, 0};
    }
}

}  // namespace engine
