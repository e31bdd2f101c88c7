#include "archiver/engine/zip/split_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>

#include "archiver/engine/unzip/file_io.h"
#include "archiver/engine/unzip/volume_set.h"
#include "archiver/engine/unzip/zip64_records.h"
#include "archiver/engine/unzip/zip_records.h"
#include "archiver/engine/zip/zip64_fields.h"
#include "archiver/engine/zip/zip_run.h"
#include "archiver/engine/zip/zip_writer.h"

namespace zip {

const char* const kMsgUpdateSplit =
    "You cannot update this Zip file because it spans disks.  The Zip file format does not "
    "permit updating Zips that span disks. (You can replace this Zip by deleting it first.)";

namespace {

using engine::kZip64Mark16;
using engine::kZip64Mark32;

// The spanning mark at the start of the first volume.
constexpr std::array<uint8_t, 4> kSpanMark = {'P', 'K', 7, 8};

// Writes the stream of the split archive's bytes into its volume files, starting the next
// volume at each cut. The volumes before the last go beside the archive under their own names;
// the last goes to a temporary file that then replaces the archive.
class VolumeFiles {
public:
    VolumeFiles(const std::string& archive, std::vector<uint64_t> cuts, mode_t mode, bool sync)
        : archive_(archive), cuts_(std::move(cuts)), mode_(mode), sync_(sync) {}
    ~VolumeFiles() {
        if (done_) return;
        fd_.reset();
        for (const std::string& p : written_) ::unlink(p.c_str());
    }

    // 0, or a result code with the file in `detail`.
    int Put(std::span<const uint8_t> bytes, std::string& detail) {
        while (!bytes.empty()) {
            if (!fd_ || (disk_ < cuts_.size() && stream_ == cuts_[disk_])) {
                if (int r = Next(detail)) return r;
            }
            uint64_t room = disk_ < cuts_.size() ? cuts_[disk_] - stream_ : bytes.size();
            size_t n = static_cast<size_t>(std::min<uint64_t>(room, bytes.size()));
            if (!engine::WriteFull(fd_.get(), bytes.data(), n)) {
                detail = written_.back();
                return kResultWrite;
            }
            stream_ += n;
            bytes = bytes.subspan(n);
        }
        return 0;
    }

    // Ends the last volume and puts it in the archive's place.
    int Finish(std::string& detail) {
        if (int r = Close(detail)) return r;
        int r = ReplaceArchive(archive_, written_.back(), mode_);
        if (r != 0) {
            detail = archive_;
            return r;
        }
        done_ = true;
        return 0;
    }

private:
    int Close(std::string& detail) {
        if (!fd_) return 0;
        if ((sync_ && ::fsync(fd_.get()) != 0) || !fd_.reset()) {
            detail = written_.back();
            return kResultWrite;
        }
        return 0;
    }

