#include "archiver/formats/archive_kind.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <vector>

#include "archiver/engine/unzip/crc32.h"
#include "archiver/engine/unzip/file_io.h"

namespace formats {

namespace {

uint16_t Get16(std::span<const uint8_t> b, size_t at) {
    return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}
uint32_t Get32(std::span<const uint8_t> b, size_t at) {
    return static_cast<uint32_t>(b[at]) | static_cast<uint32_t>(b[at + 1]) << 8 |
           static_cast<uint32_t>(b[at + 2]) << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

bool AllDigits(std::string_view s) {
    return !s.empty() &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool StartsWith(std::span<const uint8_t> b, std::string_view magic) {
    return b.size() >= magic.size() &&
           std::equal(magic.begin(), magic.end(), b.begin(),
                      [](char m, uint8_t c) { return static_cast<uint8_t>(m) == c; });
}

// A boot sector: 512 bytes per sector at 11 and a small head count at 26, and no program
// header ("MZ") in front.
bool LooksLikeDiskImage(std::span<const uint8_t> head) {
    if (head.size() < 62) return false;
    return Get16(head, 11) == 512 && Get16(head, 26) < 3 && head[0] != 'M' && head[1] != 'Z';
}

// An end record whose comment fits in what follows it (padding may follow the comment).
bool HasZipEndRecord(std::span<const uint8_t> tail) {
    constexpr size_t kEndSize = 22;
    if (tail.size() < kEndSize) return false;
    for (size_t i = tail.size() - kEndSize + 1; i-- > 0;) {
        if (tail[i] == 'P' && tail[i + 1] == 'K' && tail[i + 2] == 5 && tail[i + 3] == 6 &&
            Get16(tail, i + 20) <= tail.size() - i - kEndSize)
            return true;
    }
    return false;
}

bool IsMsCompress(std::span<const uint8_t> head) {
    static constexpr uint8_t kSzddTail[] = {0x88, 0xF0, 0x27, 0x33};
    if (StartsWith(head, "SZDD")) return true;
    if (head.size() >= 8 &&
        std::equal(std::begin(kSzddTail), std::end(kSzddTail), head.begin() + 4))
        return true;
    return StartsWith(head, "KWAJ");
}

// The ARJ main header at the start: mark, size, basic header and its CRC-32.
bool IsArj(std::span<const uint8_t> head) {
    constexpr size_t kMaxBasicHeader = 2600;
    if (head.size() < 4 || head[0] != 0x60 || head[1] != 0xEA) return false;
    size_t size = Get16(head, 2);
    if (size == 0 || size > kMaxBasicHeader || 4 + size + 4 > head.size()) return false;
    return engine::Crc32(0, head.subspan(4, size)) == Get32(head, 4 + size);
}

// An LHA header at the start: "-l", two method characters and "-" after the size and check
// bytes, and a header level that some LHA wrote.
bool IsLzh(std::span<const uint8_t> head) {
    if (head.size() < 21 || head[2] != '-' || head[3] != 'l' || head[6] != '-') return false;
    if (head[4] == '-' || head[5] == '-') return false;
    return head[0] != 0 && head[20] <= 3;
}

bool IsOctal(char c) {
    return c >= '0' && c <= '7';
}

// Mail-safe encodings: a uuencode or xxencode "begin" line (or uuencode's "begin-base64"), a
// BinHex banner, a MIME version header or a MIME part in base64 or quoted-printable, on one of
// the first lines.
bool IsEncodedMail(std::span<const uint8_t> head) {
    std::string_view text(reinterpret_cast<const char*>(head.data()), head.size());
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        std::string_view line = text.substr(pos, end == text.npos ? text.npos : end - pos);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.substr(0, 6) == "begin ") {
            size_t digits = 0;
            while (6 + digits < line.size() && IsOctal(line[6 + digits])) ++digits;
            if (digits >= 3 && digits <= 4 && 6 + digits < line.size() && line[6 + digits] == ' ')
                return true;
        }
        if (line.substr(0, 40) == "(This file must be converted with BinHex") return true;
        if (line.starts_with("begin-base64 ")) return true;
        // A MIME message: its version header, or a part in a mail-safe encoding.
        if (line.size() >= 13 && EqualNoCase(line.substr(0, 13), "MIME-Version:")) return true;
        if (line.size() >= 43 &&
            EqualNoCase(line.substr(0, 43), "Content-Transfer-Encoding: quoted-printable"))
            return true;
        if (line.size() >= 33 &&
            EqualNoCase(line.substr(0, 33), "Content-Transfer-Encoding: base64"))
            return true;
        if (end == text.npos) break;
        pos = end + 1;
    }
    return false;
}

}  // namespace

ArchiveKind KindByExtension(std::string_view path) {
    size_t slash = path.rfind('/');
    std::string_view base = slash == path.npos ? path : path.substr(slash + 1);
    size_t dot = base.rfind('.');
    if (dot == base.npos) return kKindUnknown;
    std::string_view ext = base.substr(dot + 1);
    // A volume of a split zip archive: NAME.z01 before NAME.zip, or a numbered piece
    // NAME.zip.001 (the extension before the number is the archive's).
    if (ext.size() >= 3 && (ext[0] == 'z' || ext[0] == 'Z') && AllDigits(ext.substr(1)))
        return kKindZip;
    if (ext.size() >= 3 && AllDigits(ext))
        return KindByExtension(base.substr(0, dot)) == kKindZip ? kKindZip : kKindUnknown;
    static const std::pair<const char*, ArchiveKind> kByExtension[] = {
        {"arc", kKindArc},         {"lzh", kKindLzh},         {"arj", kKindArj},
        {"zip", kKindZip},         {"tar", kKindTar},         {"xxe", kKindEncodedMail},
        {"b64", kKindEncodedMail}, {"bhx", kKindEncodedMail}, {"hqx", kKindEncodedMail},
        {"eml", kKindEncodedMail}, {"mim", kKindEncodedMail}, {"mime", kKindEncodedMail}};
    for (const auto& [e, kind] : kByExtension)
        if (EqualNoCase(ext, e)) return kind;
    if (ext.size() >= 2 && EqualNoCase(ext.substr(0, 2), "uu")) return kKindEncodedMail;
    return kKindUnknown;
}

ArchiveKind KindByContent(std::span<const uint8_t> head, std::span<const uint8_t> tail) {
    if (LooksLikeDiskImage(head)) return kKindUnknown;
    if (HasZipEndRecord(tail)) return kKindZip;
    if (head.size() >= 2 && head[0] == 0x1F &&
        (head[1] == 0x8B || head[1] == 0x9E || head[1] == 0x9D))
        return kKindGzip;
    if (IsMsCompress(head)) return kKindMsCompress;
    if (IsArj(head)) return kKindArj;
    if (IsLzh(head)) return kKindLzh;
    if (IsEncodedMail(head)) return kKindEncodedMail;
    return kKindUnknown;
}

ArchiveKind DetectKind(std::string_view path, std::span<const uint8_t> head,
                       std::span<const uint8_t> tail, ArchiveKind default_kind) {
    ArchiveKind kind = KindByExtension(path);
    if (kind == kKindUnknown) kind = KindByContent(head, tail);
    if (kind == kKindUnknown) kind = default_kind;
    return kind == kKindUnknown ? kKindZip : kind;
}

bool DetectFileKind(const std::string& path, ArchiveKind default_kind, ArchiveKind& kind) {
    // Non-blocking, so that a pipe or device given as the archive cannot hold the open; only
    // a regular file has a start and an end to look at.
    engine::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat st;
    if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    uint64_t size = st.st_size > 0 ? static_cast<uint64_t>(st.st_size) : 0;
    std::vector<uint8_t> head(static_cast<size_t>(std::min<uint64_t>(size, kKindHeadSize)));
    std::vector<uint8_t> tail(static_cast<size_t>(std::min<uint64_t>(size, kKindTailSize)));
    ssize_t got = engine::PreadFull(fd.get(), head.data(), head.size(), 0);
    if (got < 0) return false;
    head.resize(static_cast<size_t>(got));
    got = engine::PreadFull(fd.get(), tail.data(), tail.size(), size - tail.size());
    if (got < 0) return false;
    tail.resize(static_cast<size_t>(got));
    kind = DetectKind(path, head, tail, default_kind);
    return true;
}

const char* KindDescription(ArchiveKind kind) {
    switch (kind) {
        case kKindZip:
            return "a zip archive";
        case kKindLzh:
            return "an LZH archive";
        case kKindArj:
            return "an ARJ archive";
        case kKindArc:
            return "an ARC archive";
        case kKindTar:
            return "a tar archive";
        case kKindGzip:
            return "a gzip or Unix compress file";
        case kKindMsCompress:
            return "a Microsoft Compress file";
        case kKindEncodedMail:
            return "an encoded mail file";
        case kKindUnknown:
            break;
    }
    return "an archive of unknown kind";
}

}  // namespace formats
