#include "chat/lists/channel_settings.h"

#include <random>

#include "chat/core/frame.h"
#include "chat/core/session/nick_list.h"
#include "chat/core/session/server_parser.h"
#include "chat/lists/channels_folder.h"
#include "chat/lists/lists_fixture.h"

namespace chat {
namespace {

class ChannelSettingsTest : public ListsTest {};

TEST_F(ChannelSettingsTest, ScramblingRoundTripsAndAvoidsBytesTheSettingsFileCuts) {
    std::mt19937 random(7);
    for (int round = 0; round < 2000; ++round) {
        std::string text(random() % 300, ' ');
        for (char& ch : text) ch = static_cast<char>(0x20 + random() % 95);
        for (bool twice : {false, true}) {
            const std::string stored = encrypt(text, twice);
            ASSERT_EQ(decrypt(stored, twice), text);
            for (char ch : stored) {
                const unsigned char b = static_cast<unsigned char>(ch);
                ASSERT_TRUE(b != 0 && b != '\r' && b != '\n' && b != ' ' && b != '"' && b != '\'' &&
                            b != '=' && b != ';')
                    << text;
            }
        }
    }
    EXPECT_EQ(encrypt("", false), "");
    EXPECT_TRUE(Scramblable("a b~!"));
    EXPECT_FALSE(Scramblable("caf\xc3\xa9"));
    EXPECT_FALSE(Scramblable("tab\there"));
}

TEST_F(ChannelSettingsTest, LockPasswords) {
    EXPECT_NE(CheckNewLock("abcd", "abcd"), "");
    EXPECT_EQ(CheckNewLock("abcde", "abcde"), "");
    EXPECT_NE(CheckNewLock("abcde", "abcdE"), "");
    EXPECT_NE(CheckNewLock("abc\x01"
                           "de",
                           "abc\x01"
                           "de"),
              "");
    EXPECT_NE(CheckNewLock(std::string(20, 'x'), std::string(20, 'x')), "");
}

TEST_F(ChannelSettingsTest, DialogReadsModesKeyAndLimit) {
    WindowId chan = Channel("#room");
    struct Case {
        const char* modes;
        bool op;
        std::string key, limit;
        std::string boxes;  // the checked boxes among n t i m p s
        bool locked;
    } cases[] = {
        {"[+ntlk 5 sesame]", true, "sesame", "5", "nt", false},
        {"[+stk lucky]", false, "lucky", "", "ts", true},
        {"[+l 12]", false, "", "12", "", false},
        {"[+n]", true, "", "", "n", false},
        {"", true, "", "", "", false},
    };
    for (const Case& c : cases) {
        RecordOf(chan)->modes = c.modes;
        user("me", findhwnd(chan), 1, c.op ? kOperator : 0);
        ChannelDialog d = MakeChannelDialog(chan, {});
        EXPECT_EQ(d.operator_, c.op) << c.modes;
        EXPECT_EQ(d.key, c.key) << c.modes;
        EXPECT_EQ(d.limit, c.limit) << c.modes;
        std::string boxes;
        for (int i = 0; i < 6; ++i)
            if (d.modes[i]) boxes += "ntimps"[i];
        EXPECT_EQ(boxes, c.boxes) << c.modes;
        EXPECT_EQ(d.topic_locked, c.locked) << c.modes;
    }
}

TEST_F(ChannelSettingsTest, UnbanAndApplyLines) {
    EXPECT_EQ(UnbanLines("#r", {"a!*@*", "b!*@*", "c!*@*", "d!*@*"}),
              (std::vector<std::string>{"MODE #r -bbb a!*@* b!*@* c!*@*", "MODE #r -b d!*@*"}));
    WindowId chan = Channel("#r");
    RecordOf(chan)->topic = "old topic";
    user("me", findhwnd(chan), 1, kOperator);
    ChannelDialog d = MakeChannelDialog(chan, {});
    d.modes[1] = true;
    EXPECT_EQ(ApplyLines(d, false), std::vector<std::string>{"MODE #r +t-nimpsl "});
    d.limit_on = true;
    d.limit = "25";
    d.key_on = true;
    d.key = "pass";
    d.topic = "new topic";
    EXPECT_EQ(ApplyLines(d, true),
              (std::vector<std::string>{"TOPIC #r :new topic", "MODE #r +tlk-nimps 25 pass"}));
    RecordOf(chan)->modes = "[+k pass]";
    d = MakeChannelDialog(chan, {});
    d.key_on = false;
    EXPECT_EQ(ApplyLines(d, false).back(), "MODE #r +-ntimpslk pass");
}

TEST_F(ChannelSettingsTest, DialogButtonsSendBeepOrClose) {
    int beeps = 0;
    CurrentFrontend().beep = [&beeps] { ++beeps; };
    WindowId chan = Channel("#r");
    user("me", findhwnd(chan), 1, kOperator);
    const ChannelDialog d = MakeChannelDialog(chan, {"a!*@*", "b!*@*"});
    struct Case {
        const char* what;
        bool window_gone;
        std::vector<std::string> masks;
        std::vector<std::string> want_sent;
        int want_beeps;
        DialogAction want;
    } cases[] = {
        {"two masks",
         false,
         {"a!*@*", "b!*@*"},
         {"MODE #r -bb a!*@* b!*@*"},
         0,
         DialogAction::kStay},
        {"nothing chosen", false, {}, {}, 1, DialogAction::kStay},
        {"window gone", true, {"a!*@*"}, {}, 1, DialogAction::kClose},
    };
    for (const Case& c : cases) {
        WindowId w = c.window_gone ? 0 : chan;
        ChannelDialog shown = d;
        shown.window = w;
        sent.clear();
        beeps = 0;
        EXPECT_EQ(UnbanFromDialog(shown, c.masks), c.want) << c.what;
        EXPECT_EQ(sent, c.want_sent) << c.what;
        EXPECT_EQ(beeps, c.want_beeps) << c.what;
        sent.clear();
        beeps = 0;
        // Apply always closes; without the window it sends nothing and beeps.
        EXPECT_EQ(ApplyFromDialog(shown, false), DialogAction::kClose) << c.what;
        EXPECT_EQ(sent.size(), c.window_gone ? 0u : 1u) << c.what;
        EXPECT_EQ(beeps, c.window_gone ? 1 : 0) << c.what;
    }
    // A window of the same slot reused by another channel is not the dialog's channel.
    closewindow(chan);
    Channel("#other");
    sent.clear();
    EXPECT_EQ(UnbanFromDialog(d, {"a!*@*"}), DialogAction::kClose);
    EXPECT_TRUE(sent.empty());
}

TEST_F(ChannelSettingsTest, BanListRepliesOpenTheDialogForTheAskingWindow) {
    WindowId chan = Channel("#room");
    Frame().hwndFrame = platform::CreateWindow(FrameProc);
    Run(chan, "/channel");
    EXPECT_EQ(sent, std::vector<std::string>{"MODE #room +b"});
    shown.clear();
    parseline(":irc.test 367 me #room bad!*@* op 1");
    parseline(":irc.test 367 me #other x!*@* op 1");  // not asked for: shown as usual
    parseline(":irc.test 368 me #room :End of Channel Ban List");
    platform::PumpMessages();
    EXPECT_TRUE(Printed("*** #room ban list"));
    EXPECT_TRUE(Printed("    bad!*@*"));
    EXPECT_FALSE(Printed("    x!*@*"));
    EXPECT_EQ(Script().channel_request, 0u);
}

TEST_F(ChannelSettingsTest, FolderNamesLinesAndBounds) {
    EXPECT_TRUE(AddChanItem("chat"));
    EXPECT_TRUE(AddChanItem("&local"));
    EXPECT_FALSE(AddChanItem("#CHAT"));
    EXPECT_FALSE(AddChanItem(""));
    EXPECT_TRUE(FindItem("#chat"));
    EXPECT_TRUE(FindItem("&local"));
    EXPECT_EQ(FolderCommandLines("JOIN", {"#a", "#b", "#c"}),
              std::vector<std::string>{"JOIN #c,#b,#a"});
    std::vector<std::string> many(100, "#channel-name-0123456789");
    for (const std::string& line : FolderCommandLines("NAMES", many))
        EXPECT_LE(line.size(), kMaxFolderLine);
    struct Bounds {
        int min, max, want_min, want_max;
    } bounds[] = {{-5, 2000, 0, 999}, {50, 10, 50, 50}, {1500, -1, 999, 999}, {3, 7, 3, 7}};
    for (Bounds b : bounds) {
        int lo = b.min, hi = b.max;
        checkminmax(lo, hi);
        EXPECT_EQ(lo, b.want_min);
        EXPECT_EQ(hi, b.want_max);
    }
    EXPECT_EQ(parseck("Foo  bar baz").size(), 3u);
    EXPECT_EQ(parseck(std::string(500, 'a').insert(0, 200, ' ')).size(), 1u);
    std::string words;
    for (int i = 0; i < 100; ++i) words += "w ";
    EXPECT_EQ(parseck(words).size(), kMaxListWords);
}

TEST_F(ChannelSettingsTest, ExclusionTextAndLockSurviveTheSettingsFile) {
    const std::string ini = ::testing::TempDir() + "cparms_test.ini";
    std::remove(ini.c_str());
    Options().szINI = ini;
    Folder().xliststr = "warez spam";
    Folder().szlock = "s3cret=;\"";
    RememberMatch("Linux");
    RememberMatch("chat");
    RememberMatch("LINUX");
    savecparms();
    ResetFolder();
    loadcparms();
    EXPECT_EQ(Folder().xliststr, "warez spam");
    EXPECT_EQ(Folder().szlock, "s3cret=;\"");
    ASSERT_EQ(Folder().szcparms.size(), 2u);
    EXPECT_EQ(Folder().szcparms.front().text, "linux");
    std::remove(ini.c_str());
}

}  // namespace
}  // namespace chat