    int Next(std::string& detail) {
        if (fd_) {
            if (int r = Close(detail)) return r;
            ++disk_;
        }
        std::string path;
        if (disk_ < cuts_.size()) {
            path = engine::SpannedVolumeName(archive_, disk_ + 1);
            fd_.reset(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
        } else {
            size_t slash = archive_.rfind('/');
            path = TempTemplate(slash == std::string::npos ? "" : archive_.substr(0, slash + 1));
            fd_.reset(::mkostemp(path.data(), O_CLOEXEC));
        }
        if (!fd_) {
            detail = path;
            return kResultCreate;
        }
        written_.push_back(path);
        if (::fchmod(fd_.get(), mode_) != 0) {
            detail = path;
            return kResultCreate;
        }
        return 0;
    }

    std::string archive_;
    std::vector<uint64_t> cuts_;
    mode_t mode_;
    bool sync_;
    engine::UniqueFd fd_;
    uint32_t disk_ = 0;
    uint64_t stream_ = 0;
    std::vector<std::string> written_;
    bool done_ = false;
};

// The records after the directory of a split archive, placed whole in the last volume.
struct EndPlan {
    std::vector<uint8_t> bytes;
    VolumePlace place;
};

// The 64-bit end record and its locator (when anything needs them) and the end record.
std::vector<uint8_t> SplitEndRecords(uint64_t entries, uint64_t here, uint64_t size,
                                     VolumePlace directory, VolumePlace at, bool wide,
                                     const std::string& comment) {
    std::vector<uint8_t> b;
    if (wide) {
        engine::End64Record r;
        r.disk = at.disk;
        r.directory_disk = directory.disk;
        r.entries_here = here;
        r.entries_total = entries;
        r.directory_size = size;
        r.directory_offset = directory.offset;
        b = engine::End64AndLocator(r, at.offset, at.disk, at.disk + 1);
    }
    auto narrow16 = [](uint64_t v) {
        return static_cast<uint16_t>(std::min<uint64_t>(v, kZip64Mark16));
    };
    auto narrow32 = [](uint64_t v) {
        return static_cast<uint32_t>(std::min<uint64_t>(v, kZip64Mark32));
    };
    engine::EndRecord e;
    e.disk = narrow16(at.disk);
    e.directory_disk = narrow16(directory.disk);
    e.entries_here = narrow16(here);
    e.entries_total = narrow16(entries);
    e.directory_size = narrow32(size);
    e.directory_offset = narrow32(directory.offset);
    AppendEndRecord(e, comment, b);
    return b;
}

// Copies `count` bytes of `in` from `from` into the volumes.
int CopyInto(int in, uint64_t from, uint64_t count, VolumeFiles& out, std::string& detail) {
    std::vector<uint8_t> buf(static_cast<size_t>(std::clamp<uint64_t>(count, 1, kOutBufferSize)));
    while (count > 0) {
        size_t want = static_cast<size_t>(std::min<uint64_t>(count, buf.size()));
        ssize_t got = engine::PreadFull(in, buf.data(), want, from);
        if (got != static_cast<ssize_t>(want)) return kResultRead;
        if (int r = out.Put(std::span(buf.data(), want), detail)) return r;
        from += want;
        count -= want;
    }
    return 0;
}

}  // namespace

void VolumeCursor::NextVolume() {
    cuts_.push_back(stream_);
    ++disk_;
    pos_ = 0;
}

std::optional<VolumePlace> VolumeCursor::Whole(uint64_t n) {
    if (n > volume_size_) return std::nullopt;
    if (volume_size_ - pos_ < n) NextVolume();
    VolumePlace at{disk_, pos_};
    pos_ += n;
    stream_ += n;
    return at;
}

void VolumeCursor::Flow(uint64_t n) {
    while (n > 0) {
        if (pos_ == volume_size_) NextVolume();
        uint64_t take = std::min(n, volume_size_ - pos_);
        pos_ += take;
        stream_ += take;
        n -= take;
    }
}

int WriteSplitArchive(int temp, std::span<const Member> members, uint64_t directory_start,
                      const std::string& comment, const std::string& archive, uint64_t volume_size,
                      mode_t mode, bool sync, std::string& detail) {
    // Where each member's header goes: its header and name read again from what was written.
    std::vector<size_t> order(members.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        return members[a].local_offset < members[b].local_offset;
    });
    VolumeCursor cursor(volume_size);
    cursor.Whole(kSpanMark.size());
    std::vector<VolumePlace> places(members.size());
    uint64_t first = order.empty() ? directory_start : members[order.front()].local_offset;
    for (size_t k = 0; k < order.size(); ++k) {
        const Member& m = members[order[k]];
        uint64_t next = k + 1 < order.size() ? members[order[k + 1]].local_offset : directory_start;
        uint8_t h[engine::kLocalSize];
        if (next < m.local_offset || engine::PreadFull(temp, h, sizeof h, m.local_offset) !=
                                         static_cast<ssize_t>(sizeof h)) {
            detail = "was splitting " + m.name;
            return kResultRead;
        }
        uint64_t header = engine::kLocalSize + engine::Get16(h + 26) + engine::Get16(h + 28);
        std::optional<VolumePlace> at =
            header <= next - m.local_offset ? cursor.Whole(header) : std::nullopt;
        if (!at) {
            detail = "the header of " + m.name + " is larger than a volume";
            return kResultBadRequest;
        }
        places[order[k]] = *at;
        cursor.Flow(next - m.local_offset - header);
    }
    // The central directory, each header whole in one volume.
    std::vector<std::vector<uint8_t>> records;
    records.reserve(members.size());
    VolumePlace directory = cursor.Here();
    uint64_t directory_size = 0;
    for (size_t i = 0; i < members.size(); ++i) {
        Member m = members[i];
        m.local_offset = places[i].offset;
        std::optional<std::vector<uint8_t>> record = CentralRecord(m, places[i].disk);
        std::optional<VolumePlace> at = record ? cursor.Whole(record->size()) : std::nullopt;
        if (!at) {
            detail = "the directory header of " + m.name + " is larger than a volume";
            return kResultBadRequest;
        }
        if (i == 0) directory = *at;
        directory_size += record->size();
        records.push_back(std::move(*record));
        places[i] = *at;  // from here on: where its directory header lies
    }
    // The end records, whole in the last volume. The 64-bit ones are written when a count, the
    // directory's size or offset, or a disk number does not fit the end record.
    VolumePlace here = cursor.Here();
    auto on_disk = [&](uint32_t disk) {
        return static_cast<uint64_t>(std::count_if(
            places.begin(), places.end(), [&](const VolumePlace& p) { return p.disk == disk; }));
    };
    // Decided before the records are placed, so that it holds wherever they land.
    bool wide = members.size() >= kZip64Mark16 || engine::Needs64(directory_size) ||
                engine::Needs64(directory.offset) || here.disk + 1 >= kZip64Mark16 ||
                on_disk(here.disk) >= kZip64Mark16;
    uint64_t end_size = engine::kEndSize + comment.size() +
                        (wide ? engine::kEnd64Size + engine::kLocator64Size : 0);
    std::optional<VolumePlace> end_at = cursor.Whole(end_size);
    if (!end_at) {
        detail = "the end records are larger than a volume";
        return kResultBadRequest;
    }
    std::vector<uint8_t> end = SplitEndRecords(members.size(), on_disk(end_at->disk),
                                               directory_size, directory, *end_at, wide, comment);

