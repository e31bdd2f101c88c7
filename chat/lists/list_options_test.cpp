#include "chat/lists/list_options.h"

#include <cstdio>

#include "chat/core/frame.h"
#include "chat/core/options.h"
#include "chat/core/session/session_state.h"
#include "chat/core/windows/window_table.h"
#include "chat/lists/lists_fixture.h"
#include "platform/profile.h"

namespace chat {
namespace {

class ListOptionsTest : public ListsTest {
protected:
    void SetUp() override {
        ListsTest::SetUp();
        ini = ::testing::TempDir() + "list_options_test.ini";
        std::remove(ini.c_str());
        Options().szINI = ini;
        CurrentFrontend().beep = [this] { ++beeps; };
    }
    void TearDown() override {
        ListOptionsDialog() = nullptr;
        std::remove(ini.c_str());
        ListsTest::TearDown();
    }
    // A "Channels List" window holding these listing lines.
    WindowId ListWindow(const std::vector<std::string>& lines) {
        WindowId w = MakeNewWindow("Channels List", false);
        for (const std::string& l : lines) aline(RecordOf(w)->lines, l, false);
        return w;
    }
    std::vector<std::string> Shown(WindowId w) {
        std::vector<std::string> out;
        for (const BufferLine& b : RecordOf(w)->buffer) out.push_back(b.text);
        return out;
    }
    // Rows as the buffer shows them: tabs become blanks.
    static std::vector<std::string> AsShown(std::vector<std::string> rows) {
        for (std::string& row : rows)
            for (char& ch : row)
                if (ch == '\t') ch = ' ';
        return rows;
    }
    std::string ini;
    int beeps = 0;
};

TEST_F(ListOptionsTest, StoringClampsBoundsLowersTextsAndSaves) {
    struct Case {
        const char* min;
        const char* max;
        int want_min, want_max;
    } cases[] = {{"-5", "2000", 0, 999}, {"50", "10", 50, 50}, {"", "", 0, 999},
                 {"x", "7", 0, 7},       {"3", "7", 3, 7},     {"99999999999", "1", 999, 999}};
    for (const Case& c : cases) {
        ListOptions o = CurrentListOptions();
        o.min = c.min;
        o.max = c.max;
        StoreListOptions(o);
        EXPECT_EQ(Options().listmin, c.want_min) << c.min << " " << c.max;
        EXPECT_EQ(Options().listmax, c.want_max) << c.min << " " << c.max;
    }
    ListOptions o = CurrentListOptions();
    o.match = "Linux";
    o.exclusion = "Warez SPAM";
    o.exclude = o.hnanc = true;
    StoreListOptions(o);
    o.match = "chat";
    StoreListOptions(o);
    ResetFolder();
    loadcparms();
    const ListOptions back = CurrentListOptions();
    EXPECT_EQ(back.recent, (std::vector<std::string>{"chat", "linux"}));
    EXPECT_EQ(back.exclusion, "warez spam");
    EXPECT_TRUE(back.exclude);
    // Words that cannot be stored scrambled are refused with a message, the old ones kept.
    o.exclusion = "caf\xc3\xa9";
    StoreListOptions(o);
    EXPECT_EQ(Folder().xliststr, "warez spam");
    EXPECT_TRUE(Printed("*** The exclusion words may hold only printable ASCII"));
    // Clear with text in the field forgets only the current text; with an empty field, all.
    ClearMatchText(false);
    EXPECT_EQ(Folder().liststr, "");
    EXPECT_EQ(Folder().szcparms.size(), 2u);
    ClearMatchText(true);
    ResetFolder();
    loadcparms();
    EXPECT_TRUE(Folder().szcparms.empty());
}

TEST_F(ListOptionsTest, LockNeedsFiveCharactersAndUnlockTheExactPassword) {
    EXPECT_NE(LockListOptions("abcd", "abcd"), "");
    EXPECT_FALSE(OptionsLocked());
    EXPECT_NE(LockListOptions("abcde", "abcdf"), "");
    EXPECT_EQ(LockListOptions("abcde", "abcde"), "");
    EXPECT_TRUE(OptionsLocked());
    EXPECT_NE(platform::GetPrivateProfileString("ChannelsList", "lock", "", 64, ini), "");
    ResetFolder();
    loadcparms();
    EXPECT_TRUE(OptionsLocked());
    EXPECT_FALSE(UnlockListOptions("ABCDE"));
    EXPECT_FALSE(UnlockListOptions(""));
    EXPECT_TRUE(OptionsLocked());
    EXPECT_TRUE(UnlockListOptions("abcde"));
    EXPECT_FALSE(OptionsLocked());
    EXPECT_EQ(platform::GetPrivateProfileString("ChannelsList", "lock", "", 64, ini), "");
}

TEST_F(ListOptionsTest, RelistFiltersTheLinesTheWindowHolds) {
    const std::vector<std::string> lines = {" #zeta\t5\tLinux talk", " #alpha\t50\tchat",
                                            " #_odd\t7\tlinux", " #spam\t9\tlinux warez",
                                            " #beta\t1"};
    struct Case {
        const char* what;
        std::string match, exclusion;
        bool matchtext, exclude, hnanc, dscl;
        int min, max;
        std::vector<std::string> want;
    } cases[] = {
        {"everything, sorted",
         "",
         "",
         false,
         false,
         false,
         false,
         0,
         999,
         {" #_odd\t7\tlinux", " #alpha\t50\tchat", " #beta\t1", " #spam\t9\tlinux warez",
          " #zeta\t5\tLinux talk"}},
        {"in listing order", "", "", false, false, false, true, 0, 999, lines},
        {"user bounds",
         "",
         "",
         false,
         false,
         false,
         true,
         5,
         9,
         {" #zeta\t5\tLinux talk", " #_odd\t7\tlinux", " #spam\t9\tlinux warez"}},
        {"match in names only", "linux", "", false, false, false, true, 0, 999, {}},
        {"match in topics, excluded words, alphanumeric",
         "linux",
         "warez",
         true,
         true,
         true,
         true,
         0,
         999,
         {" #zeta\t5\tLinux talk"}},
        {"exclusion words unused when off",
         "linux",
         "warez",
         true,
         false,
         false,
         true,
         0,
         999,
         {" #zeta\t5\tLinux talk", " #_odd\t7\tlinux", " #spam\t9\tlinux warez"}},
    };
    WindowId w = ListWindow(lines);
    for (const Case& c : cases) {
        Folder().liststr = c.match;
        Folder().xliststr = c.exclusion;
        ChatOptions& o = Options();
        o.matchtext = c.matchtext;
        o.exclude = c.exclude;
        o.hnanc = c.hnanc;
        o.dscl = c.dscl;
        o.listmin = c.min;
        o.listmax = c.max;
        EXPECT_TRUE(RelistChannels());
        EXPECT_EQ(Shown(w), AsShown(c.want)) << c.what;
        EXPECT_EQ(RecordOf(w)->topic,
                  std::to_string(c.want.size()) + "/" + std::to_string(lines.size()) + " Channels")
            << c.what;
    }
    closewindow(w);
    EXPECT_FALSE(RelistChannels());
    EXPECT_EQ(beeps, 1);
}

TEST_F(ListOptionsTest, FrameCommandListsRelistsOrBeeps) {
    std::vector<bool> asked;
    std::optional<ListOptionsChoice> answer;
    ListOptionsDialog() = [&](const ListOptions&, bool relist) {
        asked.push_back(relist);
        return answer;
    };
    // Connected, elsewhere than the list window: List! sends LIST with the stored filter.
    answer = ListOptionsChoice{ListOptionsChoice::kListOrRelist, CurrentListOptions()};
    answer->options.match = "Linux";
    sent.clear();
    RunFrameCommand(kCmdListParams);
    EXPECT_EQ(sent, std::vector<std::string>{"LIST"});
    EXPECT_EQ(Session().list_match, std::vector<std::string>{"linux"});
    // OK only stores.
    answer->action = ListOptionsChoice::kStore;
    answer->options.match = "chat";
    sent.clear();
    RunFrameCommand(kCmdListParams);
    EXPECT_TRUE(sent.empty());
    EXPECT_EQ(Folder().liststr, "chat");
    // The close box stores nothing.
    answer.reset();
    RunFrameCommand(kCmdListParams);
    EXPECT_EQ(Folder().liststr, "chat");
    // From the list window the button filters again.
    WindowId w = ListWindow({" #chat\t3", " #other\t4"});
    SetActiveWindow(w);
    answer = ListOptionsChoice{ListOptionsChoice::kListOrRelist, CurrentListOptions()};
    RunFrameCommand(kCmdListParams);
    EXPECT_EQ(Shown(w), std::vector<std::string>{" #chat 3"});
    EXPECT_EQ(asked, (std::vector<bool>{false, false, false, true}));
    // Not connected and not in the list window: a beep, no dialog.
    SetActiveWindow(Windows().statwin);
    Conn().Connected = false;
    RunFrameCommand(kCmdListParams);
    EXPECT_EQ(asked.size(), 4u);
    EXPECT_EQ(beeps, 1);
}

}  // namespace
}  // namespace chat
