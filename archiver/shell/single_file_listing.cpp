// Listing of tar, gzip / Unix compress and Microsoft Compress files.
#include "archiver/shell/single_file_listing.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "archiver/formats/gzip_header.h"
#include "archiver/formats/ms_compress_header.h"
#include "archiver/formats/tar_listing.h"
#include "platform/dostime.h"

namespace shell {

namespace {

// Enough of a gzip file's start for any header we accept: a full extra field, the longest
// name and a comment of reasonable length.
constexpr size_t kGzipHeadMax = 10 + 2 + 65535 + formats::kMaxGzipName + 1 + 65536;

bool LoadTar(const std::string& path, Listing& listing, std::string& error) {
    std::vector<formats::TarMember> members;
    bool ok = formats::ReadTarListing(path, members, error);
    for (const auto& m : members) {
        if (!m.Regular() && !m.Folder()) continue;
        MemberRecord record;
        record.name = record.raw_name = m.name;
        record.folder = m.Folder();
        record.dos_datetime = platform::TimeToDos(static_cast<time_t>(m.mtime));
        record.unix_time = m.mtime;
        record.uncompressed = record.compressed = m.Folder() ? 0 : m.size;
        record.crc_bits = 0;  // tar keeps no check value of the data
        record.method = "stored";
        record.mode = static_cast<int32_t>(m.mode);
        std::string row_error;
        if (!AddMember(listing, record, row_error)) {
            listing.cut_short = true;
            error = row_error;
            return false;
        }
    }
    return ok;
}

bool NamesTar(const std::string& name) {
    return name.size() > 4 && strcasecmp(name.c_str() + name.size() - 4, ".tar") == 0;
}

bool LoadGzip(const std::string& path, const ContainedNameQuestion& ask, Listing& listing,
              SingleFileFacts& facts, std::string& error) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = "Can't open input file: " + path;
        return false;
    }
    struct stat st {};
    ::fstat(fd, &st);
    std::vector<uint8_t> head(kGzipHeadMax);
    ssize_t got = ::pread(fd, head.data(), head.size(), 0);
    ::close(fd);
    head.resize(got > 0 ? static_cast<size_t>(got) : 0);
    formats::GzipHeader header;
    if (!formats::ParseGzipHeader(head, header, error)) return false;
    std::string derived = formats::NameFromArchiveName(path).value_or("");
    std::string name = header.original_name.empty() ? derived : header.original_name;
    if ((NamesTar(derived) || NamesTar(name)) && formats::IsCompressedTar(path)) {
        // x.tar.gz, x.tgz, x.tar.Z, x.taz (whatever name is stored: some writers keep
        // "x.tgz"), or a stored name ending in ".tar": the rows are the tar's members, and the
        // engine reads the tar inside in the same step.
        facts = SingleFileFacts{};
        facts.kind = formats::kKindTar;
        facts.format = header.unix_compress ? "tar+compress" : "tar+gzip";
        return LoadTar(path, listing, error);
    }
    if (name.empty()) {
        auto answer =
            ask ? ask(formats::FullNameQuestion(path), formats::DefaultContainedName(path))
                : std::nullopt;
        auto safe = answer ? formats::SafeBaseName(*answer) : std::nullopt;
        if (!safe) {
            error.clear();  // cancelled: nothing to say
            return false;
        }
        name = *safe;
    }
    time_t when = header.mtime != 0 ? static_cast<time_t>(header.mtime) : st.st_mtime;
    facts.kind_value = platform::TimeToDos(when);
    facts.start_offset = header.data_offset;
    facts.output_name = name;
    facts.format = header.unix_compress ? "compress" : "gzip";
    MemberRecord record;
    record.name = record.raw_name = name;
    record.dos_datetime = facts.kind_value;
    record.unix_time = when;
    record.compressed = static_cast<uint64_t>(st.st_size);
    // The CRC-32 in a gzip trailer checks only the last of possibly several members.
    record.crc_bits = 0;
    record.method = header.unix_compress ? "lzw" : "deflated";
    return AddMember(listing, record, error);
}

bool LoadMsCompress(const std::string& path, const ContainedNameQuestion& ask, Listing& listing,
                    SingleFileFacts& facts, std::string& error) {
    formats::MsCompressInfo info;
    if (!formats::ReadMsCompressInfo(path, info, error)) return false;
    std::string name;
    if (info.name) {
        name = *info.name;
    } else {
        auto answer = ask ? ask(formats::FullNameQuestion(path), formats::DefaultExpandedName(path))
                          : std::nullopt;
        auto safe = answer ? formats::SafeBaseName(*answer) : std::nullopt;
        if (!safe) {
            error.clear();
            return false;
        }
        name = *safe;
    }
    struct stat st {};
    ::stat(path.c_str(), &st);
    facts.kind_value = static_cast<uint32_t>(info.expanded_size);
    facts.output_name = name;
    facts.format = info.format;
    MemberRecord record;
    record.name = record.raw_name = name;
    record.dos_datetime = platform::TimeToDos(st.st_mtime);
    record.unix_time = st.st_mtime;  // the header keeps no time: the file's own
    record.uncompressed = info.expanded_size;
    record.compressed = static_cast<uint64_t>(st.st_size);
    record.crc_bits = 0;
    record.method = info.method;
    return AddMember(listing, record, error);
}

}  // namespace

bool IsSingleFileKind(formats::ArchiveKind kind) {
    return kind == formats::kKindTar || kind == formats::kKindGzip ||
           kind == formats::kKindMsCompress;
}

bool LoadSingleFileListing(formats::ArchiveKind kind, const std::string& path, SortOrder sort,
                           const ContainedNameQuestion& ask, Listing& listing,
                           SingleFileFacts& facts, std::string& error) {
    ResetListing(listing, sort);
    facts = SingleFileFacts{};
    facts.kind = kind;
    if (kind == formats::kKindTar) facts.format = "tar";
    bool ok = false;
    switch (kind) {
        case formats::kKindTar:
            // Line ends stay as they are: on Linux a text file needs no conversion.
            ok = LoadTar(path, listing, error);
            break;
        case formats::kKindGzip:
            ok = LoadGzip(path, ask, listing, facts, error);
            break;
        case formats::kKindMsCompress:
            ok = LoadMsCompress(path, ask, listing, facts, error);
            break;
        default:
            error = std::string(path) + " is " + formats::KindDescription(kind);
            break;
    }
    FinishListing(listing);
    return ok;
}

void FillUnzipCommand(const SingleFileFacts& facts, engine::UnzipCommand& cmd) {
    cmd.kind = facts.kind;
    cmd.kind_value = facts.kind_value;
    cmd.start_offset = facts.start_offset;
    cmd.selection.clear();
    if (facts.kind != formats::kKindTar) cmd.selection.push_back(facts.output_name);
}

}  // namespace shell
