// bzip2 members (method 12) through libbz2.
#include <bzlib.h>

#include "archiver/engine/unzip/library_codecs.h"

namespace engine {

namespace {
constexpr size_t kBlock = CodecBlocks::kBlock;
}  // namespace

CodecResult DecodeBzip2(const InflateIo& io) {
    CodecResult result;
    bz_stream s{};
    if (BZ2_bzDecompressInit(&s, 0, 0) != BZ_OK) throw std::bad_alloc();
    // Freed however the member ends, a throwing writer included.
    struct End {
        bz_stream* s;
        ~End() { BZ2_bzDecompressEnd(s); }
    } end{&s};
    CodecBlocks b;
    for (;;) {
        if (s.avail_in == 0 && !b.input_ended) {
            s.avail_in = static_cast<unsigned>(b.Refill(io));
            s.next_in = reinterpret_cast<char*>(b.in.get());
        }
        s.next_out = reinterpret_cast<char*>(b.out.get());
        s.avail_out = kBlock;
        int r = BZ2_bzDecompress(&s);
        size_t produced = kBlock - s.avail_out;
        b.Emit(io, produced, result);
        if (r == BZ_STREAM_END) return result;
        if (r == BZ_MEM_ERROR) throw std::bad_alloc();
        if (r != BZ_OK) {
            result.status = CodecStatus::kBadData;
            return result;
        }
        if (b.input_ended && s.avail_in == 0 && produced == 0) {
            result.status = CodecStatus::kTruncated;
            return result;
        }
    }
}

}  // namespace engine
