// The server line parser under a flood: 1,000,000 PRIVMSG lines through parseline into five
// channel windows whose nick lists hold 10,000 members each (built from NAMES replies first),
// against a bare loop that only reads the same bytes from a socket and splits them into lines.
// Then joins, parts and nick changes on lists of 1,000 and 10,000 members, to show that their
// cost does not grow with the list.
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <clocale>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <thread>

#include "chat/core/options.h"
#include "chat/core/session/address_cache.h"
#include "chat/core/session/nick_list.h"
#include "chat/core/session/server_parser.h"
#include "chat/core/session/session_state.h"
#include "chat/core/windows/window_print.h"
#include "chat/core/windows/window_table.h"
#include "platform/event_loop.h"

namespace {

constexpr int kLines = 1000000;
constexpr int kChannels = 5;
constexpr int kMembers = 10000;

uint64_t Next(uint64_t& s) {
    s ^= s << 13;
    s ^= s >> 7;
    s ^= s << 17;
    return s;
}

std::string MakeTraffic() {
    static const char* words[] = {"hello", "the",    "build",   "is",       "green", "again",
                                  "did",   "you",    "see",     "that",     "patch", "lol",
                                  "ok",    "thanks", "release", "tomorrow", "why"};
    std::string out;
    out.reserve(static_cast<size_t>(kLines) * 245);
    uint64_t s = 88172645463325252ull;
    for (int i = 0; i < kLines; ++i) {
        size_t target = 80 + Next(s) % 321;
        size_t start = out.size();
        uint64_t who = Next(s) % kMembers;
        out += ":member" + std::to_string(who) + "!~u" + std::to_string(who) + "@host-" +
               std::to_string(who % 1000) + ".example.net PRIVMSG #chan" +
               std::to_string(Next(s) % kChannels) + " :";
        while (out.size() - start + 2 < target) {
            out += words[Next(s) % (sizeof words / sizeof *words)];
            out += ' ';
        }
        out.resize(start + target - 2);
        out += "\r\n";
    }
    return out;
}

double ThreadCpu() {
    rusage u{};
    ::getrusage(RUSAGE_THREAD, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Reads the traffic from a socket and splits it into lines, handing each to `line`.
template <typename Each>
double ReadAndSplit(const std::string& traffic, Each&& line, double& cpu) {
    int sv[2];
    ::socketpair(AF_UNIX, SOCK_STREAM, 0, sv);
    std::thread writer([&traffic, fd = sv[1]] {
        size_t off = 0;
        while (off < traffic.size()) {
            ssize_t n = ::send(fd, traffic.data() + off, traffic.size() - off, MSG_NOSIGNAL);
            if (n <= 0) break;
            off += static_cast<size_t>(n);
        }
        ::close(fd);
    });
    auto t0 = std::chrono::steady_clock::now();
    double c0 = ThreadCpu();
    static char buf[65536];
    std::string partial;
    for (ssize_t n; (n = ::read(sv[0], buf, sizeof buf)) > 0;) {
        std::string_view chunk(buf, static_cast<size_t>(n));
        for (size_t lf; (lf = chunk.find('\n')) != std::string_view::npos;) {
            partial.append(chunk.substr(0, lf));
            if (!partial.empty() && partial.back() == '\r') partial.pop_back();
            line(std::string_view(partial));
            partial.clear();
            chunk.remove_prefix(lf + 1);
        }
        partial.append(chunk);
    }
    cpu = ThreadCpu() - c0;
    double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    writer.join();
    ::close(sv[0]);
    return t;
}

void FreshSession() {
    using namespace chat;
    platform::ResetEventLoop();
    ResetWindows();
    ResetOptions();
    ResetSession();
    AddressList().clear();
    InstallFrontend(Frontend{});
    Options().linesep.clear();
    Session().send = [](std::string_view, bool) {};
    MakeNewWindow("Status Window", false);
    SetSessionNick("bench");
}

// Joins a channel and fills its list from NAMES replies of about 400 characters.
void FillChannel(const std::string& channel, int members) {
    chat::parseline(":bench!b@h JOIN " + channel);
    chat::WindowResized(chat::WindowNamed(channel), 120, 40);
    std::string names;
    for (int m = 0; m < members; ++m) {
        names += (m % 50 == 0   ? "@"
                  : m % 20 == 0 ? "+"
                                : "") +
                 std::string("member") + std::to_string(m) + " ";
        if (names.size() > 400 || m + 1 == members) {
            chat::parseline(":srv 353 bench = " + channel + " :" + names);
            names.clear();
        }
    }
    chat::parseline(":srv 366 bench " + channel + " :End of /NAMES list.");
    if (chat::Options().mil)
        for (int m = 0; m < members; ++m)
            chat::addnick("member" + std::to_string(m), "u@h" + std::to_string(m), false);
}

// Microseconds per JOIN+NICK+PART cycle of a newcomer on a list of `members`.
double ChurnMicros(int members, bool address_cache) {
    FreshSession();
    chat::Options().mil = address_cache ? 1 : 0;
    FillChannel("#big", members);
    const int rounds = 20000;
    auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < rounds; ++i) {
        std::string n = "guest" + std::to_string(i);
        chat::parseline(":" + n + "!g@h JOIN #big");
        chat::parseline(":" + n + "!g@h NICK " + n + "x");
        chat::parseline(":" + n + "x!g@h PART #big");
    }
    double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    return t * 1e6 / rounds;
}

}  // namespace

int main() {
    std::setlocale(LC_CTYPE, "C.UTF-8");
    std::string traffic = MakeTraffic();
    std::printf("traffic: %d lines, %.1f MB\n", kLines, traffic.size() / 1e6);

    long bare_lines = 0;
    size_t sum = 0;
    double bare_cpu = 0;
    double bare = ReadAndSplit(
        traffic,
        [&](std::string_view l) {
            ++bare_lines;
            sum += l.size();
        },
        bare_cpu);

    FreshSession();
    auto f0 = std::chrono::steady_clock::now();
    for (int c = 0; c < kChannels; ++c) FillChannel("#chan" + std::to_string(c), kMembers);
    double fill = std::chrono::duration<double>(std::chrono::steady_clock::now() - f0).count();
    size_t listed = 0;
    for (int c = 0; c < kChannels; ++c)
        listed += chat::ChannelOf(chat::WindowNamed("#chan" + std::to_string(c))).nicks.size();

    long parsed = 0;
    double parser_cpu = 0;
    double parser = ReadAndSplit(
        traffic,
        [&](std::string_view l) {
            ++parsed;
            chat::parseline(l);
        },
        parser_cpu);

    // What printing alone costs: each line's text printed into a channel window as it came.
    double print_cpu = 0;
    chat::WindowId first = chat::WindowNamed("#chan0");
    ReadAndSplit(
        traffic,
        [&](std::string_view l) {
            chat::Windows().mw = 0;
            chat::Print(first, l.substr(l.find(" :") + 2), 0);
        },
        print_cpu);

    std::printf("nick lists: %zu members in %d channels, NAMES in %.3f s\n", listed, kChannels,
                fill);
    std::printf("bare read-and-split: %ld lines in %.3f s (cpu %.3f s)\n", bare_lines, bare,
                bare_cpu);
    std::printf("parser into channel windows: %ld lines in %.3f s (cpu %.3f s), %.2f us/line\n",
                parsed, parser, parser_cpu, parser * 1e6 / static_cast<double>(parsed));
    std::printf("printing alone (no parsing): cpu %.3f s, %.1fx the bare loop\n", print_cpu,
                print_cpu / bare_cpu);
    std::printf("ratio parser/bare: %.1fx wall, %.1fx cpu (target <= 20x)\n", parser / bare,
                parser_cpu / bare_cpu);
    double small = ChurnMicros(1000, false), large = ChurnMicros(kMembers, false);
    std::printf("JOIN+NICK+PART: %.2f us on 1,000 members, %.2f us on 10,000 members\n", small,
                large);
    // With the address cache on, every join, rename and part also updates the cache; fill it
    // with the members first so that it is as large as the list.
    small = ChurnMicros(1000, true);
    large = ChurnMicros(kMembers, true);
    std::printf("with the address cache: %.2f us on 1,000 members, %.2f us on 10,000\n", small,
                large);
    if (sum == 0) std::puts("");
    return 0;
}
