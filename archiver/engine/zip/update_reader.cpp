#include "archiver/engine/zip/update_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "archiver/engine/unzip/aes_field.h"
#include "archiver/engine/unzip/engine_frame.h"
#include "archiver/engine/unzip/file_io.h"
#include "archiver/engine/unzip/shown_name.h"
#include "archiver/engine/unzip/zip64_records.h"
#include "archiver/engine/unzip/zip_records.h"
#include "archiver/engine/zip/aes_writing.h"
#include "platform/codepage.h"

namespace zip {

namespace {

using engine::Format;
using engine::Get32;
using engine::Get64;

// The newest "version needed" of a member that an update copies: 4.5, the 64-bit records.
constexpr uint16_t kNewestVersionCopied = engine::kVersionZip64;

void Warn(std::string_view message, std::string_view name = {}) {
    engine::SendWarning("Warning: " + std::string(message) + engine::ShownName(name));
}

// The archive file with an explicit position; reads distinguish an I/O error from the end.
struct Source {
    int fd = -1;
    uint64_t size = 0;
    uint64_t pos = 0;
    bool io_error = false;

    // Reads exactly n bytes at pos and advances; false at the end or on an error.
    bool Read(void* dst, size_t n) {
        ssize_t got = engine::PreadFull(fd, dst, n, pos);
        if (got < 0) {
            io_error = true;
            return false;
        }
        if (static_cast<size_t>(got) != n) return false;
        pos += n;
        return true;
    }
    bool ReadBytes(std::string& out, size_t n) {
        out.resize(n);
        return n == 0 || Read(out.data(), n);
    }
    bool ReadBytes(std::vector<uint8_t>& out, size_t n) {
        out.resize(n);
        return n == 0 || Read(out.data(), n);
    }
    // The 32-bit value at pos without advancing; 0 when fewer than four bytes are left.
    uint32_t PeekSig() {
        uint8_t b[4];
        ssize_t got = engine::PreadFull(fd, b, 4, pos);
        if (got < 0) io_error = true;
        return got == 4 ? Get32(b) : 0;
    }
    int ShortResult() const { return io_error ? kResultRead : kResultEof; }

