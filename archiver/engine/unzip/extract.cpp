#include "archiver/engine/unzip/extract.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <unordered_map>

#include "archiver/engine/unzip/crc32.h"
#include "archiver/engine/unzip/file_io.h"
#include "archiver/engine/unzip/inflate.h"
#include "archiver/engine/unzip/output_path.h"
#include "archiver/engine/unzip/zip_crypt.h"
#include "archiver/engine/unzip/zip_directory.h"
#include "archiver/engine/unzip/zip_records.h"
#include "platform/codepage.h"
#include "platform/dostime.h"

namespace engine {

const char* const kMsgUnsafePath = "Warning: skipping %s: its path leaves the target folder";
const char* const kMsgNameTooLong = "Warning: skipping a member whose name is longer than %u bytes";

namespace {

constexpr size_t kInputBlock = 64 * 1024;

// An output file being written: closed and deleted at the end of its scope unless kept.
struct OutputFile {
    UniqueFd fd;
    std::string path;
    bool keep = false;
    ~OutputFile() {
        if (fd && !keep) {
            fd.reset();
            ::unlink(path.c_str());
        }
    }
};

class Driver {
public:
    Driver(const UnzipCommand& cmd, int fd, const std::string& archive_name, bool short_names)
        : cmd_(cmd), fd_(fd), archive_name_(archive_name), short_names_(short_names) {}

    void Run() {
        file_size_ = static_cast<uint64_t>(std::max<int64_t>(FileSize(fd_), 0));
        // The central directory supplies what a streamed member's local header lacks; an
        // archive whose directory cannot be read is still walked member by member.
        ZipDirectory dir = ReadZipDirectory(fd_, archive_name_);
        for (DirectoryEntry& e : dir.entries) central_[e.local_offset] = e.header;
        pos_ = cmd_.start_offset;
        for (;;) {
            uint8_t sig[4];
            ReadExact(sig, 4);
            uint32_t s = Get32(sig);
            if (s == kLocalSig) {
                pos_ += 4;
                Member();
            } else if (s == kCentralSig) {
                uint8_t b[kCentralFixed];
                pos_ += 4;
                ReadExact(b, kCentralFixed);
                CentralHeader h =
                    ParseCentral(std::span<const uint8_t, kCentralFixed>(b, kCentralFixed));
                pos_ += kCentralFixed + h.name_length + h.extra_length + h.comment_length;
                last_descriptor_ = false;
            } else if (s == kEndSig) {
                return;
            } else {
                Resync();
            }
        }
    }

private:
    [[noreturn]] void ReadError() {
        Fail(kClassIo, Format("Error reading %s.  Possible cause: bad disk", archive_name_.c_str()),
             kUnzipError);
    }
    void ReadExact(void* buf, size_t n) {
        if (PreadFull(fd_, buf, n, pos_) != static_cast<ssize_t>(n)) ReadError();
    }

