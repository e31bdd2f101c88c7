#include "chat/script/sounds.h"

#include <sys/stat.h>

#include <cstdio>
#include <fstream>

#include "chat/core/events.h"
#include "chat/script/script_fixture.h"

namespace chat {
namespace {

class AlarmTest : public ScriptTest {
protected:
    void SetUp() override {
        ScriptTest::SetUp();
        CurrentFrontend().beep = [this] { ++beeps; };
    }
    void TearDown() override {
        Hooks().play_alarm = nullptr;
        SoundPlayerSetting().clear();
        ScriptTest::TearDown();
    }
    int beeps = 0;
};

// What each setting of an alarm does, with and without a sound that plays.
TEST_F(AlarmTest, SettingChoosesNothingBeepOrSound) {
    struct Case {
        int setting;
        bool plays;
        int want_plays, want_beeps;
    } cases[] = {
        {0, true, 0, 0}, {1, true, 0, 1}, {2, true, 1, 0}, {2, false, 1, 1}, {3, true, 0, 1},
    };
    for (const Case& c : cases) {
        int plays = 0;
        std::string asked;
        Hooks().play_alarm = [&](std::string_view alarm) {
            ++plays;
            asked = std::string(alarm);
            return c.plays;
        };
        beeps = 0;
        SoundAlarm(c.setting, "invite");
        EXPECT_EQ(plays, c.want_plays) << c.setting << c.plays;
        EXPECT_EQ(beeps, c.want_beeps) << c.setting << c.plays;
        EXPECT_EQ(asked, plays ? "invite" : "") << c.setting;
    }
    // Without anything installed to play sounds, the wave setting beeps.
    Hooks().play_alarm = nullptr;
    beeps = 0;
    SoundAlarm(2, "query");
    EXPECT_EQ(beeps, 1);
}

TEST_F(AlarmTest, SoundsComeFromTheWavesSectionAndTheSoundsFolder) {
    const std::string dir = ::testing::TempDir() + "alarm_sounds/";
    ::mkdir(dir.c_str(), 0700);
    const std::string ini = dir + "vesk.ini";
    std::ofstream(ini) << "[Dirs]\nwaves=" << dir << "\n[Waves]\nquery=ding.wav\n"
                       << "invite=/nowhere/gone.wav\n[Sound]\nplayer=/bin/true\n";
    std::ofstream(dir + "ding.wav") << "RIFF";
    Options().szINI = ini;
    ReadSoundSettings();
    EXPECT_EQ(AlarmSound("query"), "ding.wav");
    EXPECT_EQ(WavePath(AlarmSound("query")), dir + "ding.wav");
    EXPECT_TRUE(PlayAlarm("query"));
    EXPECT_FALSE(PlayAlarm("invite"));  // the file is missing
    EXPECT_FALSE(PlayAlarm("notice"));  // none set
    // The settings reader installs the player for the core's alarms.
    beeps = 0;
    SoundAlarm(2, "notice");
    EXPECT_EQ(beeps, 1);
    std::remove((dir + "ding.wav").c_str());
    std::remove(ini.c_str());
}

}  // namespace
}  // namespace chat
