#include "chat/script/input_parser.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "chat/script/script_fixture.h"
#include "chat/script/tokens.h"
#include "chat/script/variables.h"

namespace chat {
namespace {

using Lines = std::vector<std::string>;

TEST_F(ScriptTest, TypedLinesRunAsTypedWithoutEvaluation) {
    WindowId chan = Channel("#chan");
    EXPECT_EQ(Run(chan, "/join #$1"), Lines{"JOIN #$1"});
    EXPECT_EQ(Run(chan, "hello | world"), Lines{"PRIVMSG #chan :hello | world"});
    EXPECT_EQ(Run(chan, "   hi"), Lines{"PRIVMSG #chan :   hi"});
    EXPECT_EQ(Run(chan, "/kick #a bob go away"), Lines{"KICK #a bob :go away"});
    EXPECT_EQ(Run(chan, "/kick #a bob :go away"), Lines{"KICK #a bob :go away"});
    EXPECT_EQ(Run(chan, "/privmsg bob :hi there"), Lines{"PRIVMSG bob :hi there"});
    EXPECT_EQ(Run(chan, "/foo a b c"), Lines{"FOO a b c"});
    EXPECT_EQ(Run(chan, "/mode #a +ooo a b c d e"), Lines{"MODE #a +ooo a b c :d e"});
    EXPECT_EQ(Run(chan, "/topic #a new topic here"), Lines{"TOPIC #a :new topic here"});
    EXPECT_EQ(Run(chan, "/whois bob"), Lines{"WHOIS bob"});
    EXPECT_EQ(Run(chan, "/msg %x $me"), Lines{"PRIVMSG %x :$me"});
    EXPECT_TRUE(Run(chan, "/").empty());
    EXPECT_TRUE(Printed("*** No command specified"));
}

TEST_F(ScriptTest, SeparatorsDependOnTheOrigin) {
    EXPECT_EQ(Run(status, "/join #a | /join #b", 1), (Lines{"JOIN #a", "JOIN #b"}));
    EXPECT_EQ(Run(status, "/join #a|/join #b", 1), Lines{"JOIN #a|/join #b"});
    EXPECT_EQ(Run(status, "/join #a | /join #b", 0), Lines{"JOIN #a | /join #b"});
    EXPECT_EQ(Run(status, "/join $1 | /part $1:$:#x", 2), (Lines{"JOIN #x", "PART #x"}));
    // A remote script's line is split like origin 2 and its output counted by the flood guard.
    EXPECT_EQ(Run(status, "/notice $1 hi | /notice $1 again:$:bob", 6),
              (Lines{"NOTICE bob :hi", "NOTICE bob :again"}));
    EXPECT_EQ(remote_sent, 2);
    // The file server's commands run like typed ones.
    EXPECT_EQ(Run(status, "/msg bob $me | x", 7), Lines{"PRIVMSG bob :$me | x"});
    // A played line is always a message, whatever its first character.
    WindowId chan = Channel("#p");
    EXPECT_EQ(Run(chan, "/quit now", 5), Lines{"PRIVMSG #p :/quit now"});
}

TEST_F(ScriptTest, CommandCharacterAndConnection) {
    Script().xCOMMANDCHAR = '.';
    EXPECT_EQ(Run(status, ".join #a"), Lines{"JOIN #a"});
    EXPECT_EQ(Run(status, "/join #a"), Lines{"JOIN #a"});
    connected = false;
    EXPECT_TRUE(Run(status, "/join #a | /echo after", 1).empty());
    EXPECT_TRUE(Printed("*** Not connected to server"));
    EXPECT_FALSE(Printed("after"));
    EXPECT_TRUE(Says(status, "/echo works", "works"));
    EXPECT_TRUE(Run(status, "/unknowncmd x").empty());
    EXPECT_TRUE(Printed("*** Not connected to server"));
}

TEST_F(ScriptTest, TextFromOtherUsersIsNeverEvaluated) {
    SetVar("%secret hidden");
    WindowId chan = Channel("#chan");
    // Parameters carry other users' words: their "$", "%" and " | " stay text.
    EXPECT_EQ(Run(chan, "/msg #chan *1:$:$me %secret | /quit $$1", 2),
              Lines{"PRIVMSG #chan :$me %secret | /quit $$1"});
    EXPECT_TRUE(Run(status, "/echo $1 $2:$:%secret $read", 2).empty());
    EXPECT_TRUE(Printed("%secret $read"));
    // An alias run from a typed line takes its words as parameters, never as code.
    Alias("/say2 /msg #chan *1");
    EXPECT_EQ(Run(chan, "/say2 $me | /quit %secret"), Lines{"PRIVMSG #chan :$me | /quit %secret"});
    // The multi-command marker inside a parameter is not a marker.
    EXPECT_EQ(Run(status, "/join $1:$:`~$*x", 2), Lines{"JOIN `~$*x"});
}

TEST_F(ScriptTest, AbandonedLinesRunNothing) {
    WindowId chan = Channel("#chan");
    EXPECT_TRUE(Run(chan, "/join #a | /msg $$1 hi | /join #b", 1).size() == 1);
    EXPECT_EQ(Run(chan, "/msg #x $1 hi", 1), Lines{"PRIVMSG #x :hi"});
    EXPECT_TRUE(Run(chan, "/msg #x %nothing", 1).empty());
    EXPECT_TRUE(Run(status, "/join #", 1).empty());
    EXPECT_EQ(Run(chan, "/part #", 1), Lines{"PART #chan"});
    // Each command is evaluated when its turn comes.
    Run(status, "/set %a 1 | /echo x %a", 1);
    EXPECT_TRUE(Printed("x 1"));
}

TEST_F(ScriptTest, MultiCommandRepeatsPerParameter) {
    EXPECT_EQ(Run(status, "/join $*:$:#a #b #c", 2), (Lines{"JOIN #a", "JOIN #b", "JOIN #c"}));
    EXPECT_EQ(Run(status, "/join #$*:$:a", 2), Lines{"JOIN a"});
}

TEST_F(ScriptTest, EvaluatedLineKeepsItsBeginningWithinTheLimit) {
    SetVar("%a " + std::string(300, 'a'));
    SetVar("%b " + std::string(300, 'b'));
    SetVar("%c " + std::string(300, 'c'));
    // The third value would pass 699 characters: it goes whole, and so does every later token.
    Lines out = Run(status, "/raw -q X %a %b %c short", 1);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0], "X " + std::string(300, 'a') + " " + std::string(300, 'b'));
    // An input line is cut to 699 characters before anything else.
    out = Run(status, "/raw -q Y " + std::string(1000, 'y'));
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].size(), 699u - 8);
}

