#include "archiver/engine/unzip/extract.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>
#include <optional>

#include "archiver/engine/unzip/aes_crypt.h"
#include "archiver/engine/unzip/aes_field.h"
#include "archiver/engine/unzip/crc32.h"
#include "archiver/engine/unzip/extra_fields.h"
#include "archiver/engine/unzip/file_io.h"
#include "archiver/engine/unzip/inflate.h"
#include "archiver/engine/unzip/library_codecs.h"
#include "archiver/engine/unzip/local_time.h"
#include "archiver/engine/unzip/member_pipeline.h"
#include "archiver/engine/unzip/member_steps.h"
#include "archiver/engine/unzip/old_methods.h"
#include "archiver/engine/unzip/output_path.h"
#include "archiver/engine/unzip/read_ahead.h"
#include "archiver/engine/unzip/shown_name.h"
#include "archiver/engine/unzip/zip64_records.h"
#include "archiver/engine/unzip/zip_crypt.h"
#include "archiver/engine/unzip/zip_directory.h"
#include "archiver/engine/unzip/zip_records.h"
#include "platform/codepage.h"
#include "platform/dostime.h"

namespace engine {

const char* const kMsgUnsafePath = "Warning: skipping %s: its path leaves the target folder";
const char* const kMsgNameTooLong =
    "Warning: skipping a member whose name is longer than %u characters";
const char* const kMsgLinkedFolder =
    "Warning: skipping %s: its folder %s is a link that leads outside the target folder";
const char* const kMsgLinkFolder =
    "Warning: skipping %s: its folder %s is a link, and no member is written through a link";
const char* const kMsgLinkLeaves =
    "Warning: not creating the link %s: its target %s leads outside the target folder";
const char* const kMsgLinkNotMade = "Warning: could not create the link %s";

namespace {

constexpr size_t kInputBlock = 64 * 1024;
// What the walk reads of a member that another thread decodes: its header with a usual name
// and extra field (a longer one takes a second read).
constexpr size_t kHeaderAhead = 1024;

// Values a member is checked against: from the central directory when the run has one,
// else from the local header (or the shell, for a streamed member).
struct Declared {
    uint32_t crc = 0;
    uint64_t compressed = 0;
    uint64_t uncompressed = 0;
    bool sizes_known = true;         // false: delimited only by the deflate stream's own end
    bool uncompressed_known = true;  // false: a streamed header the shell could size only in part
    uint16_t flags = 0;              // the member's general-purpose flags
};

[[noreturn]] void ReadError(const std::string& archive_name) {
    Fail(kClassIo, Format("Error reading %s.  Possible cause: bad disk", archive_name.c_str()),
         kUnzipError);
}

// A member that cannot be decoded to its end, or not to its declared size, must not look
// extracted.
[[noreturn]] void Damaged(const std::string& name, const char* why) {
    Fail(kClassIo, Format("ZIP damaged: file %s: %s", ShownName(name).c_str(), why), kUnzipError);
}

// An AES member's reading: the cipher (shared by the copies of the member's data, used by one
// thread at a time), the format version and where the stored authentication code lies.
struct AesReading {
    std::shared_ptr<AesCipher> cipher;
    uint16_t version = 0;
    uint64_t code_at = 0;
};

// Everything the decoding of one member needs, copied so that a worker can run it while the
// walk goes on.
struct MemberData {
    int fd = -1;
    std::string archive_name;
    uint16_t method = 0;
    time_t mtime = 0;  // from an extra field, else the MS-DOS time converted at the run's start
    std::optional<mode_t> permissions;   // restored when the member was made on Unix
    std::string* link_target = nullptr;  // a link's data is collected here, not written
    Declared d;
    std::string name;
    std::string out_path;
    bool encrypted = false;
    ZipKeys keys;
    AesReading aes;
    ReadAhead* ahead = nullptr;  // the walk's window, for a member decoded on the walk's thread
    uint64_t pos = 0;            // first byte of the compressed data
    uint64_t remaining = 0;
    bool test = true;
};

// What decoding left for the checks at the member's end.
struct Decoded {
    uint32_t crc = 0;
    uint64_t room = 0;  // declared size not yet produced
    bool link_too_long = false;
    InflateResult inflate;
};

// The authentication code covers every encrypted byte, those the decoder left unread as well:
// a member whose code does not match is refused, whatever its data decoded to.
void CheckAuthCode(MemberData& m) {
    AesCipher& cipher = *m.aes.cipher;
    std::vector<uint8_t> buf(
        static_cast<size_t>(std::clamp<uint64_t>(m.remaining, 1, kInputBlock)));
    while (m.remaining > 0) {
        size_t n = static_cast<size_t>(std::min<uint64_t>(buf.size(), m.remaining));
        if (PreadFull(m.fd, buf.data(), n, m.pos) != static_cast<ssize_t>(n))
            ReadError(m.archive_name);
        if (!cipher.Authenticate({buf.data(), n})) break;
        m.pos += n;
        m.remaining -= n;
    }
    std::array<uint8_t, kAesAuthSize> stored{}, computed{};
    if (PreadFull(m.fd, stored.data(), stored.size(), m.aes.code_at) !=
        static_cast<ssize_t>(stored.size()))
        Damaged(m.name, "its authentication code is cut short");
    if (m.remaining > 0 || !cipher.AuthCode(computed) || !AesAuthCodesEqual(stored, computed))
        Damaged(m.name,
                "its authentication code does not match (a wrong password or altered data)");
}

// Damage found while decoding: for an AES member a code that does not match says more (the
// password or the data is wrong), so it is looked at first.
[[noreturn]] void DamagedData(MemberData& m, const char* why) {
    if (m.aes.cipher) CheckAuthCode(m);
    Damaged(m.name, why);
}

// Decodes the member's data into its output (writing it unless testing), counting progress.
Decoded DecodeData(MemberData& m, OutputFile& out, InflateWorkspace& workspace) {
    Decoded r;
    const Declared& d = m.d;
    bool limit = d.sizes_known && d.uncompressed_known;
    r.room = limit ? d.uncompressed : UINT64_MAX;
    auto write = [&](const uint8_t* p, size_t n) {
        ThrowIfAbandoned();
        // Looked at here too: a member whose reports are recorded reaches no stop check
        // until it is complete, and a file it replaces must survive the stop.
        if (StopSignal() != 0) EndRun(kUnzipStopped);
        // Checked per block: no output past the declared size is written or counted.
        if (n > r.room) DamagedData(m, "its data is longer than its declared size");
        r.room -= n;
        r.crc = Crc32(r.crc, {p, n});
        if (m.link_target) {
            if (n > kMaxLinkTarget - std::min(kMaxLinkTarget, m.link_target->size()))
                r.link_too_long = true;
            else
                m.link_target->append(reinterpret_cast<const char*>(p), n);
        } else if (!m.test && !WriteFull(out.fd.get(), p, n))
            Fail(kClassIo,
                 Format("Error writing to %s.  Possible cause: disk full",
                        ShownName(m.out_path).c_str()),
                 kUnzipError);
        AddProgress(n);
    };
    auto read = [&](uint8_t* buf, size_t cap) -> size_t {
        size_t n = static_cast<size_t>(std::min<uint64_t>(cap, m.remaining));
        if (n == 0) return 0;
        ssize_t got = m.ahead ? m.ahead->Read(buf, n, m.pos) : PreadFull(m.fd, buf, n, m.pos);
        if (got < 0 || (d.sizes_known && static_cast<size_t>(got) != n)) ReadError(m.archive_name);
        n = static_cast<size_t>(got);
        if (m.aes.cipher) {
            if (!m.aes.cipher->Decrypt({buf, n})) DamagedData(m, "it could not be deciphered");
        } else if (m.encrypted) {
            DecryptBlock(m.keys, {buf, n});
        }
        m.pos += n;
        m.remaining -= n;
        return n;
    };
    if (m.method == kMethodStored) {
        if (!d.sizes_known) Damaged(m.name, "its size is unknown");
        // A small member needs no full block (which would be cleared for nothing).
        std::vector<uint8_t> buf(
            static_cast<size_t>(std::clamp<uint64_t>(m.remaining, 1, kInputBlock)));
        for (;;) {
            size_t n = read(buf.data(), buf.size());
            if (n == 0) break;
            write(buf.data(), n);
        }
    } else if (IsOldMethod(m.method)) {
        // These methods have no end mark of their own: without both sizes there is no
        // telling where the data ends.
        if (!limit) Damaged(m.name, "its size is unknown");
        OldMethodResult o =
            DecodeOldMethod({read, write}, m.method, m.d.flags, d.compressed, d.uncompressed);
        if (o.status != OldMethodStatus::kOk) DamagedData(m, OldMethodStatusText(o.status));
    } else if (IsLibraryMethod(m.method)) {
        // Sized by the headers like the older methods: the end of a streamed member's data
        // is known only to inflate.
        if (!limit) Damaged(m.name, "its size is unknown");
        CodecResult c = DecodeLibraryMethod({read, write}, m.method, m.d.flags, d.uncompressed);
        if (c.status != CodecStatus::kOk) DamagedData(m, CodecStatusText(c.status));
    } else {
        r.inflate = m.method == kMethodDeflate64 ? Inflate64({read, write}, workspace)
                                                 : Inflate({read, write}, workspace);
        if (r.inflate.status != InflateStatus::kOk)
            DamagedData(m, InflateStatusText(r.inflate.status));
    }
    return r;
}

// The member's end: its size, its time, closing the output and the CRC check.
void FinishMember(MemberData& m, OutputFile& out, const Decoded& r, uint32_t expected_crc) {
    if (m.aes.cipher) CheckAuthCode(m);
    if (m.d.sizes_known && m.d.uncompressed_known && r.room != 0)
        Damaged(m.name, "its data is shorter than its declared size");
    // A new file is complete: kept even when the CRC check below fails. One that would take
    // an existing file's place does so only when it checks out; otherwise the old file stays.
    // AE-2 stores no CRC: the authentication code alone vouches for the data.
    bool crc_ok = r.crc == expected_crc || m.aes.version == kAesVersion2;
    if (!m.test && (crc_ok || out.replaces.empty()))
        MemberSteps::Finish(out, m.mtime, m.permissions);
    if (!crc_ok)
        Fail(kClassIo,
             Format("ZIP damaged: file %s: Bad CRC %08lx (should be %08lx)",
                    ShownName(m.name).c_str(), static_cast<unsigned long>(r.crc),
                    static_cast<unsigned long>(expected_crc)),
             kUnzipError);
}

// What a member's mode and extra fields decide about its output.
struct MemberKind {
    bool link = false;                  // a symbolic link: its data is the target
    std::optional<mode_t> permissions;  // bits to restore on a file made on Unix
    time_t mtime = 0;                   // from an extended-time or NTFS field, else the MS-DOS time
};

// Walks the archive on the run's thread; with more than one thread the members' data is
// decoded by the pipeline's workers.
class Driver {
public:
    Driver(const UnzipCommand& cmd, int fd, const std::string& archive_name, bool short_names)
        : cmd_(cmd),
          fd_(fd),
          archive_name_(archive_name),
          steps_(cmd, short_names),
          file_size_(static_cast<uint64_t>(std::max<int64_t>(FileSize(fd), 0))),
          ahead_(fd, file_size_) {}

