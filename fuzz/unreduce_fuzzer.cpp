// Unreduce (methods 2 to 5): the first byte picks the method, the next three the declared size.
#include "archiver/engine/unzip/unreduce.h"
#include "fuzz/decoder_io.h"
#include "fuzz/fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Params p(data, size);
    uint16_t method = static_cast<uint16_t>(2 + p.Byte() % 4);
    uint64_t declared = p.U24();
    fuzz::DecoderIo io(p.Rest());
    engine::OldMethodResult r = engine::Unreduce(io.io, method, declared);
    if (r.out_size > declared) __builtin_trap();
    return 0;
}
