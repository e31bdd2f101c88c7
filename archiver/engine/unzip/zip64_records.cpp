#include "archiver/engine/unzip/zip64_records.h"

#include "archiver/engine/unzip/file_io.h"

namespace engine {

namespace {

// Takes the next 8 (or 4) bytes of a block; false when the block has no more.
struct BlockReader {
    std::span<const uint8_t> data;
    size_t at = 0;
    bool Take64(uint64_t& v) {
        if (data.size() - at < 8) return false;
        v = Get64(data.data() + at);
        at += 8;
        return true;
    }
    bool Take32(uint32_t& v) {
        if (data.size() - at < 4) return false;
        v = Get32(data.data() + at);
        at += 4;
        return true;
    }
};

}  // namespace

// Calls visit(id, block) for each whole id-size-data block, `block` including its four header
// bytes; returns where the blocks that can be parsed end.
template <typename Visit>
static size_t ForEachBlock(std::span<const uint8_t> extra, Visit visit) {
    size_t i = 0;
    while (i + 4 <= extra.size()) {
        uint16_t id = Get16(&extra[i]);
        size_t size = Get16(&extra[i + 2]);
        if (size > extra.size() - i - 4) break;
        if (!visit(id, extra.subspan(i, 4 + size))) break;
        i += 4 + size;
    }
    return i;
}

std::optional<std::span<const uint8_t>> FindExtraBlock(std::span<const uint8_t> extra,
                                                       uint16_t id) {
    std::optional<std::span<const uint8_t>> found;
    ForEachBlock(extra, [&](uint16_t block_id, std::span<const uint8_t> block) {
        if (block_id == id) found = block.subspan(4);
        return !found;
    });
    return found;
}

bool HasZip64Block(std::span<const uint8_t> extra) {
    return FindExtraBlock(extra, kExtraZip64).has_value();
}

std::optional<WideValues> WidenCentral(const CentralHeader& h, std::span<const uint8_t> extra) {
    WideValues w;
    w.uncompressed = h.uncompressed_size;
    w.compressed = h.compressed_size;
    w.local_offset = h.local_offset;
    w.disk_start = h.disk_start;
    auto block = FindExtraBlock(extra, kExtraZip64);
    if (!block) return w;
    BlockReader r{*block};
    if (h.uncompressed_size == kZip64Mark32 && !r.Take64(w.uncompressed)) return std::nullopt;
    if (h.compressed_size == kZip64Mark32 && !r.Take64(w.compressed)) return std::nullopt;
    if (h.local_offset == kZip64Mark32 && !r.Take64(w.local_offset)) return std::nullopt;
    if (h.disk_start == kZip64Mark16 && !r.Take32(w.disk_start)) return std::nullopt;
    return w;
}

std::optional<WideValues> WidenLocal(const LocalHeader& h, std::span<const uint8_t> extra) {
    WideValues w;
    w.uncompressed = h.uncompressed_size;
    w.compressed = h.compressed_size;
    auto block = FindExtraBlock(extra, kExtraZip64);
    if (!block) return w;
    bool u = h.uncompressed_size == kZip64Mark32, c = h.compressed_size == kZip64Mark32;
    if (block->size() >= 16) {
        if (u) w.uncompressed = Get64(block->data());
        if (c) w.compressed = Get64(block->data() + 8);
        return w;
    }
    BlockReader r{*block};
    if (u && !r.Take64(w.uncompressed)) return std::nullopt;
    if (c && !r.Take64(w.compressed)) return std::nullopt;
    return w;
}

std::optional<End64Record> ParseEnd64(std::span<const uint8_t, kEnd64Size> s) {
    const uint8_t* b = s.data();
    if (Get32(b) != kEnd64Sig) return std::nullopt;
    End64Record e;
    e.version_made = Get16(b + 12);
    e.version_needed = Get16(b + 14);
    e.disk = Get32(b + 16);
    e.directory_disk = Get32(b + 20);
    e.entries_here = Get64(b + 24);
    e.entries_total = Get64(b + 32);
    e.directory_size = Get64(b + 40);
    e.directory_offset = Get64(b + 48);
    return e;
}

std::optional<uint64_t> ParseLocator64(std::span<const uint8_t, kLocator64Size> s) {
    const uint8_t* b = s.data();
    if (Get32(b) != kLocator64Sig) return std::nullopt;
    return Get64(b + 8);
}

End64Search FindEnd64(int fd, uint64_t end_pos) {
    End64Search found;
    if (end_pos < kLocator64Size) return found;
    uint8_t loc[kLocator64Size];
    if (PreadFull(fd, loc, kLocator64Size, end_pos - kLocator64Size) !=
        static_cast<ssize_t>(kLocator64Size))
        return found;
    auto recorded = ParseLocator64(std::span<const uint8_t, kLocator64Size>(loc, kLocator64Size));
    if (!recorded) return found;
    found.status = End64Search::Status::kBad;
    found.recorded = *recorded;
    uint64_t locator_at = end_pos - kLocator64Size;
    uint64_t candidates[] = {*recorded, locator_at >= kEnd64Size ? locator_at - kEnd64Size : ~0ull};
    for (uint64_t at : candidates) {
        if (at > locator_at || locator_at - at < kEnd64Size) continue;
        uint8_t b[kEnd64Size];
        if (PreadFull(fd, b, kEnd64Size, at) != static_cast<ssize_t>(kEnd64Size)) continue;
        if (auto r = ParseEnd64(std::span<const uint8_t, kEnd64Size>(b, kEnd64Size))) {
            found.status = End64Search::Status::kFound;
            found.record = *r;
            found.at = at;
            return found;
        }
    }
    return found;
}

bool MergeEnd64(const EndRecord& e, const End64Record& r, uint64_t& entries, uint64_t& size,
                uint64_t& offset) {
    auto merge = [](uint64_t narrow, uint64_t mark, uint64_t wide, uint64_t& out) {
        out = wide;
        return narrow == mark || narrow == wide;
    };
    return merge(e.entries_here, kZip64Mark16, r.entries_here, entries) &&
           merge(e.directory_size, kZip64Mark32, r.directory_size, size) &&
           merge(e.directory_offset, kZip64Mark32, r.directory_offset, offset);
}

std::vector<uint8_t> End64AndLocator(const End64Record& e, uint64_t at, uint32_t disk,
                                     uint32_t disks) {
    std::vector<uint8_t> b(kEnd64Size + kLocator64Size);
    uint8_t* p = b.data();
    Put32(p, kEnd64Sig);
    Put64(p + 4, kEnd64Size - 12);  // the record's size counts neither itself nor the signature
    Put16(p + 12, e.version_made);
    Put16(p + 14, e.version_needed);
    Put32(p + 16, e.disk);
    Put32(p + 20, e.directory_disk);
    Put64(p + 24, e.entries_here);
    Put64(p + 32, e.entries_total);
    Put64(p + 40, e.directory_size);
    Put64(p + 48, e.directory_offset);
    p += kEnd64Size;
    Put32(p, kLocator64Sig);
    Put32(p + 4, disk);  // the disk holding the record
    Put64(p + 8, at);
    Put32(p + 16, disks);
    return b;
}

std::vector<uint8_t> Zip64Block(std::optional<uint64_t> uncompressed,
                                std::optional<uint64_t> compressed,
                                std::optional<uint64_t> local_offset,
                                std::optional<uint32_t> disk) {
    std::vector<uint8_t> b(4);
    for (const auto& v : {uncompressed, compressed, local_offset}) {
        if (!v) continue;
        size_t at = b.size();
        b.resize(at + 8);
        Put64(b.data() + at, *v);
    }
    if (disk) {
        b.resize(b.size() + 4);
        Put32(b.data() + b.size() - 4, *disk);
    }
    if (b.size() == 4) return {};
    Put16(b.data(), kExtraZip64);
    Put16(b.data() + 2, static_cast<uint16_t>(b.size() - 4));
    return b;
}

std::vector<uint8_t> WithoutZip64Block(std::span<const uint8_t> extra) {
    std::vector<uint8_t> kept;
    size_t end = ForEachBlock(extra, [&](uint16_t id, std::span<const uint8_t> block) {
        if (id != kExtraZip64) kept.insert(kept.end(), block.begin(), block.end());
        return true;
    });
    // A damaged tail goes on as it was: it is not ours to drop.
    kept.insert(kept.end(), extra.begin() + static_cast<long>(end), extra.end());
    return kept;
}

}  // namespace engine
