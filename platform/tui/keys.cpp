#include "platform/tui/keys.h"

#include <cstdlib>

namespace tui {

namespace {

constexpr std::u32string_view kPasteEnd = U"\x1b[201~";
// Bytes a CSI sequence may hold before it is given up as garbage.
constexpr size_t kMaxCsi = 32;

// xterm's modifier parameter: 1 + (shift 1 | alt 2 | ctrl 4).
void ApplyModifier(Key& key, int param) {
    if (param < 2) return;
    const int bits = param - 1;
    key.shift = key.shift || (bits & 1);
    key.alt = key.alt || (bits & 2);
    key.ctrl = key.ctrl || (bits & 4);
}

// Extended curses key names ("kLFT3", "kDC5") carry the same modifier number.
std::optional<Key> FromExtendedName(std::string_view name) {
    struct Entry {
        std::string_view prefix;
        char32_t code;
    };
    static constexpr Entry kNames[] = {
        {"kLFT", kKeyLeft},  {"kRIT", kKeyRight}, {"kUP", kKeyUp},      {"kDN", kKeyDown},
        {"kHOM", kKeyHome},  {"kEND", kKeyEnd},   {"kPRV", kKeyPageUp}, {"kNXT", kKeyPageDown},
        {"kDC", kKeyDelete}, {"kIC", kKeyInsert},
    };
    for (const Entry& e : kNames) {
        if (name.size() == e.prefix.size() + 1 && name.substr(0, e.prefix.size()) == e.prefix &&
            name.back() >= '2' && name.back() <= '8') {
            Key key = MakeKey(e.code);
            ApplyModifier(key, name.back() - '0');
            return key;
        }
    }
    return std::nullopt;
}

}  // namespace

std::string KeyName(const Key& key) {
    std::string out;
    if (key.ctrl) out += "Ctrl+";
    if (key.alt) out += "Alt+";
    if (key.shift) out += "Shift+";
    static constexpr const char* kNames[] = {
        "None", "Up",  "Down", "Left",      "Right", "Home", "End", "PgUp",
        "PgDn", "Ins", "Del",  "Backspace", "Enter", "Tab",  "Esc",
    };
    if (key.code >= kKeyNone && key.code <= kKeyEscape) {
        out += kNames[key.code - kKeyNone];
    } else if (key.code >= kKeyF1 && key.code <= kKeyF12) {
        out += "F" + std::to_string(key.code - kKeyF1 + 1);
    } else if (key.code == kKeyPaste) {
        out += "Paste";
    } else if (key.code == kKeyMouse) {
        out += "Mouse";
    } else if (key.code == kKeyResize) {
        out += "Resize";
    } else if (key.code < 0x80) {
        out += static_cast<char>(key.code);
    } else {
        out += "U+" + std::to_string(static_cast<uint32_t>(key.code));
    }
    return out;
}

std::optional<Key> KeyDecoder::FromChar(char32_t c, bool alt) {
    Key key;
    key.alt = alt;
    switch (c) {
        case '\r':
        case '\n':
            key.code = kKeyEnter;
            return key;
        case '\t':
            key.code = kKeyTab;
            return key;
        case 0x08:
        case 0x7F:
            key.code = kKeyBackspace;
            return key;
        case 0:
            key.code = ' ';
            key.ctrl = true;
            return key;
        default:
            break;
    }
    if (c < 0x20) {
        // Ctrl+\ and Ctrl+/ (which terminals send as Ctrl+_) are keys of their own; Ctrl+]
        // and Ctrl+^ are not used.
        if (c == 0x1C || c == 0x1F) {
            key.code = c == 0x1C ? U'\\' : U'/';
            key.ctrl = true;
            return key;
        }
        if (c >= 0x1C) return std::nullopt;
        key.code = c + 0x60;  // Ctrl+A arrives as 1
        key.ctrl = true;
        return key;
    }
    if (c >= 0x80 && c < 0xA0) return std::nullopt;  // stray C1 bytes are never a key
    key.code = c;
    return key;
}

std::optional<Key> KeyDecoder::FromKeycode(const RawInput& in, bool alt) {
    const int32_t v = in.value;
    const CursesCodes& k = codes;
    Key key;
    key.alt = alt;
    auto is = [v](int32_t code) { return code >= 0 && v == code; };
    if (is(k.up))
        key.code = kKeyUp;
    else if (is(k.down))
        key.code = kKeyDown;
    else if (is(k.left))
        key.code = kKeyLeft;
    else if (is(k.right))
        key.code = kKeyRight;
    else if (is(k.home))
        key.code = kKeyHome;
    else if (is(k.end))
        key.code = kKeyEnd;
    else if (is(k.ppage))
        key.code = kKeyPageUp;
    else if (is(k.npage))
        key.code = kKeyPageDown;
    else if (is(k.ic))
        key.code = kKeyInsert;
    else if (is(k.dc))
        key.code = kKeyDelete;
    else if (is(k.backspace))
        key.code = kKeyBackspace;
    else if (is(k.enter))
        key.code = kKeyEnter;
    else if (is(k.btab))
        key.code = kKeyTab, key.shift = true;
    else if (is(k.sic))
        key.code = kKeyInsert, key.shift = true;
    else if (is(k.sdc))
        key.code = kKeyDelete, key.shift = true;
    else if (is(k.sleft))
        key.code = kKeyLeft, key.shift = true;
    else if (is(k.sright))
        key.code = kKeyRight, key.shift = true;
    else if (is(k.shome))
        key.code = kKeyHome, key.shift = true;
    else if (is(k.send))
        key.code = kKeyEnd, key.shift = true;
    else if (is(k.mouse))
        key.code = kKeyMouse;
    else if (is(k.resize))
        key.code = kKeyResize;
    else if (k.f0 >= 0 && v > k.f0 && v <= k.f0 + 48) {
        // Curses numbers Shift+Fn as F(n+12) and Ctrl+Fn as F(n+24).
        const int n = v - k.f0 - 1;
        key.code = kKeyF1 + n % 12;
        key.shift = n / 12 == 1 || n / 12 == 3;
        key.ctrl = n / 12 >= 2;
    } else if (auto ext = FromExtendedName(in.name)) {
        ext->alt = ext->alt || alt;
        return ext;
    } else {
        return std::nullopt;
    }
    return key;
}

std::optional<Key> KeyDecoder::FinishCsi(char32_t final, bool alt) {
    // Parameters: numbers separated by ';'. Intermediate or private bytes mean a sequence
    // that is not a key (a report of some kind): it is dropped.
    int p[3] = {0, 0, 0};
    int count = 0;
    int cur = -1;
    for (char c : params_) {
        if (c >= '0' && c <= '9') {
            cur = (cur < 0 ? 0 : cur) * 10 + (c - '0');
            if (cur > 9999) return std::nullopt;
        } else if (c == ';') {
            if (count < 3) p[count] = cur < 0 ? 0 : cur;
            ++count;
            cur = -1;
        } else {
            return std::nullopt;
        }
    }
    if (count < 3) p[count] = cur < 0 ? 0 : cur;
    ++count;
    Key key;
    key.alt = alt;
    switch (final) {
        case 'A':
            key.code = kKeyUp;
            break;
        case 'B':
            key.code = kKeyDown;
            break;
        case 'C':
            key.code = kKeyRight;
            break;
        case 'D':
            key.code = kKeyLeft;
            break;
        case 'H':
            key.code = kKeyHome;
            break;
        case 'F':
            key.code = kKeyEnd;
            break;
        case 'Z':
            key.code = kKeyTab, key.shift = true;
            break;
        case 'P':
        case 'Q':
        case 'R':
        case 'S':
            // CSI row;col R is a cursor report, not F3: only "1;mod" is a function key.
            if (p[0] > 1) return std::nullopt;
            key.code = kKeyF1 + (final - 'P');
            break;
        case '~':
            switch (p[0]) {
                case 1:
                case 7:
                    key.code = kKeyHome;
                    break;
                case 2:
                    key.code = kKeyInsert;
                    break;
                case 3:
                    key.code = kKeyDelete;
                    break;
                case 4:
                case 8:
                    key.code = kKeyEnd;
                    break;
                case 5:
                    key.code = kKeyPageUp;
                    break;
                case 6:
                    key.code = kKeyPageDown;
                    break;
                case 11:
                case 12:
                case 13:
                case 14:
                case 15:
                    key.code = kKeyF1 + (p[0] == 15 ? 4 : p[0] - 11);
                    break;
                case 17:
                case 18:
                case 19:
                case 20:
                case 21:
                    key.code = kKeyF1 + 5 + (p[0] - 17);
                    break;
                case 23:
                case 24:
                    key.code = kKeyF1 + 10 + (p[0] - 23);
                    break;
                case 200:
                    state_ = State::kPaste;
                    paste_.clear();
                    paste_match_ = 0;
                    return std::nullopt;
                default:
                    return std::nullopt;
            }
            break;
        default:
            return std::nullopt;
    }
    if (count >= 2) ApplyModifier(key, p[1]);
    return key;
}

std::optional<Key> KeyDecoder::FeedPaste(char32_t c) {
    if (c == kPasteEnd[paste_match_]) {
        if (++paste_match_ == kPasteEnd.size()) {
            state_ = State::kNormal;
            Key key;
            key.code = kKeyPaste;
            key.text = std::move(paste_);
            paste_.clear();
            return key;
        }
        return std::nullopt;
    }
    if (paste_match_ > 0) {
        // A partial end marker was text after all.
        for (size_t i = 0; i < paste_match_; ++i) {
            if (paste_.size() < kMaxPaste) paste_.push_back(kPasteEnd[i]);
        }
        paste_match_ = 0;
        if (c == kPasteEnd[0]) {
            paste_match_ = 1;
            return std::nullopt;
        }
    }
    if (paste_.size() < kMaxPaste) paste_.push_back(c);
    return std::nullopt;
}

std::optional<Key> KeyDecoder::Feed(const RawInput& in) {
    if (state_ == State::kPaste) {
        // Curses may translate part of the pasted text into key codes; Enter is all that
        // matters in a paste, everything else of that kind is dropped.
        if (in.is_keycode) {
            if (codes.enter >= 0 && in.value == codes.enter) return FeedPaste(U'\n');
            return std::nullopt;
        }
        return FeedPaste(static_cast<char32_t>(in.value));
    }
    if (in.is_keycode) {
        const bool alt = state_ == State::kEscape;
        state_ = State::kNormal;
        return FromKeycode(in, alt);
    }
    const auto c = static_cast<char32_t>(in.value);
    switch (state_) {
        case State::kNormal:
            if (c == 0x1B) {
                state_ = State::kEscape;
                csi_alt_ = false;
                return std::nullopt;
            }
            return FromChar(c, false);
        case State::kEscape:
            if (c == '[' || c == 'O') {
                state_ = c == '[' ? State::kCsi : State::kSs3;
                params_.clear();
                return std::nullopt;
            }
            if (c == 0x1B) {
                if (!csi_alt_) {
                    // ESC ESC: either Alt+Esc or Alt plus a sequence that follows.
                    csi_alt_ = true;
                    return std::nullopt;
                }
                return MakeKey(kKeyEscape, true);
            }
            state_ = State::kNormal;
            return FromChar(c, true);
        case State::kCsi:
            if (c >= 0x40 && c <= 0x7E) {
                state_ = State::kNormal;
                return FinishCsi(c, csi_alt_);
            }
            if (c < 0x20 || c > 0x7E) {
                // Not a sequence after all: drop what was held.
                state_ = State::kNormal;
                params_.clear();
                return std::nullopt;
            }
            if (params_.size() >= kMaxCsi) {
                // A runaway sequence: swallow it up to its final byte.
                state_ = State::kDiscard;
                params_.clear();
                return std::nullopt;
            }
            params_.push_back(static_cast<char>(c));
            return std::nullopt;
        case State::kSs3: {
            state_ = State::kNormal;
            params_.clear();
            if (c >= 0x40 && c <= 0x7E) return FinishCsi(c, csi_alt_);
            return std::nullopt;
        }
        case State::kDiscard:
            if (c < 0x20) {
                state_ = State::kNormal;
                return FromChar(c, false);
            }
            if (c >= 0x40 && c <= 0x7E) state_ = State::kNormal;
            return std::nullopt;
        case State::kPaste:
            break;
    }
    return std::nullopt;
}

std::optional<Key> KeyDecoder::Flush() {
    if (state_ == State::kEscape) {
        state_ = State::kNormal;
        return MakeKey(kKeyEscape, csi_alt_);
    }
    if (state_ == State::kDiscard) {
        state_ = State::kNormal;
        return std::nullopt;
    }
    if (state_ == State::kCsi || state_ == State::kSs3) {
        // ESC [ or ESC O alone is Alt+[ or Alt+O; a longer cut-off sequence is dropped.
        const bool lone = params_.empty();
        const char32_t letter = state_ == State::kCsi ? U'[' : U'O';
        state_ = State::kNormal;
        params_.clear();
        if (lone) return MakeKey(letter, true);
        return std::nullopt;
    }
    return std::nullopt;
}

}  // namespace tui