    VolumeFiles out(archive, cursor.cuts(), mode, sync);
    if (int r = out.Put(kSpanMark, detail)) return r;
    if (int r = CopyInto(temp, first, directory_start - first, out, detail)) {
        if (r == kResultRead) detail = "was splitting " + archive;
        return r;
    }
    for (const std::vector<uint8_t>& record : records)
        if (int r = out.Put(record, detail)) return r;
    if (int r = out.Put(end, detail)) return r;
    return out.Finish(detail);
}

bool IsSplitArchive(const std::string& path) {
    // Only a regular file is looked at: opening a pipe would wait for a writer.
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    engine::OpenedArchive opened = engine::OpenArchive(path);
    if (opened.problem == engine::OpenProblem::kMissingVolume ||
        opened.problem == engine::OpenProblem::kForeignVolume)
        return true;
    return opened.fd && engine::VolumeSetOf(opened.fd.get()) != nullptr;
}

std::optional<uint64_t> ParseVolumeSize(std::string_view text) {
    uint64_t multiple = 1;
    if (!text.empty()) {
        switch (text.back()) {
            case 'k':
            case 'K':
                multiple = uint64_t{1} << 10;
                break;
            case 'm':
            case 'M':
                multiple = uint64_t{1} << 20;
                break;
            case 'g':
            case 'G':
                multiple = uint64_t{1} << 30;
                break;
            default:
                break;
        }
        if (multiple != 1) text.remove_suffix(1);
    }
    if (text.empty() || text.size() > 15) return std::nullopt;
    uint64_t n = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        n = n * 10 + static_cast<uint64_t>(c - '0');
    }
    if (n > (uint64_t{1} << 62) / multiple) return std::nullopt;
    return n * multiple;
}

}  // namespace zip
