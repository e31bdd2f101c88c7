#include "archiver/engine/unzip/update_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>

#include "archiver/engine/unzip/engine_frame.h"
#include "archiver/engine/unzip/file_io.h"
#include "archiver/engine/unzip/zip_records.h"
#include "platform/codepage.h"

namespace engine {

namespace {

// Sequential reads with the position kept here, so that searches can step back.
struct Reader {
    int fd;
    uint64_t pos = 0;
    uint64_t size = 0;
    bool io_error = false;
    bool Read(void* buf, size_t n) {
        ssize_t got = PreadFull(fd, buf, n, pos);
        if (got < 0) io_error = true;
        if (got != static_cast<ssize_t>(n)) return false;
        pos += n;
        return true;
    }
    bool ReadString(std::string& s, size_t n) {
        s.assign(n, '\0');
        return Read(s.data(), n);
    }
    // The next offset at or after pos where one of the signatures starts, if any.
    std::optional<uint64_t> Find(std::initializer_list<uint32_t> sigs) {
        std::vector<uint8_t> buf(64 * 1024);
        uint64_t at = pos;
        while (at + 4 <= size) {
            size_t want = static_cast<size_t>(std::min<uint64_t>(buf.size(), size - at));
            ssize_t got = PreadFull(fd, buf.data(), want, at);
            if (got < 4) {
                if (got < 0) io_error = true;
                return std::nullopt;
            }
            for (size_t i = 0; i + 4 <= static_cast<size_t>(got); ++i) {
                uint32_t s = Get32(&buf[i]);
                if (std::find(sigs.begin(), sigs.end(), s) != sigs.end()) return at + i;
            }
            at += static_cast<uint64_t>(got) - 3;
        }
        return std::nullopt;
    }
};

struct Failure {
    int code;
};

std::string FsName(const std::string& stored, uint16_t flags) {
    std::string name =
        (flags & kFlagUtf8) && platform::IsValidUtf8(stored) ? stored : platform::OemToUtf8(stored);
    std::replace(name.begin(), name.end(), '\\', '/');
    return name;
}

// The compared fields in local-header layout (offsets after the signature).
std::array<uint8_t, kLocalFixed> Image(uint16_t flags, uint16_t method, uint16_t time,
                                       uint16_t date, uint32_t crc, uint32_t csize, uint32_t usize,
                                       uint32_t name_length) {
    LocalHeader h;
    h.flags = static_cast<uint16_t>(flags & 0x1FFF);
    h.method = method;
    h.time = time;
    h.date = date;
    h.crc = crc;
    h.compressed_size = csize;
    h.uncompressed_size = usize;
    h.name_length = static_cast<uint16_t>(name_length);
    std::array<uint8_t, kLocalFixed> b{};
    WriteLocal(h, b);
    return b;
}

class UpdateReader {
public:
    UpdateReader(int fd, UpdateArchive& out, const UpdateReport& report, std::string& detail)
        : r_{fd}, out_(out), report_(report), detail_(detail) {}

    int Run() {
        try {
            Read();
        } catch (const Failure& f) {
            return f.code;
        }
        return 0;
    }

private:
    [[noreturn]] void Fail(int code, const std::string& text) {
        detail_ = text;
        if (!text.empty() && report_) report_(text);
        throw Failure{code};
    }
    [[noreturn]] void Short() { Fail(r_.io_error ? kZipRead : kZipEof, ""); }
    void Warn(const std::string& msg, const std::string& name = "") {
        if (report_) report_("Warning: " + msg + name);
    }
    uint32_t Sig() {
        uint8_t b[4];
        if (!r_.Read(b, 4)) Short();
        return Get32(b);
    }

