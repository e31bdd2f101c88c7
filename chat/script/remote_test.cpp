#include <fstream>

#include "chat/core/events.h"
#include "chat/core/session/nick_list.h"
#include "chat/core/session/server_parser.h"
#include "chat/core/windows/window_table.h"
#include "chat/script/auto_op.h"
#include "chat/script/commands.h"
#include "chat/script/remote_scripts.h"
#include "chat/script/remote_users.h"
#include "chat/script/script_fixture.h"

namespace chat {
namespace {

using Lines = std::vector<std::string>;

class RemoteTest : public ScriptTest {
protected:
    void SetUp() override {
        ScriptTest::SetUp();
        InstallUserCommands();
        InstallRemoteScripts();
        InstallAutoOp();
        Options().lfc = Options().lfe = 1;
    }
    void TearDown() override {
        freelines(AutoOpList());
        freelines(PendingOps());
        ScriptTest::TearDown();
    }
    static void Add(LineList& list, const Lines& lines) {
        for (const std::string& l : lines) aline(list, l, false);
    }
    /// A message from nick!user@host to a target; returns the lines sent.
    Lines Message(const std::string& nick, const std::string& target, const std::string& text,
                  const std::string& command = "privmsg") {
        sent.clear();
        shown.clear();
        CurrentEvent e;
        e.code = kEventText;
        e.nick = nick;
        e.userhost = "u@" + nick + ".example.net";
        e.command = command;
        e.target = target;
        e.text = text;
        last_result = performevent(e);
        return sent;
    }
    Lines Ctcp(const std::string& nick, const std::string& text) {
        sent.clear();
        shown.clear();
        CurrentEvent e;
        e.nick = nick;
        e.userhost = "u@h";
        e.command = "privmsg";
        e.target = "me";
        e.text = text;
        last_ctcp = ctcpscripted(e);
        return sent;
    }
    int last_result = 1;
    bool last_ctcp = false;
};

TEST(RemoteLevels, LevelListsAndFits) {
    struct Case {
        const char* levels;
        int entry;
        bool exact;
        bool fits;
    };
    const Case cases[] = {
        {"5,10", 1, false, true},  {"5,10", 5, false, true},   {"5,10", 7, false, false},
        {"5,10", 10, false, true}, {"5,10", 11, false, false}, {"5", 3, true, false},
        {"5", 5, true, true},      {"=5", 3, false, false},    {"=5", 5, false, true},
        {"x,3", 3, false, true},   {"", 1, false, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(LevelFits(ParseLevels(c.levels), c.entry, c.exact), c.fits)
            << c.levels << " / " << c.entry;
}

TEST(RemoteLevels, MergeAndRemove) {
    struct Case {
        const char* old;
        const char* change;
        int mode;
        const char* result;
    };
    const Case cases[] = {
        {"", "5,10", 1, "5,10"}, {"5,10", "7,20", 1, "7,10,20"}, {"5,10", "5,20", 1, "5,10,20"},
        {"5,10", "10", 1, "10"}, {"5,10,=3", "10", 0, "5,=3"},   {"5,10,=3", "3", 0, "5,10"},
        {"5", "5", 0, ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(level(c.old, c.change, c.mode), c.result) << c.old << " " << c.change;
}

TEST_F(RemoteTest, UserListCommands) {
    Run(status, "/auser 5,10 bob");
    EXPECT_TRUE(Printed("* Added bob to user list"));
    Run(status, "/auser 3 *!*@*.evil.net");
    EXPECT_TRUE(Printed("* Added *!*@*.evil.net to user list"));
    Run(status, "/auser -a 20 bob");
    EXPECT_TRUE(Printed("* Added level(s) to user bob"));
    EXPECT_EQ(Script().szusers.front().text, "20,10:bob");
    EXPECT_EQ(flevel("bob", "x@y"), 20);
    EXPECT_EQ(flevel("eve", "e@a.evil.net.evil.net"), 3);
    EXPECT_EQ(flevel("carol", "c@home"), 1);
    Options().rdl = 4;
    EXPECT_EQ(flevel("carol", "c@home"), 4);
    Run(status, "/ruser 10 bob");
    EXPECT_TRUE(Printed("* Removed level(s) from user bob"));
    Run(status, "/ulist >4");
    EXPECT_EQ(Texts(), (Lines{"* Remote users list:", "20:bob", "* End of users list"}));
    Run(status, "/rlevel 20");
    EXPECT_TRUE(Printed("*** Removed level(s) from 1 users"));
    Run(status, "/ruser nobody");
    EXPECT_TRUE(Printed("* No such user in user list"));
    Run(status, "/ulist");
    EXPECT_TRUE(Printed("*** Must specify user level"));
    EXPECT_TRUE(Script().rchanged);
}

TEST_F(RemoteTest, TheHigherMatchingLevelWinsAndTheFirstOfEqualOnes) {
    Add(Script().szusers, {"5,10:bob"});
    Add(Script().szevents, {"1:on text:*:*:/msg $nick one", "5:on text:*:*:/msg $nick five",
                            "5:on text:*:*:/msg $nick five-again", "7:on text:*:*:/msg $nick seven",
                            "10:on text:*hi*:#:/msg $chan ten $parms"});
    EXPECT_EQ(Message("bob", "me", "hello"), Lines{"PRIVMSG bob :five"});
    EXPECT_EQ(last_result, 0);  // a match suppresses the default handling
    EXPECT_EQ(Message("bob", "#a", "oh hi there"), Lines{"PRIVMSG #a :ten oh hi there"});
    EXPECT_EQ(Message("carol", "me", "hello"), Lines{"PRIVMSG carol :one"});
    EXPECT_EQ(remote_sent, 3);  // every reply carries the remote flag
}

TEST_F(RemoteTest, EventFieldsAndPrefixes) {
    Add(Script().szevents,
        {"; a comment", "rem another", "1:on join:#a:/notice $nick welcome to $chan",
         "1:on action:*dances*:*:/msg $nick nice moves", "me:1:on join:*:/echo I joined $chan",
         "1:on quit:*:=", "1:on part:*:/msg $nick bye $parms", "5:on part:*:="});
    Add(Script().szusers, {"5:bob"});
    Lines joined = Message("bob", "#a", "", "join");
    EXPECT_EQ(joined, Lines{"NOTICE bob :welcome to #a"});
    EXPECT_TRUE(Message("bob", "#b", "", "join").empty());  // another channel
    EXPECT_EQ(Message("bob", "#a",
                      "\x01"
                      "ACTION dances\x01"),
              Lines{"PRIVMSG bob :nice moves"});
    EXPECT_TRUE(Message("bob", "", "gone", "quit").empty());
    EXPECT_TRUE(Message("bob", "#a", "later", "part").empty());  // "=" cancelled the reply
    EXPECT_EQ(last_result, 1);
    Options().lfe = 0;
    EXPECT_TRUE(Message("bob", "#a", "", "join").empty());
}

TEST_F(RemoteTest, HostileTextIsNeverEvaluated) {
    Add(Script().szevents, {"1:on text:*:*:/msg $nick you said: $parms"});
    SetVar("%secret 42");
    Lines out = Message("eve", "me", "$me %secret | /quit :$:/quit $read x");
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0], "PRIVMSG eve :you said: $me %secret | /quit :$:/quit $read x");
    out = Message("e$me", "me", "x");
    EXPECT_EQ(out, Lines{"PRIVMSG e$me :you said: x"});
}

TEST_F(RemoteTest, RepliesObeyTheAutomaticReplyLimit) {
    Add(Script().szevents, {"1:on text:*:*:/msg $nick pong"});
    size_t replies = 0;
    for (int i = 0; i < 10; ++i) replies += Message("eve", "me", "ping").size();
    EXPECT_EQ(replies, 3u);
}

TEST_F(RemoteTest, CtcpRepliesAndDo) {
    Add(Script().szcmds, {"1:PING:!", "1:HELLO:/notice $nick hello $nick, you sent $parms",
                          "1:DO:/notice $nick did it"});
    EXPECT_TRUE(Ctcp("bob", "\x01PING 123\x01").empty());
    EXPECT_TRUE(last_ctcp);  // no default PING reply
    EXPECT_EQ(Ctcp("bob", "\x01hello a b\x01"), Lines{"NOTICE bob :hello bob, you sent a b"});
    // DO is an ordinary word: the carried command is not run.
    EXPECT_EQ(Ctcp("bob",
                   "\x01"
                   "DO /raw QUIT\x01"),
              Lines{"NOTICE bob :did it"});
    Options().ctcp_do = 1;
    Lines done = Ctcp("dave",
                      "\x01"
                      "DO /run xterm\x01");
    EXPECT_EQ(done, Lines{"NOTICE dave :did it"});
    EXPECT_TRUE(Printed("*** Remote command refused: /run"));
    Options().lfc = 0;
    EXPECT_FALSE(Ctcp("erin", "\x01PING 1\x01").size());
    EXPECT_FALSE(last_ctcp);
}

TEST_F(RemoteTest, RemoteFlagRefusesFileAndProgramCommands) {
    for (const char* line : {"/run xterm", "/remove vesk.ini", "/exit", "/load -a x.ini",
                             "/save -a x.ini", "/dde a b c", "/ddeserver on"}) {
        Run(status, line, kOriginRemote);
        std::string word(line, std::string_view(line).find(' ') == std::string_view::npos
                                   ? std::string_view(line).size()
                                   : std::string_view(line).find(' '));
        EXPECT_TRUE(Printed("*** Remote command refused: " + word)) << line;
    }
    Options().remote_files = 1;
    Run(status, "/save -a ../x.ini", kOriginRemote);
    EXPECT_TRUE(Printed("*** Remote command refused: /save"));
    Run(status, "/remove /etc/passwd", kOriginRemote);
    EXPECT_TRUE(Printed("*** Remote command refused: /remove"));
    Run(status, "/save -a ../x.ini");
    EXPECT_FALSE(Printed("*** Remote command refused: /save"));
}

TEST_F(RemoteTest, ReadUnderTheRemoteFlagIsLiteral) {
    std::string dir = ::testing::TempDir();
    Options().szPATH = dir;
    std::ofstream(dir + "lines.txt") << "1\n$me %v | /quit\n";
    SetVar("%v 7");
    Add(Script().szevents, {"1:on text:*:*:/msg $nick $read -l1 lines.txt"});
    EXPECT_EQ(Message("eve", "me", "x"), Lines{"PRIVMSG eve :$me %v | /quit"});
    // Typed by the user, the same line is the language it looks like.
    Lines own = Run(status, "/msg bob $read -l1 lines.txt", kOriginPerform);
    ASSERT_FALSE(own.empty());
    EXPECT_EQ(own[0], "PRIVMSG bob :me 7");
}

TEST_F(RemoteTest, GroupsSwitchEntries) {
    Add(Script().szevents, {"#games disabled", "1:on text:*:*:/msg $nick game on", "#games end",
                            "#chat start", "#other start", "#chat end"});
    EXPECT_TRUE(Message("bob", "me", "x").empty());
    Run(status, "/groups");
    EXPECT_EQ(Texts(), (Lines{"* In Commands:", " [none]", "* In Events:", " #games", " #chat"}));
    Run(status, "/enable #games");
    EXPECT_TRUE(Printed("*** Group(s) enabled"));
    EXPECT_EQ(Message("bob", "me", "x"), Lines{"PRIVMSG bob :game on"});
    Run(status, "/enable games");
    EXPECT_TRUE(Printed("*** No groups needed to be changed"));
    Run(status, "/disable games");
    EXPECT_TRUE(Printed("*** Group(s) disabled"));
    Run(status, "/groups -d");
    EXPECT_EQ(Texts(), (Lines{"* Disabled Commands:", " [none]", "* Disabled Events:", " #games"}));
}

TEST_F(RemoteTest, OperatorEventsCompareLevels) {
    Add(Script().szusers, {"10:boss", "2:peon"});
    Add(Script().szevents, {">:on kick:#a:/msg $knick kicked by $nick"});
    auto kick = [&](const std::string& kicker, const std::string& victim) {
        sent.clear();
        CurrentEvent e;
        e.code = kEventKick;
        e.nick = kicker;
        e.userhost = "u@h";
        e.command = "kick";
        e.target = "#a";
        e.arg = victim;
        e.text = "reason";
        performevent(e);
        return sent;
    };
    // Level 1 entry with ">" needs the kicker's level above the kicked one's.
    Script().szevents.front().text = ">1:on kick:#a:/msg $knick kicked by $nick";
    EXPECT_EQ(kick("boss", "peon"), Lines{"PRIVMSG peon :kicked by boss"});
    EXPECT_TRUE(kick("peon", "boss").empty());
}

TEST_F(RemoteTest, AutoOpListAndDelays) {
    Run(status, "/auto -a bob #a,#b");
    EXPECT_TRUE(Printed("*** Added bob to auto-op list"));
    EXPECT_EQ(Options().doop, 1);
    EXPECT_NE(doopnick("bob!u@h", "#A"), nullptr);
    EXPECT_EQ(doopnick("bob!u@h", "#c"), nullptr);
    EXPECT_EQ(doopnick("bobby!u@h", "#a"), nullptr);
    Run(status, "/auto -r bob #a");
    EXPECT_TRUE(Printed("*** Updated auto-op channels for bob"));
    EXPECT_EQ(doopnick("bob!u@h", "#a"), nullptr);
    Run(status, "/auto -r bob");
    EXPECT_TRUE(Printed("*** Removed bob from auto-op list"));
    Run(status, "/auto -r bob");
    EXPECT_TRUE(Printed("*** bob isn't in auto-op list"));

    // The spread: random 0 (subtract 0) gives the delay itself, at least 2, 16 or more gives 8.
    struct Case {
        int delay;
        int64_t add, spread;
        int wait;
    };
    for (Case c : {Case{7, 1, 3, 10}, Case{7, 0, 3, 4}, Case{1, 0, 3, 2}, Case{15, 1, 3, 8}}) {
        freelines(PendingOps());
        int call = 0;
        Script().hooks.random = [&](int64_t) { return call++ == 0 ? c.spread : c.add; };
        pop(c.delay, "#a", "bob");
        ASSERT_EQ(PendingOps().size(), 1u);
        EXPECT_EQ(PendingOps().front().value, c.wait) << c.delay;
    }
    // The grant goes out when the countdown ends and bob is there without operator status.
    WindowId chan = Channel("#a");
    user("bob", findhwnd(chan), 1, kPlain);
    freelines(PendingOps());
    aline(PendingOps(), "#a bob", false, 2);
    aline(PendingOps(), "#a carol", false, 1);
    sent.clear();
    AutoOpTick();
    EXPECT_TRUE(sent.empty());
    AutoOpTick();
    EXPECT_EQ(sent, Lines{"MODE #a +o bob"});
    Hooks().cancel_auto_op("carol");
    EXPECT_TRUE(PendingOps().empty());
}

TEST_F(RemoteTest, EventIdentifiersGluedAfterOtherText) {
    Add(Script().szusers, {"7:bob"});
    struct Case {
        const char* word;
        const char* value;
    };
    const Case cases[] = {
        {":$parms", ":a b c"},
        {"x$nick", "xbob"},
        {"=$nick", "=bob"},
        {"$nick!$address", "bob!u@bob.example.net"},
        {"($site)", "(bob.example.net)"},
        {"<$parm2-3>", "<b c>"},
        {"$nick's", "bob's"},
        {"#$chan", "#x"},
        {"&$chan", "#x"},
        {"a$chan", "a#x"},
        {"lvl=$level", "lvl=7"},
        {"$knick/$opnick", "$knick/$opnick"},  // not a kick nor an operator event
        {"us$5", "us$5"},
        {"$$", "$$"},
        {"cost$", "cost$"},
    };
    for (const Case& c : cases) {
        freelines(Script().szevents);
        Session().auto_replies.clear();
        Add(Script().szevents, {std::string("1:on text:*:*:/msg carol ") + c.word});
        EXPECT_EQ(Message("bob", "#x", "a b c"), Lines{std::string("PRIVMSG carol :") + c.value})
            << c.word;
    }
    // A channel name already has its "#"; a value is never searched for identifiers again.
    freelines(Script().szevents);
    Session().auto_replies.clear();
    Add(Script().szevents, {"1:on text:*:*:/msg carol #$chan x$parms"});
    EXPECT_EQ(Message("bob", "#room", "$nick"), Lines{"PRIVMSG carol :#room x$nick"});
    // A required identifier without a value runs nothing.
    freelines(Script().szevents);
    Add(Script().szevents, {"1:on text:*:*:/msg carol $$chan"});
    EXPECT_TRUE(Message("bob", "me", "x").empty());
}

TEST_F(RemoteTest, ColonGreaterChainsFurtherEntries) {
    Add(Script().szcmds,
        {"1:GREET:/msg $nick greetings $parms", "1:TWICE:/msg $nick again :> GREET",
         "1:LOOP:/msg $nick loop :> LOOP", "1:DO:/msg $nick do"});
    struct Case {
        const char* command;
        Lines sent;
        bool exceeded;
    };
    const std::string long_chain = "/msg $nick first :> " + std::string(250, 'X');
    const Case cases[] = {
        {"/msg $nick one :> GREET", {"PRIVMSG bob :one", "PRIVMSG bob :greetings hi there"}, false},
        {"/msg $nick one :> GREET to you",
         {"PRIVMSG bob :one", "PRIVMSG bob :greetings to you"},
         false},
        {"/msg $nick one :> TWICE :> GREET x",
         {"PRIVMSG bob :one", "PRIVMSG bob :again", "PRIVMSG bob :greetings hi there",
          "PRIVMSG bob :greetings x"},
         false},
        {"/msg $nick one :> NOSUCH :> GREET",
         {"PRIVMSG bob :one", "PRIVMSG bob :greetings hi there"},
         false},
        {long_chain.c_str(), {"PRIVMSG bob :first"}, true},
        {"/msg $nick one :> DO /raw QUIT", {"PRIVMSG bob :one", "PRIVMSG bob :do"}, false},
    };
    Options().ctcp_do = 1;
    for (const Case& c : cases) {
        freelines(Script().szevents);
        Add(Script().szevents, {std::string("1:on text:*:*:") + c.command});
        Session().auto_replies.clear();
        Lines out = Message("bob", "me", "hi there");
        EXPECT_EQ(out, c.sent) << c.command;
        EXPECT_EQ(Printed("* Remote: stack exceeded! command halted!"), c.exceeded) << c.command;
        EXPECT_EQ(last_result, 0) << c.command;
    }
    // Entries that name each other end, with the same message.
    freelines(Script().szevents);
    Add(Script().szevents, {"1:on text:*:*:/echo start :> LOOP"});
    Session().auto_replies.clear();
    Lines looped = Message("bob", "me", "x");
    EXPECT_EQ(looped.size(), static_cast<size_t>(kMaxChainRuns));
    EXPECT_TRUE(Printed("* Remote: stack exceeded! command halted!"));
    // ":>" at the end still lets the default handling happen, and chains nothing.
    freelines(Script().szevents);
    Add(Script().szevents, {"1:on text:*:*:/msg $nick seen:>"});
    EXPECT_EQ(Message("bob", "me", "x"), Lines{"PRIVMSG bob :seen"});
    EXPECT_EQ(last_result, 1);
}

TEST(RemoteModes, KeysOfModeEntries) {
    ResetSession();
    struct Case {
        const char* modes;
        const char* key;
        Lines lines;
    };
    const Case cases[] = {
        {"+nt", "", {"MODE #a +nt"}},
        {"-k", "old", {"MODE #a -k old"}},
        {"-k", "", {"MODE #a -k"}},
        {"-k mine", "old", {"MODE #a -k mine"}},
        {"-k+l 10", "old", {"MODE #a -k+l old 10"}},
        {"+l-k 10", "old", {"MODE #a +l-k 10 old"}},
        {"+k new", "", {"MODE #a +k new"}},
        {"+k new", "old", {"MODE #a -k old", "MODE #a +k new"}},
        {"+ik new", "old", {"MODE #a -k old", "MODE #a +ik new"}},
        {"", "old", {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ModeEntryLines("#a", c.modes, c.key), c.lines) << c.modes << " / " << c.key;

    struct KeyCase {
        const char* known;
        const char* change;
        Lines args;
        const char* key;
    };
    const KeyCase keys[] = {
        {"", "+t", {}, ""},
        {"[+tnk secret]", "+m", {}, "secret"},
        {"[+lk 10 secret]", "+i", {}, "secret"},
        {"[+tnk secret]", "-k", {"secret"}, ""},
        {"[+tn]", "+k", {"fresh"}, "fresh"},
        {"[+tnk secret]", "+o-k+k", {"bob", "secret", "next"}, "next"},
        {"[+tnk]", "+v", {"bob"}, ""},  // the server did not show the key
    };
    for (const KeyCase& c : keys)
        EXPECT_EQ(KeyAfterModes(c.known, c.change, c.args), c.key) << c.known << " " << c.change;
}

TEST_F(RemoteTest, ModeEntriesUseTheChannelsKey) {
    WindowId chan = Channel("#a");
    RecordOf(chan)->modes = "[+tnk secret]";
    Add(Script().szevents, {"1:on mode:#a:-k", "1:on servermode:#a:+k ours:/echo relocked"});
    auto mode = [&](const std::string& nick, const std::string& line, const std::string& modes) {
        sent.clear();
        Current().line = Tokenize(line);
        CurrentEvent e;
        e.code = kEventMode;
        e.nick = nick;
        e.userhost = nick.find('.') == std::string::npos ? "u@h" : "";
        e.command = "mode";
        e.target = "#a";
        e.arg = modes;
        performevent(e);
        Current().line = TokenizedLine{};
        return sent;
    };
    EXPECT_EQ(mode("bob", ":bob!u@h MODE #a +k other", "+k"), Lines{"MODE #a -k other"});
    EXPECT_EQ(mode("bob", ":bob!u@h MODE #a +m", "+m"), Lines{"MODE #a -k secret"});
    EXPECT_EQ(mode("irc.example.net", ":irc.example.net MODE #a +m", "+m"),
              (Lines{"MODE #a -k secret", "MODE #a +k ours"}));
}

}  // namespace
}  // namespace chat
