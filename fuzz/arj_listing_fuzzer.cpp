// The ARJ listing reader, as the listing of a ARJ archive runs it.
#include "archiver/formats/arj_listing.h"
#include "fuzz/fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string path = fuzz::WriteInput("test.arj", {data, size});
    std::vector<formats::ListedMember> members;
    std::string error;
    formats::ReadArjListing(path, members, error);
    for (const formats::ListedMember& m : members) formats::MemberNameToUtf8(m.raw_name);
    return 0;
}
