#include "archiver/engine/zip/member_data.h"

#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <ctime>
#include <memory>
#include <random>

#include "archiver/engine/unzip/crc32.h"
#include "archiver/engine/unzip/engine_frame.h"
#include "archiver/engine/unzip/extra_fields.h"
#include "archiver/engine/unzip/zip64_records.h"
#include "archiver/engine/unzip/zip_records.h"
#include "archiver/engine/zip/aes_writing.h"
#include "archiver/engine/zip/selection.h"
#include "archiver/engine/zip/zip64_fields.h"
#include "archiver/engine/zip/zip_run.h"
#include "archiver/engine/zip/zip_writer.h"

namespace zip {

namespace {

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

std::span<const uint8_t> Bytes(const std::string& s) {
    return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

// The file being read for a member: CRC-32, byte count and progress as it goes.
struct MemberSource final : DeflateInput {
    int fd = -1;
    const MemberSettings* settings = nullptr;
    const std::function<void(uint64_t)>* progress = nullptr;
    const std::function<bool()>* cancelled = nullptr;
    uint64_t expected = 0;  // the size the file had when opened
    uint32_t crc = 0;
    uint64_t count = 0;
    bool error = false;
    bool at_end = false;
    // Fills `buf` unless the file ends first.
    int64_t Read(std::span<uint8_t> buf) override {
        if (fd < 0 || at_end) return 0;
        if (*cancelled && (*cancelled)()) {
            error = true;
            return -1;
        }
        size_t got = 0;
        while (got < buf.size()) {
            ssize_t n = settings->read_file(fd, buf.data() + got, buf.size() - got);
            if (n < 0) {
                error = true;
                return -1;
            }
            if (n == 0) break;
            got += static_cast<size_t>(n);
            // A short read that reaches the size the file was opened with is its end: asking
            // again would only return 0. A file that grew meanwhile reads past that size and
            // goes on being read to its real end.
            if (got < buf.size() && count + got == expected) {
                at_end = true;
                break;
            }
        }
        crc = engine::Crc32(crc, buf.first(got));
        count += got;
        if (got > 0) (*progress)(got);
        return static_cast<int64_t>(got);
    }
};

// CRC-32 of the whole file before it is encrypted (the header's check byte needs it); the file
// is left at its start. -1 on a read error.
int64_t CrcPass(int fd, const MemberSettings& s) {
    auto buf_memory = std::make_unique_for_overwrite<uint8_t[]>(kCopyBlock);
    std::span<uint8_t> buf(buf_memory.get(), kCopyBlock);
    uint32_t crc = 0;
    for (;;) {
        ssize_t n = s.read_file(fd, buf.data(), buf.size());
        if (n < 0) return -1;
        if (n == 0) break;
        crc = engine::Crc32(crc, buf.first(static_cast<size_t>(n)));
    }
    if (::lseek(fd, 0, SEEK_SET) != 0) return -1;
    return crc;
}

// Fills the member's fields for a file about to be written; `method` is 0 or 8.
void PrepareMember(Member& m, int method, platform::DosDateTime when, uint32_t attributes,
                   uint64_t size, time_t mtime) {
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
    m.local_zip64 = ReserveZip64(size);
    m.local_extra = KeepExtraFields(m.local_extra);
    m.central_extra = KeepExtraFields(m.central_extra);
    // The time in UTC to the second, which the MS-DOS fields cannot carry.
    std::vector<uint8_t> times = engine::ExtendedTimeField(mtime);
    m.local_extra.insert(m.local_extra.end(), times.begin(), times.end());
    m.central_extra.insert(m.central_extra.end(), times.begin(), times.end());
}

// A symbolic link stored as itself: its mode, its time and its target as the data. False when
// it is not a link (or no longer one).
bool LookAtLink(const std::string& path, MemberPlan& plan, platform::DosDateTime& when,
                uint32_t& attributes, uint64_t& size, time_t& mtime) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return false;
    std::string target(engine::kMaxLinkTarget + 1, '\0');
    ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
    if (n < 0 || static_cast<size_t>(n) > engine::kMaxLinkTarget) return false;
    target.resize(static_cast<size_t>(n));
    when = platform::TimeToDos(st.st_mtime);
    attributes = static_cast<uint32_t>(st.st_mode) << 16;
    size = target.size();
    mtime = st.st_mtime;
    plan.link_target = std::move(target);
    return true;
}

// Compresses the file behind `source` into `sink`; the member's method and internal attribute
// are the compressor's to decide.
void DeflateData(Member& m, int level, MemberSource& source, DataSink& sink, DeflateState& s,
                 DataResult& out) {
    m.internal_attr = kAttrUnknown;
    init_bit_writer(s, &sink, &source);
    init_trees(s, &m.internal_attr, &m.method);
    if (init_matcher(s, level, &m.flags) != 0) {
        out.detail = "bad pack level";
        out.code = kResultInternal;
        return;
    }
    DeflateResult r = deflate_member(s);
    if (source.error) {
        out.code = kResultRead;
    } else if (r.result != 0) {
        out.detail = r.detail;
        out.code = r.result;
    } else if (sink.count != r.compressed_size) {
        out.status = engine::Format(" s=%llu, actual=%llu ",
                                    static_cast<unsigned long long>(r.compressed_size),
                                    static_cast<unsigned long long>(sink.count));
        out.detail = "incorrect compressed size";
        out.code = kResultInternal;
    }
}

int StoreData(MemberSource& source, DataSink& sink) {
    // Read straight into the sink's room when it has some; otherwise into a buffer of our
    // own, not cleared first since every byte passed on was just read into it.
    std::unique_ptr<uint8_t[]> own;
    for (;;) {
        std::span<uint8_t> room = sink.Room(kCopyBlock);
        std::span<uint8_t> buf = room;
        if (room.empty()) {
            if (!own) own = std::make_unique_for_overwrite<uint8_t[]>(kCopyBlock);
            buf = std::span(own.get(), kCopyBlock);
        }
        int64_t n = source.Read(buf);
        if (n < 0) return kResultRead;
        if (n == 0) return 0;
        size_t got = static_cast<size_t>(n);
        bool ok = room.empty() ? sink.Write(buf.first(got)) : sink.WriteRoom(room, got);
        if (!ok) return kResultTempFile;
        if (int r = sink.AfterStoredBlock()) return r;
    }
}

}  // namespace

uint32_t DefaultHeaderRandom() {
    static std::mt19937 rng = [] {
        std::random_device dev;
        std::seed_seq seq{dev(), dev(), static_cast<unsigned>(::time(nullptr)),
                          static_cast<unsigned>(::getpid())};
        return std::mt19937(seq);
    }();
    return rng();
}

std::array<uint8_t, 30> LocalHeaderBytes(const Member& m) {
    static_assert(engine::kLocalSize == 30);
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
    if (m.local_zip64) {
        h.version_needed = std::max(h.version_needed, engine::kVersionZip64);
        h.compressed_size = h.uncompressed_size = engine::kZip64Mark32;
        h.extra_length = static_cast<uint16_t>(h.extra_length + LocalZip64Block(m).size());
    }
    std::array<uint8_t, engine::kLocalSize> b{};
    engine::Put32(b.data(), engine::kLocalSig);
    engine::WriteLocal(h,
                       std::span<uint8_t, engine::kLocalFixed>(b.data() + 4, engine::kLocalFixed));
    return b;
}

int WriteHeader(Member& m, OutArchive& out) {
    std::vector<uint8_t> zip64 = LocalZip64Block(m);
    uint64_t length = engine::kLocalSize + m.raw_name.size() + zip64.size() + m.local_extra.size();
    if (out.pos + length >= out.max_size) return kResultTooBig;
    m.local_offset = out.pos;
    auto fixed = LocalHeaderBytes(m);
    if (!out.Write(fixed) || !out.Write(Bytes(m.raw_name)) || !out.Write(zip64) ||
        !out.Write(m.local_extra))
        return kResultTempFile;
    return 0;
}

int OpenMember(Member& m, const MemberSettings& s, MemberPlan& plan) {
    bool folder = !m.name.empty() && m.name.back() == '/';
    uint32_t attributes = 0;
    uint64_t size = 0;
    platform::DosDateTime when = 0;
    time_t mtime = 0;
    plan.link_target.reset();
    if (!folder && !s.follow_links &&
        LookAtLink(m.file_path, plan, when, attributes, size, mtime)) {
        // Stored below, never deflated: what other tools expect of a link.
    } else if (!folder) {
        // Opened first and then looked at: one path lookup, and the time, mode and size are
        // those of the very file that is read.
        plan.file.reset(s.open_file(m.file_path.c_str()));
        if (!plan.file) return kResultNotRead;
        when = file_time_fd(plan.file.get(), &attributes, &size);
        struct stat st;
        if (when == 0 || ::fstat(plan.file.get(), &st) != 0) {
            plan.file.reset();
            return kResultNotRead;
        }
        mtime = st.st_mtime;
    } else {
        when = file_time(m.file_path, &attributes, &size);
        struct stat st;
        if (when == 0 || ::stat(m.file_path.c_str(), &st) != 0) return kResultNotRead;
        mtime = st.st_mtime;
        size = 0;
    }
    plan.size = size;
    int method = s.method;
    if (StoreOnly(m.file_path) && s.level != 9) method = 0;
    if (size == 0 || plan.link_target) method = 0;
    if (method != 0) method = kMethodDeflated;
    plan.encrypt = s.password_given;
    PrepareMember(m, method, when, attributes, size, mtime);
    plan.first_crc = 0;
    plan.aes_strength = plan.encrypt ? s.aes_strength : 0;
    if (plan.aes_strength != 0) {
        // The authentication code vouches for the data: no CRC is needed ahead of it.
        MarkAesMember(m, plan.aes_strength, size);
    } else if (plan.encrypt) {
        m.flags |= engine::kFlagEncrypted;
        m.version_needed = 20;
        if (plan.link_target) {
            plan.first_crc = engine::Crc32(0, Bytes(*plan.link_target));
        } else if (plan.file) {
            int64_t crc = CrcPass(plan.file.get(), s);
            if (crc < 0) return kResultRead;
            plan.first_crc = static_cast<uint32_t>(crc);
        }
        m.crc = plan.first_crc;
    }
    m.local_flags = m.flags;
    return 0;
}

bool DataSink::Write(std::span<const uint8_t> bytes) {
    bool ok;
    if (!keys && !aes) {
        ok = Put(bytes);
    } else {
        scratch_.assign(bytes.begin(), bytes.end());
        if (keys) engine::EncryptBlock(*keys, scratch_);
        ok = (!aes || aes->Encrypt(scratch_)) && Put(scratch_);
    }
    if (ok) count += bytes.size();
    return ok;
}

bool DataSink::WriteRoom(std::span<uint8_t> room, size_t n) {
    room = room.first(std::min(n, room.size()));
    if (aes && !aes->Encrypt(room)) return false;
    if (keys) engine::EncryptBlock(*keys, room);
    if (!PutRoom(room.size())) return false;
    count += room.size();
    return true;
}

bool StartCipher(const Member& m, const MemberPlan& plan, const std::string& password,
                 DataSink& sink) {
    if (plan.aes_strength != 0) return StartAesCipher(plan.aes_strength, password, sink);
    std::array<uint8_t, engine::kCryptHeaderSize> header;
    engine::ZipKeys pre = engine::InitKeys(password);
    std::copy(plan.random.begin(), plan.random.end(), header.begin());
    engine::EncryptBlock(pre, std::span(header.data(), 10));
    header[10] = static_cast<uint8_t>(m.crc >> 16);
    header[11] = static_cast<uint8_t>(m.crc >> 24);
    sink.keys = engine::InitKeys(password);
    bool ok = sink.Write(header);
    sink.count = 0;
    return ok;
}

DataResult WriteData(Member& m, MemberPlan& plan, const MemberSettings& s, DataSink& sink,
                     DeflateState& state, const std::function<void(uint64_t)>& progress,
                     const std::function<bool()>& cancelled) {
    DataResult out;
    // Data meant to be encrypted never goes out in the clear, whatever kept the cipher from
    // starting.
    if (plan.encrypt && !sink.keys && !sink.aes) {
        out.detail = "the encryption could not be started";
        out.code = kResultInternal;
        plan.file.reset();
        return out;
    }
    MemberSource source;
    source.fd = plan.file.get();
    source.expected = plan.size;
    source.settings = &s;
    source.progress = &progress;
    source.cancelled = &cancelled;
    if (plan.link_target) {
        std::span<const uint8_t> target = Bytes(*plan.link_target);
        source.crc = engine::Crc32(0, target);
        source.count = target.size();
        if (!sink.Write(target)) out.code = kResultTempFile;
        if (!target.empty()) progress(target.size());
    } else if (m.method == kMethodStored) {
        out.code = StoreData(source, sink);
    } else {
        DeflateData(m, s.level, source, sink, state, out);
    }
    if (out.code == 0 && sink.aes && !FinishAesCipher(sink)) out.code = kResultTempFile;
    out.read_error = source.error;
    out.crc = source.crc;
    out.count = source.count;
    plan.file.reset();
    return out;
}

void ApplyData(Member& m, bool encrypt, uint32_t crc, uint64_t count, uint64_t stream_bytes) {
    m.crc = crc;
    m.compressed_size = stream_bytes;
    m.uncompressed_size = count;
    if (!encrypt) m.version_needed = m.method == kMethodDeflated ? 20 : 10;
    m.flags &= static_cast<uint16_t>(~engine::kFlagDescriptor);
    m.local_flags = m.flags;
    ApplyAesMethod(m);
}

uint64_t CipherOverhead(const MemberPlan& plan) {
    if (!plan.encrypt) return 0;
    return plan.aes_strength != 0 ? engine::AesOverhead(plan.aes_strength)
                                  : engine::kCryptHeaderSize;
}

int FinishMember(Member& m, OutArchive& out, const MemberPlan& plan, const DataResult& data,
                 uint64_t stream_bytes, bool rewrite) {
    if (out.failed) return kResultTempFile;
    if (out.pos >= out.max_size) return kResultTooBig;
    // A file that changed between the CRC pass and the data pass would carry a check byte
    // that no longer matches its data.
    if (plan.encrypt && plan.aes_strength == 0 && data.crc != plan.first_crc) return kResultRead;
    // A file that grew past 4 GiB - 1 while it was read: its header has no room for that.
    if (!m.local_zip64 && (engine::Needs64(data.count) || engine::Needs64(stream_bytes)))
        return kResultTooBig;
    ApplyData(m, plan.encrypt, data.crc, data.count, stream_bytes);
    if (rewrite && !out.Rewrite(m.local_offset, LocalHeaderBytes(m))) return kResultTempFile;
    // The 64-bit sizes come first after the name, then the other fields.
    const uint64_t extra_at = m.local_offset + engine::kLocalSize + m.raw_name.size();
    const std::vector<uint8_t> zip64 = LocalZip64Block(m);
    if (rewrite && m.local_zip64 && !out.Rewrite(extra_at, zip64)) return kResultTempFile;
    // An AES member's field took the method the compressor chose.
    if (rewrite && plan.aes_strength != 0 && !out.Rewrite(extra_at + zip64.size(), m.local_extra))
        return kResultTempFile;
    return 0;
}

}  // namespace zip
