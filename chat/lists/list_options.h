// The channel-list options behind Alt+L: which lines of the server's channel listing the
// "Channels List" window shows, a new listing or a new filtering of the lines already there,
// and the password lock that freezes the exclusion options.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace chat {

/// The options as the dialog shows them and hands them back.
struct ListOptions {
    std::string match;                ///< the match text
    std::vector<std::string> recent;  ///< recent match texts, newest first
    std::string exclusion;            ///< the exclusion words
    bool matchtext = false;           ///< "Match text in &topics"
    bool exclude = false;             ///< "&Hide channels which match these criteria:"
    bool extracturls = false;         ///< catch addresses in topics
    bool hnanc = false;               ///< "Hide non-&alphanumeric channels"
    bool dscl = false;                ///< do not sort the list
    std::string min, max;             ///< the user-count fields as typed
};

/// How the options dialog ended: every way stores the choices; List!/Relist! then acts.
struct ListOptionsChoice {
    enum Action { kStore, kListOrRelist } action = kStore;
    ListOptions options;
};

/// The options as stored now.
ListOptions CurrentListOptions();
/// Stores the choices: texts in lower case (the match text at the head of the recent ones),
/// the flags, the bounds clamped to 0..999; then saves them.
void StoreListOptions(const ListOptions& chosen);
/// The Clear button: an empty match field forgets the recent texts and the current one (and
/// saves); otherwise only the current text is forgotten (the field is emptied).
void ClearMatchText(bool field_empty);
/// Asks the server for a new listing with the stored filter ("*** Listing in progress..."
/// while one arrives).
void StartChannelListing();
/// Filters the lines the "Channels List" window already holds again; false (with a beep)
/// when that window is not open.
bool RelistChannels();

/// True while the exclusion options are locked.
bool OptionsLocked();
/// Locks with a new password and its confirmation; empty when locked, else the reason.
std::string LockListOptions(std::string_view password, std::string_view confirm);
/// Unlocks when the password matches exactly; false otherwise.
bool UnlockListOptions(std::string_view password);

/// The front end's options dialog (`relist`: the button reads "Relist!" rather than "List!");
/// nothing when the close box ended it. Empty where no dialog can be shown.
using ListOptionsDialogFn =
    std::function<std::optional<ListOptionsChoice>(const ListOptions& shown, bool relist)>;
ListOptionsDialogFn& ListOptionsDialog();
/// Frame command 106: from the "Channels List" window the dialog filters again; elsewhere,
/// when connected, it starts a listing; otherwise a beep.
void RunListOptions();

}  // namespace chat