    void Run() {
        ZipDirectory dir = ReadZipDirectory(fd_, archive_name_);
        bool by_directory = dir.status == DirectoryStatus::kOk && !dir.entries.empty();
        unsigned threads = Unzip().threads;
        if (threads == 0 && cmd_.threads > 0) threads = static_cast<unsigned>(cmd_.threads);
        if (threads == 0) threads = DefaultUnzipThreads();
        // One member needs no helpers.
        if (threads > 1 && (!by_directory || dir.entries.size() > 1))
            pipeline_ = std::make_unique<MemberPipeline>(threads, steps_);
        if (by_directory)
            WalkDirectory(dir);
        else
            WalkLocalHeaders();
        if (pipeline_) pipeline_->Finish();
        // Members refused with a warning were not extracted: the run must not look complete.
        if (steps_.refused()) EndRun(kUnzipError);
    }

private:
    // Every member the directory lists is visited at its own local header, in file order, so
    // none can be lost to a member whose end is misjudged (a streamed member without its
    // descriptor, junk between members).
    void WalkDirectory(const ZipDirectory& dir) {
        std::vector<const DirectoryEntry*> order;
        order.reserve(dir.entries.size());
        for (const DirectoryEntry& e : dir.entries) order.push_back(&e);
        std::stable_sort(order.begin(), order.end(),
                         [](const DirectoryEntry* a, const DirectoryEntry* b) {
                             return a->local_offset < b->local_offset;
                         });
        uint64_t previous = UINT64_MAX;
        for (const DirectoryEntry* e : order) {
            // Two directory entries naming one local header describe one member.
            if (e->local_offset == previous) continue;
            previous = e->local_offset;
            Step([&] {
                // A member a worker will decode needs only its header here.
                if (pipeline_ && e->compressed >= Unzip().decode_here_below &&
                    !(Unzip().balance && pipeline_->WorkersBusy()))
                    ahead_.ExpectOnly(kHeaderAhead);
                uint8_t sig[4];
                if (ahead_.Read(sig, 4, e->local_offset) != 4 || Get32(sig) != kLocalSig)
                    Fail(kClassIo,
                         Format("ZIP damaged: file %s: its local header is missing",
                                ShownName(DisplayName(e->name, e->header.flags)).c_str()),
                         kUnzipError);
                pos_ = e->local_offset + 4;
                Member(e);
            });
        }
    }

