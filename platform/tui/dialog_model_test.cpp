#include "platform/tui/dialog_model.h"

#include <gtest/gtest.h>

#include "platform/tui/menu_model.h"
#include "platform/tui/text.h"

namespace tui {
namespace {

Dialog Sample() {
    Dialog d;
    d.title = "Join";
    d.Add(ControlKind::kLabel, -1, "&Channel:", 0, 0, 9);
    d.Add(ControlKind::kEdit, 10, "", 0, 10, 20);
    d.Add(ControlKind::kCheck, 11, "&Remember", 1, 0, 12);
    d.Add(ControlKind::kRadio, 12, "&Public", 2, 0, 10).group = 1;
    d.Add(ControlKind::kRadio, 13, "&Secret", 2, 12, 10).group = 1;
    d.Add(ControlKind::kButton, kIdOk, "OK", 4, 0, 6).is_default = true;
    d.Add(ControlKind::kButton, kIdCancel, "Cancel", 4, 8, 10).is_cancel = true;
    d.controls[3].checked = true;
    d.FocusFirst();
    return d;
}

TEST(DialogTest, TypingTabbingAndTheDefaultButton) {
    Dialog d = Sample();
    EXPECT_EQ(d.controls[d.focus].id, 10);
    for (char32_t c : std::u32string(U"#rust")) d.HandleKey(MakeKey(c));
    EXPECT_EQ(d.Find(10)->edit.text, U"#rust");
    d.HandleKey(MakeKey(kKeyTab));
    EXPECT_EQ(d.controls[d.focus].id, 11);
    d.HandleKey(MakeKey(U' '));
    EXPECT_TRUE(d.Find(11)->checked);
    d.HandleKey(MakeKey(kKeyTab, false, false, true));
    EXPECT_EQ(d.controls[d.focus].id, 10);
    EXPECT_EQ(d.HandleKey(MakeKey(kKeyEnter)), DialogEvent::kEnded);
    EXPECT_EQ(d.result, kIdOk);
}

TEST(DialogTest, LettersRadiosAndEscape) {
    Dialog d = Sample();
    d.HandleKey(MakeKey(U's', true));  // Alt+S selects "Secret"
    EXPECT_EQ(d.CheckedRadio(1), 13);
    d.HandleKey(MakeKey(kKeyUp));  // arrows move within the group
    EXPECT_EQ(d.CheckedRadio(1), 12);
    d.HandleKey(MakeKey(U'c', true));  // a label's letter focuses the field after it
    EXPECT_EQ(d.controls[d.focus].id, 10);
    d.HandleKey(MakeKey(U'r'));  // in a field a plain letter is text
    EXPECT_EQ(d.Find(10)->edit.text, U"r");
    EXPECT_FALSE(d.Find(11)->checked);
    EXPECT_EQ(d.HandleKey(MakeKey(kKeyEscape)), DialogEvent::kEnded);
    EXPECT_EQ(d.result, kIdCancel);
}

TEST(DialogTest, ClicksAndCommandHook) {
    Dialog d = Sample();
    int seen = 0;
    d.on_command = [&](Dialog&, int id) {
        seen = id;
        return id == kIdCancel;
    };
    EXPECT_EQ(d.Click(1, 3, false), DialogEvent::kChanged);
    EXPECT_EQ(seen, 11);
    EXPECT_TRUE(d.Find(11)->checked);
    EXPECT_EQ(d.Click(4, 2, false), DialogEvent::kChanged);  // OK refused by the hook
    EXPECT_EQ(d.result, -1);
    EXPECT_EQ(d.Click(4, 9, false), DialogEvent::kEnded);
    EXPECT_EQ(d.result, kIdCancel);
    EXPECT_EQ(d.Click(30, 30, false), DialogEvent::kEnded);  // an ended dialog stays ended
}

TEST(MessageBoxTest, ButtonsDefaultsAndHelp) {
    ASSERT_TRUE(EnsureUtf8Locale());
    Dialog yn = MakeMessageBox("Vesk Warning!", "Are you sure?\r\rReally?", MessageButtons::kYesNo,
                               false, 80);
    EXPECT_EQ(yn.HandleKey(MakeKey(kKeyEscape)), DialogEvent::kEnded);
    EXPECT_EQ(yn.result, kIdNo);
    yn = MakeMessageBox("t", "x", MessageButtons::kYesNoCancel, true, 80);
    EXPECT_EQ(yn.HandleKey(MakeKey(kKeyF1)), DialogEvent::kHelp);
    EXPECT_EQ(yn.HandleKey(MakeKey(U'h')), DialogEvent::kHelp);  // the Help button keeps the box
    EXPECT_EQ(yn.result, -1);
    EXPECT_EQ(yn.HandleKey(MakeKey(kKeyEnter)), DialogEvent::kHelp);  // Enter on the focused Help
    EXPECT_EQ(yn.HandleKey(MakeKey(U'y')), DialogEvent::kEnded);
    EXPECT_EQ(yn.result, kIdYes);
}

TEST(MessageBoxTest, LongTextWrapsToTheScreenAndAmpersandsStayLiteral) {
    ASSERT_TRUE(EnsureUtf8Locale());
    const std::string text(200, 'x');
    Dialog d = MakeMessageBox("T", text + " R&D", MessageButtons::kOk, false, 30);
    EXPECT_LE(d.cols, 30);
    int labels = 0;
    for (const Control& c : d.controls) labels += c.kind == ControlKind::kLabel;
    EXPECT_GE(labels, 8);
    EXPECT_EQ(MenuLabel(d.controls[labels - 1].text).find("R&D") != std::string::npos, true);
    EXPECT_EQ(d.HandleKey(MakeKey(U'd')), DialogEvent::kNone);  // "R&D" is not a letter
    EXPECT_EQ(d.HandleKey(MakeKey(kKeyEscape)), DialogEvent::kEnded);
    EXPECT_EQ(d.result, kIdOk);
}

}  // namespace
}  // namespace tui
