// The zip test run: local headers walked in file order, every member decoded and checked, as
// `borvan32 -t` does it.
#include "fuzz/engine_run.h"
#include "fuzz/fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::TestArchive(fuzz::WriteInput("test.zip", {data, size}), engine::kKindZip);
    return 0;
}
