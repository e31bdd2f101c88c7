#include "platform/tui/keys.h"

#include <gtest/gtest.h>

#include <vector>

namespace tui {
namespace {

constexpr int32_t kCursesLeft = 260, kCursesEnter = 343, kCursesF0 = 264;

std::vector<Key> Decode(KeyDecoder& d, std::string_view bytes, bool flush = true) {
    std::vector<Key> keys;
    for (char c : bytes) {
        if (auto k = d.Feed(RawInput{false, static_cast<unsigned char>(c), {}})) keys.push_back(*k);
    }
    if (flush) {
        if (auto k = d.Flush()) keys.push_back(*k);
    }
    return keys;
}

std::vector<std::string> Names(const std::vector<Key>& keys) {
    std::vector<std::string> out;
    for (const Key& k : keys) out.push_back(KeyName(k));
    return out;
}

TEST(KeyDecoderTest, EscapeIsAltPrefixOrTheKeyAlone) {
    KeyDecoder d;
    EXPECT_EQ(Names(Decode(d,
                           "\x1b"
                           "1")),
              std::vector<std::string>{"Alt+1"});
    EXPECT_EQ(Names(Decode(d, "\x1b")), std::vector<std::string>{"Esc"});
    EXPECT_EQ(Names(Decode(d, "\x1bO")), std::vector<std::string>{"Alt+O"});
    EXPECT_EQ(Names(Decode(d, "\x0e\x10")), (std::vector<std::string>{"Ctrl+n", "Ctrl+p"}));
    // Ctrl+\ and Ctrl+/ (sent as 0x1F) are keys; Ctrl+] and Ctrl+^ are dropped.
    EXPECT_EQ(Names(Decode(d, "\x1c\x1d\x1e\x1f")),
              (std::vector<std::string>{"Ctrl+\\", "Ctrl+/"}));
    EXPECT_EQ(Names(Decode(d, "\r\t\x7f")),
              (std::vector<std::string>{"Enter", "Tab", "Backspace"}));
}

TEST(KeyDecoderTest, SequencesBecomeKeysAndUnknownOnesVanish) {
    KeyDecoder d;
    EXPECT_EQ(Names(Decode(d, "\x1b[1;3D\x1b[1;3C\x1b[5;5~\x1b[6~\x1b[Z\x1bOP\x1b[15~\x1b[1;5H")),
              (std::vector<std::string>{"Alt+Left", "Alt+Right", "Ctrl+PgUp", "PgDn", "Shift+Tab",
                                        "F1", "F5", "Ctrl+Home"}));
    // Reports and unknown sequences never turn into typed characters.
    EXPECT_TRUE(Decode(d, "\x1b[?1;2c\x1b[12;40R\x1b[99x").empty());
    // A runaway sequence is given up, and typing goes on after it.
    EXPECT_EQ(Names(Decode(d, "\x1b[" + std::string(100, '1') + "\x01")),
              std::vector<std::string>{"Ctrl+a"});
    // ESC ESC [ D from terminals that send Alt as a prefix to a sequence.
    EXPECT_EQ(Names(Decode(d, "\x1b\x1b[D")), std::vector<std::string>{"Alt+Left"});
}

TEST(KeyDecoderTest, BracketedPasteCollectsTextVerbatim) {
    KeyDecoder d;
    auto keys = Decode(d, "\x1b[200~line one\r\n\x1b[2line two\x1b[201~x", false);
    ASSERT_EQ(keys.size(), 2u);
    EXPECT_EQ(keys[0].code, kKeyPaste);
    EXPECT_EQ(keys[0].text, U"line one\r\n\x1b[2line two");
    EXPECT_EQ(keys[1].code, U'x');
    // A paste waits for its end marker across pauses, and is bounded.
    Decode(d, "\x1b[200~abc");
    EXPECT_TRUE(d.InPaste());
    keys = Decode(d, std::string(KeyDecoder::kMaxPaste + 10, 'z') + "\x1b[201~");
    ASSERT_EQ(keys.size(), 1u);
    EXPECT_EQ(keys[0].text.size(), KeyDecoder::kMaxPaste);
}

TEST(KeyDecoderTest, CursesKeycodesAndExtendedNames) {
    KeyDecoder d;
    d.codes.left = kCursesLeft;
    d.codes.enter = kCursesEnter;
    d.codes.f0 = kCursesF0;
    EXPECT_EQ(KeyName(*d.Feed({true, kCursesLeft, {}})), "Left");
    EXPECT_EQ(KeyName(*d.Feed({true, kCursesF0 + 5, {}})), "F5");
    EXPECT_EQ(KeyName(*d.Feed({true, kCursesF0 + 12 + 2, {}})), "Shift+F2");
    EXPECT_EQ(KeyName(*d.Feed({true, kCursesF0 + 24 + 3, {}})), "Ctrl+F3");
    EXPECT_EQ(KeyName(*d.Feed({true, 600, "kLFT3"})), "Alt+Left");
    EXPECT_EQ(KeyName(*d.Feed({true, 601, "kNXT5"})), "Ctrl+PgDn");
    EXPECT_FALSE(d.Feed({true, 602, "kWHAT"}).has_value());
    // Escape then a key code: Alt plus that key.
    EXPECT_FALSE(d.Feed({false, 0x1b, {}}).has_value());
    EXPECT_EQ(KeyName(*d.Feed({true, kCursesLeft, {}})), "Alt+Left");
}

}  // namespace
}  // namespace tui
