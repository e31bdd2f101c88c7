// Test fixture of the lists: the command language's fixture with the lists installed, a
// connection that has seen its MOTD, and fresh notify, ignore, URL and folder state.
#pragma once

#include "chat/core/connection/connection.h"
#include "chat/core/events.h"
#include "chat/lists/channels_folder.h"
#include "chat/lists/ignore_list.h"
#include "chat/lists/list_commands.h"
#include "chat/lists/notify_list.h"
#include "chat/lists/url_catcher.h"
#include "chat/script/script_fixture.h"

namespace chat {

class ListsTest : public ScriptTest {
protected:
    void SetUp() override {
        ScriptTest::SetUp();
        InstallLists();
        ResetNotify();
        ResetIgnores();
        ResetUrls();
        ResetFolder();
        Conn().Connected = true;
        Conn().FirstMOTD = false;
        Options().notify = 1;
    }
    void TearDown() override {
        ResetNotify();
        ResetIgnores();
        ResetUrls();
        ResetFolder();
        ScriptTest::TearDown();
    }
    /// Lines sent since the last clear.
    std::vector<std::string> Take() {
        std::vector<std::string> out = std::move(sent);
        sent.clear();
        return out;
    }
};

}  // namespace chat
