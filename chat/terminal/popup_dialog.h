// The popup editor on a terminal: which of the four menus, its switch, its lines at a glance,
// Edit (the script editor), and the popups file with Load and Save.
#pragma once

#include "chat/lists/popup_editor.h"
#include "platform/tui/dialog_model.h"

namespace chat {

/// The dialog's controls with the status popup chosen.
tui::Dialog MakePopupDialog();
/// Shows the chosen definition (`kind`): its switch, its lines and their count.
void ShowPopupList(tui::Dialog& d, PopupKind kind);
/// Runs the dialog; true for OK.
bool RunPopupDialog();

}  // namespace chat
