// The zip test run with a password given up front, as `borvan32 -t --password=` runs it: the
// traditional and AES decryption, the AES field and authentication code, and the members
// behind them, are reached instead of being skipped for want of a password.
#include "fuzz/engine_run.h"
#include "fuzz/fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::TestArchive(fuzz::WriteInput("crypt.zip", {data, size}), engine::kKindZip, "secret");
    return 0;
}
