#include "archiver/engine/unzip/inflate_fast.h"

namespace engine::inflate_fast {

FastStop DecodeFastPortable(FastState& s, const Tables& tables) {
    return DecodeFastBody<PortableBits>(s, tables);
}

FastLoop BestFastLoop() {
    return HaveBmi2() ? DecodeFastBmi2 : DecodeFastPortable;
}

}  // namespace engine::inflate_fast
