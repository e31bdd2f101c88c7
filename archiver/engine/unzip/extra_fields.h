// What archives made on Unix and Windows carry beyond the MS-DOS fields: the file's mode in the
// external attributes, and its time in the extended-time (0x5455) and NTFS (0x000A) extra
// fields; and the checks a stored symbolic link's target must pass before it is created.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace engine {

/// Host number of Unix in the high byte of "version made by".
constexpr uint16_t kHostUnix = 3;
/// Extra field ids.
constexpr uint16_t kExtraExtendedTime = 0x5455;
constexpr uint16_t kExtraNtfs = 0x000A;
/// Longest link target a member may store (the system's own path limit).
constexpr size_t kMaxLinkTarget = 4095;

/// The Unix mode a member carries (type and permission bits), or nullopt when it was not made
/// on Unix or left the high 16 bits of its external attributes empty.
std::optional<uint32_t> MemberUnixMode(uint16_t version_made, uint32_t external_attr);

/// True when a member's Unix mode marks a symbolic link.
bool IsLinkMode(std::optional<uint32_t> mode);

/// The permission bits to give an extracted file: read, write and execute bits only (never
/// setuid, setgid or sticky), less the process's umask.
mode_t PermissionsToRestore(uint32_t mode, mode_t umask);

/// The modification time (seconds since 1970, UTC) an extra field block records: the
/// extended-time field first, else the NTFS field; nullopt when neither holds one. A damaged
/// block ends the search.
std::optional<int64_t> ExtraFieldMtime(std::span<const uint8_t> extra);

/// The extended-time field (id, length, flags, modification time) for `mtime`; empty when the
/// time does not fit the field's 32 bits.
std::vector<uint8_t> ExtendedTimeField(int64_t mtime);

/// True when a link stored at `link_folders` (its folder components below the target) with
/// `target` stays inside the target folder: a relative target whose ".." components all come
/// first and climb no higher than the link's own folder allows. Any other use of ".." could
/// climb through a link made earlier, so it is refused as well.
bool LinkTargetStaysInside(std::string_view target, size_t link_depth);

}  // namespace engine
