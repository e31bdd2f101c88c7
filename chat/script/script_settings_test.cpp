#include "chat/script/script_settings.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include "chat/core/options.h"
#include "chat/script/commands.h"
#include "chat/script/script_files.h"
#include "chat/script/script_fixture.h"

namespace chat {
namespace {

using Lines = std::vector<std::string>;

class SettingsFileTest : public ScriptTest {
protected:
    void SetUp() override {
        ScriptTest::SetUp();
        InstallScriptSettings();
        dir = ::testing::TempDir() + "vesk-settings-" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name() + "/";
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        Options().szINI = dir + "vesk.ini";
        Options().szPATH = dir;
    }
    void Write(const std::string& name, const std::string& text) {
        std::ofstream(dir + name) << text;
    }
    std::string ReadFile(const std::string& name) {
        std::ifstream in(dir + name);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    static Lines Texts(const LineList& list) {
        Lines out;
        for (const Line& l : list) out.push_back(l.text);
        return out;
    }
    std::string dir;
};

TEST_F(SettingsFileTest, ScriptSectionsReadAnyKeyAndStopAtTheNextHeader) {
    Write("vesk.ini",
          "; my settings\n[Aliases]\nalias0=/j /join #$1\nn1=/op /mode # +o $1\nalias2=\n"
          "[Users]\nu0=5,10:bob\nu1=;comment = kept\n[Mine]\nx=1\n");
    ReadScriptFiles();
    const ScriptState& s = Script();
    EXPECT_EQ(s.afile, Options().szINI);
    EXPECT_EQ(Texts(s.szals), (Lines{"/j /join #$1", "/op /mode # +o $1"}));
    EXPECT_EQ(Texts(s.szusers), (Lines{"5,10:bob", ";comment = kept"}));
    EXPECT_TRUE(s.szevents.empty());
}

TEST_F(SettingsFileTest, SavingKeepsOtherSectionsKeysAndComments) {
    Write("vesk.ini",
          "; my settings\n[Options]\n; tuned by hand\noptions2=3\nmine=7\n[Aliases]\n"
          "alias0=/old x\n[Mine]\nx=1\n");
    ReadScriptFiles();
    Run(status, "/alias /greet /msg $1 hello there");
    EXPECT_TRUE(Printed("* Alias /greet set"));
    Run(status, "/alias /old");
    EXPECT_TRUE(Printed("* Removed alias /old"));
    aline(Script().szevents, "1:on join:#a:/notice $nick hi", false);
    aline(Script().szevents, "#games disabled", false);
    Script().rchanged = true;
    ParsePositional("options2", "3");
    saveoptions();
    for (auto& writer : SettingsWriters()) writer();
    std::string text = ReadFile("vesk.ini");
    for (const char* kept :
         {"; my settings", "; tuned by hand", "mine=7", "[Mine]", "x=1",
          "alias0=/greet /msg $1 hello there", "e0=1:on join:#a:/notice $nick hi",
          "e1=#games disabled", "options=0,1,1"})
        EXPECT_NE(text.find(kept), std::string::npos) << kept << "\n" << text;
    EXPECT_EQ(text.find("/old x"), std::string::npos);
    EXPECT_EQ(text.find("options2=3\n"), std::string::npos);  // written back in full

    // A restart reads back what was saved.
    ResetScript();
    ReadScriptFiles();
    EXPECT_EQ(Texts(Script().szals), Lines{"/greet /msg $1 hello there"});
    EXPECT_EQ(Texts(Script().szevents),
              (Lines{"1:on join:#a:/notice $nick hi", "#games disabled"}));
    EXPECT_FALSE(Script().rchanged);
}

TEST_F(SettingsFileTest, LoadAndSaveRememberTheirFiles) {
    Write("vesk.ini", "[Vesk]\nnick=me\n");
    Write("mine.ini", "[Events]\ne0=1:on text:*hi*:*:/msg $nick hello\n");
    Run(status, "/load -e mine.ini");
    EXPECT_TRUE(Printed("*** Loaded events from " + dir + "mine.ini"));
    EXPECT_NE(ReadFile("vesk.ini").find("events=" + dir + "mine.ini"), std::string::npos);
    aline(Script().szusers, "3:carol", false);
    Run(status, "/save -u people.ini");
    EXPECT_TRUE(Printed("*** Saved users to " + dir + "people.ini"));
    ResetScript();
    ReadScriptFiles();
    EXPECT_EQ(Script().efile, dir + "mine.ini");
    EXPECT_EQ(Texts(Script().szevents), Lines{"1:on text:*hi*:*:/msg $nick hello"});
    EXPECT_EQ(Texts(Script().szusers), Lines{"3:carol"});
    // A file that has gone is the settings file again.
    std::filesystem::remove(dir + "people.ini");
    ReadScriptFiles();
    EXPECT_EQ(Script().ufile, Options().szINI);
}

TEST_F(SettingsFileTest, EmptySettingsAreAbsentKeys) {
    Write("vesk.ini", "[Text]\nquit=bye\nother=1\n");
    EXPECT_TRUE(WriteSettings("Text", {{"quit", ""}, {"aptitle", "Chat"}}));
    std::string text = ReadFile("vesk.ini");
    EXPECT_EQ(text.find("quit="), std::string::npos);
    EXPECT_NE(text.find("other=1"), std::string::npos);
    EXPECT_NE(text.find("aptitle=Chat"), std::string::npos);
    // A value with a line break would forge keys; it is refused.
    EXPECT_FALSE(WriteSettings("Text", {{"quit", "x\n[Files]\naliases=/etc/passwd"}}));
    EXPECT_EQ(ReadFile("vesk.ini").find("passwd"), std::string::npos);
    LineList list;
    aline(list, "a", false);
    aline(list, "", false);
    aline(list, "b", false);
    EXPECT_TRUE(WriteSettingsList("Perform", "p", list));
    EXPECT_EQ(Texts(ReadSettingsList("Perform", "p")), (Lines{"a", "b"}));
}

TEST_F(SettingsFileTest, LongDefinitionsSurviveTheRoundTrip) {
    std::string body = "/echo " + std::string(680, 'x');
    Write("vesk.ini", "");
    for (int i = 0; i < 200; ++i)
        aline(Script().szals, "/a" + std::to_string(i) + " " + body, false);
    ASSERT_TRUE(savealiases());
    LineList back;
    ASSERT_TRUE(loadsection("Aliases", back, Options().szINI));
    EXPECT_EQ(Texts(back), Texts(Script().szals));
}

}  // namespace
}  // namespace chat