    // Moves forward byte by byte until a signature; a member with a data descriptor may have
    // been followed by one without its signature, so the search starts 12 bytes back.
    void Resync() {
        uint64_t from = pos_ + 1;
        if (last_descriptor_) from = pos_ >= 12 ? pos_ - 12 : 0;
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

    std::string DisplayName(const std::string& stored, uint16_t flags) {
        if ((flags & kFlagUtf8) && platform::IsValidUtf8(stored)) return stored;
        return platform::OemToUtf8(stored);
    }

    // Values a streamed member's local header left out: from the central directory by the
    // header's offset, else from the shell's listing by name.
    bool LookUpCentral(uint64_t header_offset, const std::string& name, LocalHeader& h) {
        auto it = central_.find(header_offset);
        if (it != central_.end()) {
            h.crc = it->second.crc;
            h.compressed_size = it->second.compressed_size;
            h.uncompressed_size = it->second.uncompressed_size;
            return true;
        }
        HWND w = Frame().report_window;
        LPARAM text = reinterpret_cast<LPARAM>(name.c_str());
        uint32_t size = static_cast<uint32_t>(platform::SendMessage(w, kMsgDirLookup, 0, text));
        if (size == 0 && h.compressed_size == 0) return false;
        if (h.compressed_size == 0) h.compressed_size = size;
        if (h.crc == 0)
            h.crc = static_cast<uint32_t>(platform::SendMessage(w, kMsgDirLookup, 1, text));
        return true;
    }

    void Member() {
        uint64_t header_offset = pos_ - 4;
        uint8_t fixed[kLocalFixed];
        ReadExact(fixed, kLocalFixed);
        pos_ += kLocalFixed;
        LocalHeader h = ParseLocal(std::span<const uint8_t, kLocalFixed>(fixed, kLocalFixed));
        bool encrypted = h.flags & kFlagEncrypted;
        bool descriptor = h.flags & kFlagDescriptor;
        last_descriptor_ = descriptor;
        uint64_t data_start = pos_ + h.name_length + h.extra_length;
        std::string stored(h.name_length, '\0');
        if (h.name_length > kMaxStoredName) {
            // Refused before reading: no fixed buffer limits the name, but an output path
            // built from it could not be created either.
            SendWarning(Format(kMsgNameTooLong, static_cast<unsigned>(kMaxStoredName)));
            SkipMember(h, data_start, descriptor);
            return;
        }
        ReadExact(stored.data(), h.name_length);
        std::string name = DisplayName(stored, h.flags);
        for (char& c : name)
            if (c == '\\') c = '/';

        bool sizes_known = true;
        if (descriptor && (h.compressed_size == 0 || h.crc == 0))
            sizes_known = LookUpCentral(header_offset, name, h);

        bool folder = IsFolderName(std::span<const uint8_t>(
            reinterpret_cast<const uint8_t*>(stored.data()), stored.size()));
        if (folder || h.name_length == 0 ||
            (cmd_.folders_by_attribute && h.uncompressed_size == 0 && sizes_known)) {
            SkipMember(h, data_start, descriptor);
            return;
        }
        std::string out_path;
        if (cmd_.has_target) {
            if (!cmd_.selection.empty() &&
                std::none_of(cmd_.selection.begin(), cmd_.selection.end(),
                             [&](const std::string& s) { return SelectionMatches(name, s); })) {
                SkipMember(h, data_start, descriptor);
                return;
            }
            auto parts = SafeComponents(name);
            if (!parts) {
                SendWarning(Format(kMsgUnsafePath, name.c_str()));
                SkipMember(h, data_start, descriptor);
                return;
            }
            if (!cmd_.use_folder_names) parts->erase(parts->begin(), parts->end() - 1);
            if (short_names_)
                for (std::string& p : *parts) p = ShortNameComponent(p);
            std::string folder_path = cmd_.target;
            if (folder_path.empty() || folder_path.back() != '/') folder_path += '/';
            for (size_t i = 0; i + 1 < parts->size(); ++i) folder_path += (*parts)[i] + "/";
            out_path = folder_path + parts->back();
            MakeFolders(folder_path);
            if (!Overwrite(out_path, stored, h)) {
                SkipMember(h, data_start, descriptor);
                return;
            }
        }

        if (h.method != kMethodStored && h.method != kMethodDeflated)
            Fail(kClassMethod, "unknown compression", kUnzipError);
        pos_ = data_start;
        uint64_t remaining =
            sizes_known ? h.compressed_size : file_size_ - std::min(pos_, file_size_);
        ZipKeys keys;
        if (encrypted) {
            std::array<uint8_t, kCryptHeaderSize> head;
            if (remaining < kCryptHeaderSize) ReadError();
            ReadExact(head.data(), head.size());
            pos_ += kCryptHeaderSize;
            remaining -= kCryptHeaderSize;
            uint8_t check =
                descriptor ? static_cast<uint8_t>(h.time >> 8) : static_cast<uint8_t>(h.crc >> 24);
            const std::string& who = cmd_.has_target ? out_path : name;
            if (!cmd_.password_given)
                Fail(kClassPassword,
                     Format("Error: %s -- the file is encrypted and its password wasn't specified",
                            who.c_str()),
                     kUnzipError);
            if (!CheckPasswordHeader(keys, cmd_.password, head, check))
                Fail(kClassPassword,
                     Format("Error: %s -- the specified password is incorrect", who.c_str()),
                     kUnzipError);
        }
        Decode(h, name, out_path, encrypted, keys, remaining, sizes_known);
        if (descriptor) pos_ += kDescriptorSize;
    }

    void SkipMember(const LocalHeader& h, uint64_t data_start, bool descriptor) {
        pos_ = data_start + h.compressed_size + (descriptor ? kDescriptorSize : 0);
        // A streamed member of unknown size is found past by the resynchronisation.
    }

    void MakeFolders(const std::string& folder_path) {
        std::string so_far;
        size_t i = 0;
        while (i < folder_path.size()) {
            size_t slash = folder_path.find('/', i);
            if (slash == std::string::npos) slash = folder_path.size();
            so_far = folder_path.substr(0, slash);
            i = slash + 1;
            if (so_far.empty()) continue;  // the root of an absolute target
            struct stat st;
            if (::stat(so_far.c_str(), &st) == 0) {
                if (!S_ISDIR(st.st_mode))
                    Fail(kClassIo,
                         Format("Could not create directory %s\n\rA file with same name already "
                                "exists\n\rAborting extract operation",
                                so_far.c_str()),
                         kUnzipFolderFailed);
                continue;
            }
            if (::mkdir(so_far.c_str(), 0777) != 0 && errno != EEXIST)
                Fail(kClassIo,
                     Format("Could not create %s - aborting extract operation", so_far.c_str()),
                     kUnzipFolderFailed);
        }
    }

    // Asks before replacing an existing file (a symbolic link counts as existing); false skips.
    bool Overwrite(const std::string& out_path, const std::string& stored, const LocalHeader& h) {
        struct stat st;
        if (::lstat(out_path.c_str(), &st) != 0) return true;
        if (cmd_.overwrite_all || Unzip().replace_all) return true;
        OverwriteQuery q;
        q.output_path = out_path;
        q.existing_dos_time = platform::TimeToDos(st.st_mtime);
        q.existing_size = static_cast<uint64_t>(st.st_size);
        q.stored_name = stored;
        q.member_dos_time = h.DosDateTime();
        q.member_size = h.uncompressed_size;
        LRESULT reply = platform::SendMessage(Frame().report_window, kMsgOverwrite, 0,
                                              reinterpret_cast<LPARAM>(&q));
        if (reply == kReplace) return true;
        if (reply == kReplaceAll) {
            Unzip().replace_all = true;
            return true;
        }
        if (reply == kSkip) return false;
        EndRun(kUnzipError);
    }

    void OpenOutput(OutputFile& out, const std::string& path) {
        out.path = path;
        struct stat st;
        // Never write through a link someone left at the output path: replace the link.
        if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) ::unlink(path.c_str());
        out.fd.reset(
            ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666));
        if (!out.fd)
            Fail(kClassIo, Format("Can't create output file: %s", path.c_str()), kUnzipError);
    }

