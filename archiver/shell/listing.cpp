#include "archiver/shell/listing.h"

#include <fcntl.h>
#include <locale.h>
#include <wctype.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <iterator>

#include "archiver/engine/unzip/extra_fields.h"
#include "archiver/engine/unzip/file_io.h"
#include "archiver/engine/unzip/shown_name.h"
#include "archiver/engine/unzip/volume_set.h"
#include "platform/codepage.h"
#include "platform/dostime.h"

namespace shell {

const char* const kColumnTitles[7] = {"Name", "Date", "Time", "Size", "Ratio", "Packed", "Path"};

namespace {

int CompareNoCase(std::string_view a, std::string_view b) {
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        int ca = std::toupper(static_cast<unsigned char>(a[i]));
        int cb = std::toupper(static_cast<unsigned char>(b[i]));
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

std::string_view Base(const Row& r) {
    return std::string_view(r.name).substr(r.base_offset);
}
std::string_view Folder(const Row& r) {
    return std::string_view(r.name).substr(0, r.base_offset);
}
std::string_view ExtensionOf(std::string_view base) {
    size_t dot = base.rfind('.');
    return dot == std::string_view::npos ? std::string_view() : base.substr(dot + 1);
}
std::string_view Extension(const Row& r) {
    return ExtensionOf(Base(r));
}

// The parts of a row's name that the sort keys compare: from the sort name when there is one
// (its bytes need not line up with the name's, so the separators are found again).
std::string_view SortText(const Row& r) {
    return r.sort_name.empty() ? std::string_view(r.name) : std::string_view(r.sort_name);
}
std::string_view SortBase(const Row& r) {
    std::string_view t = SortText(r);
    size_t cut = t.rfind('/');
    return cut == t.npos ? t : t.substr(cut + 1);
}
std::string_view SortFolder(const Row& r) {
    std::string_view t = SortText(r);
    size_t cut = t.rfind('/');
    return cut == t.npos ? std::string_view() : t.substr(0, cut + 1);
}

// Decodes one UTF-8 sequence at s[i]; -1 (and one byte) when it is not valid.
char32_t DecodeAt(std::string_view s, size_t& i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    int extra = c < 0x80             ? 0
                : (c & 0xE0) == 0xC0 ? 1
                : (c & 0xF0) == 0xE0 ? 2
                : (c & 0xF8) == 0xF0 ? 3
                                     : -1;
    if (extra < 0 || i + static_cast<size_t>(extra) >= s.size()) {
        ++i;
        return static_cast<char32_t>(-1);
    }
    char32_t cp = extra == 0 ? c : c & (0x3F >> extra);
    for (int k = 1; k <= extra; ++k) {
        unsigned char t = static_cast<unsigned char>(s[i + static_cast<size_t>(k)]);
        if ((t & 0xC0) != 0x80) {
            ++i;
            return static_cast<char32_t>(-1);
        }
        cp = cp << 6 | (t & 0x3F);
    }
    i += static_cast<size_t>(extra) + 1;
    return cp;
}

std::string& OwnNameStorage() {
    static std::string name;
    return name;
}

// The program's file name as the system knows it, not as it was called.
std::string RealProgramName() {
    std::error_code ec;
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : exe.filename().string();
}

bool ValidShortComponent(std::string_view c) {
    size_t dot = c.find('.');
    std::string_view base = c.substr(0, dot);
    std::string_view ext = dot == std::string_view::npos ? std::string_view() : c.substr(dot + 1);
    if (base.empty() || base.size() > 8 || ext.size() > 3 || ext.find('.') != ext.npos)
        return false;
    for (char ch : c) {
        unsigned char u = static_cast<unsigned char>(ch);
        if (u < 0x20 || u >= 0x80 ||
            std::string_view(" +,;=[]\"*/:<>?|").find(ch) != std::string_view::npos)
            return false;
    }
    return true;
}

uint16_t Classify(std::string_view ext) {
    static const char* const programs[] = {"exe", "com", "bat", "cmd", "pif", "sh", "run"};
    static const char* const documents[] = {"txt", "doc", "wri", "htm", "html", "pdf", "rtf",
                                            "md",  "ini", "log", "csv", "xml",  "hlp"};
    for (const char* p : programs)
        if (CompareNoCase(ext, p) == 0) return kTypeProgram;
    for (const char* d : documents)
        if (CompareNoCase(ext, d) == 0) return kTypeDocument;
    return kTypeOther;
}

// One sort key; the tie-breakers of each order are chains of these.
enum class Key { kName, kType, kPath, kDate, kSize, kPacked, kRatio };

int CompareKey(const Row& a, const Row& b, Key k) {
    switch (k) {
        case Key::kName:
            return CompareNoCase(SortBase(a), SortBase(b));
        case Key::kType:
            return CompareNoCase(ExtensionOf(SortBase(a)), ExtensionOf(SortBase(b)));
        case Key::kPath:
            return CompareNoCase(SortFolder(a), SortFolder(b));
        case Key::kDate:  // newest first
            return a.dos_datetime == b.dos_datetime ? 0
                                                    : (a.dos_datetime > b.dos_datetime ? -1 : 1);
        case Key::kSize: {  // largest first, unknown (-1) as the smallest
            int64_t sa = static_cast<int64_t>(a.uncompressed),
                    sb = static_cast<int64_t>(b.uncompressed);
            return sa == sb ? 0 : (sa > sb ? -1 : 1);
        }
        case Key::kPacked: {
            int64_t sa = static_cast<int64_t>(a.compressed),
                    sb = static_cast<int64_t>(b.compressed);
            return sa == sb ? 0 : (sa > sb ? -1 : 1);
        }
        case Key::kRatio:
            return a.ratio == b.ratio ? 0 : (a.ratio > b.ratio ? -1 : 1);
    }
    return 0;
}

std::vector<Key> KeysOf(SortOrder order) {
    switch (order) {
        case SortOrder::kDate:
            return {Key::kDate, Key::kName, Key::kType, Key::kPath};
        case SortOrder::kSize:
            return {Key::kSize, Key::kName, Key::kType, Key::kPath};
        case SortOrder::kName:
            return {Key::kName, Key::kType, Key::kPath};
        case SortOrder::kType:
            return {Key::kType, Key::kName, Key::kPath};
        case SortOrder::kPacked:
            return {Key::kPacked, Key::kName, Key::kType, Key::kPath};
        case SortOrder::kRatio:
            return {Key::kRatio, Key::kName, Key::kType, Key::kPath};
        case SortOrder::kPath:
            return {Key::kPath, Key::kName, Key::kType};
        case SortOrder::kOriginal:
            break;
    }
    return {};
}

}  // namespace

void SetOwnProgramName(std::string_view file_name) {
    OwnNameStorage() = std::string(file_name);
}

const std::string& OwnProgramName() {
    std::string& name = OwnNameStorage();
    if (name.empty()) name = RealProgramName();
    return name;
}

std::string UpperSortName(std::string_view name) {
    // A fixed UTF-8 character table, so the order does not depend on the user's locale.
    static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    std::string out;
    out.reserve(name.size());
    for (size_t i = 0; i < name.size();) {
        size_t start = i;
        char32_t cp = DecodeAt(name, i);
        if (cp == static_cast<char32_t>(-1)) {
            out.append(name.substr(start, i - start));
            continue;
        }
        char32_t up = cp;
        if (cp < 0x80)
            up = static_cast<char32_t>(std::toupper(static_cast<int>(cp)));
        else if (utf8)
            up = static_cast<char32_t>(towupper_l(static_cast<wint_t>(cp), utf8));
        else if ((cp >= 0xE0 && cp <= 0xFE && cp != 0xF7))
            up = cp - 0x20;  // Latin-1 letters, when the table is missing
        platform::AppendUtf8(out, up);
    }
    return out;
}

uint32_t Ratio(uint64_t u, uint64_t c) {
    if (u == 0 || u == kUnknownSize || c == kUnknownSize || u <= c) return 0;
    // 64-bit arithmetic: no scaling, so large members get the exact rounded percentage.
    return static_cast<uint32_t>(((u - c) * 200 / u + 1) / 2);
}

void ResetListing(Listing& listing, SortOrder sort) {
    bool keep_folders = listing.keep_folders;
    listing = Listing{};
    listing.sort = sort;
    listing.keep_folders = keep_folders;
}

bool AddMember(Listing& l, const MemberRecord& m, std::string& error) {
    if (platform::Utf8Length(m.name) > kMaxRowName) {
        error = "Member name longer than 260 characters: the listing ends here";
        return false;
    }
    Row r;
    r.name.assign(m.name);
    for (char& c : r.name)
        if (c == '\\') c = '/';
    r.folder = m.folder || (!r.name.empty() && r.name.back() == '/');
    if (r.folder && !l.keep_folders) return true;
    if (m.raw_name != r.name) r.raw_name.assign(m.raw_name);
    r.method.assign(m.method);
    r.crc_bits = m.crc_bits;
    r.unix_time = m.unix_time;
    r.attributes = m.attributes;
    r.mode = m.mode;
    size_t cut = r.name.rfind('/');
    r.base_offset = static_cast<uint16_t>(cut == std::string::npos ? 0 : cut + 1);
    r.uncompressed = m.uncompressed;
    r.compressed = m.compressed;
    r.crc = m.crc;
    r.encrypted = m.encrypted;
    r.dos_datetime = m.dos_datetime;
    r.ratio = Ratio(m.uncompressed, m.compressed);
    if (std::any_of(r.name.begin(), r.name.end(),
                    [](char c) { return static_cast<unsigned char>(c) >= 0x80; }))
        r.sort_name = UpperSortName(r.name);
    if (r.folder) {  // a folder adds nothing to the totals or to what the rows say of files
        l.rows.push_back(std::move(r));
        return true;
    }
    std::string_view rest(r.name);
    while (!rest.empty()) {
        size_t slash = rest.find('/');
        if (!ValidShortComponent(rest.substr(0, slash))) l.long_names = true;
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
    }
    r.type_class = Classify(Extension(r));
    std::string_view base = Base(r);
    std::string_view own = std::string_view(OwnProgramName()).substr(0, 6);
    std::string_view ext = Extension(r);
    bool program_copy = !own.empty() && base.size() >= own.size() &&
                        CompareNoCase(base.substr(0, own.size()), own) == 0 && ext.size() >= 2 &&
                        CompareNoCase(ext.substr(0, 2), "ex") == 0;
    if (program_copy || CompareNoCase(r.name, "setup.bv") == 0) l.has_program_copy = true;
    if (m.uncompressed == kUnknownSize)
        l.total_uncompressed = kUnknownSize;
    else if (l.total_uncompressed != kUnknownSize)
        l.total_uncompressed += m.uncompressed;
    if (m.compressed != kUnknownSize) l.total_compressed += m.compressed;
    l.rows.push_back(std::move(r));
    return true;
}

bool AddRow(Listing& l, std::string_view name, bool encrypted, uint32_t dos_datetime,
            uint64_t uncompressed, uint64_t compressed, uint32_t crc, std::string& error) {
    MemberRecord m;
    m.name = name;
    m.raw_name = name;
    m.encrypted = encrypted;
    m.dos_datetime = dos_datetime;
    m.uncompressed = uncompressed;
    m.compressed = compressed;
    m.crc = crc;
    return AddMember(l, m, error);
}

void FinishListing(Listing& l) {
    l.order.resize(l.rows.size());
    for (size_t i = 0; i < l.order.size(); ++i) l.order[i] = i;
    std::vector<Key> keys = KeysOf(l.sort);
    if (keys.empty()) return;
    std::stable_sort(l.order.begin(), l.order.end(), [&](size_t a, size_t b) {
        for (Key k : keys) {
            int c = CompareKey(l.rows[a], l.rows[b], k);
            if (c != 0) return c < 0;
        }
        return false;
    });
}

bool ParseSortOrder(std::string_view text, SortOrder& order) {
    static const std::pair<const char*, SortOrder> names[] = {
        {"original", SortOrder::kOriginal}, {"name", SortOrder::kName},
        {"date", SortOrder::kDate},         {"size", SortOrder::kSize},
        {"type", SortOrder::kType},         {"packed", SortOrder::kPacked},
        {"ratio", SortOrder::kRatio},       {"path", SortOrder::kPath}};
    for (const auto& [n, o] : names)
        if (text == n) {
            order = o;
            return true;
        }
    return false;
}

namespace {

const char* ZipMethodName(uint16_t method) {
    static const char* const names[] = {"stored",   "shrunk",   "reduced1", "reduced2",
                                        "reduced3", "reduced4", "imploded", "tokenized",
                                        "deflated", "deflate64"};
    if (method < std::size(names)) return names[method];
    switch (method) {
        case 12:
            return "bzip2";
        case 14:
            return "lzma";
        case 93:
            return "zstd";
        case 95:
            return "xz";
        case 98:
            return "ppmd";
        case 99:
            return "aes";
        default:
            return "unknown";
    }
}

// The mode, link target and time a member made on Unix (or Windows) carries; the archive is
// opened again only when a member is a link.
void AddUnixFacts(Row& row, const engine::DirectoryEntry& e, const std::string& path,
                  engine::UniqueFd& archive) {
    std::optional<uint32_t> mode =
        engine::MemberUnixMode(e.header.version_made, e.header.external_attr);
    row.unix_mode = mode.value_or(0);
    row.mtime = e.mtime;
    if (!engine::IsLinkMode(mode)) return;
    if (!archive) archive = engine::OpenArchive(path).fd;
    if (archive) row.link_target = engine::ReadLinkTarget(archive.get(), e);
}

}  // namespace

bool LoadZipListing(const std::string& path, SortOrder sort, Listing& listing, std::string& error) {
    ResetListing(listing, sort);
    engine::ZipDirectory dir = engine::ReadZipDirectory(path);
    if (dir.status == engine::DirectoryStatus::kEmpty) {
        FinishListing(listing);
        return true;
    }
    if (dir.status != engine::DirectoryStatus::kOk) {
        listing.bad_volume = dir.status == engine::DirectoryStatus::kBadVolume;
        error = dir.message;
        return false;
    }
    listing.facts = dir.facts;
    listing.comment = std::move(dir.comment);
    engine::UniqueFd archive;
    for (const engine::DirectoryEntry& e : dir.entries) {
        if (!e.IsRow() && !listing.keep_folders) continue;
        const engine::CentralHeader& h = e.header;
        std::string name = (h.flags & engine::kFlagUtf8) && platform::IsValidUtf8(e.name)
                               ? e.name
                               : platform::OemToUtf8(e.name);
        MemberRecord m;
        m.name = name;
        m.raw_name = e.name;
        m.folder = !e.IsRow();
        m.encrypted = h.flags & engine::kFlagEncrypted;
        m.dos_datetime = h.DosDateTime();
        m.uncompressed = e.uncompressed;
        m.compressed = e.compressed;
        m.crc = h.crc;
        // An AES member names its strength and the method inside ("AES-256 deflated").
        std::string method =
            e.aes ? engine::AesStrengthName(e.aes->strength) + " " + ZipMethodName(e.aes->method)
                  : ZipMethodName(h.method);
        m.method = method;
        m.attributes = static_cast<int32_t>(h.external_attr & 0xFF);
        std::optional<uint32_t> mode = engine::MemberUnixMode(h.version_made, h.external_attr);
        if (mode) m.mode = static_cast<int32_t>(*mode);
        if (e.mtime) m.unix_time = *e.mtime;
        size_t rows = listing.rows.size();
        if (!AddMember(listing, m, error)) {
            listing.cut_short = true;
            FinishListing(listing);
            return false;
        }
        if (listing.rows.size() > rows) AddUnixFacts(listing.rows.back(), e, path, archive);
    }
    FinishListing(listing);
    return true;
}

std::string NameText(const Row& row) {
    // A row is one line wherever it is shown: a line feed in a name must not start another.
    std::string s = engine::ShownName(Base(row));
    if (row.encrypted) s += '+';
    if (!row.link_target.empty()) s += " -> " + engine::ShownName(row.link_target);
    return s;
}

std::string DateText(uint32_t dos, const IntlFormat& intl) {
    platform::DosFields f = platform::SplitDos(dos);
    int year = f.year >= 2000 ? f.year - 2000 : f.year - 1900;
    int values[3] = {};
    const char* letters = "dmy";
    std::string order = intl.date_order;
    if (order.size() != 3 || order.find('d') == order.npos || order.find('m') == order.npos ||
        order.find('y') == order.npos)
        order = "mdy";
    for (int i = 0; i < 3; ++i) {
        char c = order[static_cast<size_t>(i)];
        values[i] = c == letters[0] ? f.day : c == letters[1] ? f.month : year;
    }
    char buf[64];
    int n = std::snprintf(buf, sizeof buf, "%02d%c%02d%c%02d", values[0], intl.date_sep, values[1],
                          intl.date_sep, values[2]);
    if (n > 8) return "bad date";
    return buf;
}

std::string TimeText(uint32_t dos, const IntlFormat& intl) {
    platform::DosFields f = platform::SplitDos(dos);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02u%c%02u", static_cast<unsigned>(f.hour), intl.time_sep,
                  static_cast<unsigned>(f.minute));
    return buf;
}

std::string SizeText(uint64_t size, const IntlFormat& intl) {
    if (size == kUnknownSize) return "?";
    std::string digits = std::to_string(size), out;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += intl.thousand_sep;
        out += digits[i];
    }
    return out;
}

