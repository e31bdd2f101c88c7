// The self-extracting program's bytes, built into borvan32 so that it needs no helper file.
#pragma once

#include <cstdint>
#include <span>

namespace sfx {

/// The stripped self-extracting program, as built with this borvan32.
std::span<const uint8_t> EmbeddedStub();

}  // namespace sfx
