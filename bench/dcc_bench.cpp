// A DCC file send over loopback through the real send and get code (both ends in this
// process, driven by the event loop), against a plain TCP copy of the same file in the same
// run. Usage: dcc_bench [MiB] (default 1024).
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "chat/core/loopback_listener.h"
#include "chat/core/options.h"
#include "chat/core/session_state.h"
#include "chat/core/window_table.h"
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

// The plain copy: one thread reads the file into a socket, this one writes what arrives.
double PlainCopy(const std::string& from, const std::string& to) {
    chat::LoopbackListener l;
    auto t0 = std::chrono::steady_clock::now();
    std::thread sender([&] {
        int c = ::accept(l.fd, nullptr, nullptr);
        int fd = ::open(from.c_str(), O_RDONLY);
        std::vector<char> buf(1 << 16);
        for (ssize_t n; (n = ::read(fd, buf.data(), buf.size())) > 0;) {
            for (ssize_t off = 0; off < n;) {
                ssize_t w = ::send(c, buf.data() + off, static_cast<size_t>(n - off), MSG_NOSIGNAL);
                if (w <= 0) std::abort();
                off += w;
            }
        }
        ::close(fd);
        ::close(c);
    });
    int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(l.port));
    if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) std::abort();
    int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<char> buf(1 << 16);
    for (ssize_t n; (n = ::read(s, buf.data(), buf.size())) > 0;)
        if (::write(out, buf.data(), static_cast<size_t>(n)) != n) std::abort();
    ::close(out);
    ::close(s);
    sender.join();
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

    double base = PlainCopy(src, plain);
    double mbs = static_cast<double>(size) / base / 1e6;
    std::printf("plain TCP copy        %8.2f s  %8.1f MB/s\n", base, mbs);
    struct Case {
        int packet;
        bool fast;
        const char* label;
    } cases[] = {{512, false, "DCC packet 512      "},
                 {4096, false, "DCC packet 4096     "},
                 {512, true, "DCC packet 512 fast "},
                 {4096, true, "DCC packet 4096 fast"}};
    for (const Case& c : cases) {
        double t = DccCopy(src, c.packet, c.fast, size);
        double rate = static_cast<double>(size) / t / 1e6;
        std::printf("%s  %8.2f s  %8.1f MB/s  %5.1f%% of plain\n", c.label, t, rate,
                    100.0 * rate / mbs);
        std::fflush(stdout);
    }
    std::string cmd = "rm -rf '" + dir + "'";
    return std::system(cmd.c_str()) == 0 ? 0 : 1;
}
