#include "archiver/sfx/appended_archive.h"

#include <algorithm>
#include <span>

#include "archiver/engine/unzip/extra_fields.h"
#include "archiver/engine/unzip/file_io.h"
#include "archiver/engine/unzip/zip64_records.h"
#include "archiver/engine/unzip/zip_preamble.h"

namespace sfx {

namespace {

// The last end record in the tail whose comment ends inside the file; -1 when there is none.
// The program's own code may hold the signature's bytes, so the search goes from the end.
ptrdiff_t FindEnd(const std::vector<uint8_t>& tail) {
    if (tail.size() < engine::kEndSize) return -1;
    for (size_t i = tail.size() - engine::kEndSize + 1; i-- > 0;) {
        if (engine::Get32(&tail[i]) != engine::kEndSig) continue;
        size_t comment = engine::Get16(&tail[i + 20]);
        if (i + engine::kEndSize + comment <= tail.size()) return static_cast<ptrdiff_t>(i);
    }
    return -1;
}

}  // namespace

bool ReadAppendedArchive(int fd, AppendedArchive& out, std::string& why) {
    why = "no zip archive found (it may be damaged)";
    out = AppendedArchive();
    int64_t size = engine::FileSize(fd);
    if (size < static_cast<int64_t>(engine::kEndSize)) return false;
    size_t tail_len = static_cast<size_t>(std::min<int64_t>(size, kEndSearch));
    uint64_t tail_pos = static_cast<uint64_t>(size) - tail_len;
    std::vector<uint8_t> tail(tail_len);
    if (engine::PreadFull(fd, tail.data(), tail_len, tail_pos) != static_cast<ssize_t>(tail_len))
        return false;
    ptrdiff_t at = FindEnd(tail);
    if (at < 0) return false;
    engine::EndRecord end = engine::ParseEnd(std::span<const uint8_t, engine::kEndFixed>(
        &tail[static_cast<size_t>(at) + 4], engine::kEndFixed));
    why = "the archive's directory is damaged";
    if (end.disk != 0 || end.directory_disk != 0) {
        why = "the archive spans disks";
        return false;
    }
    int64_t end_pos = static_cast<int64_t>(tail_pos) + at;
    uint64_t entries = end.entries_here, dir_size = end.directory_size;
    uint64_t dir_offset = end.directory_offset;
    int64_t preamble = 0;
    engine::End64Search end64 = engine::FindEnd64(fd, static_cast<uint64_t>(end_pos));
    if (end64.status == engine::End64Search::Status::kBad) return false;
    if (end64.status == engine::End64Search::Status::kFound) {
        if (!engine::MergeEnd64(end, end64.record, entries, dir_size, dir_offset) ||
            end64.at < end64.recorded)
            return false;
        // Offsets left as they were in the plain archive are off by the program's size.
        preamble = static_cast<int64_t>(end64.at - end64.recorded);
        out.end64_at = end64.at;
        out.locator_at = static_cast<uint64_t>(end_pos) - engine::kLocator64Size;
        if (entries > 0 && !engine::CentralAt(fd, static_cast<int64_t>(dir_offset) + preamble) &&
            engine::CentralAt(fd, static_cast<int64_t>(dir_offset)))
            preamble = 0;
    } else {
        preamble = engine::FindPreamble(fd, end, end_pos);
    }
    if (preamble < 0) return false;
    uint64_t dir_start = dir_offset + static_cast<uint64_t>(preamble);
    if (dir_start > static_cast<uint64_t>(end_pos) ||
        dir_size > static_cast<uint64_t>(end_pos) - dir_start)
        return false;
    // Every central header takes at least 46 bytes: a count beyond that is a lie.
    if (entries > dir_size / engine::kCentralSize) return false;
    std::vector<uint8_t> block(static_cast<size_t>(dir_size));
    if (engine::PreadFull(fd, block.data(), block.size(), dir_start) !=
        static_cast<ssize_t>(block.size()))
        return false;
    out.preamble = preamble;
    out.data_end = dir_start;
    out.directory_size = dir_size;
    out.end_at = static_cast<uint64_t>(end_pos);
    out.members.clear();
    out.members.reserve(static_cast<size_t>(entries));
    size_t pos = 0;
    for (uint64_t n = 0; n < entries; ++n) {
        if (block.size() - pos < engine::kCentralSize ||
            engine::Get32(&block[pos]) != engine::kCentralSig)
            return false;
        Member m;
        m.header = engine::ParseCentral(std::span<const uint8_t, engine::kCentralFixed>(
            &block[pos + 4], engine::kCentralFixed));
        const engine::CentralHeader& h = m.header;
        size_t var = size_t{h.name_length} + h.extra_length + h.comment_length;
        if (block.size() - pos - engine::kCentralSize < var) return false;
        const uint8_t* name = &block[pos + engine::kCentralSize];
        m.name.assign(reinterpret_cast<const char*>(name), h.name_length);
        std::span<const uint8_t> extra(name + h.name_length, h.extra_length);
        auto wide = engine::WidenCentral(h, extra);
        if (!wide) return false;
        m.compressed = wide->compressed;
        m.uncompressed = wide->uncompressed;
        m.local_offset = wide->local_offset + static_cast<uint64_t>(preamble);
        if (m.local_offset >= dir_start) return false;
        m.mtime = engine::ExtraFieldMtime(extra);
        out.members.push_back(std::move(m));
        pos += engine::kCentralSize + var;
    }
    return true;
}

}  // namespace sfx
