#include "archiver/engine/unzip/gzip_extract.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "archiver/engine/unzip/crc32.h"
#include "archiver/engine/unzip/file_io.h"
#include "archiver/engine/unzip/inflate.h"
#include "archiver/engine/unzip/member_steps.h"
#include "archiver/engine/unzip/output_path.h"
#include "archiver/engine/unzip/shown_name.h"
#include "archiver/engine/unzip/unix_compress.h"
#include "platform/dostime.h"

namespace engine {

namespace {

constexpr size_t kInBlock = 28672;
constexpr uint8_t kFlagHeaderCrc = 0x02;
constexpr uint8_t kFlagExtra = 0x04;
constexpr uint8_t kFlagName = 0x08;
constexpr uint8_t kFlagComment = 0x10;
constexpr uint8_t kFlagsUnknown = 0xE0;  // encrypted and reserved
constexpr size_t kTrailerSize = 8;

bool IsGzipMagic(const uint8_t* b) {
    return b[0] == 0x1F && (b[1] == 0x8B || b[1] == 0x9E);
}

uint32_t Le32(const uint8_t* b) {
    return b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<uint32_t>(b[3]) << 24);
}

class GzipRun {
public:
    GzipRun(const UnzipCommand& cmd, int fd, const std::string& archive_name, bool short_names)
        : cmd_(cmd), fd_(fd), archive_name_(archive_name), steps_(cmd, short_names) {}

    void Run() {
        file_size_ = static_cast<uint64_t>(std::max<int64_t>(FileSize(fd_), 0));
        std::string name = cmd_.selection.empty() ? std::string() : cmd_.selection.front();
        if (name.empty()) name = "unnamed";
        uint32_t dos_time = cmd_.kind_value;
        OutputFile out;
        if (cmd_.has_target) {
            // Only the name counts: the file lands in the target folder itself.
            std::string base(BaseName(name));
            auto path = steps_.Prepare(base, {name, dos_time, 0}, false);
            if (!path) {
                if (steps_.refused()) EndRun(kUnzipError);
                return;
            }
            steps_.OpenOutput(out, *path);
        }
        uint8_t magic[2] = {0, 0};
        PreadFull(fd_, magic, 2, 0);
        steps_.StatusLine(name);
        if (IsGzipMagic(magic))
            Gunzip(out, name);
        else
            Uncompress(out);
        steps_.Finish(out, platform::DosToTime(dos_time));
    }

private:
    [[noreturn]] void ReadError() {
        Fail(kClassIo, Format("Error reading %s.  Possible cause: bad disk", archive_name_.c_str()),
             kUnzipError);
    }
    [[noreturn]] void Damaged(const std::string& name, const std::string& why) {
        Fail(kClassIo, Format("Damaged gzip file %s: %s", ShownName(name).c_str(), why.c_str()),
             kUnzipError);
    }

    // Reads up to cap bytes at pos_, counting them for progress.
    size_t ReadBlock(uint8_t* buf, size_t cap) {
        size_t n =
            static_cast<size_t>(std::min<uint64_t>(cap, file_size_ - std::min(pos_, file_size_)));
        if (n == 0) return 0;
        ssize_t got = PreadFull(fd_, buf, n, pos_);
        if (got < 0) ReadError();
        n = static_cast<size_t>(got);
        pos_ += n;
        AddProgress(n);
        return n;
    }

