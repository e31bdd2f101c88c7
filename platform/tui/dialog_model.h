// Modal dialogs as data: labelled fields, check boxes, radio groups, lists and buttons, with
// focus, "&" letters, default and cancel buttons. Pure logic; dialog_view draws and runs it.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/tui/keys.h"
#include "platform/tui/line_editor.h"
#include "platform/tui/list_model.h"

namespace tui {

/// Button results shared with message boxes (the Windows values).
enum DialogId : int { kIdOk = 1, kIdCancel = 2, kIdYes = 6, kIdNo = 7, kIdHelp = 9 };

enum class ControlKind { kLabel, kEdit, kCheck, kRadio, kList, kButton };

/// One control at a position inside the dialog's frame (row and column from the top left of
/// the inner area).
struct Control {
    ControlKind kind = ControlKind::kLabel;
    int id = 0;
    std::string text;  // label, check box, radio or button text with "&"
    int row = 0, col = 0, width = 10, height = 1;
    bool enabled = true;
    LineEditor edit;                 // kEdit
    bool checked = false;            // kCheck, kRadio
    int group = 0;                   // kRadio: radios with the same group exclude each other
    ListModel list;                  // kList
    std::vector<std::string> items;  // kList rows (UTF-8)
    bool is_default = false;         // kButton: Enter anywhere presses it
    bool is_cancel = false;          // kButton: Escape presses it
    bool password = false;           // kEdit: shown as '*'
};

/// What a key or click did.
enum class DialogEvent { kNone, kChanged, kEnded, kHelp };

/// A dialog: title, size of the inner area, controls and focus; `result` is set when it ends.
struct Dialog {
    std::string title;
    int rows = 5, cols = 30;
    std::vector<Control> controls;
    size_t focus = 0;
    int result = -1;
    /// Called when a button is pressed, a check box or radio changes, or a list row is
    /// activated: return true to end the dialog with that control's id. Without it a button
    /// ends the dialog and nothing else does.
    std::function<bool(Dialog&, int id)> on_command;
    /// Called after a key changed the text of an edit control (not its cursor alone).
    std::function<void(Dialog&, int id)> on_edit;

    /// Adds a control and returns it (the reference is valid until the next Add).
    Control& Add(ControlKind kind, int id, std::string text, int row, int col, int width,
                 int height = 1);
    Control* Find(int id);
    /// The id of the checked radio of a group, or 0.
    int CheckedRadio(int group) const;
    /// Puts the focus on the first control that can take it.
    void FocusFirst();
    /// True when control i can take the focus.
    bool Focusable(size_t i) const;
    DialogEvent HandleKey(const Key& key);
    /// A click at a cell of the inner area.
    DialogEvent Click(int row, int col, bool double_click);
    /// Ends the dialog as if the button (or any control) with this id were pressed.
    DialogEvent Press(int id);

private:
    void MoveFocus(int dir);
    DialogEvent Command(size_t index);
    DialogEvent ByLetter(char32_t letter);
    void SelectRadio(size_t index);
};

/// Buttons of a message box.
enum class MessageButtons { kOk, kOkCancel, kYesNo, kYesNoCancel };

/// A message box: the text wrapped to fit `screen_cols` (at most 60 columns wide), the buttons
/// centred below, and a "&Help" button when `help` is set. The first button is the default;
/// Escape means Cancel (or No for Yes/No, or OK for OK alone).
Dialog MakeMessageBox(const std::string& title, const std::string& text, MessageButtons buttons,
                      bool help, int screen_cols);

}  // namespace tui
