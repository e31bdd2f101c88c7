#include "chat/terminal/setup_model.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "chat/core/options.h"
#include "chat/net/ident.h"
#include "chat/net/socks4.h"
#include "platform/profile.h"

namespace chat {
namespace {

LineList Servers(std::initializer_list<const char*> entries) {
    LineList list;
    for (const char* e : entries) aline(list, e, false);
    return list;
}

TEST(SetupModelTest, ServerEntriesFollowTheListRules) {
    const LineList servers =
        Servers({"EfnetSERVER:irc.efnet.org:6667GROUP:efnet", "SERVER:irc.example.net:7000"});
    const std::string efnet = "EfnetSERVER:irc.efnet.org:6667GROUP:efnet";
    const struct {
        ServerFields typed;
        const std::string* editing;
        const char* entry;
        const char* error;
    } cases[] = {
        {{"Home", "irc.home.net", "6697", "", ""}, nullptr, "HomeSERVER:irc.home.net:6697", ""},
        // The host is its first word; an empty or non-positive port is 6667.
        {{"", " irc.a.org extra", "", "", ""}, nullptr, "SERVER:irc.a.org:6667", ""},
        {{"A", "irc.a.org", "-5", "", ""}, nullptr, "ASERVER:irc.a.org:6667", ""},
        {{"A", "irc.a.org", "0", "pw", "grp more"},
         nullptr,
         "ASERVER:irc.a.org:6667:pwGROUP:grp",
         ""},
        {{"A", "irc.a.org", "6667", "", "averyveryverylonggroupname"},
         nullptr,
         "ASERVER:irc.a.org:6667GROUP:averyveryverylonggro",
         ""},
        {{"A", "irc.a.org", "70000", "", ""},
         nullptr,
         "",
         "The port must be a number between 1 and 65535."},
        {{"A", "irc.a.org", "66x", "", ""},
         nullptr,
         "",
         "The port must be a number between 1 and 65535."},
        {{"A", "", "6667", "", ""}, nullptr, "", "Enter the server's host name."},
        {{"A", "irc.a.org:7000", "", "", ""}, nullptr, "", "A host name cannot hold \":\"."},
        {{"A", "::1:x", "", "", ""}, nullptr, "", "A host name cannot hold \":\"."},
        // An IPv6 address, typed bare or in brackets, is kept in brackets.
        {{"Six", "::1", "7000", "", ""}, nullptr, "SixSERVER:[::1]:7000", ""},
        {{"Six", "[2001:db8::2]", "", "", ""}, nullptr, "SixSERVER:[2001:db8::2]:6667", ""},
        {{"xSERVER:y", "irc.a.org", "", "", ""},
         nullptr,
         "",
         "A description cannot hold \"SERVER:\" or \"GROUP:\"."},
        {{"A", "irc.a.org", "", "aGROUP:b", ""}, nullptr, "", "A password cannot hold \"GROUP:\"."},
        // Descriptions are unique ignoring case; a bare host stands for its description.
        {{"EFNET", "other.org", "", "", ""},
         nullptr,
         "",
         "An entry with this description already exists!"},
        {{"", "IRC.EXAMPLE.NET", "", "", ""},
         nullptr,
         "",
         "An entry with this description already exists!"},
        // ... except the entry being edited.
        {{"efnet", "irc.efnet.org", "6668", "", "efnet"},
         &efnet,
         "efnetSERVER:irc.efnet.org:6668GROUP:efnet",
         ""},
    };
    for (const auto& c : cases) {
        ServerEntryResult r = MakeServerEntry(c.typed, servers, c.editing);
        EXPECT_EQ(r.entry, c.entry) << c.typed.description << "/" << c.typed.host;
        EXPECT_EQ(r.error, c.error) << c.typed.description << "/" << c.typed.host;
    }
}

TEST(SetupModelTest, EntriesReadBackIntoTheirFields) {
    const char* entries[] = {"HomeSERVER:irc.home.net:6697:secretGROUP:home",
                             "SERVER:irc.a.org:6667", "Two wordsSERVER:h.org:1",
                             "SixSERVER:[::1]:6697"};
    for (const char* e : entries) {
        const ServerFields f = FieldsOfEntry(e);
        ServerEntryResult again = MakeServerEntry(f, {}, nullptr);
        EXPECT_EQ(again.entry, e);
        EXPECT_EQ(EntryWithPort(e, 7000).find(":7000") != std::string::npos, true) << e;
    }
    EXPECT_EQ(EntryWithPort("HomeSERVER:irc.home.net:6697:pwGROUP:g", 7000),
              "HomeSERVER:irc.home.net:7000:pwGROUP:g");
    EXPECT_EQ(ServerRow("HomeSERVER:irc.home.net:6697GROUP:g"), "Home  (irc.home.net:6697)  [g]");
}

class SetupFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetOptions();
        char tmpl[] = "/tmp/setup-model-XXXXXX";
        dir_ = ::mkdtemp(tmpl);
        Options().szINI = dir_ + "/vesk.ini";
        Options().szPATH = dir_ + "/";
        ::unsetenv("SOCKS_HOST");
    }
    void TearDown() override {
        iwerr(0);
        std::system(("rm -rf " + dir_).c_str());
        ResetOptions();
    }
    void Write(const std::string& text) { std::ofstream(Options().szINI) << text; }
    std::string Read() {
        std::ifstream in(Options().szINI);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    std::string dir_;
};

TEST_F(SetupFileTest, SavingKeepsUnknownKeysAndCommentsAndWritesOnlyChanges) {
    Write(
        "; my settings\n[Vesk]\nnick=old\nuser=Old Name\nemail=o@x\nfavourite=tea\n"
        "; keep me\n[Servers]\nsv0=ASERVER:a.org:6667\n[Unknown]\nx=1\n");
    loadini();
    SetupState s = LoadSetup();
    EXPECT_EQ(s.values[kSetupConnect - 1][2], "old");
    s.values[kSetupConnect - 1][2] = "  newnick ";
    s.selected = "ASERVER:a.org:6667";
    s.port = "7001";
    ASSERT_EQ(CheckSetup(s).message, "");
    ASSERT_TRUE(SaveSetup(s));
    const std::string saved = Read();
    EXPECT_NE(saved.find("nick=newnick\n"), std::string::npos) << saved;
    EXPECT_NE(saved.find("favourite=tea"), std::string::npos);
    EXPECT_NE(saved.find("; my settings"), std::string::npos);
    EXPECT_NE(saved.find("; keep me"), std::string::npos);
    EXPECT_NE(saved.find("[Unknown]\nx=1"), std::string::npos);
    EXPECT_NE(saved.find("user=Old Name"), std::string::npos);
    // The chosen server takes the port and is the one connected to.
    EXPECT_NE(saved.find("sv0=ASERVER:a.org:7001"), std::string::npos) << saved;
    EXPECT_NE(saved.find("host=ASERVER:a.org:7001"), std::string::npos);
    EXPECT_EQ(Options().szNickName, "newnick");
    EXPECT_EQ(Options().szHostName, "a.org");
    EXPECT_EQ(Options().Port, 7001);
    // Read again from the file, every value is as saved.
    ResetOptions();
    Options().szINI = dir_ + "/vesk.ini";
    loadini();
    EXPECT_EQ(Options().szNickName, "newnick");
    EXPECT_EQ(Options().Port, 7001);
}

TEST_F(SetupFileTest, ChecksNameThePageAndTheFault) {
    Write("[Vesk]\nnick=me\n");
    loadini();
    const struct {
        int page;
        size_t index;
        const char* value;
        int want_page;
        const char* message;
    } cases[] = {
        {kSetupConnect, 2, "two words", kSetupConnect, "A nickname cannot hold blanks."},
        {kSetupLocal, 1, "10.0.0.300", kSetupLocal,
         "The address must be four numbers from 0 to 255 separated by dots."},
        {kSetupLocal, 1, "10.0.0.3", 0, ""},
        {kSetupIdent, 1, "0", kSetupIdent, "Port must be between 1 and 65535."},
        {kSetupIdent, 1, "65536", kSetupIdent, "Port must be between 1 and 65535."},
        {kSetupIdent, 1, "11x", kSetupIdent, "Port must be a number between 1 and 65535."},
        {kSetupSocks, 2, "1080", 0, ""},
        {kSetupSocks, 2, "", kSetupSocks, "Port must be a number between 1 and 65535."},
    };
    for (const auto& c : cases) {
        SetupState s = LoadSetup();
        s.values[static_cast<size_t>(c.page) - 1][c.index] = c.value;
        const SetupProblem p = CheckSetup(s);
        EXPECT_EQ(p.page, c.want_page) << c.value;
        EXPECT_EQ(p.message, c.message) << c.value;
    }
    // A responder without a user id, and a relay without a host, cannot be turned on.
    SetupState s = LoadSetup();
    s.values[kSetupIdent - 1][0] = "1";
    EXPECT_EQ(CheckSetup(s).message, "The ident responder needs a user ID.");
    s = LoadSetup();
    s.values[kSetupSocks - 1][0] = "1";
    EXPECT_EQ(CheckSetup(s).message, "Enter the relay's host name.");
    ::setenv("SOCKS_HOST", "relay.example.org", 1);
    EXPECT_EQ(CheckSetup(s).message, "");
}

TEST_F(SetupFileTest, RelayAndResponderTakeTheirNewSettings) {
    Write("[Vesk]\nnick=me\n");
    loadini();
    SetupState s = LoadSetup();
    PageValues& socks = s.values[kSetupSocks - 1];
    socks = {"1", "relay.example.org", "1081", "5", "me", "secret", ""};
    PageValues& ident = s.values[kSetupIdent - 1];
    ident = {"1", "11377", "someone", "", "1"};
    PageValues& local = s.values[kSetupLocal - 1];
    local[0] = "myhost";
    local[1] = "192.168.1.1";
    ASSERT_EQ(CheckSetup(s).message, "");
    ASSERT_TRUE(SaveSetup(s));
    EXPECT_TRUE(Socks().enabled);
    EXPECT_EQ(Socks().host, "relay.example.org");
    EXPECT_EQ(Socks().port, 1081);
    EXPECT_EQ(Socks().password, "secret");
    EXPECT_EQ(Socks().protocol, 5);
    EXPECT_TRUE(Ident().active);
    EXPECT_EQ(Ident().port, 11377);
    EXPECT_EQ(Ident().userid, "someone");
    EXPECT_EQ(Ident().system, "UNIX");  // an empty system name is the built-in one
    EXPECT_EQ(Options().sip, 0xC0A80101u);
    EXPECT_EQ(Options().idisplay, 1);
    const std::string saved = Read();
    for (const char* line :
         {"Enabled=yes", "HostName=relay.example.org", "Port=1081", "active=yes", "port=11377",
          "userid=someone", "localip=192.168.1.1", "longip=3232235777"})
        EXPECT_NE(saved.find(line), std::string::npos) << line << "\n" << saved;
    // Turned off again: stored as "no", and the responder stops.
    s = LoadSetup();
    s.values[kSetupIdent - 1][0] = "0";
    ASSERT_TRUE(SaveSetup(s));
    EXPECT_FALSE(Ident().active);
    EXPECT_FALSE(IdentListening());
    EXPECT_NE(Read().find("active=no"), std::string::npos);
}

}  // namespace
}  // namespace chat
