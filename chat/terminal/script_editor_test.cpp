#include "chat/terminal/script_editor.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

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

}  // namespace
}  // namespace chat