    void Read() {
        r_.size = static_cast<uint64_t>(std::max<int64_t>(FileSize(r_.fd), 0));
        auto first = r_.Find({kLocalSig, kEndSig});
        if (!first) Fail(kZipFormat, "missing end signature--probably not a zip file");
        out_.preamble = *first;
        r_.pos = *first;
        uint32_t sig = Sig();
        while (sig == kLocalSig) {
            Local();
            sig = Sig();
            if (sig != kLocalSig && sig != kCentralSig && sig != kEndSig) {
                r_.pos -= 4;
                auto next = r_.Find({kLocalSig, kCentralSig});
                if (!next) Short();
                r_.pos = *next;
                sig = Sig();
            }
        }
        uint64_t central_start = r_.pos - 4;
        out_.central_offset = central_start;
        size_t matched = 0;
        while (sig == kCentralSig) {
            Central(matched++);
            sig = Sig();
        }
        if (sig != kEndSig || matched != out_.members.size())
            Fail(kZipFormat, "missing end signature--probably not a zip file");
        uint64_t central_size = r_.pos - 4 - central_start;
        uint8_t e[kEndFixed];
        if (!r_.Read(e, kEndFixed)) Short();
        EndRecord end = ParseEnd(std::span<const uint8_t, kEndFixed>(e, kEndFixed));
        if (end.disk != 0 || end.directory_disk != 0 || end.entries_here != end.entries_total)
            Warn("multiple disk information ignored");
        if (end.entries_total != static_cast<uint16_t>(out_.members.size()))
            Fail(kZipFormat, "count in end of central directory incorrect");
        if (end.directory_size != central_size)
            Warn("central directory size is incorrect (made by stzip?)");
        if (end.directory_offset + out_.preamble != central_start)
            Fail(kZipFormat, "central directory start is incorrect");
        if (!r_.ReadString(out_.comment, end.comment_length)) Short();
        if (r_.pos < r_.size) Warn("garbage at end of zip file ignored");

        out_.by_name.resize(out_.members.size());
        for (size_t i = 0; i < out_.by_name.size(); ++i) out_.by_name[i] = i;
        std::stable_sort(out_.by_name.begin(), out_.by_name.end(), [&](size_t a, size_t b) {
            return CompareStoredNames(out_.members[a].stored_name, out_.members[b].stored_name) < 0;
        });
    }

    void Local() {
        uint64_t header = r_.pos - 4;
        out_.members.emplace_back();
        ZipMember& m = out_.members.back();
        uint8_t b[kLocalFixed];
        if (!r_.Read(b, kLocalFixed)) Short();
        LocalHeader h = ParseLocal(std::span<const uint8_t, kLocalFixed>(b, kLocalFixed));
        local_versions_.push_back(h.version_needed);
        if (h.name_length == 0)
            Fail(kZipFormat, "zero-length name for entry #" + std::to_string(out_.members.size()));
        if (!r_.ReadString(m.stored_name, h.name_length) ||
            !r_.ReadString(m.local_extra, h.extra_length))
            Short();
        m.version_needed = h.version_needed;
        m.flags = m.local_flags = h.flags;
        m.method = h.method;
        m.time = h.time;
        m.date = h.date;
        m.crc = h.crc;
        m.compressed_size = h.compressed_size;
        m.uncompressed_size = h.uncompressed_size;
        m.name_length = h.name_length;
        m.local_extra_length = h.extra_length;
        m.local_offset = header - out_.preamble;
        m.fs_name = FsName(m.stored_name, h.flags);
        uint64_t data = r_.pos;
        if (!(h.flags & kFlagDescriptor)) {
            r_.pos = data + h.compressed_size;
            return;
        }
        uint8_t d[kDescriptorSize];
        if (h.compressed_size == 0) {
            // Sizes unknown in the header: the descriptor whose own size lands right after
            // it is the member's (a signature inside the data does not).
            for (;;) {
                auto at = r_.Find({kDescriptorSig});
                if (!at) Fail(kZipFormat, "bad extended local header for " + m.fs_name);
                r_.pos = *at;
                if (!r_.Read(d, kDescriptorSize)) Short();
                if (data + Get32(d + 8) + kDescriptorSize == r_.pos) break;
                r_.pos = *at + 1;
            }
        } else {
            r_.pos = data + h.compressed_size;
            if (!r_.Read(d, kDescriptorSize)) Short();
            if (Get32(d) != kDescriptorSig)
                Fail(kZipFormat, "extended local header not found for " + m.fs_name);
        }
        m.crc = Get32(d + 4);
        m.compressed_size = Get32(d + 8);
        m.uncompressed_size = Get32(d + 12);
    }

