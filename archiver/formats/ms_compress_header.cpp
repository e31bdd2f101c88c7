// Microsoft Compress headers.
#include "archiver/formats/ms_compress_header.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <iterator>
#include <vector>

#include "archiver/engine/unzip/lz_expand.h"
#include "archiver/formats/gzip_header.h"

namespace formats {

namespace {

constexpr char kCorrupt[] =
    "Either this file is corrupted or you need a newer version of LZEXPAND.DLL to handle this "
    "file";

uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// The expanded size by expanding: for a KWAJ header that does not store it.
bool MeasureExpanded(int fd, uint64_t& size) {
    int error = 0;
    engine::LzHandle lz = engine::LzInit(fd, error);
    if (!lz || error != 0) return false;
    std::vector<uint8_t> buf(16384);
    size = 0;
    for (;;) {
        long n = engine::LzRead(*lz, buf);
        if (n < 0) return false;
        if (n == 0) return true;
        size += static_cast<uint64_t>(n);
    }
}

}  // namespace

std::string DefaultExpandedName(const std::string& path) {
    std::string base = path.substr(path.find_last_of('/') + 1);
    if (base.size() > 1 && base.back() == '_') base.pop_back();
    return base;
}

bool ReadMsCompressInfo(const std::string& path, MsCompressInfo& info, std::string& error) {
    info = {};
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = "Can't open input file: " + path;
        return false;
    }
    uint8_t head[18] = {};
    ssize_t got = ::pread(fd, head, sizeof head, 0);
    bool ok = false;
    static constexpr uint8_t kSzddTail[4] = {0x88, 0xF0, 0x27, 0x33};
    if (got >= 14 &&
        (std::memcmp(head, "SZDD", 4) == 0 && std::memcmp(head + 4, kSzddTail, 4) == 0)) {
        info.expanded_size = Le32(head + 10);
        info.format = "szdd";
        info.method = "lzss";
        std::string base = path.substr(path.find_last_of('/') + 1);
        if (head[9] == 0) {
            info.name = std::nullopt;  // the packer did not keep the replaced character
        } else if (!base.empty() && base.back() == '_') {
            base.back() = static_cast<char>(head[9]);
            info.name = SafeBaseName(base);
        } else {
            info.name = base;
        }
        ok = true;
    } else if (got >= 14 && std::memcmp(head, "KWAJ", 4) == 0) {
        info.name = engine::GetExpandedName(path);
        static const char* const kKwajMethods[] = {"stored", "xor", "lzss", "lzh", "mszip"};
        uint16_t method = static_cast<uint16_t>(head[8] | (head[9] << 8));
        info.format = "kwaj";
        info.method = method < std::size(kKwajMethods) ? kKwajMethods[method] : "unknown";
        uint16_t flags = static_cast<uint16_t>(head[12] | (head[13] << 8));
        // The length is there only when the header says so; otherwise expand to count it.
        if ((flags & 1) && got >= 18)
            info.expanded_size = Le32(head + 14);
        else if (!MeasureExpanded(fd, info.expanded_size))
            info.name.reset();
        ok = info.name.has_value();
        if (!ok) error = kCorrupt;
    } else {
        error = kCorrupt;
    }
    ::close(fd);
    return ok;
}

}  // namespace formats
