#include "archiver/engine/unzip/zip_directory.h"

#include <fcntl.h>

#include <algorithm>
#include <cctype>

#include "archiver/engine/unzip/extra_fields.h"
#include "archiver/engine/unzip/file_io.h"
#include "archiver/engine/unzip/library_codecs.h"
#include "archiver/engine/unzip/volume_set.h"
#include "archiver/engine/unzip/zip64_records.h"
#include "archiver/engine/unzip/zip_preamble.h"

namespace engine {

const char* const kMsgInvalidDirectory = "Invalid archive directory";
const char* const kMsgInvalidDirectoryFix =
    "Invalid archive directory.  Running PKZIPFIX may correct this problem";
const char* const kMsgIoError = "IO Error";
const char* const kMsgCantOpen = "Can't open input file: ";

namespace {

// The end record with the longest comment its 16-bit length allows.
constexpr size_t kTailSize = kEndSize + 0xFFFF;

bool EndsWithNoCase(const std::string& s, const char* suffix) {
    size_t n = std::char_traits<char>::length(suffix);
    if (s.size() < n) return false;
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(s[s.size() - n + i])) != suffix[i])
            return false;
    return true;
}

// True when the end record at `end_pos` closes a directory that lies right in front of it (or
// in front of a 64-bit end record and its locator); an archive without members says where it
// is itself.
bool EndsDirectory(int fd, const EndRecord& end, uint64_t end_pos) {
    uint8_t sig[4];
    if (end_pos >= kLocator64Size && PreadFull(fd, sig, 4, end_pos - kLocator64Size) == 4 &&
        Get32(sig) == kLocator64Sig)
        return true;
    if (end.entries_here == 0 && end.directory_size == 0)
        return uint64_t{end.directory_offset} == end_pos;
    return end.directory_size <= end_pos &&
           CentralAt(fd, static_cast<int64_t>(end_pos - end.directory_size));
}

// Where the end record lies in `tail` (the file's last bytes, from `tail_pos`), -1 when no
// signature is there. A comment may hold the signature too, and some writers pad the archive
// behind its end (a pipe written in whole blocks), so the search goes backwards and takes the
// last record that both fits in the file with its comment and closes the directory in front of
// it; failing that, the last that fits; failing that, the last signature.
ptrdiff_t FindEndRecord(int fd, std::span<const uint8_t> tail, uint64_t tail_pos) {
    ptrdiff_t last_sig = -1, last_fitting = -1;
    if (tail.size() < kEndSize) return -1;
    for (size_t i = tail.size() - kEndSize + 1; i-- > 0;) {
        if (tail[i] != 'P' || Get32(&tail[i]) != kEndSig) continue;
        if (last_sig < 0) last_sig = static_cast<ptrdiff_t>(i);
        EndRecord end = ParseEnd(std::span<const uint8_t, kEndFixed>(&tail[i + 4], kEndFixed));
        if (tail.size() - i - kEndSize < end.comment_length) continue;
        if (last_fitting < 0) last_fitting = static_cast<ptrdiff_t>(i);
        if (EndsDirectory(fd, end, tail_pos + i)) return static_cast<ptrdiff_t>(i);
    }
    return last_fitting >= 0 ? last_fitting : last_sig;
}

// The directory of a spanned set: its entry count and where it starts in the set's bytes, from
// the disk and offset of the end record, or of the 64-bit end record when a locator in front
// of the end record names one (on its disk, at an offset counted from that disk's start).
bool FindSpannedDirectory(int fd, const VolumeSet& set, const EndRecord& end, uint64_t end_pos,
                          uint64_t& entries, uint64_t& start) {
    uint64_t total = end.entries_total, size = end.directory_size, offset = end.directory_offset;
    uint32_t disk = end.directory_disk;
    uint8_t loc[kLocator64Size];
    if (end_pos >= kLocator64Size &&
        PreadFull(fd, loc, kLocator64Size, end_pos - kLocator64Size) ==
            static_cast<ssize_t>(kLocator64Size) &&
        Get32(loc) == kLocator64Sig) {
        uint32_t record_disk = Get32(loc + 4);
        uint64_t record_offset = Get64(loc + 8);
        if (record_disk >= set.volumes.size() || record_offset > set.volumes[record_disk].size)
            return false;
        uint8_t b[kEnd64Size];
        uint64_t record_at = set.volumes[record_disk].start + record_offset;
        if (PreadFull(fd, b, kEnd64Size, record_at) != static_cast<ssize_t>(kEnd64Size))
            return false;
        std::optional<End64Record> r = ParseEnd64(std::span<const uint8_t, kEnd64Size>(b));
        if (!r) return false;
        auto agrees = [](uint64_t narrow, uint64_t mark, uint64_t wide) {
            return narrow == mark || narrow == wide;
        };
        if (!agrees(total, kZip64Mark16, r->entries_total) ||
            !agrees(size, kZip64Mark32, r->directory_size) ||
            !agrees(offset, kZip64Mark32, r->directory_offset) ||
            !agrees(disk, kZip64Mark16, r->directory_disk))
            return false;
        total = r->entries_total;
        size = r->directory_size;
        offset = r->directory_offset;
        disk = r->directory_disk;
    }
    if (disk >= set.volumes.size() || offset > set.volumes[disk].size) return false;
    start = set.volumes[disk].start + offset;
    if (start > end_pos || end_pos - start < size) return false;
    if (total > 0 && !CentralAt(fd, static_cast<int64_t>(start))) return false;
    entries = total;
    return true;
}

