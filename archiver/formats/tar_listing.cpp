// Tar listing: the header walk. Every name is bounded to its field or to kMaxTarLongName, and
// no member's data is read beyond the long-name records, which are bounded too.
#include "archiver/formats/tar_listing.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "archiver/engine/unzip/engine_frame.h"
#include "archiver/engine/unzip/file_io.h"
#include "archiver/engine/unzip/gzip_extract.h"
#include "archiver/engine/unzip/tar_header.h"

namespace formats {

namespace {

constexpr size_t kBlock = 512;

// A NUL-terminated text field bounded to its width.
std::string Field(const uint8_t* block, size_t offset, size_t width) {
    const char* p = reinterpret_cast<const char*>(block + offset);
    return std::string(p, strnlen(p, width));
}

// Reads up to `n` bytes at `offset`; the count read.
size_t ReadAt(int fd, uint64_t offset, uint8_t* buf, size_t n) {
    size_t got = 0;
    while (got < n) {
        ssize_t r = ::pread(fd, buf + got, n - got, static_cast<off_t>(offset + got));
        if (r <= 0) break;
        got += static_cast<size_t>(r);
    }
    return got;
}

}  // namespace

int64_t ParseTarOctal(std::string_view field) {
    size_t i = 0;
    while (i < field.size() && (field[i] == ' ' || field[i] == '\t')) ++i;
    if (i == field.size() || field[i] == '\0') return -1;
    int64_t value = 0;
    for (; i < field.size(); ++i) {
        char c = field[i];
        if (c == '\0' || c == ' ' || c == '\t') break;
        if (c < '0' || c > '7') return -1;
        if (value > (INT64_MAX >> 3)) return -1;
        value = value * 8 + (c - '0');
    }
    return value;
}

bool ReadTarListing(const std::string& path, std::vector<TarMember>& members, std::string& error) {
    members.clear();
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = "Can't open input file: " + path;
        return false;
    }
    engine::UniqueFd file(fd);
    if (engine::IsCompressedFile(fd)) {
        // A tar inside gzip or Unix compress is read from its unpacked copy.
        // Ctrl+C (or SIGTERM, SIGHUP) ends a long unpacking here as it ends a run.
        struct Stopped {};
        auto stop = [](size_t) {
            if (engine::StopSignal() != 0) throw Stopped{};
        };
        engine::UniqueFd tar;
        try {
            if (!engine::UnpackToTempFile(fd, path, tar, error, stop)) return false;
        } catch (const Stopped&) {
            error.clear();
            return false;
        }
        file = std::move(tar);
        fd = file.get();
    }
    struct stat st {};
    uint64_t file_size = ::fstat(fd, &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
    std::array<uint8_t, kBlock> block{};
    uint64_t offset = 0;
    std::string long_name;  // from a GNU 'L' member or a pax 'x' header, for the next member
    engine::PaxValues pax;  // the rest of a pax 'x' header, for the next member
    bool ok = true;
    int entries = 0;
    for (;;) {
        if (ReadAt(fd, offset, block.data(), kBlock) < kBlock || block[0] == 0) {
            if (offset == 0) {
                error = "Invalid archive directory";
                ok = false;
            }
            break;
        }
        offset += kBlock;
        auto number = [&](size_t at, size_t width) {
            return engine::ParseTarNumber(
                std::string_view(reinterpret_cast<const char*>(block.data() + at), width));
        };
        char type = static_cast<char>(block[156]);
        // Name and record headers carry their own size; a pax size or time is the next
        // member's, and stands in for a header field that does not parse.
        bool record = type == 'L' || type == 'K' || type == 'x' || type == 'g';
        std::optional<int64_t> size = number(124, 12);
        std::optional<int64_t> mtime = number(136, 12);
        if (!record && pax.size) size = static_cast<int64_t>(*pax.size);
        if (!record && pax.mtime) mtime = pax.mtime;
        if (!size || *size < 0 || !mtime) {
            error = "Error reading header after processing " + std::to_string(entries) + " entries";
            ok = false;
            break;
        }
        uint64_t claimed = static_cast<uint64_t>(*size);
        uint64_t data = std::min<uint64_t>(claimed, file_size - std::min(offset, file_size));
        if (type == '1' || type == '2') data = 0;  // links have no data
        uint64_t next = offset + (data + kBlock - 1) / kBlock * kBlock;
        if (type == 'L' || type == 'x') {
            std::string text(std::min<uint64_t>(data, kMaxTarLongName * 16), '\0');
            text.resize(ReadAt(fd, offset, reinterpret_cast<uint8_t*>(text.data()), text.size()));
            std::string name;
            if (type == 'L') {
                name = text.c_str();
            } else {
                pax = engine::ParsePaxRecords(text);
                name = pax.path.value_or("");
            }
            if (!name.empty()) long_name = name.substr(0, kMaxTarLongName);
            offset = next;
            continue;
        }
        offset = next;
        if (record) continue;  // global pax values and long link targets
        pax = {};
        if (type == 'V') {  // a volume label names the archive, not a member
            long_name.clear();
            continue;
        }
        TarMember m;
        if (!long_name.empty()) {
            m.name = std::move(long_name);
            long_name.clear();
        } else {
            m.name = Field(block.data(), 0, 100);
            // POSIX ustar ("ustar\0") keeps the leading folders in a 155-byte prefix.
            if (std::memcmp(block.data() + 257, "ustar\0", 6) == 0) {
                std::string prefix = Field(block.data(), 345, 155);
                if (!prefix.empty()) m.name = prefix + "/" + m.name;
            }
        }
        m.size = data;
        m.mtime = *mtime;
        m.mode =
            ParseTarOctal(std::string_view(reinterpret_cast<const char*>(block.data()) + 100, 8));
        if (m.mode > 07777) m.mode &= 07777;
        m.type = type;
        members.push_back(std::move(m));
        ++entries;
    }
    return ok;
}

bool IsCompressedTar(const std::string& path) {
    engine::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd || !engine::IsCompressedFile(fd.get())) return false;
    // Only the first block is needed: decoding stops as soon as it is there.
    struct Enough {};
    std::vector<uint8_t> first;
    engine::CompressedFileIo io;
    io.write = [&](const uint8_t* p, size_t n) {
        first.insert(first.end(), p, p + std::min(n, kBlock - first.size()));
        if (first.size() == kBlock) throw Enough{};
    };
    std::string text;
    try {
        engine::DecodeCompressedFile(fd.get(), io, text);
    } catch (const Enough&) {
    }
    return first.size() == kBlock && engine::TarChecksumOk(first);
}

}  // namespace formats