    // Without a readable directory the local headers are walked in file order, stepping over
    // central headers, up to the end record.
    void WalkLocalHeaders() {
        pos_ = cmd_.start_offset;
        for (bool end = false; !end;) Step([&] { end = LocalStep(); });
    }

    // One signature of the walk and what follows it; true at the end record.
    bool LocalStep() {
        {
            uint8_t sig[4];
            ReadExact(sig, 4);
            uint32_t s = Get32(sig);
            if (s == kLocalSig) {
                pos_ += 4;
                Member(nullptr);
            } else if (s == kCentralSig) {
                uint8_t b[kCentralFixed];
                pos_ += 4;
                ReadExact(b, kCentralFixed);
                CentralHeader h =
                    ParseCentral(std::span<const uint8_t, kCentralFixed>(b, kCentralFixed));
                pos_ += kCentralFixed + h.name_length + h.extra_length + h.comment_length;
                last_descriptor_ = false;
            } else if (s == kEndSig) {
                return true;
            } else {
                Resync();
            }
        }
        return false;
    }

    // Runs one step of the walk; with helpers, as a step of the pipeline.
    template <typename F>
    void Step(F body) {
        if (!pipeline_) return body();
        pipeline_->Begin();
        try {
            body();
        } catch (const EarlyEnd& e) {
            if (pipeline_->ended()) throw;
            pipeline_->EndWalkWith(e.result);
        }
        pipeline_->EndStep();
    }

