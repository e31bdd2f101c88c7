// Tar listing: the header walk. Every name is bounded to its field or to kMaxTarLongName, and
// no member's data is read beyond the long-name records, which are bounded too.
#include "archiver/formats/tar_listing.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>

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

// The "path" value of a pax extended header's records ("LEN key=value\n" each).
std::string PaxPath(std::string_view data) {
    std::string path;
    while (!data.empty()) {
        size_t sp = data.find(' ');
        if (sp == std::string_view::npos || sp == 0 || sp > 10) break;
        size_t len = 0;
        for (char c : data.substr(0, sp)) {
            if (c < '0' || c > '9') return path;
            len = len * 10 + static_cast<size_t>(c - '0');
        }
        if (len <= sp + 1 || len > data.size()) break;
        std::string_view record = data.substr(sp + 1, len - sp - 1);
        if (!record.empty() && record.back() == '\n') record.remove_suffix(1);
        if (record.rfind("path=", 0) == 0) path = std::string(record.substr(5));
        data.remove_prefix(len);
    }
    return path;
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
    struct stat st {};
    uint64_t file_size = ::fstat(fd, &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
    std::array<uint8_t, kBlock> block{};
    uint64_t offset = 0;
    std::string long_name;  // from a GNU 'L' member or a pax 'x' header, for the next member
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
        auto octal = [&](size_t at, size_t width) {
            return ParseTarOctal(
                std::string_view(reinterpret_cast<const char*>(block.data() + at), width));
        };
        int64_t size = octal(124, 12);
        int64_t mtime = octal(136, 12);
        if (size < 0 || mtime < 0) {
            error = "Error reading header after processing " + std::to_string(entries) + " entries";
            ok = false;
            break;
        }
        char type = static_cast<char>(block[156]);
        uint64_t data = std::min<uint64_t>(static_cast<uint64_t>(size), file_size - offset);
        if (type == '1' || type == '2') data = 0;  // links have no data
        uint64_t next = offset + (data + kBlock - 1) / kBlock * kBlock;
        if (type == 'L' || type == 'x') {
            std::string text(std::min<uint64_t>(data, kMaxTarLongName + 1024), '\0');
            text.resize(ReadAt(fd, offset, reinterpret_cast<uint8_t*>(text.data()), text.size()));
            std::string name = type == 'L' ? std::string(text.c_str()) : PaxPath(text);
            if (!name.empty()) long_name = name.substr(0, kMaxTarLongName);
            offset = next;
            continue;
        }
        if (type == 'g' || type == 'K') {  // global pax values and long link targets
            offset = next;
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
        m.mtime = mtime;
        m.type = type;
        members.push_back(std::move(m));
        ++entries;
        offset = next;
    }
    ::close(fd);
    return ok;
}

}  // namespace formats
