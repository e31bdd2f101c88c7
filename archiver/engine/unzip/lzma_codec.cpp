// LZMA members (method 14) through liblzma's raw decoder. The data starts with the zip LZMA
// header: two version bytes, the properties' size (5) and the properties (lc/lp/pb and the
// dictionary size).
#include <lzma.h>

#include <algorithm>
#include <memory>

#include "archiver/engine/unzip/library_codecs.h"
#include "archiver/engine/unzip/zip_records.h"

namespace engine {

namespace {

constexpr size_t kBlock = CodecBlocks::kBlock;
constexpr size_t kHeader = 4;
constexpr size_t kProperties = 5;
constexpr uint32_t kMinDictionary = 4096;

// Reads exactly n bytes; false when the input ends first.
bool ReadExactly(const InflateIo& io, uint8_t* buf, size_t n) {
    while (n > 0) {
        size_t got = std::min(io.read(buf, n), n);
        if (got == 0) return false;
        buf += got;
        n -= got;
    }
    return true;
}

}  // namespace

CodecResult DecodeLzma(const InflateIo& io, uint64_t size) {
    CodecResult result;
    uint8_t head[kHeader + kProperties];
    if (!ReadExactly(io, head, kHeader)) return {CodecStatus::kTruncated, 0};
    if (Get16(head + 2) != kProperties) return {CodecStatus::kBadData, 0};
    if (!ReadExactly(io, head + kHeader, kProperties)) return {CodecStatus::kTruncated, 0};
    unsigned lclppb = head[kHeader];
    if (lclppb >= 9 * 5 * 5) return {CodecStatus::kBadData, 0};
    lzma_options_lzma opt{};
    if (lzma_lzma_preset(&opt, 0)) return {CodecStatus::kBadData, 0};
    opt.lc = lclppb % 9;
    opt.lp = (lclppb / 9) % 5;
    opt.pb = lclppb / 45;
    // No match reaches further back than the member's own start: a dictionary larger than
    // the member would only cost memory.
    uint64_t dictionary = std::min<uint64_t>(Get32(head + kHeader + 1), size);
    if (dictionary > kMaxLzmaDictionary) return {CodecStatus::kTooLarge, 0};
    opt.dict_size = std::max<uint32_t>(static_cast<uint32_t>(dictionary), kMinDictionary);
    // The size is known: an end marker is accepted right after it, and nowhere else.
    opt.ext_flags = LZMA_LZMA1EXT_ALLOW_EOPM;
    opt.ext_size_low = static_cast<uint32_t>(size);
    opt.ext_size_high = static_cast<uint32_t>(size >> 32);
    lzma_filter filters[2] = {{LZMA_FILTER_LZMA1EXT, &opt}, {LZMA_VLI_UNKNOWN, nullptr}};
    lzma_stream s = LZMA_STREAM_INIT;
    lzma_ret init = lzma_raw_decoder(&s, filters);
    if (init == LZMA_MEM_ERROR) throw std::bad_alloc();
    if (init != LZMA_OK) return {CodecStatus::kBadData, 0};
    struct End {
        lzma_stream* s;
        ~End() { lzma_end(s); }
    } end{&s};
    CodecBlocks b;
    for (;;) {
        if (s.avail_in == 0 && !b.input_ended) {
            s.avail_in = b.Refill(io);
            s.next_in = b.in.get();
        }
        s.next_out = b.out.get();
        s.avail_out = kBlock;
        lzma_ret r = lzma_code(&s, b.input_ended ? LZMA_FINISH : LZMA_RUN);
        size_t produced = kBlock - s.avail_out;
        b.Emit(io, produced, result);
        if (r == LZMA_STREAM_END) return result;
        if (r == LZMA_MEM_ERROR) throw std::bad_alloc();
        if (r == LZMA_BUF_ERROR || (r == LZMA_OK && b.input_ended && produced == 0)) {
            result.status = CodecStatus::kTruncated;
            return result;
        }
        if (r != LZMA_OK) {
            result.status = CodecStatus::kBadData;
            return result;
        }
    }
}

}  // namespace engine
