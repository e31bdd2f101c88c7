#include "chat/script/timers.h"

#include "chat/core/events.h"
#include "chat/script/remote_scripts.h"
#include "chat/script/script_fixture.h"

namespace chat {
namespace {

using Lines = std::vector<std::string>;

class TimerTest : public ScriptTest {
protected:
    void SetUp() override {
        ScriptTest::SetUp();
        InstallTimers();
        InstallRemoteScripts();
        freetimers();
    }
    void TearDown() override {
        freetimers();
        ScriptTest::TearDown();
    }
    /// Runs `seconds` ticks at 12:00 and returns what they sent and printed.
    Lines Tick(int seconds, int hour = 12, int minute = 0) {
        sent.clear();
        shown.clear();
        for (int i = 0; i < seconds; ++i) TimerTick(hour, minute);
        Lines out = sent;
        for (const std::string& t : Texts()) out.push_back(t);
        return out;
    }
};

TEST_F(TimerTest, RunsTheGivenNumberOfTimesThenHalts) {
    Run(status, "/timer1 3 2 /raw -q PRIVMSG #a :hi");
    EXPECT_TRUE(Printed("* Timer1 activated"));
    EXPECT_EQ(Tick(1), Lines{});
    EXPECT_EQ(Tick(1), Lines{"PRIVMSG #a :hi"});
    EXPECT_EQ(Tick(2), Lines{"PRIVMSG #a :hi"});
    EXPECT_EQ(Tick(2), (Lines{"PRIVMSG #a :hi", "* Timer1 halted"}));
    EXPECT_TRUE(Timers().empty());
    EXPECT_EQ(Tick(10), Lines{});
}

TEST_F(TimerTest, CommandForms) {
    struct Case {
        const char* line;
        const char* printed;
    };
    const Case cases[] = {
        {"/timer2 1 0 /echo x", "* Invalid timer parameters"},
        {"/timer2 1", "* Timer2 is not active"},
        {"/timerx 1 1 /echo x", "* Invalid timer number"},
        {"/timer0 1 1 /echo x", "* Invalid timer number"},
        {"/timer3 25:00 1 5 /echo x", "* Invalid time specification"},
        {"/timer3 14:30 1", "* Invalid timer parameters"},
        {"/timer3 off", "* Timer3 is not active"},
        {"/timers", "* No active timers"},
        {"/timer 0 60 /echo tick", "* Timer1 activated"},
        {"/timer 2 5 /echo tock", "* Timer2 activated"},
        {"/timer5 14:30 1 5 /echo tea", "* Timer5 activated"},
        {"/timer5", "* Timer5 14:30 1 time(s) 5s delay /echo tea"},
        {"/timer1 x", "* Timer1 60s delay /echo tick"},
        {"/timer2 off", "* Timer2 halted"},
        {"/timer", "* Active timers:"},
        {"/timers off", "* All timers halted"},
    };
    for (const Case& c : cases) EXPECT_TRUE(Says(status, c.line, c.printed)) << c.line;
    EXPECT_TRUE(Timers().empty());
}

TEST_F(TimerTest, TimeOfDayStartsTheCount) {
    Run(status, "/timer5 14:30 1 2 /raw -q PRIVMSG #a :tea");
    EXPECT_EQ(Tick(5, 14, 29), Lines{});
    EXPECT_EQ(Tick(1, 14, 31), Lines{});  // the minute after still starts it
    EXPECT_EQ(Tick(1, 9, 0), (Lines{"PRIVMSG #a :tea", "* Timer5 halted"}));
}

TEST_F(TimerTest, ATimerThatHaltsItselfFinishesItsRun) {
    Run(status, "/timer7 0 1 /raw -q PRIVMSG #a :last | /timer7 off");
    EXPECT_EQ(Tick(1), (Lines{"PRIVMSG #a :last", "* Timer7 halted"}));
    EXPECT_TRUE(Timers().empty());
    // One that replaces itself keeps running as the new timer.
    Run(status, "/timer4 0 1 /timer4 0 1 /raw -q PRIVMSG #a :again");
    Tick(1);
    ASSERT_EQ(Timers().size(), 1u);
    EXPECT_EQ(Tick(1), Lines{"PRIVMSG #a :again"});
}

TEST_F(TimerTest, KeepsTheParametersOfTheCommandThatMadeIt) {
    Alias("/later /timer1 1 1 /raw -q PRIVMSG #a :x $$1 then $2");
    Run(status, "/later one two");
    EXPECT_EQ(Tick(1), (Lines{"PRIVMSG #a :x one then two", "* Timer1 halted"}));
}

TEST_F(TimerTest, ARemoteTimerKeepsItsCommandLiteral) {
    Options().lfe = 1;
    aline(Script().szevents, "1:on text:*:*:/timer9 1 1 /raw -q PRIVMSG $nick $parms", false);
    SetVar("%secret 42");
    CurrentEvent e;
    e.code = kEventText;
    e.nick = "eve";
    e.userhost = "e@h";
    e.command = "privmsg";
    e.target = "me";
    e.text = "%secret $me | /quit";
    performevent(e);
    ASSERT_EQ(Timers().size(), 1u);
    EXPECT_TRUE(Timers().front().literal);
    EXPECT_EQ(Tick(1), (Lines{"PRIVMSG eve %secret $me | /quit", "* Timer9 halted"}));
    EXPECT_EQ(remote_sent, 1);
}

TEST_F(TimerTest, AClosedWindowSendsOutputToTheStatusWindow) {
    WindowId chan = Channel("#a");
    Run(chan, "/timer1 1 1 /echo -s hi");
    closewindow(chan);
    WindowId reused = Channel("#b");  // may take the closed window's slot
    Tick(1);
    for (const Shown& s : shown) EXPECT_NE(s.window, "#b") << s.text;
    EXPECT_TRUE(Printed("* Timer1 halted"));
    (void)reused;
}

TEST_F(TimerTest, TheEditorStartsAndHaltsTimers) {
    struct Case {
        TimerPlan wanted;
        bool connected;
        const char* error;  // empty: the timer runs
    };
    const Case cases[] = {
        {{1, -1, -1, 2, 1, "/echo a"}, false, "*** Not connected to server"},
        {{0, -1, -1, 2, 1, "/echo a"}, true, "* Invalid timer number"},
        {{2000000, -1, -1, 2, 1, "/echo a"}, true, "* Invalid timer number"},
        {{1, 24, 0, 2, 1, "/echo a"}, true, "* Invalid time specification"},
        {{1, 12, -1, 2, 1, "/echo a"}, true, "* Invalid time specification"},
        {{1, -1, 30, 2, 1, "/echo a"}, true, "* Invalid time specification"},
        {{1, -1, -1, 2, 0, "/echo a"}, true, "* Invalid timer parameters"},
        {{1, -1, -1, 2, 1, "   "}, true, "* Invalid timer parameters"},
        {{1, -1, -1, 2, 1, std::string(700, 'x')}, true, "* Invalid timer parameters"},
        {{4, 12, 0, -3, 5, "/echo b"}, true, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.wanted.command.substr(0, 10) + std::to_string(c.wanted.number));
        connected = c.connected;
        EXPECT_EQ(StartTimer(c.wanted, status), c.error);
    }
    ASSERT_EQ(Timers().size(), 1u);
    EXPECT_EQ(DescribeTimer(Timers().front()), "* Timer4 12:0 5s delay /echo b");
    EXPECT_EQ(LowestFreeTimer(), 1);
    EXPECT_TRUE(Printed("* Timer4 activated"));
    EXPECT_EQ(Tick(5, 12, 0), (Lines{"b"}));
    EXPECT_TRUE(HaltTimer(4, status));
    EXPECT_TRUE(Printed("* Timer4 halted"));
    EXPECT_FALSE(HaltTimer(4, status));
    EXPECT_TRUE(Printed("* Timer4 is not active"));
}

TEST_F(TimerTest, EditingARemoteTimerKeepsItLiteral) {
    Options().lfe = 1;
    aline(Script().szevents, "1:on text:*:*:/timer3 0 1 /raw -q PRIVMSG $nick $parms", false);
    CurrentEvent e;
    e.code = kEventText;
    e.nick = "eve";
    e.userhost = "e@h";
    e.command = "privmsg";
    e.target = "me";
    e.text = "$me";
    performevent(e);
    ASSERT_EQ(Timers().size(), 1u);
    const std::string command = Timers().front().command;
    // Only the interval changes: still the other user's words, never evaluated.
    EXPECT_EQ(StartTimer({3, -1, -1, 1, 2, command}, status), "");
    ASSERT_EQ(Timers().size(), 1u);
    EXPECT_TRUE(Timers().front().literal);
    EXPECT_EQ(Timers().front().delay, 2);
    EXPECT_EQ(Tick(2), (Lines{"PRIVMSG eve $me", "* Timer3 halted"}));
    // A command the user wrote is the user's own.
    EXPECT_EQ(StartTimer({3, -1, -1, 1, 1, "/echo $me"}, status), "");
    EXPECT_FALSE(Timers().front().literal);
}

}  // namespace
}  // namespace chat
