#include "chat/script/script_editors.h"

#include <filesystem>

#include "chat/core/options.h"
#include "chat/script/script_fixture.h"

namespace chat {
namespace {

using Lines = std::vector<std::string>;

class ScriptEditorTest : public ScriptTest {
protected:
    void SetUp() override {
        ScriptTest::SetUp();
        std::string dir = ::testing::TempDir() + "vesk-editors/";
        std::filesystem::create_directories(dir);
        Options().szINI = dir + "vesk.ini";
        std::filesystem::remove(Options().szINI);
    }
    static Lines Texts(const LineList& list) {
        Lines out;
        for (const Line& l : list) out.push_back(l.text);
        return out;
    }
};

TEST_F(ScriptEditorTest, RemoteTextRoundTrip) {
    aline(Script().szusers, "5,10:bob", false);
    aline(Script().szevents, "#games disabled", false);
    aline(Script().szevents, "1:on text:*:*:/msg $nick hi", false);
    Lines text = RemoteText();
    EXPECT_EQ(text, (Lines{"[Users]", "5,10:bob", "", "[Variables]", "", "[Commands]", "",
                           "[Events]", "#games disabled", "1:on text:*:*:/msg $nick hi", ""}));
    std::string error;
    text.insert(text.begin() + 5, "%x 1");
    ASSERT_TRUE(ApplyRemoteText(text, error)) << error;
    EXPECT_EQ(Texts(Script().szvars), Lines{"%x 1"});
    EXPECT_EQ(Texts(Script().szevents), (Lines{"#games disabled", "1:on text:*:*:/msg $nick hi"}));
    EXPECT_TRUE(Script().rchanged);
}

TEST_F(ScriptEditorTest, NothingChangesOnAFaultyText) {
    aline(Script().szusers, "5:bob", false);
    struct Case {
        Lines text;
        const char* error;
    };
    const Case cases[] = {
        {{"1:carol", "[Users]"}, "Line 1 comes before the first list header; nothing was changed."},
        {{"[Users]", "1:x", "[Popups]"}, "Line 3: unknown list [Popups]; nothing was changed."},
        {{"[Users]", "1:" + std::string(700, 'x')},
         "Line 2 is longer than 699 characters; nothing was changed."},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_FALSE(ApplyRemoteText(c.text, error));
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(Texts(Script().szusers), Lines{"5:bob"});
    }
}

TEST_F(ScriptEditorTest, AliasEditorKeepsEveryDefinition) {
    for (int i = 0; i < 150; ++i)
        aline(Script().szals, "/a" + std::to_string(i) + " /echo " + std::string(600, 'y'), false);
    Lines seen;
    std::string title;
    Script().hooks.edit_lines = [&](const std::string& t,
                                    const Lines& lines) -> std::optional<Lines> {
        title = t;
        seen = lines;
        Lines edited = lines;
        edited.push_back("");
        edited.push_back("/new /echo new");
        return edited;
    };
    ASSERT_TRUE(EditAliases());
    EXPECT_EQ(title, "Vesk Aliases: 150 entries");
    EXPECT_EQ(seen.size(), 150u);  // far beyond what a 59000-character box would show
    EXPECT_EQ(Script().szals.size(), 151u);
    EXPECT_EQ(Script().szals.back().text, "/new /echo new");
    // Cancelled: nothing changes.
    Script().hooks.edit_lines = [](const std::string&, const Lines&) -> std::optional<Lines> {
        return std::nullopt;
    };
    EXPECT_FALSE(EditAliases());
    EXPECT_EQ(Script().szals.size(), 151u);
    // Without an editor the user is told what to use instead.
    Script().hooks.edit_lines = nullptr;
    EXPECT_FALSE(EditRemote());
    EXPECT_TRUE(
        Printed("*** The script editors need a terminal; use /alias, /auser, /load and /save"));
}

}  // namespace
}  // namespace chat
