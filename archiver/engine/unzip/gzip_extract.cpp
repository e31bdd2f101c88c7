#include "archiver/engine/unzip/gzip_extract.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
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

// Reading and decoding of one compressed file; faults leave through the return value.
class Decoder {
public:
    Decoder(int fd, const CompressedFileIo& io) : fd_(fd), io_(io) {
        file_size_ = static_cast<uint64_t>(std::max<int64_t>(FileSize(fd_), 0));
    }

    CompressedFault Run(std::string& text) {
        uint8_t magic[2] = {0, 0};
        if (PreadFull(fd_, magic, 2, 0) < 0) return CompressedFault::kRead;
        return IsGzipMagic(magic) ? Gunzip(text) : Uncompress(text);
    }

private:
    struct ReadFailed {};

    // Reads up to cap bytes at pos_, counting them for progress.
    size_t ReadBlock(uint8_t* buf, size_t cap) {
        size_t n =
            static_cast<size_t>(std::min<uint64_t>(cap, file_size_ - std::min(pos_, file_size_)));
        if (n == 0) return 0;
        ssize_t got = PreadFull(fd_, buf, n, pos_);
        if (got < 0) throw ReadFailed{};
        n = static_cast<size_t>(got);
        pos_ += n;
        if (io_.progress) io_.progress(n);
        return n;
    }

    CompressedFault Gunzip(std::string& text) {
        // The header is read again here, whatever the listing found: its CRC is checked in
        // every run.
        auto s = GzipDataStart(fd_, 0, file_size_, &text);
        if (!s) {
            if (text.empty()) text = "its header is invalid";
            return CompressedFault::kDamaged;
        }
        // Made once the header is known good: a file refused for its header needs none.
        auto ws = MakeInflateWorkspace();
        uint64_t start = *s;
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
                io_.write(p, n);
            };
            InflateResult r;
            try {
                r = Inflate({read, write}, *ws);
            } catch (const ReadFailed&) {
                return CompressedFault::kRead;
            }
            if (r.status != InflateStatus::kOk) {
                text = InflateStatusText(r.status);
                return CompressedFault::kDamaged;
            }
            uint64_t trailer = start + r.in_used;
            uint8_t t[kTrailerSize];
            if (trailer > file_size_ || file_size_ - trailer < kTrailerSize ||
                PreadFull(fd_, t, kTrailerSize, trailer) != static_cast<ssize_t>(kTrailerSize)) {
                text = "its trailer is missing";
                return CompressedFault::kDamaged;
            }
            if (Le32(t) != crc) {
                text = Format("Bad CRC %08lx (should be %08lx)", static_cast<unsigned long>(crc),
                              static_cast<unsigned long>(Le32(t)));
                return CompressedFault::kDamaged;
            }
            if (Le32(t + 4) != static_cast<uint32_t>(length)) {
                text = Format("Bad length %lu (should be %lu)",
                              static_cast<unsigned long>(length & 0xFFFFFFFFu),
                              static_cast<unsigned long>(Le32(t + 4)));
                return CompressedFault::kDamaged;
            }
            // Files joined one after another form one stream of members.
            uint64_t next = trailer + kTrailerSize;
            if (next >= file_size_) return CompressedFault::kNone;
            uint8_t m[2] = {0, 0};
            if (PreadFull(fd_, m, 2, next) != 2 || !IsGzipMagic(m)) {
                if (io_.warn) io_.warn("data after the compressed file ignored");
                return CompressedFault::kNone;
            }
            s = GzipDataStart(fd_, next, file_size_, &text);
            if (!s) {
                if (text.empty()) text = "a member's header is invalid";
                return CompressedFault::kDamaged;
            }
            start = *s;
        }
    }

    CompressedFault Uncompress(std::string& text) {
        pos_ = 0;
        auto read = [&](uint8_t* buf, size_t cap) {
            return ReadBlock(buf, std::min(cap, kInBlock));
        };
        const char* fault = nullptr;
        try {
            fault = DecodeUnixCompress({read, io_.write});
        } catch (const ReadFailed&) {
            return CompressedFault::kRead;
        }
        if (!fault) return CompressedFault::kNone;
        text = fault;
        return CompressedFault::kLzw;
    }

    int fd_;
    const CompressedFileIo& io_;
    uint64_t file_size_ = 0;
    uint64_t pos_ = 0;
};

class GzipRun {
public:
    GzipRun(const UnzipCommand& cmd, int fd, const std::string& archive_name, bool short_names)
        : cmd_(cmd), fd_(fd), archive_name_(archive_name), steps_(cmd, short_names) {}

    void Run() {
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
        steps_.StatusLine(name);
        CompressedFileIo io;
        io.write = [&](const uint8_t* p, size_t n) { steps_.Write(out, {p, n}, false); };
        io.progress = [](size_t n) { AddProgress(n); };
        io.warn = [&](const std::string& text) {
            SendWarning(Format("Warning: %s: %s", ShownName(name).c_str(), text.c_str()));
        };
        std::string text;
        switch (DecodeCompressedFile(fd_, io, text)) {
            case CompressedFault::kNone:
                break;
            case CompressedFault::kRead:
                Fail(kClassIo,
                     Format("Error reading %s.  Possible cause: bad disk", archive_name_.c_str()),
                     kUnzipError);
            case CompressedFault::kDamaged:
                Fail(kClassIo,
                     Format("Damaged gzip file %s: %s", ShownName(name).c_str(), text.c_str()),
                     kUnzipError);
            case CompressedFault::kLzw:
                Fail(kClassIo, text, kUnzipError);
        }
        steps_.Finish(out, platform::DosToTime(dos_time));
    }

private:
    const UnzipCommand& cmd_;
    int fd_;
    const std::string& archive_name_;
    MemberSteps steps_;
};

}  // namespace

