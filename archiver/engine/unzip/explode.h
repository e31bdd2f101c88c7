// Explode: decodes a zip member of method 6 (imploded) with its Shannon-Fano trees.
#pragma once

#include <cstdint>

#include "archiver/engine/unzip/old_method_io.h"

namespace engine {

/// General-purpose flag bit: an 8 KB dictionary (else 4 KB).
constexpr uint16_t kExplodeFlag8K = 0x0002;
/// General-purpose flag bit: a literal tree is present (three trees, else two).
constexpr uint16_t kExplodeFlagLiteralTree = 0x0004;

/// Width of the distance tree's first-level lookup for a member of this compressed size:
/// large members get the wider table.
unsigned ExplodeDistanceRootBits(uint64_t compressed_size);

/// Decodes one imploded member until size bytes have been produced. flags are the member's
/// general-purpose flags; compressed_size only chooses a table width.
OldMethodResult Explode(const OldMethodIo& io, uint16_t flags, uint64_t compressed_size,
                        uint64_t size);

}  // namespace engine
