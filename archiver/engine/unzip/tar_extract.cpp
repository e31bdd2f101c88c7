#include "archiver/engine/unzip/tar_extract.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#include "archiver/engine/unzip/file_io.h"
#include "archiver/engine/unzip/gzip_extract.h"
#include "archiver/engine/unzip/member_steps.h"
#include "archiver/engine/unzip/output_path.h"
#include "archiver/engine/unzip/tar_header.h"
#include "platform/dostime.h"

namespace engine {

namespace {

constexpr size_t kBlock = 512;
constexpr size_t kDataBlock = 28672;
// Long names beyond this are refused by the path checks anyway; reading more is pointless.
constexpr uint64_t kMaxLongName = 64 * 1024;

// Field offsets and widths of a header block.
constexpr size_t kNameAt = 0, kNameLen = 100;
constexpr size_t kSizeAt = 124, kSizeLen = 12;
constexpr size_t kTimeAt = 136, kTimeLen = 12;
constexpr size_t kTypeAt = 156;
constexpr size_t kMagicAt = 257;
constexpr size_t kPrefixAt = 345, kPrefixLen = 155;

// A NUL-terminated field, bounded to its width.
std::string Field(const uint8_t* block, size_t at, size_t len) {
    const char* p = reinterpret_cast<const char*>(block + at);
    return std::string(p, strnlen(p, len));
}

std::string_view FieldView(const uint8_t* block, size_t at, size_t len) {
    return {reinterpret_cast<const char*>(block + at), len};
}

uint64_t RoundUp(uint64_t n) {
    return (n + kBlock - 1) / kBlock * kBlock;
}

class TarRun {
public:
    TarRun(const UnzipCommand& cmd, int fd, const std::string& archive_name, bool short_names)
        : cmd_(cmd), fd_(fd), archive_name_(archive_name), steps_(cmd, short_names) {}

    void Run() {
        file_size_ = static_cast<uint64_t>(std::max<int64_t>(FileSize(fd_), 0));
        pos_ = cmd_.start_offset;
        std::optional<std::string> long_name;
        PaxValues pax;  // from an extended header, for the next member only
        for (;;) {
            uint8_t h[kBlock];
            if (pos_ >= file_size_ || PreadFull(fd_, h, kBlock, pos_) != kBlock || h[0] == 0) break;
            pos_ += kBlock;
            char type = static_cast<char>(h[kTypeAt]);
            // Name and record headers carry their own size; a pax size is the next member's,
            // and stands in for a size field that does not parse.
            bool record = type == 'L' || type == 'K' || type == 'x' || type == 'g';
            std::optional<int64_t> size = ParseTarNumber(FieldView(h, kSizeAt, kSizeLen));
            if (!record && pax.size) size = static_cast<int64_t>(*pax.size);
            if (!size || *size < 0)
                Fail(kClassIo, Format("Error reading header after processing %d entries", entries_),
                     kUnzipError);
            uint64_t claimed = static_cast<uint64_t>(*size);
            // A member never runs past the end of the archive.
            uint64_t data_size = std::min<uint64_t>(claimed, file_size_ - pos_);
            uint64_t data_start = pos_;
            pos_ = data_start + RoundUp(data_size);
            if (type == 'L') {  // the next member's long name
                long_name = ReadText(data_start, data_size);
                continue;
            }
            if (type == 'x') {  // the next member's extended records
                pax = ParsePaxRecords(ReadRecords(data_start, data_size));
                if (pax.path && !pax.path->empty()) long_name = *pax.path;
                continue;
            }
            if (record) continue;  // a link's long target, global records
            std::optional<int64_t> mtime = pax.mtime;
            if (!mtime) mtime = ParseTarNumber(FieldView(h, kTimeAt, kTimeLen));
            pax = {};
            if (type == 'V') {  // a volume label names the archive, not a member
                long_name.reset();
                continue;
            }
            if (type == '1' || type == '2') {
                // Links have no data of their own and make no file.
                pos_ = data_start;
                long_name.reset();
                continue;
            }
            std::string name = long_name ? *long_name : HeaderName(h);
            long_name.reset();
            if (type != '0' && type != '\0' && type != '7') continue;
            ++entries_;
            Member(name, data_start, data_size, mtime);
        }
        if (steps_.refused()) EndRun(kUnzipError);
    }

private:
    // The header's own name: the ustar prefix before it when the POSIX form has one.
    static std::string HeaderName(const uint8_t* h) {
        std::string name = Field(h, kNameAt, kNameLen);
        if (std::memcmp(h + kMagicAt, "ustar\0", 6) == 0) {
            std::string prefix = Field(h, kPrefixAt, kPrefixLen);
            if (!prefix.empty()) name = prefix + "/" + name;
        }
        return name;
    }

    [[noreturn]] void ReadError() {
        Fail(kClassIo, Format("Error reading %s.  Possible cause: bad disk", archive_name_.c_str()),
             kUnzipError);
    }

