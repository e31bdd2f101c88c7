// Keys as widgets see them, and the decoder that turns terminal input (curses key codes and
// the raw bytes of sequences curses does not know) into them. Escape sequences are always
// consumed here, so none ever reaches a text field.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tui {

/// Key codes beyond Unicode for keys that are not characters.
enum KeyCode : char32_t {
    kKeyNone = 0x110000,
    kKeyUp,
    kKeyDown,
    kKeyLeft,
    kKeyRight,
    kKeyHome,
    kKeyEnd,
    kKeyPageUp,
    kKeyPageDown,
    kKeyInsert,
    kKeyDelete,
    kKeyBackspace,
    kKeyEnter,
    kKeyTab,
    kKeyEscape,
    kKeyF1,  // kKeyF1 + n - 1 is Fn, up to F12
    kKeyF12 = kKeyF1 + 11,
    kKeyPaste,   // bracketed paste: the text is in Key::text
    kKeyMouse,   // a click: position and button in the Key
    kKeyResize,  // the terminal changed size
};

/// Mouse buttons reported in Key::button.
enum MouseButton : uint8_t {
    kMouseLeft = 1,
    kMouseMiddle = 2,
    kMouseRight = 3,
    kWheelUp = 4,
    kWheelDown = 5
};

/// One key press (or paste, click, resize). Ctrl+letter arrives as the lower-case letter
/// with `ctrl` set; Alt+x as x with `alt` set.
struct Key {
    char32_t code = kKeyNone;
    bool alt = false;
    bool ctrl = false;
    bool shift = false;
    std::u32string text;  // pasted text (kKeyPaste)
    int x = 0, y = 0;     // screen cell of a click (kKeyMouse)
    uint8_t button = 0;   // MouseButton
    bool double_click = false;

    /// True for a printable character without Ctrl or Alt.
    bool IsChar() const { return code >= 0x20 && code < kKeyNone && code != 0x7F && !ctrl && !alt; }
    /// True for this code with exactly these modifiers.
    bool Is(char32_t c, bool a = false, bool ct = false, bool sh = false) const {
        return code == c && alt == a && ctrl == ct && shift == sh;
    }
};

/// A Key for a plain code, for tests and synthetic input.
inline Key MakeKey(char32_t code, bool alt = false, bool ctrl = false, bool shift = false) {
    Key k;
    k.code = code;
    k.alt = alt;
    k.ctrl = ctrl;
    k.shift = shift;
    return k;
}

/// A short readable name ("Alt+x", "Ctrl+PgUp", "F5"), for logs and tests.
std::string KeyName(const Key& key);

/// The decoder's input: a character read by get_wch, or a curses key code with its name
/// (keyname(), used for the extended modifier keys such as "kLFT3").
struct RawInput {
    bool is_keycode = false;
    int32_t value = 0;
    std::string_view name;
};

/// Key codes of curses that the decoder maps; the screen fills them from <curses.h> so that
/// this file needs no curses.
struct CursesCodes {
    int32_t up = -1, down = -1, left = -1, right = -1, home = -1, end = -1;
    int32_t ppage = -1, npage = -1, ic = -1, dc = -1, backspace = -1, enter = -1, btab = -1;
    int32_t f0 = -1, sic = -1, sleft = -1, sright = -1, shome = -1, send = -1, sdc = -1;
    int32_t mouse = -1, resize = -1;
};

/// Turns raw input into keys: decodes Escape as the Alt prefix, CSI and SS3 sequences,
/// bracketed paste (at most kMaxPaste code points kept), and drops sequences it does not know.
struct KeyDecoder {
    /// Longest paste kept; the rest of a longer paste is dropped.
    static constexpr size_t kMaxPaste = 65536;

    CursesCodes codes;

    /// Feeds one input; returns a key when one is complete.
    std::optional<Key> Feed(const RawInput& in);
    /// Called when input pauses: a lone Escape becomes the Escape key, a cut-off sequence is
    /// dropped. A paste in progress waits for its end.
    std::optional<Key> Flush();
    /// True while bytes of an escape sequence (not a paste) are held.
    bool Pending() const { return state_ != State::kNormal && state_ != State::kPaste; }
    /// True while a bracketed paste is being collected.
    bool InPaste() const { return state_ == State::kPaste; }

private:
    enum class State { kNormal, kEscape, kCsi, kSs3, kDiscard, kPaste };
    std::optional<Key> FromChar(char32_t c, bool alt);
    std::optional<Key> FromKeycode(const RawInput& in, bool alt);
    std::optional<Key> FinishCsi(char32_t final, bool alt);
    std::optional<Key> FeedPaste(char32_t c);

    State state_ = State::kNormal;
    bool csi_alt_ = false;  // ESC ESC [ ... : Alt plus the sequence's key
    std::string params_;    // CSI parameter and intermediate bytes
    std::u32string paste_;
    size_t paste_match_ = 0;  // characters of the end marker matched so far
};

}  // namespace tui