    // First offset at or after `from` where one of the signatures begins, or -1. The archive is
    // scanned in large pieces, overlapping by three bytes so no signature is cut in two.
    int64_t Find(uint64_t from, std::initializer_list<uint32_t> sigs) {
        std::vector<uint8_t> buf(65536);
        while (from + 4 <= size) {
            ssize_t got = engine::PreadFull(fd, buf.data(), buf.size(), from);
            if (got < 0) {
                io_error = true;
                return -1;
            }
            if (got < 4) return -1;
            for (size_t i = 0; i + 4 <= static_cast<size_t>(got); ++i) {
                if (buf[i] != 'P') continue;
                uint32_t v = Get32(&buf[i]);
                for (uint32_t s : sigs)
                    if (v == s) return static_cast<int64_t>(from + i);
            }
            from += static_cast<uint64_t>(got) - 3;
        }
        return -1;
    }
};

std::string DisplayName(const std::string& raw, uint16_t flags) {
    if ((flags & engine::kFlagUtf8) && platform::IsValidUtf8(raw)) return raw;
    return platform::OemToUtf8(raw);
}

// The compared fields laid out as in a local header after its signature.
std::array<uint8_t, engine::kLocalFixed> CompareImage(uint16_t flags, uint16_t method,
                                                      uint16_t time, uint16_t date, uint32_t crc,
                                                      uint64_t csize, uint64_t usize,
                                                      size_t name_length) {
    engine::LocalHeader h;
    h.flags = flags & 0x1FFF;
    h.method = method;
    h.time = time;
    h.date = date;
    h.crc = crc;
    h.compressed_size = static_cast<uint32_t>(csize);
    h.uncompressed_size = static_cast<uint32_t>(usize);
    h.name_length = static_cast<uint16_t>(name_length);
    std::array<uint8_t, engine::kLocalFixed> b{};
    engine::WriteLocal(h, b);
    return b;
}

// Reads the local header at src.pos (its signature already seen) with its data descriptor.
int ReadLocal(Source& src, Member& m, size_t number) {
    m.local_offset = src.pos;
    src.pos += 4;
    std::array<uint8_t, engine::kLocalFixed> fixed;
    if (!src.Read(fixed.data(), fixed.size())) return src.ShortResult();
    engine::LocalHeader h = engine::ParseLocal(fixed);
    if (h.name_length == 0) {
        Warn("zero-length name for entry #", std::to_string(number));
        return kResultFormat;
    }
    if (!src.ReadBytes(m.raw_name, h.name_length)) return src.ShortResult();
    if (!src.ReadBytes(m.local_extra, h.extra_length)) return src.ShortResult();
    m.version_needed = h.version_needed;
    m.local_flags = h.flags;
    m.flags = h.flags;
    m.method = h.method;
    m.time = h.time;
    m.date = h.date;
    m.crc = h.crc;
    m.name = DisplayName(m.raw_name, h.flags);
    auto wide = engine::WidenLocal(h, m.local_extra);
    if (!wide) {
        Warn("bad zip64 extra field for ", m.name);
        return kResultFormat;
    }
    m.compressed_size = wide->compressed;
    m.uncompressed_size = wide->uncompressed;
    uint64_t data_start = src.pos;
    if (!(h.flags & engine::kFlagDescriptor)) {
        src.pos = data_start + wide->compressed;
        return 0;
    }
    // With a 0x0001 block the descriptor's sizes are 64 bits wide.
    bool zip64 = engine::HasZip64Block(m.local_extra);
    uint8_t d[engine::kDescriptor64Size];
    size_t d_size = zip64 ? engine::kDescriptor64Size : engine::kDescriptorSize;
    auto d_compressed = [&] { return zip64 ? Get64(d + 8) : Get32(d + 8); };
    if (wide->compressed == 0) {
        // The size is only in the descriptor: find a descriptor whose size leads exactly to
        // it. A signature that happens to occur inside the data does not, and is passed over.
        uint64_t from = data_start;
        for (;;) {
            int64_t at = src.Find(from, {engine::kDescriptorSig});
            if (at < 0) {
                if (src.io_error) return kResultRead;
                Warn("bad extended local header for ", m.name);
                return kResultFormat;
            }
            src.pos = static_cast<uint64_t>(at);
            if (!src.Read(d, d_size)) return src.ShortResult();
            if (d_compressed() == static_cast<uint64_t>(at) - data_start) break;
            from = static_cast<uint64_t>(at) + 1;
        }
    } else {
        src.pos = data_start + wide->compressed;
        if (!src.Read(d, d_size) || Get32(d) != engine::kDescriptorSig) {
            if (src.io_error) return kResultRead;
            Warn("extended local header not found for ", m.name);
            return kResultFormat;
        }
    }
    m.crc = Get32(d + 4);
    m.compressed_size = d_compressed();
    m.uncompressed_size = zip64 ? Get64(d + 16) : Get32(d + 12);
    return 0;
}

// Reads the central header at src.pos and merges it into the matching local member.
int ReadCentral(Source& src, std::vector<Member>& locals, std::vector<bool>& used,
                uint64_t preamble, Member& out) {
    src.pos += 4;
    std::array<uint8_t, engine::kCentralFixed> fixed;
    if (!src.Read(fixed.data(), fixed.size())) return src.ShortResult();
    engine::CentralHeader c = engine::ParseCentral(fixed);
    std::string raw_name;
    if (!src.ReadBytes(raw_name, c.name_length)) return src.ShortResult();
    std::string name = DisplayName(raw_name, c.flags);
    std::vector<uint8_t> extra;
    if (!src.ReadBytes(extra, c.extra_length)) return src.ShortResult();
    auto wide = engine::WidenCentral(c, extra);
    if (!wide) {
        Warn("bad zip64 extra field for ", name);
        return kResultFormat;
    }
    // Offsets count from the start of the file, or from the end of the preamble when a program
    // was put in front of an archive without adjusting them.
    auto find = [&](uint64_t offset) -> long {
        auto it =
            std::lower_bound(locals.begin(), locals.end(), offset,
                             [](const Member& m, uint64_t off) { return m.local_offset < off; });
        if (it == locals.end() || it->local_offset != offset) return -1;
        return it - locals.begin();
    };
    long index = find(wide->local_offset);
    if (index < 0 && preamble != 0) index = find(wide->local_offset + preamble);
    if (index < 0 || used[static_cast<size_t>(index)]) {
        Warn("local offset in central header incorrect for ", name);
        return kResultFormat;
    }
    Member& m = locals[static_cast<size_t>(index)];
    // An AES member asks for version 51 to be read; here it is only copied or replaced.
    bool aes = m.method == engine::kMethodAes && IsAesMember(m);
    if (!aes &&
        (c.version_needed > kNewestVersionCopied ||
         (c.version_needed != m.version_needed && m.version_needed > kNewestVersionCopied))) {
        Warn(Format("%s requires an unsupported zip compression scheme",
                    engine::ShownName(name).c_str()));
        return kResultUnsupported;
    }
    auto local = CompareImage(m.local_flags, m.method, m.time, m.date, m.crc, m.compressed_size,
                              m.uncompressed_size, m.raw_name.size());
    auto central = CompareImage(c.flags, c.method, c.time, c.date, c.crc, wide->compressed,
                                wide->uncompressed, c.name_length);
    // The images hold the low 32 bits of the sizes; the high ones must agree too.
    bool differ = (m.compressed_size ^ wide->compressed) >> 32 != 0 ||
                  (m.uncompressed_size ^ wide->uncompressed) >> 32 != 0;
    if (differ) Warn("local and central headers differ for ", name);
    for (size_t i = 2; i < 24; ++i) {
        if (local[i] == central[i]) continue;
        if (!differ) Warn("local and central headers differ for ", name);
        differ = true;
        Warn(Format(" offset %zu--local = %02x, central = %02x", i, local[i], central[i]));
    }
    if (differ) return kResultFormat;
    if (raw_name != m.raw_name) {
        Warn("names in local and central differ for ", name);
        return kResultFormat;
    }
    m.version_made = c.version_made;
    m.version_needed = c.version_needed;
    m.flags = c.flags;
    m.disk_start = c.disk_start;
    m.internal_attr = c.internal_attr;
    m.external_attr = c.external_attr;
    m.name = name;
    m.central_extra = std::move(extra);
    if (!src.ReadBytes(m.comment, c.comment_length)) return src.ShortResult();
    used[static_cast<size_t>(index)] = true;
    out = std::move(m);
    return 0;
}

// Reads the 64-bit end record at src.pos and the locator behind it, leaving src.pos after them.
int ReadEnd64(Source& src, std::optional<engine::End64Record>& out) {
    std::array<uint8_t, engine::kEnd64Size> b;
    if (!src.Read(b.data(), b.size())) return src.ShortResult();
    out = engine::ParseEnd64(b);
    // Extensible data may follow the fixed fields; the record's size says how much.
    uint64_t rest = Get64(b.data() + 4);
    if (!out || rest < engine::kEnd64Size - 12 || rest - (engine::kEnd64Size - 12) > src.size) {
        Warn("bad zip64 end record");
        return kResultFormat;
    }
    src.pos += rest - (engine::kEnd64Size - 12);
    std::array<uint8_t, engine::kLocator64Size> loc;
    if (!src.Read(loc.data(), loc.size())) return src.ShortResult();
    if (!engine::ParseLocator64(loc)) {
        Warn("zip64 end locator not found");
        return kResultFormat;
    }
    return 0;
}

int ReadArchive(Source& src, OldArchive& out) {
    const char* kMissingEnd = "missing end signature--probably not a zip file";
    int64_t first = src.Find(0, {engine::kLocalSig, engine::kEndSig});
    if (first < 0) {
        if (src.io_error) return kResultRead;
        Warn(kMissingEnd);
        return kResultFormat;
    }
    out.preamble = static_cast<uint64_t>(first);
    src.pos = out.preamble;
    std::vector<Member> locals;
    uint32_t sig = src.PeekSig();
    auto next_sig = [&]() {
        sig = src.PeekSig();
        if (sig == engine::kLocalSig || sig == engine::kCentralSig || sig == engine::kEndSig)
            return;
        int64_t at = src.Find(src.pos, {engine::kLocalSig, engine::kCentralSig, engine::kEndSig});
        if (at >= 0) {
            src.pos = static_cast<uint64_t>(at);
            sig = src.PeekSig();
        }
    };
    while (sig == engine::kLocalSig) {
        Member m;
        int r = ReadLocal(src, m, locals.size() + 1);
        if (r != 0) {
            out.members = std::move(locals);
            return r;
        }
        locals.push_back(std::move(m));
        next_sig();
    }
    if (src.io_error) return kResultRead;
    uint64_t central_start = src.pos;
    std::vector<bool> used(locals.size());
    while (sig == engine::kCentralSig) {
        if (out.members.size() >= locals.size()) {
            Warn("extraneous central header signature");
            return kResultFormat;
        }
        Member m;
        int r = ReadCentral(src, locals, used, out.preamble, m);
        if (r != 0) return r;
        out.members.push_back(std::move(m));
        sig = src.PeekSig();
    }
    uint64_t central_end = src.pos;
    std::optional<engine::End64Record> end64;
    if (sig == engine::kEnd64Sig) {
        int r = ReadEnd64(src, end64);
        if (r != 0) return r;
        sig = src.PeekSig();
    }
    if (sig != engine::kEndSig || out.members.size() != locals.size()) {
        if (src.io_error) return kResultRead;
        Warn(kMissingEnd);
        return kResultFormat;
    }
    src.pos += 4;
    std::array<uint8_t, engine::kEndFixed> fixed;
    if (!src.Read(fixed.data(), fixed.size())) return src.ShortResult();
    engine::EndRecord e = engine::ParseEnd(fixed);
    if (e.disk != 0 || e.directory_disk != 0 || e.entries_here != e.entries_total)
        Warn("multiple disk information ignored");
    uint64_t entries = e.entries_total, directory_size = e.directory_size,
             directory_offset = e.directory_offset;
    if (end64 && !engine::MergeEnd64(e, *end64, entries, directory_size, directory_offset)) {
        Warn("zip64 end record and end record differ");
        return kResultFormat;
    }
    if (end64 ? entries != out.members.size()
              : e.entries_total != static_cast<uint16_t>(out.members.size())) {
        Warn("count in end of central directory incorrect");
        return kResultFormat;
    }
    if (directory_size != central_end - central_start)
        Warn("central directory size is incorrect (made by stzip?)");
    if (directory_offset != central_start && directory_offset + out.preamble != central_start) {
        Warn("central directory start is incorrect");
        return kResultFormat;
    }
    out.central_offset = central_start;
    if (!src.ReadBytes(out.comment, e.comment_length)) return src.ShortResult();
    if (src.pos < src.size) Warn("garbage at end of zip file ignored");
    return 0;
}

}  // namespace

int CompareNames(std::string_view a, std::string_view b) {
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

void SortMembers(OldArchive& archive) {
    archive.sorted.resize(archive.members.size());
    for (size_t i = 0; i < archive.sorted.size(); ++i) archive.sorted[i] = i;
    std::stable_sort(archive.sorted.begin(), archive.sorted.end(), [&](size_t x, size_t y) {
        return CompareNames(archive.members[x].name, archive.members[y].name) < 0;
    });
}

long FindMember(const OldArchive& archive, std::string_view name) {
    auto it = std::lower_bound(
        archive.sorted.begin(), archive.sorted.end(), name,
        [&](size_t i, std::string_view n) { return CompareNames(archive.members[i].name, n) < 0; });
    if (it == archive.sorted.end() || CompareNames(archive.members[*it].name, name) != 0) return -1;
    return static_cast<long>(*it);
}

int ReadForUpdate(const std::string& path, OldArchive& out) {
    out = OldArchive{};
    struct stat st;
    // Only a regular file is read (opening a pipe would wait for a writer); an empty one
    // stands for an archive without members and is removed.
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return 0;
    if (st.st_size == 0) {
        ::unlink(path.c_str());
        return 0;
    }
    engine::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return 0;
    Source src;
    src.fd = fd.get();
    src.size = static_cast<uint64_t>(st.st_size);
    int r = ReadArchive(src, out);
    SortMembers(out);
    return r;
}

}  // namespace zip