// True when a local header with the entry's name lies where the directory places it.
bool LocalHeaderNames(int fd, const DirectoryEntry& entry) {
    std::vector<uint8_t> b(kLocalSize + entry.name.size());
    if (PreadFull(fd, b.data(), b.size(), entry.local_offset) != static_cast<ssize_t>(b.size()) ||
        Get32(b.data()) != kLocalSig)
        return false;
    LocalHeader l = ParseLocal(std::span<const uint8_t, kLocalFixed>(&b[4], kLocalFixed));
    return l.name_length == entry.name.size() &&
           std::equal(entry.name.begin(), entry.name.end(), b.begin() + kLocalSize,
                      [](char c, uint8_t u) { return static_cast<uint8_t>(c) == u; });
}

ZipDirectory Failure(DirectoryStatus status, std::string message) {
    ZipDirectory d;
    d.status = status;
    d.message = std::move(message);
    return d;
}

}  // namespace

ZipDirectory ReadZipDirectory(const std::string& path) {
    OpenedArchive archive = OpenArchive(path);
    switch (archive.problem) {
        case OpenProblem::kNone:
            return ReadZipDirectory(archive.fd.get(), path);
        case OpenProblem::kCantOpen:
            return Failure(DirectoryStatus::kError, archive.message);
        case OpenProblem::kMissingVolume:
        case OpenProblem::kForeignVolume:
            break;
    }
    return Failure(DirectoryStatus::kBadVolume, archive.message);
}

std::optional<FoundEnd> LocateEndRecord(int fd) {
    int64_t size = FileSize(fd);
    if (size < static_cast<int64_t>(kEndSize)) return std::nullopt;
    size_t tail_len = static_cast<size_t>(std::min<int64_t>(size, kTailSize));
    uint64_t tail_pos = static_cast<uint64_t>(size) - tail_len;
    std::vector<uint8_t> tail(tail_len);
    if (PreadFull(fd, tail.data(), tail_len, tail_pos) != static_cast<ssize_t>(tail_len))
        return std::nullopt;
    ptrdiff_t at = FindEndRecord(fd, tail, tail_pos);
    if (at < 0) return std::nullopt;
    FoundEnd found;
    found.record = ParseEnd(
        std::span<const uint8_t, kEndFixed>(&tail[static_cast<size_t>(at) + 4], kEndFixed));
    found.at = tail_pos + static_cast<uint64_t>(at);
    found.disk = found.record.disk;
    if (found.disk == kZip64Mark16) {
        End64Search end64 = FindEnd64(fd, found.at);
        if (end64.status == End64Search::Status::kFound) found.disk = end64.record.disk;
    }
    return found;
}

