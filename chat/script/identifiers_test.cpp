#include "chat/script/identifiers.h"

#include <cstdlib>
#include <ctime>

#include "chat/script/script_fixture.h"
#include "chat/script/variables.h"

namespace chat {
namespace {

struct Case {
    const char* expression;
    const char* params;
    const char* expected;  ///< the line sent, or null when the line is abandoned
};

class IdentifierTest : public ScriptTest {
protected:
    void SetUp() override {
        ScriptTest::SetUp();
        ::setenv("TZ", "UTC", 1);
        ::tzset();
    }
    /// Evaluates an expression behind "/raw -q X" with parameters; the sent line or "<none>".
    std::string Eval(WindowId w, const std::string& expression, const std::string& params) {
        std::string line = "/raw -q X " + expression;
        if (*params.c_str()) line += ":$:" + params;
        Lines out = Run(w, line, params.empty() ? 1 : 2);
        return out.empty() ? "<none>" : out[0];
    }
    using Lines = std::vector<std::string>;
};

TEST_F(IdentifierTest, ParametersRangesAndPrefixes) {
    const Case cases[] = {
        {"$1 end", "", "X end"},
        {"$$1 end", "", nullptr},
        {"#$1", "help", "X #help"},
        {"#$1", "#a", "X #a"},
        {"&$1", "help", "X &help"},
        {"#$1", "&a", "X &a"},
        {"$1.", "a", "X a."},
        {"$2-3", "a b c", "X b"},
        {"$1-", "a", "X a-"},
        {"$3", "a b", "X"},
        {"*2-3", "a b c d", "X b c"},
        {"*1", "a b c", "X a b c"},
        {"*2-", "a b c", "X b c"},
        {"*0", "a", "X"},
        {"*", "a", "X *"},
        {"*wave*", "a", "X *wave*"},
        {"$", "", "X $"},
        {"$$", "", "X $$"},
        {"#$ y", "", "X y"},
        {"$!me", "", "X $me"},
        {"$$!me", "", "X $$me"},
        {"$unknown", "", "X $unknown"},
        {"a $+ b", "", "X ab"},
        {"$1 $+ .txt", "file", "X file.txt"},
        {"a $+ $+ b", "", "X ab"},
        {"a $+", "", "X a"},
        {"$1 $+ b", "", "X b"},
        {"(#$1) $+ x", "c", "X (#$1)x"},
    };
    for (const Case& c : cases) {
        std::string want = c.expected ? c.expected : "<none>";
        EXPECT_EQ(Eval(status, c.expression, c.params), want) << c.expression;
    }
}

TEST_F(IdentifierTest, ValuesOfTheBuiltInIdentifiers) {
    wall = 850000000;  // Saturday 7 December 1996, 23:06:40
    const Case cases[] = {
        {"$time", "", "X 23:06:40"},  {"$timer", "", "X 23:06:40r"}, {"$date", "", "X 7/12/96"},
        {"$adate", "", "X 12/07/96"}, {"$day", "", "X Saturday"},    {"$me", "", "X me"},
        {"$meow", "", "X meow"},      {"$ip", "", "X [unknown]"},    {"$server", "", "X [unknown]"},
        {"$r(1,6)", "", "X 1"},       {"$r(5,2)", "", "X 5"},        {"$r(a,z)", "", "X a"},
        {"$r(z,a) y", "", "X y"},     {"$r(A,z) y", "", "X y"},      {"$pnick y", "", "X y"},
        {"$$pnick y", "", nullptr},
    };
    for (const Case& c : cases) {
        std::string want = c.expected ? c.expected : "<none>";
        EXPECT_EQ(Eval(status, c.expression, c.params), want) << c.expression;
    }
    // Commands split their arguments at blanks, so the padded day shows directly.
    EXPECT_EQ(rfulldate(), "Sat Dec  7 23:06:40 1996");
    wall = 946803903;  // Sunday 2 January 2000, 09:05:03
    EXPECT_EQ(Eval(status, "$time $date", ""), "X 9:05:03 2/01/100");
}

TEST_F(IdentifierTest, ChannelShorthandAndPrompts) {
    WindowId chan = Channel("#room");
    EXPECT_EQ(Eval(chan, "#", ""), "X #room");
    EXPECT_EQ(Eval(status, "#", ""), "<none>");
    EXPECT_EQ(Eval(status, "#a", ""), "X #a");

    std::vector<std::string> titles;
    std::optional<std::string> answer = "typed";
    Script().hooks.prompt = [&](const std::string& title) {
        titles.push_back(title);
        return answer;
    };
    EXPECT_EQ(Eval(status, "$?1", "given"), "X given");
    EXPECT_TRUE(titles.empty());
    EXPECT_EQ(Eval(status, "$?=\"Your name?\" then $!", ""), "X typed then typed");
    EXPECT_EQ(titles.back(), "Your name?");
    EXPECT_EQ(Eval(chan, "$?#", ""), "X #room");
    EXPECT_EQ(Eval(status, "#$?#", ""), "X #typed");
    EXPECT_EQ(titles.back(), "Enter channel name:");
    answer = std::nullopt;
    EXPECT_EQ(Eval(status, "$?=\"t\" y", ""), "X y");
    EXPECT_EQ(Eval(status, "$$?=\"t\" y", ""), "<none>");
    answer = "";
    EXPECT_EQ(Eval(status, "$$?=\"t\" y", ""), "<none>");
    // Without a dialog the line is abandoned with the system's message.
    Script().hooks.prompt = nullptr;
    EXPECT_EQ(Eval(status, "$? y", ""), "<none>");
    EXPECT_EQ(boxes.back(), "Unable to display dialog");
}

TEST_F(IdentifierTest, VariablesKeepBlanksAndUnknownOnesAbandon) {
    SetVar("%x two  words");
    std::string value;
    ASSERT_TRUE(getvar("%X", value));
    EXPECT_EQ(value, "two  words");
    EXPECT_EQ(Eval(status, "%x", ""), "X two words");
    EXPECT_EQ(Eval(status, "%nothing", ""), "<none>");
    EXPECT_EQ(Eval(status, "% alone", ""), "X % alone");
    SetVar("%blank    ");
    EXPECT_EQ(Eval(status, "%blank", ""), "<none>");
}

TEST_F(IdentifierTest, SetIncAndDecChangeTheStore) {
    EXPECT_TRUE(Says(status, "/set %n 5", "*** Set %n to 5"));
    EXPECT_TRUE(Says(status, "/inc %n 10", "*** Inc %n to 15"));
    Run(status, "/dec -q %n");
    EXPECT_TRUE(shown.empty());
    std::string v;
    ASSERT_TRUE(getvar("%n", v));
    EXPECT_EQ(v, "14");
    EXPECT_TRUE(Says(status, "/inc %fresh", "*** Inc %fresh to 1"));
    Run(status, "/set %word abc");
    Run(status, "/inc %word");
    EXPECT_TRUE(shown.empty());
    // Duplicates left in a loaded file are folded into the first.
    SetVar("%n 99");
    Run(status, "/set %N 1");
    int count = 0;
    for (const Line& l : Script().szvars)
        count += l.text.starts_with("%n ") || l.text.starts_with("%N ");
    EXPECT_EQ(count, 1);
    EXPECT_TRUE(Says(status, "/unset %n %word", "*** Unset %n"));
    EXPECT_FALSE(getvar("%word", v));
    EXPECT_TRUE(Script().rchanged);
    Run(status, "/unsetall");
    EXPECT_TRUE(Script().szvars.empty());
    EXPECT_TRUE(isnumber("") && isnumber("-12") && !isnumber("1.5"));
}

}  // namespace
}  // namespace chat

