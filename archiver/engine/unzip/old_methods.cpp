#include "archiver/engine/unzip/old_methods.h"

#include "archiver/engine/unzip/explode.h"
#include "archiver/engine/unzip/unreduce.h"
#include "archiver/engine/unzip/unshrink.h"

namespace engine {

bool IsOldMethod(uint16_t method) {
    return method >= 1 && method <= 6;
}

OldMethodResult DecodeOldMethod(const OldMethodIo& io, uint16_t method, uint16_t flags,
                                uint64_t compressed_size, uint64_t size) {
    if (method == 1) return Unshrink(io, size);
    if (method == 6) return Explode(io, flags, compressed_size, size);
    return Unreduce(io, method, size);
}

}  // namespace engine
