// The archive manager's own message texts and the box that shows them.
#pragma once

#include <string>

#include "platform/tui/dialog_model.h"

namespace dialogs {

/// Title of the manager's message boxes.
extern const char* const kTitle;

/// The status line with no archive open.
extern const char* const kMsgNoArchive;
/// A second engine run while one is active.
extern const char* const kMsgEngineBusy;
/// After a run that issued warnings (Yes shows the operation log).
extern const char* const kMsgWarningsIssued;
/// Adding to or deleting from an archive that spans disks.
extern const char* const kMsgSpansDisks;
/// A request that needs the disk-spanning add-on.
extern const char* const kMsgSpanningAddOn;
/// Password refusals.
extern const char* const kMsgArjPasswordSpace;
extern const char* const kMsgPasswordHighChars;
extern const char* const kMsgPasswordMismatch;
/// Label of the confirming password prompt.
extern const char* const kLabelReenterPassword;
/// A password on an external program's command line.
extern const char* const kPasswordVisibilityNote;

/// "%s no longer exists ... closing archive" for `path`.
std::string NoLongerExistsText(const std::string& path);
/// A kind's operation that needs an external program that is not installed.
std::string MissingProgramText(const std::string& kind, const std::string& operation,
                               const std::string& program);

/// Shows a message box titled kTitle with `text` made safe for the terminal.
int ShowMessage(const std::string& text, tui::MessageButtons buttons = tui::MessageButtons::kOk);
/// Asks a Yes/No question whose default (Enter, and the focus) is No; true only for Yes.
bool AskDefaultNo(const std::string& text);

}  // namespace dialogs
