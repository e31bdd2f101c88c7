// Private-profile (INI) files: sections of key=value lines, read and written key by key.
//
// The file is parsed into lines that keep their own line ends (profile_document), read through
// a cache keyed by content (profile_cache), and whole sections are rewritten by
// profile_sections; here are the entry points, the checks on what they are asked to write,
// and the atomic write of the result.
#include "platform/profile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string_view>

#include "platform/codepage.h"
#include "platform/profile_cache.h"
#include "platform/profile_document.h"
#include "platform/profile_sections.h"

namespace platform {

using namespace profile_detail;

namespace {

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