    [[noreturn]] void ReadError() { engine::ReadError(archive_name_); }
    void ReadExact(void* buf, size_t n) {
        if (ahead_.Read(buf, n, pos_) != static_cast<ssize_t>(n)) ReadError();
    }

    // Moves forward byte by byte until a signature. After a member with a data descriptor the
    // search starts where the 16-byte step over the descriptor began, so that the next header
    // is found also when the descriptor is missing or shorter (written without signature).
    void Resync() {
        uint64_t from = pos_ + 1;
        if (last_descriptor_) from = pos_ >= descriptor_size_ ? pos_ - descriptor_size_ : 0;
        last_descriptor_ = false;
        std::vector<uint8_t> buf(kInputBlock + 3);
        while (from + 4 <= file_size_) {
            size_t want = static_cast<size_t>(std::min<uint64_t>(buf.size(), file_size_ - from));
            ssize_t got = PreadFull(fd_, buf.data(), want, from);
            if (got < 4) break;
            for (size_t i = 0; i + 4 <= static_cast<size_t>(got); ++i) {
                uint32_t s = Get32(&buf[i]);
                if (s == kLocalSig || s == kCentralSig || s == kEndSig) {
                    pos_ = from + i;
                    return;
                }
            }
            from += static_cast<uint64_t>(got) - 3;
        }
        Fail(kClassIo, "Invalid Zipfile Header", kUnzipError);
    }

