#include "archiver/formats/arc_listing.h"

#include <array>
#include <iterator>

namespace formats {

namespace {

constexpr uint8_t kMarker = 0x1A;
constexpr uint8_t kMethodEnd = 0;
constexpr uint8_t kMethodOldStored = 1;  // its header has no original size
constexpr uint8_t kMethodFolder = 0x1E;
constexpr uint8_t kFirstInformation = 20;  // methods from here on are not members
constexpr size_t kHeaderSize = 29;
constexpr size_t kOldHeaderSize = 25;
constexpr size_t kNameField = 13;

}  // namespace

bool ReadArcListing(const std::string& path, std::vector<ListedMember>& members,
                    std::string& error) {
    ArchiveFile file(path);
    if (!file.Ok()) {
        error = kUnexpectedEnd;
        return false;
    }
    uint64_t offset = 0;
    for (;;) {
        std::array<uint8_t, kHeaderSize> h{};
        size_t got = file.ReadAt(offset, h);
        if (got < 2) {
            // A file that ends right after its last member, without the end marker, is
            // complete; only an empty or one-byte file has no header at all.
            if (got == 0 && offset > 0) return true;
            error = "I/O error on header";
            return false;
        }
        if (h[0] != kMarker) {
            error = "Invalid header";
            return false;
        }
        uint8_t method = h[1];
        if (method == kMethodEnd) return true;
        if (method == kMethodFolder) {
            error = "Cannot process an ARC containing folders";
            return false;
        }
        size_t header_size = method == kMethodOldStored ? kOldHeaderSize : kHeaderSize;
        if (got < header_size) {
            error = kUnexpectedEnd;
            return false;
        }
        uint64_t packed = Le32(h, 15);
        offset += header_size;
        if (packed > file.Size() - offset) {
            error = kUnexpectedEnd;
            return false;
        }
        if (method < kFirstInformation) {
            std::string_view field(reinterpret_cast<const char*>(h.data()) + 2, kNameField);
            ListedMember m;
            m.raw_name = field.substr(0, std::min(field.find('\0'), kNameField));
            m.name = MemberNameToUtf8(m.raw_name);
            static const char* const kMethods[] = {"end",      "stored",   "stored",   "packed",
                                                   "squeezed", "crunched", "crunched", "crunched",
                                                   "crunched", "squashed"};
            m.method = method < std::size(kMethods) ? kMethods[method] : "unknown";
            m.packed = packed;
            m.size = method == kMethodOldStored ? packed : Le32(h, 25);
            m.dos_datetime = static_cast<uint32_t>(Le16(h, 19)) << 16 | Le16(h, 21);
            m.crc = Le16(h, 23);
            members.push_back(std::move(m));
        }
        offset += packed;  // past the header at least: every step moves forward
    }
}

}  // namespace formats
