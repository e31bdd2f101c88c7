// The network helpers of the session: the SOCKS relay, the ident responder and finger.
#pragma once

namespace chat {

/// Installs the relay, the ident responder and finger into the program.
void InstallNet();

}  // namespace chat