std::string RatioText(const Row& row) {
    if (row.uncompressed == kUnknownSize) return "?";
    return std::to_string(row.ratio) + "%";
}

std::string PathText(const Row& row) {
    std::string_view folder = Folder(row);
    if (!folder.empty()) folder.remove_suffix(1);
    return engine::ShownName(folder);
}

namespace {
std::string CountText(const char* what, uint64_t count, uint64_t size, const IntlFormat& intl) {
    std::string amount = size == kUnknownSize || size < 1024
                             ? SizeText(size, intl) + " bytes"
                             : SizeText((size + 1023) / 1024, intl) + "KB";
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s %llu file%s, ", what, static_cast<unsigned long long>(count),
                  count == 1 ? "" : "s");
    return buf + amount;
}
}  // namespace

std::string TotalText(const Listing& l, const IntlFormat& intl) {
    return CountText("Total", l.rows.size(), l.total_uncompressed, intl);
}

std::string SelectedText(uint64_t count, uint64_t size, const IntlFormat& intl) {
    return CountText("Selected", count, size, intl);
}

uint32_t LookUpRow(const Listing& l, std::string_view name, int which) {
    for (size_t i : l.order) {
        const Row& r = l.rows[i];
        if (CompareNoCase(r.name, name) != 0) continue;
        if (which == 0) return static_cast<uint32_t>(r.compressed);
        return r.crc;
    }
    return 0;
}

}  // namespace shell
