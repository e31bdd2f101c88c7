// The update reader: an archive about to be changed, read front to back with every central
// header checked against its local header.
#include "archiver/engine/zip/update_reader.h"
#include "fuzz/fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A file of size 0 is deleted by the reader; nothing else is.
    std::string path = fuzz::WriteInput("update.zip", {data, size});
    zip::OldArchive old;
    zip::ReadForUpdate(path, old);
    return 0;
}
