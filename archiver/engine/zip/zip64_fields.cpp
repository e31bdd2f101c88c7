#include "archiver/engine/zip/zip64_fields.h"

#include <algorithm>

#include "archiver/engine/unzip/zip64_records.h"
#include "archiver/engine/unzip/zip_records.h"

namespace zip {

using engine::kZip64Mark16;
using engine::kZip64Mark32;
using engine::Needs64;

bool ReserveZip64(uint64_t file_size) {
    // Stored blocks cost deflate 5 bytes per block of at least 16 KiB: 1/128 of the size plus
    // 64 KiB covers that, the final block and the encryption header many times over.
    uint64_t headroom = file_size / 128 + 65536;
    return file_size >= kZip64Mark32 - std::min<uint64_t>(headroom, kZip64Mark32);
}

std::vector<uint8_t> LocalZip64Block(const Member& m) {
    if (!m.local_zip64) return {};
    return engine::Zip64Block(m.uncompressed_size, m.compressed_size, std::nullopt);
}

CentralFields CentralFieldsOf(const Member& m, std::optional<uint32_t> disk) {
    CentralFields f;
    // Sizes that the local header keeps in 64 bits are kept so here too, so that the two
    // headers describe the member alike.
    bool sizes = m.local_zip64 || Needs64(m.uncompressed_size) || Needs64(m.compressed_size);
    std::optional<uint64_t> u, c, o;
    if (sizes && (m.local_zip64 || Needs64(m.uncompressed_size))) u = m.uncompressed_size;
    if (sizes && (m.local_zip64 || Needs64(m.compressed_size))) c = m.compressed_size;
    if (Needs64(m.local_offset)) o = m.local_offset;
    f.uncompressed = u ? kZip64Mark32 : static_cast<uint32_t>(m.uncompressed_size);
    f.compressed = c ? kZip64Mark32 : static_cast<uint32_t>(m.compressed_size);
    f.local_offset = o ? kZip64Mark32 : static_cast<uint32_t>(m.local_offset);
    std::optional<uint32_t> wide_disk;
    if (disk && *disk >= kZip64Mark16) wide_disk = disk;
    f.disk_start = wide_disk ? kZip64Mark16 : static_cast<uint16_t>(disk.value_or(m.disk_start));
    f.version_needed = m.version_needed;
    f.extra = engine::Zip64Block(u, c, o, wide_disk);
    if (f.extra.empty()) {
        f.extra = m.central_extra;
        return f;
    }
    f.version_needed = std::max(f.version_needed, engine::kVersionZip64);
    std::vector<uint8_t> rest = engine::WithoutZip64Block(m.central_extra);
    f.extra.insert(f.extra.end(), rest.begin(), rest.end());
    return f;
}

std::optional<std::vector<uint8_t>> CentralRecord(const Member& m, std::optional<uint32_t> disk) {
    CentralFields f = CentralFieldsOf(m, disk);
    // Past 64 KiB the extra field's length would not fit its 16 bits.
    if (f.extra.size() > 0xFFFF) return std::nullopt;
    engine::CentralHeader c;
    c.version_made = m.version_made;
    c.version_needed = f.version_needed;
    c.flags = m.flags;
    c.method = m.method;
    c.time = m.time;
    c.date = m.date;
    c.crc = m.crc;
    c.compressed_size = f.compressed;
    c.uncompressed_size = f.uncompressed;
    c.name_length = static_cast<uint16_t>(m.raw_name.size());
    c.extra_length = static_cast<uint16_t>(f.extra.size());
    c.comment_length = static_cast<uint16_t>(m.comment.size());
    c.disk_start = f.disk_start;
    c.internal_attr = m.internal_attr;
    c.external_attr = m.external_attr;
    c.local_offset = f.local_offset;
    std::vector<uint8_t> b(engine::kCentralSize);
    engine::Put32(b.data(), engine::kCentralSig);
    engine::WriteCentral(
        c, std::span<uint8_t, engine::kCentralFixed>(b.data() + 4, engine::kCentralFixed));
    b.insert(b.end(), m.raw_name.begin(), m.raw_name.end());
    b.insert(b.end(), f.extra.begin(), f.extra.end());
    b.insert(b.end(), m.comment.begin(), m.comment.end());
    return b;
}

std::vector<uint8_t> EndRecords(uint64_t entries, uint64_t directory_size,
                                uint64_t directory_offset, uint64_t at,
                                const std::string& comment) {
    std::vector<uint8_t> b;
    bool wide = entries >= kZip64Mark16 || Needs64(directory_size) || Needs64(directory_offset);
    if (wide) {
        engine::End64Record r;
        r.entries_here = r.entries_total = entries;
        r.directory_size = directory_size;
        r.directory_offset = directory_offset;
        b = engine::End64AndLocator(r, at);
    }
    engine::EndRecord e;
    e.entries_here = e.entries_total =
        static_cast<uint16_t>(std::min<uint64_t>(entries, kZip64Mark16));
    e.directory_size = static_cast<uint32_t>(std::min<uint64_t>(directory_size, kZip64Mark32));
    e.directory_offset = static_cast<uint32_t>(std::min<uint64_t>(directory_offset, kZip64Mark32));
    AppendEndRecord(e, comment, b);
    return b;
}

void AppendEndRecord(engine::EndRecord e, const std::string& comment, std::vector<uint8_t>& b) {
    e.comment_length = static_cast<uint16_t>(comment.size());
    size_t start = b.size();
    b.resize(start + engine::kEndSize);
    engine::Put32(b.data() + start, engine::kEndSig);
    engine::WriteEnd(
        e, std::span<uint8_t, engine::kEndFixed>(b.data() + start + 4, engine::kEndFixed));
    b.insert(b.end(), comment.begin(), comment.end());
}

}  // namespace zip
