// What kind of archive a file is: by its extension first, then by what its first and last
// bytes hold, then the configured default. Every reader of an archive asks here first.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "archiver/engine/unzip/unzip.h"

namespace formats {

/// Archive kinds; the numbers are the kind codes of the open archive and of the unzip
/// command record.
enum ArchiveKind : uint16_t {
    kKindUnknown = 0,
    kKindZip = engine::kKindZip,
    kKindLzh = 2,
    kKindArj = 3,
    kKindArc = 4,
    kKindTar = engine::kKindTar,
    kKindGzip = engine::kKindGzip,  ///< gzip, Unix compress or pack
    kKindMsCompress = engine::kKindMsCompress,
    kKindEncodedMail = 8,  ///< uuencoded, xxencoded, base64 or BinHex text
};

/// Bytes of the file's start that content detection looks at (an ARJ main header of the
/// largest size fits).
constexpr size_t kKindHeadSize = 4096;
/// Bytes of the file's end searched for a zip end record: the record with the longest comment
/// it can have.
constexpr size_t kKindTailSize = 22 + 0xFFFF;

/// The kind an extension names (case ignored), kKindUnknown for any other.
ArchiveKind KindByExtension(std::string_view path);

/// The kind the content shows: `head` holds the file's first bytes (up to kKindHeadSize),
/// `tail` its last bytes (up to kKindTailSize; the same bytes as head for a short file).
/// kKindUnknown when nothing is recognised, also for a disk image.
ArchiveKind KindByContent(std::span<const uint8_t> head, std::span<const uint8_t> tail);

/// The whole decision: extension, then content, then `default_kind` (zip when that is
/// kKindUnknown).
ArchiveKind DetectKind(std::string_view path, std::span<const uint8_t> head,
                       std::span<const uint8_t> tail, ArchiveKind default_kind);

/// Reads the head and tail of a file and decides; false when the file cannot be read
/// (`kind` is then left as it was).
bool DetectFileKind(const std::string& path, ArchiveKind default_kind, ArchiveKind& kind);

/// The kind for messages, with its article ("a gzip or Unix compress file", "an ARJ
/// archive").
const char* KindDescription(ArchiveKind kind);

}  // namespace formats
