#include "chat/terminal/irc_format.h"

namespace chat {

namespace {

constexpr char32_t kBold = 0x02, kColour = 0x03, kReset = 0x0F, kReverse = 0x16, kItalic = 0x1D,
                   kUnderline = 0x1F, kStrike = 0x1E, kMono = 0x11;

bool Digit(char32_t c) {
    return c >= U'0' && c <= U'9';
}

// Reads up to two digits at text[i]; returns the number or -1.
int Number(const std::u32string& text, size_t& i) {
    if (i >= text.size() || !Digit(text[i])) return -1;
    int n = static_cast<int>(text[i++] - U'0');
    if (i < text.size() && Digit(text[i])) n = n * 10 + static_cast<int>(text[i++] - U'0');
    return n;
}

}  // namespace

uint8_t IrcColour(int number) {
    static constexpr uint8_t kMap[16] = {15, 0, 4, 2, 9, 1, 5, 3, 11, 10, 6, 14, 12, 13, 8, 7};
    if (number < 0 || number >= 99) return tui::kDefaultColor;
    return kMap[number % 16];
}

tui::StyledLine IrcLine(std::string_view bytes, tui::Style base) {
    const std::u32string text = tui::DecodeText(bytes);
    tui::StyledLine line;
    line.reserve(text.size());
    tui::Style style = base;
    size_t run = 0;  // start of the plain text not yet appended
    auto flush = [&](size_t end) {
        if (end > run)
            tui::AppendText(line, std::u32string_view(text).substr(run, end - run), style);
    };
    for (size_t i = 0; i < text.size();) {
        const char32_t c = text[i];
        if (c != kBold && c != kColour && c != kReset && c != kReverse && c != kItalic &&
            c != kUnderline && c != kStrike && c != kMono) {
            ++i;
            continue;
        }
        flush(i);
        ++i;
        switch (c) {
            case kBold:
                style.flags ^= tui::kBold;
                break;
            case kReverse:
                style.flags ^= tui::kReverse;
                break;
            case kItalic:
                style.flags ^= tui::kItalic;
                break;
            case kUnderline:
                style.flags ^= tui::kUnderline;
                break;
            case kReset:
                style = base;
                break;
            case kColour: {
                const int fg = Number(text, i);
                if (fg < 0) {
                    style.fg = base.fg;  // a bare colour code ends the colours
                    style.bg = base.bg;
                    break;
                }
                style.fg = fg == 99 ? base.fg : IrcColour(fg);
                if (i + 1 < text.size() && text[i] == U',' && Digit(text[i + 1])) {
                    ++i;
                    const int bg = Number(text, i);
                    style.bg = bg == 99 ? base.bg : IrcColour(bg);
                }
                break;
            }
            default:
                break;  // strike-through and monospace: no terminal attribute, dropped
        }
        run = i;
    }
    flush(text.size());
    return line;
}

}  // namespace chat
