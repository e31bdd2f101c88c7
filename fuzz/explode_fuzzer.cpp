// Explode (method 6): the first byte gives the member's flags (8K dictionary, literal tree),
// the next three its declared size and the next two its compressed size's magnitude.
#include "archiver/engine/unzip/explode.h"
#include "fuzz/decoder_io.h"
#include "fuzz/fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Params p(data, size);
    uint16_t flags = p.Byte() & 0x06;
    uint64_t declared = p.U24();
    uint64_t compressed = uint64_t{p.U16()} << (p.Byte() & 15);
    fuzz::DecoderIo io(p.Rest());
    engine::OldMethodResult r = engine::Explode(io.io, flags, compressed, declared);
    if (r.out_size > declared) __builtin_trap();
    return 0;
}
