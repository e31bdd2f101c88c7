// Tar archives: the listing (ustar, GNU and pax names) and the test run over every member.
#include "archiver/formats/tar_listing.h"
#include "fuzz/engine_run.h"
#include "fuzz/fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string path = fuzz::WriteInput("test.tar", {data, size});
    std::vector<formats::TarMember> members;
    std::string error;
    formats::ReadTarListing(path, members, error);
    fuzz::TestArchive(path, engine::kKindTar);
    return 0;
}