    void Decode(const LocalHeader& h, const std::string& name, const std::string& out_path,
                bool encrypted, ZipKeys& keys, uint64_t remaining, bool sizes_known) {
        OutputFile out;
        bool test = !cmd_.has_target;
        if (!test) OpenOutput(out, out_path);
        std::string base(BaseName(name));
        SendStatusLine(Format("%s %s", test ? "Testing" : "Extracting", base.c_str()));
        ProgressNow();

        uint32_t crc = 0;
        uint64_t data_start = pos_;
        uint64_t data_size = remaining;
        auto write = [&](const uint8_t* p, size_t n) {
            crc = Crc32(crc, {p, n});
            if (!test && !WriteFull(out.fd.get(), p, n))
                Fail(kClassIo,
                     Format("Error writing to %s.  Possible cause: disk full", out_path.c_str()),
                     kUnzipError);
            AddProgress(n);
        };
        auto read = [&](uint8_t* buf, size_t cap) -> size_t {
            size_t n = static_cast<size_t>(std::min<uint64_t>(cap, remaining));
            if (n == 0) return 0;
            ssize_t got = PreadFull(fd_, buf, n, pos_);
            if (got < 0 || (sizes_known && static_cast<size_t>(got) != n)) ReadError();
            n = static_cast<size_t>(got);
            if (encrypted) DecryptBlock(keys, {buf, n});
            pos_ += n;
            remaining -= n;
            return n;
        };

        uint32_t expected_crc = h.crc;
        const char* damage = nullptr;
        if (h.method == kMethodStored) {
            if (!sizes_known) damage = "its size is unknown";
            std::vector<uint8_t> buf(kInputBlock);
            while (!damage) {
                size_t n = read(buf.data(), buf.size());
                if (n == 0) break;
                write(buf.data(), n);
            }
        } else {
            if (!workspace_) workspace_ = MakeInflateWorkspace();
            InflateResult r = Inflate({read, write}, *workspace_);
            if (r.status != InflateStatus::kOk) damage = InflateStatusText(r.status);
            if (!sizes_known && !damage) {
                // The stream's own end tells where the data descriptor lies.
                pos_ = data_start + r.in_used;
                uint8_t d[kDescriptorSize];
                ReadExact(d, kDescriptorSize);
                bool signed_descriptor = Get32(d) == kDescriptorSig;
                expected_crc = Get32(d + (signed_descriptor ? 4 : 0));
                // The caller steps over 16 bytes; a descriptor without signature has 12.
                if (!signed_descriptor) pos_ -= 4;
            }
        }
        if (damage) {
            // A member that cannot be decoded to its end must not look extracted.
            Fail(kClassIo, Format("ZIP damaged: file %s: %s", name.c_str(), damage), kUnzipError);
        }
        if (sizes_known) pos_ = data_start + data_size;  // step over what the decoder left
        if (!test) {
            time_t t = platform::DosToTime(h.DosDateTime());
            if (t != static_cast<time_t>(-1)) {
                struct timespec times[2];
                times[0].tv_sec = 0;
                times[0].tv_nsec = UTIME_OMIT;
                times[1].tv_sec = t;
                times[1].tv_nsec = 0;
                ::futimens(out.fd.get(), times);
            }
            out.keep = true;  // complete: kept even when the CRC check below fails
            if (!out.fd.reset())
                Fail(kClassIo,
                     Format("Error writing to %s.  Possible cause: disk full", out_path.c_str()),
                     kUnzipError);
        }
        if (crc != expected_crc)
            Fail(kClassIo,
                 Format("ZIP damaged: file %s: Bad CRC %08lx (should be %08lx)", name.c_str(),
                        static_cast<unsigned long>(crc), static_cast<unsigned long>(expected_crc)),
                 kUnzipError);
    }

    const UnzipCommand& cmd_;
    int fd_;
    const std::string& archive_name_;
    bool short_names_;
    uint64_t file_size_ = 0;
    uint64_t pos_ = 0;
    bool last_descriptor_ = false;
    std::unordered_map<uint64_t, CentralHeader> central_;
    InflateWorkspacePtr workspace_;
};

}  // namespace

void ExtractZipMembers(const UnzipCommand& cmd, int archive_fd, const std::string& archive_name,
                       bool short_names) {
    Driver(cmd, archive_fd, archive_name, short_names).Run();
}

}  // namespace engine
