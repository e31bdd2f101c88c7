// The channels folder (the user's favourite channels, joined or asked about from one list) and
// the channel-list filter options: the user-count bounds and the match and exclusion words.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "chat/core/windows/line_list.h"

namespace chat {

/// A JOIN or NAMES line of the folder grows up to this length before another is begun.
constexpr size_t kMaxFolderLine = 650;
/// Words of a match or exclusion text.
constexpr size_t kMaxListWords = 92;
/// Recent match texts kept.
constexpr size_t kMaxRecentMatches = 10;

/// The folder and the channel-list options.
struct ChannelsFolderState {
    LineList szjoin;    ///< channel names in the order added
    LineList szcparms;  ///< recent match texts, newest first
    std::string liststr, xliststr;
    std::string szlock;  ///< the options-lock password, empty when unlocked
};

/// The folder state.
ChannelsFolderState& Folder();
/// A fresh state (tests).
void ResetFolder();

/// A name as the folder stores it: "#" in front unless it begins with "#" or "&".
std::string FolderName(std::string_view name);
/// True when the name is in the folder (case ignored).
bool FindItem(std::string_view name);
/// Adds a name (with "#" put in front as needed); false when empty or already present.
bool AddChanItem(std::string_view name);
/// Removes a name; false when it is not there.
bool RemoveChanItem(std::string_view name);
/// The lines "WORD a,b,c" for the chosen channels, taken from the last chosen to the first, a
/// new line begun before one would pass 650 characters.
std::vector<std::string> FolderCommandLines(std::string_view word,
                                            const std::vector<std::string>& chosen);
/// Reads and writes section "Channels".
void loadjoin();
void savejoin();

/// What the user did in the channels folder dialog.
struct FolderChoice {
    enum Action { kCancel, kClose, kJoin, kNames } action = kCancel;
    std::vector<std::string> channels;  ///< the list as edited, in row order
    std::vector<std::string> chosen;    ///< the selected rows, in row order
    std::string field;                  ///< the name field
    bool pop_up = true;                 ///< "Pop up folder on connect"
};
/// The front end's folder dialog (the list and the pop-up box to show); empty where no
/// dialog can be shown.
using FolderDialog = std::function<std::optional<FolderChoice>(
    const std::vector<std::string>& channels, const std::string& field, bool pop_up)>;
FolderDialog& ChannelsFolderDialog();
/// The folder command: runs the dialog until it closes, sending JOIN or NAMES lines and
/// storing the list as chosen.
void RunChannelsFolder();

/// The user-count bounds as stored: each within 0 to 999 and the maximum not below the minimum.
void checkminmax(int& listmin, int& listmax);
/// Splits a text at blanks into at most 92 lower-case words.
std::vector<std::string> parseck(std::string_view text);
/// Puts a match text at the head of the recent texts (an equal older one removed, 10 kept).
void RememberMatch(std::string_view text);
/// Reads and writes section "ChannelsList" (recent texts, scrambled exclusion text and lock).
void loadcparms();
void savecparms();

}  // namespace chat
