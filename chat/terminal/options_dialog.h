// The Options dialog of the terminal (File > Options, Alt+O; DCC > Options opens its DCC
// page): the switches of section "Options" with readable labels, the flood guard, logging,
// the finger responder and every DCC option.
#pragma once

#include <vector>

#include "chat/terminal/settings_pages.h"

namespace chat {

/// The Options dialog's pages (1-based).
enum OptionsPage : int {
    kOptionsGeneral = 1,
    kOptionsDisplay,
    kOptionsAlarms,
    kOptionsFlood,
    kOptionsLogging,
    kOptionsFinger,
    kOptionsDcc,
    kOptionsOther,
};
constexpr int kOptionsPages = 8;

/// The settings of each page (index page - 1).
const std::vector<SettingsPage>& OptionsPages();

/// What the Options dialog edits, as loaded and as edited (index page - 1).
struct OptionsState {
    std::vector<PageValues> before, values;
};
/// The state from the settings in force (the flood guard from the connection).
OptionsState LoadOptions();
/// The first problem of any page: its page (0 when all is well), setting and message.
using OptionsProblem = PagesProblem;
OptionsProblem CheckOptions(OptionsState& state);
/// Writes what changed and puts it into effect (the flood guard, the log folder, the finger
/// responder started or stopped). False when the settings file could not be written.
bool SaveOptions(const OptionsState& state);

/// Runs the Options dialog on a page; 0 opens the page shown last.
void RunOptionsDialog(int page);

}  // namespace chat
