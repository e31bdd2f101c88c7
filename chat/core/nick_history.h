// The nicknames that last wrote to us privately, which Tab steps through to prepare a reply.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "chat/core/frontend.h"
#include "chat/core/windows/line_list.h"

namespace chat {

/// Nicknames kept; a further one pushes the oldest out.
constexpr size_t kLastNicks = 5;

/// The list, oldest first; the entry Tab last showed has the value 1.
LineList& LastNicks();
/// Records a nickname that wrote to us: an entry already there moves to the end and keeps its
/// mark.
void addlastnick(std::string_view nick);
/// The next nickname for Tab: the newest first, then each older one in turn, round again after
/// the oldest. Nothing when nobody wrote.
std::optional<std::string> showlastnick();
/// Every entered line starts the round again from the newest.
void ResetLastNicks();
/// Tab in a window: its input line becomes "/msg nick " with the next nickname; a beep when
/// nobody wrote.
void NextNickToInput(WindowId window);

}  // namespace chat
