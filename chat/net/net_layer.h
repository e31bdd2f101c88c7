// The network helpers of the session: the SOCKS relay, the ident responder, finger and TLS.
#pragma once

namespace chat {

/// Installs the relay, the ident responder, finger and TLS into the program.
void InstallNet();

}  // namespace chat
