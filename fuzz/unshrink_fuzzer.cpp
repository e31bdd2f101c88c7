// Unshrink (method 1): the first three bytes give the declared size.
#include "archiver/engine/unzip/unshrink.h"
#include "fuzz/decoder_io.h"
#include "fuzz/fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Params p(data, size);
    uint64_t declared = p.U24();
    fuzz::DecoderIo io(p.Rest());
    engine::OldMethodResult r = engine::Unshrink(io.io, declared);
    if (r.out_size > declared) __builtin_trap();
    return 0;
}
