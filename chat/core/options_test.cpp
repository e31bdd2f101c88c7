#include "chat/core/options.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/profile.h"

namespace chat {
namespace {

class SettingsFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetOptions();
        char tmpl[] = "/tmp/options_test.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        Options().szINI = dir + "/vesk.ini";
    }
    void TearDown() override {
        ResetOptions();
        std::string cmd = "rm -rf '" + dir + "'";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
    }
    void Put(const std::string& text) {
        std::ofstream(Options().szINI, std::ios::binary | std::ios::trunc) << text;
    }
    std::string Get() const {
        std::ifstream in(Options().szINI, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    std::string Key(const std::string& section, const std::string& key) const {
        return platform::GetPrivateProfileString(section, key, "<none>", 0, Options().szINI);
    }

    std::string dir;
};

TEST_F(SettingsFileTest, OldKeysMoveToTheirNewPlaces) {
    struct Expect {
        const char* section;
        const char* key;
        const char* value;  // "<none>" when absent
    };
    struct Case {
        const char* file;
        std::vector<Expect> after;
    };
    const Case cases[] = {
        {"[Text]\n; mine\nwwwbrowser=firefox\nquit=bye\n",
         {{"Files", "browser", "firefox"},
          {"Text", "wwwbrowser", "<none>"},
          {"Text", "quit", "bye"}}},
        {"[Files]\nbrowser=new\n[Text]\nwwwbrowser=old\n",
         {{"Files", "browser", "new"}, {"Text", "wwwbrowser", "<none>"}}},
        {"[Text]\nfingerfile=/home/me/plan.txt\n",
         {{"Files", "finger", "/home/me/plan.txt"}, {"Text", "fingerfile", "<none>"}}},
        {"[Text]\nperform=/join #a\n",
         {{"Perform", "p0", "/join #a"}, {"Text", "perform", "<none>"}}},
        {"[Perform]\np0=/mode $me +i\n[Text]\nperform=/join #a\n",
         {{"Perform", "p0", "/mode $me +i"}, {"Perform", "p1", "/join #a"}}},
        {"[Perform]\np0=/join #a\n[Text]\nperform=/join #a\n",
         {{"Perform", "p0", "/join #a"}, {"Perform", "p1", "<none>"}}},
        {"[Text]\ndclick=/stats::/whois $$1::::/msg $$1 hi\n",
         {{"Clicks", "status", "/stats"},
          {"Clicks", "query", "/whois $$1"},
          {"Clicks", "channel", "<none>"},
          {"Clicks", "nicklist", "/msg $$1 hi"},
          {"Text", "dclick", "<none>"}}},
        {"[Clicks]\nstatus=/lusers\n[Text]\ndclick=/stats::/who $$1\n",
         {{"Clicks", "status", "/lusers"}, {"Clicks", "query", "/who $$1"}}},
        {"[Text]\nhosts=irc.a.net:6667  irc.b.net FooSERVER:irc.c.net:7000\n",
         {{"Servers", "sv0", "irc.a.netSERVER:irc.a.net:6667"},
          {"Servers", "sv1", "irc.b.netSERVER:irc.b.net"},
          {"Servers", "sv2", "FooSERVER:irc.c.net:7000"},
          {"Text", "hosts", "<none>"}}},
        {"[Servers]\n; my servers\nsv0=irc.a.netSERVER:irc.a.net:6667\n[Text]\n"
         "hosts=IRC.A.NET:6667 irc.d.net:6668\n",
         {{"Servers", "sv0", "irc.a.netSERVER:irc.a.net:6667"},
          {"Servers", "sv1", "irc.d.netSERVER:irc.d.net:6668"},
          {"Servers", "sv2", "<none>"}}},
    };
    for (const Case& c : cases) {
        ResetOptions();
        Options().szINI = dir + "/vesk.ini";
        Put(c.file);
        loadini();
        for (const Expect& e : c.after)
            EXPECT_EQ(Key(e.section, e.key), e.value) << c.file << e.section << "/" << e.key;
        // Comments stay, and a second start changes nothing more.
        const std::string once = Get();
        if (std::string(c.file).find("; m") != std::string::npos) {
            EXPECT_NE(once.find("; m"), std::string::npos) << c.file;
        }
        loadini();
        EXPECT_EQ(Get(), once) << c.file;
    }
    // The converted servers are the list in use.
    EXPECT_EQ(Options().szhost.size(), 2u);
}

TEST_F(SettingsFileTest, SavingAtExitCreatesTheFileAndKeepsWhatTheUserWrote) {
    ChatOptions& o = Options();
    const std::string folder = dir + "/config/vesk32";
    o.szINI = folder + "/vesk.ini";
    o.times = 3;
    o.quit = "bye for now";
    o.linesep.clear();
    o.szUser = "Tess Ter";
    o.szNickName = "fromcli";
    o.nick_from_command_line = true;
    ASSERT_TRUE(saveini());
    struct stat st {};
    ASSERT_EQ(::stat(o.szINI.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(Key("Options", "options2").substr(0, 5), "3,50,");
    EXPECT_EQ(Key("Text", "quit"), "bye for now");
    EXPECT_EQ(Key("Text", "linesep"), "none");
    EXPECT_EQ(Key("Vesk", "user"), "<none>");  // the identity is the Setup dialog's to keep
    EXPECT_EQ(Key("Vesk", "nick"), "<none>");

    // A comment and a key of the user's own survive the next exit; an emptied text goes.
    std::string text = Get();
    text.insert(text.find("[Text]") + 7, "; my notes\nmine=1\n");
    Put(text);
    o.quit.clear();
    o.linesep = " ";
    o.times = 4;
    ASSERT_TRUE(saveini());
    const std::string after = Get();
    EXPECT_NE(after.find("; my notes\nmine=1\n"), std::string::npos) << after;
    EXPECT_EQ(Key("Text", "quit"), "<none>");
    EXPECT_EQ(Key("Text", "linesep"), "space");
    EXPECT_EQ(Key("Options", "options2").substr(0, 2), "4,");
    ResetOptions();
    o.szINI = folder + "/vesk.ini";
    loadini();
    EXPECT_EQ(o.linesep, " ");
    EXPECT_EQ(o.times, 4);

    // A settings folder that cannot be made is reported, not papered over.
    o.szINI = o.szINI + "/inside-a-file/vesk.ini";
    EXPECT_FALSE(saveini());
}

}  // namespace
}  // namespace chat
