// What the IRCv3 capabilities beyond registration show: other users' away and account changes,
// new hosts and real names (away-notify, account-notify, chghost, setname), the account of a
// joining user (extended-join), and netsplit and netjoin batches shown as one summary line.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "chat/core/frontend.h"

namespace chat {

/// Most batches open at once; further ones are handled line by line.
constexpr size_t kMaxOpenBatches = 16;
/// Nicknames a summary names; the rest are counted.
constexpr size_t kMaxSummaryNicks = 30;
/// Senders whose account is remembered; past this the memory starts afresh.
constexpr size_t kMaxKnownAccounts = 1000;

/// Handles AWAY, ACCOUNT, CHGHOST, SETNAME and BATCH of the line being handled; true when the
/// command was one of them.
bool HandleIrcv3Command(std::string_view command);
/// The text extended-join adds to a join line ("" when the line has no account).
std::string JoinAccountText();
/// True when the line being handled belongs to an open netsplit batch: the QUIT of `nick`
/// (who left the channel windows `channels`) is kept for the batch's summary, not shown.
bool BatchTakesQuit(std::string_view nick, const std::vector<WindowId>& channels);
/// As BatchTakesQuit for a JOIN into the channel window `channel` (netjoin batches).
bool BatchTakesJoin(std::string_view nick, WindowId channel);
/// account-tag: before a private message, the sender's account from the line's tag when it
/// is the first or another than last time (so a stranger using a known nick stands out).
void ShowSenderAccount(std::string_view nick, WindowId window);
/// Forgets every open batch and the accounts seen (new connection).
void Ircv3Reset();

}  // namespace chat
