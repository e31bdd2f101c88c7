// What the Setup dialog edits: the identity and the server list with its rules, the local
// address, the ident responder and the SOCKS relay; loaded from the settings in force, checked,
// written back to the settings file and put into effect.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "chat/core/windows/line_list.h"
#include "chat/terminal/settings_pages.h"

namespace chat {

/// The Setup dialog's pages.
enum SetupPage : int { kSetupConnect = 1, kSetupLocal = 2, kSetupIdent = 3, kSetupSocks = 4 };
constexpr int kSetupPages = 4;

/// The fields of the add and edit server dialog, as typed.
struct ServerFields {
    std::string description, host, port, password, group;
};
/// The fields of a stored entry.
ServerFields FieldsOfEntry(std::string_view entry);

/// An entry made from typed fields, or the message why it cannot be made.
struct ServerEntryResult {
    std::string entry;
    std::string error;
};
/// Builds "descriptionSERVER:host:port[:password][GROUP:group]": the host is the first word
/// (100 characters), an empty or non-positive port is 6667, the password is cut to 100
/// characters, the group is its first word (20). Descriptions are unique ignoring case,
/// `editing` (the entry being edited, or null) aside.
ServerEntryResult MakeServerEntry(const ServerFields& fields, const LineList& servers,
                                  const std::string* editing);
/// The entry whose description equals `description` ignoring case, the entry being edited
/// aside; null when none.
const Line* FindOtherServer(const LineList& servers, std::string_view description,
                            const std::string* editing);
/// How an entry reads in the server list: description, host and port, and the group.
std::string ServerRow(std::string_view entry);
/// The entry with another port.
std::string EntryWithPort(std::string_view entry, int port);

/// Everything the Setup dialog edits.
struct SetupState {
    LineList servers;      ///< in display order (sorthosts)
    std::string selected;  ///< the server entry to connect to; empty when none
    std::string port;      ///< the selected server's port as typed
    /// Values of the settings of each page (index page - 1), as loaded and as edited.
    std::vector<PageValues> before, values;
};

/// The settings of each page beside the server list (index page - 1).
const std::vector<SettingsPage>& SetupPages();
/// The state from the settings in force.
SetupState LoadSetup();
/// A failed check and the page to show it on.
using SetupProblem = PagesProblem;
/// Checks every page (clamping and trimming where the settings say so).
SetupProblem CheckSetup(SetupState& state);
/// Writes what changed and puts it into effect: the server list, the selected server, the
/// identity, the local address, the ident responder (started, moved or stopped) and the
/// relay. False when the settings file could not be written.
bool SaveSetup(const SetupState& state);

}  // namespace chat
