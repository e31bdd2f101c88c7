#include "archiver/engine/zip/zip_writer.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <optional>
#include <random>

#include "archiver/engine/unzip/crc32.h"
#include "archiver/engine/unzip/engine_frame.h"
#include "archiver/engine/unzip/zip_crypt.h"
#include "archiver/engine/unzip/zip_records.h"
#include "archiver/engine/zip/deflate.h"
#include "archiver/engine/zip/zip_run.h"
#include "platform/codepage.h"

namespace zip {

namespace {

using engine::Put32;

// Files that are archives or compressed already gain nothing from deflate below level 9.
bool StoreOnly(const std::string& path) {
    static const char* const kSuffixes[] = {".Z", ".zip", ".zoo", ".arc", ".lzh", ".arj"};
    for (const char* suffix : kSuffixes) {
        size_t n = std::strlen(suffix);
        if (path.size() < n) continue;
        if (strncasecmp(path.c_str() + path.size() - n, suffix, n) == 0) return true;
    }
    return false;
}

std::array<uint8_t, engine::kLocalSize> LocalHeaderBytes(const Member& m) {
    engine::LocalHeader h;
    h.version_needed = m.version_needed;
    h.flags = m.local_flags;
    h.method = m.method;
    h.time = m.time;
    h.date = m.date;
    h.crc = m.crc;
    h.compressed_size = static_cast<uint32_t>(m.compressed_size);
    h.uncompressed_size = static_cast<uint32_t>(m.uncompressed_size);
    h.name_length = static_cast<uint16_t>(m.raw_name.size());
    h.extra_length = static_cast<uint16_t>(m.local_extra.size());
    std::array<uint8_t, engine::kLocalSize> b{};
    Put32(b.data(), engine::kLocalSig);
    engine::WriteLocal(h,
                       std::span<uint8_t, engine::kLocalFixed>(b.data() + 4, engine::kLocalFixed));
    return b;
}

std::span<const uint8_t> Bytes(const std::string& s) {
    return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

// The pseudo-random source of the encryption headers, seeded once per program.
std::mt19937& HeaderRandom() {
    static std::mt19937 rng = [] {
        std::random_device dev;
        std::seed_seq seq{dev(), dev(), static_cast<unsigned>(::time(nullptr)),
                          static_cast<unsigned>(::getpid())};
        return std::mt19937(seq);
    }();
    return rng;
}

// Everything written for a member's data goes through here: the cipher when a password is in
// force, then the archive.
struct MemberSink final : DeflateOutput {
    OutArchive* out = nullptr;
    std::optional<engine::ZipKeys> keys;
    std::vector<uint8_t> scratch;
    bool Write(std::span<const uint8_t> bytes) override {
        if (!keys) return out->Write(bytes);
        scratch.assign(bytes.begin(), bytes.end());
        engine::EncryptBlock(*keys, scratch);
        return out->Write(scratch);
    }
    bool CanSeek() override { return true; }
};

// The file being read for a member: CRC-32, byte count and progress as it goes.
struct MemberSource final : DeflateInput {
    int fd = -1;
    uint32_t crc = 0;
    uint64_t count = 0;
    bool error = false;
    int64_t Read(std::span<uint8_t> buf) override {
        if (fd < 0) return 0;
        ssize_t n = Run().read_file(fd, buf.data(), buf.size());
        if (n < 0) {
            error = true;
            return -1;
        }
        crc = engine::Crc32(crc, buf.first(static_cast<size_t>(n)));
        count += static_cast<uint64_t>(n);
        engine::AddProgress(static_cast<uint64_t>(n));
        return n;
    }
};

// CRC-32 of the whole file before it is encrypted (the header's check byte needs it); the file
// is left at its start. -1 on a read error.
int64_t CrcPass(int fd) {
    std::vector<uint8_t> buf(kCrcBlock);
    uint32_t crc = 0;
    for (;;) {
        ssize_t n = Run().read_file(fd, buf.data(), buf.size());
        if (n < 0) return -1;
        if (n == 0) break;
        crc = engine::Crc32(crc, std::span(buf.data(), static_cast<size_t>(n)));
    }
    if (::lseek(fd, 0, SEEK_SET) != 0) return -1;
    return crc;
}

int WriteHeader(Member& m, OutArchive& out) {
    uint64_t length = engine::kLocalSize + m.raw_name.size() + m.local_extra.size();
    if (out.pos + length >= out.max_size) return kResultTooBig;
    m.local_offset = out.pos;
    auto fixed = LocalHeaderBytes(m);
    if (!out.Write(fixed) || !out.Write(Bytes(m.raw_name)) || !out.Write(m.local_extra))
        return kResultTempFile;
    return 0;
}

// Fills the member's fields for a file about to be written; `method` is 0 or 8.
void PrepareMember(Member& m, int method, platform::DosDateTime when, uint32_t attributes,
                   uint64_t size) {
    m.version_made = m.short_name ? kMadeByDos : kMadeByUnix;
    m.method = static_cast<uint16_t>(method);
    m.version_needed = method == kMethodDeflated ? 20 : 10;
    m.flags = engine::kFlagDescriptor;
    m.raw_name = EncodeName(m.name, &m.flags);
    m.time = static_cast<uint16_t>(when & 0xFFFF);
    m.date = static_cast<uint16_t>(when >> 16);
    m.crc = 0;
    m.internal_attr = 0;
    m.external_attr = m.short_name ? (attributes & 0xFF) : attributes;
    m.compressed_size = method == kMethodStored ? size : 0;
    m.uncompressed_size = size;
    m.disk_start = 0;
    m.local_extra = KeepExtraFields(m.local_extra);
    m.central_extra = KeepExtraFields(m.central_extra);
}

// Compresses the file behind `source` into `sink`; the member's method and internal attribute
// are the compressor's to decide. Returns 0 or a result code.
int DeflateData(Member& m, MemberSource& source, MemberSink& sink, std::string& detail) {
    OutArchive& out = *sink.out;
    uint64_t data_start = out.pos;
    DeflateState& s = deflate_state();
    m.internal_attr = kAttrUnknown;
    init_bit_writer(s, &sink, &source);
    init_trees(s, &m.internal_attr, &m.method);
    if (init_matcher(s, Run().settings.level, &m.flags) != 0) {
        detail = "bad pack level";
        return kResultInternal;
    }
    DeflateResult r = deflate_member(s);
    if (source.error) return engine::kZipRead;
    if (r.result != 0) {
        detail = r.detail;
        return r.result;
    }
    if (out.pos - data_start != r.compressed_size) {
        engine::SendStatus(engine::Format(" s=%llu, actual=%llu ",
                                          static_cast<unsigned long long>(r.compressed_size),
                                          static_cast<unsigned long long>(out.pos - data_start)));
        detail = "incorrect compressed size";
        return kResultInternal;
    }
    return 0;
}

int StoreData(MemberSource& source, MemberSink& sink) {
    std::vector<uint8_t> buf(kCopyBlock);
    for (;;) {
        int64_t n = source.Read(buf);
        if (n < 0) return engine::kZipRead;
        if (n == 0) return 0;
        if (!sink.Write(std::span(buf.data(), static_cast<size_t>(n)))) return kResultTempFile;
        if (sink.out->pos >= sink.out->max_size) return kResultTooBig;
    }
}

}  // namespace

bool OutArchive::Write(std::span<const uint8_t> bytes) {
    if (failed) return false;
    if (buf.capacity() < kOutBufferSize) buf.reserve(kOutBufferSize);
    if (buf.size() + bytes.size() > kOutBufferSize) {
        if (!Flush()) return false;
        if (bytes.size() >= kOutBufferSize) {
            if (!engine::WriteFull(fd.get(), bytes.data(), bytes.size())) {
                failed = true;
                return false;
            }
            pos += bytes.size();
            return true;
        }
    }
    buf.insert(buf.end(), bytes.begin(), bytes.end());
    pos += bytes.size();
    return true;
}

bool OutArchive::Flush() {
    if (failed) return false;
    if (!buf.empty() && !engine::WriteFull(fd.get(), buf.data(), buf.size())) failed = true;
    buf.clear();
    return !failed;
}

bool OutArchive::Rewrite(uint64_t at, std::span<const uint8_t> bytes) {
    if (!Flush()) return false;
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t r = ::pwrite(fd.get(), bytes.data() + done, bytes.size() - done,
                             static_cast<off_t>(at + done));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        done += static_cast<size_t>(r);
    }
    return true;
}

std::string TempTemplate(const std::string& folder) {
    std::string t = folder;
    if (!t.empty() && t.back() != '/') t += '/';
    return t + "_ZXXXXXX";
}

int CreateTemp(const std::string& folder, OutArchive& out) {
    std::string name = TempTemplate(folder);
    int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) return kResultTempFile;
    out.fd.reset(fd);
    out.path = name;
    out.pos = 0;
    out.failed = false;
    out.buf.clear();
    return 0;
}

