// Split archives written: a finished archive laid out again as volumes NAME.z01, NAME.z02,
// ..., NAME.zip of at most a given size, the first beginning with the spanning mark, every
// offset counted from the start of the volume that holds what it points to, and the 64-bit
// records where counts, offsets or disk numbers need them. Headers stay whole within one
// volume; member data flows across.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "archiver/engine/zip/update_reader.h"

namespace zip {

/// The smallest volume a split archive may have.
constexpr uint64_t kMinVolumeSize = 64 * 1024;

/// A volume size as typed: digits with an optional k, m or g (binary multiples); nullopt when
/// it is not one.
std::optional<uint64_t> ParseVolumeSize(std::string_view text);

/// Where something lies in a split archive.
struct VolumePlace {
    uint32_t disk = 0;    ///< the volume, 0 for the first
    uint64_t offset = 0;  ///< from the volume's start
};

/// Cuts the stream of an archive's bytes into volumes of at most `volume_size` bytes.
class VolumeCursor {
public:
    explicit VolumeCursor(uint64_t volume_size) : volume_size_(volume_size) {}
    /// Places `n` bytes that must not be cut (a header or a record), in a fresh volume when
    /// the current one lacks the room; nullopt when no volume can hold them.
    std::optional<VolumePlace> Whole(uint64_t n);
    /// Places `n` bytes that may run on into the volumes after (member data).
    void Flow(uint64_t n);
    /// The place the next byte goes to (before any cut a Whole would make).
    VolumePlace Here() const { return {disk_, pos_}; }
    /// Where in the stream each volume but the last ends.
    const std::vector<uint64_t>& cuts() const { return cuts_; }

private:
    void NextVolume();
    uint64_t volume_size_;
    uint32_t disk_ = 0;
    uint64_t pos_ = 0;     // bytes in the current volume
    uint64_t stream_ = 0;  // bytes placed in all
    std::vector<uint64_t> cuts_;
};

/// Lays out the archive written to `temp` as a split archive whose last volume is `archive`:
/// `members` are its members as written (local offsets in `temp`), `directory_start` where
/// its central directory began there. The volumes before the last are written beside the
/// archive, the last replaces the archive; all get `mode`, and are synced first when `sync`.
/// 0, or a result code with the file or reason in `detail` (16 when a header is larger than a
/// volume, 10 or 14 when writing failed, 11 when `temp` could not be read).
int WriteSplitArchive(int temp, std::span<const Member> members, uint64_t directory_start,
                      const std::string& comment, const std::string& archive, uint64_t volume_size,
                      mode_t mode, bool sync, std::string& detail);

/// True when `path` names a volume of a split archive, or an archive whose end record says it
/// is the last of several volumes (such archives are not updated).
bool IsSplitArchive(const std::string& path);

/// The text of the refusal to update a split archive.
extern const char* const kMsgUpdateSplit;

}  // namespace zip
