// Channel settings: the scrambling of the stored lock and exclusion texts, the options lock,
// and "Channel Central" (a channel's topic, modes and ban list, and the lines that change them).
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "chat/core/frontend.h"

namespace chat {

/// Frame message: the ban list that /channel asked for is complete.
constexpr platform::UINT kMsgChannelDialog = 1029;
/// Characters of a topic sent from the dialog.
constexpr size_t kMaxDialogTopic = 241;
/// Ban masks collected for one dialog.
constexpr size_t kMaxDialogBans = 1000;
/// Characters of an options-lock password kept.
constexpr size_t kMaxLockPassword = 19;

/// Scrambles a text for the settings file (twice: the reversal and exchange run twice).
std::string encrypt(std::string_view text, bool twice);
/// Undoes encrypt.
std::string decrypt(std::string_view text, bool twice);
/// True when a text may be stored scrambled: printable ASCII only.
bool Scramblable(std::string_view text);

/// What a new lock password needs: longer than 4 characters, equal to its confirmation and
/// printable. Empty when accepted, else the reason.
std::string CheckNewLock(std::string_view password, std::string_view confirm);

/// The channel settings dialog's contents.
struct ChannelDialog {
    WindowId window = 0;
    std::string channel;
    std::vector<std::string> bans;
    std::string topic;
    bool operator_ = false;
    bool topic_locked = false;  ///< "t" set and not an operator: nothing can change
    std::string label;
    bool key_on = false, limit_on = false;
    std::string key, limit;
    /// Mode boxes n, t, i, m, p, s.
    bool modes[6] = {};
    std::string stored_modes;  ///< the channel's mode text up to its "]"
};

/// The dialog for a channel window from its stored topic and modes, our status and the bans.
ChannelDialog MakeChannelDialog(WindowId window, std::vector<std::string> bans);
/// The MODE lines that lift the chosen bans, three masks to a line.
std::vector<std::string> UnbanLines(std::string_view channel,
                                    const std::vector<std::string>& masks);
/// The lines that Apply sends for the dialog as edited (`topic_modified`: the user changed the
/// topic field).
std::vector<std::string> ApplyLines(const ChannelDialog& edited, bool topic_modified);

/// The state of a /channel request's ban list.
struct ChannelInfoState {
    std::vector<std::string> bans;
    /// Shows the dialog; empty prints it into the channel window.
    std::function<void(const ChannelDialog&)> show;
};
ChannelInfoState& ChannelInfo();
/// A ban-list reply: true when the pending /channel request takes it.
bool ChannelBanEntry(std::string_view channel, std::string_view mask);
/// The end of the ban list: true when taken (the dialog is then shown through message 1029).
bool ChannelBanEnd(std::string_view channel);
/// Message 1029: shows the dialog for the window that asked.
void ShowChannelDialog();

/// What a dialog button did.
enum class DialogAction {
    kStay,   ///< the dialog stays open (lines sent, or a beep)
    kClose,  ///< the dialog closes
};
/// Unban: sends the lines for the chosen masks (none chosen: a beep); the channel window gone:
/// a beep, and the dialog closes.
DialogAction UnbanFromDialog(const ChannelDialog& d, const std::vector<std::string>& masks);
/// Apply: sends what the edited dialog changes (the channel window gone: a beep instead); the
/// dialog closes either way.
DialogAction ApplyFromDialog(const ChannelDialog& edited, bool topic_modified);

}  // namespace chat
