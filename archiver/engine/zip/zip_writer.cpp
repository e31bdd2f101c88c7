#include "archiver/engine/zip/zip_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include "archiver/engine/unzip/engine_frame.h"
#include "archiver/engine/unzip/zip64_records.h"
#include "archiver/engine/unzip/zip_records.h"
#include "archiver/engine/zip/member_data.h"
#include "archiver/engine/zip/zip64_fields.h"
#include "archiver/engine/zip/zip_run.h"
#include "platform/codepage.h"

namespace zip {

namespace {

using engine::Put32;

// A member's data written straight into the archive.
struct ArchiveSink final : DataSink {
    OutArchive* out = nullptr;
    bool Put(std::span<const uint8_t> bytes) override { return out->Write(bytes); }
    std::span<uint8_t> Room(size_t n) override { return out->Room(n); }
    bool PutRoom(size_t n) override {
        out->Commit(n);
        return true;
    }
    int AfterStoredBlock() override { return out->pos >= out->max_size ? kResultTooBig : 0; }
};

// Asks the kernel to start writing a range out now; the final fsync reports any failure.
void StartWriteback(int fd, uint64_t at, size_t n) {
    ::sync_file_range(fd, static_cast<off_t>(at), static_cast<off_t>(n), SYNC_FILE_RANGE_WRITE);
}

}  // namespace

bool OutArchive::Write(std::span<const uint8_t> bytes) {
    if (failed) return false;
    if (used + bytes.size() > kOutBufferSize) {
        if (!Flush()) return false;
        if (bytes.size() >= kOutBufferSize) {
            if (!engine::WriteFull(fd.get(), bytes.data(), bytes.size())) {
                failed = true;
                return false;
            }
            if (write_behind) StartWriteback(fd.get(), pos, bytes.size());
            pos += bytes.size();
            return true;
        }
    }
    if (buf.size() < kOutBufferSize) buf.resize(kOutBufferSize);
    std::copy(bytes.begin(), bytes.end(), buf.begin() + static_cast<long>(used));
    used += bytes.size();
    pos += bytes.size();
    return true;
}

std::span<uint8_t> OutArchive::Room(size_t n) {
    if (failed || n > kOutBufferSize) return {};
    if (used + n > kOutBufferSize && !Flush()) return {};
    if (buf.size() < kOutBufferSize) buf.resize(kOutBufferSize);
    return std::span(buf.data() + used, n);
}

void OutArchive::Commit(size_t n) {
    n = std::min(n, kOutBufferSize - used);
    used += n;
    pos += n;
}

bool OutArchive::Flush() {
    if (failed) return false;
    if (used > 0 && !engine::WriteFull(fd.get(), buf.data(), used)) failed = true;
    if (!failed && used > 0 && write_behind) StartWriteback(fd.get(), pos - used, used);
    used = 0;
    return !failed;
}

bool OutArchive::Rewrite(uint64_t at, std::span<const uint8_t> bytes) {
    if (failed) return false;
    // Bytes still in the buffer are changed there; a write of their own would cost a system
    // call for every member.
    uint64_t buffered_from = pos - used;
    if (at >= buffered_from) {
        if (at + bytes.size() > pos) return false;
        std::copy(bytes.begin(), bytes.end(), buf.begin() + static_cast<long>(at - buffered_from));
        return true;
    }
    if (at + bytes.size() > buffered_from && !Flush()) return false;
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
    out.used = 0;
    return 0;
}

int CopyBytes(int in, uint64_t from, uint64_t count, OutArchive& out) {
    // A small member needs no whole block, which would be cleared for nothing: an archive of
    // many small members spent most of a copy clearing blocks.
    std::vector<uint8_t> buf(static_cast<size_t>(std::clamp<uint64_t>(count, 1, kCopyBlock)));
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
    // A member with 64-bit sizes in its local header ends in a descriptor with 64-bit sizes.
    size_t descriptor =
        engine::HasZip64Block(m.local_extra) ? engine::kDescriptor64Size : engine::kDescriptorSize;
    uint64_t length = engine::kLocalSize + m.raw_name.size() + m.local_extra.size() +
                      m.compressed_size +
                      ((m.local_flags & engine::kFlagDescriptor) ? descriptor : 0);
    if (out.pos + length >= out.max_size) return kResultTooBig;
    uint64_t from = m.local_offset;
    m.local_offset = out.pos;
    return CopyBytes(old_fd, from, length, out);
}

std::vector<uint8_t> KeepExtraFields(std::span<const uint8_t> extra) {
    static constexpr uint16_t kDescribeOldFile[] = {0x5455, 0x000A, 0x5855, 0x7875,
                                                    0x000D, 0x0001, 0x9901};
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

std::string EncodeName(const std::string& name, uint16_t* flags) {
    // Other tools read a name without the flag in whatever code page they guess, so only
    // plain ASCII goes without it. Bytes that are not UTF-8 (a file name on disk may hold
    // any) cannot carry the flag truthfully and are stored as they are, without it.
    bool ascii = std::all_of(name.begin(), name.end(),
                             [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (ascii || !platform::IsValidUtf8(name))
        *flags &= static_cast<uint16_t>(~engine::kFlagUtf8);
    else
        *flags |= engine::kFlagUtf8;
    return name;
}

MemberSettings CurrentMemberSettings() {
    const ZipRun& run = Run();
    MemberSettings s;
    s.method = run.settings.method;
    s.level = run.settings.level;
    s.password_given = run.settings.password_given;
    s.password = run.settings.password;
    int cipher = run.settings.encryption;
    if (run.settings.password_given && cipher >= kEncryptAes128 && cipher <= kEncryptAes256)
        s.aes_strength = static_cast<uint8_t>(cipher);
    s.open_file = run.open_file;
    s.read_file = run.read_file;
    s.follow_links = run.settings.follow_links;
    return s;
}

HeaderRandomBytes DrawHeaderRandom() {
    HeaderRandomBytes r;
    for (uint8_t& b : r) b = static_cast<uint8_t>(Run().header_random() >> 7);
    return r;
}

int WriteMember(Member& m, OutArchive& out, std::string& detail) {
    MemberSettings settings = CurrentMemberSettings();
    MemberPlan plan;
    // Drawn for every member, readable or not, so that the random source is used the same way
    // however many threads compress; without a password nothing would use them.
    if (settings.password_given) plan.random = DrawHeaderRandom();
    if (int r = OpenMember(m, settings, plan)) return r;
    if (int r = WriteHeader(m, out)) return r;
    ArchiveSink sink;
    sink.out = &out;
    if (plan.encrypt && !StartCipher(m, plan, settings.password, sink)) return kResultWrite;
    if (out.failed) return kResultWrite;
    static const std::function<void(uint64_t)> progress = [](uint64_t n) {
        engine::AddProgress(n);
    };
    DataResult data = WriteData(m, plan, settings, sink, deflate_state(), progress);
    std::fill(settings.password.begin(), settings.password.end(), '\0');
    if (data.code != 0) {
        if (!data.status.empty()) engine::SendStatus(data.status);
        detail = data.detail;
        return data.code;
    }
    uint64_t stream = sink.count + CipherOverhead(plan);
    return FinishMember(m, out, plan, data, stream, true);
}

int WriteDirectory(std::span<const Member> members, const std::string& comment, OutArchive& out) {
    std::vector<std::vector<uint8_t>> records;
    records.reserve(members.size());
    uint64_t total =
        engine::kEnd64Size + engine::kLocator64Size + engine::kEndSize + comment.size();
    for (const Member& m : members) {
        std::optional<std::vector<uint8_t>> record = CentralRecord(m);
        if (!record) return kResultTooBig;
        total += record->size();
        records.push_back(std::move(*record));
    }
    if (members.size() > out.max_members || out.pos + total >= out.max_size) return kResultTooBig;
    uint64_t start = out.pos;
    for (const std::vector<uint8_t>& record : records)
        if (!out.Write(record)) return kResultTempFile;
    std::vector<uint8_t> end = EndRecords(members.size(), out.pos - start, start, out.pos, comment);
    if (!out.Write(end) || !out.Flush()) return kResultTempFile;
    return 0;
}

}  // namespace zip