    static std::string DisplayName(const std::string& stored, uint16_t flags) {
        if ((flags & kFlagUtf8) && platform::IsValidUtf8(stored)) return stored;
        return platform::OemToUtf8(stored);
    }

    // What a member is checked against. With a directory its values count (they are what the
    // listing shows); a local header that states other values describes other data.
    // `wide` holds the local header's sizes with its 64-bit field applied.
    Declared DeclaredValues(const DirectoryEntry* entry, const LocalHeader& h,
                            const WideValues& wide, const std::string& name) {
        Declared d;
        d.flags = h.flags;
        bool descriptor = h.flags & kFlagDescriptor;
        if (entry) {
            const CentralHeader& c = entry->header;
            if (!descriptor && (h.crc != c.crc || wide.compressed != entry->compressed ||
                                wide.uncompressed != entry->uncompressed))
                Damaged(name, "its local and central headers differ");
            d.crc = c.crc;
            d.compressed = entry->compressed;
            d.uncompressed = entry->uncompressed;
            return d;
        }
        d.crc = h.crc;
        d.compressed = wide.compressed;
        d.uncompressed = wide.uncompressed;
        if (descriptor && (wide.compressed == 0 || h.crc == 0)) {
            // A streamed header left the values out: ask the shell, which read the listing.
            BeforeQuestion();
            HWND w = Frame().report_window;
            LPARAM text = reinterpret_cast<LPARAM>(name.c_str());
            auto size = static_cast<uint32_t>(platform::SendMessage(w, kMsgDirLookup, 0, text));
            if (size == 0 && wide.compressed == 0) {
                d.sizes_known = false;
                return d;
            }
            if (wide.compressed == 0) d.compressed = size;
            if (h.crc == 0)
                d.crc = static_cast<uint32_t>(platform::SendMessage(w, kMsgDirLookup, 1, text));
            d.uncompressed_known = wide.uncompressed != 0;
        }
        return d;
    }

    void Refuse(const std::string& text) { steps_.Refuse(text); }

    // The member's mode (from its central header) and time (the central extra field, else the
    // local one, else the MS-DOS time).
    MemberKind KindOf(const DirectoryEntry* entry, const LocalHeader& h,
                      std::span<const uint8_t> local_extra) {
        MemberKind kind;
        std::optional<uint32_t> mode;
        if (entry) mode = MemberUnixMode(entry->header.version_made, entry->header.external_attr);
        kind.link = IsLinkMode(mode);
        if (mode && !kind.link) kind.permissions = steps_.Permissions(*mode);
        kind.mtime = times_.Convert(h.DosDateTime());
        if (entry && entry->mtime) {
            kind.mtime = static_cast<time_t>(*entry->mtime);
        } else if (auto t = ExtraFieldMtime(local_extra)) {
            kind.mtime = static_cast<time_t>(*t);
        }
        return kind;
    }

