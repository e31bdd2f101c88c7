// Tar listing: walks the 512-byte headers of a tar archive (old, ustar and GNU forms, pax
// path records) and names its members, without reading their data.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace formats {

/// Longest member name honoured from a long-name record (GNU 'L' or pax path).
constexpr size_t kMaxTarLongName = 4096;

/// One member of a tar archive.
struct TarMember {
    std::string name;   ///< full name (ustar prefix, GNU long name or pax path applied)
    uint64_t size = 0;  ///< data size, clamped to what the archive holds
    int64_t mtime = 0;  ///< seconds since 1970
    int64_t mode = -1;  ///< permission bits; -1 when the field does not parse
    char type = '0';    ///< type flag ('\0' and '0' are regular files)
    bool Regular() const { return type == '0' || type == '\0'; }
    bool Folder() const { return type == '5'; }
};

/// An octal header field: leading blanks skipped, digits 0-7 up to the width, a NUL or a
/// blank; -1 for any other character or a field of blanks only.
int64_t ParseTarOctal(std::string_view field);

/// Reads the members of the tar archive at `path` (a tar inside a gzip or Unix-compress file
/// is unpacked into a private temporary file first); false with the message in `error`
/// ("Invalid archive directory" for an archive whose first block is empty, "Error reading
/// header after processing %d entries" for a field that does not parse). Members read before
/// an error stay in `members`.
bool ReadTarListing(const std::string& path, std::vector<TarMember>& members, std::string& error);

/// True when the file at `path` is a gzip or Unix-compress file that holds a tar archive: the
/// first block it unpacks to carries a valid tar header checksum.
bool IsCompressedTar(const std::string& path);

}  // namespace formats
