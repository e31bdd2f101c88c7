// The auto-op list (masks, optionally limited to channels) and the queue of delayed operator
// grants that joins and /pop fill and the main timer empties.
#pragma once

#include <string>
#include <string_view>

#include "chat/core/frontend.h"
#include "chat/core/windows/line_list.h"
#include "chat/script/tokens.h"

namespace chat {

/// The auto-op list: lines 'mask[,channel,...]'.
LineList& AutoOpList();
/// The pending grants: lines 'channel nick' with the seconds left as their value.
LineList& PendingOps();

/// The auto-op entry that matches 'nick!user@host' on a channel, or null.
const Line* doopnick(std::string_view address, std::string_view channel);
/// Grants operator status after `delay` seconds spread at random (0: at once).
void pop(int delay, std::string_view channel, std::string_view nick);
/// One second of the pending grants.
void AutoOpTick();
/// The pending grants of a channel never fire (its window closed).
void checkopln(std::string_view channel);
/// Adds (mode 1) or removes (mode 2) an entry or some of its channels.
void arauto(int mode, std::string_view mask, std::string_view channels, WindowId window);
/// Reads section "AutoOp" (converting the old "op" key of "Text" once).
void loadop();
/// Rewrites section "AutoOp".
bool saveop();

/// Installs the join and part handlers, /auto, /pop and the tick.
void InstallAutoOp();

}  // namespace chat
