// The three tables of DCC sessions (gets, sends, chats), 30 slots each, and the operations the
// rest of the program reaches DCC through.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "chat/core/frontend.h"
#include "chat/core/windows/window_table.h"
#include "chat/dcc/dcc_parse.h"
#include "platform/net.h"

namespace chat::dcc {

/// Window messages of the transfer and chat windows (the socket is in wParam).
enum : platform::UINT {
    kMsgGetConnect = 1039,
    kMsgGetData = 1040,
    kMsgGetWrite = 1041,
    kMsgGetAccept = 1042,
    kMsgSendAccept = 1043,
    kMsgSendData = 1044,
    kMsgSendConnect = 1045,
    kMsgChatConnect = 1051,
    kMsgChatData = 1052,
    kMsgChatAccept = 1055,
};

/// Closes a stdio file.
struct StdioCloser {
    void operator()(std::FILE* f) const {
        if (f) std::fclose(f);
    }
};
using File = std::unique_ptr<std::FILE, StdioCloser>;

/// What a transfer last showed of its progress, so that the title and the progress lines are
/// rewritten only when what they say changes (and not for every packet).
struct ProgressMeter {
    int64_t start_ms = 0;
    int last_percent = -1;
    int64_t last_title_ms = 0;
    int64_t last_line_ms = 0;  ///< when the last "Received:" or "Sent:" line was printed
};

/// Receiving a file. States: 0 free, 1 offer waiting, 2 connecting or receiving, 3 resume
/// asked, 5 timed out.
struct GetSlot {
    WindowId window = 0;
    std::string path;  ///< the full path written to
    std::string name;  ///< the file name as shown
    std::string nick;
    std::string address;
    uint32_t address_number = 0;
    File file;
    int state = 0;
    int port = 0;
    int idle = 0;
    uint64_t received = 0;  ///< bytes of the file we have, resumed part included
    uint64_t size = 0;      ///< 0 unknown
    uint64_t resume = 0;
    ProgressMeter meter;
    bool ask_first = false;  ///< the sender's address is local or private
    /// A passive offer: we listen, and answer with this token and the name as offered.
    std::string token;
    std::string offered_name;
    bool minimised = false;
    std::array<char, 8> ack_out{};  ///< acknowledgement bytes not yet sent (a rest and one)
    size_t ack_pending = 0;
    short interest = 0;  ///< poll events the data connection is watched for
    platform::net::Socket socket = platform::net::kNoSocket;
    uint64_t generation = 0;
};

/// Sending a file. States: 0 free, 1 offer made and listening, 2 sending, 5 timed out.
struct SendSlot {
    WindowId window = 0;
    std::string name;  ///< the file name
    std::string dir;   ///< its folder, with a trailing "/"
    std::string nick;
    File file;
    int state = 0;
    int idle = 0;
    int packet = kMinPacket;
    bool fast = false;
    bool minimised = false;  ///< started for someone else (file server, remote command)
    std::vector<char> buffer;
    size_t unsent = 0, unsent_at = 0;
    int port = 0;
    uint64_t sent = 0;
    uint64_t acked = 0;
    uint64_t size = 0;
    uint64_t resume = 0;  ///< position the receiver asked for
    bool resumed = false;
    ProgressMeter meter;
    bool eof = false;    ///< everything there is to send has been read
    std::string token;   ///< our passive offer: we connect once the receiver answers it
    short interest = 0;  ///< poll events the data connection is watched for
    AckGatherer acks;
    platform::net::Socket socket = platform::net::kNoSocket;
    uint64_t generation = 0;
};

/// A chat or file-server session. States: 0 free, 1 our offer waiting, 2 connecting, 3 open.
struct ChatSlot {
    WindowId window = 0;
    std::string line;  ///< incoming line being assembled
    std::string nick;
    std::string address;
    int state = 0;
    int idle = 0;
    int port = 0;
    bool server = false;
    bool asked = false;  ///< the offer waits for the user's answer
    int wait = 0;        ///< seconds the offer has waited for an answer
    std::string home, current, welcome;
    File paged;
    uint64_t paged_size = 1;
    int page = 20, page_lines = 0;
    int server_state = 0;
    int columns = 4;
    int gets = 1;
    bool bytes = true;
    std::string work;                 ///< the reply or file line being sent
    std::deque<std::string> listing;  ///< listing lines still to send
    std::string retry;                ///< a chat line that could not go yet
    std::string out;                  ///< bytes queued on the connection
    platform::net::Socket socket = platform::net::kNoSocket;
    uint64_t generation = 0;
};

/// The questions a front end with dialogs asks about offers. Each runs while the event loop
/// goes on and must end (as a refusal) once `waiting` turns false: the offer timed out or went.
/// Left empty, offers are printed with the command that answers them.
struct DccDialogs {
    /// The get question: the name to save under, or nothing to refuse.
    std::function<std::optional<std::string>(const GetSlot& offer,
                                             const std::function<bool()>& waiting)>
        get;
    /// The existing-file question: 0 cancel, 1 resume, 2 overwrite, 3 another name.
    std::function<int(const std::string& path, uint64_t size, bool can_resume,
                      const std::function<bool()>& waiting)>
        existing;
    /// The chat question: true to accept.
    std::function<bool(const ChatSlot& offer, const std::function<bool()>& waiting)> chat;
    /// The question before quitting while transfers run: true to quit. Left empty, a warning
    /// is printed and the program ends.
    std::function<bool(const std::string& title, const std::string& text)> quit;
};

/// The process-wide DCC state.
struct DccState {
    std::vector<GetSlot> gets = std::vector<GetSlot>(kSlots);
    std::vector<SendSlot> sends = std::vector<SendSlot>(kSlots);
    std::vector<ChatSlot> chats = std::vector<ChatSlot>(kSlots);
    uint64_t next_generation = 1;
    int get_wait = 0;     ///< seconds the get offer in front has waited for an answer
    int asking = -1;      ///< the get slot whose offer is being asked about, -1 none
    int event_chat = -1;  ///< the chat whose line the event handlers are running for, -1 none
    DccDialogs dialogs;
};

/// The DCC state.
DccState& Dcc();
/// Closes every session and clears the tables (tests, exit).
void ResetDcc();

/// The receiving folder (the "getdir" setting, else ~/Downloads, made 0700 when missing),
/// with a trailing "/".
std::string GetFolder();
/// Names that an offered file may never take (settings, scripts, logs).
std::vector<std::string> ProtectedNames();

// Offers (dcc_offers.cpp).
/// Handles one incoming DCC request (the CTCP text) from nick.
void HandleRequest(std::string_view nick, std::string_view text);
/// Starts sending a file to nick; `minimised` for sends started for someone else; `passive`
/// offers port 0 and a token, and connects to the receiver when it answers. False when
/// nothing was started (the reason is printed).
bool StartSend(const std::string& nick, const std::string& path, bool minimised,
               bool passive = false);
/// Offers a chat (server: a file-server session with its home, welcome file and gets).
bool StartChat(const std::string& nick, bool server, const std::string& home = {},
               const std::string& welcome = {}, int gets = 1);
/// Accepts the waiting get offer of a slot: `answer` 0 ask about an existing file, 1 resume,
/// 2 overwrite; `rename` replaces the name when not empty.
void AcceptGet(int slot, int answer, const std::string& rename);
/// Refuses a waiting get offer and moves on to the next one.
void RefuseGet(int slot);
/// Accepts or refuses a waiting chat offer.
void AnswerChat(int slot, bool accept);
/// The "/dcc" command.
int DoDccCommand(WindowId window, const std::vector<std::string>& args, bool remote);
/// The "/fserve" command.
int DoFserveCommand(WindowId window, const std::vector<std::string>& args, bool remote);
/// The next waiting get offer is put to the user.
void donextget();

// Transfers (dcc_transfer.cpp).
/// Connects a get to its sender.
void DoConnectToClient(int slot);
/// Connects our passive send to the receiver that answered it.
void ConnectPassiveSend(int slot, const std::string& host, int port);
/// Socket events of a transfer window.
void TransferMessage(WindowId window, platform::UINT msg, platform::WPARAM wp, platform::LPARAM lp);
/// Closes a get slot: how 0 full reset, 1 socket and file only.
void ginit(int slot, int how);
void sinit(int slot, int how);
/// The once-a-second time-outs of transfers.
void TransferTick();
/// Sends running for nick.
int RunningSends(const std::string& nick);
/// True while a send is offered or running, or a get is connecting, receiving or waiting for
/// its resume to be accepted: what quitting would break off.
bool TransfersRunning();
/// A transfer or chat window is closing: its slot is freed at once, socket and file closed,
/// so that the next offer may take it.
void WindowClosing(WindowId window);

// Chats (dcc_chat.cpp).
/// Connects a chat to the peer's offer.
void DoConnectChat(int slot);
/// Socket events of a chat window.
void ChatMessage(WindowId window, platform::UINT msg, platform::WPARAM wp, platform::LPARAM lp);
void cinit(int slot, int how);
/// Sends a typed line over a chat: -1 no session, 0 not connected, 1 sent.
int SendChat(WindowId window, const std::string& nick, const std::string& text);
/// The once-a-second file-server idle check and offer waits.
void ChatTick();
/// Runs one command line a file-server peer sent on chat `slot` (a session in its served
/// folder): what the receive path does with each line the events script leaves alone.
void FileServerCommand(int slot, const std::string& line);

/// Whether the program may quit now: while transfers run, the user is asked (or, with nobody
/// to ask, warned).
bool MayQuit();

/// Puts DCC into the program: the offer hand-off, /dcc and /fserve, the chat sender, the
/// windows' socket messages and the main timer's work.
void InstallDcc();

}  // namespace chat::dcc