std::optional<uint64_t> GzipDataStart(int fd, uint64_t offset, uint64_t file_size,
                                      std::string* fault) {
    uint8_t h[10];
    if (offset > file_size || file_size - offset < sizeof h ||
        PreadFull(fd, h, sizeof h, offset) != static_cast<ssize_t>(sizeof h))
        return std::nullopt;
    if (!IsGzipMagic(h) || h[2] != 8 || (h[3] & kFlagsUnknown)) return std::nullopt;
    uint64_t pos = offset + sizeof h;
    uint8_t flags = h[3];
    // The header CRC covers every byte before it.
    uint32_t crc = Crc32(0, {h, sizeof h});
    std::vector<uint8_t> buf(4096);
    if (flags & kFlagExtra) {
        uint8_t len[2];
        if (PreadFull(fd, len, 2, pos) != 2) return std::nullopt;
        crc = Crc32(crc, {len, 2});
        pos += 2;
        size_t left = len[0] | (len[1] << 8);
        while (left > 0) {
            size_t n = std::min(left, buf.size());
            if (PreadFull(fd, buf.data(), n, pos) != static_cast<ssize_t>(n)) return std::nullopt;
            crc = Crc32(crc, {buf.data(), n});
            pos += n;
            left -= n;
        }
    }
    // Names and comments end at a NUL; one that never ends is no header.
    for (uint8_t flag : {kFlagName, kFlagComment}) {
        if (!(flags & flag)) continue;
        for (;;) {
            if (pos >= file_size) return std::nullopt;
            ssize_t got = PreadFull(fd, buf.data(), buf.size(), pos);
            if (got <= 0) return std::nullopt;
            auto end = std::find(buf.begin(), buf.begin() + got, 0);
            bool ended = end != buf.begin() + got;
            size_t n = static_cast<size_t>(end - buf.begin()) + (ended ? 1 : 0);
            crc = Crc32(crc, {buf.data(), n});
            pos += n;
            if (ended) break;
        }
    }
    if (flags & kFlagHeaderCrc) {
        uint8_t stored[2];
        if (PreadFull(fd, stored, 2, pos) != 2) return std::nullopt;
        unsigned want = stored[0] | (stored[1] << 8);
        if ((crc & 0xFFFF) != want) {
            if (fault) *fault = Format("Bad header CRC %04x (should be %04x)", crc & 0xFFFF, want);
            return std::nullopt;
        }
        pos += 2;
    }
    if (pos > file_size) return std::nullopt;
    return pos;
}

bool IsCompressedFile(int fd) {
    uint8_t magic[2] = {0, 0};
    if (PreadFull(fd, magic, 2, 0) != 2) return false;
    return IsGzipMagic(magic) || (magic[0] == 0x1F && magic[1] == 0x9D);
}

CompressedFault DecodeCompressedFile(int fd, const CompressedFileIo& io, std::string& text) {
    text.clear();
    return Decoder(fd, io).Run(text);
}

bool UnpackToTempFile(int fd, const std::string& archive_name, UniqueFd& out, std::string& error,
                      const std::function<void(size_t)>& progress) {
    const char* dir = std::getenv("TMPDIR");
    std::string pattern = std::string(dir && *dir ? dir : "/tmp") + "/borvan32-unpack-XXXXXX";
    UniqueFd tmp(::mkstemp(pattern.data()));
    if (!tmp) {
        error = Format("Can't create output file: %s", pattern.c_str());
        return false;
    }
    // Gone from the folder at once: nothing is left behind however the run ends.
    ::unlink(pattern.c_str());
    bool write_failed = false;
    CompressedFileIo io;
    io.progress = progress;
    io.write = [&](const uint8_t* p, size_t n) {
        if (!write_failed && !WriteFull(tmp.get(), p, n)) write_failed = true;
    };
    std::string text;
    CompressedFault fault = DecodeCompressedFile(fd, io, text);
    if (write_failed) {
        error = Format("Error writing to %s.  Possible cause: disk full", pattern.c_str());
        return false;
    }
    switch (fault) {
        case CompressedFault::kNone:
            out = std::move(tmp);
            return true;
        case CompressedFault::kRead:
            error = Format("Error reading %s.  Possible cause: bad disk", archive_name.c_str());
            return false;
        case CompressedFault::kDamaged:
            error =
                Format("Damaged gzip file %s: %s", ShownName(archive_name).c_str(), text.c_str());
            return false;
        case CompressedFault::kLzw:
            error = text;
            return false;
    }
    return false;
}

void ExtractGzipOrCompress(const UnzipCommand& cmd, int fd, const std::string& archive_name,
                           bool short_names) {
    GzipRun(cmd, fd, archive_name, short_names).Run();
}

}  // namespace engine
