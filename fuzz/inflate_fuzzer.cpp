// Inflate over a raw deflate stream, with one workspace reused as the extractor reuses it.
#include "archiver/engine/unzip/inflate.h"
#include "fuzz/decoder_io.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static engine::InflateWorkspacePtr ws = engine::MakeInflateWorkspace();
    fuzz::DecoderIo io({data, size});
    engine::InflateResult r = engine::Inflate(io.io, *ws);
    if (r.out_size != io.written || r.in_used > size) __builtin_trap();
    return 0;
}
