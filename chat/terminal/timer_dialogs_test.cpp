#include "chat/terminal/timer_dialogs.h"

#include <gtest/gtest.h>

namespace chat {
namespace {

TEST(TimerFields, ReadLikeTheTimerCommand) {
    struct Case {
        TimerFields fields;
        const char* error;  // empty: read
        int number, hour, minute, repetitions, delay;
    };
    const Case cases[] = {
        {{"", "", "3", "10", "/say hi"}, "", 4, -1, -1, 3, 10},
        {{"7", "14:30", "1", "5", "/echo tea"}, "", 7, 14, 30, 1, 5},
        {{"2", "", "", "60", "/ping"}, "", 2, -1, -1, 0, 60},    // empty: without end
        {{"2", "", "-4", "60", "/ping"}, "", 2, -1, -1, 0, 60},  // negative gives 0
        {{"0", "", "1", "1", "/x"}, "* Invalid timer number", 0, 0, 0, 0, 0},
        {{"x1", "", "1", "1", "/x"}, "* Invalid timer number", 0, 0, 0, 0, 0},
        {{"9999999999", "", "1", "1", "/x"}, "* Invalid timer number", 0, 0, 0, 0, 0},
        {{"1", "24:00", "1", "1", "/x"}, "* Invalid time specification", 0, 0, 0, 0, 0},
        {{"1", "12", "1", "1", "/x"}, "* Invalid time specification", 0, 0, 0, 0, 0},
        {{"1", "12:xx", "1", "1", "/x"}, "* Invalid time specification", 0, 0, 0, 0, 0},
        {{"1", "", "1", "0", "/x"}, "* Invalid timer parameters", 0, 0, 0, 0, 0},
        {{"1", "", "1", "", "/x"}, "* Invalid timer parameters", 0, 0, 0, 0, 0},
        {{"1", "", "a", "5", "/x"}, "* Invalid timer parameters", 0, 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fields.number + " " + c.fields.time_of_day + " " + c.fields.repetitions +
                     " " + c.fields.interval);
        TimerPlan wanted;
        std::string error;
        const bool ok = ParseTimerFields(c.fields, 4, wanted, error);
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(ok, error.empty());
        if (!ok) continue;
        EXPECT_EQ(wanted.number, c.number);
        EXPECT_EQ(wanted.hour, c.hour);
        EXPECT_EQ(wanted.minute, c.minute);
        EXPECT_EQ(wanted.repetitions, c.repetitions);
        EXPECT_EQ(wanted.delay, c.delay);
        EXPECT_EQ(wanted.command, c.fields.command);
    }
}

TEST(TimerFields, ATimerShownAndReadBackIsTheSame) {
    ScriptTimer t;
    t.number = 5;
    t.hour = 9;
    t.minute = 5;
    t.repetitions = 2;
    t.delay = 30;
    t.command = "/echo $me | /say hi";
    TimerPlan wanted;
    std::string error;
    ASSERT_TRUE(ParseTimerFields(FieldsOf(t), 1, wanted, error)) << error;
    EXPECT_EQ(wanted.number, 5);
    EXPECT_EQ(wanted.hour, 9);
    EXPECT_EQ(wanted.minute, 5);
    EXPECT_EQ(wanted.repetitions, 2);
    EXPECT_EQ(wanted.delay, 30);
    EXPECT_EQ(wanted.command, t.command);
    t.hour = t.minute = -1;
    ASSERT_TRUE(ParseTimerFields(FieldsOf(t), 1, wanted, error));
    EXPECT_EQ(wanted.hour, -1);
}

TEST(TimerText, LinesReadBackAsTheTimersTheyShow) {
    ScriptTimer t;
    t.number = 3;
    t.repetitions = 2;
    t.delay = 10;
    t.command = "/say  two  blanks | /echo $me";
    EXPECT_EQ(TimerLine(t), "/timer3 2 10 /say  two  blanks | /echo $me");
    t.hour = 14;
    t.minute = 30;
    EXPECT_EQ(TimerLine(t), "/timer3 14:30 2 10 /say  two  blanks | /echo $me");

    std::vector<TimerPlan> plans;
    std::string error;
    ASSERT_TRUE(ParseTimerText(
        {"", TimerLine(t), "; a note", "  /TIMER 0 60 /ping", "/timer 1 5 /x"}, plans, error))
        << error;
    ASSERT_EQ(plans.size(), 3u);
    EXPECT_EQ(plans[0].number, 3);
    EXPECT_EQ(plans[0].hour, 14);
    EXPECT_EQ(plans[0].minute, 30);
    EXPECT_EQ(plans[0].command, t.command);
    EXPECT_EQ(plans[1].number, 1);  // the lowest number the text leaves free
    EXPECT_EQ(plans[1].repetitions, 0);
    EXPECT_EQ(plans[1].delay, 60);
    EXPECT_EQ(plans[1].command, "/ping");
    EXPECT_EQ(plans[2].number, 2);

    struct Bad {
        std::vector<std::string> lines;
        const char* error;
    };
    const Bad bad[] = {
        {{"/echo x"}, "Line 1: * A timer line starts with /timer"},
        {{"", "/timer1 2"}, "Line 2: * Invalid timer parameters"},
        {{"/timer1 2 5"}, "Line 1: * Invalid timer parameters"},
        {{"/timer1 25:00 2 5 /x"}, "Line 1: * Invalid time specification"},
        {{"/timers 2 5 /x"}, "Line 1: * Invalid timer number"},
        {{"/timer2 1 5 /x", "/timer2 1 6 /y"}, "Line 2: timer 2 is named twice"},
    };
    for (const Bad& b : bad) {
        EXPECT_FALSE(ParseTimerText(b.lines, plans, error));
        EXPECT_EQ(error, b.error);
    }
}

}  // namespace
}  // namespace chat