    void Member(const DirectoryEntry* entry) {
        uint8_t fixed[kLocalFixed];
        ReadExact(fixed, kLocalFixed);
        pos_ += kLocalFixed;
        LocalHeader h = ParseLocal(std::span<const uint8_t, kLocalFixed>(fixed, kLocalFixed));
        bool encrypted = h.flags & kFlagEncrypted;
        bool descriptor = h.flags & kFlagDescriptor;
        last_descriptor_ = descriptor;
        uint64_t data_start = pos_ + h.name_length + h.extra_length;
        std::string stored(h.name_length, '\0');
        ReadExact(stored.data(), h.name_length);
        std::string name = DisplayName(stored, h.flags);
        for (char& c : name)
            if (c == '\\') c = '/';
        std::vector<uint8_t> local_extra(h.extra_length);
        pos_ += h.name_length;
        ReadExact(local_extra.data(), local_extra.size());
        pos_ -= h.name_length;
        auto wide = WidenLocal(h, local_extra);
        if (!wide) Damaged(name, "its 64-bit extra field is too short");
        // A member with 64-bit sizes ends in a descriptor with 64-bit sizes.
        descriptor_size_ = HasZip64Block(local_extra) ? kDescriptor64Size : kDescriptorSize;
        if (name.empty()) {
            Refuse("Warning: skipping a member without a name");
            SkipMember(data_start, wide->compressed, descriptor);
            return;
        }

        bool folder = IsFolderName(std::span<const uint8_t>(
            reinterpret_cast<const uint8_t*>(stored.data()), stored.size()));
        // Folders marked only by their attribute are known from the directory; an empty file
        // is a file.
        if (folder || (entry && !entry->IsRow())) {
            SkipMember(data_start, wide->compressed, descriptor);
            return;
        }
        Declared d = DeclaredValues(entry, h, *wide, name);
        // Sizes that reach past the archive's end are found before any output is made.
        if (d.sizes_known && (data_start > file_size_ || file_size_ - data_start < d.compressed))
            Damaged(name, "its data reaches past the end of the archive");
        MemberKind kind = KindOf(entry, h, local_extra);
        std::string out_path;
        if (cmd_.has_target) {
            auto path = steps_.Prepare(name, {stored, h.DosDateTime(), d.uncompressed});
            if (!path) {
                SkipMember(data_start, d.compressed, descriptor);
                return;
            }
            out_path = *path;
        }

        std::optional<AesField> aes_field;
        // Without the encryption flag or the AES field the method number means nothing known.
        if (h.method == kMethodAes && encrypted) {
            aes_field = LocalAesField(h, name);
            if (aes_field) h.method = aes_field->method;
        }
        if (h.method != kMethodStored && h.method != kMethodDeflated &&
            h.method != kMethodDeflate64 && !IsOldMethod(h.method) && !IsLibraryMethod(h.method))
            Fail(kClassMethod, "unknown compression", kUnzipError);
        pos_ = data_start;
        uint64_t remaining = d.sizes_known ? d.compressed : file_size_ - std::min(pos_, file_size_);
        ZipKeys keys;
        AesReading aes;
        if (aes_field) {
            aes = StartAes(*aes_field, d, name, cmd_.has_target ? out_path : name, remaining);
        } else if (encrypted) {
            std::array<uint8_t, kCryptHeaderSize> head;
            if (remaining < kCryptHeaderSize) ReadError();
            ReadExact(head.data(), head.size());
            pos_ += kCryptHeaderSize;
            remaining -= kCryptHeaderSize;
            uint8_t check =
                descriptor ? static_cast<uint8_t>(h.time >> 8) : static_cast<uint8_t>(d.crc >> 24);
            const std::string& who = cmd_.has_target ? out_path : name;
            if (!cmd_.password_given)
                Fail(kClassPassword,
                     Format("Error: %s -- the file is encrypted and its password wasn't specified",
                            ShownName(who).c_str()),
                     kUnzipError);
            if (!CheckPasswordHeader(keys, cmd_.password, head, check))
                Fail(kClassPassword,
                     Format("Error: %s -- the specified password is incorrect",
                            ShownName(who).c_str()),
                     kUnzipError);
        }
        if (Decode(h, d, name, out_path, encrypted && !aes.cipher, keys, aes, remaining, kind)) {
            last_descriptor_ = false;  // read exactly: nothing to search back into
            return;
        }
        if (aes.cipher) pos_ += kAesAuthSize;
        if (descriptor) pos_ += descriptor_size_;
    }

    // The AES field of the member's local extra block (pos_ is at its name); a damaged one is
    // an error for the member. Without one the method stays unknown.
    std::optional<AesField> LocalAesField(const LocalHeader& h, const std::string& name) {
        std::vector<uint8_t> extra(h.extra_length);
        uint64_t at = pos_;
        pos_ += h.name_length;
        ReadExact(extra.data(), extra.size());
        pos_ = at;
        AesField field;
        AesFieldStatus status = ReadAesField(extra, field);
        if (status == AesFieldStatus::kMissing) return std::nullopt;
        if (status != AesFieldStatus::kOk) Damaged(name, AesFieldStatusText(status));
        return field;
    }

