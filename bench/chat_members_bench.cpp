// A flood into one big channel, whole processes: a loopback server logs the client on, puts it
// in #flood with N members, sends a million lines of 80 to 400 bytes (5% of them members
// joining, leaving, renaming and quitting), then a PING, and times the run to the PONG. The
// client is vesk32 --headless with its output to /dev/null; the floor is a bare loop that only
// reads, splits and answers the PING. Runs alternate, and medians are printed with the peak
// memory of the client.
//
//   chat_members_bench [--vesk PATH] [--lines L] [--rounds R] [--members N,N...]
//   chat_members_bench --serve N [--lines L] [--announce]
//       one run for a client started elsewhere (tmux): prints "port P", then the result line;
//       with --announce also "flood starts" when the client is ready and the clock starts
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "bench/flood_traffic.h"

namespace {

using flood::Next;

std::string Nick(int serial) {
    return "m" + std::to_string(serial);
}

std::string Prefix(const std::string& nick) {
    return ":" + nick + "!~" + nick + "@host-" + nick + ".example.net";
}

// The channel's members at the start (NAMES) and the flood itself.
struct Traffic {
    std::string names;  ///< 353 lines and the 366, \x01 where the client's nick goes
    std::string flood;  ///< the lines, then the PING
    int churn = 0;      ///< membership lines among them
};

Traffic MakeTraffic(int members, int lines) {
    Traffic t;
    uint64_t s = 88172645463325252ull;
    std::vector<std::string> present;
    int serial = 0;
    for (int i = 0; i < members; ++i) present.push_back(Nick(serial++));
    std::string row;
    for (size_t i = 0; i < present.size(); ++i) {
        const char* mark = i % 50 == 0 ? "@" : i % 20 == 0 ? "+" : "";
        row += (row.empty() ? "" : " ") + std::string(mark) + present[i];
        if (row.size() > 380 || i + 1 == present.size()) {
            t.names += ":irc.bench 353 \x01 = #flood :" + row + "\r\n";
            row.clear();
        }
    }
    t.names += ":irc.bench 366 \x01 #flood :End of /NAMES list.\r\n";

    t.flood.reserve(static_cast<size_t>(lines) * 245);
    // Two joins, two leaves and one rename in every five membership lines keep the size.
    static const char* cycle[] = {"JOIN", "PART", "JOIN", "QUIT", "NICK"};
    int step = 0;
    for (int i = 0; i < lines; ++i) {
        size_t start = t.flood.size();
        if (Next(s) % 100 < 5) {
            ++t.churn;
            std::string kind = cycle[step++ % 5];
            if (present.size() < 2) kind = "JOIN";
            if (kind == "JOIN") {
                present.push_back(Nick(serial++));
                t.flood += Prefix(present.back()) + " JOIN :#flood\r\n";
                continue;
            }
            size_t who = Next(s) % present.size();
            std::string nick = present[who];
            if (kind == "NICK") {
                present[who] = Nick(serial++);
                t.flood += Prefix(nick) + " NICK :" + present[who] + "\r\n";
                continue;
            }
            present[who] = present.back();
            present.pop_back();
            t.flood += Prefix(nick) +
                       (kind == "PART" ? " PART #flood :bye\r\n" : " QUIT :Quit: later\r\n");
            continue;
        }
        size_t target = 80 + Next(s) % 321;
        t.flood += Prefix(present[Next(s) % present.size()]) + " PRIVMSG #flood :";
        flood::FinishLine(t.flood, start, target, s);
    }
    t.flood += "PING :flood-end\r\n";
    return t;
}

int Listen(int& port) {
    int l = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(l, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(l, 4) != 0) {
        std::perror("listen");
        std::exit(1);
    }
    socklen_t len = sizeof a;
    ::getsockname(l, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
    return l;
}

bool SendAll(int fd, std::string_view data) {
    while (!data.empty()) {
        ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
        if (n <= 0) return false;
        data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

// Reads the client's lines until one starts with `prefix`; false when the client closed.
bool ReadUntil(int fd, std::string& buf, std::string_view prefix, std::string* line = nullptr) {
    for (;;) {
        for (size_t lf; (lf = buf.find('\n')) != std::string::npos;) {
            std::string got = buf.substr(0, lf);
            buf.erase(0, lf + 1);
            if (got.compare(0, prefix.size(), prefix) == 0) {
                if (line) *line = got;
                return true;
            }
        }
        char tmp[4096];
        ssize_t n = ::recv(fd, tmp, sizeof tmp, 0);
        if (n <= 0) return false;
        buf.append(tmp, static_cast<size_t>(n));
    }
}

double Seconds(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// Peak resident memory (kB) and CPU seconds of a live process, from /proc.
long PeakKb(pid_t pid) {
    std::ifstream f("/proc/" + std::to_string(pid) + "/status");
    for (std::string l; std::getline(f, l);)
        if (l.rfind("VmHWM:", 0) == 0) return std::atol(l.c_str() + 6);
    return 0;
}

double CpuSeconds(pid_t pid) {
    std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
    std::string all((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    size_t close = all.rfind(')');
    if (close == std::string::npos) return 0;
    std::istringstream in(all.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && in >> field; ++i) {
        if (i == 14) utime = std::stoull(field);
        if (i == 15) stime = std::stoull(field);
    }
    return double(utime + stime) / double(::sysconf(_SC_CLK_TCK));
}

struct Result {
    double seconds = 0;
    double cpu = 0;
    long peak_kb = 0;
};

// Serves one client on `listener`: logon, channel, flood, PING; times the flood to the PONG.
// `pid` (when known) is sampled for CPU and memory.
bool ServeOne(int listener, const Traffic& t, pid_t pid, Result& r, bool announce = false) {
    // A client that never comes or stops answering ends the run instead of hanging it.
    pollfd waiting{listener, POLLIN, 0};
    if (::poll(&waiting, 1, 30000) != 1) return false;
    int c = ::accept(listener, nullptr, nullptr);
    if (c < 0) return false;
    timeval limit{120, 0};
    ::setsockopt(c, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    std::string buf, nick_line;
    if (!ReadUntil(c, buf, "NICK ", &nick_line)) return false;
    std::string nick = nick_line.substr(5);
    while (!nick.empty() && (nick.back() == '\r' || nick.front() == ':')) {
        if (nick.back() == '\r') nick.pop_back();
        if (!nick.empty() && nick.front() == ':') nick.erase(0, 1);
    }
    if (!ReadUntil(c, buf, "USER ")) return false;
    std::string logon = ":irc.bench 001 " + nick + " :Welcome to the bench\r\n" +
                        ":irc.bench 005 " + nick + " PREFIX=(ov)@+ CHANTYPES=# :are supported\r\n" +
                        ":irc.bench 376 " + nick + " :End of /MOTD command.\r\n" + ":" + nick +
                        "!~b@localhost JOIN :#flood\r\n";
    std::string names;
    for (char ch : t.names) {
        if (ch == '\x01')
            names += nick;
        else
            names += ch;
    }
    // The logon is answered before the clock starts: a PING/PONG round trip marks the point
    // where the client has its channel and member list.
    if (!SendAll(c, logon + names + "PING :ready\r\n") || !ReadUntil(c, buf, "PONG")) return false;
    if (announce) {
        std::printf("flood starts\n");
        std::fflush(stdout);
    }
    double cpu0 = pid > 0 ? CpuSeconds(pid) : 0;
    auto t0 = std::chrono::steady_clock::now();
    std::thread sender([&] { SendAll(c, t.flood); });
    bool ok = ReadUntil(c, buf, "PONG");
    r.seconds = Seconds(t0);
    sender.join();
    if (pid > 0) {
        r.cpu = CpuSeconds(pid) - cpu0;
        r.peak_kb = PeakKb(pid);
    }
    ::close(c);
    return ok;
}

// The floor: reads, splits into lines and answers PING, nothing else.
[[noreturn]] void BareClient(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) _exit(1);
    const char hello[] = "NICK bare\r\nUSER bare 0 * :bare\r\n";
    if (::write(fd, hello, sizeof hello - 1) < 0) _exit(1);
    size_t lines = flood::ReadLines(fd, [fd](std::string_view line) {
        if (line.substr(0, 5) == "PING ") {
            std::string pong = "PONG " + std::string(line.substr(5)) + "\n";
            if (::write(fd, pong.data(), pong.size()) < 0) _exit(1);
        }
        return true;
    });
    if (lines == 0) _exit(1);
    _exit(0);
}

std::string SelfDir() {
    char path[4096];
    ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return ".";
    std::string p(path, static_cast<size_t>(n));
    return p.substr(0, p.rfind('/'));
}

// vesk32 --headless with settings in a private folder, output to /dev/null, input a pipe
// kept open (its end would end the client).
pid_t StartVesk(const std::string& vesk, const std::string& home, int port, int& input) {
    int pipefd[2];
    if (::pipe(pipefd) != 0) std::exit(1);
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(pipefd[0], 0);
        ::close(pipefd[0]);
        ::close(pipefd[1]);
        int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::dup2(null, 2);
        ::setenv("XDG_CONFIG_HOME", home.c_str(), 1);
        std::string server = "127.0.0.1:" + std::to_string(port);
        ::execl(vesk.c_str(), vesk.c_str(), "--headless", "-n", "bench", "-s", server.c_str(),
                static_cast<char*>(nullptr));
        _exit(127);
    }
    ::close(pipefd[0]);
    input = pipefd[1];
    return pid;
}

void Stop(pid_t pid, int input) {
    if (input >= 0) ::close(input);
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

int Serve(int members, int lines, bool announce) {
    Traffic t = MakeTraffic(members, lines);
    int port = 0;
    int l = Listen(port);
    std::printf("port %d\n", port);
    std::fflush(stdout);
    Result r;
    if (!ServeOne(l, t, 0, r, announce)) {
        std::fprintf(stderr, "the client went away\n");
        return 1;
    }
    std::printf("N=%d: %d lines in %.3f s, %.0f lines/s\n", members, lines, r.seconds,
                lines / r.seconds);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string vesk = SelfDir() + "/../chat/vesk32";
    int lines = 1000000, rounds = 5;
    std::vector<int> sizes = {10, 10000};
    int serve = -1;
    bool announce = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--announce") {
            announce = true;
            continue;
        }
        if (i + 1 >= argc) break;
        std::string v = argv[++i];
        if (a == "--vesk")
            vesk = v;
        else if (a == "--lines")
            lines = std::atoi(v.c_str());
        else if (a == "--rounds")
            rounds = std::atoi(v.c_str());
        else if (a == "--serve")
            serve = std::atoi(v.c_str());
        else if (a == "--members") {
            sizes.clear();
            std::stringstream in(v);
            for (std::string n; std::getline(in, n, ',');) sizes.push_back(std::atoi(n.c_str()));
        }
    }
    ::signal(SIGPIPE, SIG_IGN);
    if (serve >= 0) return Serve(serve, lines, announce);

    char tmpl[] = "/tmp/chatmembersXXXXXX";
    std::string home = ::mkdtemp(tmpl);
    std::string ini = home + "/vesk32";
    ::mkdir(ini.c_str(), 0700);
    std::ofstream(ini + "/vesk.ini") << "[Vesk]\nnick=bench\nanick=bench_\nuser=Bench\n"
                                        "email=bench@localhost\n";
    std::vector<Traffic> traffic;
    for (int n : sizes) {
        traffic.push_back(MakeTraffic(n, lines));
        std::printf("N=%d: %d lines, %.1f MB, %d of them membership changes\n", n, lines,
                    traffic.back().flood.size() / 1e6, traffic.back().churn);
    }
    std::vector<std::vector<double>> bare(sizes.size()), ours(sizes.size()), cpu(sizes.size()),
        bare_cpu(sizes.size());
    std::vector<long> peak(sizes.size(), 0);
    for (int round = 0; round < rounds; ++round) {
        for (size_t k = 0; k < sizes.size(); ++k) {
            int port = 0;
            int l = Listen(port);
            pid_t b = ::fork();
            if (b == 0) BareClient(port);
            Result rb;
            if (!ServeOne(l, traffic[k], 0, rb)) std::fprintf(stderr, "bare loop failed\n");
            rusage use{};
            ::wait4(b, nullptr, 0, &use);
            bare[k].push_back(rb.seconds);
            bare_cpu[k].push_back(use.ru_utime.tv_sec + use.ru_stime.tv_sec +
                                  (use.ru_utime.tv_usec + use.ru_stime.tv_usec) / 1e6);

            int input = -1;
            pid_t v = StartVesk(vesk, home, port, input);
            Result rv;
            if (!ServeOne(l, traffic[k], v, rv)) {
                std::fprintf(stderr, "vesk32 (%s) did not finish the run\n", vesk.c_str());
                Stop(v, input);
                return 1;
            }
            Stop(v, input);
            ::close(l);
            ours[k].push_back(rv.seconds);
            cpu[k].push_back(rv.cpu);
            peak[k] = std::max(peak[k], rv.peak_kb);
        }
        std::fprintf(stderr, "round %d of %d done\n", round + 1, rounds);
    }
    std::printf("\nmedians of %d alternating rounds; %d lines each\n", rounds, lines);
    // On a shared machine the CPU seconds of each client say more than the wall clock.
    std::printf("%-8s %14s %14s %9s %11s %11s %9s %12s\n", "members", "bare lines/s",
                "vesk32 lines/s", "x floor", "bare cpu s", "vesk cpu s", "x (cpu)", "peak memory");
    for (size_t k = 0; k < sizes.size(); ++k) {
        double b = Median(bare[k]), o = Median(ours[k]);
        double bc = Median(bare_cpu[k]), oc = Median(cpu[k]);
        std::printf("%-8d %14.0f %14.0f %8.1fx %11.3f %11.3f %8.1fx %9.1f MB\n", sizes[k],
                    lines / b, lines / o, o / b, bc, oc, bc > 0 ? oc / bc : 0.0, peak[k] / 1024.0);
    }
    std::string cmd = "rm -rf '" + home + "'";
    return std::system(cmd.c_str()) == 0 ? 0 : 1;
}
