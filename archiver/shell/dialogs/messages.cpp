#include "archiver/shell/dialogs/messages.h"

#include "archiver/shell/terminal_text.h"
#include "platform/tui/widgets.h"

namespace dialogs {

const char* const kTitle = "Borvan";
const char* const kMsgNoArchive = "Choose \"New\" to create or \"Open\" to open an archive";
const char* const kMsgEngineBusy =
    "Another instance of Borvan is busy zipping or unzipping.  Please wait until this task is "
    "complete and re-try the operation";
const char* const kMsgWarningsIssued = "Warnings were issued.  View warnings and other messages?";
const char* const kMsgSpansDisks =
    "You cannot update this Zip file because it spans disks.  The Zip file format does not "
    "permit updating Zips that span disks. (You can replace this Zip by deleting it first.)";
const char* const kMsgSpanningAddOn =
    "The Borvan disk spanning add-on (or, if you prefer, the MS-DOS text mode PKZIP 2.04g "
    "program) is required for disk spanning";
const char* const kMsgArjPasswordSpace =
    "Spaces are not allowed in passwords when working with ARJ files";
const char* const kMsgPasswordHighChars =
    "Characters with ASCII values 128 or higher are not allowed in passwords";
const char* const kMsgPasswordMismatch = "The password you typed is incorrect";
const char* const kLabelReenterPassword = "&Please reenter your password:";
const char* const kPasswordVisibilityNote =
    "When an external program works on the archive, the password is passed on its command "
    "line, where other local users can see it.";

std::string NoLongerExistsText(const std::string& path) {
    return path + " no longer exists ... closing archive";
}

std::string MissingProgramText(const std::string& kind, const std::string& operation,
                               const std::string& program) {
    return "When working with " + kind + " files the \"" + operation +
           "\" operation requires the " + program +
           " external program.  This program is not installed or improperly installed";
}

int ShowMessage(const std::string& text, tui::MessageButtons buttons) {
    return tui::ShowMessageBox(kTitle, shell::TerminalSafe(text), buttons);
}

bool AskDefaultNo(const std::string& text) {
    tui::Dialog d = tui::MakeMessageBox(kTitle, shell::TerminalSafe(text),
                                        tui::MessageButtons::kYesNo, false, tui::GetScreen().cols);
    for (size_t i = 0; i < d.controls.size(); ++i) {
        tui::Control& c = d.controls[i];
        if (c.kind != tui::ControlKind::kButton) continue;
        c.is_default = c.id == tui::kIdNo;
        if (c.is_default) d.focus = i;
    }
    return tui::RunDialog(d) == tui::kIdYes;
}

}  // namespace dialogs