int CopyBytes(int in, uint64_t from, uint64_t count, OutArchive& out) {
    std::vector<uint8_t> buf(kCopyBlock);
    while (count > 0) {
        size_t want = static_cast<size_t>(std::min<uint64_t>(count, buf.size()));
        ssize_t got = engine::PreadFull(in, buf.data(), want, from);
        if (got < 0) return kResultRead;
        // The reader walked these bytes, so an archive that ends early changed under us.
        if (got == 0) return kResultEof;
        if (!out.Write(std::span(buf.data(), static_cast<size_t>(got)))) {
            engine::SendStatus(" fcopy: write error");
            return kResultTempFile;
        }
        engine::AddProgress(static_cast<uint64_t>(got));
        from += static_cast<uint64_t>(got);
        count -= static_cast<uint64_t>(got);
    }
    return 0;
}

int CopyMember(Member& m, int old_fd, OutArchive& out) {
    uint64_t length = engine::kLocalSize + m.raw_name.size() + m.local_extra.size() +
                      m.compressed_size +
                      ((m.local_flags & engine::kFlagDescriptor) ? engine::kDescriptorSize : 0);
    if (out.pos + length >= out.max_size) return kResultTooBig;
    uint64_t from = m.local_offset;
    m.local_offset = out.pos;
    return CopyBytes(old_fd, from, length, out);
}

