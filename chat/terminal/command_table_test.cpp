#include "chat/terminal/command_table.h"

#include <gtest/gtest.h>

#include "chat/terminal/window_menu.h"

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
    WindowMenuFacts facts;
    facts.kind = kKindChannel;
    auto bar = ChatMenus({status, chan}, 8, &facts);
    ASSERT_EQ(bar.size(), 6u);
    EXPECT_EQ(bar[0].text, "&-");  // the active window's own menu comes first
    EXPECT_EQ(tui::MenuLabel(bar[1].text), "File");
    EXPECT_EQ(ChatMenus({status, chan}, 8).size(), 5u);  // no window, no menu of its own
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

// The labels of a menu's items, popups marked with ">" and check marks with "*".
std::vector<std::string> Labels(const tui::MenuItem& menu) {
    std::vector<std::string> out;
    for (const tui::MenuItem& m : menu.items) {
        if (m.separator) {
            out.push_back("-");
            continue;
        }
        std::string label = m.text;
        if (!m.items.empty()) label += ">";
        if (m.checked) label += "*";
        out.push_back(label);
    }
    return out;
}

TEST(WindowMenuTest, ItemsFollowTheWindowsKind) {
    using V = std::vector<std::string>;
    WindowMenuFacts f;
    f.kind = kKindStatus;
    f.logging = true;
    f.beeping = true;  // a status window has no beeping item to show it
    EXPECT_EQ(Labels(WindowMenu(f)),
              (V{"&Window>", "&Buffer>", "&Font", "&Logging*", "-", "&Close"}));
    f.kind = kKindChannel;
    f.logging = false;
    EXPECT_EQ(Labels(WindowMenu(f)),
              (V{"&Window>", "&Buffer>", "&Font", "&Logging", "&Beeping*", "-", "&Close"}));
    f.kind = kKindQuery;
    f.beeping = false;
    EXPECT_EQ(Labels(WindowMenu(f)),
              (V{"&Window>", "&Buffer>", "&Font", "&Logging", "&Beeping", "-", "&Close"}));
    f.kind = kKindFinger;
    EXPECT_EQ(Labels(WindowMenu(f)), (V{"&Buffer>", "&Font", "-", "&Close"}));
    f.kind = kKindTransfer;
    EXPECT_EQ(Labels(WindowMenu(f)), (V{"&Buffer>", "&Font", "-", "&Close"}));
    for (int list : {kKindChannelList, kKindUrlList, kKindNotifyList, kKindLinksList}) {
        f.kind = list;
        EXPECT_EQ(Labels(WindowMenu(f)), (V{"&Font", "-", "&Close"})) << list;
    }

    f.kind = kKindQuery;
    tui::MenuItem menu = WindowMenu(f);
    EXPECT_EQ(Labels(menu.items[0]), (V{"&Reset", "Re&member", "&Forget"}));
    EXPECT_EQ(Labels(menu.items[1]), (V{"&Clear", "&Save"}));
    std::vector<tui::MenuItem> bar = {menu};
    for (int command : {kCmdPlaceReset, kCmdPlaceRemember, kCmdPlaceForget, kCmdBufferClear,
                        kCmdBufferSave, kCmdFont, kCmdLogging, kCmdBeeping})
        EXPECT_NE(tui::FindMenuCommand(bar, command), nullptr) << command;
}

TEST(WindowMenuTest, AltMinusOpensItAndItsNumbersAreItsOwn) {
    WindowSummary status;
    status.id = 7;
    status.name = "Status Window";
    WindowMenuFacts facts;
    std::vector<WindowSummary> windows(50, status);  // the most windows there can be
    std::vector<tui::MenuItem> bar = ChatMenus(windows, 7, &facts);
    tui::MenuState state;
    state.bar = &bar;
    ASSERT_TRUE(state.OpenByLetter(U'-'));
    EXPECT_EQ(state.path[0], 0u);
    EXPECT_EQ(CommandForKey(MakeKey(U'-', true)), 0);
    // No frame command or window entry shares a number with the window's own commands.
    std::vector<tui::MenuItem> frame(bar.begin() + 1, bar.end());
    for (int command = kCmdPlaceForget; command <= kCmdBeeping; ++command)
        EXPECT_EQ(tui::FindMenuCommand(frame, command), nullptr) << command;
    EXPECT_EQ(tui::FindMenuCommand(frame, kCmdCloseWindow), nullptr);
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

TEST(ChatMenusTest, TheConnectItemFollowsTheConnection) {
    const struct {
        LinkState link;
        const char* text;
    } cases[] = {
        {LinkState::kIdle, "&Connect"},
        {LinkState::kConnecting, "&Cancel Connect"},
        {LinkState::kConnected, "Dis&connect"},
    };
    for (const auto& c : cases) {
        auto bar = ChatMenus({}, 0, nullptr, c.link);
        const tui::MenuItem* item = tui::FindMenuCommand(bar, kCmdConnectToggle);
        ASSERT_NE(item, nullptr);
        EXPECT_EQ(item->text, c.text);
        EXPECT_EQ(&bar[0].items[0], item);  // always the File menu's first item
    }
}

TEST(FontDialogTest, SizesOutsideTheRangeAreRefused) {
    const struct {
        const char* text;
        bool allowed;
        int points;
    } cases[] = {
        {"5", true, 5}, {"30", true, 30}, {"12", true, 12},  {"4", false, 0},  {"31", false, 0},
        {"", false, 0}, {"1x", false, 0}, {"007", false, 0}, {"-5", false, 0},
    };
    for (const auto& c : cases) {
        int points = 0;
        EXPECT_EQ(FontSizeAllowed(c.text, points), c.allowed) << c.text;
        if (c.allowed) {
            EXPECT_EQ(points, c.points) << c.text;
        }
    }
}

}  // namespace
}  // namespace chat
