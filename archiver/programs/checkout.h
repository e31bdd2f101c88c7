// CheckOut: an archive extracted into a folder of its own below the CheckOut base folder and
// a group of freedesktop launchers, one per file that can be opened, in
// $XDG_DATA_HOME/applications/borvan-checkout/<group>/.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace programs {

/// Most launchers in a group.
constexpr int kMaxCheckOutIcons = 50;
/// The file that marks a folder as made by CheckOut.
inline constexpr const char* kCheckOutMark = ".borvan-checkout";

/// The choices of the CheckOut dialog.
struct CheckOutChoices {
    std::string folder;  ///< target folder (normalised by CheckCheckOutChoices)
    std::string group;   ///< group name
    int max_icons = kMaxCheckOutIcons;
    bool icons_only = true;  ///< launchers only for programs, documents and special files
    bool run_scan = false;   ///< run the virus scan over the extracted files
};

/// The places CheckOut works in and must keep away from.
struct CheckOutPlaces {
    std::string home;       ///< the user's home folder
    std::string base;       ///< where the dialog proposes the folder
    std::string current;    ///< the current folder
    std::string temp;       ///< the temporary folder
    std::string launchers;  ///< $XDG_DATA_HOME/applications/borvan-checkout
};

/// The places of this user: [directories] "CheckOutBase" of the settings (default
/// ~/CheckOut), $HOME, the current folder, $TMPDIR and $XDG_DATA_HOME (~/.local/share).
CheckOutPlaces LoadCheckOutPlaces(const std::string& settings_path);
/// Whether launchers are made only for programs and documents ("CheckOutIconOnly").
bool LoadCheckOutIconOnly(const std::string& settings_path);

/// Checks and normalises the dialog's choices (a relative folder is taken from the current
/// one). Any folder is taken except the root, the current, the home and the temporary folder
/// themselves and the system's folders; the refusal names the rule. False with the message
/// in `error` when they cannot be taken; otherwise `question` holds the warnings to confirm ("...
/// Do you want to continue?") or is empty.
bool CheckCheckOutChoices(CheckOutChoices& choices, const CheckOutPlaces& places,
                          std::string& error, std::string& question);

/// Makes the folder (marked as CheckOut's) or empties an existing one of its old plain
/// files. A folder that holds files and was not made by CheckOut is left alone (false).
bool PrepareCheckOutFolder(const CheckOutChoices& choices, const CheckOutPlaces& places,
                           std::string& error);

/// A listed member as CheckOut sees it.
struct CheckOutMember {
    std::string name;         ///< as listed, `/` between folders
    uint16_t type_class = 3;  ///< 1 program, 2 document, 3 other
};

/// What building the group did.
struct GroupOutcome {
    int icons = 0;             ///< launchers made
    std::string group_folder;  ///< where they are
    std::string message;       ///< what to tell the user (empty: nothing)
};

/// Replaces the group with one launcher per qualifying member extracted into the folder, in
/// listing order, up to the maximum. `self` is this program's path (archives open in a new
/// instance of it).
GroupOutcome BuildCheckOutGroup(const CheckOutChoices& choices, const CheckOutPlaces& places,
                                const std::vector<CheckOutMember>& members,
                                const std::string& self);

/// Deletes a group's launchers and the checked-out folder (only when it is CheckOut's or
/// empty, below the base folder). False with the message in `error`.
bool DeleteCheckOut(const std::string& folder, const std::string& group,
                    const CheckOutPlaces& places, std::string& error);

/// A desktop-entry string value: `\` doubled, tab, newline and return as \t, \n, \r, a
/// leading blank as \s.
std::string DesktopString(std::string_view text);
/// A desktop-entry Exec value from an argument vector: arguments with reserved characters
/// quoted, `"` `` ` `` `$` `\` escaped inside the quotes, `%` doubled, then escaped as a
/// string value.
std::string DesktopExec(const std::vector<std::string>& args);

}  // namespace programs