    // A name record's text up to its first NUL, bounded.
    std::string ReadText(uint64_t at, uint64_t size) {
        std::string text(static_cast<size_t>(std::min(size, kMaxLongName)), '\0');
        if (PreadFull(fd_, text.data(), text.size(), at) != static_cast<ssize_t>(text.size()))
            ReadError();
        text.resize(strnlen(text.c_str(), text.size()));
        return text;
    }

    // An extended header's records, NULs included, bounded like a long name.
    std::string ReadRecords(uint64_t at, uint64_t size) {
        std::string text(static_cast<size_t>(std::min(size, kMaxLongName)), '\0');
        if (PreadFull(fd_, text.data(), text.size(), at) != static_cast<ssize_t>(text.size()))
            ReadError();
        return text;
    }

    void Member(const std::string& name, uint64_t data_start, uint64_t size,
                std::optional<int64_t> mtime) {
        if (name.empty() || name.back() == '/') return;  // folders come with their members
        uint32_t dos_time = mtime ? platform::TimeToDos(static_cast<time_t>(*mtime)) : 0;
        OutputFile out;
        if (cmd_.has_target) {
            auto path = steps_.Prepare(name, {name, dos_time, size});
            if (!path) return;
            steps_.OpenOutput(out, *path);
        }
        steps_.StatusLine(name);
        bool convert = cmd_.has_target && cmd_.kind_value != 0;
        bool text = false;
        LineEndConverter lines;
        std::vector<uint8_t> buf(kDataBlock);
        uint64_t at = data_start;
        uint64_t left = size;
        bool first = true;
        while (left > 0) {
            size_t n = static_cast<size_t>(std::min<uint64_t>(left, buf.size()));
            if (PreadFull(fd_, buf.data(), n, at) != static_cast<ssize_t>(n)) ReadError();
            at += n;
            left -= n;
            std::string_view block(reinterpret_cast<const char*>(buf.data()), n);
            if (first) text = convert && LineEndConverter::LooksLikeText(block);
            first = false;
            if (text) {
                std::string converted = lines.Convert(block, left == 0);
                steps_.Write(
                    out, {reinterpret_cast<const uint8_t*>(converted.data()), converted.size()});
            } else {
                steps_.Write(out, {buf.data(), n});
            }
        }
        // The archive's own seconds, not the two-second steps of the listing's time.
        steps_.Finish(out,
                      mtime ? std::optional<time_t>(static_cast<time_t>(*mtime)) : std::nullopt);
    }

    const UnzipCommand& cmd_;
    int fd_;
    const std::string& archive_name_;
    MemberSteps steps_;
    uint64_t file_size_ = 0;
    uint64_t pos_ = 0;
    int entries_ = 0;
};

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

}  // namespace

int64_t ParseTarOctal(std::string_view field) {
    size_t i = 0;
    while (i < field.size() && IsSpace(field[i])) ++i;
    int64_t value = 0;
    bool digits = false;
    for (; i < field.size(); ++i) {
        char c = field[i];
        if (c == '\0' || IsSpace(c)) break;
        if (c < '0' || c > '7') return -1;
        // Twelve octal digits fit; anything longer is no field of ours.
        if (value > (INT64_MAX >> 3)) return -1;
        value = value * 8 + (c - '0');
        digits = true;
    }
    return digits ? value : -1;
}

std::string PaxPath(std::string_view records) {
    return ParsePaxRecords(records).path.value_or("");
}

bool LineEndConverter::LooksLikeText(std::string_view first_block) {
    size_t n = std::min<size_t>(first_block.size(), 80);
    for (size_t i = 0; i < n; ++i) {
        auto c = static_cast<unsigned char>(first_block[i]);
        if (c >= 32 && c <= 127) continue;
        if (c == '\n' || c == '\r' || c == '\t' || c == '\f') continue;
        return false;
    }
    return true;
}

std::string LineEndConverter::Convert(std::string_view block, bool last) {
    std::string out;
    out.reserve(block.size() + block.size() / 8 + 2);
    for (char c : block) {
        if (pending_cr_) {
            pending_cr_ = false;
            out += "\r\n";
            if (c == '\n') continue;
        }
        if (c == '\r')
            pending_cr_ = true;
        else if (c == '\n')
            out += "\r\n";
        else
            out += c;
    }
    if (last && pending_cr_) {
        pending_cr_ = false;
        out += "\r\n";
    }
    return out;
}

void ExtractTar(const UnzipCommand& cmd, int fd, const std::string& archive_name,
                bool short_names) {
    if (!IsCompressedFile(fd)) {
        TarRun(cmd, fd, archive_name, short_names).Run();
        return;
    }
    // A tar inside gzip or Unix compress: unpacked whole (and checked) first, then read as
    // any tar. Its offsets are those of the tar, never of the compressed file.
    UniqueFd tar;
    std::string error;
    if (!UnpackToTempFile(fd, archive_name, tar, error, [](size_t n) { AddProgress(n); }))
        Fail(kClassIo, error, kUnzipError);
    UnzipCommand inner = cmd;
    inner.start_offset = 0;
    TarRun(inner, tar.get(), archive_name, short_names).Run();
}

}  // namespace engine
