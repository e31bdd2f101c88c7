// The settings the command language reads, /uwho and /dns as typed, $me before the welcome,
// and the perform list at the first end of the MOTD.
#include "chat/script/program_hooks.h"

#include <cstdio>
#include <fstream>

#include "chat/core/connection/dns_lookup.h"
#include "chat/core/events.h"
#include "chat/core/frame.h"
#include "chat/core/session/server_parser.h"
#include "chat/script/script_fixture.h"

namespace chat {
namespace {

using ProgramHooksTest = ScriptTest;

TEST(CommandChar, OnlyAPunctuationCharacterCanStartCommands) {
    const std::pair<const char*, char> cases[] = {
        {"", '/'},  {".", '.'}, {"!x", '!'},   {" ", '/'},
        {"a", '/'}, {"7", '/'}, {"\x01", '/'}, {"\xc3\xa9", '/'},
    };
    for (const auto& [value, expected] : cases)
        EXPECT_EQ(CommandCharFrom(value), expected) << value;
}

TEST_F(ProgramHooksTest, SettingsGiveTheCommandCharacterClicksAndPerformList) {
    std::string path = ::testing::TempDir() + "program_hooks_test.ini";
    {
        std::ofstream f(path);
        f << "[Text]\ncommandchar=.\n[Clicks]\nquery=/query $$1\n[Perform]\np0=/join #a\n"
             "p1=/mode $me +i\n";
    }
    Options().szINI = path;
    ReadScriptSettings();
    EXPECT_EQ(Script().xCOMMANDCHAR, '.');
    EXPECT_EQ(Script().clicks.query, "/query $$1");
    EXPECT_EQ(Script().clicks.status, "/lusers");
    ASSERT_EQ(Script().szperform.size(), 2u);
    EXPECT_EQ(Run(status, ".join #b"), (std::vector<std::string>{"JOIN #b"}));
    EXPECT_EQ(Run(status, "/join #c"), (std::vector<std::string>{"JOIN #c"}));

    // The perform lines run, evaluated, once the frame gets its message.
    Options().perform = 1;
    sent.clear();
    EXPECT_TRUE(ScriptFrameMessage(kMsgPerform, 0, 0));
    EXPECT_EQ(sent, (std::vector<std::string>{"JOIN #a", "MODE me +i"}));
    EXPECT_FALSE(ScriptFrameMessage(kMsgPerform + 1, 0, 0));
    std::remove(path.c_str());
}

TEST_F(ProgramHooksTest, MeIsTheLogonNickBeforeTheWelcome) {
    Options().szNickName = "configured";
    Session().nick.clear();
    EXPECT_EQ(Run(status, "/raw -q PRIVMSG x $me", 1),
              (std::vector<std::string>{"PRIVMSG x configured"}));
    Session().nick = "given";
    EXPECT_EQ(Run(status, "/raw -q PRIVMSG x $me", 1),
              (std::vector<std::string>{"PRIVMSG x given"}));
}

TEST_F(ProgramHooksTest, UwhoAsksOnceAndWithoutANickOpensTheView) {
    EXPECT_EQ(Run(status, "/uwho bob"), (std::vector<std::string>{"WHOIS bob"}));
    EXPECT_TRUE(Printed("* Retrieving bob user info..."));
    EXPECT_TRUE(Session().uwho.open);
    // While the reply runs a second request is ignored.
    EXPECT_TRUE(Run(status, "/uwho carol").empty());
    EXPECT_EQ(Session().uwho.nick, "bob");
    Session().uwho.open = false;  // the 318 came
    EXPECT_EQ(Run(status, "/uwho carol"), (std::vector<std::string>{"WHOIS carol"}));
    Session().uwho.open = false;
    EXPECT_TRUE(Run(status, "/uwho").empty());
    EXPECT_TRUE(Session().uwho.nick.empty());
    connected = false;
    EXPECT_TRUE(Says(status, "/uwho dave", "*** Not connected to server"));
}

TEST_F(ProgramHooksTest, DnsOfANickAsksForItsAddressFirst) {
    // A nick the address cache knows is looked up at once (no frame: nothing arrives).
    Options().mil = 1;
    addnick("carol", "c@127.0.0.1", false);
    EXPECT_TRUE(Run(status, "/dns carol").empty());
    EXPECT_TRUE(Printed("*** Looking up 127.0.0.1"));
    EXPECT_TRUE(Says(status, "/dns other.host", "*** Still trying to resolve 127.0.0.1"));
    CancelDns();

    EXPECT_EQ(Run(status, "/dns bob"), (std::vector<std::string>{"WHOIS bob"}));
    EXPECT_TRUE(Says(status, "/dns x.y", "*** Still trying to resolve bob"));
    // The who-is reply names the host, which is looked up; its lines are not shown.
    shown.clear();
    parseline(":srv 311 me bob b 127.0.0.1 * :Bob");
    parseline(":srv 318 me bob :End of /WHOIS list.");
    EXPECT_EQ(Texts(), (std::vector<std::string>{"*** Looking up 127.0.0.1"}));
    CancelDns();

    // A look-up that never ends holds /dns back only for a while.
    Run(status, "/dns stuck");
    EXPECT_TRUE(Says(status, "/dns x.y", "*** Still trying to resolve stuck"));
    const int64_t later = SessionNowMs() + kDnsPatienceMs;
    Session().clock = [later] { return later; };
    EXPECT_TRUE(Says(status, "/dns x.y", "*** Looking up x.y"));
    Session().clock = nullptr;
    CancelDns();

    // Nobody has the nick: the word is looked up as a host name instead.
    Run(status, "/dns nobody");
    parseline(":srv 401 me nobody :No such nick/channel");
    EXPECT_TRUE(Printed("*** Looking up nobody"));
    parseline(":srv 318 me nobody :End of /WHOIS list.");
    CancelDns();
    EXPECT_FALSE(DnsBusy());
    connected = false;
    EXPECT_TRUE(Says(status, "/dns zed", "*** Not connected to server"));
}

}  // namespace
}  // namespace chat
