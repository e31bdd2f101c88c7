// The server list: entries "descriptionSERVER:host:port[:password][GROUP:group]", the choice
// of the selected server, and the rotation through a group on retries.
#pragma once

#include <string>
#include <string_view>

#include "chat/core/windows/line_list.h"

namespace chat {

/// The parts of one server list entry.
struct ServerEntry {
    std::string description, host, password, group;
    int port = 6667;
    bool tls = false;  ///< "+" before the port
};

/// Port of TLS links given as a bare "+".
constexpr int kDefaultTlsPort = 6697;
/// A port text: "6667", "+6697" (TLS), "+" (TLS on 6697); empty, not a number or out of range
/// gives 6667. `tls` tells whether "+" was there.
int ParsePortText(std::string_view text, bool& tls);

/// Splits an entry; a port that is missing or not positive is 6667.
ServerEntry ParseServerEntry(std::string_view entry);
/// A host as typed: an IPv6 address in brackets ("[::1]") without them, anything else as is.
std::string UnbracketHost(std::string_view host);
/// Parses an entry into the selected server of the settings (szDesc, szHostName, Port, ...).
void extractserv(std::string_view entry);
/// Copies, in list order, every entry of `servers` whose group is `group` (case ignored) into
/// `rotation`; false when there is none.
bool buildconnectlist(const LineList& servers, std::string_view group, LineList& rotation);
/// Selects the first entry of the rotation and moves it to the end; nothing for an empty list.
void getnextserver(LineList& rotation);
/// The entry whose description equals `description` ignoring case, or servers.end().
LineList::const_iterator findserv(const LineList& servers, std::string_view description);
/// Orders the list for display: grouped entries first by group, then by the whole text.
void sorthosts(LineList& servers);

}  // namespace chat
