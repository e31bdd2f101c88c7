#include "chat/core/windows/window_settings.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "chat/core/headless_frontend.h"
#include "chat/core/options.h"
#include "chat/core/windows/window_table.h"
#include "platform/profile.h"

namespace chat {
namespace {

class WindowSettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::ResetEventLoop();
        ResetWindows();
        ResetOptions();
        char tmpl[] = "/tmp/winsetXXXXXX";
        dir_ = ::mkdtemp(tmpl);
        Options().szINI = dir_ + "/vesk.ini";
        InstallFrontend(Frontend{});
        MakeNewWindow("Status Window", false);
    }
    void TearDown() override {
        ResetWindows();
        std::string cmd = "rm -rf '" + dir_ + "'";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
    }
    std::string Key(const std::string& section, const std::string& key) {
        return platform::GetPrivateProfileString(section, key, "", 0, Options().szINI);
    }
    std::string dir_;
};

TEST_F(WindowSettingsTest, FontValuesCarryWeightInTheHundreds) {
    FontChoice f = ParseFontValue("Courier,310");
    EXPECT_EQ(f.face, "Courier");
    EXPECT_EQ(f.weight, 300);
    EXPECT_EQ(f.size, 10);
    f = ParseFontValue("Terminal");
    EXPECT_EQ(f.face, "FixedSys");
    EXPECT_EQ(f.size, 12);
    EXPECT_EQ(ParseFontValue("X,0").size, 12);
}

TEST_F(WindowSettingsTest, ChannelFontsUseTheirOwnKeyThenTheDefault) {
    WindowId a = MakeNewWindow("#a", false);
    ASSERT_TRUE(sf(a, "Mono", 714, false));
    EXPECT_EQ(Key("Fonts", "f#a"), "Mono,714");
    EXPECT_EQ(RecordOf(a)->font_weight, 700);
    closewindow(a);
    WindowId again = MakeNewWindow("#a", false);
    EXPECT_EQ(RecordOf(again)->font_name, "Mono");
    EXPECT_EQ(RecordOf(again)->font_size, -14);
    WindowId b = MakeNewWindow("#b", false);
    EXPECT_EQ(RecordOf(b)->font_name, "FixedSys");
    // The check box makes it every channel's font and drops the channel's own key.
    sf(again, "Wide", 9, true);
    EXPECT_EQ(Key("Fonts", "f#a"), "");
    EXPECT_EQ(Key("Fonts", "fchannel"), "Wide,9");
    EXPECT_EQ(RecordOf(MakeNewWindow("#c", false))->font_name, "Wide");
}

TEST_F(WindowSettingsTest, QueryFontWithoutTheBoxHoldsForThatWindowOnly) {
    WindowId q = MakeNewWindow("bob", false);
    sf(q, "Only", 11, false);
    EXPECT_EQ(RecordOf(q)->font_name, "Only");
    EXPECT_EQ(Key("Fonts", "fquery"), "");
    sf(q, "All", 11, true);
    EXPECT_EQ(Key("Fonts", "fquery"), "All,11");
    WindowId m = MakeNewWindow("Message Window", false);
    sf(m, "Msg", 12, false);
    EXPECT_EQ(Key("Fonts", "fmessage"), "Msg,12");
}

TEST_F(WindowSettingsTest, BeepingFollowsTheLastWordOfTheName) {
    WindowId chat = MakeNewWindow("Chat bob", false);
    WindowId query = MakeNewWindow("bob", false);
    EXPECT_FALSE(RecordOf(query)->beep);  // boqm is off by default
    setbeep(chat);
    EXPECT_EQ(Key("Beeping", "bob"), "on");
    EXPECT_TRUE(RecordOf(query)->beep);
    setbeep(query);
    EXPECT_EQ(Key("Beeping", "bob"), "");
    EXPECT_FALSE(RecordOf(chat)->beep);
    setbeep(chat);
    EXPECT_TRUE(RecordOf(MakeNewWindow("Serving bob", false))->beep);
}

TEST_F(WindowSettingsTest, ClearingAsksFirstUnlessQuiet) {
    WindowId chan = MakeNewWindow("#a", false);
    auto fill = [chan] {
        RecordOf(chan)->buffer.assign(3, BufferLine{0, "text"});
        RecordOf(chan)->top = RecordOf(chan)->position = 2;
    };
    std::string asked;
    bool answer = false;
    Frontend fe;
    fe.ask = [&](const std::string&, const std::string& text) {
        asked = text;
        return answer;
    };
    InstallFrontend(fe);
    fill();
    clearbuf(chan, false);
    EXPECT_NE(asked.find("#a"), std::string::npos);
    EXPECT_EQ(RecordOf(chan)->buffer.size(), 3u);  // "no" keeps the text
    answer = true;
    clearbuf(chan, false);
    EXPECT_TRUE(RecordOf(chan)->buffer.empty());
    EXPECT_EQ(RecordOf(chan)->position, 0);

    asked.clear();
    fill();
    clearbuf(chan, true);
    EXPECT_TRUE(asked.empty());
    EXPECT_TRUE(RecordOf(chan)->buffer.empty());

    // A front end that cannot ask, and the headless one, keep the buffer.
    InstallFrontend(Frontend{});
    fill();
    clearbuf(chan, false);
    EXPECT_EQ(RecordOf(chan)->buffer.size(), 3u);
    InstallFrontend(MakeHeadlessFrontend());
    ::testing::internal::CaptureStderr();
    clearbuf(chan, false);
    ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(RecordOf(chan)->buffer.size(), 3u);
    InstallFrontend(Frontend{});
}

TEST_F(WindowSettingsTest, AWindowClosedWhileTheQuestionWaitsIsLeftAlone) {
    WindowId chan = MakeNewWindow("#a", false);
    WindowId other = 0;
    Frontend fe;
    fe.ask = [&](const std::string&, const std::string&) {
        // The event loop runs while the question waits: the window closes and another one
        // takes its slot.
        closewindow(chan);
        other = MakeNewWindow("#b", false);
        RecordOf(other)->buffer.assign(2, BufferLine{0, "text"});
        return true;
    };
    InstallFrontend(fe);
    clearbuf(chan, false);
    ASSERT_NE(other, 0);
    EXPECT_EQ(RecordOf(other)->buffer.size(), 2u);
    InstallFrontend(Frontend{});
}

}  // namespace
}  // namespace chat
