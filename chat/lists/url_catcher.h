// The URL catcher: every printed line is scanned for web and file-server addresses, each new
// one joins the URL list, which the "URL List" window shows and the settings file keeps; from
// there an address opens in the user's browser.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "chat/core/frontend.h"
#include "chat/core/windows/line_list.h"
#include "chat/script/popup_menus.h"

namespace chat {

/// Addresses this long or longer end the scan of a line.
constexpr size_t kMaxUrl = 256;

/// The URL list and its settings.
struct UrlState {
    /// Entries "%c:%sURL:%s": marker, description, address.
    LineList szurl;
    /// The browser program; "unknown" when none is known.
    std::string szWWWL = "unknown";
    /// The toolbar's new-URL mark.
    bool mark = false;
    /// Starts the browser (argument vector); empty uses the program starter.
    std::function<bool(const std::vector<std::string>& argv)> start;
};

/// The URL state.
UrlState& Urls();
/// A fresh state (tests).
void ResetUrls();

/// Scans one printed line and adds the new addresses (when catching is on).
void ExtractURL(std::string_view text);
/// The first entry with that address (case ignored; also compared after its "://"); with
/// `whole` the entry's text from "URL:" on is compared. end() when none.
LineIter FindURL(std::string_view address, bool whole);
/// The window row of an entry: " %c\t%s\tURL:%s".
std::string UrlRow(std::string_view entry);
/// The address of an entry (after "URL:").
std::string UrlAddress(std::string_view entry);
/// The rows of the URL window in their order ("?" rows first or last by the option).
std::vector<std::string> UrlRows();
/// Rebuilds the window's rows when it is open.
void FillURLwindow();
/// Restores or makes the "URL List" window; clears the new-URL mark.
void ShowURLwindow();
/// Closes the URL window when open.
void HideURLwindow();
/// Removes the entries marked "?".
void DeleteCaughtUrls();
/// True for an address this program hands to a browser: http, https, ftp and gopher
/// addresses, and those that begin "www.".
bool OpenableUrl(std::string_view address);
/// Opens an address in the browser (argument vector, never a shell); false when refused or
/// the browser could not be started (reported).
bool OpenURL(std::string_view address);
/// The URL window's popup menu: delete the caught entries; open, edit or re-mark each entry;
/// add an entry; re-mark every entry at once.
constexpr int kUrlPopupDelete = 2439;
constexpr int kUrlPopupFirstOpen = 2440;
/// Entries the URL window's popup menu offers to open, edit or re-mark.
constexpr size_t kMaxUrlPopupEntries = 200;
constexpr int kUrlPopupAdd = kUrlPopupFirstOpen + static_cast<int>(kMaxUrlPopupEntries);
constexpr int kUrlPopupFirstEdit = kUrlPopupAdd + 1;
constexpr int kUrlPopupFirstMarker = kUrlPopupFirstEdit + static_cast<int>(kMaxUrlPopupEntries);
constexpr int kUrlPopupMarkAll = kUrlPopupFirstMarker + static_cast<int>(kMaxUrlPopupEntries);

/// What the URL entry dialog shows and gives back. With `marker_only` only the marker can be
/// changed (several entries at once, or a marker change of one).
struct UrlEdit {
    std::string title;  ///< "Vesk Add URL", "Vesk Edit URL" or "Vesk Change URL Marker"
    std::string description;
    std::string address;
    std::string marker;  ///< one character
    bool marker_only = false;
};
/// Which field keeps the dialog from taking its values: 0 none, 1 the description, 2 the
/// address, 3 the marker. Each must be there, the marker one character; a description that
/// holds "URL:" or a control character, or an address with a blank or a control character,
/// would not survive the entry's stored form.
int UrlEditProblem(const UrlEdit& edit);
/// Asks the browser for the page it shows: the address and the title, or nothing when no
/// browser answers.
std::optional<std::pair<std::string, std::string>> BrowserPage();
/// The URL entry dialog: the values taken, or nothing for Cancel.
using UrlDialogFn = std::function<std::optional<UrlEdit>(const UrlEdit& start)>;
/// The dialog the front end installed; empty where none can be shown.
UrlDialogFn& UrlEntryDialog();
/// Adds an entry through the dialog and saves the list.
void AddUrlEntry();
/// Edits entry `index` (list order) through the dialog and saves the list.
void EditUrlEntry(size_t index);
/// Changes the marker of the entries at `indices` (list order) through the dialog.
void ChangeUrlMarkers(const std::vector<size_t>& indices);
/// Offers to set the browser program after it could not be started; true when one was set.
bool AskBrowserPath();
/// The URL window's popup menu; nothing for another window.
std::optional<PopupMenu> UrlWindowPopup(WindowId window);
/// Runs an item of the URL window's popup; false when the identifier is not one.
bool ProcessUrlPopup(int id);
/// Reads and writes section "WWW" and the browser path.
void loadurls();
void saveurls();

}  // namespace chat
