#include "chat/core/windows/window_place.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "chat/core/options.h"
#include "chat/core/windows/window_table.h"
#include "platform/profile.h"

namespace chat {
namespace {

class WindowPlaceTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::ResetEventLoop();
        ResetWindows();
        ResetOptions();
        char tmpl[] = "/tmp/winplaceXXXXXX";
        dir_ = ::mkdtemp(tmpl);
        Options().szINI = dir_ + "/vesk.ini";
        Options().iqw = 0;  // queries open as normal windows, not as icons
        InstallFrontend(Frontend{});
        status_ = Open("Status Window");
    }
    void TearDown() override {
        ResetWindows();
        std::string cmd = "rm -rf '" + dir_ + "'";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
    }
    // A window as the terminal makes it: measured at 80 by 20 cells.
    WindowId Open(const std::string& name) {
        WindowId id = MakeNewWindow(name, false);
        WindowResized(id, 80, 20);
        return id;
    }
    std::string Key(const std::string& key) {
        return platform::GetPrivateProfileString("Windows", key, "", 0, Options().szINI);
    }
    void Write(const std::string& key, const std::string& value) {
        platform::WritePrivateProfileString("Windows", key, value, Options().szINI);
    }
    std::string dir_;
    WindowId status_ = 0;
};

TEST_F(WindowPlaceTest, ReadingPadsMissingNumbersAndAllZerosIsNone) {
    EXPECT_EQ(ParsePlacement("1,2"), (Placement{1, 2, 0, 0, 0}));
    EXPECT_EQ(ParsePlacement("x,5,,7,2,9"), (Placement{0, 5, 0, 7, 2}));
    EXPECT_EQ(ParsePlacement("-3,99999999999,1,1,1").width, 2147483647);
    EXPECT_EQ(FormatPlacement({-3, 80, 2, 20, 0}), "-3,80,2,20,0");

    Placement p{9, 9, 9, 9, 9};
    EXPECT_FALSE(getpos("nothing", p));
    EXPECT_EQ(p, Placement{});
    Write("zeros", "0,0,0,0,0");
    EXPECT_FALSE(getpos("zeros", p));
    Write("short", "4,80");
    ASSERT_TRUE(getpos("short", p));
    EXPECT_EQ(p, (Placement{4, 80, 0, 0, 0}));
    EXPECT_FALSE(getpos("", p));
}

TEST_F(WindowPlaceTest, RememberAndForgetUseTheWindowsOwnKey) {
    savepos(status_);
    EXPECT_EQ(Key("status"), "0,80,0,20,2");  // the status window always fills the screen

    WindowId bob = Open("bob");
    savepos(bob);
    EXPECT_EQ(Key("bob"), "0,80,0,20,0");
    savepos(bob, "wquery");
    EXPECT_EQ(Key("wquery"), "0,80,0,20,0");
    forgetpos(bob);
    EXPECT_EQ(Key("bob"), "");
    EXPECT_EQ(Key("wquery"), "0,80,0,20,0");  // a shared key is not the window's own

    WindowId msg = Open("Message Window");
    savepos(msg);
    EXPECT_EQ(Key("wmessage"), "0,80,0,20,0");
    EXPECT_EQ(Key("Message Window"), "");
    forgetpos(msg);
    EXPECT_EQ(Key("wmessage"), "");
    forgetpos(status_);
    EXPECT_EQ(Key("status"), "");
}

TEST_F(WindowPlaceTest, NothingIsKeptForMinimisedOrUnmeasuredWindows) {
    WindowId icon = Open("ann");
    RecordOf(icon)->minimised = true;
    savepos(icon);
    EXPECT_EQ(Key("ann"), "");
    // Without a screen nothing measured the window: no all-zero entries pile up.
    WindowId headless = MakeNewWindow("carl", false);
    savepos(headless);
    closewindow(headless);
    EXPECT_EQ(Key("carl"), "");
    EXPECT_EQ(Key("wquery"), "");
}

TEST_F(WindowPlaceTest, ClosingSavesUnderTheKeyOfTheWindowsKind) {
    const struct {
        const char* name;
        const char* key;
    } cases[] = {
        {"Channels List", "wlist"},     {"Notify List", "wnotify"},   {"Links List", "wlinks"},
        {"URL List", "wwwwlist"},       {"#chan", "wchannel"},        {"Chat bob", "wchat"},
        {"Serving amy", "wchat"},       {"Finger Window", "wfinger"}, {"dave", "wquery"},
        {"Message Window", "wmessage"}, {"Get file.txt", "wdccsg"},   {"Send x.zip", "wdccsg"},
    };
    for (const auto& c : cases) {
        platform::DeletePrivateProfileSection("Windows", Options().szINI);
        WindowId w = Open(c.name);
        RecordOf(w)->columns = 70;
        ASSERT_TRUE(closewindow(w)) << c.name;
        EXPECT_EQ(Key(c.key), "0,70,0,20,0") << c.name;
        EXPECT_EQ(Key(c.name), "") << c.name;
    }
    EXPECT_FALSE(closewindow(status_));
    EXPECT_EQ(Key("status"), "");
}

TEST_F(WindowPlaceTest, AChannelWithAPlaceOfItsOwnLeavesTheSharedOneAlone) {
    Write("#own", "1,60,2,10,0");
    Write("wchannel", "0,50,0,15,0");
    closewindow(Open("#own"));
    EXPECT_EQ(Key("#own"), "1,60,2,10,0");
    EXPECT_EQ(Key("wchannel"), "0,50,0,15,0");
    closewindow(Open("#other"));
    EXPECT_EQ(Key("wchannel"), "0,80,0,20,0");
}

}  // namespace
}  // namespace chat
