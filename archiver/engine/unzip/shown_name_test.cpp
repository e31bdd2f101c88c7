#include "archiver/engine/unzip/shown_name.h"

#include <gtest/gtest.h>

namespace engine {
namespace {

TEST(ShownNameTest, EveryControlCharacterOfANameIsSpeltOut) {
    const struct {
        const char* name;
        const char* shown;
    } kCases[] = {
        {"a\nb.txt", "a^Jb.txt"},
        {"tab\there\r", "tab^Ihere^M"},
        {"esc\x1b[2J\x7f", "esc^[[2J^?"},
        {"csi\xc2\x9b"
         "2J",
         "csiM-^[2J"},
        {"caf\xc3\xa9 \xc2\xa9", "caf\xc3\xa9 \xc2\xa9"},
        {"end\xc2", "end\xc2"},
    };
    for (const auto& c : kCases) EXPECT_EQ(ShownName(c.name), c.shown) << c.name;
    // Message text keeps the line ends it means.
    EXPECT_EQ(SpellControls("line\r\nnext\tcol\x07", true), "line\nnext\tcol^G");
}

}  // namespace
}  // namespace engine
