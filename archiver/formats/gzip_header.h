// gzip and Unix compress headers: where the compressed data starts, the stored original name
// and time, and the name a file's own name suggests when the header has none.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace formats {

/// Longest original name a gzip header may hold.
constexpr size_t kMaxGzipName = 260;

/// What a gzip or Unix compress header says.
struct GzipHeader {
    bool unix_compress = false;  ///< 0x1F 0x9D: no header beyond the magic, data from 0
    uint64_t data_offset = 0;    ///< where the compressed data starts
    uint32_t mtime = 0;          ///< seconds since 1970, 0 when not stored
    std::string original_name;   ///< base name only; empty when not stored
};

/// Parses the header held in `head` (the file's first bytes); false with the message in
/// `error` ("Unknown gzip compression method", "Cannot open encrypted gzip file", ...).
bool ParseGzipHeader(std::span<const uint8_t> head, GzipHeader& header, std::string& error);

/// The member name the file name suggests: "x.tgz"/"x.taz" give "x.tar", "x.y.gz"/"x.y.z"
/// give "x.y"; nullopt when the user has to be asked.
std::optional<std::string> NameFromArchiveName(const std::string& path);

/// The question asked when the name cannot be derived.
std::string FullNameQuestion(const std::string& path);

/// The name proposed when nobody can answer that question: the file's name without its last
/// extension (or with "_" added when that leaves nothing).
std::string DefaultContainedName(const std::string& path);

/// A name from a header made safe to create: its last component, never "." or ".." or
/// empty; nullopt when nothing usable is left.
std::optional<std::string> SafeBaseName(std::string_view name);

}  // namespace formats
