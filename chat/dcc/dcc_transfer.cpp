// The data phase of file transfers: connecting and accepting, the packet loop, the 4-byte
// acknowledgements, progress, completion, and the transfer time-outs.
//
// Once connected, a transfer's socket is watched by the event loop directly instead of through
// socket messages: a message per packet (a peek, a queued message and a wake-up on each side)
// cost more than the packet itself. The socket stays the net layer's, which still closes it.
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstring>

#include "chat/core/options.h"
#include "chat/core/session/session_state.h"
#include "chat/core/windows/window_print.h"
#include "chat/dcc/dcc_state.h"

namespace chat::dcc {
namespace {

namespace net = platform::net;

// Bytes read per data event. Each read is acknowledged at once, so a sender that waits for
// every acknowledgement still gets one per packet, and one that keeps a window of bytes in
// flight is never held up by a small buffer.
constexpr size_t kReadSize = 256 * 1024;
// Bytes of acknowledgements read at once (a fast send may find many waiting).
constexpr size_t kAckReadSize = 4096;
// A send keeps up to this many bytes in flight before it waits for acknowledgements, whatever
// the packet size: waiting for each packet's acknowledgement would tie the rate to the round
// trip (512-byte packets over loopback reach a few MB/s). Every acknowledgement is still read
// and checked as it comes, and the send ends only when the last one covers the whole file.
constexpr uint64_t kSendWindow = 1024 * 1024;
// File bytes read and written at once by a send (a packet of the setting when larger): large
// blocks keep the system calls per megabyte few.
constexpr size_t kSendBlock = 256 * 1024;
// A byte count in the title is rewritten at most this often (a percentage when it changes).
constexpr int64_t kTitleEveryMs = 500;
// Milliseconds between progress lines in the window.
constexpr int64_t kProgressEveryMs = 5000;

WindowId Status() {
    return Windows().statwin;
}

int64_t Seconds(int64_t start_ms) {
    return std::max<int64_t>(1, (SessionNowMs() - start_ms) / 1000);
}

int Percent(uint64_t count, uint64_t size) {
    if (count >= size) return 100;
    uint64_t scaled = count <= UINT64_MAX / 100 ? count * 100 / size : count / (size / 100);
    return static_cast<int>(std::min<uint64_t>(scaled, 100));
}

// The title of a transfer window ("45% Get nick file" or "1234 Send nick file"). Front ends
// that draw the title from the window table find the progress part as the window's topic.
void Retitle(WindowId window, const std::string& progress, const char* what,
             const std::string& nick, const std::string& file) {
    WindowRecord* r = RecordOf(window);
    if (!r) return;
    r->topic = progress;
    if (CurrentFrontend().rename_window)
        CurrentFrontend().rename_window(window, r->name,
                                        progress + " " + what + " " + nick + " " + file);
}

// The progress of a transfer in its title and, every few seconds, as a line in its window.
// Only what changed is rewritten; `force` writes the final title.
void Progress(WindowId window, const char* what, const std::string& nick, const std::string& file,
              uint64_t count, uint64_t size, ProgressMeter& m, bool force) {
    int64_t now = SessionNowMs();
    if (Options().spap && size) {
        int percent = Percent(count, size);
        if (percent != m.last_percent || force) {
            m.last_percent = percent;
            Retitle(window, std::to_string(percent) + "%", what, nick, file);
        }
    } else if (force || now - m.last_title_ms >= kTitleEveryMs) {
        m.last_title_ms = now;
        Retitle(window, std::to_string(count), what, nick, file);
    }
    if (!force && now - m.last_line_ms >= kProgressEveryMs) {
        m.last_line_ms = now;
        Print(window, std::string(what[0] == 'G' ? "Received: " : "Sent: ") + std::to_string(count),
              1);
    }
}

void StartMeter(ProgressMeter& m) {
    m = ProgressMeter{};
    m.start_ms = m.last_line_ms = SessionNowMs();
}

// Both ends of a transfer send small pieces and wait for each other: neither may be held back
// by the stack's coalescing until a delayed ACK arrives. A fast send keeps the coalescing,
// which helps it with small packets.
void NoDelay(net::Socket s) {
    int on = 1;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

// Watches a connected transfer socket for `events`, calling `ready` from the event loop.
void WatchData(net::Socket s, short& interest, short events, platform::WatchCallback ready) {
    interest = events;
    platform::WatchFd(s, events, std::move(ready));
}

// Changes what a transfer socket is watched for, only when that differs.
void WatchFor(net::Socket s, short& interest, short wanted) {
    if (interest == wanted) return;
    interest = wanted;
    platform::ModifyWatch(s, wanted);
}

ssize_t Receive(net::Socket s, char* buffer, size_t size) {
    ssize_t n;
    do n = ::recv(s, buffer, size, MSG_DONTWAIT);
    while (n < 0 && errno == EINTR);
    return n;
}

ssize_t SendSome(net::Socket s, const char* data, size_t size) {
    ssize_t n;
    do n = ::send(s, data, size, MSG_DONTWAIT | MSG_NOSIGNAL);
    while (n < 0 && errno == EINTR);
    return n;
}

bool WouldBlock() {
    return errno == EAGAIN || errno == EWOULDBLOCK;
}

int FindGet(WindowId window, net::Socket s) {
    auto& g = Dcc().gets;
    for (int i = 0; i < kSlots; ++i)
        if (g[i].window == window && g[i].socket == s && s != net::kNoSocket) return i;
    return -1;
}

int FindSend(WindowId window, net::Socket s) {
    auto& v = Dcc().sends;
    for (int i = 0; i < kSlots; ++i)
        if (v[i].window == window && v[i].socket == s && s != net::kNoSocket) return i;
    return -1;
}

// Ends a get; `error` is the system's reason when a write failed.
void DoGetClose(int slot, int error = 0) {
    GetSlot& g = Dcc().gets[slot];
    Progress(g.window, "Get", g.nick, g.name, g.received, g.size, g.meter, true);
    uint64_t bytes = g.received - std::min(g.received, g.resume);
    int64_t secs = Seconds(g.meter.start_ms);
    Print(g.window,
          "Received: " + std::to_string(bytes) + " bytes in " + std::to_string(secs) + " secs (" +
              std::to_string(bytes / static_cast<uint64_t>(secs)) + " bytes/sec)",
          1);
    bool complete = error == 0 && (g.size == 0 || g.received == g.size);
    // An empty file is offered with size 0, the same as an unknown size: when nothing came
    // either, it is an empty file received whole.
    const bool size_known = g.size > 0 || g.received == 0;
    if (error) Print(g.window, std::string("Error writing file: ") + std::strerror(error), 1);
    if (Options().bgc) Beep();
    std::string nick = g.nick, name = g.name;
    WindowId window = g.window;
    ginit(slot, 1);
    if (Options().acgw) {
        Pp(Status(),
           "DCC Get of " + name + " from " + nick + (complete ? " completed" : " incomplete!"), 3);
        closewindow(window);
        return;
    }
    PrintSP(window, 2);
    if (complete)
        Print(window, size_known ? "DCC Get completed" : "DCC Get completed (size unknown)", 2);
    else
        Print(window, "DCC Get incomplete!", 1);
    Print(window, "DCC Get session closed", 3);
}

// Sends what is left of the acknowledgements; false when that ended the get.
bool DoGetSendAck(int slot) {
    GetSlot& g = Dcc().gets[slot];
    while (g.ack_pending > 0) {
        ssize_t n = SendSome(g.socket, g.ack_out.data(), g.ack_pending);
        if (n < 0 && WouldBlock()) break;
        if (n < 0) {
            Print(g.window, "Error sending acknowledgement... Aborted!", 1);
            ginit(slot, 1);
            return false;
        }
        size_t sent = static_cast<size_t>(n);
        std::memmove(g.ack_out.data(), g.ack_out.data() + sent, g.ack_pending - sent);
        g.ack_pending -= sent;
    }
    // Data is still read while an acknowledgement waits: the newest count replaces it.
    WatchFor(g.socket, g.interest, static_cast<short>(POLLIN | (g.ack_pending ? POLLOUT : 0)));
    return true;
}

void QueueAck(GetSlot& g) {
    // Only the newest count matters; the rest of one already partly sent must still go first.
    size_t rest = g.ack_pending % 4;
    std::array<char, 4> ack = AckBytes(g.received);
    std::memcpy(g.ack_out.data() + rest, ack.data(), ack.size());
    g.ack_pending = rest + ack.size();
}

void DoGetReceive(int slot) {
    static std::array<char, kReadSize> buffer;
    GetSlot& g = Dcc().gets[slot];
    if (g.state != 2 || !g.file) return;
    g.idle = 0;
    ssize_t n = Receive(g.socket, buffer.data(), buffer.size());
    if (n == 0) return DoGetClose(slot);
    if (n < 0) {
        if (WouldBlock()) return;
        if (g.size == 0 || g.received != g.size) {
            Print(g.window, "Error receiving data... transfer aborted!", 1);
            return ginit(slot, 1);
        }
        return DoGetClose(slot);
    }
    size_t take = static_cast<size_t>(n);
    // Nothing past the announced size is written.
    if (g.size)
        take = static_cast<size_t>(std::min<uint64_t>(take, g.size - std::min(g.size, g.received)));
    size_t done = 0;
    int fd = ::fileno(g.file.get());
    while (done < take) {
        ssize_t w = ::write(fd, buffer.data() + done, take - done);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
            int e = w < 0 ? errno : ENOSPC;
            g.received += done;
            return DoGetClose(slot, e);
        }
        done += static_cast<size_t>(w);
    }
    g.received += done;
    Progress(g.window, "Get", g.nick, g.name, g.received, g.size, g.meter, false);
    QueueAck(g);
    DoGetSendAck(slot);
}

// The event loop's call for a get's data connection.
void GetReady(int slot, uint64_t generation, short revents) {
    GetSlot& g = Dcc().gets[slot];
    if (g.generation != generation || g.state != 2) return;
    if ((revents & POLLOUT) && !DoGetSendAck(slot)) return;
    if (revents & (POLLIN | POLLHUP | POLLERR)) DoGetReceive(slot);
}

void DoQueryClient(int slot) {
    GetSlot& g = Dcc().gets[slot];
    Print(g.window, "DCC Get connection established", 3);
    PrintSP(g.window, 3);
    StartMeter(g.meter);
    int flags = O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | (g.resume ? O_APPEND : O_TRUNC);
    int fd = ::open(g.path.c_str(), flags, 0644);
    std::FILE* f = fd >= 0 ? ::fdopen(fd, g.resume ? "ab" : "wb") : nullptr;
    if (!f) {
        if (fd >= 0) ::close(fd);
        Print(g.window, "DCC Get: Unable to open file", 1);
        return ginit(slot, 1);
    }
    g.file.reset(f);
    g.received = g.resume;
    g.ack_pending = 0;
    NoDelay(g.socket);
    uint64_t generation = g.generation;
    WatchData(g.socket, g.interest, POLLIN,
              [slot, generation](int, short revents) { GetReady(slot, generation, revents); });
}

void DoSendClose(int slot) {
    SendSlot& s = Dcc().sends[slot];
    Progress(s.window, "Send", s.nick, s.name, s.sent, s.size, s.meter, true);
    uint64_t resumed = s.resumed ? std::min(s.resume, s.size) : 0;
    uint64_t bytes = std::min(s.sent - std::min(s.sent, resumed), s.size);
    int64_t secs = Seconds(s.meter.start_ms);
    Print(s.window,
          "Sent: " + std::to_string(bytes) + " bytes in " + std::to_string(secs) + " secs (" +
              std::to_string(bytes / static_cast<uint64_t>(secs)) + " bytes/sec)",
          1);
    // Acknowledged sends are complete when the receiver said it has every byte.
    bool complete = s.sent == s.size && (s.fast || s.acked == s.size);
    if (Options().bsc && !s.minimised) Beep();
    std::string nick = s.nick, name = s.name;
    WindowId window = s.window;
    bool to_status = Options().acsw || s.minimised;
    sinit(slot, 1);
    if (to_status) {
        Pp(Status(),
           "DCC Send of " + name + " to " + nick + (complete ? " completed" : " incomplete!"), 3);
        closewindow(window);
        return;
    }
    PrintSP(window, 2);
    if (complete)
        Print(window, "DCC Send completed", 2);
    else
        Print(window, "DCC Send incomplete!", 1);
    Print(window, "DCC Send session closed", 3);
}

// The bytes an acknowledged send may still put in flight (a fast send has no limit).
uint64_t WindowRoom(const SendSlot& s) {
    if (s.fast) return UINT64_MAX;
    uint64_t in_flight = s.sent - std::min(s.sent, s.acked);
    return in_flight >= kSendWindow ? 0 : kSendWindow - in_flight;
}

// A send wants to hear of room in the socket only while it has something to put there.
short SendInterest(const SendSlot& s) {
    return static_cast<short>(POLLIN | (s.unsent || (!s.eof && WindowRoom(s)) ? POLLOUT : 0));
}

// Sends until the socket is full or (acknowledged mode) the window of bytes in flight is;
// the rest of a block the socket took only in part goes first. False when the send ended.
bool DoSendNextPacket(int slot) {
    SendSlot& s = Dcc().sends[slot];
    if (s.state != 2 || !s.file) return false;
    s.idle = 0;
    int fd = ::fileno(s.file.get());
    for (;;) {
        if (s.unsent == 0) {
            // Never more than was announced, even when the file has grown since.
            uint64_t left = std::min(s.size - std::min(s.size, s.sent), WindowRoom(s));
            if (left == 0 && s.sent < s.size) break;  // the window is full
            ssize_t r = 0;
            if (left > 0) {
                size_t want = static_cast<size_t>(std::min<uint64_t>(s.buffer.size(), left));
                do r = ::read(fd, s.buffer.data(), want);
                while (r < 0 && errno == EINTR);
            }
            if (r < 0) {
                Print(s.window, "Error reading file " + s.name, 4);
                sinit(slot, 1);
                return false;
            }
            if (r == 0) {
                s.eof = true;
                break;
            }
            s.unsent = static_cast<size_t>(r);
            s.unsent_at = 0;
        }
        ssize_t n = SendSome(s.socket, s.buffer.data() + s.unsent_at, s.unsent);
        if (n < 0 && WouldBlock()) break;
        if (n < 0) {
            Print(s.window, "Error sending data... aborted!", 1);
            sinit(slot, 1);
            return false;
        }
        s.unsent -= static_cast<size_t>(n);
        s.unsent_at += static_cast<size_t>(n);
        s.sent += static_cast<uint64_t>(n);
        if (s.unsent) break;
    }
    WatchFor(s.socket, s.interest, SendInterest(s));
    return true;
}

void DoSendGetAck(int slot) {
    SendSlot& s = Dcc().sends[slot];
    if (s.state != 2) return;
    s.idle = 0;
    // Many acknowledgements may be waiting; each is checked, the newest counts.
    char bytes[kAckReadSize];
    ssize_t n = Receive(s.socket, bytes, sizeof bytes);
    if (n == 0) return DoSendClose(slot);
    if (n < 0) {
        if (WouldBlock()) return;
        Print(s.window, "Error receiving acknowledgement... aborted!", 1);
        return sinit(slot, 1);
    }
    uint64_t wrong = 0;
    AckVerdict verdict =
        s.acks.Check(std::string_view(bytes, static_cast<size_t>(n)), s.sent, s.acked, wrong);
    if (verdict == AckVerdict::kNone) return;
    if (verdict == AckVerdict::kWrong && !s.fast) {
        // A receiver that says it has bytes never sent, or fewer than it said before, is not
        // receiving this file: going on would report a transfer that did not happen.
        Print(s.window,
              "Wrong acknowledgement: " + std::to_string(wrong) + " bytes, after " +
                  std::to_string(s.acked) + " of " + std::to_string(s.sent) + " sent... aborted!",
              1);
        return DoSendClose(slot);
    }
    Progress(s.window, "Send", s.nick, s.name, s.sent, s.size, s.meter, false);
    if (s.acked >= s.size) return DoSendClose(slot);
    if (s.unsent || WindowRoom(s)) DoSendNextPacket(slot);
}

// The event loop's call for a send's data connection: the acknowledgement is read and the
// next packet sent in the same round.
void SendReady(int slot, uint64_t generation, short revents) {
    SendSlot& s = Dcc().sends[slot];
    if (s.generation != generation || s.state != 2) return;
    if (revents & (POLLIN | POLLHUP | POLLERR)) {
        DoSendGetAck(slot);
        if (s.generation != generation || s.state != 2) return;
    }
    if (revents & POLLOUT) DoSendNextPacket(slot);
}

void StartSending(int slot);

// Takes the one connection a listening socket waits for and closes the listener: the
// connection, or kNoSocket with the reason printed. No socket messages: the data connection
// is watched directly once set up.
net::Socket TakeConnection(net::Socket& listener, WindowId window, platform::UINT msg) {
    net::Socket c = net::Accept(listener, window, msg, nullptr, 0);
    net::Close(listener);
    listener = c;
    if (c == net::kNoSocket) Print(window, "Unable to allocate socket", 1);
    return c;
}

void DoEstablishConnection(int slot) {
    SendSlot& s = Dcc().sends[slot];
    if (TakeConnection(s.socket, s.window, kMsgSendData) == net::kNoSocket) return sinit(slot, 1);
    StartSending(slot);
}

// The passive get's sender connected to us.
void DoAcceptSender(int slot) {
    GetSlot& g = Dcc().gets[slot];
    if (TakeConnection(g.socket, g.window, kMsgGetData) == net::kNoSocket) return ginit(slot, 1);
    g.idle = 0;
    DoQueryClient(slot);
}

// The data connection is up, accepted or (passive) connected: the file goes out.
void StartSending(int slot) {
    SendSlot& s = Dcc().sends[slot];
    net::Socket c = s.socket;
    s.state = 2;
    s.idle = 0;
    Print(s.window, "DCC Send connection established", 3);
    s.sent = 0;
    s.eof = false;
    StartMeter(s.meter);
    s.packet = ClampPacket(Options().psize);
    s.fast = Options().fsend != 0;
    int fd = ::open((s.dir + s.name).c_str(), O_RDONLY | O_CLOEXEC);
    std::FILE* f = fd >= 0 ? ::fdopen(fd, "rb") : nullptr;
    if (!f) {
        if (fd >= 0) ::close(fd);
        PrintSP(s.window, 1);
        Print(s.window, "Unable to open file", 1);
        return sinit(slot, 1);
    }
    s.file.reset(f);
    if (s.size == 0) {
        PrintSP(s.window, 1);
        Print(s.window, "Sent: 0", 1);
        return DoSendClose(slot);
    }
    if (s.resumed) {
        if (s.resume >= s.size) {
            s.sent = s.size;
            return DoSendClose(slot);
        }
        if (::lseek(fd, static_cast<off_t>(s.resume), SEEK_SET) < 0) {
            Print(s.window, "Unable to open file", 1);
            return sinit(slot, 1);
        }
        s.sent = s.resume;
        Print(s.window, "Resuming transfer at " + std::to_string(s.resume) + " bytes", 3);
    }
    s.acked = s.sent;
    s.buffer.assign(std::max(static_cast<size_t>(s.packet), kSendBlock), 0);
    if (!s.fast) NoDelay(c);
    uint64_t generation = s.generation;
    WatchData(c, s.interest, POLLIN,
              [slot, generation](int, short revents) { SendReady(slot, generation, revents); });
    PrintSP(s.window, 1);
    DoSendNextPacket(slot);
}

}  // namespace

int RunningSends(const std::string& nick) {
    int n = 0;
    for (const SendSlot& s : Dcc().sends)
        n += s.state > 0 && s.state != 5 && EqualNoCase(s.nick, nick);
    return n;
}

void ginit(int slot, int how) {
    GetSlot& g = Dcc().gets[slot];
    net::Close(g.socket);
    g.socket = net::kNoSocket;
    g.file.reset();
    g.ack_pending = 0;
    g.interest = 0;
    if (how == 0) {
        g = GetSlot{};
    } else {
        g.state = 0;
    }
}

void sinit(int slot, int how) {
    SendSlot& s = Dcc().sends[slot];
    net::Close(s.socket);
    s.socket = net::kNoSocket;
    s.file.reset();
    s.buffer.clear();
    s.buffer.shrink_to_fit();
    s.interest = 0;
    if (how == 0) {
        s = SendSlot{};
    } else {
        s.state = 0;
    }
}

namespace {

// Starts a connection to a peer's address, announced to the window as `msg`; kNoSocket with
// the reason printed in the window.
net::Socket ConnectToPeer(WindowId window, const std::string& host, int port, platform::UINT msg) {
    auto to = net::ParseAddress(host, static_cast<uint16_t>(port));
    if (!to) {
        Print(window, "Unable to inet_addr", 1);
        return net::kNoSocket;
    }
    net::Socket s = net::Connect(*to, window, msg, net::FD_CONNECT);
    if (s == net::kNoSocket)
        Print(window, errno == EMFILE ? "Unable to create socket" : "Unable to connect to Client",
              1);
    return s;
}

}  // namespace

void DoConnectToClient(int slot) {
    GetSlot& g = Dcc().gets[slot];
    g.socket = ConnectToPeer(g.window, g.address, g.port, kMsgGetConnect);
    if (g.socket == net::kNoSocket) return ginit(slot, 1);
}

void ConnectPassiveSend(int slot, const std::string& host, int port) {
    SendSlot& s = Dcc().sends[slot];
    s.socket = ConnectToPeer(s.window, host, port, kMsgSendConnect);
    if (s.socket == net::kNoSocket) return sinit(slot, 1);
    s.port = port;
    s.idle = 0;
    Print(s.window, "Connecting to " + host + " port " + std::to_string(port) + "...", 3);
}

void TransferMessage(WindowId window, platform::UINT msg, platform::WPARAM wp,
                     platform::LPARAM lp) {
    net::Socket s = static_cast<net::Socket>(wp);
    uint16_t event = platform::LOWORD(static_cast<uintptr_t>(lp));
    uint16_t error = platform::HIWORD(static_cast<uintptr_t>(lp));
    // Only the setting up comes as messages; the data connections are watched directly.
    if (msg == kMsgGetConnect) {
        int slot = FindGet(window, s);
        if (slot < 0) return Beep();
        // A failed connect is left to the transfer time-out.
        if (event == net::FD_CONNECT && error == 0) DoQueryClient(slot);
        return;
    }
    if (msg == kMsgSendAccept) {
        int slot = FindSend(window, s);
        if (slot < 0) return Beep();
        if (event & net::FD_ACCEPT) DoEstablishConnection(slot);
        return;
    }
    if (msg == kMsgGetAccept) {
        int slot = FindGet(window, s);
        if (slot < 0) return Beep();
        if ((event & net::FD_ACCEPT) && Dcc().gets[slot].state == 2) DoAcceptSender(slot);
        return;
    }
    if (msg == kMsgSendConnect) {
        int slot = FindSend(window, s);
        if (slot < 0) return Beep();
        if (event != net::FD_CONNECT || Dcc().sends[slot].state != 1) return;
        if (error != 0) {
            Print(Dcc().sends[slot].window, "Unable to connect to Client", 1);
            return sinit(slot, 1);
        }
        return StartSending(slot);
    }
    if (FindGet(window, s) < 0 && FindSend(window, s) < 0) Beep();
}

bool TransfersRunning() {
    const DccState& d = Dcc();
    for (int i = 0; i < kSlots; ++i)
        if ((d.sends[i].state > 0 && d.sends[i].state != 5) || d.gets[i].state == 2 ||
            d.gets[i].state == 3)
            return true;
    return false;
}

void WindowClosing(WindowId window) {
    if (!window) return;
    DccState& d = Dcc();
    for (int i = 0; i < kSlots; ++i) {
        if (d.sends[i].window == window) sinit(i, 0);
        if (d.gets[i].window == window) {
            ginit(i, 0);
            if (d.asking == i) d.asking = -1;
        }
        if (d.chats[i].window == window) cinit(i, 0);
    }
}

void TransferTick() {
    const ChatOptions& o = Options();
    DccState& d = Dcc();
    for (int i = 0; i < kSlots; ++i) {
        SendSlot& s = d.sends[i];
        // A window the user closed frees its slot.
        if (s.window && !RecordOf(s.window)) sinit(i, 0);
        if (s.state > 0 && s.state != 5 && ++s.idle > o.tod2) {
            s.state = 5;
            if (s.minimised || o.acsw) {
                Pp(Status(), "DCC Send of " + s.name + " to " + s.nick + " timed out...", 3);
                WindowId w = s.window;
                sinit(i, 0);
                closewindow(w);
            } else {
                PrintSP(s.window, 2);
                Print(s.window, "DCC Send timed out...", 2);
                net::Close(s.socket);
                s.socket = net::kNoSocket;
                s.file.reset();
            }
        }
        GetSlot& g = d.gets[i];
        if (g.window && !RecordOf(g.window)) {
            ginit(i, 0);
            if (d.asking == i) d.asking = -1;
        }
        if ((g.state == 2 || g.state == 3) && ++g.idle > o.tod2) {
            g.state = 5;
            if (o.acgw) {
                Pp(Status(), "DCC Get of " + g.name + " from " + g.nick + " timed out...", 3);
                WindowId w = g.window;
                ginit(i, 0);
                closewindow(w);
            } else {
                PrintSP(g.window, 2);
                Print(g.window, "DCC Get timed out...", 2);
                net::Close(g.socket);
                g.socket = net::kNoSocket;
                g.file.reset();
            }
        }
    }
    // The question about a waiting offer closes itself as a refusal.
    if (d.asking >= 0 && d.gets[d.asking].state == 1 && ++d.get_wait >= o.tod) {
        Pp(Status(), "*** DCC Send request from " + d.gets[d.asking].nick + " was not answered", 3);
        RefuseGet(d.asking);
    }
}

}  // namespace chat::dcc
