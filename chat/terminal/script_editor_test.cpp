#include "chat/terminal/script_editor.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "chat/core/options.h"

namespace chat {
namespace {

using Lines = std::vector<std::string>;

// Runs the external editor with $VISUAL set to a command of the test's own.
std::optional<Lines> EditWith(const std::string& command, const Lines& lines) {
    ::setenv("VISUAL", command.c_str(), 1);
    auto result = EditLinesExternally("test", lines);
    ::unsetenv("VISUAL");
    return result;
}

TEST(ExternalEditor, LinesGoOutAndComeBackWhole) {
    std::string long_line(5000, 'z');
    auto same = EditWith("true", {"/a /echo a", "", long_line, "$me | %x"});
    ASSERT_TRUE(same.has_value());
    EXPECT_EQ(*same, (Lines{"/a /echo a", "", long_line, "$me | %x"}));

    auto changed = EditWith("sed -i -e 's/a/b/' -e '$a /new'", {"/a x"});
    ASSERT_TRUE(changed.has_value());
    EXPECT_EQ(*changed, (Lines{"/b x", "/new"}));

    // A failing editor (or one that cannot start) changes nothing.
    EXPECT_FALSE(EditWith("false", {"x"}).has_value());
    EXPECT_FALSE(EditWith("/no/such/editor", {"x"}).has_value());
}

TEST(ExternalEditor, TheFileIsPrivateAndRemoved) {
    std::string record = ::testing::TempDir() + "vesk-editor-record";
    // The "editor" notes the file's name and mode.
    auto r = EditWith("stat -c '%a %n' > " + record, {"secret"});
    ASSERT_TRUE(r.has_value());
    std::ifstream in(record);
    std::string mode, path;
    in >> mode >> path;
    EXPECT_EQ(mode, "600");
    EXPECT_FALSE(std::ifstream(path).good());
}

TEST(ExternalEditor, EditorCommandFallsBack) {
    ::unsetenv("VISUAL");
    ::setenv("EDITOR", "nano", 1);
    EXPECT_EQ(EditorCommand(), "nano");
    ::unsetenv("EDITOR");
    EXPECT_EQ(EditorCommand(), "vi");
}

TEST(ScriptText, LimitsAreReportedNotCut) {
    struct Case {
        Lines lines;
        ScriptTextLimits limits;
        std::string problem;  // empty: the lines fit
    };
    const std::string line699(699, 'a'), line700(700, 'a');
    const std::vector<Case> cases = {
        {{line699, "b"}, {0, 699}, ""},
        {{"a", line700}, {0, 699}, "Line 2 is longer than 699 characters: shorten or split it"},
        {{line700}, {}, ""},
        {{"a", "", "b", ""}, {2, 0}, ""},  // empty lines are not kept, so they do not count
        {{"a", "b", "c"}, {2, 0}, "This list holds at most 2 lines; it has 3: remove 1"},
    };
    for (const Case& c : cases) EXPECT_EQ(ScriptTextProblem(c.lines, c.limits), c.problem);
    // A check of the lines' meaning runs once they fit.
    auto check = [](const Lines& l) { return l.size() > 1 ? std::string("one only") : ""; };
    EXPECT_EQ(ScriptTextProblem({"a"}, {}, check), "");
    EXPECT_EQ(ScriptTextProblem({"a", "b"}, {}, check), "one only");
    EXPECT_EQ(ScriptTextProblem({"a", line700}, {0, 699}, check),
              "Line 2 is longer than 699 characters: shorten or split it");
}

TEST(ScriptText, ExternalEditorChosenBySetting) {
    Options().external_editor = 1;
    ::setenv("VISUAL", "sed -i -e '$a /added'", 1);
    auto edited = EditScriptText("t", {"/a x"}, {0, 699});
    ASSERT_TRUE(edited.has_value());
    EXPECT_EQ(*edited, (Lines{"/a x", "/added"}));
    // Too long a line comes back to the user; with nobody to ask, nothing changes.
    ::setenv("VISUAL", ("sed -i -e '$a " + std::string(800, 'z') + "'").c_str(), 1);
    EXPECT_FALSE(EditScriptText("t", {"/a x"}, {0, 699}).has_value());
    ::unsetenv("VISUAL");
    // The built-in editor needs the screen: without one nothing is edited.
    Options().external_editor = 0;
    EXPECT_FALSE(EditScriptText("t", {"/a x"}).has_value());
}

}  // namespace
}  // namespace chat
