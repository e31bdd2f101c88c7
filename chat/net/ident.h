// The ident responder: answers an IRC server's question which user owns our connection to it,
// one query at a time, while the user logs on.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/event_loop.h"

namespace chat {

/// Frame messages of the responder: start listening, a peer waits, the query is readable, the
/// reply can be written.
constexpr platform::UINT kMsgIdentListen = 1065;
constexpr platform::UINT kMsgIdentAccept = 1066;
constexpr platform::UINT kMsgIdentRead = 1067;
constexpr platform::UINT kMsgIdentWrite = 1068;
/// Seconds an accepted peer may take to ask and be answered.
constexpr int kIdentSeconds = 40;
/// Bytes of one query up to its line end.
constexpr size_t kIdentQueryLimit = 1000;

/// The responder's settings (section "Ident").
struct IdentSettings {
    bool active = false;          ///< identserver
    int port = 113;               ///< iport
    std::string userid;           ///< szUID
    std::string system = "UNIX";  ///< szSYSTEM
};

/// The responder's settings in force.
IdentSettings& Ident();
/// Reads section "Ident" (an empty user id keeps the responder off).
void ReadIdentSettings();

/// The two port numbers of a query line (up to its line end), or nothing when it holds no ",".
std::optional<std::pair<long, long>> ParseIdentQuery(std::string_view query);
/// The reply to a query: USERID when the pair is our server connection's (local port first),
/// ERROR otherwise; ends in CR LF.
std::string IdentReply(long local_port, long remote_port, uint16_t our_local, uint16_t our_remote,
                       std::string_view system, std::string_view userid);

/// Starts listening (when on); a port that cannot be had is reported and the responder stays
/// off until started again.
void IdentListen();
/// Ends the current peer; `resume` re-arms the listener, otherwise it is closed too.
void iwerr(int resume);
/// True while the responder listens (tests).
bool IdentListening();
/// Installs the responder: its settings reader, its timer and the connect-attempt reset.
void InstallIdent();

}  // namespace chat
