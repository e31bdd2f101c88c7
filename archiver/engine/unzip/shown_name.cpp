#include "archiver/engine/unzip/shown_name.h"

namespace engine {

std::string SpellControls(std::string_view text, bool keep_line_ends) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (keep_line_ends && c == '\r') continue;
        if ((keep_line_ends && (c == '\n' || c == '\t')) || (c >= 0x20 && c != 0x7F && c != 0xC2)) {
            out += static_cast<char>(c);
            continue;
        }
        if (c == 0xC2) {
            // U+0080-U+009F in UTF-8: C2 followed by 80-9F. Some terminals take these as
            // control sequences (U+009B starts one), so they are spelt out like the C0 bytes.
            unsigned char next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
            if (next >= 0x80 && next <= 0x9F) {
                out += "M-^";
                out += static_cast<char>(next == 0x9F ? '?' : next - 0x80 + '@');
                ++i;
            } else {
                out += static_cast<char>(c);
            }
            continue;
        }
        out += '^';
        out += static_cast<char>(c == 0x7F ? '?' : c + '@');
    }
    return out;
}

}  // namespace engine
