// The DDE server: other programs of this user ask for the client's state by topic and poke
// command lines into it, over the service's local socket.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace chat {

/// The server's name and whether it serves.
struct DdeServerState {
    std::string name = "Vesk";  ///< szDDEName
    bool on = false;            ///< registered (hszMyService)
};

/// The server state.
DdeServerState& DdeServer();

/// The answer to a request on a topic (case ignored) and item; nothing for no answer.
std::optional<std::string> DdeAnswer(std::string_view topic, std::string_view item);
/// A poke: on topic COMMAND the data runs as a command line in the active window (origin 2);
/// false for any other topic.
bool DdePoke(std::string_view topic, std::string_view data);
/// Stops serving, and with `on` serves under `name` (which becomes the server's name); false
/// when the name cannot be taken.
bool SetDDEServer(const std::string& name, bool on);
/// Stops serving and removes the socket (exit).
void CleanupDDE();
/// Reads section "DDE" and starts the server when it says so.
void loaddde();
/// Writes section "DDE".
bool savedde();
/// True when a transaction for `service` is our own server's (answered in process).
bool IsOwnService(std::string_view service);

}  // namespace chat
