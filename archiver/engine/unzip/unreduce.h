// Unreduce: decodes a zip member of methods 2 to 5 (reduced with compression factor 1 to 4).
#pragma once

#include <cstdint>

#include "archiver/engine/unzip/old_method_io.h"

namespace engine {

/// Decodes one reduced member of the given method (2 to 5) until size bytes have been
/// produced. Another method is invalid data.
OldMethodResult Unreduce(const OldMethodIo& io, uint16_t method, uint64_t size);

}  // namespace engine