ZipDirectory ReadZipDirectory(int fd, const std::string& name, bool removable) {
    int64_t size = FileSize(fd);
    if (size < 0) return Failure(DirectoryStatus::kError, kMsgIoError);
    if (size == 0) {
        ZipDirectory d;
        d.status = DirectoryStatus::kEmpty;
        return d;
    }
    uint8_t first[4] = {};
    if (PreadFull(fd, first, 4, 0) < 0) return Failure(DirectoryStatus::kError, kMsgIoError);
    // An end record alone is 22 bytes; anything shorter cannot hold a directory.
    if (size < static_cast<int64_t>(kEndSize))
        return Failure(DirectoryStatus::kError, kMsgInvalidDirectory);
    bool exe = EndsWithNoCase(name, ".exe");
    std::string bad_dir =
        exe ? "File does not appear to be a self-extracting archive" : kMsgInvalidDirectoryFix;

    size_t tail_len = static_cast<size_t>(std::min<int64_t>(size, kTailSize));
    uint64_t tail_pos = static_cast<uint64_t>(size) - tail_len;
    std::vector<uint8_t> tail(tail_len);
    if (PreadFull(fd, tail.data(), tail_len, tail_pos) != static_cast<ssize_t>(tail_len))
        return Failure(DirectoryStatus::kError, kMsgIoError);

    std::shared_ptr<const VolumeSet> set = VolumeSetOf(fd);
    bool spanned = set && set->layout == VolumeLayout::kSpanned;
    ptrdiff_t at = FindEndRecord(fd, tail, tail_pos);
    if (at < 0) {
        // Pieces of an archive whose end is not among them: the next piece is missing.
        if (set && !set->next_volume.empty())
            return Failure(DirectoryStatus::kBadVolume, MissingVolumeText(set->next_volume));
        if (Get32(first) == kDescriptorSig)
            return Failure(DirectoryStatus::kNotZip,
                           "This is the first disk in a backup set.  Insert the last disk of the "
                           "backup set (required by Zip file format) and try again");
        if (!name.empty() && name.back() == '_')
            return Failure(DirectoryStatus::kNotZip,
                           "Cannot open file: even though it ends with an underscore this file "
                           "does not appear to be a Microsoft Compress format file");
        if (exe)
            return Failure(DirectoryStatus::kNotZipExe,
                           "Borvan cannot open this file.  It does not appear to be a Zip "
                           "file.\n\nIf this is a self-extracting file it is either not in the "
                           "standard Zip file format or it is corrupt.\n\nWould you like to run "
                           "this executable file?");
        std::string msg = "Cannot open file: it does not appear to be a valid archive.";
        if (removable)
            msg +=
                "  If this file is part of a ZIP format backup set, insert the last disk of "
                "the backup set and try again";
        return Failure(DirectoryStatus::kNotZip, msg);
    }
    const uint8_t* e = &tail[static_cast<size_t>(at)];
    EndRecord end = ParseEnd(std::span<const uint8_t, kEndFixed>(e + 4, kEndFixed));
    // The disks of a spanned set are its volumes, read as one file.
    if (!spanned && end.disk + 1u < end.directory_disk)
        return Failure(DirectoryStatus::kError, kMsgInvalidDirectoryFix);
    if (!spanned && end.disk != end.directory_disk &&
        !(end.disk == 0 && end.directory_disk == 1 && Get32(first) == kLocalSig))
        return Failure(DirectoryStatus::kError,
                       "ZIP Central Directory spans disks - please run PKUNZIP from command line");

    int64_t end_pos = static_cast<int64_t>(tail_pos) + at;
    uint64_t entries = end.entries_here;
    uint64_t dir_offset = end.directory_offset;
    int64_t preamble = 0;
    uint64_t dir_start = 0;
    if (spanned) {
        if (!FindSpannedDirectory(fd, *set, end, static_cast<uint64_t>(end_pos), entries,
                                  dir_start))
            return Failure(DirectoryStatus::kError, kMsgInvalidDirectory);
    } else {
        End64Search end64 = FindEnd64(fd, static_cast<uint64_t>(end_pos));
        if (end64.status == End64Search::Status::kBad)
            return Failure(DirectoryStatus::kError, kMsgInvalidDirectory);
        if (end64.status == End64Search::Status::kFound) {
            // The 64-bit record rules; the distance between where it lies and where the locator
            // places it is the preamble.
            uint64_t dir_size = 0;
            if (!MergeEnd64(end, end64.record, entries, dir_size, dir_offset) ||
                end64.at < end64.recorded)
                return Failure(DirectoryStatus::kError, kMsgInvalidDirectory);
            preamble = static_cast<int64_t>(end64.at - end64.recorded);
            if (dir_offset > end64.recorded || end64.recorded - dir_offset < dir_size)
                return Failure(DirectoryStatus::kError, bad_dir);
            if (entries > 0 && !CentralAt(fd, static_cast<int64_t>(dir_offset) + preamble))
                return Failure(DirectoryStatus::kError, bad_dir);
        } else {
            preamble = FindPreamble(fd, end, end_pos);
        }
        if (preamble < 0) return Failure(DirectoryStatus::kError, bad_dir);
        dir_start = dir_offset + static_cast<uint64_t>(preamble);
    }
    if (dir_start > static_cast<uint64_t>(size)) return Failure(DirectoryStatus::kError, bad_dir);
    size_t block_len = static_cast<size_t>(static_cast<uint64_t>(size) - dir_start);
    std::vector<uint8_t> block(block_len);
    if (PreadFull(fd, block.data(), block_len, dir_start) != static_cast<ssize_t>(block_len))
        return Failure(DirectoryStatus::kError, kMsgIoError);

    ZipDirectory d;
    d.facts.preamble = preamble;
    size_t comment_at = static_cast<size_t>(at) + kEndSize;
    d.comment.assign(reinterpret_cast<const char*>(tail.data()) + comment_at,
                     std::min<size_t>(end.comment_length, tail_len - comment_at));
    uint64_t min_offset = UINT64_MAX;
    uint16_t max_disk = 0;
    bool all_disk_one = true;
    size_t pos = 0;
    for (uint64_t n = 0; n < entries; ++n) {
        // A lying count or field length must end the reading, never run past the block.
        if (block_len - pos < kCentralSize || Get32(&block[pos]) != kCentralSig)
            return Failure(DirectoryStatus::kError, bad_dir);
        DirectoryEntry entry;
        entry.header =
            ParseCentral(std::span<const uint8_t, kCentralFixed>(&block[pos + 4], kCentralFixed));
        const CentralHeader& h = entry.header;
        size_t var = size_t{h.name_length} + h.extra_length + h.comment_length;
        if (block_len - pos - kCentralSize < var)
            return Failure(DirectoryStatus::kError, kMsgInvalidDirectory);
        entry.name.assign(reinterpret_cast<const char*>(&block[pos + kCentralSize]), h.name_length);
        std::span<const uint8_t> extra(&block[pos + kCentralSize + h.name_length], h.extra_length);
        auto wide = WidenCentral(h, extra);
        // A 64-bit field too short for the values its header defers to it.
        if (!wide) return Failure(DirectoryStatus::kError, kMsgInvalidDirectory);
        entry.compressed = wide->compressed;
        entry.uncompressed = wide->uncompressed;
        entry.local_offset = wide->local_offset + static_cast<uint64_t>(preamble);
        if (spanned) {
            // An offset counts from the start of the volume (disk) the member starts on.
            if (wide->disk_start >= set->volumes.size() ||
                wide->local_offset >= set->volumes[wide->disk_start].size)
                return Failure(DirectoryStatus::kError, kMsgInvalidDirectory);
            entry.local_offset = set->volumes[wide->disk_start].start + wide->local_offset;
        }
        if (h.extra_length > 0) entry.mtime = ExtraFieldMtime(extra);
        AesField aes;
        if (h.method == kMethodAes && ReadAesField(extra, aes) == AesFieldStatus::kOk)
            entry.aes = aes;
        min_offset =
            std::min<uint64_t>(min_offset, entry.local_offset - static_cast<uint64_t>(preamble));
        max_disk = std::max(max_disk, h.disk_start);
        if (h.disk_start != 1) all_disk_one = false;
        if (h.flags & kFlagEncrypted) d.facts.encrypted = true;
        if (!entry.IsRow() &&
            !IsFolderName(std::span<const uint8_t>(
                reinterpret_cast<const uint8_t*>(entry.name.data()), entry.name.size())))
            d.facts.folders_without_slash = true;
        if (h.method > 6) d.facts.needs_newer = true;
        if (h.method == 7 || (h.method > kMethodDeflate64 && !IsLibraryMethod(h.method)))
            d.facts.unsupported_methods = true;
        d.entries.push_back(std::move(entry));
        pos += kCentralSize + var;
    }
    if (min_offset == UINT64_MAX) min_offset = 0;
    bool spans = false;
    if (end.disk != 0) {
        bool plain_end =
            end.disk == 1 && end.directory_disk == 1 && end.entries_here == end.entries_total;
        if (!plain_end || (!all_disk_one && max_disk != 0) || min_offset == 4) spans = true;
    }
    if (Get32(first) == kDescriptorSig || set) spans = true;
    d.facts.spans_disks = spans;
    // A volume of another archive put in the set shows where a member's header should be.
    if (set)
        for (const DirectoryEntry& entry : d.entries)
            if (!LocalHeaderNames(fd, entry))
                return Failure(
                    DirectoryStatus::kBadVolume,
                    ForeignVolumeText(set->volumes[set->VolumeAt(entry.local_offset)].path));
    d.facts.first_local_offset = min_offset + static_cast<uint64_t>(preamble);
    return d;
}

std::string ReadLinkTarget(int fd, const DirectoryEntry& entry) {
    const CentralHeader& h = entry.header;
    if (!IsLinkMode(MemberUnixMode(h.version_made, h.external_attr)) || h.method != kMethodStored ||
        (h.flags & kFlagEncrypted) || entry.compressed > kMaxLinkTarget)
        return {};
    uint8_t local[kLocalSize];
    if (PreadFull(fd, local, kLocalSize, entry.local_offset) != static_cast<ssize_t>(kLocalSize) ||
        Get32(local) != kLocalSig)
        return {};
    LocalHeader l = ParseLocal(std::span<const uint8_t, kLocalFixed>(local + 4, kLocalFixed));
    std::string target(entry.compressed, '\0');
    uint64_t at = entry.local_offset + kLocalSize + l.name_length + l.extra_length;
    if (PreadFull(fd, target.data(), target.size(), at) != static_cast<ssize_t>(target.size()))
        return {};
    return target;
}

}  // namespace engine
