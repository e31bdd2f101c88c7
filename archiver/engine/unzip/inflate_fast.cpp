#include "archiver/engine/unzip/inflate_fast.h"

namespace engine::inflate_fast {

FastStop DecodeFastPortable(FastState& s, const uint32_t* lit, const uint32_t* dist) {
    return DecodeFastBody<PortableBits>(s, lit, dist);
}

FastLoop BestFastLoop() {
    return HaveBmi2() ? DecodeFastBmi2 : DecodeFastPortable;
}

}  // namespace engine::inflate_fast
