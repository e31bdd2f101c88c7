#include "archiver/shell/json_listing.h"

#include <cstdio>
#include <ctime>

#include "platform/codepage.h"
#include "platform/dostime.h"

namespace shell {

namespace {

// Length of the valid UTF-8 sequence at s[i] and its code point; 0 when the byte there does
// not start one (overlong forms, surrogates and code points past U+10FFFF are not valid).
size_t ValidSequence(std::string_view s, size_t i, char32_t& cp) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
        cp = c;
        return 1;
    }
    size_t n;
    char32_t min;
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2, min = 0x80, cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3, min = 0x800, cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4, min = 0x10000, cp = c & 0x07;
    } else {
        return 0;
    }
    if (s.size() - i < n) return 0;
    for (size_t k = 1; k < n; ++k) {
        unsigned char t = static_cast<unsigned char>(s[i + k]);
        if ((t & 0xC0) != 0x80) return 0;
        cp = cp << 6 | (t & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return n;
}

void AppendEscape(std::string& out, unsigned code) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "\\u%04x", code);
    out += buf;
}

void AppendHex(std::string& out, std::string_view bytes) {
    static const char digits[] = "0123456789abcdef";
    for (char ch : bytes) {
        unsigned char c = static_cast<unsigned char>(ch);
        out += digits[c >> 4];
        out += digits[c & 0xF];
    }
}

// Text as stored, as the listing converts names: UTF-8 when valid, the OEM code page otherwise.
std::string StoredText(std::string_view bytes) {
    return platform::IsValidUtf8(bytes) ? std::string(bytes) : platform::OemToUtf8(bytes);
}

std::string Number(uint64_t value) {
    return value == kUnknownSize ? "null" : std::to_string(value);
}

void Key(std::string& out, const char* key, bool first = false) {
    if (!first) out += ", ";
    out += '"';
    out += key;
    out += "\": ";
}

void AppendMember(std::string& out, const Row& r) {
    out += "{";
    Key(out, "name", true);
    AppendJsonString(out, r.name);
    Key(out, "raw_name");
    out += '"';
    AppendHex(out, r.raw_name.empty() ? r.name : r.raw_name);
    out += '"';
    Key(out, "folder");
    out += r.folder ? "true" : "false";
    Key(out, "size");
    out += Number(r.uncompressed);
    Key(out, "packed");
    out += Number(r.compressed);
    Key(out, "method");
    if (r.method.empty())
        out += "null";
    else
        AppendJsonString(out, r.method);
    char crc[16];
    std::snprintf(crc, sizeof crc, r.crc_bits == 16 ? "\"%04x\"" : "\"%08x\"", r.crc);
    Key(out, "crc32");
    out += r.crc_bits == 32 ? crc : "null";
    if (r.crc_bits == 16) {
        Key(out, "crc16");
        out += crc;
    }
    Key(out, "modified");
    std::string when = IsoTime(r);
    out += when.empty() ? "null" : "\"" + when + "\"";
    Key(out, "encrypted");
    out += r.encrypted ? "true" : "false";
    Key(out, "attributes");
    out += r.attributes < 0 ? "null" : std::to_string(r.attributes);
    Key(out, "mode");
    if (r.mode < 0) {
        out += "null";
    } else {
        char mode[16];
        std::snprintf(mode, sizeof mode, "\"%04o\"", static_cast<unsigned>(r.mode & 07777));
        out += mode;
    }
    out += "}";
}

}  // namespace

void AppendJsonString(std::string& out, std::string_view text) {
    out += '"';
    for (size_t i = 0; i < text.size();) {
        char32_t cp = 0;
        size_t n = ValidSequence(text, i, cp);
        if (n == 0) {
            AppendEscape(out, 0xDC00u | static_cast<unsigned char>(text[i]));
            ++i;
            continue;
        }
        switch (cp) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\f':
                out += "\\f";
                break;
            default:
                // C1 controls and the line separators act on terminals and some parsers.
                if (cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) || cp == 0x2028 || cp == 0x2029)
                    AppendEscape(out, static_cast<unsigned>(cp));
                else
                    out.append(text.substr(i, n));
        }
        i += n;
    }
    out += '"';
}

std::string IsoTime(const Row& r) {
    char buf[96];
    if (r.unix_time != kNoUnixTime) {
        time_t t = static_cast<time_t>(r.unix_time);
        tm fields{};
        if (!gmtime_r(&t, &fields)) return {};
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02dZ", fields.tm_year + 1900,
                      fields.tm_mon + 1, fields.tm_mday, fields.tm_hour, fields.tm_min,
                      fields.tm_sec);
        return buf;
    }
    platform::DosFields f = platform::SplitDos(r.dos_datetime);
    if (f.month < 1 || f.month > 12 || f.day < 1 || f.day > 31 || f.hour > 23 || f.minute > 59 ||
        f.second > 59)
        return {};
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d", f.year, f.month, f.day, f.hour,
                  f.minute, f.second);
    return buf;
}

std::string JsonListing(const Listing& listing, const JsonArchive& archive) {
    size_t folders = 0;
    for (const Row& r : listing.rows)
        if (r.folder) ++folders;
    std::string out = "{\"archive\": {";
    Key(out, "path", true);
    AppendJsonString(out, archive.path);
    Key(out, "kind");
    AppendJsonString(out, archive.kind);
    Key(out, "comment");
    if (listing.comment)
        AppendJsonString(out, StoredText(*listing.comment));
    else
        out += "null";
    Key(out, "member_count");
    out += std::to_string(listing.rows.size());
    Key(out, "file_count");
    out += std::to_string(listing.rows.size() - folders);
    Key(out, "folder_count");
    out += std::to_string(folders);
    Key(out, "size");
    out += Number(listing.total_uncompressed);
    Key(out, "packed");
    out += Number(listing.total_compressed);
    Key(out, "file_size");
    out += std::to_string(archive.file_size);
    Key(out, "complete");
    out += archive.complete ? "true" : "false";
    if (!archive.complete) {
        Key(out, "error");
        AppendJsonString(out, archive.error);
    }
    out += "},\n\"members\": [";
    bool first = true;
    for (size_t i : listing.order) {
        out += first ? "\n  " : ",\n  ";
        first = false;
        AppendMember(out, listing.rows[i]);
    }
    out += first ? "]}\n" : "\n]}\n";
    return out;
}

}  // namespace shell
