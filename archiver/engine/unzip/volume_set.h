// Split archives read as one file: the volumes of a set (NAME.z01, NAME.z02, ..., NAME.zip
// of a spanned archive, or NAME.001, NAME.002, ... cut from one archive at any byte) stand
// behind one descriptor whose reads PreadFull and FileSize map onto the volumes, so that every
// reader of an archive reads a set as it reads a single file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "archiver/engine/unzip/file_io.h"

namespace engine {

/// How the volumes of a set make one archive.
enum class VolumeLayout {
    kParts,    ///< pieces of one archive: its offsets count from the first piece's start
    kSpanned,  ///< a spanned archive: each offset counts from the start of the volume named with it
};

/// One volume of an open set.
struct Volume {
    std::string path;
    uint64_t start = 0;  ///< where it begins in the bytes of the whole set
    uint64_t size = 0;
};

/// The volumes behind a set's descriptor, in order; for a spanned archive volume i is disk i.
struct VolumeSet {
    VolumeLayout layout = VolumeLayout::kParts;
    std::vector<Volume> volumes;
    uint64_t size = 0;  ///< all the volumes' bytes
    /// The name the volume after the last would have (numbered pieces), for the message when
    /// the archive's end is not among them.
    std::string next_volume;
    /// The volume that holds a position of the set's bytes (the last for a position past them).
    size_t VolumeAt(uint64_t pos) const;
};

/// Why an archive could not be opened.
enum class OpenProblem { kNone, kCantOpen, kMissingVolume, kForeignVolume };

/// An archive opened for reading.
struct OpenedArchive {
    UniqueFd fd;  ///< the file, or the descriptor of its set; none when `problem` is set
    OpenProblem problem = OpenProblem::kNone;
    std::string message;  ///< what went wrong, as the user reads it
};

/// Opens an archive for reading. A volume of a split set opens the whole set: NAME.zNN opens
/// the set ending in NAME.zip; a last volume whose end record names an earlier disk opens with
/// the volumes before it; NAME.NNN (three digits or more) opens all the numbered pieces when
/// there are more than one and they start at 1 or have three digits. A missing volume or one that
/// plainly belongs elsewhere is named in the message. Anything else opens as the file it is.
OpenedArchive OpenArchive(const std::string& path);

/// The set behind a descriptor OpenArchive returned; null for a plain file.
std::shared_ptr<const VolumeSet> VolumeSetOf(int fd);

/// The name of volume `number` (1 for the first) of the spanned set whose last volume is
/// `archive`: its extension replaced by "z01", "z02", ..., "z99", "z100" (upper case when the
/// archive's extension is).
std::string SpannedVolumeName(const std::string& archive, uint32_t number);

/// The messages about volumes.
std::string MissingVolumeText(const std::string& path);
std::string ForeignVolumeText(const std::string& path);

/// PreadFull's way into the sets: true when `fd` is a set's descriptor, the read's result then
/// being in `got` (as PreadFull returns it).
bool ReadFromVolumeSet(int fd, void* buf, size_t n, uint64_t offset, ssize_t& got);
/// FileSize's: true when `fd` is a set's descriptor, its size then being in `size`.
bool VolumeSetSize(int fd, int64_t& size);
/// UniqueFd's, before it closes a descriptor: a set's is forgotten.
void ForgetVolumeSet(int fd);

}  // namespace engine
