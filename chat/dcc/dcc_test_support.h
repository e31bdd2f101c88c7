// What the DCC tests share: a clean chat core with a status window, acting as "me" on a known
// local address, and its tidying up.
#pragma once

#include "chat/core/options.h"
#include "chat/core/session/session_state.h"
#include "chat/core/windows/window_table.h"
#include "chat/dcc/dcc_state.h"
#include "platform/net.h"

namespace chat::dcc {

/// Fresh options, windows, session and DCC tables, with the status window open.
inline void StartDccTest() {
    ResetOptions();
    ResetWindows();
    ResetSession();
    ResetDcc();
    Options().sip = 0x7F000001u;
    Options().szsip = "127.0.0.1";
    Session().nick = "me";
    MakeNewWindow("Status Window", false);
}

/// Closes what a test left open.
inline void EndDccTest() {
    ResetDcc();
    ResetWindows();
    ResetSession();
    platform::net::ResetNet();
}

}  // namespace chat::dcc