    // Reads an AES member's salt and password check value (pos_ is at its data) and starts its
    // cipher; `remaining` becomes the encrypted data's size, between the check value and the
    // authentication code.
    AesReading StartAes(const AesField& field, const Declared& d, const std::string& name,
                        const std::string& who, uint64_t& remaining) {
        // The authentication code lies after the data: only a known size tells where.
        if (!d.sizes_known) Damaged(name, "its size is unknown");
        size_t salt = AesSaltSize(field.strength);
        if (remaining < AesOverhead(field.strength)) Damaged(name, "its AES data is cut short");
        std::array<uint8_t, 16 + kAesCheckSize> head{};
        ReadExact(head.data(), salt + kAesCheckSize);
        if (!cmd_.password_given)
            Fail(kClassPassword,
                 Format("Error: %s -- the file is encrypted and its password wasn't specified",
                        ShownName(who).c_str()),
                 kUnzipError);
        std::array<uint8_t, kAesCheckSize> check{};
        AesReading aes;
        aes.cipher = AesCipher::Start(field.strength, cmd_.password, {head.data(), salt}, check);
        if (!aes.cipher) Damaged(name, "its AES keys could not be made");
        if (!std::equal(check.begin(), check.end(), head.begin() + static_cast<long>(salt)))
            Fail(kClassPassword,
                 Format("Error: %s -- the specified password is incorrect", ShownName(who).c_str()),
                 kUnzipError);
        aes.version = field.version;
        pos_ += salt + kAesCheckSize;
        remaining -= AesOverhead(field.strength);
        aes.code_at = pos_ + remaining;
        if (aes.code_at > file_size_ || file_size_ - aes.code_at < kAesAuthSize)
            Damaged(name, "its authentication code is cut short");
        return aes;
    }

    // Places the walk of local headers after a member left unread (a directory walk seeks to
    // every member itself); a streamed member of unknown size is found past by the
    // resynchronisation.
    void SkipMember(uint64_t data_start, uint64_t compressed, bool descriptor) {
        pos_ = data_start + compressed + (descriptor ? descriptor_size_ : 0);
    }

    void OpenOutput(OutputFile& out, const std::string& path) { steps_.OpenOutput(out, path); }

    // Reads the data descriptor behind a streamed member that had no size anywhere but its
    // own deflate stream: 32-bit or 64-bit sizes, with or without a signature. Its CRC counts;
    // its sizes must be those of the data. Leaves pos_ after the descriptor.
    uint32_t ReadStreamedDescriptor(const std::string& name, uint64_t in_used, uint64_t out_used) {
        uint8_t b[4 + 4 + 16] = {};
        ssize_t got = ahead_.Read(b, sizeof b, pos_);
        if (got < static_cast<ssize_t>(kDescriptorSize - 4)) ReadError();
        size_t at = Get32(b) == kDescriptorSig ? 4 : 0;
        size_t avail = static_cast<size_t>(got);
        uint32_t crc = Get32(b + at);
        if (avail >= at + 12 && Get32(b + at + 4) == in_used && Get32(b + at + 8) == out_used) {
            pos_ += at + 12;
        } else if (avail >= at + 20 && Get64(b + at + 4) == in_used &&
                   Get64(b + at + 12) == out_used) {
            pos_ += at + 20;
        } else {
            Damaged(name, "its data descriptor does not match its data");
        }
        return crc;
    }

