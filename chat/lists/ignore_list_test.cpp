#include "chat/lists/ignore_list.h"

#include <cstdio>

#include "chat/core/session/server_parser.h"
#include "chat/lists/lists_fixture.h"
#include "platform/profile.h"

namespace chat {
namespace {

class IgnoreTest : public ListsTest {
protected:
    std::vector<std::string> Entries() const {
        std::vector<std::string> out;
        for (const Line& l : Ignores().entries) out.push_back(l.text);
        return out;
    }
};

TEST_F(IgnoreTest, AddingUpdatingAndRemovingSwitches) {
    struct Step {
        int type;
        const char* mask;
        const char* switches;
        const char* said;
        std::vector<std::string> after;
    } steps[] = {
        {1, "bob", "", "*** Added bob!*@* to ignore list", {"bob!*@*"}},
        {1, "bob", ",ctcp", "*** Updated ignore switches for bob!*@*", {"bob!*@*,ctcp"}},
        {1, "bob", "invite", "*** Updated ignore switches for bob!*@*", {"bob!*@*,ctcp,invite"}},
        {2, "bob", ",invite", "*** Updated ignore switches for bob!*@*", {"bob!*@*,ctcp"}},
        {2, "bob", ",ctcp", "*** Removed bob!*@* from ignore list", {}},
        {2, "bob", "", "*** bob!*@* isn't in ignore list", {}},
        {0, "*!*@bad.host", "", "*** Added *!*@bad.host to ignore list", {"*!*@bad.host"}},
        {0, "*!*@bad.host", "", "*** Removed *!*@bad.host from ignore list", {}},
    };
    for (const Step& s : steps) {
        shown.clear();
        arignore(s.type, s.mask, s.switches, 0);
        EXPECT_TRUE(Printed(s.said)) << s.mask << s.switches;
        EXPECT_EQ(Entries(), s.after) << s.mask << s.switches;
    }
    EXPECT_EQ(Options().ignore, 1);
}

TEST_F(IgnoreTest, MatchingByMaskAndKind) {
    arignore(1, "*!*@*.evil.net", ",ctcp", 0);
    arignore(1, "Spam!*@*", "", 0);
    arignore(1, "*!joe@*", ",all", 0);
    struct Case {
        const char* nick;
        const char* userhost;
        const char* kind;
        bool ignored;
    } cases[] = {
        {"x", "y@a.evil.net", "ctcp", true},    {"x", "y@a.evil.net", "private", false},
        {"SPAM", "u@h", "invite", true},        {"spammer", "u@h", "private", false},
        {"any", "JOE@h", "notice", true},       {"irc.server", "", "notice", false},
        {"x", "y@evil.net.org", "ctcp", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ignoring(c.nick, c.userhost, c.kind), c.ignored) << c.nick << " " << c.kind;
    Options().ignore = 0;
    EXPECT_FALSE(ignoring("x", "y@a.evil.net", "ctcp"));
}

TEST_F(IgnoreTest, TimedIgnoreLiftsItsOwnEntry) {
    arignore(1, "bob", "", 60);
    arignore(1, "old", "", 0);
    arignore(1, "*!*@*", ",invite", 0);  // a wider entry that also matches bob's mask...
    arignore(1, "bob", ",ctcp", 0);      // ...and now stands before bob's
    arignore(2, "old", "", 0);
    EXPECT_EQ(Entries(), (std::vector<std::string>{"*!*@*,invite", "bob!*@*,ctcp"}));
    shown.clear();
    for (int i = 0; i < 59; ++i) IgnoreTick();
    EXPECT_EQ(Entries().size(), 2u);
    IgnoreTick();
    EXPECT_TRUE(Printed("*** Removed bob!*@* from ignore list"));
    EXPECT_EQ(Entries(), std::vector<std::string>{"*!*@*,invite"});
    EXPECT_TRUE(Ignores().timed.empty());
}

TEST_F(IgnoreTest, TimedIgnoresAreNeverStored) {
    const std::string ini = ::testing::TempDir() + "ignore_test.ini";
    std::remove(ini.c_str());
    Options().szINI = ini;
    platform::WritePrivateProfileString("Text", "ignore", "old1 old2!u@h", ini);
    loadignore();
    arignore(1, "brief", "", 30);
    ResetIgnores();
    loadignore();
    EXPECT_EQ(Entries(), (std::vector<std::string>{"old1!*@*", "old2!u@h"}));
    std::remove(ini.c_str());
}

TEST_F(IgnoreTest, CommandSwitchesAndMessages) {
    struct Case {
        const char* line;
        std::vector<std::string> after;
    } cases[] = {
        {"/ignore -pt carol", {"carol!*@*,private,ctcp"}},
        {"/ignore -rp carol", {"carol!*@*,ctcp"}},
        {"/ignore -r carol", {}},
        {"/ignore dave", {"dave!*@*,private,channel,notice,ctcp,invite"}},
    };
    for (const Case& c : cases) {
        Run(status, c.line);
        EXPECT_EQ(Entries(), c.after) << c.line;
    }
    Run(status, "/ignore -u erin");
    ASSERT_EQ(Ignores().timed.size(), 1u);
    EXPECT_EQ(Ignores().timed.front().value, 60);
    Run(status, "/ignore -u1 fay");
    EXPECT_EQ(Ignores().timed.back().value, 2);
    EXPECT_TRUE(Says(status, "/ignore off", "*** Ignore is OFF"));
    // A nick with a mask type takes the address the nick lists know.
    addnick("gus", "gus!~g@host.example.org", false);
    Options().ignore = 1;
    Run(status, "/ignore -c gus 2");
    EXPECT_EQ(Entries().back(), "*!*@host.example.org,channel");
}

TEST_F(IgnoreTest, IgnoredPrivateMessageAndCtcpAreNotShown) {
    arignore(1, "pest", "", 0);
    parseline(":pest!p@h PRIVMSG me :hello there");
    parseline(":pest!p@h PRIVMSG me :\x01VERSION\x01");
    for (const Shown& s : shown) EXPECT_EQ(s.text.find("hello there"), std::string::npos);
    EXPECT_TRUE(Take().empty());  // no CTCP reply either
}

}  // namespace
}  // namespace chat
