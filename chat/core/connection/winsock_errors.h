// Socket and look-up errors as the chat client numbers and words them (the Windows socket
// codes), mapped from errno and getaddrinfo results.
#pragma once

#include <string>

namespace chat {

/// "[10061] Connection refused" and so on; 0 reads as 10000, codes below 10000 are unknown.
std::string WSerror(int code);
/// The socket code for an errno value (ECONNREFUSED -> 10061, ETIMEDOUT -> 10060, ...).
int WinsockCodeFromErrno(int err);
/// The socket code for a getaddrinfo result (EAI_NONAME -> 11001, EAI_AGAIN -> 11002, ...).
int WinsockCodeFromLookup(int eai);

}  // namespace chat
