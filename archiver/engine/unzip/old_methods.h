// The older zip methods as one family for the extraction driver: shrunk (1), reduced (2-5)
// and imploded (6).
#pragma once

#include <cstdint>

#include "archiver/engine/unzip/old_method_io.h"

namespace engine {

/// True for methods 1 to 6.
bool IsOldMethod(uint16_t method);

/// Decodes one member of an older method, stopping at its declared size. flags are the
/// member's general-purpose flags and compressed_size its declared compressed size (both
/// matter to imploded members only).
OldMethodResult DecodeOldMethod(const OldMethodIo& io, uint16_t method, uint16_t flags,
                                uint64_t compressed_size, uint64_t size);

}  // namespace engine
