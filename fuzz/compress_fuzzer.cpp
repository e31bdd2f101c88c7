// The Unix-compress decoder (LZW of 9 to 16 bits); the magic is put in front, so every input
// reaches the flags byte and the codes.
#include <vector>

#include "archiver/engine/unzip/unix_compress.h"
#include "fuzz/decoder_io.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> stream{0x1F, 0x9D};
    stream.insert(stream.end(), data, data + size);
    fuzz::DecoderIo io(stream);
    engine::UnixCompressIo cio{io.io.read, io.io.write};
    engine::DecodeUnixCompress(cio);
    return 0;
}