namespace chat {
namespace {

TEST_F(IdentifierTest, DeferredDdeAndFileSelections) {
    std::vector<std::string> asked;
    Script().hooks.dde_request = [&](const std::string& s, const std::string& t,
                                     const std::string& i) {
        asked.push_back(s + "/" + t + "/" + i);
        return std::string("answer");
    };
    EXPECT_EQ(Eval(status, "$dde svc topic item tail", ""), "X answer tail");
    EXPECT_EQ(asked.back(), "svc/topic/item");
    EXPECT_EQ(Eval(status, "$dde svc topic", ""), "X");
    EXPECT_EQ(Eval(status, "$$dde svc", ""), "<none>");

    std::string seen;
    Script().hooks.select_file = [&](const std::string& kind, const std::string& title,
                                     const std::string& pattern) -> std::optional<std::string> {
        seen = kind + "|" + title + "|" + pattern;
        return std::string("/Home/Me/Notes.TXT");
    };
    // The chosen path keeps its case.
    EXPECT_EQ(Eval(status, "$file=\"Pick one\" /data/*.txt end", ""), "X /Home/Me/Notes.TXT end");
    EXPECT_EQ(seen, "file|Pick one|/data/*.txt");
    Options().szPATH = "/cfg/";
    EXPECT_EQ(Eval(status, "$dir", ""), "X /Home/Me/Notes.TXT");
    EXPECT_EQ(seen, "dir|Vesk Select file|/cfg/*");
    Script().hooks.select_file = nullptr;
    EXPECT_EQ(Eval(status, "$$hfile", ""), "<none>");
}

}  // namespace
}  // namespace chat
