// The zip listing reader: end record, central directory and the link targets the listing
// shows, as `borvan32 -l` and the manager's window read them.
#include <fcntl.h>
#include <unistd.h>

#include "archiver/engine/unzip/zip_directory.h"
#include "fuzz/fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string path = fuzz::WriteInput("listing.zip", {data, size});
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    engine::ZipDirectory dir = engine::ReadZipDirectory(fd, path);
    size_t links = 0;
    for (const engine::DirectoryEntry& e : dir.entries) {
        // Only members whose attributes mark a link have a target read, as in the listing.
        if (((e.header.external_attr >> 16) & 0170000) != 0120000) continue;
        if (++links > 64) break;
        engine::ReadLinkTarget(fd, e);
    }
    ::close(fd);
    return 0;
}
