// The finger client (asks a host about a user and shows the answer in the "Finger Window") and
// the finger responder (answers each query with a section of the reply file).
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "chat/core/frontend.h"
#include "chat/core/windows/line_list.h"
#include "chat/script/tokens.h"
#include "platform/event_loop.h"

namespace chat {

/// Frame messages of the client (look-up done, connected, data or close) and the responder
/// (start, a peer waits, query readable, reply writable).
constexpr platform::UINT kMsgFingerLookup = 1058;
constexpr platform::UINT kMsgFingerConnect = 1059;
constexpr platform::UINT kMsgFingerData = 1060;
constexpr platform::UINT kMsgFingerListen = 1069;
constexpr platform::UINT kMsgFingerAccept = 1070;
constexpr platform::UINT kMsgFingerQuery = 1071;
constexpr platform::UINT kMsgFingerReply = 1072;
/// Characters of an output line before it is broken.
constexpr size_t kFingerLineLimit = 695;
/// Addresses the recent-finger list keeps.
constexpr size_t kFingerListLimit = 20;
/// Bytes of a query the responder takes, and seconds a silent peer is given.
constexpr size_t kFingerQueryLimit = 128;
constexpr int kFingerIdleSeconds = 30;
/// Bytes of one reply section the responder sends.
constexpr size_t kFingerReplyLimit = 65536;

/// Cuts a finger answer into display lines: CR dropped, LF ends a line (an empty one shows as
/// one blank), a tab fills to the next multiple of 8 columns, and a line reaching 695
/// characters is shown before the next byte starts a new one.
class FingerLines {
public:
    /// Feeds bytes; `emit` gets each finished line.
    void Push(std::string_view bytes, const std::function<void(const std::string&)>& emit);
    /// Empties the line being built.
    void Reset() { line_.clear(); }

private:
    std::string line_;
};

/// The reply for a section name ("[query]" or "[default]") from the reply file's text: the
/// lines after the first header that begins with the name (case ignored) up to the next
/// header, each ending in CR LF; falls back to "[default]", then to "No such user!".
std::string FingerReplyFor(std::string_view file_text, std::string_view query);

/// The client's state.
struct FingerClient {
    bool InFinger = false;
    std::string faddr, uname;
    int faddrt = 0;
    LineList szfinger;  ///< recent addresses, newest first
};
/// The client state.
FingerClient& Finger();

/// Starts a finger of a user at a host, a host ("@host"), or a nickname; 1 when started (or
/// a WHOIS sent), 0 when refused.
int dofinger(std::string_view argument, bool remote);
/// Ends the client, printing the text in the finger window when running.
void fwerr(std::string_view text);
/// /finger [nick or address]
int dofingercommand(WindowId window, const Args& a, bool remote);

/// Menu identifiers of the recent addresses on the Tools menu, and how many are offered.
constexpr int kFingerMenuFirst = 2429;
constexpr size_t kFingerMenuAddresses = 5;
/// One finger entry of the Tools menu.
struct FingerMenuItem {
    std::string text;
    int command = 0;
};
/// The Tools menu's finger entries: "Fin&ger..." and up to five recent addresses, or only
/// "Cancel Fin&ger" while a finger runs.
std::vector<FingerMenuItem> MakeFingerMenu();
/// Runs a recent-address entry of the menu; false when the identifier is not one.
bool ProcessFingerMenu(int id);
/// Empties the recent-finger list and its settings section.
void ClearFingerList();

/// The front end's finger dialog: the recent addresses to choose from and a button that
/// empties them (through `clear`); the address to finger, or nothing for Cancel.
using FingerDialogFn = std::function<std::optional<std::string>(
    const std::vector<std::string>& recent, const std::function<void()>& clear)>;
FingerDialogFn& FingerDialog();
/// Frame command 111 and /finger alone: cancels a running finger, else asks for an address
/// with the dialog (where there is none, says how to give one) and fingers it.
void RunFingerDialog();

/// The finger ports (79 unless section "Ports" says otherwise: "fingerserver" where the
/// responder listens, "finger" where the client asks) and the reply file.
struct FingerResponder {
    int port = 79;
    int client_port = 79;
    std::string file;
};
/// The responder's settings.
FingerResponder& FingerServerSettings();
/// Starts or stops the responder.
void SetFingerServer(bool on);
/// True while the responder listens (tests).
bool FingerServerListening();

/// Installs the command, the settings reader and the responder's timer.
void InstallFinger();

}  // namespace chat
