#include "chat/terminal/command_table.h"

#include <gtest/gtest.h>

namespace chat {
namespace {

using tui::MakeKey;

TEST(ChatMenusTest, TextsCommandsAndTheWindowList) {
    WindowSummary status;
    status.id = 7;
    status.name = "Status Window";
    WindowSummary chan;
    chan.id = 8;
    chan.name = "#R&D";
    auto bar = ChatMenus({status, chan}, 8);
    ASSERT_EQ(bar.size(), 5u);
    EXPECT_EQ(tui::MenuLabel(bar[0].text), "File");
    tui::MenuItem* setup = tui::FindMenuCommand(bar, kCmdSetup);
    ASSERT_NE(setup, nullptr);
    EXPECT_EQ(setup->text, "S&etup...\tAlt+E");
    ASSERT_NE(tui::FindMenuCommand(bar, kCmdFinger), nullptr);
    EXPECT_EQ(tui::MenuMnemonic(tui::FindMenuCommand(bar, kCmdFinger)->text), U'g');
    tui::MenuItem* second = tui::FindMenuCommand(bar, kCmdFirstWindow + 1);
    ASSERT_NE(second, nullptr);
    EXPECT_TRUE(second->checked);
    EXPECT_EQ(tui::MenuLabel(second->text), "2 #R&D");  // the name's "&" is not a letter
    EXPECT_EQ(tui::MenuMnemonic(second->text), U'2');

    // Each bar menu has its own letter, and none of them is taken by an accelerator.
    for (const tui::MenuItem& m : bar) {
        const char32_t letter = tui::MenuMnemonic(m.text);
        EXPECT_NE(letter, 0u);
        EXPECT_EQ(CommandForKey(MakeKey(letter, true)), 0) << m.text;
    }
}

TEST(CommandKeysTest, AcceleratorsAndScrollKeys) {
    EXPECT_EQ(CommandForKey(MakeKey(U'e', true)), kCmdSetup);
    EXPECT_EQ(CommandForKey(MakeKey(U'l', true)), kCmdListParams);
    EXPECT_EQ(CommandForKey(MakeKey(U'n', true)), kCmdNotifyWindow);
    EXPECT_EQ(CommandForKey(MakeKey(U'e')), 0);  // typing is not a command
    EXPECT_EQ(CommandForKey(MakeKey(tui::kKeyPageUp)), kCmdPageUp);
    EXPECT_EQ(CommandForKey(MakeKey(tui::kKeyPageDown, false, true)), kCmdLineDown);
    EXPECT_EQ(CommandForKey(MakeKey(tui::kKeyHome, false, true)), kCmdTop);
    EXPECT_EQ(CommandForKey(MakeKey(tui::kKeyUp, false, true)), kCmdHistoryPrev);
    EXPECT_EQ(CommandForKey(MakeKey(tui::kKeyInsert, false, false, true)), kCmdPaste);
    EXPECT_EQ(CommandForKey(MakeKey(tui::kKeyHome)), 0);  // plain Home belongs to the input line
}

TEST(CommandKeysTest, FunctionKeyAliasNames) {
    EXPECT_EQ(FunctionKeyAlias(MakeKey(tui::kKeyF1 + 4)), "/F5 ");
    EXPECT_EQ(FunctionKeyAlias(MakeKey(tui::kKeyF1 + 11, false, false, true)), "/sF12 ");
    EXPECT_EQ(FunctionKeyAlias(MakeKey(tui::kKeyF1, false, true)), "/cF1 ");
    EXPECT_EQ(FunctionKeyAlias(MakeKey(U'x')), "");
}

TEST(PastedLinesTest, EachLineRunsAndLongLinesGoInPieces) {
    EXPECT_EQ(PastedLines(U"one\n\ntwo\n", 600), (std::vector<std::string>{"one", "two"}));
    EXPECT_EQ(PastedLines(U"abcdefg", 3), (std::vector<std::string>{"abc", "def", "g"}));
    // Pieces are counted in characters, so a multi-byte character is never cut in two.
    EXPECT_EQ(PastedLines(U"\u4E2D\u6587\u5B57", 2),
              (std::vector<std::string>{"\xE4\xB8\xAD\xE6\x96\x87", "\xE5\xAD\x97"}));
    EXPECT_TRUE(PastedLines(U"\n\n", 600).empty());
}

}  // namespace
}  // namespace chat
