#include "chat/script/commands.h"

#include "chat/core/handoff.h"
#include "chat/core/nick_history.h"
#include "chat/core/session/address_cache.h"
#include "chat/core/session/nick_list.h"
#include "chat/core/session/server_parser.h"
#include "chat/script/address_requests.h"
#include "chat/script/double_click.h"
#include "chat/script/script_fixture.h"

namespace chat {
namespace {

using Lines = std::vector<std::string>;

class CommandTest : public ScriptTest {
protected:
    /// The colour and window of the printed text, or an empty window when not printed.
    Shown Find(std::string_view text) const {
        for (const Shown& s : shown)
            if (s.text == text) return s;
        return Shown{};
    }
};

TEST_F(CommandTest, MessagesAndTheirEchoes) {
    WindowId chan = Channel("#chan");
    EXPECT_TRUE(Run(chan, "/msg").empty());
    EXPECT_TRUE(Printed("*** No nick specified"));
    EXPECT_TRUE(Run(chan, "/msg bob").empty());
    EXPECT_EQ(Find("*** No message specified").colour, 2);
    EXPECT_EQ(Run(chan, "/msg bob hi there"), Lines{"PRIVMSG bob :hi there"});
    EXPECT_EQ(Find("-> *bob* hi there").window, "#chan");
    EXPECT_EQ(Run(status, "/msg #chan hello"), Lines{"PRIVMSG #chan :hello"});
    EXPECT_EQ(Find("> hello").window, "#chan");
    Options().pom = 1;
    Options().omh = 1;
    EXPECT_EQ(Run(chan, "hi all"), Lines{"PRIVMSG #chan :hi all"});
    EXPECT_EQ(Find("<me> hi all").colour, 4);

    EXPECT_EQ(Run(status, "/notice bob psst"), Lines{"NOTICE bob :psst"});
    EXPECT_TRUE(Printed("-> -bob- psst"));
    EXPECT_TRUE(Run(status, "/notice bob").empty());
    EXPECT_TRUE(Printed("*** No message specified"));

    EXPECT_EQ(Run(status, "/query carol hey"), Lines{"PRIVMSG carol :hey"});
    EXPECT_NE(exists("carol"), -1);
    EXPECT_EQ(Find("<me> hey").window, "carol");
    EXPECT_TRUE(Run(status, "/query dave").empty());
    EXPECT_NE(exists("dave"), -1);
}

TEST_F(CommandTest, ActionsAndCtcp) {
    WindowId chan = Channel("#chan");
    EXPECT_TRUE(Run(status, "/me waves").empty());
    EXPECT_TRUE(Printed("*** You are not on a channel"));
    WindowId mw = MakeNewWindow("Message Window", false);
    EXPECT_TRUE(Run(mw, "/me waves").empty());
    EXPECT_EQ(Find("*** You must use /msg in this window").colour, 2);
    EXPECT_EQ(Run(chan, "/me waves"), Lines{"PRIVMSG #chan :\x01"
                                            "ACTION waves\x01"});
    EXPECT_EQ(Find("* me waves").colour, 5);
    EXPECT_EQ(Run(status, "/describe #chan nods"), Lines{"PRIVMSG #chan :\x01"
                                                         "ACTION nods\x01"});
    EXPECT_EQ(Find("* me nods").window, "#chan");
    EXPECT_TRUE(Says(status, "/describe bob nods", "-> *bob* nods"));

    EXPECT_EQ(Run(status, "/ame dances"), Lines{"PRIVMSG #chan :\x01"
                                                "ACTION dances\x01"});
    EXPECT_EQ(Run(status, "/amsg hello"), Lines{"PRIVMSG #chan :hello"});
    closewindow(chan);
    EXPECT_TRUE(Run(status, "/amsg hello").empty());
    EXPECT_TRUE(Printed("*** You aren't on any channels"));

    EXPECT_TRUE(Run(status, "/ctcp bob").empty());
    EXPECT_EQ(
        Find("CTCP <nickname> ACTION CLIENTINFO DCC ECHO FINGER PING TIME USERINFO VERSION").colour,
        3);
    EXPECT_TRUE(Run(status, "/ctcp bob dcc chat").empty());
    EXPECT_TRUE(Printed("* Please use /dcc <command> <parameters>"));
    EXPECT_EQ(Run(status, "/ctcp bob version"), Lines{"PRIVMSG bob :\x01VERSION\x01"});
    EXPECT_TRUE(Printed("-> [bob] VERSION"));
    EXPECT_EQ(Run(status, "/ctcp bob ping"), Lines{"PRIVMSG bob :\x01PING 850000000\x01"});
    EXPECT_EQ(Run(status, "/ctcp bob echo a b"), Lines{"PRIVMSG bob :\x01"
                                                       "ECHO a b\x01"});
}

TEST_F(CommandTest, PlainTextNeedsAChannelOrQuery) {
    EXPECT_TRUE(Run(status, "hello").empty());
    EXPECT_TRUE(Printed("*** You're not on a channel"));
    WindowId mw = MakeNewWindow("Message Window", false);
    EXPECT_TRUE(Run(mw, "hello").empty());
    EXPECT_TRUE(Printed("*** You must use /msg in this window"));
    WindowId chan = Channel("#chan");
    Options().caok = 1;
    Session().away = true;
    EXPECT_EQ(Run(chan, "back"), (Lines{"PRIVMSG #chan :back", "AWAY"}));
    EXPECT_FALSE(Session().away);
    WindowId dcc = MakeNewWindow("Chat dave", false);
    EXPECT_TRUE(Run(dcc, "hi dave").empty());
    EXPECT_TRUE(Printed("*** Invalid DCC Chat window"));
    int state = 0;
    std::string over_chat;
    Script().hooks.chat_send = [&](WindowId, const std::string& nick, const std::string& text) {
        over_chat = nick + "|" + text;
        return state;
    };
    EXPECT_TRUE(Says(dcc, "hi dave", "*** DCC Chat is not active"));
    state = 1;
    EXPECT_TRUE(Run(dcc, "  hi dave").empty());
    EXPECT_EQ(over_chat, "|  hi dave");
    EXPECT_TRUE(Printed(">   hi dave"));
    Run(status, "/msg =dave direct");
    EXPECT_EQ(over_chat, "dave|direct");
    EXPECT_EQ(Find("> direct").window, "Chat dave");
    MakeNewWindow("Chat with dave", false);  // the name a session's window really has
    Run(status, "/msg =dave again");
    EXPECT_EQ(Find("> again").window, "Chat with dave");
    connected = false;
    EXPECT_TRUE(Run(chan, "hello").empty());
    EXPECT_EQ(Find("*** Not connected to server").window, "Status Window");
}

TEST_F(CommandTest, ChannelCommands) {
    WindowId chan = Channel("#chan");
    EXPECT_TRUE(Run(status, "/join").empty());
    EXPECT_TRUE(Printed("*** No channel specified"));
    EXPECT_EQ(Run(status, "/join #new key"), Lines{"JOIN #new key"});
    EXPECT_TRUE(Run(status, "/join #CHAN").empty());
    EXPECT_EQ(Run(chan, "/part"), Lines{"PART #chan"});
    EXPECT_EQ(Run(status, "/leave #x"), Lines{"PART #x"});
    EXPECT_TRUE(Run(status, "/part").empty());
    EXPECT_TRUE(Printed("*** No channel specified"));

    for (int i = 0; i < 12; ++i) Channel("#" + std::string(60, static_cast<char>('a' + i)));
    Lines parts = Run(status, "/partall");
    ASSERT_EQ(parts.size(), 2u);
    for (const std::string& p : parts) EXPECT_LE(p.size(), 650u);
    EXPECT_TRUE(parts[0].starts_with("PART #chan,#aaa"));
    EXPECT_TRUE(Printed("*** Parted all channels"));

    Session().clock = [] { return int64_t{1000}; };
    EXPECT_EQ(Run(chan, "/channel | /echo after", 1), Lines{"MODE #chan +b"});
    EXPECT_EQ(Find("*** Retrieving #chan channel info...").colour, 2);
    EXPECT_FALSE(Printed("after"));
    EXPECT_TRUE(Run(chan, "/channel").empty());
    EXPECT_TRUE(Printed("*** Waiting 25s for reply to previous request..."));

    EXPECT_EQ(Run(status, "/list -min 5 *abc* -max 50"), Lines{"LIST"});
    EXPECT_EQ(Options().listmin, 5);
    EXPECT_EQ(Options().listmax, 50);
    EXPECT_EQ(Session().list_match, std::vector<std::string>{"abc"});
}

TEST_F(CommandTest, BansUseTheAddressOrAskForIt) {
    WindowId chan = Channel("#chan");
    addnick("bob", "bob!user@host.example.org", false);
    std::string mask = "bob!user@host.example.org";
    donickaddr(mask, 2);
    EXPECT_EQ(Run(chan, "/ban bob"), Lines{"MODE #chan +b " + mask});
    EXPECT_EQ(Run(status, "/ban -u5 #chan bob"), Lines{"MODE #chan +b " + mask});
    ASSERT_EQ(Script().unbans.size(), 1u);
    EXPECT_EQ(Script().unbans.front().value, 10);
    sent.clear();
    for (int i = 0; i < 9; ++i) UnbanTick();
    EXPECT_TRUE(sent.empty());
    UnbanTick();
    EXPECT_EQ(sent, Lines{"MODE #chan -b " + mask});

    EXPECT_EQ(Run(chan, "/ban carol 3"), Lines{"WHOIS carol"});
    sent.clear();
    // The server's who-is reply completes the ban, and is not shown.
    size_t shown_before = shown.size();
    parseline(":irc.example.net 311 me Carol c x.example.net * :Carol C");
    std::string carol = "Carol!c@x.example.net";
    donickaddr(carol, 3);
    EXPECT_EQ(sent, Lines{"MODE #chan +b " + carol});
    EXPECT_EQ(shown.size(), shown_before);
    EXPECT_FALSE(CompleteAddressRequests("carol", "c", "x.example.net"));

    EXPECT_TRUE(Run(chan, "/ban").empty());
    EXPECT_TRUE(Printed("*** Invalid /ban parameters"));
    EXPECT_TRUE(Run(status, "/ban bob").empty());
    EXPECT_TRUE(Printed("*** Invalid parameters"));
    EXPECT_TRUE(Run(chan, "/ban #closed bob").empty());
    EXPECT_TRUE(Printed("*** Invalid parameters"));
}

TEST_F(CommandTest, OperatorMessages) {
    WindowId chan = Channel("#chan");
    NickList& nicks = ChannelOf(chan).nicks;
    SetMember(nicks, "me", '@');
    SetMember(nicks, "other", '@');
    SetMember(nicks, "voiced", '+');
    EXPECT_EQ(Run(chan, "/omsg hello ops"), Lines{"PRIVMSG other :hello ops"});
    EXPECT_TRUE(Printed("-> Ops on #chan: hello ops"));
    EXPECT_EQ(Run(status, "/onotice #chan hi"), Lines{"NOTICE other :hi"});
    RemoveMember(nicks, "other");
    EXPECT_TRUE(Run(chan, "/omsg x").empty());
    EXPECT_TRUE(Printed("* No other Ops on this channel"));
    SetMember(nicks, "me", 0);
    EXPECT_TRUE(Run(chan, "/omsg x").empty());
    EXPECT_TRUE(Printed("* You must have Op status!"));
    EXPECT_TRUE(Run(status, "/omsg x").empty());
    EXPECT_TRUE(Printed("* You are not on a channel"));
}

TEST_F(CommandTest, IdentityAndSession) {
    connected = false;
    EXPECT_TRUE(Run(status, "/nick").empty());
    EXPECT_TRUE(Printed("*** No nickname specified"));
    Run(status, "/nick newme alt");
    EXPECT_EQ(Find("*** Your nickname is now newme").colour, 2);
    EXPECT_TRUE(Printed("*** Your alternate nickname is now alt"));
    EXPECT_EQ(Options().szNickName, "newme");
    connected = true;
    EXPECT_EQ(Run(status, "/nick other"), Lines{"NICK :other"});

    EXPECT_EQ(Run(status, "/quit"), Lines{"QUIT :Leaving"});
    Options().quit = "bye all";
    EXPECT_EQ(Run(status, "/quit"), Lines{"QUIT :bye all"});
    EXPECT_EQ(Run(status, "/quit see you"), Lines{"QUIT :see you"});
    EXPECT_TRUE(Conn().SentQuit);
    EXPECT_EQ(Run(status, "/away lunch time"), Lines{"AWAY :lunch time"});
    EXPECT_EQ(Run(status, "/away"), Lines{"AWAY"});

    EXPECT_TRUE(Run(status, "/raw").empty());
    EXPECT_TRUE(Printed("* Use: /raw <parameters>"));
    EXPECT_EQ(Run(status, "/raw PRIVMSG bob :x y"), Lines{"PRIVMSG bob :x y"});
    EXPECT_TRUE(Printed("-> SERVER: PRIVMSG bob :x y"));
    EXPECT_EQ(Run(status, "/quote -q WHO #a"), Lines{"WHO #a"});
    EXPECT_TRUE(shown.empty());

    aline(Options().szhost, "OneSERVER:a.example.org:6667GROUP:g", false);
    aline(Options().szhost, "TwoSERVER:b.example.org:7000", false);
    EXPECT_TRUE(Says(status, "/server 3", "*** Invalid server number"));
    EXPECT_TRUE(Says(status, "/server 0", "*** Invalid server format"));
    EXPECT_TRUE(Says(status, "/server nosuch", "*** No such server group"));
    connected = false;
    Run(status, "/server 2");
    EXPECT_EQ(Options().szHostName, "b.example.org");
    EXPECT_EQ(Options().Port, 7000);
    Run(status, "/server irc.example.net -5 secret");
    EXPECT_EQ(Options().Port, 6667);
    EXPECT_EQ(Options().szPassword, "secret");
}

TEST_F(CommandTest, FloodGuardSettings) {
    EXPECT_TRUE(Says(status, "/flood", "* Flood checking is NOT active"));
    EXPECT_TRUE(Run(status, "/flood 5 0 3 | /echo after", 1).empty());
    EXPECT_TRUE(Printed("*** Invalid flood parameters"));
    EXPECT_FALSE(Printed("after"));
    EXPECT_TRUE(Says(status, "/flood -5 2 3", "*** Invalid flood parameters"));
    EXPECT_TRUE(
        Says(status, "/flood 5 2 30", "* Flood checking for 5 lines in 2 secs pauses for 30 secs"));
    EXPECT_EQ(Conn().testflood, 1);
    EXPECT_TRUE(Says(status, "/flood", "* Flood of 5 lines in 2 secs pauses for 30 secs"));
    EXPECT_TRUE(Says(status, "/flood 0", "* Flood checking has been turned OFF"));
    EXPECT_EQ(Conn().testflood, 0);
}

TEST_F(CommandTest, EchoAndSwitches) {
    WindowId chan = Channel("#a");
    Run(status, "/echo 3 #a hello");
    EXPECT_EQ(Find("hello").window, "#a");
    EXPECT_EQ(Find("hello").colour, 2);
    closewindow(chan);
    Run(status, "/echo 3 #a hello");
    EXPECT_EQ(Find("#a hello").window, "Status Window");
    Run(status, "/echo 9 -s x");
    EXPECT_EQ(Find("x").colour, 0);
    EXPECT_TRUE(Says(status, "/echo 2", "* Invalid echo parameters"));
    Run(status, "/echo");
    EXPECT_TRUE(shown.empty());

    EXPECT_TRUE(Says(status, "/dlevel 0", "* Remote default user level is set to 1"));
    EXPECT_TRUE(Says(status, "/dlevel 5000", "* Remote default user level is set to 999"));
    EXPECT_TRUE(Says(status, "/dcc packetsize 100000", "DCC Packet Size is 4096"));
    EXPECT_TRUE(Says(status, "/dcc", "* Format: /dcc <send | chat | packetsize> <parameters>"));
    EXPECT_TRUE(Says(status, "/dcc bogus", "*** Invalid DCC Command"));

    EXPECT_TRUE(Says(status, "/commands on", "*** Commands are on"));
    EXPECT_TRUE(Says(status, "/remote", "*** Commands are on"));
    Run(status, "/events on");
    EXPECT_TRUE(Says(status, "/remote", "*** Remote is on"));
    EXPECT_TRUE(Says(status, "/remote off", "*** Remote is off"));
    Run(status, "/auto on");
    EXPECT_EQ(Find("*** Auto-Op is ON").colour, 2);
    EXPECT_TRUE(Says(status, "/timestamp", "*** Time-stamp is OFF"));
    Run(status, "/ignore off");
    EXPECT_EQ(Find("*** Ignore is OFF").colour, 2);
    EXPECT_TRUE(Says(status, "/notify on", "*** Notify is ON"));
    EXPECT_EQ(Options().notify, 1);
    EXPECT_TRUE(Says(status, "/url on", "*** URL Catcher is ON"));
    EXPECT_TRUE(Says(status, "/creq auto", "*** DCC Chat requests are auto-accepted"));
    EXPECT_TRUE(Says(status, "/sreq ignore", "*** DCC Send requests are ignored"));
    EXPECT_EQ(Options().sad, 2);
}

TEST_F(CommandTest, LaterLayersInstallTheirCommands) {
    EXPECT_TRUE(Says(status, "/timer1 5 /echo x", "*** TIMER is not available"));
    int calls = 0;
    InstallCommand("/TIMER", [&](WindowId, const Args& a, bool) {
        ++calls;
        EXPECT_EQ(a[0], "/TIMER1");
        return 1;
    });
    Run(status, "/timer1 5 /echo x");
    EXPECT_EQ(calls, 1);
    InstallCommand("/TIMER", nullptr);
}

}  // namespace
}  // namespace chat

