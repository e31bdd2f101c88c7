// The data phase of file transfers: connecting and accepting, the packet loop, the 4-byte
// acknowledgements, progress, completion, and the transfer time-outs.
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>

#include "chat/core/options.h"
#include "chat/core/session_state.h"
#include "chat/core/window_print.h"
#include "chat/dcc/dcc_state.h"

namespace chat::dcc {
namespace {

namespace net = platform::net;

// Bytes read per data event: more than one packet, so a fast sender is met with few events;
// every read is acknowledged, which is all a sender needs.
constexpr size_t kReadSize = 64 * 1024;
// Seconds between progress lines in the window (the title follows every percent).
constexpr int64_t kProgressEveryMs = 5000;

WindowId Status() {
    return Windows().statwin;
}

int64_t Seconds(int64_t start_ms) {
    return std::max<int64_t>(1, (SessionNowMs() - start_ms) / 1000);
}

void Retitle(WindowId window, const std::string& title) {
    const WindowRecord* r = RecordOf(window);
    if (r && CurrentFrontend().rename_window)
        CurrentFrontend().rename_window(window, r->name, title);
}

// The title of a transfer window: the percentage with a known size and percent titles on,
// else the byte count.
void Progress(WindowId window, const char* what, const std::string& nick, const std::string& file,
              uint64_t count, uint64_t size, int& last_percent, int64_t& last_ms, bool force) {
    int64_t now = SessionNowMs();
    std::string title;
    if (Options().spap && size) {
        int percent = static_cast<int>(std::min<uint64_t>(100, count * 100 / size));
        if (percent == last_percent && !force) return;
        last_percent = percent;
        title = std::to_string(percent) + "% " + what + " " + nick + " " + file;
    } else {
        if (!force && now - last_ms < 500) return;
        title = std::to_string(count) + " " + what + " " + nick + " " + file;
    }
    Retitle(window, title);
    if (force || now - last_ms >= kProgressEveryMs) {
        if (!force && last_ms != 0)
            Print(window,
                  std::string(what[0] == 'G' ? "Received: " : "Sent: ") + std::to_string(count), 1);
        last_ms = now;
    }
}

// The receiver's small acknowledgements go out at once: otherwise the stack may hold one back
// until the sender's delayed ACK arrives, and a sender that waits for it waits with it. The
// sender keeps the stack's coalescing, which helps fast sends of small packets.
void NoDelay(net::Socket s) {
    int on = 1;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
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
    Progress(g.window, "Get", g.nick, g.name, g.received, g.size, g.last_percent, g.last_title_ms,
             true);
    uint64_t bytes = g.received - std::min(g.received, g.resume);
    int64_t secs = Seconds(g.start_ms);
    Print(g.window,
          "Received: " + std::to_string(bytes) + " bytes in " + std::to_string(secs) + " secs (" +
              std::to_string(bytes / static_cast<uint64_t>(secs)) + " bytes/sec)",
          1);
    bool complete = error == 0 && (g.size == 0 || g.received == g.size);
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
        Print(window, g.size ? "DCC Get completed" : "DCC Get completed (size unknown)", 2);
    else
        Print(window, "DCC Get incomplete!", 1);
    Print(window, "DCC Get session closed", 3);
}

void DoGetSendAck(int slot) {
    GetSlot& g = Dcc().gets[slot];
    while (!g.ack_out.empty()) {
        std::ptrdiff_t n = net::Write(g.socket, g.ack_out);
        if (n > 0) g.ack_out.erase(0, static_cast<size_t>(n));
        if (n == static_cast<std::ptrdiff_t>(0) || n < 0) {
            if (n < 0 && errno != EWOULDBLOCK && errno != EAGAIN) {
                Print(g.window, "Error sending acknowledgement... Aborted!", 1);
                return ginit(slot, 1);
            }
            net::Select(g.socket, g.window, kMsgGetWrite, net::FD_WRITE | net::FD_CLOSE);
            return;
        }
        if (!g.ack_out.empty()) {
            net::Select(g.socket, g.window, kMsgGetWrite, net::FD_WRITE | net::FD_CLOSE);
            return;
        }
    }
}

void QueueAck(GetSlot& g) {
    // Only the newest count matters; a partly sent one must still be finished.
    size_t partial = g.ack_out.size() % 4;
    g.ack_out.resize(partial);
    auto ack = AckBytes(g.received);
    g.ack_out.append(ack.data(), ack.size());
}

void DoQueryClient(int slot) {
    GetSlot& g = Dcc().gets[slot];
    Print(g.window, "DCC Get connection established", 3);
    PrintSP(g.window, 3);
    g.start_ms = SessionNowMs();
    g.last_percent = -1;
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
    NoDelay(g.socket);
    net::Select(g.socket, g.window, kMsgGetData, net::FD_READ | net::FD_CLOSE);
}

void DoGetReceive(int slot) {
    static std::vector<char> buffer(kReadSize);
    GetSlot& g = Dcc().gets[slot];
    if (g.state != 2 || !g.file) return;
    g.idle = 0;
    std::ptrdiff_t n = net::Read(g.socket, buffer);
    if (n == 0) return DoGetClose(slot);
    if (n < 0) {
        if (errno == EWOULDBLOCK || errno == EAGAIN || errno == EINPROGRESS) return;
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
    Progress(g.window, "Get", g.nick, g.name, g.received, g.size, g.last_percent, g.last_title_ms,
             false);
    QueueAck(g);
    DoGetSendAck(slot);
}

void DoSendClose(int slot) {
    SendSlot& s = Dcc().sends[slot];
    Progress(s.window, "Send", s.nick, s.name, s.sent, s.size, s.last_percent, s.last_title_ms,
             true);
    uint64_t resumed = s.resumed ? std::min(s.resume, s.size) : 0;
    uint64_t bytes = std::min(s.sent - std::min(s.sent, resumed), s.size);
    int64_t secs = Seconds(s.start_ms);
    Print(s.window,
          "Sent: " + std::to_string(bytes) + " bytes in " + std::to_string(secs) + " secs (" +
              std::to_string(bytes / static_cast<uint64_t>(secs)) + " bytes/sec)",
          1);
    bool complete = s.sent == s.size;
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

// Sends the next packet (normal mode) or packets until the socket is full (fast send). False
// when the slot was closed.
bool DoSendNextPacket(int slot) {
    SendSlot& s = Dcc().sends[slot];
    if (s.state != 2 || !s.file) return false;
    if (!s.fast && s.acked < s.sent) return true;
    s.idle = 0;
    int fd = ::fileno(s.file.get());
    do {
        if (s.unsent == 0) {
            ssize_t r;
            do r = ::read(fd, s.buffer.data(), s.buffer.size());
            while (r < 0 && errno == EINTR);
            if (r < 0) {
                Print(s.window, "Error reading file " + s.name, 4);
                sinit(slot, 1);
                return false;
            }
            if (r == 0) return true;
            s.unsent = static_cast<size_t>(r);
            s.unsent_at = 0;
        }
        std::ptrdiff_t n =
            net::Write(s.socket, std::span<const char>(s.buffer.data() + s.unsent_at, s.unsent));
        if (n < 0) {
            if (errno == EWOULDBLOCK || errno == EAGAIN) return true;
            Print(s.window, "Error sending data... aborted!", 1);
            sinit(slot, 1);
            return false;
        }
        s.unsent -= static_cast<size_t>(n);
        s.unsent_at += static_cast<size_t>(n);
        s.sent += static_cast<uint64_t>(n);
        if (s.unsent) return true;
    } while (s.fast);
    return true;
}

void DoSendGetAck(int slot) {
    SendSlot& s = Dcc().sends[slot];
    if (s.state != 2) return;
    s.idle = 0;
    char bytes[4096];
    std::ptrdiff_t n = net::Read(s.socket, bytes);
    if (n == 0) return DoSendClose(slot);
    if (n < 0) {
        if (errno == EWOULDBLOCK || errno == EAGAIN) return;
        Print(s.window, "Error receiving acknowledgement... aborted!", 1);
        return sinit(slot, 1);
    }
    auto ack = s.acks.Feed(std::string_view(bytes, static_cast<size_t>(n)));
    if (!ack) return;
    s.acked = AckCount(*ack, s.sent);
    Progress(s.window, "Send", s.nick, s.name, s.sent, s.size, s.last_percent, s.last_title_ms,
             false);
    if (s.acked >= s.size) return DoSendClose(slot);
    if (!s.fast) {
        if (s.acked >= s.sent) DoSendNextPacket(slot);
        return;
    }
    if (s.unsent || s.acked + static_cast<uint64_t>(s.packet) >= s.sent) DoSendNextPacket(slot);
}

void DoEstablishConnection(int slot) {
    SendSlot& s = Dcc().sends[slot];
    net::Socket c = net::Accept(s.socket, s.window, kMsgSendData);
    net::Close(s.socket);
    s.socket = c;
    if (c == net::kNoSocket) {
        Print(s.window, "Unable to allocate socket", 1);
        return sinit(slot, 1);
    }
    s.state = 2;
    s.idle = 0;
    Print(s.window, "DCC Send connection established", 3);
    s.sent = 0;
    s.last_percent = -1;
    s.start_ms = SessionNowMs();
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
    s.buffer.assign(static_cast<size_t>(s.packet), 0);
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
    g.ack_out.clear();
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
    if (how == 0) {
        s = SendSlot{};
    } else {
        s.state = 0;
    }
}

void DoConnectToClient(int slot) {
    GetSlot& g = Dcc().gets[slot];
    auto to = net::ParseAddress(g.address, static_cast<uint16_t>(g.port));
    if (!to) {
        Print(g.window, "Unable to inet_addr", 1);
        return ginit(slot, 1);
    }
    g.socket = net::Connect(*to, g.window, kMsgGetConnect, net::FD_CONNECT);
    if (g.socket == net::kNoSocket) {
        Print(g.window, errno == EMFILE ? "Unable to create socket" : "Unable to connect to Client",
              1);
        return ginit(slot, 1);
    }
}

void TransferMessage(WindowId window, platform::UINT msg, platform::WPARAM wp,
                     platform::LPARAM lp) {
    net::Socket s = static_cast<net::Socket>(wp);
    uint16_t event = platform::LOWORD(static_cast<uintptr_t>(lp));
    uint16_t error = platform::HIWORD(static_cast<uintptr_t>(lp));
    if (msg == kMsgGetConnect || msg == kMsgGetData || msg == kMsgGetWrite) {
        int slot = FindGet(window, s);
        if (slot < 0) return Beep();
        GetSlot& g = Dcc().gets[slot];
        if (msg == kMsgGetConnect) {
            // A failed connect is left to the transfer time-out.
            if (event == net::FD_CONNECT && error == 0) DoQueryClient(slot);
            return;
        }
        if (event & net::FD_READ) return DoGetReceive(slot);
        if (event & net::FD_WRITE) {
            DoGetSendAck(slot);
            if (Dcc().gets[slot].socket == s && g.ack_out.empty())
                net::Select(s, window, kMsgGetData, net::FD_READ | net::FD_CLOSE);
            return;
        }
        if (event & net::FD_CLOSE) {
            if (error && (g.size == 0 || g.received != g.size)) {
                Print(g.window, "Error receiving data... transfer aborted!", 1);
                return ginit(slot, 1);
            }
            return DoGetClose(slot);
        }
        return;
    }
    int slot = FindSend(window, s);
    if (slot < 0) return Beep();
    if (msg == kMsgSendAccept) {
        if (event & net::FD_ACCEPT) DoEstablishConnection(slot);
        return;
    }
    if (event & net::FD_READ) return DoSendGetAck(slot);
    if (event & net::FD_WRITE) {
        DoSendNextPacket(slot);
        return;
    }
    if (event & net::FD_CLOSE) DoSendClose(slot);
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
