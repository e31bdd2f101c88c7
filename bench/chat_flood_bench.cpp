// A flood of server lines over loopback: the chat client's connection, line splitting and
// printing into one logged window, against a bare loop that only reads and splits the same
// bytes. Also the memory of a long scroll-back.
#include <arpa/inet.h>
#include <malloc.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <clocale>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>

#include "bench/flood_traffic.h"
#include "chat/core/connection/connection.h"
#include "chat/core/connection/loopback_listener.h"
#include "chat/core/options.h"
#include "chat/core/windows/window_log.h"
#include "chat/core/windows/window_print.h"
#include "chat/core/windows/window_table.h"
#include "platform/event_loop.h"
#include "platform/net.h"

namespace {

constexpr int kLines = 1000000;

using flood::Next;

// PRIVMSG traffic of 80 to 400 bytes per line, a few dozen senders and channels.
std::string MakeTraffic(int lines) {
    std::string out;
    out.reserve(static_cast<size_t>(lines) * 245);
    uint64_t s = 88172645463325252ull;
    for (int i = 0; i < lines; ++i) {
        size_t target = 80 + Next(s) % 321;
        size_t start = out.size();
        char prefix[128];
        std::snprintf(prefix, sizeof prefix,
                      ":user%llu!~u%llu@host-%llu.example.net PRIVMSG #chan%llu :",
                      static_cast<unsigned long long>(Next(s) % 50),
                      static_cast<unsigned long long>(Next(s) % 50),
                      static_cast<unsigned long long>(Next(s) % 1000),
                      static_cast<unsigned long long>(Next(s) % 5));
        out += prefix;
        flood::FinishLine(out, start, target, s);
    }
    return out;
}

// Accepts one client, drains whatever it sends, writes all traffic, closes.
std::thread Serve(const chat::LoopbackListener& l, const std::string& traffic) {
    return std::thread([&l, &traffic] {
        int c = ::accept(l.fd, nullptr, nullptr);
        std::thread drain([c] {
            char buf[4096];
            while (::recv(c, buf, sizeof buf, 0) > 0) {
            }
        });
        size_t off = 0;
        while (off < traffic.size()) {
            ssize_t n = ::send(c, traffic.data() + off, traffic.size() - off, MSG_NOSIGNAL);
            if (n <= 0) break;
            off += static_cast<size_t>(n);
        }
        ::shutdown(c, SHUT_WR);
        drain.join();
        ::close(c);
    });
}

// CPU seconds of the calling thread (the machine may be shared: wall time alone misleads).
double ThreadCpu() {
    rusage u{};
    ::getrusage(RUSAGE_THREAD, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double Seconds(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

double BareLoop(const std::string& traffic, long& lines, double& cpu) {
    chat::LoopbackListener l;
    std::thread server = Serve(l, traffic);
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(l.port));
    auto t0 = std::chrono::steady_clock::now();
    double c0 = ThreadCpu();
    ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::shutdown(fd, SHUT_WR);
    size_t sum = 0;
    lines = static_cast<long>(flood::ReadLines(fd, [&sum](std::string_view line) {
        sum += line.size();
        return true;
    }));
    double t = Seconds(t0);
    cpu = ThreadCpu() - c0;
    ::close(fd);
    server.join();
    if (sum == 0) std::puts("");
    return t;
}

double ClientLoop(const std::string& traffic, long& lines, const std::string& dir,
                  size_t& buffer_lines, double& cpu) {
    using namespace chat;
    platform::ResetEventLoop();
    ResetWindows();
    ResetOptions();
    ResetConnection();
    InstallFrontend(Frontend{});
    ChatOptions& o = Options();
    o.szLogDir = dir + "/";
    o.szINI = dir + "/vesk.ini";
    o.szNickName = "bench";
    o.szUser = "Bench";
    o.szEmail = "bench@localhost";
    o.szHostName = "127.0.0.1";
    o.linesep.clear();
    chat::LoopbackListener l;
    o.Port = l.port;
    platform::HWND frame = platform::CreateWindow(
        [](platform::HWND, platform::UINT m, platform::WPARAM w, platform::LPARAM p) {
            ConnectionMessage(m, w, p);
            return platform::LRESULT{0};
        });
    Conn().frame = frame;
    MakeNewWindow("Status Window", false);
    WindowId chan = MakeNewWindow("#flood", false);
    WindowResized(chan, 120, 40);
    logwindow(chan, false, false);
    static long delivered = 0;
    static WindowId target = 0;
    delivered = 0;
    target = chan;
    Conn().parseline = [](std::string_view line) {
        ++delivered;
        Windows().mw = 85;
        Print(target, line, 0);
    };
    std::thread server = Serve(l, traffic);
    auto t0 = std::chrono::steady_clock::now();
    double c0 = ThreadCpu();
    DoInitConnect(true);
    platform::MSG msg;
    bool seen_connected = false;
    while (platform::GetMessage(msg)) {
        platform::DispatchMessage(msg);
        if (Conn().Connected) seen_connected = true;
        if (seen_connected && !Conn().Connected) break;
    }
    FlushLogs();
    double t = Seconds(t0);
    cpu = ThreadCpu() - c0;
    server.join();
    lines = delivered;
    buffer_lines = RecordOf(chan)->buffer.size();
    ResetWindows();
    ResetConnection();
    return t;
}

size_t HeapInUse() {
    return mallinfo2().uordblks;
}

}  // namespace

int main() {
    std::setlocale(LC_CTYPE, "C.UTF-8");
    char tmpl[] = "/tmp/chatfloodXXXXXX";
    std::string dir = ::mkdtemp(tmpl);
    std::string traffic = MakeTraffic(kLines);
    std::printf("traffic: %d lines, %.1f MB\n", kLines, traffic.size() / 1e6);

    // Both loops run several times, alternating, and each keeps its best run: on a shared
    // machine a single run of either can be slowed by twice its time.
    constexpr int kRuns = 5;
    long bare_lines = 0, client_lines = 0;
    size_t buffer_lines = 0;
    double bare = 1e9, bare_cpu = 1e9, client = 1e9, client_cpu = 1e9;
    for (int run = 0; run < kRuns; ++run) {
        double cpu = 0;
        bare = std::min(bare, BareLoop(traffic, bare_lines, cpu));
        bare_cpu = std::min(bare_cpu, cpu);
        client = std::min(client, ClientLoop(traffic, client_lines, dir, buffer_lines, cpu));
        client_cpu = std::min(client_cpu, cpu);
        std::string logs = "rm -f '" + dir + "'/*.log";
        if (std::system(logs.c_str()) != 0) return 1;
    }
    std::printf("best of %d runs each\n", kRuns);
    std::printf("bare read-and-split: %ld lines in %.3f s (cpu %.3f s)\n", bare_lines, bare,
                bare_cpu);
    std::printf("client (split, Print, log): %ld lines in %.3f s (cpu %.3f s), %.2f us/line\n",
                client_lines, client, client_cpu, client * 1e6 / client_lines);
    std::printf("ratio client/bare: %.1fx wall, %.1fx cpu (target <= 10x)\n", client / bare,
                client_cpu / bare_cpu);
    std::printf("scroll-back after the flood: %zu lines (cap %d)\n", buffer_lines,
                chat::ChatOptions{}.sbbs);

    // Memory of 100,000 display lines of scroll-back.
    chat::ResetWindows();
    chat::ResetOptions();
    chat::Options().linesep.clear();
    platform::ResetEventLoop();
    chat::MakeNewWindow("Status Window", false);
    chat::WindowId w = chat::MakeNewWindow("#mem", false);
    chat::WindowResized(w, 120, 40);
    chat::Options().sbbs = 100000;  // past the settings' limit on purpose, to measure
    size_t before = HeapInUse();
    size_t pos = 0;
    while (chat::RecordOf(w)->buffer.size() < 100000) {
        size_t lf = traffic.find('\n', pos);
        chat::Windows().mw = 85;
        chat::Print(w, std::string_view(traffic).substr(pos, lf - 1 - pos), 0);
        pos = lf + 1;
    }
    size_t after = HeapInUse();
    size_t bytes = 0;
    for (const auto& l : chat::RecordOf(w)->buffer) bytes += l.text.size();
    std::printf("100,000 scroll-back lines: %.1f MB heap (%.0f bytes/line, text %.0f bytes/line)\n",
                (after - before) / 1e6, double(after - before) / 100000.0,
                double(bytes) / 100000.0);
    std::string cmd = "rm -rf '" + dir + "'";
    return std::system(cmd.c_str()) == 0 ? 0 : 1;
}
