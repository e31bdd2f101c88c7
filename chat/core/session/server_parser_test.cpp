#include "chat/core/session/server_parser.h"

#include <regex>

#include "chat/core/session/nick_list.h"
#include "chat/core/session/server_parser_fixture.h"

namespace chat {
namespace {

std::vector<std::string> Names(WindowId chan) {
    std::vector<std::string> out;
    for (const NickEntry& e : DisplayEntries(ChannelOf(chan).nicks)) out.push_back(e.text);
    return out;
}

TEST(TokenizeTest, SourceParametersTrailingAndTags) {
    TokenizedLine t =
        Tokenize("@time=2024-01-01T00:00:00Z;msgid=x :nick!u@h PRIVMSG #c :hi  there");
    ASSERT_EQ(t.tk.size(), 4u);
    EXPECT_EQ(t.tk[0], "nick!u@h");
    EXPECT_EQ(t.tk[3], "hi  there");
    EXPECT_EQ(t.trailing, 3u);

    t = Tokenize(":srv 366 me #c End");  // no trailing parameter
    EXPECT_EQ(t.trailing, 0u);
    EXPECT_EQ(t.tk.size(), 5u);

    t = Tokenize(":srv  MODE   #c +o  x ");  // runs of blanks separate once
    ASSERT_EQ(t.tk.size(), 5u);
    EXPECT_EQ(t.tk[4], "x");

    t = Tokenize(":srv 001 me :");  // an empty trailing parameter is still a parameter
    EXPECT_EQ(t.trailing, 3u);
    EXPECT_EQ(t.tk[3], "");

    EXPECT_TRUE(Tokenize("@only-tags").tk.empty());
}

TEST(TokenizeTest, HostileLinesAreBounded) {
    std::string many;
    for (int i = 0; i < 5000; ++i) many += "a ";
    TokenizedLine t = Tokenize(":x PRIVMSG #c " + many + ":tail");
    EXPECT_EQ(t.tk.size(), kMaxTokens);
    EXPECT_EQ(t.trailing, 0u);

    std::string huge(10000, 'z');
    t = Tokenize(":" + huge + " " + huge + " :" + huge);
    ASSERT_EQ(t.tk.size(), 3u);
    EXPECT_EQ(t.tk[2].size(), 10000u);
}

TEST_F(ParserTest, HostileLinesNeverOverflowTheMessage) {
    std::string many;
    for (int i = 0; i < 3000; ++i) many += "word ";
    auto out = Feed({":srv 999 me " + many, ":x FOO " + std::string(10000, 'q')});
    ASSERT_EQ(out.size(), 2u);
    EXPECT_LE(out[0].text.size(), kMaxMsg);
    EXPECT_LE(out[1].text.size(), kMaxMsg);
    // Missing parameters of every command: nothing crashes, nothing is sent.
    for (const char* cmd : {"JOIN", "PART", "KICK", "KILL", "MODE", "NICK", "NOTICE", "PRIVMSG",
                            "QUIT", "TOPIC", "INVITE", "PONG", "PING", "ERROR", "WALLOPS"}) {
        parseline(std::string(":a!b@c ") + cmd);
        parseline(std::string(":a ") + cmd + " :");
        parseline(cmd);
    }
    for (int code = 1; code < 1000; ++code) {
        parseline(":srv " + std::to_string(code));
        parseline(":srv " + std::to_string(code) + " me");
        parseline(":srv " + std::to_string(code) + " me :");
    }
    parseline("");
    parseline(":");
    parseline("@");
    parseline(" ");
    for (const std::string& s : sent) EXPECT_EQ(s.find('\n'), std::string::npos);
}

TEST_F(ParserTest, LinesAsRealServersSendThem) {
    // Greeting of a network with services and account tags, in RFC 2812 and IRCv3 forms.
    auto out = Feed(
        {":calcium.libera.chat NOTICE * :*** Checking Ident",
         "@time=2024-05-01T10:00:00.123Z :calcium.libera.chat 001 me :Welcome to the "
         "Libera.Chat Internet Relay Chat Network me",
         ":calcium.libera.chat 005 me CALLERID=g WHOX ETRACE FNC SAFELIST ELIST=CMNTU "
         "KNOCK MONITOR=100 CHANTYPES=# EXCEPTS INVEX CHANMODES=eIbq,k,flj,CFLMPQRSTcgimnprstuz "
         ":are supported by this server",
         ":calcium.libera.chat 005 me CHANLIMIT=#:250 PREFIX=(ov)@+ MAXLIST=bqeI:100 "
         "MODES=4 NETWORK=Libera.Chat STATUSMSG=@+ CASEMAPPING=rfc1459 :are supported by "
         "this server",
         ":calcium.libera.chat 375 me :- calcium.libera.chat Message of the Day - ",
         ":calcium.libera.chat 376 me :End of /MOTD command."});
    ASSERT_GE(out.size(), 5u);
    EXPECT_EQ(out[0].text, "-calcium.libera.chat- *** Checking Ident");
    EXPECT_EQ(CurrentNickname(), "me");
    EXPECT_TRUE(Session().chanmodes_known);
    EXPECT_TRUE(ModeTakesArgument('q', false));  // a list mode there
    EXPECT_FALSE(ModeTakesArgument('f', false));
    EXPECT_FALSE(ModeTakesArgument('h', true));  // no half-ops announced
    WindowId chan = Join("#libera");
    Feed({"@account=bob;time=2024-05-01T10:00:01Z :bob!~bob@user/bob JOIN #libera bob :Bob B",
          ":calcium.libera.chat 353 me = #libera :me @ChanServ +bob",
          ":calcium.libera.chat 366 me #libera :End of /NAMES list.",
          ":ChanServ!ChanServ@services.libera.chat MODE #libera +q *!*@spam.example",
          ":ChanServ!ChanServ@services.libera.chat MODE #libera -v+o bob bob"});
    EXPECT_EQ(Names(chan), (std::vector<std::string>{"@bob", "@ChanServ", "me"}));
    std::string win;
    EXPECT_EQ(One("@msgid=abc :bob!~bob@user/bob PRIVMSG #libera :hi all", &win), "<bob> hi all");
    EXPECT_EQ(win, "#libera");
    // An old-style server: "JOIN :#chan", a 333 with a plain nick, "NOTICE AUTH".
    EXPECT_EQ(One("NOTICE AUTH :*** Found your hostname"), "*** Found your hostname");
    EXPECT_EQ(
        One(":irc.old.net 333 me #libera bob 1000000000").rfind("#libera topic set by bob on ", 0),
        0u);
}

TEST_F(ParserTest, PingPongErrorAndServerNotices) {
    std::string win;
    int colour = -1;
    EXPECT_EQ(One("PING :irc.example.net", &win, &colour), "PING? PONG!");
    EXPECT_EQ(win, "Status Window");
    EXPECT_EQ(colour, 2);
    EXPECT_EQ(sent.back(), "PONG :irc.example.net");
    One("PING");
    EXPECT_EQ(sent.back(), "PONG");
    // After a source too.
    One(":irc.example.net PING :tok");
    EXPECT_EQ(sent.back(), "PONG :tok");
    EXPECT_EQ(One(":srv PONG srv :x", nullptr, &colour), "*** PONG from srv");
    EXPECT_EQ(colour, 1);
    EXPECT_EQ(One("ERROR :Closing Link: me (Quit)"), "ERROR Closing Link: me (Quit)");
    EXPECT_EQ(One("NOTICE AUTH :*** Looking up your hostname"), "*** Looking up your hostname");
    EXPECT_EQ(One(":srv.example.net NOTICE me :server says", &win, &colour),
              "-srv.example.net- server says");
    EXPECT_EQ(colour, 4);
    // Time stamps go in front of what handlers compose, "[h:mm] ".
    Options().tse = 1;
    std::string stamped = One("PING :x");
    EXPECT_TRUE(std::regex_match(stamped, std::regex(R"(\[\d{1,2}:\d\d\] PING\? PONG!)")))
        << stamped;
    Options().tse = 0;
    // An unknown command is shown whole; a source without "!" is a plain name.
    EXPECT_EQ(One(":srv FOO bar :baz qux"), "srv FOO bar baz qux");
}

TEST_F(ParserTest, JoinPartQuitAndTheNickList) {
    WindowId chan = Join("#c");
    ASSERT_NE(chan, 0u);
    EXPECT_EQ(sent.back(), "MODE #c");
    EXPECT_EQ(printed.back().text, "*** Now talking in #c");
    Feed({":srv 353 me = #c :@op +v me zed Alpha", ":srv 366 me #c :End of /NAMES list."});
    EXPECT_EQ(Names(chan), (std::vector<std::string>{"@op", "+v", "Alpha", "me", "zed"}));

    std::string win;
    int colour = -1;
    EXPECT_EQ(One(":bob!b@x.org JOIN :#c", &win, &colour), "*** bob (b@x.org) has joined #c");
    EXPECT_EQ(win, "#c");
    EXPECT_EQ(colour, 2);
    EXPECT_EQ(Names(chan).at(2), "Alpha");
    EXPECT_EQ(Names(chan).at(3), "bob");
    EXPECT_EQ(One(":bob!b@x.org PART #c :bye"), "*** bob (b@x.org) has left #c");
    EXPECT_EQ(Names(chan).size(), 5u);

    Options().ajpf = 1;
    EXPECT_EQ(One(":bob!b@x.org JOIN #c"), "*** Joins: bob (b@x.org)");
    Options().sjpc = 0;
    EXPECT_EQ(One(":bob!b@x.org PART #c", &win), "*** Parts #c: bob (b@x.org)");
    EXPECT_EQ(win, "Status Window");
    Options().ajpf = 0;
    Options().sjpc = 1;

    // Quit: shown in each channel that listed the nick, then always in the status window.
    WindowId other = Join("#d");
    parseline(":srv 353 me = #d :zed me");
    auto out = Feed({":zed!z@q QUIT :Ping timeout"});
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[0].text, "*** zed has quit IRC (Ping timeout)");
    EXPECT_EQ(out[2].window, "Status Window");
    EXPECT_EQ(out[2].text, "*** zed (z@q) Quit (Ping timeout)");
    EXPECT_EQ(Names(other), (std::vector<std::string>{"me"}));

