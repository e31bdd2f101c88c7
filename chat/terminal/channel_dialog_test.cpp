#include "chat/terminal/channel_dialog.h"

#include <gtest/gtest.h>

#include "platform/tui/text.h"

namespace chat {
namespace {

ChannelDialog Shown(bool op, bool locked) {
    ChannelDialog d;
    d.channel = "#r";
    d.bans = {"a!*@*", "b\x02!*@*"};
    d.topic = "the topic";
    d.operator_ = op;
    d.topic_locked = locked;
    d.key_on = true;
    d.key = "sesame";
    d.modes[1] = true;
    return d;
}

// Which controls can be used follows our status in the channel.
TEST(ChannelCentral, ControlsFollowOperatorStatusAndTopicLock) {
    struct Case {
        bool op, locked;
        bool topic, boxes, unban, apply;
    } cases[] = {
        {true, false, true, true, true, true},
        {false, false, true, false, false, true},
        {false, true, false, false, false, false},
    };
    for (const Case& c : cases) {
        tui::Dialog dlg = MakeChannelCentral(Shown(c.op, c.locked));
        bool topic = false, boxes = true, unban = false, apply = false;
        for (const tui::Control& control : dlg.controls) {
            if (control.kind == tui::ControlKind::kCheck) boxes = boxes && control.enabled;
            if (control.text == "&Unban") unban = control.enabled;
            if (control.text == " &Apply Changes") apply = control.enabled;
            if (control.kind == tui::ControlKind::kEdit && control.edit.text == U"the topic")
                topic = control.enabled;
        }
        EXPECT_EQ(topic, c.topic) << c.op << c.locked;
        EXPECT_EQ(boxes, c.boxes) << c.op << c.locked;
        EXPECT_EQ(unban, c.unban) << c.op << c.locked;
        EXPECT_EQ(apply, c.apply) << c.op << c.locked;
    }
}

TEST(ChannelCentral, EditedDialogTakesFieldsBoxesAndChosenBans) {
    const ChannelDialog shown = Shown(true, false);
    tui::Dialog dlg = MakeChannelCentral(shown);
    for (tui::Control& c : dlg.controls) {
        if (c.kind == tui::ControlKind::kEdit && c.edit.text == U"the topic")
            c.edit.SetText(U"new");
        if (c.text == "&Moderated" || c.text == "&Key:") c.checked = !c.checked;
        if (c.text == "&Limited to:") c.checked = true;
        if (c.kind == tui::ControlKind::kList) c.list.Toggle(1);
    }
    for (tui::Control& c : dlg.controls)
        if (c.kind == tui::ControlKind::kEdit && c.edit.text.empty()) c.edit.SetText(U"12");
    const ChannelDialog edited = EditedChannelDialog(shown, dlg);
    EXPECT_EQ(edited.topic, "new");
    EXPECT_TRUE(edited.modes[3]);
    EXPECT_TRUE(edited.modes[1]);
    EXPECT_FALSE(edited.key_on);
    EXPECT_EQ(edited.key, "sesame");
    EXPECT_TRUE(edited.limit_on);
    EXPECT_EQ(edited.limit, "12");
    // The row shows the mask without its control code.
    EXPECT_EQ(ChosenBans(dlg), std::vector<std::string>{"b!*@*"});
}

}  // namespace
}  // namespace chat
