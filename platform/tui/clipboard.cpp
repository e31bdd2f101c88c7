#include "platform/tui/clipboard.h"

#include <cstdio>

#include "platform/tui/screen.h"

namespace tui {

namespace {

constexpr size_t kMaxClipboardBytes = 100000;

std::string& Stored() {
    static std::string text;
    return text;
}

}  // namespace

std::string Base64(std::string_view bytes) {
    static constexpr char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const uint32_t v = (static_cast<unsigned char>(bytes[i]) << 16) |
                           (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                           static_cast<unsigned char>(bytes[i + 2]);
        out += kDigits[v >> 18];
        out += kDigits[(v >> 12) & 63];
        out += kDigits[(v >> 6) & 63];
        out += kDigits[v & 63];
    }
    if (i < bytes.size()) {
        uint32_t v = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        out += kDigits[v >> 18];
        out += kDigits[(v >> 12) & 63];
        out += i + 1 < bytes.size() ? kDigits[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

std::string ClipboardSequence(std::string_view utf8) {
    if (utf8.size() > kMaxClipboardBytes) return {};
    // Base64 carries no control bytes, so the text cannot end the sequence early.
    return "\x1b]52;c;" + Base64(utf8) + "\x07";
}

void SetClipboard(std::string_view utf8) {
    Stored().assign(utf8);
    if (!GetScreen().active) return;
    const std::string seq = ClipboardSequence(utf8);
    if (seq.empty()) return;
    std::fwrite(seq.data(), 1, seq.size(), stdout);
    std::fflush(stdout);
}

void RememberClipboard(std::string_view utf8) {
    Stored().assign(utf8);
}

const std::string& GetClipboard() {
    return Stored();
}

}  // namespace tui
