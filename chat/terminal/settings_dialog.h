// The frame the Setup and Options dialogs share: a column of page buttons at the left, the
// page's controls beside it, and OK and Cancel at the bottom; settings pages laid out as check
// boxes, fields and radio rows, and read back.
#pragma once

#include <string>
#include <vector>

#include "chat/terminal/settings_pages.h"
#include "platform/tui/dialog_model.h"

namespace chat {

/// Control ids of the paged frame.
enum PagedDialogId : int {
    kIdFirstPage = 301,     ///< page n's button is kIdFirstPage + n - 1
    kIdFirstSetting = 400,  ///< setting i of the page is kIdFirstSetting + i
    kIdFirstChoice = 1000,  ///< choice k of setting i is kIdFirstChoice + 16 * i + k
};

/// Size of the frame's inner area and where a page's controls go.
constexpr int kPagedRows = 19;
constexpr int kPagedCols = 76;
constexpr int kPageLeft = 15;
constexpr int kPageWidth = kPagedCols - kPageLeft - 1;

/// A dialog with the page buttons, the current page's title line and OK and Cancel. Buttons
/// and list rows end it (with their id); check boxes and radios do not.
tui::Dialog MakePagedDialog(const std::string& title, const std::vector<std::string>& pages,
                            int page);
/// Lays a settings page out from `row` on; returns the row after it.
int AddSettings(tui::Dialog& d, const SettingsPage& page, const PageValues& values, int row);
/// Reads what the user set in the page's controls.
void ReadSettings(tui::Dialog& d, const SettingsPage& page, PageValues& values);
/// Puts the focus on the control with this id, else on the page's first control.
void FocusControl(tui::Dialog& d, int id);
/// The text of an edit field.
std::string FieldText(tui::Dialog& d, int id);

}  // namespace chat
