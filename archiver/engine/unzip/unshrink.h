// Unshrink: decodes a zip member of method 1 (shrunk: LZW with growing codes and partial
// clearing).
#pragma once

#include <cstdint>

#include "archiver/engine/unzip/old_method_io.h"

namespace engine {

/// Decodes one shrunk member until its input ends or size bytes have been produced.
OldMethodResult Unshrink(const OldMethodIo& io, uint64_t size);

}  // namespace engine
