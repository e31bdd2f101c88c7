#include "archiver/formats/lzh_listing.h"

#include <array>
#include <iterator>

#include "platform/dostime.h"

namespace formats {

namespace {

constexpr size_t kBaseSize = 21;
constexpr uint8_t kExtFileName = 0x01;
constexpr uint8_t kExtFolderName = 0x02;
constexpr size_t kMaxNamePart = 1024;
// Real headers carry a handful of extended headers; a long chain of tiny ones only costs
// time.
constexpr int kMaxExtendedHeaders = 256;

enum class Parse { kOk, kEnd, kBad, kChecksum, kShort };

// A method field "-lh5-": "-l", two characters that are not "-", and "-".
bool IsMethod(std::span<const uint8_t> m) {
    return m[0] == '-' && m[1] == 'l' && m[2] != '-' && m[3] != '-' && m[4] == '-';
}

std::string_view AsText(std::span<const uint8_t> b) {
    return {reinterpret_cast<const char*>(b.data()), b.size()};
}

// A folder name from an extended header: 0xFF (and `\`) separate, a trailing one is added.
std::string FolderText(std::span<const uint8_t> data) {
    std::string raw(AsText(data.first(std::min(data.size(), kMaxNamePart))));
    for (char& c : raw)
        if (static_cast<unsigned char>(c) == 0xFF) c = '/';
    std::string folder = MemberNameToUtf8(raw);
    if (!folder.empty() && folder.back() != '/') folder += '/';
    return folder;
}

struct Header {
    ListedMember member;
    uint64_t data_offset = 0;  // where the compressed data starts
};

// Walks the extended headers starting at `offset` whose first size is `size`; takes the file
// and folder names from them. `total` gets their length; false when one leaves the file or
// the header's bounds.
bool ReadExtendedHeaders(ArchiveFile& file, uint64_t offset, uint64_t end, uint16_t size,
                         std::string& name, std::string& folder, std::string& raw_folder,
                         uint64_t& total) {
    total = 0;
    std::vector<uint8_t> ext;
    for (int count = 0; size != 0; ++count) {
        if (size < 3 || offset + size > end || count == kMaxExtendedHeaders) return false;
        ext.resize(size);
        if (file.ReadAt(offset, ext) < ext.size()) return false;
        std::span<const uint8_t> data(ext.data() + 1, size - 3);
        if (ext[0] == kExtFileName)
            name.assign(AsText(data.first(std::min(data.size(), kMaxNamePart))));
        else if (ext[0] == kExtFolderName) {
            folder = FolderText(data);
            raw_folder.assign(AsText(data.first(std::min(data.size(), kMaxNamePart))));
            char last = raw_folder.empty() ? '\xFF' : raw_folder.back();
            if (last != '\xFF' && last != '/' && last != '\\') raw_folder += '\xFF';
        }
        offset += size;
        total += size;
        size = Le16(ext, size - 2);
    }
    return true;
}

Parse ReadHeader(ArchiveFile& file, uint64_t offset, Header& h) {
    std::array<uint8_t, kBaseSize> base{};
    size_t got = file.ReadAt(offset, base);
    if (got == 0 || (got >= 1 && base[0] == 0)) return Parse::kEnd;
    if (got < base.size()) return Parse::kShort;
    if (!IsMethod(std::span<const uint8_t>(base).subspan(2, 5))) return Parse::kBad;
    uint64_t packed = Le32(base, 7);
    h.member = {};
    h.member.size = Le32(base, 11);
    h.member.method.assign(AsText(std::span<const uint8_t>(base).subspan(2, 5)));
    uint8_t level = base[20];
    std::string raw_name, folder, raw_folder;
    if (level == 0 || level == 1) {
        size_t header_size = base[0];
        std::vector<uint8_t> hdr(header_size + 2);
        if (header_size < kBaseSize - 1) return Parse::kBad;
        if (file.ReadAt(offset, hdr) < hdr.size()) return Parse::kShort;
        uint8_t sum = 0;
        for (size_t i = 2; i < hdr.size(); ++i) sum = static_cast<uint8_t>(sum + hdr[i]);
        if (sum != hdr[1]) return Parse::kChecksum;
        size_t name_length = hdr[21];
        if (22 + name_length + 2 > hdr.size()) return Parse::kBad;
        raw_name.assign(AsText(std::span<const uint8_t>(hdr).subspan(22, name_length)));
        h.member.crc = Le16(hdr, 22 + name_length);
        h.member.dos_datetime = Le32(hdr, 15);  // time in the low word, date in the high
        h.member.attributes = hdr[19];
        uint64_t after = offset + hdr.size();
        if (level == 1) {
            if (22 + name_length + 5 > hdr.size()) return Parse::kBad;
            uint16_t next = Le16(hdr, hdr.size() - 2);
            uint64_t ext_total = 0;
            if (!ReadExtendedHeaders(file, after, file.Size(), next, raw_name, folder, raw_folder,
                                     ext_total))
                return Parse::kShort;
            // The level-1 size field counts the extended headers with the data.
            if (ext_total > packed) return Parse::kBad;
            packed -= ext_total;
            after += ext_total;
        }
        h.data_offset = after;
    } else if (level == 2) {
        uint16_t header_size = Le16(base, 0);
        if (header_size < 26) return Parse::kBad;
        std::array<uint8_t, 5> tail{};
        if (file.ReadAt(offset + kBaseSize, tail) < tail.size()) return Parse::kShort;
        h.member.crc = Le16(tail, 0);
        h.member.unix_time = Le32(base, 15);
        h.member.dos_datetime = platform::TimeToDos(static_cast<time_t>(Le32(base, 15)));
        uint16_t next = Le16(tail, 3);
        uint64_t ext_total = 0;
        uint64_t end = offset + header_size;
        if (end > file.Size()) return Parse::kShort;
        if (!ReadExtendedHeaders(file, offset + 26, end, next, raw_name, folder, raw_folder,
                                 ext_total))
            return Parse::kBad;
        h.data_offset = end;
    } else {
        return Parse::kEnd;  // a level this reader does not know ends the listing
    }
    if (packed > file.Size() - std::min(h.data_offset, file.Size())) return Parse::kShort;
    h.member.packed = packed;
    h.member.raw_name = raw_folder + raw_name;
    for (char& c : raw_name)
        if (static_cast<unsigned char>(c) == 0xFF) c = '/';  // separators of some LHA ports
    h.member.name = folder + MemberNameToUtf8(raw_name);
    return Parse::kOk;
}

// The first header: "-l", two characters and "-" in the first bytes, two bytes after its
// start, that parses as a header.
bool FindFirstHeader(ArchiveFile& file, uint64_t& found) {
    std::vector<uint8_t> head(static_cast<size_t>(std::min(file.Size(), kLzhSearchLimit)));
    size_t got = file.ReadAt(0, head);
    for (size_t i = 2; i + 5 <= got; ++i) {
        if (!IsMethod(std::span<const uint8_t>(head).subspan(i, 5))) continue;
        Header h;
        if (ReadHeader(file, i - 2, h) == Parse::kOk) {
            found = i - 2;
            return true;
        }
    }
    return false;
}

}  // namespace

bool ReadLzhListing(const std::string& path, std::vector<ListedMember>& members,
                    std::string& error) {
    ArchiveFile file(path);
    if (!file.Ok()) {
        error = kUnexpectedEnd;
        return false;
    }
    uint64_t offset = 0;
    if (!FindFirstHeader(file, offset)) {
        error = "File does not appear to be a valid LZH archive";
        return false;
    }
    for (;;) {
        Header h;
        switch (ReadHeader(file, offset, h)) {
            case Parse::kOk:
                break;
            case Parse::kEnd:
                return true;
            case Parse::kBad:
                error = "Bad header";
                return false;
            case Parse::kChecksum:
                error = "Header checksum error";
                return false;
            case Parse::kShort:
                error = kUnexpectedEnd;
                return false;
        }
        // The data starts after the header, so every step moves forward.
        offset = h.data_offset + h.member.packed;
        members.push_back(std::move(h.member));
    }
}

}  // namespace formats
