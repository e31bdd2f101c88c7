#include "archiver/engine/unzip/zip_records.h"

namespace engine {

LocalHeader ParseLocal(std::span<const uint8_t, kLocalFixed> s) {
    const uint8_t* b = s.data();
    LocalHeader h;
    h.version_needed = Get16(b);
    h.flags = Get16(b + 2);
    h.method = Get16(b + 4);
    h.time = Get16(b + 6);
    h.date = Get16(b + 8);
    h.crc = Get32(b + 10);
    h.compressed_size = Get32(b + 14);
    h.uncompressed_size = Get32(b + 18);
    h.name_length = Get16(b + 22);
    h.extra_length = Get16(b + 24);
    return h;
}

CentralHeader ParseCentral(std::span<const uint8_t, kCentralFixed> s) {
    const uint8_t* b = s.data();
    CentralHeader h;
    h.version_made = Get16(b);
    h.version_needed = Get16(b + 2);
    h.flags = Get16(b + 4);
    h.method = Get16(b + 6);
    h.time = Get16(b + 8);
    h.date = Get16(b + 10);
    h.crc = Get32(b + 12);
    h.compressed_size = Get32(b + 16);
    h.uncompressed_size = Get32(b + 20);
    h.name_length = Get16(b + 24);
    h.extra_length = Get16(b + 26);
    h.comment_length = Get16(b + 28);
    h.disk_start = Get16(b + 30);
    h.internal_attr = Get16(b + 32);
    h.external_attr = Get32(b + 34);
    h.local_offset = Get32(b + 38);
    return h;
}

EndRecord ParseEnd(std::span<const uint8_t, kEndFixed> s) {
    const uint8_t* b = s.data();
    EndRecord e;
    e.disk = Get16(b);
    e.directory_disk = Get16(b + 2);
    e.entries_here = Get16(b + 4);
    e.entries_total = Get16(b + 6);
    e.directory_size = Get32(b + 8);
    e.directory_offset = Get32(b + 12);
    e.comment_length = Get16(b + 16);
    return e;
}

void WriteLocal(const LocalHeader& h, std::span<uint8_t, kLocalFixed> s) {
    uint8_t* b = s.data();
    Put16(b, h.version_needed);
    Put16(b + 2, h.flags);
    Put16(b + 4, h.method);
    Put16(b + 6, h.time);
    Put16(b + 8, h.date);
    Put32(b + 10, h.crc);
    Put32(b + 14, h.compressed_size);
    Put32(b + 18, h.uncompressed_size);
    Put16(b + 22, h.name_length);
    Put16(b + 24, h.extra_length);
}

void WriteCentral(const CentralHeader& h, std::span<uint8_t, kCentralFixed> s) {
    uint8_t* b = s.data();
    Put16(b, h.version_made);
    Put16(b + 2, h.version_needed);
    Put16(b + 4, h.flags);
    Put16(b + 6, h.method);
    Put16(b + 8, h.time);
    Put16(b + 10, h.date);
    Put32(b + 12, h.crc);
    Put32(b + 16, h.compressed_size);
    Put32(b + 20, h.uncompressed_size);
    Put16(b + 24, h.name_length);
    Put16(b + 26, h.extra_length);
    Put16(b + 28, h.comment_length);
    Put16(b + 30, h.disk_start);
    Put16(b + 32, h.internal_attr);
    Put32(b + 34, h.external_attr);
    Put32(b + 38, h.local_offset);
}

void WriteEnd(const EndRecord& e, std::span<uint8_t, kEndFixed> s) {
    uint8_t* b = s.data();
    Put16(b, e.disk);
    Put16(b + 2, e.directory_disk);
    Put16(b + 4, e.entries_here);
    Put16(b + 6, e.entries_total);
    Put32(b + 8, e.directory_size);
    Put32(b + 12, e.directory_offset);
    Put16(b + 16, e.comment_length);
}

}  // namespace engine
