// LZ expander (stub until the decoders land).
#include "archiver/engine/unzip/lz_expand.h"

namespace engine {

struct LzFile {
    int fd = -1;
};

void LzFileDeleter::operator()(LzFile* file) const { delete file; }

LzHandle LzInit(int fd, int& error) {
    if (fd < 0) {
        error = kLzErrorBadInHandle;
        return nullptr;
    }
    error = 0;
    return LzHandle(new LzFile{fd});
}

long LzRead(LzFile&, std::span<uint8_t>) { return kLzErrorRead; }

std::optional<std::string> GetExpandedName(const std::string&) { return std::nullopt; }

}  // namespace engine
