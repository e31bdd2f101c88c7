#include "chat/script/popup_menus.h"

#include <cstdio>

#include "chat/core/options.h"
#include "chat/script/script_fixture.h"
#include "platform/profile.h"

namespace chat {
namespace {

class PopupTest : public ScriptTest {
protected:
    void SetUp() override {
        ScriptTest::SetUp();
        ResetPopups();
        InstallPopups();
    }
    void TearDown() override {
        ResetPopups();
        ScriptTest::TearDown();
    }
    static LineList Lines(std::initializer_list<const char*> lines) {
        LineList out;
        for (const char* l : lines) aline(out, l, false);
        return out;
    }
    // The menu as text: items "text=id", separators "-", submenus "text[...]".
    static std::string Shape(const std::vector<PopupEntry>& items) {
        std::string out;
        for (const PopupEntry& e : items) {
            if (!out.empty()) out += " ";
            if (e.separator)
                out += "-";
            else if (!e.items.empty())
                out += e.text + "[" + Shape(e.items) + "]";
            else
                out += e.text + "=" + std::to_string(e.id);
        }
        return out;
    }
    static std::string Shape(const std::optional<PopupMenu>& menu) {
        return menu ? Shape(menu->items) : "(none)";
    }
};

TEST_F(PopupTest, DefinitionLinesMakeMenus) {
    struct Case {
        std::initializer_list<const char*> lines;
        const char* shape;
    } cases[] = {
        {{"Info", ".Whois:/whois $1"}, "Info[Whois=1]"},
        {{"Info", "Whois:/whois $1"}, "Whois=1"},
        {{"A:/a", "-", "B:/b"}, "A=0 - B=2"},
        {{"Sub", ".A:/a", ".-", ".B:/b", "C:/c"}, "Sub[A=1 - B=3] C=4"},
        {{"Top", ".Mid", "..Deep:/d", ".Back:/b", "Out:/o"}, "Top[Mid[Deep=2] Back=3] Out=4"},
        {{"Empty", ".-", "X:/x"}, "X=2"},
        {{"  Spaced :  /cmd"}, "Spaced =0"},
        {{":/no text"}, "(none)"},
        {{"-"}, "(none)"},
        {{"A:/a", "", "B:/b"}, "A=0"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Shape(BuildPopup(Lines(c.lines), 0)), c.shape) << *c.lines.begin();
}

TEST_F(PopupTest, OnlyThreeHundredLinesAreRead) {
    LineList lines;
    for (int i = 0; i < 320; ++i)
        aline(lines, "I" + std::to_string(i) + ":/echo " + std::to_string(i), false);
    std::optional<PopupMenu> menu = BuildPopup(lines, kPopupStatusFirst);
    ASSERT_TRUE(menu);
    EXPECT_EQ(menu->items.size(), kMaxPopupLines);
    EXPECT_EQ(menu->items.back().id, kPopupStatusFirst + 299);
}

TEST_F(PopupTest, NickListItemsGetTheSelectedNicks) {
    WindowId chan = Channel("#chan");
    Frontend fe = CurrentFrontend();
    fe.selected_nicks = [](WindowId) { return std::vector<std::string>{"@a", "+b", "c"}; };
    InstallFrontend(fe);
    PopupList(PopupKind::kNickList) = Lines({"Op:/mode # +o $1 $2 $3", "Nothing"});
    Run(chan, "");
    ASSERT_TRUE(ProcessPopupMenu(chan, kPopupNickFirst));
    EXPECT_EQ(sent, std::vector<std::string>{"MODE #chan +o a b c"});
    sent.clear();
    EXPECT_TRUE(ProcessPopupMenu(chan, kPopupNickFirst + 1));  // a line without a command
    EXPECT_TRUE(sent.empty());
    EXPECT_FALSE(ProcessPopupMenu(chan, 2424));
}

TEST_F(PopupTest, QueryAndStatusItems) {
    WindowId query = MakeNewWindow("bob", false);
    PopupList(PopupKind::kQuery) = Lines({"Ping:/ctcp $1 PING"});
    PopupList(PopupKind::kStatus) = Lines({"Lusers:/lusers"});
    ProcessPopupMenu(query, kPopupQueryFirst);
    ProcessPopupMenu(status, kPopupStatusFirst);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].rfind("PRIVMSG bob :\x01PING", 0), 0u);
    EXPECT_EQ(sent[1], "LUSERS");
    // Which menu a window opens, and a switched-off menu opens none.
    EXPECT_EQ(Shape(PopupForWindow(query, false)), "Ping=1524");
    EXPECT_EQ(Shape(PopupForWindow(status, false)), "Lusers=1224");
    Options().qp = 0;
    EXPECT_FALSE(PopupForWindow(query, false));
}

TEST_F(PopupTest, MenuBarTitle) {
    PopupList(PopupKind::kBar) = Lines({"Tools", "Run:/echo ran"});
    std::optional<PopupMenu> menu = MakePopup(PopupKind::kBar);
    ASSERT_TRUE(menu);
    EXPECT_EQ(menu->title, "Tools");
    EXPECT_EQ(Shape(menu), "Run=2124");
    shown.clear();
    ProcessPopupMenu(status, 2124);
    EXPECT_TRUE(Printed("ran"));
    PopupList(PopupKind::kBar) = Lines({"Run:/echo ran", "More:/echo more"});
    EXPECT_EQ(MakePopup(PopupKind::kBar)->title, "User");
    PopupList(PopupKind::kBar) = Lines({"Run:/echo ran"});
    EXPECT_FALSE(MakePopup(PopupKind::kBar));  // one line is not enough for the bar
}

TEST_F(PopupTest, LoadAndSaveThePopupsFile) {
    const std::string path = ::testing::TempDir() + "popups_test.ini";
    std::remove(path.c_str());
    Options().szINI = ::testing::TempDir() + "popups_settings.ini";
    PopupList(PopupKind::kStatus) = Lines({"A:/a", "B:/b"});
    PopupList(PopupKind::kQuery) = Lines({"Q:/q"});
    EXPECT_TRUE(Says(status, "/save -p \"" + path + "\"", "*** Saved popups to " + path));
    ResetPopups();
    EXPECT_TRUE(Says(status, "/load -p \"" + path + "\"", "*** Loaded popups from " + path));
    EXPECT_EQ(PopupList(PopupKind::kStatus).size(), 2u);
    EXPECT_EQ(PopupList(PopupKind::kQuery).front().text, "Q:/q");
    EXPECT_TRUE(Says(status, "/load -p", "*** Invalid parameters"));
    Run(status, "/load -p nothing-here.ini");
    ASSERT_EQ(Texts().size(), 1u);
    EXPECT_EQ(Texts()[0].rfind("*** Unable to /load ", 0), 0u);
    // A section longer than a menu holds is cut, and the user is told.
    std::vector<std::pair<std::string, std::string>> many;
    for (int i = 0; i < 305; ++i) many.emplace_back("mp" + std::to_string(i), "I:/i");
    platform::WriteProfileSection("mPopup", many, path);
    Run(status, "/load -p \"" + path + "\"");
    EXPECT_EQ(PopupList(PopupKind::kStatus).size(), kMaxPopupLines);
    EXPECT_TRUE(Printed("*** mPopup holds 305 lines: popup menus keep the first 300"));
    std::remove(path.c_str());
    std::remove(Options().szINI.c_str());
}

}  // namespace
}  // namespace chat
