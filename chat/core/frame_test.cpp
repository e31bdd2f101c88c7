#include "chat/core/frame.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "chat/core/connection/connection.h"
#include "chat/core/frontend.h"
#include "chat/core/options.h"
#include "chat/core/windows/window_table.h"

namespace chat {
namespace {

class FrameCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::ResetEventLoop();
        ResetWindows();
        ResetOptions();
        ResetConnection();
        Frontend fe;
        fe.print_line = [this](WindowId, const std::string& name, int, const std::string& text) {
            said.push_back(name + ": " + text);
        };
        fe.message_box = [this](const std::string& title, const std::string& text) {
            said.push_back("[" + title + "] " + text);
        };
        fe.beep = [this] { said.push_back("beep"); };
        fe.show_help = [this](const std::string& path, const std::string& key) {
            said.push_back("help " + path + " " + key);
        };
        InstallFrontend(fe);
        status = MakeNewWindow("Status Window", false);
        chan = MakeNewWindow("#c", false);
        Frame().help_dir = "/h/";
    }
    void TearDown() override {
        ResetWindows();
        InstallFrontend(Frontend{});
    }
    std::vector<std::string> Run(int command) {
        said.clear();
        RunFrameCommand(command);
        return said;
    }

    WindowId status = 0, chan = 0;
    std::vector<std::string> said;
};

TEST_F(FrameCommandTest, EveryCommandWorksOrSaysWhyNot) {
    const std::string no_dialog = "[System Error] Unable to display dialog";
    const std::string one_at_a_time =
        "#c: *** Windows fill the screen one at a time: Alt+1-9, Ctrl+N and Ctrl+P switch "
        "between them";
    const struct {
        int command;
        bool connected;
        std::string said;
    } cases[] = {
        {kCmdSetup, false, no_dialog},
        {kCmdOptions, false, no_dialog},
        {kCmdJoin, false, no_dialog},
        {kCmdAliases, false, no_dialog},
        {kCmdPopups, false, no_dialog},
        {kCmdRemote, false, no_dialog},
        {kCmdFinger, false, no_dialog},
        {kCmdTimer, false, no_dialog},
        {kCmdDccSend, false, no_dialog},
        {kCmdDccChat, false, no_dialog},
        {kCmdDccOptions, false, no_dialog},
        {kCmdListParams, false, "beep"},  // nothing to list without a server
        {kCmdListParams, true, no_dialog},
        {kCmdNotifyWindow, false, "beep"},
        {kCmdNotifyWindow, true, "#c: *** The notify list window is not available"},
        {kCmdUrlWindow, false, "#c: *** The URL list window is not available"},
        {kCmdTile, false, one_at_a_time},
        {kCmdCascade, false, one_at_a_time},
        {kCmdArrange, false, one_at_a_time},
        {kCmdHelpContents, false, "help /h/vesk.hlp "},
        {kCmdPaste, false, "#c: *** There is nothing to paste"},
    };
    for (const auto& c : cases) {
        Conn().Connected = c.connected;
        EXPECT_EQ(Run(c.command), std::vector<std::string>{c.said}) << c.command;
    }
}

TEST_F(FrameCommandTest, EscapeLeavesTheWindowOnlyWhenTheOptionSaysSo) {
    ASSERT_EQ(ActiveWindow(), chan);
    Run(kCmdEscape);
    EXPECT_EQ(ActiveWindow(), chan);
    Options().ekmw = 1;
    Run(kCmdEscape);
    EXPECT_EQ(ActiveWindow(), status);
    Run(kCmdFirstWindow + 1);  // the Window menu's second entry
    EXPECT_EQ(ActiveWindow(), chan);
    Run(kCmdFirstWindow + 7);  // no such window: nothing happens
    EXPECT_EQ(ActiveWindow(), chan);
}

}  // namespace
}  // namespace chat
