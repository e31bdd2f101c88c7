// What the ARJ, LZH and ARC listing readers hand back for each member, and the bounded
// positioned reads of an archive file that they share.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "archiver/formats/archive_kind.h"

namespace formats {

/// One member named by an archive's headers.
struct ListedMember {
    std::string name;               ///< UTF-8, `/` between folders
    bool encrypted = false;         ///< stored garbled (needs a password)
    uint32_t dos_datetime = 0;      ///< MS-DOS date high, time low
    uint64_t size = 0;              ///< original size
    uint64_t packed = 0;            ///< compressed size
    uint32_t crc = 0;               ///< CRC-32 for ARJ, CRC-16 for LZH and ARC
    std::string raw_name;           ///< the stored name bytes (folder part included)
    std::string method;             ///< the compression method's name ("-lh5-", "crunched", ...)
    int32_t attributes = -1;        ///< MS-DOS attribute bits; -1 when not stored
    int32_t mode = -1;              ///< Unix mode bits; -1 when not stored
    int64_t unix_time = INT64_MIN;  ///< stored time in seconds since 1970; INT64_MIN when not
};

/// Message for a header that runs past the end of the file.
inline constexpr const char* kUnexpectedEnd = "Cannot read file or unexpected end of file";

/// An archive opened for positioned reads that never pass its end.
class ArchiveFile {
public:
    /// Opens `path` for reading; Ok() tells whether it worked.
    explicit ArchiveFile(const std::string& path);
    /// True when the file is open and its size known.
    bool Ok() const { return file_ != nullptr; }
    /// The file's size in bytes.
    uint64_t Size() const { return size_; }
    /// Reads up to out.size() bytes at `offset`; the count read (short only at the end).
    size_t ReadAt(uint64_t offset, std::span<uint8_t> out);

private:
    struct Closer {
        void operator()(FILE* f) const { std::fclose(f); }
    };
    std::unique_ptr<FILE, Closer> file_;
    uint64_t size_ = 0;
};

/// A stored name as UTF-8: kept when it is valid UTF-8 (plain ASCII included), otherwise
/// read as the OEM code page; NUL and other control bytes become `_` and `\` becomes `/`.
std::string MemberNameToUtf8(std::string_view raw);

/// Little-endian fields of a header.
inline uint16_t Le16(std::span<const uint8_t> b, size_t at) {
    return static_cast<uint16_t>(b[at] | b[at + 1] << 8);
}
inline uint32_t Le32(std::span<const uint8_t> b, size_t at) {
    return static_cast<uint32_t>(b[at]) | static_cast<uint32_t>(b[at + 1]) << 8 |
           static_cast<uint32_t>(b[at + 2]) << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

/// True for the kinds these readers list (ARJ, LZH, ARC).
bool IsProgramKind(ArchiveKind kind);

/// Reads the members of an ARJ, LZH or ARC archive; false with the reader's message in
/// `error` (members read before the error stay in `members`).
bool ReadProgramKindListing(ArchiveKind kind, const std::string& path,
                            std::vector<ListedMember>& members, std::string& error);

}  // namespace formats
