#include "chat/core/frame.h"
#include "chat/core/session/nick_list.h"
#include "chat/core/session/server_parser_fixture.h"

namespace chat {
namespace {

TEST_F(ParserTest, LogonNickRefusalTakesTheAlternateOnce) {
    Options().szNickName = "tester";
    Options().szAltNick = "tester_";
    Conn().LoggingNick = true;
    Conn().NickError = false;
    Conn().wnick = 0;
    auto out = Feed({":srv 433 * tester :Nickname is already in use"});
    EXPECT_EQ(sent, (std::vector<std::string>{"NICK :tester_"}));
    EXPECT_EQ(Conn().wnick, 1);
    EXPECT_EQ(out.back().text, "tester Nickname is already in use");
    parseline(":srv 433 * tester_ :Nickname is already in use");
    EXPECT_EQ(sent.size(), 1u);
    EXPECT_EQ(input, "/nick ");
    EXPECT_TRUE(Conn().NickError);

    // The welcome names us; the setting keeps its value.
    Feed({":irc.example.net 001 tester_ :Welcome to the network tester_"});
    EXPECT_EQ(CurrentNickname(), "tester_");
    EXPECT_EQ(Options().szNickName, "tester");
    EXPECT_FALSE(Conn().LoggingNick);
    EXPECT_EQ(printed.back().text, "Welcome to the network tester_");

    // Without an alternate the input line is prepared at once.
    Options().szAltNick.clear();
    Conn().LoggingNick = true;
    Conn().NickError = false;
    Conn().wnick = 0;
    input.clear();
    sent.clear();
    parseline(":srv 432 * b@d :Erroneous nickname");
    EXPECT_TRUE(sent.empty());
    EXPECT_EQ(input, "/nick ");
}

TEST_F(ParserTest, EndOfMotdJoinsOnceAndTrailingIsOptional) {
    Conn().FirstMOTD = true;
    Conn().joinstr = "#a,#b";
    EXPECT_EQ(One(":srv 376 me :End of /MOTD command."), "End of /MOTD command.");
    EXPECT_EQ(sent, (std::vector<std::string>{"JOIN #a,#b"}));
    parseline(":srv 422 me :MOTD File is missing");
    EXPECT_EQ(sent.size(), 1u);
    // Servers that leave out the ":" of the last parameter still show their text.
    EXPECT_EQ(One(":srv 002 me Hosted"), "Hosted");
    EXPECT_EQ(One(":srv 401 me nobody No"), "srv 401 me nobody No");
    EXPECT_EQ(One(":srv 004 me srv v1 iw bklmnov"), "srv v1 iw bklmnov");
    EXPECT_EQ(One(":srv 004 me"), "");
}

TEST_F(ParserTest, NamesFillTheListAndTopicsTheTitle) {
    WindowId chan = Join("#c");
    std::vector<std::vector<NickEntry>> shown;
    Frontend fe = CurrentFrontend();
    fe.nicklist_changed = [&](WindowId, const std::vector<NickEntry>& n) { shown.push_back(n); };
    fe.rename_window = [&](WindowId, const std::string&, const std::string& title) {
        input = title;
    };
    InstallFrontend(fe);
    auto out = Feed({":srv 332 me #c :Welcome to c", ":srv 333 me #c op!o@h 1700000000",
                     ":srv 353 me @ #c :me @Op +Vo alpha Beta", ":srv 353 me @ #c :~own %half",
                     ":srv 366 me #c :End of /NAMES list."});
    EXPECT_EQ(out.at(0).text, "#c Welcome to c");
    EXPECT_EQ(out.at(0).window, "Status Window");
    EXPECT_EQ(out.at(1).text.rfind("#c topic set by op!o@h on ", 0), 0u);
    EXPECT_EQ(RecordOf(chan)->topic, "Welcome to c");
    EXPECT_EQ(input, "#c: Welcome to c");
    FlushNickLists();
    ASSERT_FALSE(shown.empty());
    std::vector<std::string> texts;
    for (const NickEntry& e : shown.back()) texts.push_back(e.text);
    EXPECT_EQ(texts,
              (std::vector<std::string>{"~own", "@Op", "%half", "+Vo", "alpha", "Beta", "me"}));
    // A second NAMES run for the channel starts from an empty list.
    Feed({":srv 353 me = #c :solo", ":srv 366 me #c :End"});
    EXPECT_EQ(ChannelOf(chan).nicks.size(), 1u);
    // A topic setter time of 1000 or less shows nothing; entries too long are refused.
    EXPECT_EQ(One(":srv 333 me #c op 1000"), "");
    parseline(":srv 353 me = #c :" + std::string(96, 'n') + " ok");
    EXPECT_EQ(ChannelOf(chan).nicks.size(), 1u);
    EXPECT_NE(FindMember(ChannelOf(chan).nicks, "OK"), nullptr);
}

TEST_F(ParserTest, WhoisLinesAndTheDialog) {
    auto out = Feed({":srv 311 me bob ~b host.example * :Bob Real",
                     ":srv 312 me bob irc.example :The Server",
                     ":srv 317 me bob 3725 1700000000 :idle", ":srv 319 me bob :@#a #b",
                     ":srv 301 me bob :gone fishing", ":srv 318 me bob :End of /WHOIS list."});
    ASSERT_EQ(out.size(), 6u);
    EXPECT_EQ(out[0].text, "bob is ~b@host.example * Bob Real");
    EXPECT_EQ(out[1].text, "bob using irc.example The Server");
    EXPECT_EQ(out[2].text.rfind("bob has been idle 1hr 2mins 5secs, signed on ", 0), 0u);
    EXPECT_EQ(out[3].text, "bob on @#a #b");
    EXPECT_EQ(out[4].text, "bob is away: gone fishing");
    EXPECT_FALSE(Session().InWhois);

    WhoisRecord& w = Session().uwho;
    w.nick = "bob";
    w.open = true;
    std::string channels;
    for (int i = 0; i < 40; ++i) channels += "#chan" + std::to_string(i) + " ";
    int shows = 0;
    Frame().hwndFrame = platform::CreateWindow(
        [&](platform::HWND, platform::UINT m, platform::WPARAM, platform::LPARAM) {
            if (m == kMsgShowWhois) ++shows;
            return platform::LRESULT{0};
        });
    out = Feed({":srv 311 me bob ~b host * :Bob", ":srv 319 me bob :" + channels,
                ":srv 319 me bob :" + std::string(300, 'x'), ":srv 317 me bob 5 0",
                ":srv 318 me bob :End"});
    EXPECT_TRUE(out.empty());
    platform::PumpMessages();
    EXPECT_EQ(shows, 1);  // the end of the reply shows the gathered fields
    platform::DestroyWindow(Frame().hwndFrame);
    Frame().hwndFrame = 0;
    EXPECT_EQ(w.address, "~b@host");
    EXPECT_EQ(w.idle, "5");
    ASSERT_GT(w.channels.size(), 200u);
    EXPECT_LE(w.channels.size(), 250u);
    EXPECT_NE(w.channels.find("... (too many)"), std::string::npos);
    EXPECT_EQ(w.channels.substr(0, 6), "#chan0");

    // A dialog field never grows from an endless word either.
    w.channels.clear();
    parseline(":srv 319 me bob :" + std::string(300, 'x'));
    EXPECT_LE(w.channels.size(), 250u);

    EXPECT_EQ(convertseconds(1), "1 second");
    EXPECT_EQ(convertseconds(60), "1min");
    EXPECT_EQ(convertseconds(7200), "2hrs");
}

TEST_F(ParserTest, AddressLookupsTakeTheirWhoisReplies) {
    std::vector<std::string> got;
    checkwhois("Bob", [&](const std::string& a) { got.push_back(a); });
    checkwhois(
        "ghost", [&](const std::string& a) { got.push_back(a); },
        [&] { got.push_back("unknown"); });
    EXPECT_EQ(sent, (std::vector<std::string>{"WHOIS Bob", "WHOIS ghost"}));
    auto out = Feed({":srv 311 me bob ~b host.example * :Bob", ":srv 319 me bob :#a",
                     ":srv 312 me bob irc :x", ":srv 318 me bob :End of /WHOIS list.",
                     ":srv 401 me ghost :No such nick/channel", ":srv 318 me ghost :End"});
    EXPECT_EQ(got, (std::vector<std::string>{"bob!~b@host.example", "unknown"}));
    ASSERT_EQ(out.size(), 2u);  // the look-ups show nothing but the unknown nick
    EXPECT_EQ(out[0].text, "ghost No such nick/channel");
    EXPECT_TRUE(Session().lookups.empty());
    // The next who-is of that nick is shown again.
    EXPECT_EQ(One(":srv 311 me bob ~b h * :Bob"), "bob is ~b@h * Bob");
    int motd = 0;
    Hooks().first_motd = [&] { ++motd; };
    Conn().FirstMOTD = true;
    Feed({":srv 376 me :End", ":srv 376 me :End"});
    EXPECT_EQ(motd, 1);
    Hooks() = EventHooks{};
}

TEST_F(ParserTest, ChannelsListWindowCountsAndFilters) {
    std::vector<std::string> titles;
    Frontend fe = CurrentFrontend();
    fe.rename_window = [&](WindowId, const std::string&, const std::string& t) {
        titles.push_back(t);
    };
    InstallFrontend(fe);
    Options().listmin = 2;
    parseline(":srv 321 me Channel :Users  Name");
    WindowId w = WindowNamed("Channels List");
    ASSERT_NE(w, 0u);
    for (int i = 0; i < 25; ++i)
        parseline(":srv 322 me #ch" + std::to_string(i) + " " + std::to_string(i % 5) + " :topic " +
                  std::to_string(i));
    parseline(":srv 322 me #" + std::string(30, 'l') + " 9 :too long a name");
    Windows().may_close = MayCloseWindow;
    EXPECT_FALSE(closewindow(w));  // not while the listing still arrives
    parseline(":srv 323 me :End of /LIST");
    EXPECT_EQ(RecordOf(w)->lines.size(), 25u);
    EXPECT_EQ(titles, (std::vector<std::string>{
                          "Channels List: 0/0 Channels", "Channels List: 6/10 Channels",
                          "Channels List: 12/20 Channels", "Channels List: 15/25 Channels"}));
    EXPECT_EQ(RecordOf(w)->lines.front().text, " #ch0\t0\ttopic 0");
    EXPECT_TRUE(closewindow(w));
}

TEST_F(ParserTest, LinksTreeNestsByUplink) {
    // Servers list their own entry last; the tree starts from it.
    auto out =
        Feed({":srv 364 me leaf2.net hub.net :1 Leaf two", ":srv 364 me deep.net leaf1.net :2 Deep",
              ":srv 364 me leaf1.net hub.net :1 Leaf one", ":srv 364 me hub.net hub.net :0 The hub",
              ":srv 365 me * :End of /LINKS list."});
    std::vector<std::string> tree;
    for (const Printed& p : out)
        if (p.window == "Links List") tree.push_back(p.text);
    // Tabs are shown as single blanks.
    EXPECT_EQ(tree, (std::vector<std::string>{
                        "hub.net (hub.net) 0 The hub", " leaf1.net (hub.net) 1 Leaf one",
                        "  deep.net (leaf1.net) 2 Deep", " leaf2.net (hub.net) 1 Leaf two"}));
    EXPECT_EQ(out.front().text, "Retrieving links...");
    // A long chain does not recurse.
    for (int i = 0; i < 3000; ++i)
        parseline(":srv 364 me s" + std::to_string(i + 1) + " s" + std::to_string(i) + " :1 x");
    parseline(":srv 364 me s0 s0 :0 root");
    parseline(":srv 365 me * :End");
    EXPECT_FALSE(Session().Linking);
}

TEST_F(ParserTest, AwayAndCannotJoinTexts) {
    parseline(":srv 306 me :You have been marked as being away");
    EXPECT_TRUE(Session().away);
    parseline(":srv 305 me :You are no longer marked as being away");
    EXPECT_FALSE(Session().away);
    EXPECT_EQ(One(":srv 471 me #full :Cannot join channel (+l)"),
              "#full can't join channel (it's full)");
    EXPECT_EQ(One(":srv 475 me #k :Cannot join channel (+k)"),
              "#k can't join channel (requires the correct key)");
    EXPECT_EQ(One(":srv 436 me bob :collision"), "Nickname collision!");
    EXPECT_EQ(One(":srv 352 me #c ~u host srv bob H :0 Bob R"), "#c bob H ~u@host :0 Bob R");
}

}  // namespace
}  // namespace chat
