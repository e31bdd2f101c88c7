#include "platform/tui/clipboard.h"

#include <gtest/gtest.h>

namespace tui {
namespace {

TEST(ClipboardTest, Base64AndTheTerminalSequence) {
    EXPECT_EQ(Base64(""), "");
    EXPECT_EQ(Base64("f"), "Zg==");
    EXPECT_EQ(Base64("fo"), "Zm8=");
    EXPECT_EQ(Base64("foo"), "Zm9v");
    EXPECT_EQ(Base64(std::string("\xff\x00\x80", 3)), "/wCA");
    // Control bytes in the text never appear raw inside the sequence.
    const std::string seq = ClipboardSequence("a\x07\x1b]b");
    EXPECT_EQ(seq, "\x1b]52;c;YQcbXWI=\x07");
    EXPECT_EQ(ClipboardSequence(std::string(200000, 'x')), "");
    SetClipboard("kept");  // no screen: only the internal copy
    EXPECT_EQ(GetClipboard(), "kept");
    RememberClipboard("pasted");
    EXPECT_EQ(GetClipboard(), "pasted");
}

}  // namespace
}  // namespace tui
