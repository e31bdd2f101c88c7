#include "chat/script/commands_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "chat/script/player.h"
#include "chat/script/script_fixture.h"
#include "chat/script/sounds.h"

namespace chat {
namespace {

TEST(WriteOptions, Parsing) {
    struct Case {
        Args args;
        size_t file_at;
        bool clear, insert, remove;
        int line;
        std::string start;
    };
    const Case cases[] = {
        {{"/WRITE", "f.txt", "x"}, 1, false, false, false, 0, ""},
        {{"/WRITE", "-c", "f.txt"}, 2, true, false, false, 0, ""},
        {{"/WRITE", "-il3", "f.txt"}, 2, false, true, false, 3, ""},
        {{"/WRITE", "-l0", "f.txt"}, 2, false, false, false, 1, ""},  // below 2 gives 1
        {{"/WRITE", "-s#a", "-d", "f.txt"}, 3, false, false, true, 0, "#a"},
        {{"/WRITE", "-s#acd", "f.txt"}, 2, false, false, false, 0, "#acd"},  // s ends the word
    };
    for (const Case& c : cases) {
        size_t index = 1;
        WriteOptions o = ParseWriteOptions(c.args, index);
        EXPECT_EQ(index, c.file_at);
        EXPECT_EQ(o.clear, c.clear);
        EXPECT_EQ(o.insert, c.insert);
        EXPECT_EQ(o.remove, c.remove);
        EXPECT_EQ(o.line, c.line);
        EXPECT_EQ(o.start, c.start);
    }
}

TEST(WriteOptions, Rewrites) {
    auto opts = [](int line, const char* start, bool insert, bool remove) {
        WriteOptions o;
        o.line = line;
        o.by_start = start != nullptr;
        o.start = start ? start : "";
        o.insert = insert;
        o.remove = remove;
        return o;
    };
    struct Case {
        std::string contents;
        WriteOptions o;
        std::string line, expected;
    };
    const Case cases[] = {
        {"a\nb\n", opts(3, nullptr, false, false), "x", "a\nb\nx\n"},  // past the end: appended
        {"a\nb\n", opts(1, nullptr, false, false), "x", "x\nb\n"},
        {"a\nb\n", opts(2, nullptr, true, false), "x", "a\nx\nb\n"},
        {"a\nb\n", opts(2, nullptr, false, true), "", "a\n"},
        {"a\nb\n", opts(5, nullptr, false, true), "", "a\nb\n"},  // nothing to drop
        {"a\nb\n", opts(0, nullptr, false, true), "", "a\n"},     // -d alone: the last line
        {"a\nb", opts(0, nullptr, false, true), "", "a\n"},
        {"#ab x\n#a y\n#a\n", opts(0, "#a", false, true), "", "#ab x\n#a\n"},
        {"#ab x\n", opts(0, "#a", false, false), "#a new", "#ab x\n#a new\n"},
        {"#ab x\n", opts(0, "#a", false, true), "", "#ab x\n"},
        {"", opts(0, "#a", false, false), "#a", "#a\n"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(RewriteLines(c.contents, c.o, c.line), c.expected) << c.contents;
}

class FileCommandsTest : public ScriptTest {
protected:
    void SetUp() override {
        ScriptTest::SetUp();
        dir = std::filesystem::temp_directory_path() /
              ("files-test-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir);
        Options().szPATH = dir.string() + "/";
    }
    void TearDown() override {
        PlayQueue().clear();
        std::filesystem::remove_all(dir);
        ScriptTest::TearDown();
    }
    std::string Read(const std::string& name) {
        std::ifstream in(dir / name);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }
    void Put(const std::string& name, const std::string& text) {
        std::ofstream(dir / name) << text;
    }
    std::filesystem::path dir;
};

TEST_F(FileCommandsTest, WriteThroughTheCommand) {
    struct Step {
        Args args;
        std::string expected;
    };
    const Step steps[] = {
        {{"/WRITE", "log.txt", "one"}, "one\n"},
        {{"/WRITE", "log.txt", "two"}, "one\ntwo\n"},
        {{"/WRITE", "-l3", "log.txt", "x"}, "one\ntwo\nx\n"},
        {{"/WRITE", "-d", "log.txt"}, "one\ntwo\n"},
        {{"/WRITE", "-c", "log.txt", "fresh"}, "fresh\n"},
        {{"/WRITE", "-i", "log.txt"}, "fresh\n\n"},
    };
    for (const Step& s : steps) {
        EXPECT_EQ(dowrite(status, s.args, false), 1);
        EXPECT_EQ(Read("log.txt"), s.expected);
    }
    EXPECT_TRUE(shown.empty());
}

TEST_F(FileCommandsTest, RemoteWritesStayInTheFolder) {
    std::filesystem::create_directories(dir / "sub");
    for (const char* name : {"../escape.txt", "sub/x.txt", "/tmp/abs.txt", "..", ".hidden"}) {
        shown.clear();
        EXPECT_EQ(dowrite(status, Args{"/WRITE", name, "x"}, true), 0) << name;
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0].text, std::string("* Write unable to access ") + name);
    }
    EXPECT_FALSE(std::filesystem::exists(dir.parent_path() / "escape.txt"));
    EXPECT_FALSE(std::filesystem::exists(dir / "sub/x.txt"));
    EXPECT_EQ(dowrite(status, Args{"/WRITE", "plain.txt", "ok"}, true), 1);
    EXPECT_EQ(Read("plain.txt"), "ok\n");
}

TEST_F(FileCommandsTest, SoundAndBeepMessages) {
    struct Case {
        Args args;
        const char* message;
    };
    const Case cases[] = {
        {{"/SOUND"}, "*** Not enough parameters"},
        {{"/SOUND", "nick", "noextension"}, "*** Invalid /sound filename"},
        {{"/SOUND", "nick", "missing.wav"}, "*** Unable to play missing.wav"},
        {{"/SOUND", "x.wav"}, "*** You are not on a channel"},
        {{"/WAVPLAY"}, "*** No WAV file specified"},
        {{"/WAVPLAY", "gone"}, "*** Unable to play gone.wav"},
    };
    for (const Case& c : cases) {
        shown.clear();
        int r = c.args[0] == "/SOUND" ? dosound(status, c.args, false)
                                      : dowavplay(status, c.args, false);
        EXPECT_EQ(r, 0);
        ASSERT_EQ(shown.size(), 1u) << c.message;
        EXPECT_EQ(shown[0].text, c.message);
    }
    // Another user's sound name is one plain name inside the sounds folder.
    std::filesystem::create_directories(dir / "sounds");
    Put("sounds/../outside.wav", "RIFF");
    shown.clear();
    EXPECT_EQ(dosound(status, Args{"/SOUND", "nick", "../outside.wav"}, true), 0);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, "*** Invalid /sound filename");
}

TEST_F(FileCommandsTest, SoundSendsTheRequest) {
    std::filesystem::create_directories(dir / "sounds");
    Put("sounds/ding.wav", "RIFF");
    SoundPlayerSetting() = "none";  // the bell stands in for a player
    WindowId chan = MakeNewWindow("#a", false);
    EXPECT_EQ(dosound(chan, Args{"/SOUND", "ding.wav", "hello", "there"}, false), 1);
    EXPECT_EQ(dosound(chan, Args{"/SOUND", "bob", "ding.wav"}, false), 1);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0], "PRIVMSG #a :\x01SOUND ding.wav hello there\x01");
    EXPECT_EQ(sent[1], "PRIVMSG bob :\x01SOUND ding.wav\x01");
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].text, "* me hello there");
    EXPECT_EQ(shown[1].text, "-> [bob] SOUND");
}

TEST_F(FileCommandsTest, PlainNames) {
    const std::pair<const char*, bool> cases[] = {
        {"a.wav", true}, {"", false},   {".", false},      {"..", false},     {"a/b", false},
        {"a\\b", false}, {".x", false}, {"-x.wav", false}, {"a b.wav", true},
    };
    for (auto [name, ok] : cases) EXPECT_EQ(PlainFileName(name), ok) << name;
}

}  // namespace
}  // namespace chat
