#include "archiver/shell/terminal_text.h"

#include <gtest/gtest.h>

namespace shell {
namespace {

TEST(TerminalTextTest, ControlCharactersAreSpeltOut) {
    EXPECT_EQ(TerminalSafe("a\x1b[31mb\x07\x7f"), "a^[[31mb^G^?");
    EXPECT_EQ(TerminalSafe("line\r\nnext\tcol"), "line\nnext\tcol");
    // C1 controls in UTF-8 (CSI is U+009B); other two-byte characters pass.
    EXPECT_EQ(TerminalSafe("x\xc2\x9b"
                           "2Jy"),
              "xM-^[2Jy");
    EXPECT_EQ(TerminalSafe("\xc2\x80\xc2\x9f"), "M-^@M-^?");
    EXPECT_EQ(TerminalSafe("caf\xc3\xa9 \xc2\xa9"), "caf\xc3\xa9 \xc2\xa9");
    EXPECT_EQ(TerminalSafe("end\xc2"), "end\xc2");
}

}  // namespace
}  // namespace shell
