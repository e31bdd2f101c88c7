// The user-information request, the nick history behind Tab, the channels listing, our own
// nickname across a reconnect, the lag probe, the DNS look-up and the time stamps.
#include <cstdio>
#include <ctime>
#include <thread>

#include "chat/core/connection/dns_lookup.h"
#include "chat/core/frame.h"
#include "chat/core/nick_history.h"
#include "chat/core/session/server_parser_fixture.h"
#include "chat/core/session/user_info.h"

namespace chat {
namespace {

TEST_F(ParserTest, UwhoGathersOnceThenLaterRepliesShow) {
    ChatSession& s = Session();
    s.uwho = WhoisRecord{};
    s.uwho.nick = "bob";
    s.uwho.open = true;
    auto out = Feed({":srv 311 me bob b host.org * :Bob Real", ":srv 312 me bob irc.srv :Info",
                     ":srv 317 me bob 42 1700000000 :seconds idle", ":srv 319 me bob :@#a #b",
                     ":srv 318 me bob :End of /WHOIS list."});
    EXPECT_TRUE(out.empty());
    EXPECT_FALSE(s.uwho.open);
    auto fields = UserInfoFields(s.uwho);
    using F = std::pair<std::string, std::string>;
    EXPECT_EQ(fields, (std::vector<F>{{"Nick:", "bob"},
                                      {"Name:", "Bob Real"},
                                      {"Machine:", "b@host.org"},
                                      {"Server:", "irc.srv Info"},
                                      {"Away:", "(nope)"},
                                      {"Idle:", "42 sec(s)"},
                                      {"Chans:", "@#a #b"}}));

    // The request is over: a later who-is and a CTCP answer of the nick reach the screen.
    EXPECT_EQ(One(":srv 318 me bob :End of /WHOIS list."), "bob End of /WHOIS list.");
    EXPECT_EQ(One(":bob!b@host.org NOTICE me :\x01VERSION some client\x01"),
              "[bob VERSION reply]: some client");
    EXPECT_NE(One(":srv 311 me bob b host.org * :Bob Real"), "");
}

TEST_F(ParserTest, UserInfoFieldsOfAnEmptyRecordSayWhatIsMissing) {
    WhoisRecord unknown;
    unknown.nick = "ghost";
    unknown.oper = "No such user on IRC";
    auto fields = UserInfoFields(unknown);
    using F = std::pair<std::string, std::string>;
    EXPECT_EQ(fields, (std::vector<F>{{"Nick:", "ghost (No such user on IRC)"},
                                      {"Name:", "(no name)"},
                                      {"Machine:", "(unknown)"},
                                      {"Server:", "(unknown)"},
                                      {"Away:", "(nope)"},
                                      {"Idle:", "(unavailable)"},
                                      {"Chans:", "(none)"}}));
}

TEST(NickHistory, KeepsTheFiveNewestAndTabStepsBackwards) {
    struct Case {
        std::vector<std::string> wrote;
        int tabs;
        std::vector<std::string> shown;
    };
    const Case cases[] = {
        {{}, 1, {""}},
        {{"a"}, 3, {"a", "a", "a"}},
        {{"a", "b", "c"}, 4, {"c", "b", "a", "c"}},
        // Writing again moves a nick to the newest place; case does not make a new entry.
        {{"a", "b", "A"}, 2, {"a", "b"}},
        // A sixth pushes the oldest out.
        {{"n1", "n2", "n3", "n4", "n5", "n6"}, 6, {"n6", "n5", "n4", "n3", "n2", "n6"}},
    };
    for (const Case& c : cases) {
        LastNicks().clear();
        for (const std::string& n : c.wrote) addlastnick(n);
        std::vector<std::string> shown;
        for (int i = 0; i < c.tabs; ++i) shown.push_back(showlastnick().value_or(""));
        EXPECT_EQ(shown, c.shown) << c.wrote.size();
    }
    // An entered line starts the round again at the newest.
    LastNicks().clear();
    for (const char* n : {"a", "b", "c"}) addlastnick(n);
    showlastnick();
    showlastnick();
    ResetLastNicks();
    EXPECT_EQ(showlastnick(), "c");
    LastNicks().clear();
}

TEST_F(ParserTest, TabPutsAReplyToTheLastWriterIntoTheInputLine) {
    LastNicks().clear();
    int beeps = 0;
    Frontend fe = CurrentFrontend();
    fe.beep = [&] { ++beeps; };
    InstallFrontend(fe);
    NextNickToInput(StatusWindow());
    EXPECT_EQ(beeps, 1);
    EXPECT_EQ(input, "");
    Hooks().nick_wrote = [](std::string_view nick) { addlastnick(nick); };
    Feed({":alice!a@h PRIVMSG me :hi", ":bob!b@h PRIVMSG me :hello"});
    Hooks().nick_wrote = nullptr;
    NextNickToInput(StatusWindow());
    EXPECT_EQ(input, "/msg bob ");
    NextNickToInput(StatusWindow());
    EXPECT_EQ(input, "/msg alice ");
    LastNicks().clear();
}

TEST_F(ParserTest, ChannelsListingsStartEmptySortAndEndOnDisconnect) {
    struct Case {
        int dscl;
        std::vector<std::string> shown;
    };
    const Case cases[] = {
        {0, {" #alpha 3 first", " #Beta 5", " #gamma 2 x"}},
        {1, {" #gamma 2 x", " #alpha 3 first", " #Beta 5"}},
    };
    for (const Case& c : cases) {
        Options().dscl = c.dscl;
        // A first listing leaves lines behind; the next one starts from an empty window.
        Feed({":srv 321 me Channel :Users Name", ":srv 322 me #old 9 :stale",
              ":srv 323 me :End of /LIST"});
        std::vector<Printed> out = Feed({":srv 321 me Channel :Users Name",
                                         ":srv 322 me #gamma 2 :x", ":srv 322 me #alpha 3 :first",
                                         ":srv 322 me #Beta 5", ":srv 323 me :End of /LIST"});
        std::vector<std::string> listed;
        for (const Printed& p : out)
            if (p.window == "Channels List") listed.push_back(p.text);
        EXPECT_EQ(listed, c.shown) << c.dscl;
        const WindowRecord* r = RecordOf(WindowNamed("Channels List"));
        ASSERT_NE(r, nullptr);
        std::vector<std::string> buffer;
        for (const BufferLine& l : r->buffer) buffer.push_back(l.text);
        EXPECT_EQ(buffer.size(), 3u);
        EXPECT_EQ(r->topic, "3/3 Channels");
    }

    // A connection lost in the middle of a listing ends it: the window may close.
    Options().dscl = 0;
    Feed({":srv 321 me Channel :Users Name", ":srv 322 me #zed 4", ":srv 322 me #abc 4"});
    const WindowRecord* r = RecordOf(WindowNamed("Channels List"));
    ASSERT_NE(r, nullptr);
    EXPECT_FALSE(MayCloseWindow(*r));
    Conn().Connected = true;
    werr("");
    EXPECT_TRUE(MayCloseWindow(*r));
    ASSERT_EQ(r->buffer.size(), 2u);
    EXPECT_EQ(r->buffer.front().text.substr(0, 5), " #abc");
    EXPECT_EQ(r->topic, "2/2 Channels");
}

TEST_F(ParserTest, OwnNickChangeIsTheNextLogonNickButNotTheSetting) {
    Options().szNickName = "tester";
    EXPECT_EQ(LogonNickname(), "tester");
    SetSessionNick("tester");
    Feed({":tester!u@h NICK :renamed"});
    EXPECT_EQ(CurrentNickname(), "renamed");
    EXPECT_EQ(LogonNickname(), "renamed");
    EXPECT_EQ(Options().szNickName, "tester");
    // Someone else's change is not ours.
    Feed({":other!u@h NICK :third"});
    EXPECT_EQ(LogonNickname(), "renamed");
}

TEST_F(ParserTest, OurLagProbeIsMeasuredAndNotShown) {
    Connection& c = Conn();
    c.lag_sent_ms = now_ms;
    c.lag_token = "LAG123";
    StatusInfo shown;
    Frontend fe = CurrentFrontend();
    fe.status_changed = [&](const StatusInfo& s) { shown = s; };
    InstallFrontend(fe);
    c.Connected = true;
    now_ms += 250;
    EXPECT_EQ(One(":srv PONG srv :LAG999"), "*** PONG from srv");
    EXPECT_EQ(c.lag_ms, -1);
    EXPECT_EQ(One(":srv PONG srv :LAG123"), "");
    EXPECT_EQ(c.lag_ms, 250);
    EXPECT_EQ(shown.lag_ms, 250);
    EXPECT_EQ(c.lag_sent_ms, 0);
    // The same answer again is somebody's own PING reply, shown as such.
    EXPECT_EQ(One(":srv PONG srv :LAG123"), "*** PONG from srv");
}

// Runs the loop until the pending DNS look-up has finished (or two seconds passed).
void WaitForDns() {
    uint64_t deadline = platform::MonotonicMs() + 2000;
    while (Dns().request != 0 && platform::MonotonicMs() < deadline) {
        platform::MSG msg;
        if (platform::PeekMessage(msg)) {
            platform::DispatchMessage(msg);
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
}

TEST_F(ParserTest, DnsLooksNamesAndAddressesUpOnTheLookupThread) {
    Frame().hwndFrame = platform::CreateWindow(
        [](platform::HWND, platform::UINT msg, platform::WPARAM wparam, platform::LPARAM) {
            if (msg == kMsgDnsDone) DoResolvedD(static_cast<uint32_t>(wparam));
            return platform::LRESULT{0};
        });
    struct Case {
        std::string asked, looking, result_prefix;
    };
    const Case cases[] = {
        {"localhost", "*** Looking up localhost", "*** Resolved localhost to "},
        {"someone@127.0.0.1", "*** Looking up 127.0.0.1", "*** Resolved 127.0.0.1 to "},
        {"no-such-host.invalid", "*** Looking up no-such-host.invalid",
         "*** Unable to resolve no-such-host.invalid"},
    };
    for (const Case& c : cases) {
        printed.clear();
        DoResolveD(c.asked);
        EXPECT_TRUE(DnsBusy());
        WaitForDns();
        ASSERT_EQ(printed.size(), 2u) << c.asked;
        EXPECT_EQ(printed[0].text, c.looking);
        EXPECT_EQ(printed[1].text.substr(0, c.result_prefix.size()), c.result_prefix);
        EXPECT_GT(printed[1].text.size(), c.result_prefix.size() - 1);
        EXPECT_EQ(printed[1].colour, 5);
        EXPECT_FALSE(DnsBusy());
    }
    // A look-up cancelled by a disconnect prints nothing when its result comes in.
    printed.clear();
    DoResolveD("localhost");
    uint32_t request = Dns().request;
    CancelDns();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    DoResolvedD(request);
    EXPECT_EQ(printed.size(), 1u);
    Frame().hwndFrame = 0;
}

TEST_F(ParserTest, TimeStampsFollowTheClockAcrossSecondsMinutesAndBackwards) {
    Options().tse = 1;
    auto expected = [](int64_t second) {
        std::time_t t = static_cast<std::time_t>(second);
        std::tm tm{};
        localtime_r(&t, &tm);
        char buf[32];
        std::snprintf(buf, sizeof buf, "[%d:%02d] x", tm.tm_hour, tm.tm_min);
        return std::string(buf);
    };
    // A minute's last second, the next one, a jump of hours, and the clock set back.
    const int64_t base = 1700000000 - 1700000000 % 60 + 59;
    for (int64_t second : {base, base, base + 1, base + 1, base + 7 * 3600 + 1, base}) {
        wall = second;
        EXPECT_EQ(timestamp("x"), expected(second)) << second;
    }
    Options().tse = 0;
    EXPECT_EQ(timestamp("x"), "x");
}

}  // namespace
}  // namespace chat