std::vector<uint8_t> KeepExtraFields(std::span<const uint8_t> extra) {
    static constexpr uint16_t kDescribeOldFile[] = {0x5455, 0x000A, 0x5855, 0x7875, 0x000D, 0x0001};
    std::vector<uint8_t> kept;
    size_t i = 0;
    while (i + 4 <= extra.size()) {
        uint16_t id = engine::Get16(&extra[i]);
        size_t size = engine::Get16(&extra[i + 2]);
        if (i + 4 + size > extra.size()) break;  // a damaged block ends what can be trusted
        if (std::find(std::begin(kDescribeOldFile), std::end(kDescribeOldFile), id) ==
            std::end(kDescribeOldFile))
            kept.insert(kept.end(), extra.begin() + static_cast<long>(i),
                        extra.begin() + static_cast<long>(i + 4 + size));
        i += 4 + size;
    }
    return kept;
}

std::string EncodeName(const std::string& utf8, uint16_t* flags) {
    std::optional<std::string> oem = platform::Utf8ToOem(utf8);
    if (oem) {
        *flags &= static_cast<uint16_t>(~engine::kFlagUtf8);
        return *oem;
    }
    *flags |= engine::kFlagUtf8;
    return utf8;
}

int WriteMember(Member& m, OutArchive& out, std::string& detail) {
    const ZipCommand& settings = Run().settings;
    bool folder = !m.name.empty() && m.name.back() == '/';
    uint32_t attributes = 0;
    uint64_t size = 0;
    platform::DosDateTime when = file_time(m.file_path, &attributes, &size);
    if (when == 0) return kResultNotRead;
    int method = settings.method;
    if (StoreOnly(m.file_path) && settings.level != 9) method = 0;
    engine::UniqueFd file;
    if (!folder) {
        file.reset(Run().open_file(m.file_path.c_str()));
        if (!file) return kResultNotRead;
    } else {
        size = 0;
    }
    if (size == 0) method = 0;
    if (method != 0) method = kMethodDeflated;
    bool encrypt = settings.password_given;
    PrepareMember(m, method, when, attributes, size);
    uint32_t first_crc = 0;
    if (encrypt) {
        m.flags |= engine::kFlagEncrypted;
        m.version_needed = 20;
        if (file) {
            int64_t crc = CrcPass(file.get());
            if (crc < 0) return engine::kZipRead;
            first_crc = static_cast<uint32_t>(crc);
        }
        m.crc = first_crc;
    }
    m.local_flags = m.flags;
    if (int r = WriteHeader(m, out)) return r;

    MemberSink sink;
    sink.out = &out;
    if (encrypt) {
        std::array<uint8_t, engine::kCryptHeaderSize> header;
        engine::ZipKeys pre = engine::InitKeys(settings.password);
        for (size_t i = 0; i < 10; ++i) header[i] = static_cast<uint8_t>(HeaderRandom()() >> 7);
        engine::EncryptBlock(pre, std::span(header.data(), 10));
        header[10] = static_cast<uint8_t>(m.crc >> 16);
        header[11] = static_cast<uint8_t>(m.crc >> 24);
        sink.keys = engine::InitKeys(settings.password);
        if (!sink.Write(header)) return kResultWrite;
    }
    if (out.failed) return kResultWrite;

    uint64_t data_start = out.pos;
    MemberSource source;
    source.fd = file.get();
    int r =
        method == kMethodStored ? StoreData(source, sink) : DeflateData(m, source, sink, detail);
    if (r != 0) return r;
    file.reset();
    if (out.failed) return kResultTempFile;
    if (out.pos >= out.max_size) return kResultTooBig;
    // A file that changed between the CRC pass and the data pass would carry a check byte
    // that no longer matches its data.
    if (encrypt && source.crc != first_crc) return engine::kZipRead;
    if (source.count > 0xFFFFFFFFu) return kResultTooBig;
    m.crc = source.crc;
    m.compressed_size = out.pos - data_start + (encrypt ? engine::kCryptHeaderSize : 0);
    m.uncompressed_size = source.count;
    if (!encrypt) m.version_needed = m.method == kMethodDeflated ? 20 : 10;
    m.flags &= static_cast<uint16_t>(~engine::kFlagDescriptor);
    m.local_flags = m.flags;
    if (!out.Rewrite(m.local_offset, LocalHeaderBytes(m))) return kResultTempFile;
    return 0;
}

