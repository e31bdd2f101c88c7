#include "chat/lists/notify_list.h"

#include <algorithm>
#include <cstdio>

#include "chat/core/session/server_parser.h"
#include "chat/lists/lists_fixture.h"
#include "chat/script/remote_scripts.h"
#include "platform/profile.h"

namespace chat {
namespace {

class NotifyTest : public ListsTest {};

TEST_F(NotifyTest, LongListsAreCheckedWithSeveralIsonLinesAndDeparturesWaitForAll) {
    // 60 nicknames of 12 characters: 780 characters in all, more than one line holds.
    std::vector<std::string> nicks;
    for (int i = 0; i < 60; ++i) {
        nicks.push_back("nickname" + std::to_string(1000 + i));
        ASSERT_TRUE(addnotifynick(nicks.back(), ""));
    }
    sendnotify(false);
    std::vector<std::string> lines = Take();
    ASSERT_EQ(lines.size(), 2u);
    size_t total = 0;
    for (const std::string& l : lines) {
        EXPECT_EQ(l.rfind("ISON ", 0), 0u);
        EXPECT_LT(l.size(), kMaxIsonLine);
        total += static_cast<size_t>(std::count(l.begin(), l.end(), ' '));
    }
    EXPECT_EQ(total, nicks.size());
    // Both arrive; later only the second line's nick is still on: nothing leaves before the
    // second reply.
    EXPECT_TRUE(NotifyIsonReply(nicks[0]));
    EXPECT_TRUE(NotifyIsonReply(nicks[59]));
    EXPECT_TRUE(Printed("*** " + nicks[0] + " is on IRC"));
    EXPECT_TRUE(Printed("*** " + nicks[59] + " is on IRC"));
    shown.clear();
    Notify().secs = kNotifyInterval;
    NotifyTick();
    ASSERT_EQ(Take().size(), 2u);
    EXPECT_TRUE(NotifyIsonReply(nicks[59]));
    EXPECT_FALSE(Printed("*** " + nicks[0] + " has left IRC"));
    EXPECT_TRUE(NotifyIsonReply(""));
    EXPECT_TRUE(Printed("*** " + nicks[0] + " has left IRC"));
    EXPECT_FALSE(Printed("*** " + nicks[59] + " has left IRC"));
    EXPECT_FALSE(Notify().Notifying);
}

TEST_F(NotifyTest, ActivityMarksOnlineQuietlyAndTheCheckDoesNotAnnounceIt) {
    addnotifynick("alice", "friend");
    addnotifynick("+bob", "");
    checknotify(true, "Alice");  // seen joining a channel
    EXPECT_TRUE(shown.empty());
    sendnotify(true);
    Take();
    EXPECT_TRUE(NotifyIsonReply("ALICE bob"));
    EXPECT_FALSE(Printed("*** alice is on IRC (friend)"));
    EXPECT_TRUE(Printed("*** bob is on IRC"));
    // The WHOIS mark asks about the arrival.
    EXPECT_EQ(Take(), std::vector<std::string>{"WHOIS bob"});
}

TEST_F(NotifyTest, ReportsNoOneOnlyWhenNobodyIsOn) {
    addnotifynick("alice", "");
    struct Case {
        const char* reply;
        bool no_one;
    } cases[] = {{"", true}, {"alice", false}, {"alice", false}};
    for (const Case& c : cases) {
        shown.clear();
        sendnotify(true);
        EXPECT_TRUE(NotifyIsonReply(c.reply));
        EXPECT_EQ(Printed("*** No one in your notify list is on IRC"), c.no_one) << c.reply;
    }
    // A reply that no check asked for is not taken.
    EXPECT_FALSE(NotifyIsonReply("alice"));
}

TEST_F(NotifyTest, RepliesOfAnAbandonedCheckDoNotCountForTheNext) {
    addnotifynick("alice", "");
    sendnotify(false);  // its reply is still on the way...
    setnotify();        // ...when the user asks for a fresh report
    sendnotify(true);
    EXPECT_TRUE(NotifyIsonReply(""));  // the old check's reply
    EXPECT_TRUE(shown.empty());
    EXPECT_TRUE(NotifyIsonReply("alice"));
    EXPECT_TRUE(Printed("*** alice is on IRC"));
    EXPECT_FALSE(NotifyIsonReply("alice"));
}

TEST_F(NotifyTest, AnIsonReplyNobodyAskedForIsPrinted) {
    parseline(":irc.test 303 me :x");
    EXPECT_TRUE(Printed("me x"));
}

TEST_F(NotifyTest, MonitorFollowsTheListWithoutPolling) {
    addnotifynick("alice", "");
    addnotifynick("bob", "");
    Hooks().isupport("MONITOR=100");
    ASSERT_TRUE(Notify().monitor);
    NotifyAfterMotd();
    std::vector<std::string> lines = Take();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], "MONITOR C");
    EXPECT_EQ(lines[1], "MONITOR + alice,bob");
    EXPECT_EQ(lines[2], "ISON alice bob");
    NotifyIsonReply("");
    parseline(":irc.test 730 me :alice!a@host");
    EXPECT_TRUE(Printed("*** alice is on IRC"));
    parseline(":irc.test 731 me :alice");
    EXPECT_TRUE(Printed("*** alice has left IRC"));
    // No polling while the server reports.
    for (int i = 0; i < 100; ++i) NotifyTick();
    EXPECT_TRUE(Take().empty());
    Run(status, "/notify -a carol");
    EXPECT_EQ(sent.front(), "MONITOR + carol");
}