TEST_F(ScriptTest, HostileInputStaysWithinTheLimits) {
    std::string many;
    for (int i = 0; i < 5000; ++i) many += "$+ a ";
    Lines out = Run(status, "/raw -q X " + many, 1);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_LE(out[0].size(), 699u);

    std::string huge(10000, 'y');
    out = Run(status, "/raw -q X " + huge, 1);
    EXPECT_TRUE(out.empty() || out[0].size() <= 699u);
    out = Run(status, "/raw -q X $1:$:" + huge, 2);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_LE(out[0].size(), 699u);

    std::string bars;
    for (int i = 0; i < 3000; ++i) bars += "| ";
    EXPECT_TRUE(Run(status, "/echo a " + bars, 1).size() == 0);

    // A prompt whose title never closes gives no value and asks nothing.
    Script().hooks.prompt = [](const std::string&) -> std::optional<std::string> {
        ADD_FAILURE() << "prompt shown";
        return std::nullopt;
    };
    EXPECT_EQ(Run(status, "/join #a $?=\"never closed", 1), Lines{"JOIN #a closed"});
    EXPECT_EQ(tokenize(std::string(20000, ' ') + many).size(), 360u);
}

TEST_F(ScriptTest, LongMessagesGoOutInSeveralLines) {
    WindowId chan = Channel("#chan");
    std::string text;
    for (int i = 0; i < 120; ++i) text += "word" + std::to_string(i) + " ";
    text += std::string(40, 'z');
    // Typed lines stop at 699 characters anyway; messages from a script can carry more.
    Lines out = Run(chan, "/msg #chan *1:$:" + text, 2);
    ASSERT_GE(out.size(), 2u);
    std::string joined;
    for (const std::string& line : out) {
        // Room for ":me!" with a user of 10 and a host of 63 characters, and CR LF.
        EXPECT_LE(line.size() + 79 + 2, 512u) << line;
        ASSERT_TRUE(line.starts_with("PRIVMSG #chan :"));
        if (!joined.empty()) joined += ' ';
        joined += line.substr(15);
    }
    EXPECT_EQ(joined + " ", text.substr(0, joined.size() + 1));
    EXPECT_EQ(shown.size(), out.size());

    // UTF-8 characters are never split, even without blanks.
    std::string wide;
    for (int i = 0; i < 300; ++i) wide += "\xc3\xa9";
    out = Run(chan, "/me " + wide);
    ASSERT_EQ(out.size(), 2u);
    for (const std::string& line : out) {
        std::string body = line.substr(line.find("ACTION ") + 7);
        body.pop_back();
        EXPECT_EQ(body.size() % 2, 0u);
        EXPECT_EQ(line.back(), '\x01');
    }
}

