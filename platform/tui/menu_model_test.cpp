#include "platform/tui/menu_model.h"

#include <gtest/gtest.h>

namespace tui {
namespace {

MenuItem Item(std::string text, int command) {
    MenuItem m;
    m.text = std::move(text);
    m.command = command;
    return m;
}

MenuItem Menu(std::string text, std::vector<MenuItem> items) {
    MenuItem m;
    m.text = std::move(text);
    m.items = std::move(items);
    return m;
}

std::vector<MenuItem> Bar() {
    MenuItem disabled = Item("&Disabled", 9);
    disabled.enabled = false;
    return {
        Menu("&File", {Item("&Connect", 101), Item("S&etup...\tAlt+E", 102), MenuItem::Separator(),
                       Item("E&xit", 104)}),
        Menu("&Tools",
             {Menu("&More", {Item("&Aliases...", 107), Item("&Popups...", 108)}), disabled}),
        Menu("&Help", {Item("&Contents", 121)}),
    };
}

TEST(MenuTextTest, LabelsShortcutsAndLetters) {
    EXPECT_EQ(MenuLabel("S&etup...\tAlt+E"), "Setup...");
    EXPECT_EQ(MenuShortcut("S&etup...\tAlt+E"), "Alt+E");
    EXPECT_EQ(MenuMnemonic("S&etup..."), U'e');
    EXPECT_EQ(MnemonicColumn("S&etup..."), 1);
    EXPECT_EQ(MenuLabel("Fish && &Chips"), "Fish & Chips");
    EXPECT_EQ(MenuMnemonic("Fish && &Chips"), U'c');
    EXPECT_EQ(MnemonicColumn("Fish && &Chips"), 7);
    EXPECT_EQ(MenuMnemonic("No letter"), 0u);
    EXPECT_EQ(MenuMnemonic("Trailing&"), 0u);
}

TEST(MenuStateTest, AltLetterOpensAndLettersChoose) {
    auto bar = Bar();
    MenuState m;
    m.bar = &bar;
    EXPECT_FALSE(m.OpenByLetter(U'z'));
    ASSERT_TRUE(m.OpenByLetter(U'F'));
    EXPECT_EQ(m.path, (std::vector<size_t>{0, 0}));
    const MenuResult r = m.HandleKey(MakeKey(U'e'));
    EXPECT_EQ(r.kind, MenuResult::kCommand);
    EXPECT_EQ(r.command, 102);
    EXPECT_FALSE(m.IsOpen());
}

TEST(MenuStateTest, ArrowsSkipSeparatorsAndWrapAcrossTheBar) {
    auto bar = Bar();
    MenuState m;
    m.bar = &bar;
    m.Open(0);
    m.HandleKey(MakeKey(kKeyDown));
    m.HandleKey(MakeKey(kKeyDown));  // over the separator
    EXPECT_EQ(m.path[1], 3u);
    m.HandleKey(MakeKey(kKeyDown));  // wraps to the top
    EXPECT_EQ(m.path[1], 0u);
    m.HandleKey(MakeKey(kKeyLeft));  // from File to Help
    EXPECT_EQ(m.path[0], 2u);
    m.HandleKey(MakeKey(kKeyRight));
    EXPECT_EQ(m.path[0], 0u);
    EXPECT_EQ(m.HandleKey(MakeKey(kKeyEscape)).kind, MenuResult::kClosed);
}

TEST(MenuStateTest, NestedPopupsOpenAndClose) {
    auto bar = Bar();
    MenuState m;
    m.bar = &bar;
    m.Open(1);
    m.HandleKey(MakeKey(kKeyRight));  // opens "More"
    ASSERT_EQ(m.path.size(), 3u);
    ASSERT_NE(m.PopupItems(2), nullptr);
    EXPECT_EQ(m.PopupItems(2)->size(), 2u);
    m.HandleKey(MakeKey(kKeyDown));
    m.HandleKey(MakeKey(kKeyEscape));  // closes only the submenu
    EXPECT_EQ(m.path.size(), 2u);
    m.HandleKey(MakeKey(kKeyEnter));
    const MenuResult r = m.HandleKey(MakeKey(U'p'));
    EXPECT_EQ(r.command, 108);
    // A disabled item does nothing.
    m.Open(1);
    m.HandleKey(MakeKey(kKeyDown));
    EXPECT_EQ(m.HandleKey(MakeKey(kKeyEnter)).kind, MenuResult::kNone);
    EXPECT_TRUE(m.IsOpen());
}

TEST(MenuStateTest, F10HighlightsTheBarFirst) {
    auto bar = Bar();
    MenuState m;
    m.bar = &bar;
    m.OpenBar();
    EXPECT_EQ(m.PopupItems(1), nullptr);
    m.HandleKey(MakeKey(kKeyRight));
    m.HandleKey(MakeKey(kKeyDown));
    ASSERT_NE(m.PopupItems(1), nullptr);
    EXPECT_EQ(m.path[0], 1u);
    EXPECT_NE(FindMenuCommand(bar, 108), nullptr);
    EXPECT_EQ(FindMenuCommand(bar, 555), nullptr);
}

}  // namespace
}  // namespace tui
