#include "archiver/mail/mail_file.h"

#include "archiver/mail/binhex.h"
#include "archiver/mail/text_lines.h"
#include "archiver/mail/transfer_codings.h"
#include "archiver/mail/uu_codec.h"

namespace mail {

namespace {

constexpr std::string_view kBinHexBanner = "(This file must be converted with BinHex";
constexpr std::string_view kBoundary = "=_borvan32_attached_archive";

bool IsAscii(std::string_view s) {
    for (char c : s)
        if (static_cast<uint8_t>(c) < 0x20 || static_cast<uint8_t>(c) > 0x7E) return false;
    return true;
}

// A name for a header: quoted when plain ASCII, otherwise in RFC 2231 form ("name*=").
std::string NameParameter(std::string_view parameter, std::string_view name) {
    if (IsAscii(name)) {
        std::string quoted;
        for (char c : name) {
            if (c == '"' || c == '\\') quoted += '\\';
            quoted += c;
        }
        return std::string(parameter) + "=\"" + quoted + "\"";
    }
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out = std::string(parameter) + "*=UTF-8''";
    for (char c : name) {
        auto b = static_cast<uint8_t>(c);
        if (std::isalnum(b) || c == '.' || c == '-' || c == '_') {
            out += c;
        } else {
            out += '%';
            out += kHex[b >> 4];
            out += kHex[b & 15];
        }
    }
    return out;
}

// uuencode's base64 form: "begin-base64 MODE NAME", base64 lines, "====". `next` is past
// the begin line on entry and past the closing line on return.
bool DecodeBase64Block(std::string_view text, std::string_view begin, size_t& next,
                       std::vector<Attachment>& out, std::string& error) {
    size_t space = begin.find(' ', 13);
    std::string name = space == begin.npos ? "" : std::string(begin.substr(space + 1));
    size_t start = next;
    while (next < text.size()) {
        size_t after = next;
        std::string_view line = LineAt(text, next, after);
        if (line == "====") {
            std::optional<std::string> data = DecodeBase64(text.substr(start, next - start), error);
            next = after;
            if (!data) return false;
            out.push_back({std::move(name), std::move(*data)});
            return true;
        }
        next = after;
    }
    error = "encoded data cut short: no end line";
    return false;
}

}  // namespace

bool DecodeBlocksInText(std::string_view text, std::vector<Attachment>& out, std::string& error) {
    size_t pos = 0;
    while (pos < text.size()) {
        size_t next = pos;
        std::string_view line = LineAt(text, pos, next);
        if (IsUuBeginLine(line)) {
            std::optional<UuFile> file = UuDecodeBlock(text, pos, next, error);
            if (!file) return false;
            out.push_back({std::move(file->name), std::move(file->data)});
        } else if (line.starts_with("begin-base64 ")) {
            if (!DecodeBase64Block(text, line, next, out, error)) return false;
        } else if (line.starts_with(kBinHexBanner)) {
            size_t start = FindBinHexStart(text.substr(pos));
            if (start == text.npos) {
                error = "BinHex data cut short";
                return false;
            }
            start += pos;
            std::optional<BinHexFile> file = DecodeBinHex(text, start, error);
            if (!file) return false;
            // A Linux file has no second fork: a resource fork that holds anything becomes a
            // file of its own beside the data, rather than being dropped.
            std::string resource_name = file->name + ".rsrc";
            out.push_back({std::move(file->name), std::move(file->data)});
            if (!file->resource.empty())
                out.push_back({std::move(resource_name), std::move(file->resource)});
            size_t close = text.find(':', start + 1);
            next = close == text.npos ? text.size() : close + 1;
        }
        pos = next;
    }
    return true;
}

std::optional<std::vector<Attachment>> DecodeMailFile(std::string_view text,
                                                      const std::string& fallback_name,
                                                      std::string& error) {
    if (LooksLikeMimeMessage(text)) return DecodeMimeMessage(text, error);
    std::vector<Attachment> found;
    if (!DecodeBlocksInText(text, found, error)) return std::nullopt;
    if (!found.empty()) return found;
    if (LooksLikeBase64(text)) {
        std::optional<std::string> data = DecodeBase64(text, error);
        if (!data) return std::nullopt;
        found.push_back({fallback_name, std::move(*data)});
        return found;
    }
    error = "no encoded file found";
    return std::nullopt;
}

std::optional<MailForm> ParseMailForm(std::string_view text) {
    if (text == "uu") return MailForm::kUu;
    if (text == "xx") return MailForm::kXx;
    if (text == "base64") return MailForm::kBase64;
    if (text == "mime") return MailForm::kMime;
    return std::nullopt;
}

const char* MailFormExtension(MailForm form) {
    switch (form) {
        case MailForm::kUu:
            return ".uue";
        case MailForm::kXx:
            return ".xxe";
        case MailForm::kBase64:
            return ".b64";
        case MailForm::kMime:
            break;
    }
    return ".eml";
}

std::string EncodeForMail(MailForm form, std::string_view data, std::string_view name,
                          std::string_view content_type) {
    switch (form) {
        case MailForm::kUu:
            return UuEncode(data, name, 0644, UuAlphabet::kUu);
        case MailForm::kXx:
            return UuEncode(data, name, 0644, UuAlphabet::kXx);
        case MailForm::kBase64:
            return EncodeBase64(data);
        case MailForm::kMime:
            break;
    }
    // The subject names the file too: plain when it can be, an encoded word otherwise.
    std::string subject =
        IsAscii(name) ? std::string(name) : "=?UTF-8?B?" + EncodeBase64(name, "") + "?=";
    std::string out = "MIME-Version: 1.0\nSubject: " + subject +
                      "\nContent-Type: multipart/mixed; boundary=\"" + std::string(kBoundary) +
                      "\"\n\nThis is a message in MIME format.\n\n--" + std::string(kBoundary) +
                      "\nContent-Type: text/plain; charset=us-ascii\n"
                      "Content-Transfer-Encoding: 7bit\n\nThe archive is attached.\n\n--" +
                      std::string(kBoundary) + "\nContent-Type: " + std::string(content_type) +
                      "; " + NameParameter("name", name) +
                      "\nContent-Transfer-Encoding: base64\nContent-Disposition: attachment; " +
                      NameParameter("filename", name) + "\n\n";
    out += EncodeBase64(data);
    out += "\n--" + std::string(kBoundary) + "--\n";
    return out;
}

}  // namespace mail
