#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <future>
#include <thread>

#include "chat/dde/dde_channel.h"
#include "chat/dde/dde_client.h"
#include "chat/dde/dde_server.h"
#include "chat/script/commands.h"
#include "chat/script/script_fixture.h"

namespace chat {
namespace {

TEST(DdeChannel, TransactionLinesRoundTrip) {
    const DdeTransaction cases[] = {
        {false, "VERSION", "x", ""},
        {true, "COMMAND", "ITEM", "/join #a"},
        {true, "COMMAND", "ITEM", "tabs\tstay in the data"},
        {true, "COMMAND", "ITEM", ""},
    };
    for (const DdeTransaction& t : cases) {
        std::string line = FormatDdeTransaction(t);
        ASSERT_EQ(line.back(), '\n');
        auto back = ParseDdeTransaction(std::string_view(line).substr(0, line.size() - 1));
        ASSERT_TRUE(back) << line;
        EXPECT_EQ(back->poke, t.poke);
        EXPECT_EQ(back->topic, t.topic);
        EXPECT_EQ(back->item, t.item);
        EXPECT_EQ(back->data, t.data);
    }
    // Line ends inside a field cannot start a second transaction.
    std::string line = FormatDdeTransaction({true, "COMMAND", "ITEM", "/echo a\n/quit"});
    EXPECT_EQ(line.find('\n'), line.size() - 1);
    for (const char* bad : {"", "GET\tVERSION\tx", "REQUEST", "REQUEST\tVERSION", "POKE\tA\tB"})
        EXPECT_FALSE(ParseDdeTransaction(bad)) << bad;
}

TEST(DdeChannel, ServiceNames) {
    const std::pair<std::string, bool> cases[] = {
        {"Vesk", true},
        {"My Service", true},
        {"", false},
        {".", false},
        {"..", false},
        {"../x", false},
        {"a/b", false},
        {std::string(60, 'a'), true},
        {std::string(61, 'a'), false},
        {"a\nb", false},
    };
    for (const auto& [name, ok] : cases) EXPECT_EQ(ValidServiceName(name), ok) << name;
}

class DdeTest : public ScriptTest {
protected:
    void SetUp() override {
        ScriptTest::SetUp();
        char tmpl[] = "/tmp/dde-test-XXXXXX";
        dir = ::mkdtemp(tmpl);
        ::setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
        InstallDde();
    }
    void TearDown() override {
        CleanupDDE();
        std::filesystem::remove_all(dir);
        ScriptTest::TearDown();
    }
    WindowId Channel(const std::string& name) {
        WindowId w = MakeNewWindow(name, false);
        return w;
    }
    // Runs the loop until `done` or the time is up.
    template <typename F>
    void PumpUntil(F done, int ms) {
        uint64_t end = platform::MonotonicMs() + static_cast<uint64_t>(ms);
        while (!done() && platform::MonotonicMs() < end) {
            platform::PumpMessages();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    std::string dir;
};

TEST_F(DdeTest, Answers) {
    WindowId a = Channel("#a");
    Channel("#b");
    Windows().CActive = a;
    SetMember(ChannelOf(a).nicks, "op", '@');
    SetMember(ChannelOf(a).nicks, "plain", 0);
    struct Case {
        const char* topic;
        const char* item;
        std::optional<std::string> answer;
    };
    const Case cases[] = {
        {"VERSION", "", "Vesk32 4.1"},        {"version", "x", "Vesk32 4.1"},
        {"Trout", "", "WHOP! THWACK! SLAP!"}, {"CONNECTED", "", "not connected"},
        {"CHANNELS", "", "*#a #b"},           {"USERS", "#a", "#a @op plain"},
        {"USERS", "#nowhere", std::nullopt},  {"USERS", "a", std::nullopt},
        {"NOSUCHTOPIC", "", std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(DdeAnswer(c.topic, c.item), c.answer) << c.topic;
}

TEST_F(DdeTest, PokeRunsCommandsOnlyOnTopicCommand) {
    connected = true;
    EXPECT_TRUE(DdePoke("command", "/raw JOIN #a"));
    EXPECT_FALSE(DdePoke("OTHER", "/raw JOIN #b"));
    EXPECT_TRUE(DdePoke("COMMAND", ""));
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], "JOIN #a");
}

TEST_F(DdeTest, ServerOverItsSocket) {
    ASSERT_TRUE(SetDDEServer("UnitSvc", true));
    std::string path = DdeSocketPath("UnitSvc");
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat((dir + "/vesk32").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    // A second server cannot take a name that answers.
    auto answer = std::async(std::launch::async, [] {
        return DdeTransact("UnitSvc", {false, "VERSION", "x", ""}, 2000);
    });
    PumpUntil([&] { return answer.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
              3000);
    EXPECT_EQ(answer.get(), std::optional<std::string>("Vesk32 4.1"));

    // An endless line without its end is dropped at the size bound, not collected forever.
    auto flood = std::async(std::launch::async, [] {
        DdeTransaction t{true, "COMMAND", "ITEM", std::string(kDdeRequestLimit * 4, 'x')};
        return DdeTransact("UnitSvc", t, 2000);
    });
    PumpUntil([&] { return flood.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
              3000);
    EXPECT_FALSE(flood.get());

    ASSERT_TRUE(SetDDEServer("UnitSvc", false));
    EXPECT_NE(::access(path.c_str(), F_OK), 0);
    EXPECT_FALSE(DdeTransact("UnitSvc", {false, "VERSION", "x", ""}, 200));
}

TEST_F(DdeTest, FolderOpenToOthersIsClosed) {
    std::string folder = dir + "/vesk32";
    ASSERT_EQ(::mkdir(folder.c_str(), 0777), 0);
    ::chmod(folder.c_str(), 0777);
    ASSERT_TRUE(PrepareDdeFolder(folder + "/"));
    struct stat st {};
    ASSERT_EQ(::stat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    // A link in its place is not followed.
    std::filesystem::remove_all(folder);
    ::symlink("/tmp", folder.c_str());
    EXPECT_FALSE(PrepareDdeFolder(folder + "/"));
}

TEST_F(DdeTest, QueuedPokesArePaced) {
    ASSERT_TRUE(SetDDEServer("PaceSvc", true));
    connected = true;
    Args first{"/DDE", "PaceSvc", "COMMAND", "ITEM", "/raw", "ONE"};
    Args second{"/DDE", "PaceSvc", "COMMAND", "ITEM", "/raw", "TWO"};
    uint64_t start = platform::MonotonicMs();
    EXPECT_EQ(dodde(status, first, false), 1);
    EXPECT_EQ(dodde(status, second, false), 1);
    // The first goes out at once, the second waits for the DDE delay.
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], "ONE");
    PumpUntil([&] { return sent.size() >= 2; }, 2000);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[1], "TWO");
    EXPECT_GE(platform::MonotonicMs() - start, 190u);
}

TEST_F(DdeTest, CommandMessages) {
    EXPECT_EQ(dodde(status, Args{"/DDE", "OnlyService"}, false), 0);
    EXPECT_EQ(dodde(status, Args{"/DDE", "-r", "S", "T"}, false), 0);
    EXPECT_EQ(dospeak(status, Args{"/SPEAK"}, false), 0);
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_EQ(shown[0].text, "* Invalid /dde parameters");
    EXPECT_EQ(shown[1].text, "* Invalid /dde parameters");
    EXPECT_EQ(shown[2].text, "*** Nothing to speak");
    shown.clear();
    Options().szINI = dir + "/vesk.ini";
    EXPECT_EQ(doddeserver(status, Args{"/DDESERVER", "on", "Named"}, false), 1);
    EXPECT_EQ(doddeserver(status, Args{"/DDESERVER", "off"}, false), 1);
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].text, "*** DDE Server is ON (Named)");
    EXPECT_EQ(shown[1].text, "*** DDE Server is OFF (Named)");
}

}  // namespace
}  // namespace chat
