// Private-profile (INI) files: sections of key=value lines, read and written key by key.
//
// A file is parsed into lines that remember their own line ends, so a rewrite reproduces
// every untouched line byte for byte. Parsed files are cached by content: a read still reads
// the file (so changes made by others are always seen) but skips parsing when the bytes are
// the ones parsed last time, which keeps a start-up that reads hundreds of keys cheap.
#include "platform/profile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "platform/codepage.h"

namespace platform {
namespace {

// Settings and script files are small; anything larger is not one of ours and is refused
// rather than read without bound.
constexpr size_t kMaxProfileBytes = size_t{64} << 20;
constexpr size_t kCachedFiles = 4;
constexpr std::string_view kBlanks = " \t\v\f\r";
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

enum class LineKind { kBlank, kComment, kHeader, kKey, kOther };

struct Line {
    std::string text;  // without its line end
    bool has_eol = true;
    bool crlf = false;
    LineKind kind = LineKind::kOther;
    std::string name;      // header: the section name; key line: the key; both trimmed
    size_t value_pos = 0;  // key line: offset just past the first "="
};

struct Section {
    std::string folded;  // the name in lower case
    size_t header = 0;   // index of the header line
    size_t end = 0;      // one past its last line: the next header or the end of the file
    std::unordered_map<std::string, size_t> keys;  // folded key -> its first line
};

struct Document {
    bool bom = false;
    bool crlf = false;  // the line end new lines get: that of the file's first line
    std::vector<Line> lines;
    std::vector<Section> sections;
    std::unordered_map<std::string, size_t> first_section;  // folded name -> sections index
};

struct LoadedFile {
    bool exists = false;
    std::string bytes;
    Document doc;
};

struct ProfileState {
    std::mutex mutex;
    std::vector<std::pair<std::string, std::shared_ptr<const LoadedFile>>> cache;  // newest last
};

ProfileState& GetProfileState() {
    static ProfileState state;
    return state;
}

struct Fd {
    int fd = -1;
    explicit Fd(int f) : fd(f) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() {
        if (fd >= 0) close(fd);
    }
    // Closes now and reports the result, which for a written file can carry a write error.
    bool Close() {
        const int r = close(fd);
        fd = -1;
        return r == 0;
    }
};

std::string_view Trim(std::string_view s) {
    const size_t first = s.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return {};
    return s.substr(first, s.find_last_not_of(kBlanks) - first + 1);
}

std::string Fold(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

void Classify(Line& line) {
    const std::string_view t = Trim(line.text);
    if (t.empty()) {
        line.kind = LineKind::kBlank;
    } else if (t[0] == ';') {
        line.kind = LineKind::kComment;
    } else if (t[0] == '[') {
        line.kind = LineKind::kHeader;
        const size_t close = t.find(']');
        line.name = Trim(t.substr(1, close == std::string_view::npos ? t.npos : close - 1));
    } else if (const size_t eq = line.text.find('='); eq != std::string::npos) {
        line.kind = LineKind::kKey;
        line.name = Trim(std::string_view(line.text).substr(0, eq));
        line.value_pos = eq + 1;
    } else {
        line.kind = LineKind::kOther;  // kept, but not a key
    }
}

Line NewLine(std::string text, bool crlf) {
    Line line;
    line.text = std::move(text);
    line.crlf = crlf;
    Classify(line);
    return line;
}

void IndexSections(Document& doc) {
    for (size_t i = 0; i < doc.lines.size(); ++i) {
        const Line& line = doc.lines[i];
        if (line.kind == LineKind::kHeader) {
            if (!doc.sections.empty()) doc.sections.back().end = i;
            Section s;
            s.folded = Fold(line.name);
            s.header = i;
            doc.first_section.emplace(s.folded, doc.sections.size());
            doc.sections.push_back(std::move(s));
        } else if (line.kind == LineKind::kKey && !doc.sections.empty()) {
            doc.sections.back().keys.emplace(Fold(line.name), i);  // the first one stays
        }
    }
    if (!doc.sections.empty()) doc.sections.back().end = doc.lines.size();
}

Document Parse(std::string_view bytes) {
    Document doc;
    if (bytes.substr(0, kUtf8Bom.size()) == kUtf8Bom) {
        doc.bom = true;
        bytes.remove_prefix(kUtf8Bom.size());
    }
    bool line_end_seen = false;
    size_t pos = 0;
    while (pos < bytes.size()) {
        const size_t nl = bytes.find('\n', pos);
        Line line;
        std::string_view text = bytes.substr(pos, nl == bytes.npos ? bytes.npos : nl - pos);
        line.has_eol = nl != bytes.npos;
        if (line.has_eol && !text.empty() && text.back() == '\r') {
            line.crlf = true;
            text.remove_suffix(1);
        }
        if (line.has_eol && !line_end_seen) {
            doc.crlf = line.crlf;
            line_end_seen = true;
        }
        line.text = text;
        Classify(line);
        doc.lines.push_back(std::move(line));
        pos = nl == bytes.npos ? bytes.size() : nl + 1;
    }
    IndexSections(doc);
    return doc;
}

std::string Serialize(bool bom, const std::vector<Line>& lines) {
    size_t total = bom ? kUtf8Bom.size() : 0;
    for (const Line& line : lines) total += line.text.size() + 2;
    std::string out;
    out.reserve(total);
    if (bom) out += kUtf8Bom;
    for (const Line& line : lines) {
        out += line.text;
        if (line.has_eol) out += line.crlf ? "\r\n" : "\n";
    }
    return out;
}

enum class ReadStatus { kOk, kMissing, kFailed };

// Reads a whole regular file, at most kMaxProfileBytes; errno is set on failure.
ReadStatus ReadWholeFile(const std::string& path, std::string& out) {
    // O_NONBLOCK so that a FIFO put in the file's place cannot hang the open.
    Fd file(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (file.fd < 0) return errno == ENOENT ? ReadStatus::kMissing : ReadStatus::kFailed;
    struct stat st {};
    if (fstat(file.fd, &st) != 0) return ReadStatus::kFailed;
    if (!S_ISREG(st.st_mode)) {
        errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        return ReadStatus::kFailed;
    }
    if (static_cast<uint64_t>(st.st_size) > kMaxProfileBytes) {
        errno = EFBIG;
        return ReadStatus::kFailed;
    }
    out.clear();
    out.reserve(static_cast<size_t>(st.st_size));
    char buf[65536];
    for (;;) {
        const ssize_t n = read(file.fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return ReadStatus::kFailed;
        if (n == 0) break;
        if (out.size() + static_cast<size_t>(n) > kMaxProfileBytes) {  // grew while read
            errno = EFBIG;
            return ReadStatus::kFailed;
        }
        out.append(buf, static_cast<size_t>(n));
    }
    return ReadStatus::kOk;
}

// The parsed file; a missing file is an empty document. Null (errno set) when the file
// exists but cannot be read: a write must then fail rather than replace what it never saw.
std::shared_ptr<const LoadedFile> Load(const std::string& path) {
    std::string bytes;
    const ReadStatus status = ReadWholeFile(path, bytes);
    if (status == ReadStatus::kFailed) return nullptr;
    const bool exists = status == ReadStatus::kOk;
    ProfileState& state = GetProfileState();
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        for (const auto& [cached_path, file] : state.cache) {
            if (cached_path == path && file->exists == exists && file->bytes == bytes) {
                return file;
            }
        }
    }
    auto file = std::make_shared<LoadedFile>();
    file->exists = exists;
    file->doc = Parse(bytes);
    file->bytes = std::move(bytes);
    std::lock_guard<std::mutex> lock(state.mutex);
    std::erase_if(state.cache, [&](const auto& entry) { return entry.first == path; });
    if (state.cache.size() >= kCachedFiles) state.cache.erase(state.cache.begin());
    state.cache.emplace_back(path, file);
    return file;
}

const Section* FindSection(const Document& doc, std::string_view name) {
    const auto it = doc.first_section.find(Fold(Trim(name)));
    return it == doc.first_section.end() ? nullptr : &doc.sections[it->second];
}

const Line* FindKey(const Document& doc, std::string_view section, std::string_view key) {
    const Section* s = FindSection(doc, section);
    if (s == nullptr || Trim(key).empty()) return nullptr;
    const auto it = s->keys.find(Fold(Trim(key)));
    return it == s->keys.end() ? nullptr : &doc.lines[it->second];
}

// One past the section's last line that is neither blank nor a comment (the header when
// there is none): blank lines and comments after it separate it from the next section and
// usually belong to that one, so they stay where they are.
size_t ContentEnd(const Document& doc, const Section& s) {
    for (size_t i = s.end; i > s.header + 1; --i) {
        const LineKind kind = doc.lines[i - 1].kind;
        if (kind == LineKind::kKey || kind == LineKind::kOther) return i;
    }
    return s.header + 1;
}

bool HasLineBreak(std::string_view s) {
    return s.find_first_of("\r\n") != s.npos;
}

bool ValidSectionName(std::string_view name) {
    return !name.empty() && !HasLineBreak(name) && name.find(']') == name.npos;
}

// A key must read back as the same key: no "=", no line break, and not mistakable for a
// header or a comment.
bool ValidKey(std::string_view key) {
    return !key.empty() && !HasLineBreak(key) && key.find('=') == key.npos && key[0] != '[' &&
           key[0] != ';';
}

// Appends a section at the end of the file, after a blank line that sets it apart.
void AppendSection(std::vector<Line>& lines, bool crlf, std::string_view name,
                   std::vector<Line> block) {
    if (!lines.empty()) {
        if (!lines.back().has_eol) {
            lines.back().has_eol = true;
            lines.back().crlf = crlf;
        }
        if (lines.back().kind != LineKind::kBlank) lines.push_back(NewLine("", crlf));
    }
    lines.push_back(NewLine("[" + std::string(name) + "]", crlf));
    for (Line& line : block) lines.push_back(std::move(line));
}

// The longest common subsequence of two lists of values, as the index in `b` each element of
// `a` is paired with (npos when none). Equal heads and tails are paired first; the middle gets
// an exact table when it is small, else each value takes its next equal one in order.
std::vector<size_t> PairValues(const std::vector<std::string_view>& a,
                               const std::vector<std::string_view>& b) {
    constexpr size_t kNone = std::string_view::npos;
    constexpr size_t kMaxTable = size_t{1} << 20;
    std::vector<size_t> pair(a.size(), kNone);
    size_t head = 0;
    while (head < a.size() && head < b.size() && a[head] == b[head]) {
        pair[head] = head;
        ++head;
    }
    size_t tail = 0;
    while (tail < a.size() - head && tail < b.size() - head &&
           a[a.size() - 1 - tail] == b[b.size() - 1 - tail]) {
        pair[a.size() - 1 - tail] = b.size() - 1 - tail;
        ++tail;
    }
    const size_t n = a.size() - head - tail, m = b.size() - head - tail;
    if (n == 0 || m == 0) return pair;
    if (n * m <= kMaxTable && n < 65535 && m < 65535) {
        // lcs[i][j]: the longest common subsequence of a[head+i..] and b[head+j..].
        std::vector<uint16_t> lcs((n + 1) * (m + 1), 0);
        const auto at = [&](size_t i, size_t j) -> uint16_t& { return lcs[i * (m + 1) + j]; };
        for (size_t i = n; i-- > 0;) {
            for (size_t j = m; j-- > 0;) {
                at(i, j) = a[head + i] == b[head + j] ? static_cast<uint16_t>(at(i + 1, j + 1) + 1)
                                                      : std::max(at(i + 1, j), at(i, j + 1));
            }
        }
        for (size_t i = 0, j = 0; i < n && j < m;) {
            if (a[head + i] == b[head + j]) {
                pair[head + i] = head + j;
                ++i;
                ++j;
            } else if (at(i + 1, j) >= at(i, j + 1)) {
                ++i;
            } else {
                ++j;
            }
        }
        return pair;
    }
    std::unordered_map<std::string_view, std::vector<size_t>> where;
    for (size_t j = m; j-- > 0;) where[b[head + j]].push_back(head + j);
    size_t next = head;
    for (size_t i = head; i < head + n; ++i) {
        auto it = where.find(a[i]);
        if (it == where.end()) continue;
        std::vector<size_t>& places = it->second;  // nearest last
        while (!places.empty() && places.back() < next) places.pop_back();
        if (places.empty()) continue;
        pair[i] = places.back();
        next = places.back() + 1;
        places.pop_back();
    }
    return pair;
}

// The lines of a rewritten list section: the new entries, with every comment, blank line and
// other line of the old section kept in front of the entry it stood before. Entries are
// paired with the old ones by value, so a list that gained or lost entries (and so was
// renumbered) keeps its comments where they were; the comments of a removed entry go in front
// of whatever follows it. An entry whose line is unchanged keeps its exact text.
std::vector<Line> MergeSection(const Document& doc, std::string_view name,
                               const std::vector<std::pair<std::string, std::string>>& entries) {
    struct OldEntry {
        std::vector<const Line*> before;  // the lines in front of it
        const Line* line = nullptr;
    };
    std::vector<OldEntry> old;
    std::vector<const Line*> rest;
    const std::string folded = Fold(name);
    for (const Section& s : doc.sections) {
        if (s.folded != folded) continue;
        for (size_t i = s.header + 1; i < ContentEnd(doc, s); ++i) {
            const Line& line = doc.lines[i];
            if (line.kind != LineKind::kKey) {
                rest.push_back(&line);
                continue;
            }
            old.push_back(OldEntry{std::move(rest), &line});
            rest.clear();
        }
    }
    std::vector<std::string_view> old_values, new_values;
    old_values.reserve(old.size());
    // Blanks after the "=" of a hand-written "key = value" do not make it another entry.
    for (const OldEntry& e : old) {
        std::string_view value = std::string_view(e.line->text).substr(e.line->value_pos);
        old_values.push_back(value.substr(std::min(value.find_first_not_of(' '), value.size())));
    }
    new_values.reserve(entries.size());
    for (const auto& entry : entries) new_values.push_back(entry.second);
    const std::vector<size_t> pair = PairValues(old_values, new_values);
    std::vector<bool> kept(entries.size(), false);
    for (size_t p : pair)
        if (p != std::string_view::npos) kept[p] = true;

    std::vector<Line> block;
    block.reserve(entries.size() + doc.lines.size() / 4);
    std::vector<const Line*> pending;
    const auto flush = [&] {
        for (const Line* l : pending) block.push_back(*l);
        pending.clear();
    };
    const auto fresh = [&](size_t j) {
        block.push_back(
            NewLine(std::string(Trim(entries[j].first)) + "=" + entries[j].second, doc.crlf));
    };
    size_t i = 0, j = 0;
    while (i < old.size() || j < entries.size()) {
        if (i < old.size() && pair[i] == std::string_view::npos) {
            pending.insert(pending.end(), old[i].before.begin(), old[i].before.end());
            ++i;
        } else if (j < entries.size() && !kept[j]) {
            flush();
            fresh(j++);
        } else if (i >= old.size() || j >= entries.size()) {
            break;  // cannot happen: the pairs are in order on both sides
        } else {
            flush();
            for (const Line* l : old[i].before) block.push_back(*l);
            const Line& line = *old[i].line;
            if (Fold(line.name) == Fold(Trim(entries[j].first)) &&
                std::string_view(line.text).substr(line.value_pos) == entries[j].second)
                block.push_back(line);
            else
                fresh(j);
            ++i;
            ++j;
        }
    }
    pending.insert(pending.end(), rest.begin(), rest.end());
    flush();
    return block;
}

// True when a list section holds text other than its entries (comments, notes); blank lines
// alone do not count.
bool HasOtherLines(const Document& doc, std::string_view name) {
    const std::string folded = Fold(name);
    for (const Section& s : doc.sections) {
        if (s.folded != folded) continue;
        for (size_t i = s.header + 1; i < ContentEnd(doc, s); ++i) {
            const LineKind kind = doc.lines[i].kind;
            if (kind == LineKind::kComment || kind == LineKind::kOther) return true;
        }
    }
    return false;
}

// The file's lines with every occurrence of a section taken out; the first one is replaced
// by the header and block when a block is given (appended when the section is missing).
// Blank lines that would double up where a section was taken out are dropped with it.
std::vector<Line> ReplaceSection(const Document& doc, std::string_view name,
                                 const std::vector<Line>* block) {
    const std::string folded = Fold(name);
    std::vector<Line> out;
    out.reserve(doc.lines.size() + (block != nullptr ? block->size() + 2 : 0));
    bool replaced = false;
    bool skip_blanks = false;
    size_t next = 0;
    const auto copy_until = [&](size_t stop) {
        for (; next < stop; ++next) {
            const Line& line = doc.lines[next];
            if (skip_blanks && line.kind == LineKind::kBlank) continue;
            skip_blanks = false;
            out.push_back(line);
        }
    };
    for (const Section& s : doc.sections) {
        if (s.folded != folded) continue;
        copy_until(s.header);
        if (block != nullptr && !replaced) {
            out.push_back(doc.lines[s.header]);  // the header as the user wrote it
            out.insert(out.end(), block->begin(), block->end());
            replaced = true;
        } else {
            skip_blanks = out.empty() || out.back().kind == LineKind::kBlank;
        }
        next = ContentEnd(doc, s);
    }
    copy_until(doc.lines.size());
    if (block != nullptr && !replaced) AppendSection(out, doc.crlf, name, *block);
    // A line that ended the file without a line end may no longer be the last.
    for (size_t i = 0; i + 1 < out.size(); ++i) {
        if (!out[i].has_eol) {
            out[i].has_eol = true;
            out[i].crlf = doc.crlf;
        }
    }
    return out;
}

// Writes the new lines unless they are what the file already holds.
bool Commit(const std::string& path, const LoadedFile& file, const std::vector<Line>& lines) {
    std::string bytes = Serialize(file.doc.bom, lines);
    if (file.exists && bytes == file.bytes) return true;
    return WriteFileAtomically(path, bytes);
}

std::string CutToLimit(std::string_view value, size_t limit) {
    if (limit == 0 || value.size() < limit) return std::string(value);
    size_t n = limit - 1;
    // Never leave half a character at the end of text that is UTF-8.
    if (IsValidUtf8(value)) {
        while (n > 0 && (static_cast<unsigned char>(value[n]) & 0xC0) == 0x80) --n;
    }
    return std::string(value.substr(0, n));
}

// The decimal number a text starts with (an optional sign, then digits; too many digits
// clamp), or the fallback when it does not start with one.
long LeadingNumber(std::string_view v, long fallback) {
    size_t i = 0;
    const bool negative = !v.empty() && v[0] == '-';
    if (!v.empty() && (v[0] == '-' || v[0] == '+')) ++i;
    if (i >= v.size() || v[i] < '0' || v[i] > '9') return fallback;
    // Accumulate towards the sign so that LONG_MIN is reachable.
    long result = 0;
    for (; i < v.size() && v[i] >= '0' && v[i] <= '9'; ++i) {
        const int digit = v[i] - '0';
        if (negative) {
            if (result < (LONG_MIN + digit) / 10) return LONG_MIN;
            result = result * 10 - digit;
        } else {
            if (result > (LONG_MAX - digit) / 10) return LONG_MAX;
            result = result * 10 + digit;
        }
    }
    return result;
}

// Writes all of data to fd, retrying short writes.
bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

// Runs an entry point's body so that no exception (in practice, memory running out) escapes:
// the caller gets the fallback with errno ENOMEM instead.
template <typename R, typename F>
R NoThrow(F&& body, R fallback = R()) noexcept {
    try {
        return body();
    } catch (...) {
        errno = ENOMEM;
        return fallback;
    }
}

}  // namespace

std::string GetPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& default_value, size_t limit,
                                    const std::string& path) {
    return NoThrow<std::string>([&]() -> std::string {
        const auto file = Load(path);
        const Line* line = file != nullptr ? FindKey(file->doc, section, key) : nullptr;
        if (line == nullptr) return CutToLimit(default_value, limit);
        return CutToLimit(Trim(std::string_view(line->text).substr(line->value_pos)), limit);
    });
}

long GetPrivateProfileInt(const std::string& section, const std::string& key, long default_value,
                          const std::string& path) {
    return NoThrow<long>(
        [&]() -> long {
            const auto file = Load(path);
            const Line* line = file != nullptr ? FindKey(file->doc, section, key) : nullptr;
            if (line == nullptr) return default_value;
            return LeadingNumber(Trim(std::string_view(line->text).substr(line->value_pos)),
                                 default_value);
        },
        default_value);
}

bool WritePrivateProfileString(const std::string& section, const std::string& key,
                               const std::string& value, const std::string& path) {
    return NoThrow<bool>(
        [&]() -> bool {
            const std::string_view name = Trim(section);
            const std::string_view k = Trim(key);
            if (!ValidSectionName(name) || !ValidKey(k) || HasLineBreak(value)) {
                errno = EINVAL;
                return false;
            }
            const auto file = Load(path);
            if (file == nullptr) return false;
            const Document& doc = file->doc;
            std::vector<Line> lines = doc.lines;
            const Section* s = FindSection(doc, name);
            if (s == nullptr) {
                AppendSection(lines, doc.crlf, name,
                              {NewLine(std::string(k) + "=" + value, doc.crlf)});
            } else if (const auto it = s->keys.find(Fold(k)); it != s->keys.end()) {
                // The key keeps the spelling found in the file.
                Line& line = lines[it->second];
                line.text = line.name + "=" + value;
                line.value_pos = line.name.size() + 1;
            } else {
                const size_t at = ContentEnd(doc, *s);
                lines.insert(lines.begin() + static_cast<ptrdiff_t>(at),
                             NewLine(std::string(k) + "=" + value, doc.crlf));
                // A key that becomes the file's last line needs the line end that line lacked.
                if (at == lines.size() - 1 && at > 0 && !lines[at - 1].has_eol) {
                    lines[at - 1].has_eol = true;
                    lines[at - 1].crlf = doc.crlf;
                    lines[at].has_eol = false;
                }
            }
            return Commit(path, *file, lines);
        },
        false);
}

bool DeletePrivateProfileKey(const std::string& section, const std::string& key,
                             const std::string& path) {
    return NoThrow<bool>(
        [&]() -> bool {
            const auto file = Load(path);
            if (file == nullptr) return false;
            const Document& doc = file->doc;
            const Section* s = FindSection(doc, section);
            if (s == nullptr || Trim(key).empty()) return true;
            // Every copy of the key goes, or the next one would show through.
            const std::string folded = Fold(Trim(key));
            std::vector<Line> lines;
            lines.reserve(doc.lines.size());
            for (size_t i = 0; i < doc.lines.size(); ++i) {
                const Line& line = doc.lines[i];
                const bool in_section = i > s->header && i < s->end;
                if (!in_section || line.kind != LineKind::kKey || Fold(line.name) != folded) {
                    lines.push_back(line);
                }
            }
            if (lines.size() == doc.lines.size()) return true;
            return Commit(path, *file, lines);
        },
        false);
}

bool DeletePrivateProfileSection(const std::string& section, const std::string& path) {
    return NoThrow<bool>(
        [&]() -> bool {
            const auto file = Load(path);
            if (file == nullptr) return false;
            if (FindSection(file->doc, section) == nullptr) return true;
            return Commit(path, *file, ReplaceSection(file->doc, Trim(section), nullptr));
        },
        false);
}

std::vector<std::string> GetPrivateProfileKeys(const std::string& section,
                                               const std::string& path) {
    return NoThrow<std::vector<std::string>>([&]() -> std::vector<std::string> {
        std::vector<std::string> keys;
        const auto file = Load(path);
        if (file == nullptr) return keys;
        const Section* s = FindSection(file->doc, section);
        if (s == nullptr) return keys;
        for (size_t i = s->header + 1; i < s->end; ++i) {
            const Line& line = file->doc.lines[i];
            if (line.kind != LineKind::kKey || line.name.empty()) continue;
            const auto it = s->keys.find(Fold(line.name));
            if (it != s->keys.end() && it->second == i) keys.push_back(line.name);
        }
        return keys;
    });
}

std::vector<std::string> GetPrivateProfileSections(const std::string& path) {
    return NoThrow<std::vector<std::string>>([&]() -> std::vector<std::string> {
        std::vector<std::string> names;
        const auto file = Load(path);
        if (file == nullptr) return names;
        const Document& doc = file->doc;
        for (size_t i = 0; i < doc.sections.size(); ++i) {
            if (doc.first_section.at(doc.sections[i].folded) == i) {
                names.push_back(doc.lines[doc.sections[i].header].name);
            }
        }
        return names;
    });
}

std::vector<std::pair<std::string, std::string>> ReadProfileSection(const std::string& section,
                                                                    const std::string& path) {
    return NoThrow<std::vector<std::pair<std::string, std::string>>>(
        [&]() -> std::vector<std::pair<std::string, std::string>> {
            std::vector<std::pair<std::string, std::string>> entries;
            const auto file = Load(path);
            if (file == nullptr) return entries;
            const Section* s = FindSection(file->doc, section);
            if (s == nullptr) return entries;
            for (size_t i = s->header + 1; i < s->end; ++i) {
                const Line& line = file->doc.lines[i];
                if (line.kind == LineKind::kKey) {
                    entries.emplace_back(line.name, line.text.substr(line.value_pos));
                }
            }
            return entries;
        });
}

bool WriteProfileSection(const std::string& section,
                         const std::vector<std::pair<std::string, std::string>>& lines,
                         const std::string& path, bool keep_empty) {
    return NoThrow<bool>(
        [&]() -> bool {
            const std::string_view name = Trim(section);
            if (!ValidSectionName(name)) {
                errno = EINVAL;
                return false;
            }
            for (const auto& [key, value] : lines) {
                if (!ValidKey(Trim(key)) || HasLineBreak(value)) {
                    errno = EINVAL;
                    return false;
                }
            }
            const auto file = Load(path);
            if (file == nullptr) return false;
            // An emptied list goes with its header, unless the user wrote notes into it.
            if (lines.empty() && !keep_empty && !HasOtherLines(file->doc, name)) {
                if (FindSection(file->doc, name) == nullptr) return true;
                return Commit(path, *file, ReplaceSection(file->doc, name, nullptr));
            }
            const std::vector<Line> block = MergeSection(file->doc, name, lines);
            return Commit(path, *file, ReplaceSection(file->doc, name, &block));
        },
        false);
}

bool WriteFileAtomically(const std::string& path, const std::string& contents) {
    return NoThrow<bool>(
        [&]() -> bool {
            if (path.empty()) {
                errno = ENOENT;
                return false;
            }
            // Write beside the file a link points to, so the link stays a link.
            std::string target = path;
            struct stat st {};
            if (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
                if (char* real = realpath(path.c_str(), nullptr)) {
                    target = real;
                    free(real);
                }
            }
            const bool exists = stat(target.c_str(), &st) == 0;
            if (exists) {
                if (!S_ISREG(st.st_mode)) {
                    errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
                    return false;
                }
                // A file made read-only stays as it is, as the user asked.
                if (access(target.c_str(), W_OK) != 0) return false;
            } else if (errno != ENOENT) {
                return false;
            }
            const size_t slash = target.rfind('/');
            const std::string dir = slash == std::string::npos ? "." : target.substr(0, slash + 1);
            const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
            std::string temp = (slash == std::string::npos ? "" : dir) + "." + base + ".XXXXXX";
            Fd file(mkostemp(temp.data(), O_CLOEXEC));
            if (file.fd < 0) return false;
            const auto fail = [&] {
                const int saved = errno;
                if (file.fd >= 0) file.Close();
                unlink(temp.c_str());
                errno = saved;
                return false;
            };
            if (exists) {
                // Ownership first: changing it may clear set-id bits that the mode then restores.
                if ((st.st_uid != geteuid() || st.st_gid != getegid()) &&
                    fchown(file.fd, st.st_uid, st.st_gid) != 0) {
                    // Only a privileged process can give a file away; the contents matter more.
                }
                if (fchmod(file.fd, st.st_mode & 07777) != 0) return fail();
            }
            if (!WriteAll(file.fd, contents) || fsync(file.fd) != 0 || !file.Close()) return fail();
            if (rename(temp.c_str(), target.c_str()) != 0) return fail();
            // Make the rename itself durable; the data is safe either way, so failure is not fatal.
            Fd folder(open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            if (folder.fd >= 0) fsync(folder.fd);
            return true;
        },
        false);
}

std::string ConfigFolder(const std::string& program) {
    std::string base;
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && *xdg) {
        base = xdg;
    } else {
        const char* home = std::getenv("HOME");
        base = std::string(home && *home ? home : ".") + "/.config";
    }
    if (base.back() != '/') base.push_back('/');
    return base + program + "/";
}

}  // namespace platform
