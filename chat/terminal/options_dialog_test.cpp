#include "chat/terminal/options_dialog.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>

#include "chat/core/connection/connection.h"
#include "chat/core/options.h"
#include "chat/terminal/settings_dialog.h"
#include "chat/terminal/setup_model.h"
#include "platform/tui/menu_model.h"

namespace chat {
namespace {

class OptionsFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetOptions();
        char tmpl[] = "/tmp/options-model-XXXXXX";
        dir_ = ::mkdtemp(tmpl);
        Options().szINI = dir_ + "/vesk.ini";
        Options().szPATH = dir_ + "/";
        Conn().testflood = Conn().floodlines = Conn().floodtime = Conn().floodpause = 0;
    }
    void TearDown() override {
        std::system(("rm -rf " + dir_).c_str());
        ResetOptions();
    }
    std::string Read() {
        std::ifstream in(Options().szINI);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    // The index of the setting with this label on a page.
    static size_t At(int page, const std::string& label) {
        const auto& settings = OptionsPages()[static_cast<size_t>(page) - 1].settings;
        for (size_t i = 0; i < settings.size(); ++i)
            if (PlainLabel(settings[i].label) == label) return i;
        ADD_FAILURE() << label;
        return 0;
    }
    static std::string& Value(OptionsState& s, int page, const std::string& label) {
        return s.values[static_cast<size_t>(page) - 1][At(page, label)];
    }
    std::string dir_;
};

TEST_F(OptionsFileTest, DccNumbersAreCheckedOrKeptInRange) {
    std::ofstream(Options().szINI) << "[Options]\noptions=0,1,1\n[Mine]\nkeep=1\n";
    loadini();
    const struct {
        const char* label;
        const char* typed;
        const char* stored;  // the value kept, or null when refused
        const char* message;
    } cases[] = {
        {"Packet size", "100000", "4096", ""},  // the packet size is kept within 512..4096
        {"Packet size", "100", "512", ""},
        {"Packet size", "2048", "2048", ""},
        {"Packet size", "2k", nullptr, "Packet size must be a number between 512 and 4096."},
        {"Offer wait (s)", "4", nullptr, "Offer wait (s) must be between 5 and 3600."},
        {"Max sends", "31", nullptr, "Max sends must be between 0 and 30."},
        {"File servers", " 3 ", "3", ""},
    };
    for (const auto& c : cases) {
        OptionsState s = LoadOptions();
        Value(s, kOptionsDcc, c.label) = c.typed;
        const OptionsProblem p = CheckOptions(s);
        EXPECT_EQ(p.message, c.message) << c.label << " " << c.typed;
        if (c.stored) {
            EXPECT_EQ(p.page, 0);
            EXPECT_EQ(Value(s, kOptionsDcc, c.label), c.stored) << c.typed;
        } else {
            EXPECT_EQ(p.page, kOptionsDcc);
            EXPECT_EQ(p.index, At(kOptionsDcc, c.label));
        }
    }
    OptionsState s = LoadOptions();
    Value(s, kOptionsDcc, "Packet size") = "9000";
    Value(s, kOptionsDcc, "Send offers") = "2";
    Value(s, kOptionsDcc, "Resume existing files") = "1";
    ASSERT_EQ(CheckOptions(s).message, "");
    ASSERT_TRUE(SaveOptions(s));
    EXPECT_EQ(Options().psize, 4096);
    EXPECT_EQ(Options().sad, 2);
    EXPECT_EQ(Options().aref, 1);
    const std::string saved = Read();
    // The first fields stay as read, field 15 is the send-offer choice and 21 the packet size.
    EXPECT_NE(saved.find("options=0,1,1,0,0,0,200,0,0,0,1,1,0,0,2,0,1,0,0,0,4096,"),
              std::string::npos)
        << saved;
    EXPECT_NE(saved.find("[Mine]\nkeep=1"), std::string::npos);
}

TEST_F(OptionsFileTest, FloodGuardNeedsAllThreeNumbersAndGoesToTheConnection) {
    loadini();
    OptionsState s = LoadOptions();
    Value(s, kOptionsFlood, "Flood guard on") = "1";
    Value(s, kOptionsFlood, "Lines") = "5";
    Value(s, kOptionsFlood, "Seconds") = "0";
    Value(s, kOptionsFlood, "Pause (s)") = "20";
    OptionsProblem p = CheckOptions(s);
    EXPECT_EQ(p.page, kOptionsFlood);
    EXPECT_EQ(p.message, "The flood guard needs lines, seconds and a pause of at least 1.");
    Value(s, kOptionsFlood, "Seconds") = "10";
    ASSERT_EQ(CheckOptions(s).message, "");
    ASSERT_TRUE(SaveOptions(s));
    const Connection& c = Conn();
    EXPECT_EQ(c.testflood, 1);
    EXPECT_EQ(c.floodlines, 5);
    EXPECT_EQ(c.floodtime, 10);
    EXPECT_EQ(c.floodpause, 20);
    // The guard holds for one connection: nothing of it is in the settings file.
    EXPECT_EQ(Read().find("flood"), std::string::npos);
    s = LoadOptions();
    Value(s, kOptionsFlood, "Flood guard on") = "0";
    ASSERT_TRUE(SaveOptions(s));
    EXPECT_EQ(Conn().testflood, 0);
}

TEST_F(OptionsFileTest, TextsAndFoldersAreStoredOrRefused) {
    loadini();
    OptionsState s = LoadOptions();
    Value(s, kOptionsLogging, "Folder") = dir_ + "/nowhere";
    OptionsProblem p = CheckOptions(s);
    EXPECT_EQ(p.page, kOptionsLogging);
    EXPECT_EQ(p.message, "The folder " + dir_ + "/nowhere does not exist.");
    Value(s, kOptionsLogging, "Folder") = dir_;
    Value(s, kOptionsGeneral, "Quit message") = "  bye for now ";
    Value(s, kOptionsDisplay, "Buffer lines") = "50";
    ASSERT_EQ(CheckOptions(s).message, "");
    ASSERT_TRUE(SaveOptions(s));
    EXPECT_EQ(Options().szLogDir, dir_ + "/");
    EXPECT_EQ(Options().quit, "bye for now");
    EXPECT_EQ(Options().sbbs, 200);
    std::string saved = Read();
    EXPECT_NE(saved.find("logdir=" + dir_ + "\n"), std::string::npos) << saved;
    EXPECT_NE(saved.find("quit=bye for now\n"), std::string::npos);
    // An emptied text is an absent key.
    s = LoadOptions();
    Value(s, kOptionsGeneral, "Quit message") = "";
    ASSERT_TRUE(SaveOptions(s));
    EXPECT_EQ(Read().find("quit="), std::string::npos);
}

// Every "&" letter of a dialog must reach one control: a letter used twice on a page (the
// page buttons included) would only ever reach the first.
TEST(SettingsDialogTest, LettersAreUniqueOnEveryPage) {
    // `first` holds the controls the first page has beside its settings.
    auto check = [](const std::vector<SettingsPage>& pages, std::vector<std::string> first) {
        std::vector<std::string> titles;
        for (const SettingsPage& p : pages) titles.push_back(p.title);
        for (const SettingsPage& p : pages) {
            std::set<char32_t> seen;
            std::vector<std::string> labels = titles;
            if (&p == &pages.front()) labels.insert(labels.end(), first.begin(), first.end());
            for (const Setting& s : p.settings) {
                labels.push_back(s.label);
                for (const std::string& c : s.choices) labels.push_back(c);
            }
            for (const std::string& l : labels) {
                const char32_t letter = tui::MenuMnemonic(l);
                if (!letter) continue;
                EXPECT_TRUE(seen.insert(letter).second) << p.title << ": " << l;
            }
        }
    };
    check(OptionsPages(), {});
    check(SetupPages(), {"Ser&vers", "Ne&w...", "&Modify...", "&Delete", "Po&rt:", "Connec&t"});
}

TEST(SettingsDialogTest, PagesFitTheDialog) {
    for (const auto* pages : {&OptionsPages(), &SetupPages()}) {
        for (const SettingsPage& p : *pages) {
            tui::Dialog d = MakePagedDialog("t", {p.title}, 1);
            const int end = AddSettings(d, p, LoadPage(p), 2);
            EXPECT_LE(end, kPagedRows - 1) << p.title;
            for (const tui::Control& c : d.controls) {
                EXPECT_LE(c.col + c.width, kPagedCols) << p.title << ": " << c.text;
                // Texts are shown whole.
                const int shown = static_cast<int>(tui::MenuLabel(c.text).size());
                const int room = c.kind == tui::ControlKind::kCheck ? c.width - 4 : c.width;
                if (c.kind == tui::ControlKind::kLabel || c.kind == tui::ControlKind::kCheck) {
                    EXPECT_LE(shown, room) << c.text;
                }
            }
            // What the controls show is what is read back.
            PageValues read(p.settings.size());
            ReadSettings(d, p, read);
            PageValues loaded = LoadPage(p);
            for (size_t i = 0; i < p.settings.size(); ++i) {
                if (p.settings[i].kind == SettingKind::kNote) continue;
                EXPECT_EQ(read[i], loaded[i]) << p.title << ": " << p.settings[i].label;
            }
        }
    }
}

}  // namespace
}  // namespace chat
