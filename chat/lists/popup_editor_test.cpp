#include "chat/lists/popup_editor.h"

#include <cstdio>

#include "chat/core/frame.h"
#include "chat/core/options.h"
#include "chat/lists/lists_fixture.h"
#include "chat/script/script_state.h"

namespace chat {
namespace {

class PopupEditorTest : public ListsTest {
protected:
    void SetUp() override {
        ListsTest::SetUp();
        ResetPopups();
        file = ::testing::TempDir() + "popup_editor_test.ini";
        std::remove(file.c_str());
        Script().pfile = file;
        CurrentFrontend().message_box = [this](const std::string&, const std::string& text) {
            boxes.push_back(text);
        };
    }
    void TearDown() override {
        PopupEditorDialog() = nullptr;
        Script().hooks.edit_lines = nullptr;
        ResetPopups();
        std::remove(file.c_str());
        ListsTest::TearDown();
    }
    std::string file;
    std::vector<std::string> boxes;
};

TEST_F(PopupEditorTest, EditedLinesSkipBlanksAndKeepThreeHundredSayingSo) {
    struct Case {
        size_t lines;
        size_t blanks;
        size_t kept;
        const char* told;
    } cases[] = {
        {3, 2, 3, nullptr},
        {300, 5, 300, nullptr},
        {301, 0, 300, "A popup menu keeps 300 lines: the last 1 line was left out"},
        {310, 1, 300, "A popup menu keeps 300 lines: the last 10 lines were left out"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> edited;
        for (size_t i = 0; i < c.blanks; ++i) edited.push_back(i % 2 ? "  " : "");
        for (size_t i = 0; i < c.lines; ++i)
            edited.push_back("Item" + std::to_string(i) + ":/echo");
        std::vector<std::string> given;
        Script().hooks.edit_lines = [&](const std::string&, const std::vector<std::string>& l) {
            given = l;
            return std::optional<std::vector<std::string>>(edited);
        };
        boxes.clear();
        PopupList(PopupKind::kNickList) = LineList{};
        aline(PopupList(PopupKind::kNickList), "Old:/echo old", false);
        ASSERT_TRUE(EditPopupList(PopupKind::kNickList));
        EXPECT_EQ(given, std::vector<std::string>{"Old:/echo old"});
        EXPECT_EQ(PopupList(PopupKind::kNickList).size(), c.kept) << c.lines;
        EXPECT_EQ(PopupList(PopupKind::kNickList).front().text, "Item0:/echo");
        EXPECT_EQ(boxes.size(), c.told ? 1u : 0u) << c.lines;
        if (c.told && !boxes.empty()) {
            EXPECT_EQ(boxes[0], c.told);
        }
    }
    // An editor that gives nothing back changes nothing.
    Script().hooks.edit_lines = [](const std::string&, const std::vector<std::string>&) {
        return std::optional<std::vector<std::string>>();
    };
    EXPECT_FALSE(EditPopupList(PopupKind::kNickList));
    EXPECT_EQ(PopupList(PopupKind::kNickList).size(), 300u);
}

TEST_F(PopupEditorTest, OkSavesTheFileAndCancelPutsEverythingBack) {
    aline(PopupList(PopupKind::kStatus), "Hi:/echo hi", false);
    Options().bp = 1;
    bool answer = false;
    PopupEditorDialog() = [&answer] {
        aline(PopupList(PopupKind::kStatus), "More:/echo more", false);
        SetPopupSwitch(PopupKind::kBar, false);
        return answer;
    };
    RunFrameCommand(kCmdPopups);
    EXPECT_EQ(PopupLines(PopupKind::kStatus), std::vector<std::string>{"Hi:/echo hi"});
    EXPECT_TRUE(PopupSwitch(PopupKind::kBar));
    std::FILE* f = std::fopen(file.c_str(), "r");
    EXPECT_EQ(f, nullptr);  // Cancel wrote nothing
    if (f) std::fclose(f);
    answer = true;
    RunFrameCommand(kCmdPopups);
    EXPECT_FALSE(PopupSwitch(PopupKind::kBar));
    ResetPopups();
    ASSERT_TRUE(LoadPopupsFrom(file));
    EXPECT_EQ(PopupLines(PopupKind::kStatus),
              (std::vector<std::string>{"Hi:/echo hi", "More:/echo more"}));
    EXPECT_FALSE(LoadPopupsFrom(file + ".missing"));
    EXPECT_EQ(Script().pfile, file);
}

}  // namespace
}  // namespace chat
