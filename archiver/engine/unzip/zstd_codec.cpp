// zstd members (method 93) through libzstd's streaming decoder: frames one after another, with
// the library's default window limit (128 MiB) bounding the memory a member may take.
#include <zstd.h>
#include <zstd_errors.h>

#include "archiver/engine/unzip/library_codecs.h"

namespace engine {

namespace {
constexpr size_t kBlock = CodecBlocks::kBlock;
}  // namespace

CodecResult DecodeZstd(const InflateIo& io) {
    CodecResult result;
    std::unique_ptr<ZSTD_DCtx, decltype(&ZSTD_freeDCtx)> d(ZSTD_createDCtx(), ZSTD_freeDCtx);
    if (!d) throw std::bad_alloc();
    CodecBlocks b;
    size_t pending = 1;  // 0 once a frame has ended and nothing of another has been read
    bool any = false;
    for (;;) {
        size_t n = b.Refill(io);
        if (n == 0) break;
        any = true;
        ZSTD_inBuffer input{b.in.get(), n, 0};
        bool full = false;
        // Until the input is used and the output that it yields has been taken.
        while (input.pos < input.size || full) {
            ZSTD_outBuffer output{b.out.get(), kBlock, 0};
            size_t r = ZSTD_decompressStream(d.get(), &output, &input);
            if (ZSTD_isError(r)) {
                result.status = ZSTD_getErrorCode(r) == ZSTD_error_frameParameter_windowTooLarge
                                    ? CodecStatus::kTooLarge
                                    : CodecStatus::kBadData;
                return result;
            }
            b.Emit(io, output.pos, result);
            full = output.pos == output.size;
            pending = r;
        }
    }
    if (!any || pending != 0) result.status = CodecStatus::kTruncated;
    return result;
}

}  // namespace engine
