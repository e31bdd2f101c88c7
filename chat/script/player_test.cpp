#include "chat/script/player.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "chat/script/script_fixture.h"

namespace chat {
namespace {

TEST(PlayerPick, LineChoice) {
    struct Case {
        std::string file;
        int mode;
        int64_t n;
        std::optional<std::string> line;
    };
    const Case cases[] = {
        {"3\na\nb\nc\n", kPlayLine, 2, "b"},
        {"3\na\nb\nc\n", kPlayLine, 7, "a"},  // beyond the count: the first
        {"0\nfirst\nsecond\n", kPlayRandom, 0, "first"},
        {"-4\nfirst\n", kPlayLine, 1, "first"},
        {"5\nonly\n", kPlayLine, 3, std::nullopt},  // the count promises more than there is
        {"", kPlayLine, 1, std::nullopt},
        {"2\r\nx\r\ny\r\n", kPlayLine, 2, "y"},
    };
    for (const Case& c : cases) {
        std::istringstream in(c.file);
        EXPECT_EQ(PickLine(in, c.mode, c.n), c.line) << c.file;
    }
}

class PlayerTest : public ScriptTest {
protected:
    void SetUp() override {
        ScriptTest::SetUp();
        dir = std::filesystem::temp_directory_path() /
              ("player-test-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir);
        Options().szPATH = dir.string() + "/";
        chan = MakeNewWindow("#a", false);
    }
    void TearDown() override {
        PlayQueue().clear();
        std::filesystem::remove_all(dir);
        ScriptTest::TearDown();
    }
    void Put(const std::string& name, const std::string& text) {
        std::ofstream(dir / name) << text;
    }
    template <typename F>
    void PumpUntil(F done, int ms) {
        uint64_t end = platform::MonotonicMs() + static_cast<uint64_t>(ms);
        while (!done() && platform::MonotonicMs() < end) {
            platform::PumpMessages();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    bool Shows(const std::string& text) {
        for (const Shown& s : shown)
            if (s.text == text) return true;
        return false;
    }
    std::filesystem::path dir;
    WindowId chan = 0;
};

TEST_F(PlayerTest, WholeFileIsPacedAndNeverEvaluated) {
    Put("lines.txt", "one $me\n\n/quit now\nlast\n");
    uint64_t start = platform::MonotonicMs();
    EXPECT_EQ(doplay(chan, Args{"/PLAY", "#a", "lines.txt", "60"}, false), 1);
    EXPECT_TRUE(Shows("* Playing lines.txt to #a with 60ms delay"));
    EXPECT_TRUE(sent.empty());  // the first line waits for the first tick
    PumpUntil([&] { return Shows("* Playback of lines.txt complete"); }, 3000);
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0], "PRIVMSG #a :one $me");
    EXPECT_EQ(sent[1], "PRIVMSG #a :/quit now");
    EXPECT_EQ(sent[2], "PRIVMSG #a :last");
    // Four lines (the empty one sends nothing) and the end: five ticks.
    EXPECT_GE(platform::MonotonicMs() - start, 4u * 60u);
    EXPECT_TRUE(PlayQueue().empty());
}

TEST_F(PlayerTest, RandomLineWithZeroCountSendsTheFirst) {
    Put("quotes.txt", "0\nfirst quote\nsecond quote\n");
    EXPECT_EQ(doplay(chan, Args{"/PLAY", "-r", "#a", "quotes.txt", "10"}, false), 1);
    PumpUntil([&] { return PlayQueue().empty(); }, 2000);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], "PRIVMSG #a :first quote");
    EXPECT_FALSE(Shows("* Playback of quotes.txt complete"));
}

TEST_F(PlayerTest, TopicSection) {
    Put("faq.txt", "[intro]\nhello\n[rules]\nbe kind\nno spam\n[end]\nbye\n");
    EXPECT_EQ(doplay(chan, Args{"/PLAY", "-tRULES", "#a", "faq.txt", "10"}, false), 1);
    PumpUntil([&] { return PlayQueue().empty(); }, 2000);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0], "PRIVMSG #a :be kind");
    EXPECT_EQ(sent[1], "PRIVMSG #a :no spam");
    EXPECT_EQ(doplay(chan, Args{"/PLAY", "-tnone", "#a", "faq.txt"}, false), 1);
    EXPECT_TRUE(Shows("* Requested topic [none] not found in " + (dir / "faq.txt").string()));
}

TEST_F(PlayerTest, QueuePriorityAndStop) {
    Put("a.txt", "a1\na2\na3\n");
    Put("b.txt", "b1\n");
    EXPECT_EQ(doplay(chan, Args{"/PLAY", "#a", "a.txt", "5000"}, false), 1);
    EXPECT_EQ(doplay(chan, Args{"/PLAY", "#a", "b.txt"}, false), 1);
    EXPECT_TRUE(Shows("* Queued b.txt to #a with 1000ms delay"));
    EXPECT_EQ(doplay(chan, Args{"/PLAY", "-p", "#a", "b.txt", "5000"}, false), 1);
    EXPECT_TRUE(Shows("* Pausing current play request..."));
    ASSERT_EQ(PlayQueue().size(), 3u);
    EXPECT_TRUE(PlayQueue()[1].paused);
    shown.clear();
    EXPECT_EQ(doplay(chan, Args{"/PLAY"}, false), 1);
    EXPECT_TRUE(Shows("* Play list:"));
    EXPECT_TRUE(Shows("* End of play list"));
    // Stopping removes the paused request and every queued one without their messages.
    shown.clear();
    EXPECT_EQ(doplay(chan, Args{"/PLAY", "stop"}, false), 1);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, "* Play queue has been cleared");
    EXPECT_TRUE(PlayQueue().empty());
    PumpUntil([] { return false; }, 100);
    EXPECT_TRUE(sent.empty());
}

TEST_F(PlayerTest, RemoteLimitsAndNames) {
    Put("a.txt", "x\n");
    struct Case {
        Args args;
        const char* message;
    };
    EXPECT_EQ(doplay(chan, Args{"/PLAY", "#a", "a.txt", "5000"}, true), 1);
    EXPECT_EQ(doplay(chan, Args{"/PLAY", "#a", "a.txt", "5000"}, true), 1);
    const Case cases[] = {
        {{"/PLAY", "-q1", "#a", "a.txt"}, "* Play queue at max. size of 1"},
        {{"/PLAY", "-m1", "#a", "a.txt"}, "* User exceeded play request limit of 1"},
        {{"/PLAY", "#a", "../a.txt"}, "* Invalid /play parameters"},
        {{"/PLAY", "#a", "/etc/passwd"}, "* Invalid /play parameters"},
    };
    for (const Case& c : cases) {
        shown.clear();
        EXPECT_EQ(doplay(chan, c.args, true), 0);
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0].text, c.message);
    }
    shown.clear();
    EXPECT_EQ(doplay(status, Args{"/PLAY", "a.txt"}, false), 0);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, "* Cannot play to this window");
}

}  // namespace
}  // namespace chat