int WriteDirectory(std::span<const Member> members, const std::string& comment, OutArchive& out) {
    uint64_t total = engine::kEndSize + comment.size();
    for (const Member& m : members)
        total +=
            engine::kCentralSize + m.raw_name.size() + m.central_extra.size() + m.comment.size();
    if (members.size() > out.max_members || out.pos + total >= out.max_size) return kResultTooBig;
    uint64_t start = out.pos;
    for (const Member& m : members) {
        engine::CentralHeader c;
        c.version_made = m.version_made;
        c.version_needed = m.version_needed;
        c.flags = m.flags;
        c.method = m.method;
        c.time = m.time;
        c.date = m.date;
        c.crc = m.crc;
        c.compressed_size = static_cast<uint32_t>(m.compressed_size);
        c.uncompressed_size = static_cast<uint32_t>(m.uncompressed_size);
        c.name_length = static_cast<uint16_t>(m.raw_name.size());
        c.extra_length = static_cast<uint16_t>(m.central_extra.size());
        c.comment_length = static_cast<uint16_t>(m.comment.size());
        c.disk_start = m.disk_start;
        c.internal_attr = m.internal_attr;
        c.external_attr = m.external_attr;
        c.local_offset = static_cast<uint32_t>(m.local_offset);
        std::array<uint8_t, engine::kCentralSize> b{};
        Put32(b.data(), engine::kCentralSig);
        engine::WriteCentral(
            c, std::span<uint8_t, engine::kCentralFixed>(b.data() + 4, engine::kCentralFixed));
        if (!out.Write(b) || !out.Write(Bytes(m.raw_name)) || !out.Write(m.central_extra) ||
            !out.Write(Bytes(m.comment)))
            return kResultTempFile;
    }
    engine::EndRecord e;
    e.entries_here = e.entries_total = static_cast<uint16_t>(members.size());
    e.directory_size = static_cast<uint32_t>(out.pos - start);
    e.directory_offset = static_cast<uint32_t>(start);
    e.comment_length = static_cast<uint16_t>(comment.size());
    std::array<uint8_t, engine::kEndSize> b{};
    Put32(b.data(), engine::kEndSig);
    engine::WriteEnd(e, std::span<uint8_t, engine::kEndFixed>(b.data() + 4, engine::kEndFixed));
    if (!out.Write(b) || !out.Write(Bytes(comment)) || !out.Flush()) return kResultTempFile;
    return 0;
}

}  // namespace zip