class ReadTest : public ScriptTest {
protected:
    void SetUp() override {
        ScriptTest::SetUp();
        dir =
            std::filesystem::temp_directory_path() / ("script_read_" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir);
        Options().szPATH = dir.string() + "/";
    }
    void TearDown() override {
        std::filesystem::remove_all(dir);
        ScriptTest::TearDown();
    }
    void Write(const std::string& name, const std::string& text) {
        std::ofstream(dir / name) << text;
    }
    std::filesystem::path dir;
};

TEST_F(ReadTest, ReadPicksLinesAndEvaluatesThem) {
    Write("quotes.txt", "3\nfirst line\n\nsecond $me\nthird\n");
    EXPECT_EQ(Run(status, "/raw -q X $read -l2 quotes.txt", 1), Lines{"X second me"});
    for (auto& t : Texts()) ADD_FAILURE() << t;
    EXPECT_EQ(Run(status, "/raw -q X $read -l9 quotes.txt", 1), Lines{"X first line"});
    EXPECT_EQ(Run(status, "/raw -q X $read quotes.txt", 1), Lines{"X first line"});
    Write("keys.txt", "alpha one two\nBeta three\nbetamax no\n");
    EXPECT_EQ(Run(status, "/raw -q X $read -sbeta keys.txt", 1), Lines{"X three"});
    EXPECT_TRUE(Run(status, "/raw -q X $read -sgamma keys.txt", 1).empty());
    EXPECT_TRUE(Printed("* $read: no match for \"gamma\" in keys.txt"));
    // A perform line may be a line of a file, which then runs as the command.
    Write("cmds.txt", "1\n/join #fromfile\n");
    EXPECT_EQ(Run(status, "$read cmds.txt", 1), Lines{"JOIN #fromfile"});
    // A name with a "-" in it is a name, not an option.
    Write("my-file.txt", "1\nok\n");
    EXPECT_EQ(Run(status, "/raw -q X $read my-file.txt", 1), Lines{"X ok"});
}

TEST_F(ReadTest, ReadFailuresAreReportedAndNestingIsBounded) {
    EXPECT_TRUE(Run(status, "/raw -q X $read", 1).empty());
    EXPECT_TRUE(Printed("* $read: no filename specified"));
    EXPECT_TRUE(Run(status, "/raw -q X $read missing.txt", 1).empty());
    EXPECT_TRUE(Printed("* $read: error opening file"));
    Write("empty.txt", "");
    EXPECT_TRUE(Run(status, "/raw -q X $read empty.txt", 1).empty());
    EXPECT_TRUE(Printed("* $read: error reading file empty.txt"));
    Write("loop.txt", "1\nx $read loop.txt\n");
    EXPECT_TRUE(Run(status, "/raw -q X $read loop.txt", 1).empty());
    EXPECT_TRUE(Printed("* $read: nesting too deep"));
    // Eight levels are allowed.
    for (int i = 0; i < 8; ++i)
        Write("n" + std::to_string(i), "1\n" + (i < 7 ? "$read n" + std::to_string(i + 1) : "end"));
    EXPECT_EQ(Run(status, "/raw -q X $read n0", 1), Lines{"X end"});
    // A line of a megabyte is read only as far as a command line reaches.
    Write("big.txt", "1\n" + std::string(1 << 20, 'q') + "\n");
    Lines out = Run(status, "/raw -q X $+ $read big.txt", 1);
    EXPECT_TRUE(out.empty());
}

