// Microsoft Compress headers (SZDD and KWAJ): the name a file expands to and its expanded
// size, as the listing shows them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace formats {

/// What the listing needs from a Microsoft Compress file.
struct MsCompressInfo {
    std::optional<std::string> name;  ///< nullopt: the user has to be asked
    uint64_t expanded_size = 0;
    const char* format = "";  ///< "szdd" or "kwaj"
    const char* method = "";  ///< "lzss", or a KWAJ header's method ("stored", "mszip", ...)
};

/// Reads the header of the file at `path`; false with the message in `error`.
bool ReadMsCompressInfo(const std::string& path, MsCompressInfo& info, std::string& error);

/// The name proposed when nobody can answer the name question: the file's own name without
/// its trailing "_" (the one character a packer replaced or appended).
std::string DefaultExpandedName(const std::string& path);

}  // namespace formats
