#include "archiver/engine/unzip/extra_fields.h"

#include <sys/stat.h>

#include "archiver/engine/unzip/zip_records.h"

namespace engine {

namespace {
// Seconds between 1601-01-01 (the NTFS epoch) and 1970-01-01.
constexpr int64_t kNtfsEpochOffset = 11644473600;
constexpr uint64_t kNtfsTicksPerSecond = 10000000;
}  // namespace

std::optional<uint32_t> MemberUnixMode(uint16_t version_made, uint32_t external_attr) {
    if ((version_made >> 8) != kHostUnix) return std::nullopt;
    uint32_t mode = external_attr >> 16;
    if (mode == 0) return std::nullopt;
    return mode;
}

bool IsLinkMode(std::optional<uint32_t> mode) {
    return mode && (*mode & S_IFMT) == S_IFLNK;
}

mode_t PermissionsToRestore(uint32_t mode, mode_t umask) {
    return static_cast<mode_t>(mode & 0777 & ~umask);
}

std::optional<int64_t> ExtraFieldMtime(std::span<const uint8_t> extra) {
    std::optional<int64_t> ntfs;
    size_t i = 0;
    while (i + 4 <= extra.size()) {
        uint16_t id = Get16(&extra[i]);
        size_t size = Get16(&extra[i + 2]);
        if (size > extra.size() - i - 4) break;
        const uint8_t* data = &extra[i + 4];
        if (id == kExtraExtendedTime && size >= 5 && (data[0] & 1)) {
            // The first time after the flags is the modification time, in the local header
            // and the central one alike.
            return static_cast<int64_t>(static_cast<int32_t>(Get32(data + 1)));
        }
        if (id == kExtraNtfs && !ntfs) {
            // Four reserved bytes, then attributes: tag 1 holds modification, access and
            // creation times as 100-nanosecond ticks since 1601.
            size_t j = 4;
            while (j + 4 <= size) {
                uint16_t tag = Get16(data + j);
                size_t tag_size = Get16(data + j + 2);
                if (tag_size > size - j - 4) break;
                if (tag == 1 && tag_size >= 8) {
                    uint64_t ticks = Get64(data + j + 4);
                    ntfs = static_cast<int64_t>(ticks / kNtfsTicksPerSecond) - kNtfsEpochOffset;
                    break;
                }
                j += 4 + tag_size;
            }
        }
        i += 4 + size;
    }
    return ntfs;
}

std::vector<uint8_t> ExtendedTimeField(int64_t mtime) {
    if (mtime < INT32_MIN || mtime > INT32_MAX) return {};
    std::vector<uint8_t> f(9);
    Put16(f.data(), kExtraExtendedTime);
    Put16(f.data() + 2, 5);
    f[4] = 1;  // modification time present
    Put32(f.data() + 5, static_cast<uint32_t>(static_cast<int32_t>(mtime)));
    return f;
}

bool LinkTargetStaysInside(std::string_view target, size_t link_depth) {
    if (target.empty() || target.front() == '/') return false;
    size_t ups = 0;
    bool named = false;  // a plain name was seen: no ".." may follow
    size_t i = 0;
    while (i <= target.size()) {
        size_t slash = target.find('/', i);
        if (slash == std::string_view::npos) slash = target.size();
        std::string_view part = target.substr(i, slash - i);
        i = slash + 1;
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            if (named) return false;
            if (++ups > link_depth) return false;
            continue;
        }
        // A backslash is an ordinary character here, but a name with one is no way out.
        named = true;
    }
    return true;
}

}  // namespace engine
