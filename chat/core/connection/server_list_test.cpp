#include "chat/core/connection/server_list.h"

#include <gtest/gtest.h>

#include "chat/core/command_line.h"
#include "chat/core/connection/connection.h"
#include "chat/core/options.h"

namespace chat {
namespace {

TEST(ServerList, IPv6AddressesInBrackets) {
    struct Case {
        const char* entry;
        const char* host;
        int port;
        const char* password;
    };
    const Case cases[] = {
        {"SERVER:[::1]:6697", "::1", 6697, ""},
        {"v6SERVER:[2001:db8::7]:7000:pwGROUP:g", "2001:db8::7", 7000, "pw"},
        {"SERVER:[fe80::1]", "fe80::1", 6667, ""},
        {"SERVER:127.0.0.1:6668", "127.0.0.1", 6668, ""},
    };
    for (const Case& c : cases) {
        ServerEntry e = ParseServerEntry(c.entry);
        EXPECT_EQ(e.host, c.host) << c.entry;
        EXPECT_EQ(e.port, c.port) << c.entry;
        EXPECT_EQ(e.password, c.password) << c.entry;
    }
    EXPECT_EQ(UnbracketHost("[::1]"), "::1");
    EXPECT_EQ(UnbracketHost("[]"), "[]");
    EXPECT_EQ(UnbracketHost("irc.example.org"), "irc.example.org");
}

TEST(ServerListTest, EntriesParseWithDefaultsAndGroups) {
    ServerEntry e = ParseServerEntry("Home netSERVER:irc.example.org:6668:secretGROUP:home extra");
    EXPECT_EQ(e.description, "Home net");
    EXPECT_EQ(e.host, "irc.example.org");
    EXPECT_EQ(e.port, 6668);
    EXPECT_EQ(e.password, "secret");
    EXPECT_EQ(e.group, "home");
    e = ParseServerEntry("SERVER:irc.x.net:0");
    EXPECT_EQ(e.description, "irc.x.net");
    EXPECT_EQ(e.port, 6667);
    EXPECT_TRUE(e.password.empty());
    EXPECT_EQ(ParseServerEntry("SERVER:h:-5").port, 6667);
    EXPECT_EQ(ParseServerEntry("SERVER:h").port, 6667);
}

TEST(ServerListTest, RotationWalksTheGroupRoundRobin) {
    ResetOptions();
    LineList servers;
    aline(servers, "aSERVER:one.net:1GROUP:g", false);
    aline(servers, "bSERVER:other.net:2", false);
    aline(servers, "cSERVER:two.net:3GROUP:G", false);
    LineList rotation;
    EXPECT_FALSE(buildconnectlist(servers, "none", rotation));
    ASSERT_TRUE(buildconnectlist(servers, "g", rotation));
    std::vector<std::string> hosts;
    for (int i = 0; i < 3; ++i) {
        getnextserver(rotation);
        hosts.push_back(Options().szHostName + ":" + std::to_string(Options().Port));
    }
    EXPECT_EQ(hosts, (std::vector<std::string>{"one.net:1", "two.net:3", "one.net:1"}));
    EXPECT_NE(findserv(servers, "B"), servers.end());

    sorthosts(servers);
    EXPECT_EQ(servers.front().text, "aSERVER:one.net:1GROUP:g");
    EXPECT_EQ(servers.back().text, "bSERVER:other.net:2");
}

TEST(OptionsTest, PositionalKeysKeepMissingFieldsAndClamp) {
    ResetOptions();
    ParsePositional("options2", "3");
    EXPECT_EQ(Options().times, 3);
    EXPECT_EQ(Options().delay, 50);
    EXPECT_EQ(FormatPositional("options2"), "3,50,0,0,0,0,0,0,1,1,1,1,0,0,1,1,1,1,0,0,0,1");
    ParsePositional("options4", "100");
    ClampOptions();
    EXPECT_EQ(Options().sbbs, 200);
    ParsePositional("options4", "99999,,,,1");
    ClampOptions();
    EXPECT_EQ(Options().sbbs, 30000);
    EXPECT_EQ(Options().rcod, 1);
    ParsePositional("options5", ",,,,,,,,,,,,,,1,2,0");
    ClampOptions();
    EXPECT_EQ(Options().rtct, 2);
    EXPECT_EQ(Options().rtod, 10);  // an attempt must always be able to time out
}

TEST(OptionsTest, SettingsPathAndUserName) {
    setenv("XDG_CONFIG_HOME", "/tmp/cfg", 1);
    EXPECT_EQ(SettingsPathFor(""), "/tmp/cfg/vesk32/vesk.ini");
    EXPECT_EQ(SettingsPathFor("mine"), "/tmp/cfg/vesk32/mine.ini");
    EXPECT_EQ(SettingsPathFor("my.cfg"), "/tmp/cfg/vesk32/my.cfg");
    EXPECT_EQ(SettingsPathFor("/etc/x/chat"), "/etc/x/chat.ini");
    EXPECT_EQ(LogonUserName("@host"), "user");
    EXPECT_EQ(LogonUserName("joe@host"), "joe");
    EXPECT_EQ(LogonUserName("joe"), "joe");
}

TEST(CommandLineTest, SwitchesAndWords) {
    CommandLine cl = ParseCommandLine(
        {"-N", "me,me_", "-s", "127.0.0.1:7000", "#a", "-j", "#b,#c", "-d", "conf", "--headless"});
    EXPECT_EQ(cl.nick, "me");
    EXPECT_EQ(cl.anick, "me_");
    EXPECT_EQ(cl.server, "127.0.0.1:7000");
    EXPECT_EQ(cl.channels, "#a,#b,#c");
    EXPECT_EQ(cl.settings, "conf");
    EXPECT_TRUE(cl.connect);
    EXPECT_TRUE(cl.headless);
    EXPECT_FALSE(ParseCommandLine({"-s"}).error.empty());
}

}  // namespace
}  // namespace chat
