#include "archiver/formats/arj_listing.h"

#include <array>
#include <iterator>

#include "archiver/engine/unzip/crc32.h"
#include "platform/dostime.h"

namespace formats {

namespace {

constexpr uint8_t kMark0 = 0x60;
constexpr uint8_t kMark1 = 0xEA;
constexpr size_t kFixedPart = 30;  // first header size byte to the end of host data
constexpr uint8_t kFlagGarbled = 0x01;
constexpr uint8_t kTypeBinary = 0;
constexpr uint8_t kTypeText = 1;
constexpr size_t kMaxName = 512;
constexpr uint8_t kHostUnix = 2;
constexpr uint8_t kHostNext = 8;

// A basic header read at `offset`: the mark, its size and the CRC-checked bytes.
enum class HeaderRead { kOk, kEnd, kBadHeader, kCrc, kShort };

HeaderRead ReadBasicHeader(ArchiveFile& file, uint64_t offset, std::vector<uint8_t>& basic,
                           uint64_t& next) {
    std::array<uint8_t, 4> start{};
    if (file.ReadAt(offset, start) < start.size()) return HeaderRead::kShort;
    if (start[0] != kMark0 || start[1] != kMark1) return HeaderRead::kBadHeader;
    size_t size = Le16(start, 2);
    if (size == 0) return HeaderRead::kEnd;
    if (size > kArjMaxBasicHeader) return HeaderRead::kBadHeader;
    basic.resize(size + 4);
    if (file.ReadAt(offset + 4, basic) < basic.size()) return HeaderRead::kShort;
    uint32_t stored = Le32(basic, size);
    basic.resize(size);
    if (engine::Crc32(0, basic) != stored) return HeaderRead::kCrc;
    next = offset + 4 + size + 4;
    return HeaderRead::kOk;
}

// Skips the extended headers after a basic header; false when one runs past the file.
bool SkipExtendedHeaders(ArchiveFile& file, uint64_t& offset) {
    for (;;) {
        std::array<uint8_t, 2> size_field{};
        if (file.ReadAt(offset, size_field) < size_field.size()) return false;
        offset += 2;
        uint16_t size = Le16(size_field, 0);
        if (size == 0) return true;
        offset += uint64_t{size} + 4;  // the header and its CRC-32
        if (offset > file.Size()) return false;
    }
}

// Finds the main header: the first mark whose size fits and whose CRC matches.
bool FindMainHeader(ArchiveFile& file, uint64_t& found) {
    uint64_t limit = std::min<uint64_t>(file.Size() >= 2 ? file.Size() - 2 : 0, kArjSearchLimit);
    std::vector<uint8_t> window;
    constexpr size_t kChunk = 65536;
    for (uint64_t base = 0; base < limit; base += kChunk) {
        window.resize(static_cast<size_t>(std::min<uint64_t>(kChunk + 1, limit + 1 - base)));
        size_t got = file.ReadAt(base, window);
        for (size_t i = 0; i + 1 < got && base + i < limit; ++i) {
            if (window[i] != kMark0 || window[i + 1] != kMark1) continue;
            std::vector<uint8_t> basic;
            uint64_t next = 0;
            if (ReadBasicHeader(file, base + i, basic, next) == HeaderRead::kOk) {
                found = base + i;
                return true;
            }
        }
    }
    return false;
}

}  // namespace

bool ReadArjListing(const std::string& path, std::vector<ListedMember>& members,
                    std::string& error) {
    ArchiveFile file(path);
    if (!file.Ok()) {
        error = kUnexpectedEnd;
        return false;
    }
    uint64_t offset = 0;
    if (!FindMainHeader(file, offset)) {
        error = "File does not appear to be a valid ARJ archive";
        return false;
    }
    bool main_header = true;
    std::vector<uint8_t> basic;
    for (;;) {
        uint64_t next = 0;
        switch (ReadBasicHeader(file, offset, basic, next)) {
            case HeaderRead::kOk:
                break;
            case HeaderRead::kEnd:
                return true;
            case HeaderRead::kBadHeader:
                error = "Bad header";
                return false;
            case HeaderRead::kCrc:
                error = "Header CRC error";
                return false;
            case HeaderRead::kShort:
                error = kUnexpectedEnd;
                return false;
        }
        offset = next;
        if (!SkipExtendedHeaders(file, offset)) {
            error = kUnexpectedEnd;
            return false;
        }
        size_t first_size = basic[0];
        if (basic.size() < kFixedPart || first_size < kFixedPart || first_size > basic.size()) {
            error = "Bad header";
            return false;
        }
        if (main_header) {
            main_header = false;
            continue;
        }
        uint8_t flags = basic[4];
        uint8_t type = basic[6];
        uint64_t packed = Le32(basic, 12);
        if (packed > file.Size() - std::min(offset, file.Size())) {
            error = kUnexpectedEnd;
            return false;
        }
        if (type == kTypeBinary || type == kTypeText) {
            std::string_view rest(reinterpret_cast<const char*>(basic.data()) + first_size,
                                  basic.size() - first_size);
            std::string_view raw = rest.substr(0, std::min(rest.find('\0'), kMaxName));
            ListedMember m;
            m.name = MemberNameToUtf8(raw);
            m.raw_name = raw;
            m.encrypted = (flags & kFlagGarbled) != 0;
            uint8_t host = basic[3];
            bool unix_host = host == kHostUnix || host == kHostNext;
            // Archives made on UNIX-like systems keep the time as seconds since 1970.
            if (unix_host) m.unix_time = Le32(basic, 8);
            m.dos_datetime = unix_host ? platform::TimeToDos(static_cast<time_t>(Le32(basic, 8)))
                                       : Le32(basic, 8);
            static const char* const kMethods[] = {"stored", "method1", "method2", "method3",
                                                   "method4"};
            m.method = basic[5] < std::size(kMethods) ? kMethods[basic[5]] : "unknown";
            // The access mode field: Unix permission bits or MS-DOS attributes by host.
            if (first_size >= 28) {
                if (unix_host)
                    m.mode = Le16(basic, 26);
                else
                    m.attributes = Le16(basic, 26) & 0xFF;
            }
            m.packed = packed;
            m.size = Le32(basic, 16);
            m.crc = Le32(basic, 20);
            members.push_back(std::move(m));
        }
        offset += packed;  // every header moves forward by at least its own size
    }
}

}  // namespace formats