    // Tests or extracts one member; true when the decoder itself found where the member ends
    // (pos_ then lies after its descriptor). With helpers a member of known size is decoded
    // by a worker while the walk goes on.
    bool Decode(const LocalHeader& h, const Declared& d, const std::string& name,
                const std::string& out_path, bool encrypted, ZipKeys& keys, const AesReading& aes,
                uint64_t remaining, const MemberKind& kind) {
        // Stored data is its own size: a compressed size that says otherwise is damage, found
        // before anything is written.
        if (h.method == kMethodStored && d.sizes_known && d.uncompressed_known &&
            remaining != d.uncompressed)
            Damaged(name, "its stored size differs from its declared size");
        OutputFile local;
        OutputFile& out = pipeline_ ? pipeline_->Current().out : local;
        bool test = !cmd_.has_target;
        // A file that is there already is replaced only once every member before it is
        // reported: a run that ends before this member must leave it as it was, as one thread
        // does, and a member still in flight may be writing it (the same name twice, or a
        // link to it).
        bool drained = pipeline_ && !test && steps_.ExistingOutput();
        if (drained) pipeline_->Drain();
        if (!test && !kind.link) OpenOutput(out, out_path);
        std::string base(BaseName(name));
        SendStatusLine(Format("%s %s", test ? "Testing" : "Extracting", ShownName(base).c_str()));
        ProgressNow();

        MemberData m;
        m.fd = fd_;
        m.archive_name = archive_name_;
        m.method = h.method;
        m.mtime = kind.mtime;
        m.permissions = kind.permissions;
        std::string link_target;
        if (kind.link) m.link_target = &link_target;
        m.d = d;
        m.name = name;
        m.out_path = out_path;
        m.encrypted = encrypted;
        m.keys = keys;
        m.aes = aes;
        m.pos = pos_;
        m.remaining = remaining;
        m.test = test;
        if (pipeline_ && d.sizes_known && !kind.link) {
            // Small members cost more to hand over than to decode; larger ones go to the
            // workers while they can take more. After a drain nothing runs ahead of this
            // member: handing it over would only add the hand-over's cost.
            bool here = remaining < Unzip().decode_here_below || drained ||
                        (Unzip().balance && pipeline_->WorkersBusy());
            if (here) m.ahead = &ahead_;  // only this thread reads through the window
            auto work = [m, &out](InflateWorkspace& ws) mutable {
                Decoded r = DecodeData(m, out, ws);
                FinishMember(m, out, r, m.d.crc);
            };
            if (here)
                pipeline_->RunHere(work);
            else
                pipeline_->Submit(std::move(work), remaining);
            pos_ += remaining;  // step over the data as the decoder will
            return false;
        }
        // Where the data ends is known only once it is decoded: the walk waits for it.
        MessageLog* recording = CurrentMessageLog();
        if (pipeline_) pipeline_->Drain();
        SetMessageLog(nullptr);
        struct Restore {
            MessageLog* log;
            ~Restore() { SetMessageLog(log); }
        } restore{recording};
        if (!workspace_) workspace_ = MakeInflateWorkspace();
        uint64_t data_start = pos_;
        m.ahead = &ahead_;
        Decoded r = DecodeData(m, out, *workspace_);
        uint32_t expected_crc = d.crc;
        bool ended_by_stream = false;
        if (!d.sizes_known) {
            // The stream's own end tells where the data descriptor lies.
            pos_ = data_start + r.inflate.in_used;
            uint64_t in_used = r.inflate.in_used + (encrypted ? kCryptHeaderSize : 0);
            expected_crc = ReadStreamedDescriptor(name, in_used, r.inflate.out_size);
            ended_by_stream = true;
        } else {
            pos_ = data_start + remaining;  // step over what the decoder left
        }
        FinishMember(m, out, r, expected_crc);
        if (kind.link && !test) {
            auto parts = SafeComponents(name);
            size_t depth = cmd_.use_folder_names && parts ? parts->size() - 1 : 0;
            if (r.link_too_long) link_target.assign(kMaxLinkTarget + 1, '?');
            steps_.MakeLink(out_path, link_target, depth, name, m.mtime);
        }
        return ended_by_stream;
    }

    const UnzipCommand& cmd_;
    int fd_;
    const std::string& archive_name_;
    MemberSteps steps_;
    uint64_t file_size_;
    // A member's header comes in small pieces (signature, fixed fields, name, cipher header)
    // and small members' data follow it: one read of the window serves many of them.
    ReadAhead ahead_;
    uint64_t pos_ = 0;
    bool last_descriptor_ = false;
    size_t descriptor_size_ = kDescriptorSize;  // of the member being walked
    InflateWorkspacePtr workspace_;
    LocalTimes times_;
    std::unique_ptr<MemberPipeline> pipeline_;  // declared last: abandoned first
};

}  // namespace

void ExtractZipMembers(const UnzipCommand& cmd, int archive_fd, const std::string& archive_name,
                       bool short_names) {
    Driver(cmd, archive_fd, archive_name, short_names).Run();
}

}  // namespace engine
