#include "archiver/engine/unzip/inflate_fast.h"

namespace engine::inflate_fast {

// Set where the processor has BMI2 (inflate_fast_x86.cpp).
FastStop DecodeFastBmi2(FastState& s, const uint32_t* lit, const uint32_t* dist);
bool HaveBmi2();

namespace {

FastStop DecodeFastPortable(FastState& s, const uint32_t* lit, const uint32_t* dist) {
    return DecodeFastBody(s, lit, dist);
}

}  // namespace

FastStop DecodeFast(FastState& s, const uint32_t* lit, const uint32_t* dist) {
    if (HaveBmi2()) return DecodeFastBmi2(s, lit, dist);
    return DecodeFastPortable(s, lit, dist);
}

}  // namespace engine::inflate_fast
