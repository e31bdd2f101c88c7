// The command language on lines typed by the user (origin 0).
#include "fuzz/script_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::RunScriptInput(data, size, chat::kOriginTyped);
    return 0;
}
