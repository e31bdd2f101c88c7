#include "archiver/formats/listed_member.h"

#include "archiver/formats/arc_listing.h"
#include "archiver/formats/arj_listing.h"
#include "archiver/formats/lzh_listing.h"
#include "platform/codepage.h"

namespace formats {

ArchiveFile::ArchiveFile(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return;
    file_.reset(f);
    if (fseeko(f, 0, SEEK_END) != 0) {
        file_.reset();
        return;
    }
    off_t end = ftello(f);
    if (end < 0) {
        file_.reset();
        return;
    }
    size_ = static_cast<uint64_t>(end);
}

size_t ArchiveFile::ReadAt(uint64_t offset, std::span<uint8_t> out) {
    if (!file_ || offset >= size_) return 0;
    size_t want = static_cast<size_t>(std::min<uint64_t>(out.size(), size_ - offset));
    if (fseeko(file_.get(), static_cast<off_t>(offset), SEEK_SET) != 0) return 0;
    return std::fread(out.data(), 1, want, file_.get());
}

std::string MemberNameToUtf8(std::string_view raw) {
    std::string name = platform::IsValidUtf8(raw) ? std::string(raw) : platform::OemToUtf8(raw);
    for (char& c : name) {
        if (c == '\\') c = '/';
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '_';
    }
    return name;
}

bool IsProgramKind(ArchiveKind kind) {
    return kind == kKindArj || kind == kKindLzh || kind == kKindArc;
}

bool ReadProgramKindListing(ArchiveKind kind, const std::string& path,
                            std::vector<ListedMember>& members, std::string& error) {
    switch (kind) {
        case kKindArj:
            return ReadArjListing(path, members, error);
        case kKindLzh:
            return ReadLzhListing(path, members, error);
        case kKindArc:
            return ReadArcListing(path, members, error);
        default:
            error = "Unknown archive type";
            return false;
    }
}

}  // namespace formats