TEST_F(ReadTest, HelpFilesShadowOnlyPlainCommandNames) {
    Script().help_dir = dir.string() + "/";
    Write("join.hlp", "help");
    std::string opened;
    Script().hooks.show_help = [&](const std::string& path, const std::string& key) {
        opened = path + " " + key;
    };
    EXPECT_TRUE(Run(status, "/join test").empty());
    EXPECT_EQ(opened, dir.string() + "/join.hlp test");
    Write("x.hlp", "");
    EXPECT_EQ(Run(status, "/../x a"), Lines{"../X a"});
}

TEST(TokensTest, QuotedTexts) {
    Args args = {"/X", "\"two", "words\"", "\"unclosed", "rest"};
    std::string out;
    EXPECT_EQ(extractquotes(args, 1, out, 100), 2u);
    EXPECT_EQ(out, "two words");
    EXPECT_EQ(extractquotes(args, 3, out, 100), 0u);
    EXPECT_EQ(extractquotes(args, 4, out, 100), 4u);
    EXPECT_EQ(out, "rest");
    EXPECT_EQ(extractquotes(args, 1, out, 5), 0u);
    Args many = {"/X", "\"a"};
    for (int i = 0; i < 60; ++i) many.push_back("b");
    many.push_back("c\"");
    EXPECT_EQ(extractquotes(many, 1, out, 1000), 0u);
    TokenList t = tokenize("$file=\"My title\" next");
    EXPECT_EQ(extractquotesfl(t, 0, out), 1);
    EXPECT_EQ(out, "My title");
    EXPECT_EQ(extractquotesfl(t, 2, out), 2);
    TokenList broken = tokenize("x=\"a b c");
    EXPECT_EQ(extractquotesfl(broken, 0, out), -1);
    EXPECT_TRUE(out.empty());
    std::string line;
    buildline(2, line, Args{"/X", "a", "b", "c"}, true);
    EXPECT_EQ(line, " b c");
}

}  // namespace
}  // namespace chat

namespace chat {
namespace {

TEST_F(ReadTest, ScriptSectionsLoadAndSaveKeepingTheRestOfTheFile) {
    Write("vesk.ini", "[Vesk]\nnick=keep\n[Variables]\nv0=%old 1\n[Text]\nquit=bye\n");
    Run(status, "/set -q %a one two");
    Run(status, "/set -q %b 3");
    EXPECT_TRUE(
        Says(status, "/save -v vesk.ini", "*** Saved variables to " + dir.string() + "/vesk.ini"));
    std::ifstream in(dir / "vesk.ini");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("nick=keep"), std::string::npos);
    EXPECT_NE(text.find("quit=bye"), std::string::npos);
    EXPECT_NE(text.find("v0=%a one two\nv1=%b 3\n"), std::string::npos);
    EXPECT_EQ(text.find("%old"), std::string::npos);

    Run(status, "/unsetall");
    EXPECT_TRUE(Says(status, "/load -v \"vesk.ini\"",
                     "*** Loaded variables from " + dir.string() + "/vesk.ini"));
    std::string v;
    ASSERT_TRUE(getvar("%a", v));
    EXPECT_EQ(v, "one two");

    Write("al.ini", "[Aliases]\nalias0=/hi /msg $1 hello\n");
    Run(status, "/load -a al.ini");
    EXPECT_EQ(Run(status, "/hi bob"), Lines{"PRIVMSG bob :hello"});

    EXPECT_TRUE(Says(status, "/load -v missing.ini",
                     "*** Unable to /load " + dir.string() + "/missing.ini"));
    EXPECT_TRUE(Says(status, "/load -v \"broken", "*** Invalid /load filename specified"));
    EXPECT_TRUE(Says(status, "/save -x f", "*** Invalid parameters"));
    EXPECT_TRUE(Says(status, "/save -v /nonexistent-folder/x.ini",
                     "*** Unable to /save to /nonexistent-folder/x.ini"));
}

}  // namespace
}  // namespace chat
