// The popup editor: the four popup definitions edited one at a time in the same editor as the
// aliases, their switches, loading and saving the popups file, and Cancel putting everything
// back as it was.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "chat/script/popup_menus.h"

namespace chat {

/// The lines of a popup definition as the editor gets them.
std::vector<std::string> PopupLines(PopupKind kind);
/// Takes edited lines into a definition: empty lines skipped, at most 300 kept. Returns how
/// many lines were left out (the caller tells the user).
size_t TakePopupLines(PopupKind kind, const std::vector<std::string>& lines);
/// The switch of a definition (its menu is offered only while it is on).
bool PopupSwitch(PopupKind kind);
void SetPopupSwitch(PopupKind kind, bool on);
/// Opens the editor on one definition; false when no editor could run or nothing came back.
/// A cut at 300 lines is said in a message box.
bool EditPopupList(PopupKind kind);
/// Reads the popups from another file, which becomes the popups file; false when unreadable.
bool LoadPopupsFrom(const std::string& path);
/// Writes the popups to a file, which becomes the popups file; false when it failed.
bool SavePopupsTo(const std::string& path);

/// The front end's popup editor dialog; true for OK. Empty where none can be shown.
using PopupDialogFn = std::function<bool()>;
PopupDialogFn& PopupEditorDialog();
/// Frame command 108: the dialog; OK saves the popups file, Cancel restores the four lists,
/// their switches and the file as they were.
void RunPopupEditor();

}  // namespace chat