    // A join to something that is not a channel is refused with PART.
    parseline(":me!u@h JOIN weird");
    EXPECT_EQ(sent.back(), "PART weird");
    // Our own part closes the window without sending PART.
    size_t before = sent.size();
    parseline(":me!u@h PART #d");
    EXPECT_EQ(WindowNamed("#d"), 0u);
    EXPECT_EQ(sent.size(), before);
}

TEST_F(ParserTest, NickChangesFollowTheMemberAndTheSession) {
    WindowId chan = Join("#c");
    parseline(":srv 353 me = #c :@bob me");
    Join("#e");
    auto out = Feed({":bob!b@h NICK :robert"});
    ASSERT_EQ(out.size(), 1u);  // only where bob is listed
    EXPECT_EQ(out[0].window, "#c");
    EXPECT_EQ(out[0].text, "*** bob is now known as robert");
    EXPECT_EQ(Names(chan).front(), "@robert");
    EXPECT_TRUE(Feed({":ghost!g@h NICK other"}).empty());

    // A query window follows its partner's new name.
    parseline(":robert!b@h PRIVMSG me :hi");
    ASSERT_NE(WindowNamed("robert"), 0u);
    parseline(":robert!b@h NICK rob");
    EXPECT_NE(WindowNamed("rob"), 0u);
    EXPECT_EQ(WindowNamed("robert"), 0u);

    // Ours: the session changes, the setting does not.
    Options().szNickName = "me";
    out = Feed({":me!u@h NICK :me2"});
    EXPECT_EQ(CurrentNickname(), "me2");
    EXPECT_EQ(Conn().session_nick, "me2");
    EXPECT_EQ(Options().szNickName, "me");
    EXPECT_EQ(out.back().text, "*** Your nick is now me2");
    EXPECT_EQ(Names(chan).back(), "me2");
}

TEST_F(ParserTest, NicknamesCompareByTheServersCaseMapping) {
    WindowId chan = Join("#c");
    parseline(":srv 353 me = #c :[Foo]");
    parseline(":{foo}!a@b PART #c");
    EXPECT_TRUE(Names(chan).empty());
    parseline(":srv 005 me CASEMAPPING=ascii :are supported");
    parseline(":srv 353 me = #c :[Foo]");
    parseline(":{foo}!a@b PART #c");
    EXPECT_EQ(Names(chan).size(), 1u);
    EXPECT_TRUE(IsMe("ME"));
}

TEST_F(ParserTest, ModeChangesMarksAndArguments) {
    WindowId chan = Join("#c");
    WindowRecord* r = RecordOf(chan);
    r->mode_request = 0;
    parseline(":srv 353 me = #c :@op a b c");
    std::string win;
    EXPECT_EQ(One(":op!o@h MODE #c +ov-o+b a b op *!*@bad", &win),
              "*** op sets #c mode: +ov-o+b a b op *!*@bad");
    EXPECT_EQ(win, "#c");
    EXPECT_EQ(Names(chan), (std::vector<std::string>{"@a", "+b", "c", "op"}));
    // A voice on an operator is kept beneath the @: taking the op leaves the voice.
    parseline(":op!o@h MODE #c +v a");
    EXPECT_EQ(Names(chan).front(), "@a");
    parseline(":op!o@h MODE #c -o a");
    EXPECT_EQ(Names(chan).front(), "+a");
    parseline(":op!o@h MODE #c -v a");
    EXPECT_EQ(Names(chan).at(1), "a");
    // Without CHANMODES, "l" takes an argument only when set and "k" always does.
    parseline(":op!o@h MODE #c +lk-l+v 10 key b");
    EXPECT_EQ(Names(chan).front(), "+b");
    parseline(":op!o@h MODE #c -k+o key c");
    EXPECT_EQ(Names(chan).front(), "@c");
    // The server's own lists decide: here "j" takes an argument, so "+j 3 a" voices a.
    parseline(":srv 005 me CHANMODES=beI,kj,l,imnst PREFIX=(qaohv)~&@%+ :are supported");
    parseline(":op!o@h MODE #c +jv 3 a");
    EXPECT_EQ(Names(chan).at(1), "+a");
    parseline(":op!o@h MODE #c +qh a op");
    EXPECT_EQ(Names(chan), (std::vector<std::string>{"~a", "@c", "%op", "+b"}));
    // A mode change that alters the channel asks for the modes once and marks the rest.
    sent.clear();
    r->mode_request = 0;
    parseline(":op!o@h MODE #c +m");
    parseline(":op!o@h MODE #c +n");
    EXPECT_EQ(sent, (std::vector<std::string>{"MODE #c"}));
    EXPECT_EQ(r->mode_request, 2);
    parseline(":srv 324 me #c +mnt");
    EXPECT_EQ(sent.back(), "MODE #c");
    EXPECT_TRUE(Feed({":srv 324 me #c +mnt"}).empty());
    EXPECT_EQ(r->modes, "[+mnt]");
    EXPECT_EQ(One(":srv 324 me #c +mntlk 5 secret"), "#c +mntlk 5 secret");
    EXPECT_EQ(r->modes, "[+mntlk 5 secret]");

    // A user-mode change of ours.
    Options().smic = 1;
    EXPECT_EQ(One(":me MODE me :+iw"), "*** me sets mode: +iw");
    EXPECT_EQ(Conn().szUmode, "[+iw]");
    auto out = Feed({":srv MODE me :+o"});
    ASSERT_GE(out.size(), 1u);
    EXPECT_EQ(out[0].text, "*** Greetings IRCop ***");
    EXPECT_EQ(Conn().szUmode, "[+iwo]");
}

TEST_F(ParserTest, TopicKickKillAndInvite) {
    WindowId chan = Join("#c");
    parseline(":srv 353 me = #c :@op zed me");
    std::string win;
    int colour = -1;
    EXPECT_EQ(One(":op!o@h TOPIC #c :a new topic", &win, &colour),
              "*** op changes topic to \"a new topic\"");
    EXPECT_EQ(win, "#c");
    EXPECT_EQ(RecordOf(chan)->topic, "a new topic");
    parseline(":op!o@h TOPIC #c :" + std::string(400, 't'));
    EXPECT_EQ(RecordOf(chan)->topic.size(), kMaxTopic);

    EXPECT_EQ(One(":op!o@h KICK #c zed :behave", &win), "*** zed was kicked by op (behave)");
    EXPECT_EQ(win, "#c");
    EXPECT_EQ(Names(chan).size(), 2u);
    EXPECT_EQ(One(":op!o@h KILL me :flood"), "*** You were killed by op (flood)");

    // Invites: auto-join only one valid channel name, at most once in 10 seconds.
    Options().ajcoi = 1;
    sent.clear();
    EXPECT_EQ(One(":bob!b@h INVITE me :#fun"), "*** bob (b@h) invites you to join #fun");
    EXPECT_EQ(sent, (std::vector<std::string>{"JOIN #fun"}));
    now_ms += 5000;
    parseline(":bob!b@h INVITE me :#more");
    EXPECT_EQ(sent.size(), 1u);
    now_ms += 6000;
    for (const char* bad : {"#a,#b", "#a\x07", "nochan", "#"})
        parseline(std::string(":bob!b@h INVITE me :") + bad);
    parseline(":bob!b@h INVITE me :#" + std::string(95, 'x'));
    EXPECT_EQ(sent.size(), 1u);
    parseline(":bob!b@h INVITE me :#ok");
    EXPECT_EQ(sent.back(), "JOIN #ok");
}

TEST_F(ParserTest, RejoinAfterKickWaitsAndGivesUp) {
    Options().rcwk = 1;
    WindowId chan = Join("#c");
    sent.clear();
    auto out = Feed({":op!o@h KICK #c me :out"});
    ASSERT_GE(out.size(), 3u);
    EXPECT_EQ(out[0].text, "*** You were kicked by op (out)");
    EXPECT_EQ(out[1].text, "*** Attempting to rejoin...");
    EXPECT_EQ(out.back().text, "*** You were kicked from #c by op (out)");
    EXPECT_TRUE(sent.empty());
    now_ms += 2000;
    ParserTick();
    EXPECT_TRUE(sent.empty());
    now_ms += 1000;
    ParserTick();
    EXPECT_EQ(sent, (std::vector<std::string>{"JOIN #c"}));
    EXPECT_EQ(Join("#c"), chan);
    EXPECT_EQ(printed.back().text, "*** Rejoined channel #c");

    // Second kick still rejoins; the third within a minute closes the window instead.
    parseline(":op!o@h KICK #c me :again");
    now_ms += 3000;
    ParserTick();
    Join("#c");
    sent.clear();
    parseline(":op!o@h KICK #c me :and again");
    now_ms += 5000;
    ParserTick();
    EXPECT_TRUE(sent.empty());
    EXPECT_EQ(WindowNamed("#c"), 0u);

    // A ban answering the rejoin closes the window.
    now_ms += 120000;
    chan = Join("#d");
    parseline(":op!o@h KICK #d me :x");
    out = Feed({":srv 474 me #d :Cannot join channel (+b)"});
    EXPECT_EQ(out.back().text, "#d unable to rejoin channel (you're banned!)");
    EXPECT_EQ(WindowNamed("#d"), 0u);
}

TEST_F(ParserTest, PrivateAndChannelMessages) {
    Join("#c");
    std::string win;
    int colour = -1;
    EXPECT_EQ(One(":bob!b@h PRIVMSG #c :hello there", &win, &colour), "<bob> hello there");
    EXPECT_EQ(win, "#c");
    EXPECT_EQ(colour, 0);
    EXPECT_EQ(One(":bob!b@h PRIVMSG #nowindow :lost"), "");
    EXPECT_EQ(One(":bob!b@h PRIVMSG me :psst", &win), "<bob> psst");
    EXPECT_EQ(win, "bob");
    EXPECT_EQ(One(":bob!b@h PRIVMSG me :again", &win), "<bob> again");
    EXPECT_EQ(win, "bob");
    EXPECT_EQ(One(":bob!b@h NOTICE #c :note", &win, &colour), "-bob:#c- note");
    EXPECT_EQ(colour, 4);
    EXPECT_EQ(One(":bob!b@h NOTICE me :private note", &win), "-bob- private note");
    EXPECT_EQ(win, "Status Window");
    EXPECT_EQ(One(":op!o@h PRIVMSG $*.net :maintenance", &win, &colour), "[op] maintenance");
    EXPECT_EQ(colour, 5);
    EXPECT_EQ(One(":op!o@h WALLOPS :opers only", &win, &colour), "!op! opers only");

    Options().udmw = 1;
    EXPECT_EQ(One(":carol!c@h PRIVMSG me :hey", &win), "*carol* hey");
    EXPECT_EQ(win, "Message Window");
}

TEST_F(ParserTest, HooksForAutoOpAndTheNickHistory) {
    std::vector<std::string> calls;
    Hooks().auto_op = [&](std::string_view ch, std::string_view n, std::string_view uh) {
        calls.push_back("op " + std::string(ch) + " " + std::string(n) + " " + std::string(uh));
    };
    Hooks().cancel_auto_op = [&](std::string_view n) {
        calls.push_back("cancel " + std::string(n));
    };
    Hooks().nick_wrote = [&](std::string_view n) { calls.push_back("wrote " + std::string(n)); };
    Options().doop = 1;
    Join("#c");
    parseline(":a!x@h JOIN #c");  // we are no operator yet: nothing to decide
    parseline(":srv 353 me = #c :@me a");
    parseline(":srv 366 me #c :End");
    parseline(":b!y@h JOIN #c");
    parseline(":b!y@h PART #c");
    parseline(":a!x@h QUIT :bye");
    parseline(":a!x@h PRIVMSG me :hi");
    EXPECT_EQ(calls, (std::vector<std::string>{"op #c b y@h", "cancel b", "cancel a", "wrote a"}));
    Hooks() = EventHooks{};
}

TEST_F(ParserTest, StrangersNeverTakeTheLastFreeWindowSlots) {
    for (int i = 0; i < 60; ++i) parseline(":u" + std::to_string(i) + "!x@h PRIVMSG me :hi");
    int free = 0;
    for (const WindowRecord& r : Windows().ch)
        if (!r.window) ++free;
    EXPECT_EQ(free, kQuerySlotReserve - 1);  // the message window took one
    EXPECT_NE(WindowNamed("Message Window"), 0u);
    EXPECT_EQ(printed.back().window, "Message Window");
    EXPECT_EQ(printed.back().text, "*u59* hi");
    // Our own join still finds a slot.
    EXPECT_NE(Join("#mine"), 0u);
}

TEST_F(ParserTest, CommandWordsMatchInAnyCaseButOnlyWhole) {
    Join("#c");
    const struct {
        const char* line;
        const char* shown;
    } cases[] = {
        {":bob!b@h privmsg #c :lower", "<bob> lower"},
        {":bob!b@h PrivMsg #c :mixed", "<bob> mixed"},
        {":bob!b@h PRIVMSGS #c :longer", "bob PRIVMSGS #c longer"},  // unknown: shown whole
        {":bob!b@h PRIVMS #c :shorter", "bob PRIVMS #c shorter"},
        {":srv pOnG srv :x", "*** PONG from srv"},
        {"Ping :lower", "PING? PONG!"},
        {"ERRORS :not an error", "ERRORS not an error"},
        {":srv 0042 me :four digits", "srv 0042 me four digits"},  // not a numeric reply
    };
    for (const auto& c : cases) EXPECT_EQ(One(c.line), c.shown) << c.line;
    EXPECT_EQ(sent.back(), "PONG :lower");
}

TEST_F(ParserTest, TheEventsScriptHearsLinesOnlyWhileListening) {
    Join("#c");
    std::vector<std::string> heard;
    Hooks().perform = [&heard](const CurrentEvent& e) {
        heard.push_back(e.command + "|" + e.nick + "|" + e.userhost + "|" + e.target + "|" +
                        e.text);
        return 1;
    };
    Options().lfe = 0;
    EXPECT_EQ(One(":bob!b@h PRIVMSG #c :unheard"), "<bob> unheard");
    EXPECT_TRUE(heard.empty());
    Options().lfe = 1;
    EXPECT_EQ(One(":bob!b@h PRIVMSG #c :heard"), "<bob> heard");
    EXPECT_EQ(heard, (std::vector<std::string>{"privmsg|bob|b@h|#c|heard"}));
    Hooks().perform = nullptr;
}

}  // namespace
}  // namespace chat
