// The local channel that carries DDE conversations between programs of this user: one Unix
// socket per service name in the runtime folder, one transaction per connection, one line each
// way.
//
//   request:  "REQUEST" TAB topic TAB item LF        answer: "DATA" TAB text LF, or "NONE" LF
//   poke:     "POKE" TAB topic TAB item TAB data LF  answer: "ACK" LF, or "NACK" LF
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace chat {

/// Bytes of one transaction line a server reads, and of an answer a client takes.
constexpr size_t kDdeRequestLimit = 4096;
constexpr size_t kDdeAnswerLimit = 65536;
/// Characters of a service name.
constexpr size_t kDdeServiceLimit = 60;

/// The folder of the service sockets: $XDG_RUNTIME_DIR/vesk32/, or /tmp/vesk32-UID/ when the
/// runtime folder is not set; with a trailing "/".
std::string DdeFolder();
/// Makes the folder (mode 0700) or checks the one there: ours, a real folder, closed to
/// others. False when it cannot be trusted.
bool PrepareDdeFolder(const std::string& folder);
/// True when a service name can name a socket: 1 to 60 characters, no "/", no NUL, not "."
/// or "..".
bool ValidServiceName(std::string_view service);
/// The socket of a service; empty for a name that cannot be one.
std::string DdeSocketPath(std::string_view service);

/// A parsed transaction line.
struct DdeTransaction {
    bool poke = false;
    std::string topic, item, data;
};
/// Reads one transaction line (without its LF; a CR before it is dropped); nothing when
/// malformed.
std::optional<DdeTransaction> ParseDdeTransaction(std::string_view line);
/// The line of a transaction, with its LF (line ends inside the fields become blanks).
std::string FormatDdeTransaction(const DdeTransaction& t);

/// Runs one transaction with a service. A request waits up to `timeout_ms` and gives the
/// answer text (nothing when the service did not answer or refused). A poke with `wait` false
/// is handed over without waiting; with `wait` it gives "" on acknowledgement.
std::optional<std::string> DdeTransact(std::string_view service, const DdeTransaction& t,
                                       int timeout_ms, bool wait = true);

}  // namespace chat