namespace chat {
namespace {

TEST_F(CommandTest, DoubleClicksRunTheClickCommands) {
    WindowId bob = MakeNewWindow("bob", false);
    ProcessWindowDoubleClick(bob);
    EXPECT_EQ(sent, Lines{"WHOIS bob"});
    sent.clear();
    WindowId chat = MakeNewWindow("Chat carol", false);
    ProcessWindowDoubleClick(chat);
    EXPECT_EQ(sent, Lines{"WHOIS carol"});
    sent.clear();
    ProcessWindowDoubleClick(status);
    EXPECT_EQ(sent, Lines{"LUSERS"});
    sent.clear();
    // The message window asks about whoever wrote last, and nobody before anyone did.
    LastNicks().clear();
    WindowId mw = MakeNewWindow("Message Window", false);
    ProcessWindowDoubleClick(mw);
    EXPECT_TRUE(sent.empty());
    addlastnick("dave");
    addlastnick("erin");
    ProcessWindowDoubleClick(mw);
    EXPECT_EQ(sent, Lines{"WHOIS erin"});
    LastNicks().clear();
    sent.clear();
    ProcessNickListDoubleClick(status, "@carol");
    EXPECT_NE(exists("carol"), -1);
    // A clicked name is a parameter, never code.
    ProcessNickListDoubleClick(status, "$me|%x");
    EXPECT_NE(exists("$me|%x"), -1);
    Script().clicks.query.clear();
    sent.clear();
    ProcessWindowDoubleClick(bob);
    EXPECT_TRUE(sent.empty());
}

}  // namespace
}  // namespace chat

namespace chat {
namespace {

TEST_F(CommandTest, EnteredLinesAreRecordedAndRecalled) {
    std::string input;
    CurrentFrontend().set_input = [&](WindowId, const std::string& text) { input = text; };
    SetInputHandler(EnteredLine);
    WindowId chan = Channel("#chan");
    EnterLine(chan, "/join #x");
    EXPECT_EQ(sent, Lines{"JOIN #x"});
    EnterLine(chan, "/");
    EXPECT_EQ(input, "/join #x");
    EnterLine(status, "/!");
    EXPECT_EQ(input, "/join #x");
    const auto& h = Windows().ch[findhwnd(chan)].history;
    EXPECT_EQ(std::vector<std::string>(h.begin(), h.end()), Lines{"/join #x"});
    EXPECT_EQ(Session().last_keypress_s, wall);
    WindowId mw = MakeNewWindow("Message Window", false);
    EnterLine(mw, "/msg bob hi");
    EXPECT_EQ(input, "/msg ");
}

}  // namespace
}  // namespace chat