    void Central(size_t i) {
        if (i >= out_.members.size()) Fail(kZipFormat, "extraneous central header signature");
        uint8_t b[kCentralFixed];
        if (!r_.Read(b, kCentralFixed)) Short();
        CentralHeader c = ParseCentral(std::span<const uint8_t, kCentralFixed>(b, kCentralFixed));
        for (size_t j = i; j < out_.members.size(); ++j) {
            if (out_.members[j].local_offset == c.local_offset) {
                std::swap(out_.members[i], out_.members[j]);
                std::swap(local_versions_[i], local_versions_[j]);
                break;
            }
        }
        ZipMember& m = out_.members[i];
        uint16_t local_version = local_versions_[i];
        if (c.version_needed > 20 || (c.version_needed != local_version && local_version > 20)) {
            if (report_)
                report_(
                    Format("%s requires an unsupported zip compression scheme", m.fs_name.c_str()));
            throw Failure{kZipUnsupported};
        }
        auto local = Image(m.flags, m.method, m.time, m.date, m.crc, m.compressed_size,
                           m.uncompressed_size, m.name_length);
        auto central = Image(c.flags, c.method, c.time, c.date, c.crc, c.compressed_size,
                             c.uncompressed_size, c.name_length);
        if (local != central) {
            std::string first = "local and central headers differ for " + m.fs_name;
            if (report_) report_(first);
            for (size_t k = 2; k < 24; ++k)
                if (local[k] != central[k] && report_)
                    report_(Format(" offset %d--local = %02x, central = %02x", static_cast<int>(k),
                                   local[k], central[k]));
            detail_ = first;
            throw Failure{kZipFormat};
        }
        m.version_made = c.version_made;
        m.version_needed = c.version_needed;
        m.flags = c.flags;
        m.central_extra_length = c.extra_length;
        m.comment_length = c.comment_length;
        m.disk_start = c.disk_start;
        m.internal_attr = c.internal_attr;
        m.external_attr = c.external_attr;
        if (c.local_offset != m.local_offset)
            Fail(kZipFormat, "local offset in central header incorrect for " + m.fs_name);
        std::string name;
        if (!r_.ReadString(name, c.name_length)) Short();
        if (name != m.stored_name)
            Fail(kZipFormat, "names in local and central differ for " + m.fs_name);
        if (!r_.ReadString(m.central_extra, c.extra_length) ||
            !r_.ReadString(m.comment, c.comment_length))
            Short();
    }

    Reader r_;
    UpdateArchive& out_;
    const UpdateReport& report_;
    std::string& detail_;
    std::vector<uint16_t> local_versions_;
};

}  // namespace

int CompareStoredNames(std::string_view a, std::string_view b) {
    auto fold = [](char c) {
        return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a')
                                      : static_cast<unsigned char>(c);
    };
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        unsigned char x = fold(a[i]), y = fold(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

std::optional<size_t> FindMember(const UpdateArchive& archive, std::string_view stored_name) {
    auto it =
        std::lower_bound(archive.by_name.begin(), archive.by_name.end(), stored_name,
                         [&](size_t i, std::string_view name) {
                             return CompareStoredNames(archive.members[i].stored_name, name) < 0;
                         });
    if (it == archive.by_name.end() ||
        CompareStoredNames(archive.members[*it].stored_name, stored_name) != 0)
        return std::nullopt;
    return *it;
}

int ReadZipForUpdate(const std::string& path, UpdateArchive& out, const UpdateReport& report,
                     std::string& detail) {
    out = UpdateArchive{};
    detail.clear();
    struct stat st;
    if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size == 0) {
        ::unlink(path.c_str());
        return 0;
    }
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) return 0;
    try {
        return UpdateReader(fd.get(), out, report, detail).Run();
    } catch (const std::bad_alloc&) {
        return kZipMemory;
    }
}

}  // namespace engine
