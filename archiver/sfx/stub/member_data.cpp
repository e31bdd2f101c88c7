#include "archiver/sfx/stub/member_data.h"

#include <algorithm>
#include <span>
#include <vector>

#include "archiver/engine/unzip/crc32.h"
#include "archiver/engine/unzip/file_io.h"
#include "archiver/engine/unzip/zip_crypt.h"

namespace sfx {

namespace {

constexpr size_t kChunk = 64 * 1024;
// Flag bit 6: strong encryption, which this program cannot decipher.
constexpr uint16_t kFlagStrong = 0x0040;

// Reads the member's compressed bytes in order, deciphering them when a key is set.
struct Source {
    int fd;
    uint64_t at;
    uint64_t left;
    engine::ZipKeys keys;
    bool encrypted;
    bool failed = false;
    size_t Read(uint8_t* buf, size_t cap) {
        size_t n = static_cast<size_t>(std::min<uint64_t>(cap, left));
        if (n == 0) return 0;
        if (engine::PreadFull(fd, buf, n, at) != static_cast<ssize_t>(n)) {
            failed = true;
            left = 0;
            return 0;
        }
        at += n;
        left -= n;
        if (encrypted) engine::DecryptBlock(keys, std::span<uint8_t>(buf, n));
        return n;
    }
};

// Counts, checks and hands on what comes out; never more than the directory promised.
struct Output {
    const DataSink& sink;
    uint64_t limit;
    uint64_t size = 0;
    uint32_t crc = 0;
    bool too_long = false;
    void Write(const uint8_t* data, size_t n) {
        if (too_long) return;
        if (n > limit - size) {
            too_long = true;
            return;
        }
        size += n;
        crc = engine::Crc32(crc, std::span<const uint8_t>(data, n));
        sink(data, n);
    }
};

}  // namespace

const char* DataStatusText(DataStatus status) {
    switch (status) {
        case DataStatus::kOk:
            return "OK";
        case DataStatus::kUnsupported:
            return "compression method or encryption not supported";
        case DataStatus::kBadHeader:
            return "local header missing or damaged";
        case DataStatus::kWrongPassword:
            return "wrong password";
        case DataStatus::kBadData:
            return "compressed data damaged";
        case DataStatus::kBadSize:
            return "size differs from the directory";
        case DataStatus::kBadCrc:
            return "CRC error";
        case DataStatus::kReadError:
            return "read error";
    }
    return "error";
}

bool IsEncrypted(const Member& m) {
    return (m.header.flags & engine::kFlagEncrypted) != 0;
}

bool CanDecode(const Member& m) {
    if (m.header.flags & kFlagStrong) return false;
    return m.header.method == engine::kMethodStored || m.header.method == engine::kMethodDeflated;
}

DataStatus DecodeMember(int fd, uint64_t data_end, const Member& m, const std::string& password,
                        engine::InflateWorkspace& ws, const DataSink& sink) {
    if (!CanDecode(m)) return DataStatus::kUnsupported;
    uint8_t local[engine::kLocalSize];
    if (m.local_offset > data_end || data_end - m.local_offset < engine::kLocalSize)
        return DataStatus::kBadHeader;
    if (engine::PreadFull(fd, local, sizeof local, m.local_offset) != sizeof local)
        return DataStatus::kReadError;
    if (engine::Get32(local) != engine::kLocalSig) return DataStatus::kBadHeader;
    engine::LocalHeader l = engine::ParseLocal(
        std::span<const uint8_t, engine::kLocalFixed>(local + 4, engine::kLocalFixed));
    uint64_t start = m.local_offset + engine::kLocalSize + l.name_length + l.extra_length;
    if (start > data_end || data_end - start < m.compressed) return DataStatus::kBadHeader;

    Source src{fd, start, m.compressed, {}, IsEncrypted(m)};
    if (src.encrypted) {
        uint8_t head[engine::kCryptHeaderSize];
        if (m.compressed < sizeof head) return DataStatus::kBadData;
        if (engine::PreadFull(fd, head, sizeof head, start) != sizeof head)
            return DataStatus::kReadError;
        // A streamed member's header checks against its time: its CRC was not known yet.
        uint8_t check = (m.header.flags & engine::kFlagDescriptor)
                            ? static_cast<uint8_t>(m.header.time >> 8)
                            : static_cast<uint8_t>(m.header.crc >> 24);
        if (!engine::CheckPasswordHeader(
                src.keys, password,
                std::span<const uint8_t, engine::kCryptHeaderSize>(head, sizeof head), check))
            return DataStatus::kWrongPassword;
        src.at += sizeof head;
        src.left -= sizeof head;
    }

    Output out{sink, m.uncompressed};
    if (m.header.method == engine::kMethodStored) {
        std::vector<uint8_t> buf(kChunk);
        while (size_t n = src.Read(buf.data(), buf.size())) out.Write(buf.data(), n);
    } else {
        engine::InflateIo io;
        io.read = [&src](uint8_t* buf, size_t cap) { return src.Read(buf, cap); };
        io.write = [&out](const uint8_t* data, size_t n) { out.Write(data, n); };
        engine::InflateResult r = engine::Inflate(io, ws);
        if (src.failed) return DataStatus::kReadError;
        if (r.status != engine::InflateStatus::kOk) return DataStatus::kBadData;
    }
    if (src.failed) return DataStatus::kReadError;
    if (out.too_long || out.size != m.uncompressed) return DataStatus::kBadSize;
    if (out.crc != m.header.crc) return DataStatus::kBadCrc;
    return DataStatus::kOk;
}

}  // namespace sfx
