#include "archiver/mail/mime_message.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <utility>

#include "archiver/mail/mail_file.h"
#include "archiver/mail/text_lines.h"
#include "archiver/mail/transfer_codings.h"

namespace mail {

namespace {

// Deeper nesting than this is a hostile message, not a real one.
constexpr int kMaxDepth = 32;
constexpr size_t kMaxParts = 10000;

struct Header {
    std::string name;  // lower case
    std::string value;
};

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

bool IsHeaderLine(std::string_view line) {
    size_t colon = line.find(':');
    if (colon == 0 || colon == line.npos) return false;
    for (size_t i = 0; i < colon; ++i)
        if (line[i] <= ' ' || line[i] > '~') return false;
    return true;
}

// Splits an entity into its headers (folded lines joined) and its body. False when the
// start does not read as headers.
bool SplitEntity(std::string_view text, std::vector<Header>& headers, std::string_view& body) {
    size_t pos = 0;
    while (pos < text.size()) {
        size_t next = pos;
        std::string_view line = LineAt(text, pos, next);
        pos = next;
        if (line.empty()) {
            body = text.substr(pos);
            return true;
        }
        if ((line[0] == ' ' || line[0] == '\t') && !headers.empty()) {
            headers.back().value += std::string(line);
        } else if (IsHeaderLine(line)) {
            size_t colon = line.find(':');
            headers.push_back(
                {Lower(line.substr(0, colon)), std::string(Trim(line.substr(colon + 1)))});
        } else {
            return false;
        }
    }
    body = {};
    return true;
}

std::string Find(const std::vector<Header>& headers, std::string_view name) {
    for (const Header& h : headers)
        if (h.name == name) return h.value;
    return {};
}

std::string Latin1ToUtf8(std::string_view s) {
    std::string out;
    for (char c : s) {
        auto b = static_cast<uint8_t>(c);
        if (b < 0x80) {
            out += c;
        } else {
            out += static_cast<char>(0xC0 | b >> 6);
            out += static_cast<char>(0x80 | (b & 0x3F));
        }
    }
    return out;
}

std::string ToUtf8(std::string_view bytes, std::string_view charset) {
    std::string cs = Lower(charset);
    if (cs == "iso-8859-1" || cs == "latin1" || cs == "iso_8859-1" || cs == "windows-1252")
        return Latin1ToUtf8(bytes);
    return std::string(bytes);
}

int Hex(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::string PercentDecode(std::string_view s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() && Hex(s[i + 1]) >= 0 && Hex(s[i + 2]) >= 0) {
            out += static_cast<char>(Hex(s[i + 1]) << 4 | Hex(s[i + 2]));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

// The parameters after the first ';' of a header value, names in lower case, quoted strings
// unquoted.
std::vector<std::pair<std::string, std::string>> Parameters(std::string_view value) {
    std::vector<std::pair<std::string, std::string>> out;
    size_t pos = value.find(';');
    while (pos != value.npos && pos < value.size()) {
        ++pos;
        size_t eq = value.find('=', pos);
        size_t semi = value.find(';', pos);
        if (eq == value.npos || (semi != value.npos && semi < eq)) {
            pos = semi;
            continue;
        }
        std::string name = Lower(Trim(value.substr(pos, eq - pos)));
        size_t i = eq + 1;
        while (i < value.size() && (value[i] == ' ' || value[i] == '\t')) ++i;
        std::string v;
        if (i < value.size() && value[i] == '"') {
            for (++i; i < value.size() && value[i] != '"'; ++i) {
                if (value[i] == '\\' && i + 1 < value.size()) ++i;
                v += value[i];
            }
            pos = value.find(';', i);
        } else {
            semi = value.find(';', i);
            v = std::string(Trim(value.substr(i, semi == value.npos ? value.npos : semi - i)));
            pos = semi;
        }
        out.emplace_back(std::move(name), std::move(v));
    }
    return out;
}

// An RFC 2231 extended value: charset'language'percent-escaped text.
std::string ExtendedValue(std::string_view v, std::string& charset) {
    size_t q1 = v.find('\'');
    size_t q2 = q1 == v.npos ? v.npos : v.find('\'', q1 + 1);
    if (q2 == v.npos) return PercentDecode(v);
    charset = std::string(v.substr(0, q1));
    return PercentDecode(v.substr(q2 + 1));
}

// Files from a single (not multipart) entity.
bool DecodeLeaf(const std::vector<Header>& headers, std::string_view body,
                std::vector<Attachment>& out, std::string& error) {
    std::string type = Find(headers, "content-type");
    std::string disposition = Find(headers, "content-disposition");
    std::string media = Lower(Trim(type.substr(0, type.find(';'))));
    std::string encoding = Lower(Trim(Find(headers, "content-transfer-encoding")));
    std::string name = HeaderParameter(disposition, "filename");
    if (name.empty()) name = HeaderParameter(type, "name");
    bool text = media.empty() || media.starts_with("text/");
    bool attached = Lower(Trim(disposition.substr(0, disposition.find(';')))) == "attachment";
    if (name.empty() && text && !attached) {
        // The message's own words: what it may carry inline is uuencoded or BinHex.
        std::string ignored;
        std::optional<std::string> plain = encoding == "quoted-printable"
                                               ? DecodeQuotedPrintable(body, ignored)
                                               : std::optional<std::string>(std::string(body));
        if (encoding == "base64") plain = DecodeBase64(body, ignored);
        return !plain || DecodeBlocksInText(*plain, out, error);
    }
    std::optional<std::string> data;
    if (encoding == "base64") {
        data = DecodeBase64(body, error);
    } else if (encoding == "quoted-printable") {
        data = DecodeQuotedPrintable(body, error);
    } else if (encoding == "x-uuencode" || encoding == "x-uue" || encoding == "uuencode") {
        std::vector<Attachment> inner;
        if (!DecodeBlocksInText(body, inner, error)) return false;
        for (Attachment& a : inner) {
            if (!name.empty()) a.name = name;
            out.push_back(std::move(a));
        }
        return true;
    } else {
        data = std::string(body);
    }
    if (!data) {
        error += name.empty() ? "" : " in " + name;
        return false;
    }
    if (name.empty()) name = "attachment-" + std::to_string(out.size() + 1);
    out.push_back({std::move(name), std::move(*data)});
    return true;
}

bool Walk(std::string_view entity, int depth, std::vector<Attachment>& out, std::string& error) {
    if (depth > kMaxDepth || out.size() > kMaxParts) {
        error = "message nested too deeply";
        return false;
    }
    std::vector<Header> headers;
    std::string_view body;
    if (!SplitEntity(entity, headers, body)) {
        headers.clear();  // a part without headers is plain text
        body = entity;
    }
    std::string type = Find(headers, "content-type");
    std::string media = Lower(Trim(type.substr(0, type.find(';'))));
    if (media == "message/rfc822") return Walk(body, depth + 1, out, error);
    std::string boundary = HeaderParameter(type, "boundary");
    if (!media.starts_with("multipart/") || boundary.empty())
        return DecodeLeaf(headers, body, out, error);
    std::string delimiter = "--" + boundary;
    size_t pos = 0;
    size_t part_start = std::string_view::npos;
    size_t parts = 0;
    while (pos < body.size()) {
        size_t line_start = pos;
        std::string_view line = LineAt(body, pos, pos);
        if (!line.starts_with(delimiter)) continue;
        std::string_view rest = Trim(line.substr(delimiter.size()));
        bool last = rest == "--";
        if (!last && !rest.empty()) continue;
        if (part_start != std::string_view::npos) {
            // The line end before the delimiter belongs to the delimiter.
            size_t end = line_start;
            if (end > part_start && body[end - 1] == '\n') --end;
            if (end > part_start && body[end - 1] == '\r') --end;
            if (++parts > kMaxParts) {
                error = "too many parts in the message";
                return false;
            }
            if (!Walk(body.substr(part_start, end - part_start), depth + 1, out, error))
                return false;
        }
        if (last) return true;
        part_start = pos;
    }
    if (part_start != std::string_view::npos) {
        error = "message cut short: multipart body has no closing boundary";
        return false;
    }
    return true;
}

}  // namespace

bool LooksLikeMimeMessage(std::string_view text) {
    std::vector<Header> headers;
    std::string_view body;
    if (!SplitEntity(text, headers, body)) return false;
    for (const Header& h : headers)
        if (h.name == "mime-version" || h.name == "content-type" ||
            h.name == "content-transfer-encoding")
            return true;
    return false;
}

std::string HeaderParameter(std::string_view header, std::string_view parameter) {
    std::string plain;
    bool have_plain = false;
    std::map<int, std::pair<bool, std::string>> sections;  // number: encoded?, value
    for (auto& [name, value] : Parameters(header)) {
        if (name == parameter) {
            plain = value;
            have_plain = true;
        } else if (name.size() > parameter.size() && name.starts_with(parameter) &&
                   name[parameter.size()] == '*') {
            std::string_view tail = std::string_view(name).substr(parameter.size() + 1);
            bool encoded = !tail.empty() && tail.back() == '*';
            if (encoded) tail.remove_suffix(1);
            if (tail.empty()) {
                sections[-1] = {true, value};  // name*=charset''text
            } else if (!tail.empty() && tail.size() < 5 &&
                       std::all_of(tail.begin(), tail.end(), ::isdigit)) {
                sections[std::stoi(std::string(tail))] = {encoded, value};
            }
        }
    }
    if (!sections.empty()) {
        std::string charset, joined;
        if (sections.count(-1)) {
            std::string value = ExtendedValue(sections[-1].second, charset);
            return ToUtf8(value, charset);
        }
        bool first = true;
        for (auto& [n, section] : sections) {
            if (section.first)
                joined +=
                    first ? ExtendedValue(section.second, charset) : PercentDecode(section.second);
            else
                joined += section.second;
            first = false;
        }
        return ToUtf8(joined, charset);
    }
    return have_plain ? DecodeEncodedWords(plain) : std::string();
}

std::string DecodeEncodedWords(std::string_view value) {
    std::string out;
    size_t pos = 0;
    bool after_word = false;  // blanks between two encoded words are dropped
    while (pos < value.size()) {
        size_t start = value.find("=?", pos);
        size_t q1 = start == value.npos ? value.npos : value.find('?', start + 2);
        size_t q2 = q1 == value.npos ? value.npos : value.find('?', q1 + 1);
        size_t end = q2 == value.npos ? value.npos : value.find("?=", q2 + 1);
        if (end == value.npos || q2 != q1 + 2) {
            out += value.substr(pos);
            break;
        }
        std::string_view between = value.substr(pos, start - pos);
        if (!(after_word && Trim(between).empty())) out += between;
        std::string charset(value.substr(start + 2, q1 - start - 2));
        if (size_t star = charset.find('*'); star != charset.npos) charset.resize(star);
        char kind = static_cast<char>(std::toupper(static_cast<unsigned char>(value[q1 + 1])));
        std::string_view text = value.substr(q2 + 1, end - q2 - 1);
        std::string decoded, ignored;
        if (kind == 'B') {
            decoded = DecodeBase64(text, ignored).value_or(std::string(text));
        } else {
            for (size_t i = 0; i < text.size(); ++i) {
                if (text[i] == '_') {
                    decoded += ' ';
                } else if (text[i] == '=' && i + 2 < text.size() && Hex(text[i + 1]) >= 0 &&
                           Hex(text[i + 2]) >= 0) {
                    decoded += static_cast<char>(Hex(text[i + 1]) << 4 | Hex(text[i + 2]));
                    i += 2;
                } else {
                    decoded += text[i];
                }
            }
        }
        out += ToUtf8(decoded, charset);
        after_word = true;
        pos = end + 2;
    }
    return out;
}

std::optional<std::vector<Attachment>> DecodeMimeMessage(std::string_view text,
                                                         std::string& error) {
    std::vector<Attachment> out;
    if (!Walk(text, 0, out, error)) return std::nullopt;
    return out;
}

}  // namespace mail
