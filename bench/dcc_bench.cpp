// A DCC file send over loopback through the real send and get code (both ends in this
// process, driven by the event loop), against two baselines of the same file in the same run:
// a plain TCP bulk copy, and a bare loop of two threads that speaks the same acknowledged
// protocol at the same packet size (so what the protocol costs and what our code adds can be
// told apart). Usage: dcc_bench [MiB [runs]] (default 1024 MiB, 1 run); with several runs each
// case reports its best, which is what a busy machine disturbs least.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "chat/core/connection/loopback_listener.h"
#include "chat/core/options.h"
#include "chat/core/session/session_state.h"
#include "chat/core/windows/window_table.h"
#include "chat/dcc/dcc_state.h"
#include "platform/event_loop.h"

namespace {

double Seconds(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

void MakeFile(const std::string& path, uint64_t size) {
    std::vector<char> block(1 << 20);
    uint64_t s = 88172645463325252ull;
    for (char& c : block) {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        c = static_cast<char>(s);
    }
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    for (uint64_t left = size; left > 0;) {
        size_t n = static_cast<size_t>(std::min<uint64_t>(left, block.size()));
        if (::write(fd, block.data(), n) != static_cast<ssize_t>(n)) std::abort();
        left -= n;
    }
    ::close(fd);
}

void SendAll(int socket, const char* data, size_t size) {
    for (size_t off = 0; off < size;) {
        ssize_t w = ::send(socket, data + off, size - off, MSG_NOSIGNAL);
        if (w <= 0) std::abort();
        off += static_cast<size_t>(w);
    }
}

void NoDelay(int socket) {
    int on = 1;
    ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

int ConnectTo(int port) {
    int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) std::abort();
    return s;
}

// The plain copy: one thread reads the file into a socket, this one writes what arrives.
double PlainCopy(const std::string& from, const std::string& to) {
    chat::LoopbackListener l;
    auto t0 = std::chrono::steady_clock::now();
    std::thread sender([&] {
        int c = ::accept(l.fd, nullptr, nullptr);
        int fd = ::open(from.c_str(), O_RDONLY);
        std::vector<char> buf(1 << 16);
        for (ssize_t n; (n = ::read(fd, buf.data(), buf.size())) > 0;)
            SendAll(c, buf.data(), static_cast<size_t>(n));
        ::close(fd);
        ::close(c);
    });
    int s = ConnectTo(l.port);
    int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<char> buf(1 << 16);
    for (ssize_t n; (n = ::read(s, buf.data(), buf.size())) > 0;)
        if (::write(out, buf.data(), static_cast<size_t>(n)) != n) std::abort();
    ::close(out);
    ::close(s);
    sender.join();
    return Seconds(t0);
}

// The same protocol written as plainly as it can be, in the shape of the DCC run (both ends in
// one thread around one poll): the sender sends a packet and, unless fast, waits until
// everything sent is acknowledged; the receiver reads up to 4096 bytes, writes them and
// acknowledges the total at once. What the DCC run takes beyond this is our code's.
double BareAcknowledged(const std::string& from, const std::string& to, int packet, bool fast) {
    chat::LoopbackListener l;
    auto t0 = std::chrono::steady_clock::now();
    int get = ConnectTo(l.port);
    int send = ::accept4(l.fd, nullptr, nullptr, SOCK_NONBLOCK);
    ::fcntl(get, F_SETFL, O_NONBLOCK);
    NoDelay(get);
    if (!fast) NoDelay(send);
    int in = ::open(from.c_str(), O_RDONLY);
    int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<char> packet_buffer(static_cast<size_t>(packet));
    char data[4096], acks[4096];
    size_t unsent = 0, unsent_at = 0;
    uint32_t sent = 0, acked = 0, got = 0;
    unsigned char part[4];
    int have = 0;
    bool eof = false, done = false;
    // Sends packets: one (acknowledged) or until the socket is full (fast).
    auto send_packets = [&] {
        do {
            if (unsent == 0) {
                ssize_t r = ::read(in, packet_buffer.data(), packet_buffer.size());
                if (r <= 0) {
                    eof = true;
                    return;
                }
                unsent = static_cast<size_t>(r);
                unsent_at = 0;
            }
            ssize_t w = ::send(send, packet_buffer.data() + unsent_at, unsent, MSG_NOSIGNAL);
            if (w < 0) return;
            unsent -= static_cast<size_t>(w);
            unsent_at += static_cast<size_t>(w);
            sent += static_cast<uint32_t>(w);
            if (unsent) return;
        } while (fast);
    };
    send_packets();
    while (!done) {
        pollfd fds[2] = {
            {get, POLLIN, 0},
            {send, static_cast<short>(POLLIN | (unsent || (fast && !eof) ? POLLOUT : 0)), 0}};
        if (::poll(fds, 2, -1) <= 0) continue;
        if (fds[0].revents) {
            ssize_t n = ::recv(get, data, sizeof data, 0);
            if (n > 0) {
                if (::write(out, data, static_cast<size_t>(n)) != n) std::abort();
                got += static_cast<uint32_t>(n);
                uint32_t ack = htonl(got);
                SendAll(get, reinterpret_cast<const char*>(&ack), sizeof ack);
            }
        }
        if (fds[1].revents & POLLIN) {
            ssize_t n = ::recv(send, acks, sizeof acks, 0);
            for (ssize_t i = 0; i < n; ++i) {
                part[have++] = static_cast<unsigned char>(acks[i]);
                if (have == 4) {
                    acked = (uint32_t{part[0]} << 24) | (uint32_t{part[1]} << 16) |
                            (uint32_t{part[2]} << 8) | part[3];
                    have = 0;
                }
            }
            if (eof && unsent == 0 && acked == sent) done = true;
            if (!fast && acked == sent && !eof) send_packets();
        }
        if (fds[1].revents & POLLOUT) send_packets();
        if (eof && unsent == 0 && acked == sent) done = true;
    }
    ::close(in);
    ::close(out);
    ::close(send);
    ::close(get);
    return Seconds(t0);
}

// One send from a send slot to a get slot of this process.
double DccCopy(const std::string& from, int packet, bool fast, uint64_t size) {
    chat::ChatOptions& o = chat::Options();
    o.psize = packet;
    o.fsend = fast ? 1 : 0;
    std::string offer;
    chat::Session().send = [&](std::string_view line, bool) {
        size_t at = line.find('\x01');
        if (at != std::string_view::npos) offer = std::string(line.substr(at));
    };
    if (!chat::dcc::StartSend("peer", from, false)) std::abort();
    chat::dcc::HandleRequest("peer", offer);
    int get = -1;
    for (int i = 0; i < chat::dcc::kSlots; ++i)
        if (chat::dcc::Dcc().gets[i].state == 1) get = i;
    if (get < 0) std::abort();
    auto t0 = std::chrono::steady_clock::now();
    chat::dcc::AcceptGet(get, 2, "");
    auto& d = chat::dcc::Dcc();
    // The data connections run inside the loop's poll without messages: a timer brings the
    // loop back now and then to see whether the transfer ended.
    platform::SetTimer(0, 1, 10);
    platform::MSG msg;
    while (true) {
        bool busy = false;
        for (int i = 0; i < chat::dcc::kSlots; ++i)
            busy |= d.sends[i].state != 0 || d.gets[i].state != 0;
        if (!busy) break;
        if (!platform::GetMessage(msg)) break;
        platform::DispatchMessage(msg);
    }
    double t = Seconds(t0);
    platform::KillTimer(0, 1);
    bool whole = d.gets[get].received == size;
    for (int i = 0; i < chat::dcc::kSlots; ++i) {
        if (d.sends[i].window) chat::closewindow(d.sends[i].window);
        if (d.gets[i].window) chat::closewindow(d.gets[i].window);
        chat::dcc::ginit(i, 0);
        chat::dcc::sinit(i, 0);
    }
    if (!whole) {
        std::fprintf(stderr, "transfer incomplete\n");
        std::exit(1);
    }
    return t;
}

}  // namespace

int main(int argc, char** argv) {
    uint64_t mib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1024;
    int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 1;
    uint64_t size = mib << 20;
    char tmpl[] = "/tmp/dcc-bench-XXXXXX";
    if (!::mkdtemp(tmpl)) return 1;
    std::string dir = tmpl;
    std::string src = dir + "/src.bin", plain = dir + "/plain.bin";
    MakeFile(src, size);
    std::ofstream(dir + "/vesk.ini") << "[Dirs]\ngetdir=" << dir << "/get\n";
    ::mkdir((dir + "/get").c_str(), 0700);

    chat::Options().szINI = dir + "/vesk.ini";
    chat::Options().sip = 0x7F000001u;
    chat::Options().szsip = "127.0.0.1";
    chat::Options().bsc = 0;
    chat::Session().nick = "me";
    chat::MakeNewWindow("Status Window", false);
    chat::dcc::InstallDcc();

    // The best of the runs, in MB/s.
    auto best = [size, runs](const std::function<double()>& run) {
        double fastest = 0;
        for (int i = 0; i < runs; ++i) {
            double t = run();
            if (fastest == 0 || t < fastest) fastest = t;
        }
        return static_cast<double>(size) / fastest / 1e6;
    };
    double plain_rate = best([&] { return PlainCopy(src, plain); });
    std::printf("%llu MiB over loopback; plain TCP bulk copy %.1f MB/s\n",
                static_cast<unsigned long long>(mib), plain_rate);
    std::printf("%-22s %10s %10s %9s %9s %9s\n", "case", "DCC MB/s", "bare MB/s", "DCC/plain",
                "bare/plain", "DCC/bare");
    struct Case {
        int packet;
        bool fast;
    } cases[] = {{512, false}, {4096, false}, {512, true}, {4096, true}};
    for (const Case& c : cases) {
        double bare = best([&] { return BareAcknowledged(src, plain, c.packet, c.fast); });
        double dcc = best([&] { return DccCopy(src, c.packet, c.fast, size); });
        std::printf("packet %4d %-11s %10.1f %10.1f %8.1f%% %8.1f%% %8.1f%%\n", c.packet,
                    c.fast ? "fast" : "acknowledged", dcc, bare, 100.0 * dcc / plain_rate,
                    100.0 * bare / plain_rate, 100.0 * dcc / bare);
        std::fflush(stdout);
    }
    std::string cmd = "rm -rf '" + dir + "'";
    return std::system(cmd.c_str()) == 0 ? 0 : 1;
}
