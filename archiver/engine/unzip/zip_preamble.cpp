#include "archiver/engine/unzip/zip_preamble.h"

#include "archiver/engine/unzip/file_io.h"

namespace engine {

bool CentralAt(int fd, int64_t pos) {
    uint8_t sig[4];
    return pos >= 0 && PreadFull(fd, sig, 4, static_cast<uint64_t>(pos)) == 4 &&
           Get32(sig) == kCentralSig;
}

int64_t FindPreamble(int fd, const EndRecord& end, int64_t end_pos) {
    int64_t preamble = end_pos - (int64_t{end.directory_size} + end.directory_offset);
    if (preamble < 0 || end.entries_here == 0) return preamble;
    const int64_t candidates[] = {preamble, preamble - int64_t{kEnd64Size + kLocator64Size}, 0};
    for (int64_t p : candidates)
        if (p >= 0 && CentralAt(fd, int64_t{end.directory_offset} + p)) return p;
    return preamble;
}

}  // namespace engine