TEST_F(NotifyTest, CommandForms) {
    struct Case {
        const char* line;
        const char* said;
    } cases[] = {
        {"/notify", "*** Your notify list is empty"},
        {"/notify -a", "*** Invalid notify parameters"},
        {"/notify -a alice the friend", "*** Added alice to notify list"},
        {"/notify -a ALICE", "*** ALICE is already in notify list"},
        {"/notify bob", "*** Added bob to notify list"},
        {"/notify bob", "*** Removed bob from notify list"},
        {"/notify -r bob", "*** bob isn't in notify list"},
        {"/notify off", "*** Notify is OFF"},
        {"/notify on", "*** Notify is ON"},
    };
    for (const Case& c : cases) EXPECT_TRUE(Says(status, c.line, c.said)) << c.line;
    ASSERT_NE(findnotifynick("alice"), nullptr);
    EXPECT_EQ(findnotifynick("+alice")->note, "the friend");
}

TEST_F(NotifyTest, SettingsRoundTripAndTheOlderForm) {
    const std::string ini = ::testing::TempDir() + "notify_test.ini";
    std::remove(ini.c_str());
    Options().szINI = ini;
    platform::WritePrivateProfileString("Text", "notify", "zed amy", ini);
    loadnotify();
    EXPECT_EQ(platform::GetPrivateProfileString("Text", "notify", "", 100, ini), "");
    EXPECT_EQ(platform::GetPrivateProfileString("Notify", "n0", "", 100, ini), "amy");
    addnotifynick("+bob", "a note");
    savenotify();
    ResetNotify();
    loadnotify();
    ASSERT_EQ(Notify().entries.size(), 3u);
    const NotifyEntry* bob = findnotifynick("bob");
    ASSERT_NE(bob, nullptr);
    EXPECT_TRUE(bob->whois);
    EXPECT_EQ(bob->note, "a note");
    std::remove(ini.c_str());
}

TEST_F(NotifyTest, ArrivalsRunTheNotifyEventOfTheEventsScript) {
    InstallRemoteScripts();
    Options().lfe = 1;
    aline(Script().szusers, "5:bob", false);
    // The entry for bob takes his own notify entry off the list while the reply is handled.
    for (const char* entry : {"5:on notify:*:/msg $nick welcome back $nick, level $level | "
                              "/notify -r $nick",
                              "1:on notify:*:/msg $nick hello $nick"})
        aline(Script().szevents, entry, false);
    addnotifynick("alice", "");
    addnotifynick("bob", "");
    addnotifynick("carol", "");
    sendnotify(false);
    Take();
    EXPECT_TRUE(NotifyIsonReply("alice bob"));
    std::vector<std::string> lines = Take();
    ASSERT_GE(lines.size(), 2u);
    lines.resize(2);  // the removal then asks the server again
    EXPECT_EQ(lines, (std::vector<std::string>{"PRIVMSG alice :hello alice",
                                               "PRIVMSG bob :welcome back bob, level 5"}));
    EXPECT_TRUE(Printed("*** Removed bob from notify list"));
    EXPECT_EQ(findnotifynick("bob"), nullptr);
    // Through MONITOR, and with the events script off nothing runs.
    Hooks().isupport("MONITOR=100");
    NotifyMonitorReply(true, "carol!c@host");
    EXPECT_EQ(Take(), std::vector<std::string>{"PRIVMSG carol :hello carol"});
    Options().lfe = 0;
    NotifyMonitorReply(false, "carol");
    NotifyMonitorReply(true, "carol");
    EXPECT_TRUE(Take().empty());
}

}  // namespace
}  // namespace chat