    void Gunzip(OutputFile& out, const std::string& name) {
        auto ws = MakeInflateWorkspace();
        uint64_t start = cmd_.start_offset;
        if (start == 0) {
            auto s = GzipDataStart(fd_, 0, file_size_);
            if (!s) Damaged(name, "its header is invalid");
            start = *s;
        }
        for (;;) {
            pos_ = start;
            uint32_t crc = 0;
            uint64_t length = 0;
            auto read = [&](uint8_t* buf, size_t cap) {
                return ReadBlock(buf, std::min(cap, kInBlock));
            };
            auto write = [&](const uint8_t* p, size_t n) {
                crc = Crc32(crc, {p, n});
                length += n;
                steps_.Write(out, {p, n}, false);
            };
            InflateResult r = Inflate({read, write}, *ws);
            if (r.status != InflateStatus::kOk) Damaged(name, InflateStatusText(r.status));
            uint64_t trailer = start + r.in_used;
            uint8_t t[kTrailerSize];
            if (trailer > file_size_ || file_size_ - trailer < kTrailerSize ||
                PreadFull(fd_, t, kTrailerSize, trailer) != static_cast<ssize_t>(kTrailerSize))
                Damaged(name, "its trailer is missing");
            if (Le32(t) != crc)
                Damaged(name,
                        Format("Bad CRC %08lx (should be %08lx)", static_cast<unsigned long>(crc),
                               static_cast<unsigned long>(Le32(t))));
            if (Le32(t + 4) != static_cast<uint32_t>(length))
                Damaged(name, Format("Bad length %lu (should be %lu)",
                                     static_cast<unsigned long>(length & 0xFFFFFFFFu),
                                     static_cast<unsigned long>(Le32(t + 4))));
            // Files joined one after another form one stream of members.
            uint64_t next = trailer + kTrailerSize;
            if (next >= file_size_) return;
            uint8_t m[2] = {0, 0};
            if (PreadFull(fd_, m, 2, next) != 2 || !IsGzipMagic(m)) {
                SendWarning(Format("Warning: %s: data after the compressed file ignored",
                                   ShownName(name).c_str()));
                return;
            }
            auto s = GzipDataStart(fd_, next, file_size_);
            if (!s) Damaged(name, "a member's header is invalid");
            start = *s;
        }
    }

    void Uncompress(OutputFile& out) {
        pos_ = 0;
        auto read = [&](uint8_t* buf, size_t cap) {
            return ReadBlock(buf, std::min(cap, kInBlock));
        };
        auto write = [&](const uint8_t* p, size_t n) { steps_.Write(out, {p, n}, false); };
        const char* fault = DecodeUnixCompress({read, write});
        if (fault) Fail(kClassIo, fault, kUnzipError);
    }

    const UnzipCommand& cmd_;
    int fd_;
    const std::string& archive_name_;
    MemberSteps steps_;
    uint64_t file_size_ = 0;
    uint64_t pos_ = 0;
};

}  // namespace

std::optional<uint64_t> GzipDataStart(int fd, uint64_t offset, uint64_t file_size) {
    uint8_t h[10];
    if (offset > file_size || file_size - offset < sizeof h ||
        PreadFull(fd, h, sizeof h, offset) != static_cast<ssize_t>(sizeof h))
        return std::nullopt;
    if (!IsGzipMagic(h) || h[2] != 8 || (h[3] & kFlagsUnknown)) return std::nullopt;
    uint64_t pos = offset + sizeof h;
    uint8_t flags = h[3];
    if (flags & kFlagExtra) {
        uint8_t len[2];
        if (PreadFull(fd, len, 2, pos) != 2) return std::nullopt;
        pos += 2 + (len[0] | (len[1] << 8));
    }
    // Names and comments end at a NUL; one that never ends is no header.
    for (uint8_t flag : {kFlagName, kFlagComment}) {
        if (!(flags & flag)) continue;
        std::vector<uint8_t> buf(4096);
        for (;;) {
            if (pos >= file_size) return std::nullopt;
            ssize_t got = PreadFull(fd, buf.data(), buf.size(), pos);
            if (got <= 0) return std::nullopt;
            auto end = std::find(buf.begin(), buf.begin() + got, 0);
            pos += static_cast<uint64_t>(end - buf.begin());
            if (end != buf.begin() + got) {
                ++pos;
                break;
            }
        }
    }
    if (flags & kFlagHeaderCrc) pos += 2;
    if (pos > file_size) return std::nullopt;
    return pos;
}

void ExtractGzipOrCompress(const UnzipCommand& cmd, int fd, const std::string& archive_name,
                           bool short_names) {
    GzipRun(cmd, fd, archive_name, short_names).Run();
}

}  // namespace engine
