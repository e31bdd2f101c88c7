// The ARC listing reader, as the listing of a ARC archive runs it.
#include "archiver/formats/arc_listing.h"
#include "fuzz/fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string path = fuzz::WriteInput("test.arc", {data, size});
    std::vector<formats::ListedMember> members;
    std::string error;
    formats::ReadArcListing(path, members, error);
    for (const formats::ListedMember& m : members) formats::MemberNameToUtf8(m.raw_name);
    return 0;
}
