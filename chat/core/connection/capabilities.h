// IRCv3 capability negotiation before registration (CAP LS 302, REQ, ACK/NAK, END, NEW/DEL)
// and the message tags of the line being handled (server-time).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace chat {

/// Seconds the negotiation may take before registration goes on without it.
constexpr int kCapSeconds = 15;
/// Longest tag part of a line ("@...") that is looked at.
constexpr size_t kMaxTagBytes = 8191;

/// Starts the negotiation at logon (sends CAP LS 302).
void CapBegin();
/// Handles a CAP line: tk[0] source, tk[1] "CAP", tk[2] target, tk[3] subcommand.
void HandleCap(const std::vector<std::string>& tk);
/// The one-second work: a negotiation that does not finish is ended.
void CapTick();
/// The SASL exchange ended (either way) and did not disconnect: negotiation may end.
void CapSaslFinished();
/// The server accepted us: nothing is negotiated any more before registration.
void CapWelcomed();
/// True when the capability is enabled on this connection.
bool CapEnabled(std::string_view name);
/// Forgets everything (new connection or tests).
void CapReset();

/// A tag value with its escapes undone (\: ; \s blank, \\ \, \r CR, \n LF, others the
/// character itself, a lone trailing "\" dropped).
std::string UnescapeTagValue(std::string_view value);
/// Reads the tags of a server line for the handlers (time, batch, account); a line without
/// tags clears them.
void TakeLineTags(std::string_view line);
/// The time of the line being handled from its server-time tag, in seconds since 1970; 0
/// when it has none.
int64_t LineServerTime();
/// The batch reference of the line being handled (tag "batch"), empty when none.
const std::string& LineBatch();
/// The sender's account of the line being handled (tag "account"), empty when none.
const std::string& LineAccount();
/// Parses "YYYY-MM-DDThh:mm:ss[.sss]Z" into seconds since 1970; 0 when malformed.
int64_t ParseServerTime(std::string_view text);

}  // namespace chat
